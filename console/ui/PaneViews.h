#pragma once
// The two panes of the main frame's splitter. The left one holds the tab
// strip ("源列表", "IXO拉流", "转码") under three full-size views: the source
// tree, the Ixo pull view and the Ixo transfer view; switching tabs shows
// the tab's view, shows or hides the right column and sets the toolbar
// mode. The right one holds the task status view.
#include <QWidget>

class QTabBar;

namespace vvconsole {

// What the left pane asks of the frame.
class IPaneHost {
 public:
  virtual ~IPaneHost() = default;
  virtual void ShowRightColumn(bool show) = 0;
  virtual void SetToolbarMode(int mode) = 0;
  // The task status view of the right pane (null until it exists).
  virtual QWidget* StatusView() = 0;
};

class CRightPaneView : public QWidget {
  Q_OBJECT

 public:
  explicit CRightPaneView(QWidget* parent = nullptr);
  // Creates the task status view ("1116"), hidden.
  void OnInitialUpdate();
  QWidget* StatusView() const { return statusView_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QWidget* statusView_ = nullptr;
};

class CLeftPaneView : public QWidget {
  Q_OBJECT

 public:
  CLeftPaneView(IPaneHost* host, QWidget* parent = nullptr);
  // Creates the three views (hidden), the tabs, and selects the first tab.
  void OnInitialUpdate();
  // Shows what the tab at index stands for.
  void SelectTab(int index);
  int ModeOfTab(int index) const;

  QTabBar* TabCtrl() const { return tabs_; }
  QWidget* PullView() const { return pullView_; }
  QWidget* TransferView() const { return transferView_; }
  QWidget* SourceView() const { return sourceView_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void OnTabChange(int index);
  void Place();

  IPaneHost* host_;
  QTabBar* tabs_ = nullptr;
  QWidget* pullView_ = nullptr;
  QWidget* transferView_ = nullptr;
  QWidget* sourceView_ = nullptr;
  std::vector<int> modes_;
};

}  // namespace vvconsole
