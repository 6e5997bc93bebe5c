#pragma once
// The main frame's toolbar: big images over their texts on a vertical
// gradient, a hand cursor over the buttons that can be clicked, and the CPU
// load panel at its right end, at the toolbar's full height.
#include <QIcon>
#include <QToolBar>
#include <vector>

class QToolButton;

namespace vvconsole {

class CSFToolBar : public QToolBar {
  Q_OBJECT

 public:
  // Image list kinds of SetImageList.
  enum ImageKind { kNormal = 1, kHot = 2, kDisabled = 3 };

  explicit CSFToolBar(QWidget* parent = nullptr);

  // Gives the buttons their images of one kind: images[i] for the button
  // with image index i. Other kinds do nothing.
  void SetImageList(int kind, const std::vector<QPixmap>& images);
  // The icon of image index i built from the lists given so far.
  QIcon IconAt(int index) const;

  // The hosted CPU load panel (made when the toolbar is built).
  QWidget* CpuPanel() const { return cpuPanel_; }
  // The tool button of a command id; null when there is none.
  QToolButton* Button(int id) const;
  QAction* Action(int id) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void actionEvent(QActionEvent* event) override;

 private:
  void PlaceCpuPanel();
  void UpdateCursor(QWidget* button);

  QWidget* cpuPanel_ = nullptr;
  std::vector<QPixmap> normal_, hot_, disabled_;
};

// The six toolbar images, in button order, drawn at size x size.
std::vector<QPixmap> ToolbarImages(int size = 32);

}  // namespace vvconsole
