#pragma once
// The splitter bar (CSSplitter): two panes side by side with a vertical bar
// or one above the other with a horizontal bar, dragged with the mouse (Esc
// during a drag leaves the bar where it was) and kept between runs in the
// settings store. A plain widget rather than QSplitter, which has neither
// the Esc cancel nor the switch between the two directions.
#include <QPointer>
#include <QWidget>
#include <memory>

#include "console/logic/toolkit/SplitterLayout.h"

namespace vvconsole {

class CSSplitter : public QWidget {
  Q_OBJECT
 public:
  // store: where the bar positions are kept; null takes the toolkit's store.
  explicit CSSplitter(QWidget* parent = nullptr, ISettingsStore* store = nullptr);
  ~CSSplitter() override;

  // flags: 1 vertical bar, 2 horizontal bar (one of them). The panes become
  // the splitter's children and are laid out in rect. False for other flags
  // or a missing pane, and for a second Create.
  bool Create(int flags, const QRect& rect, QWidget* first, QWidget* second, int id,
              int firstMin, int secondMin);

  int GetSplitterStyle() const;
  int GetSplitterPos() const;
  void SetSplitterPos(int pos);
  void SetLiveDrag(bool on);
  bool GetLiveDrag() const;

  bool HideLeftPane();
  bool ShowLeftPane();
  bool HideRightPane();
  bool ShowRightPane();
  bool HideBottomPane();
  bool ShowBottomPane();
  void SetVertical();
  void SetHorizontal();

  QWidget* FirstPane() const { return first_; }
  QWidget* SecondPane() const { return second_; }
  bool Dragging() const { return layout_ && layout_->Dragging(); }
  // The tracker drawn while the bar is dragged (without live drag).
  QWidget* Tracker() const { return tracker_; }

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void Relayout();
  void ShowTracker();
  void EndDrag();
  template <typename F>
  bool Apply(F f);

  ISettingsStore* store_;
  std::unique_ptr<::SplitterLayout> layout_;
  QPointer<QWidget> first_;
  QPointer<QWidget> second_;
  QWidget* tracker_ = nullptr;
  QPointer<QWidget> focusBefore_;
};

}  // namespace vvconsole
