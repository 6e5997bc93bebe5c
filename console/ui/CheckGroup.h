#pragma once
// A group box that can be switched on and off: a check box carrying the
// group's caption sits on its frame, and ticking or unticking it enables or
// disables the controls registered with AddControl (by control id, the
// objectName of a control of the same window). Other controls are left as
// they are.
#include <QGroupBox>
#include <vector>

class QCheckBox;

namespace vvconsole {

class CCheckGroup : public QGroupBox {
  Q_OBJECT

 public:
  explicit CCheckGroup(const QString& caption = QString(), QWidget* parent = nullptr);

  // Appends a control id of the window the group belongs to.
  void AddControl(int id);
  // Stores the state, enables (non-zero) or disables every registered control
  // the window has, ticks or unticks the box; returns the previous state.
  int SetCheck(int state);
  int GetCheck() const { return state_; }
  // The check box on the frame (control id 101).
  QCheckBox* CheckBox() const { return check_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void PlaceCheckBox();

  int state_ = 1;  // the box starts ticked, and so does the state
  QCheckBox* check_;
  std::vector<int> ids_;
};

}  // namespace vvconsole
