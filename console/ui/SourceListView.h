#pragma once
// The source tree pane: the tree control with its live-address tip and the
// view that runs the tree's commands.
#include <QDialog>
#include <QTreeWidget>
#include <QWidget>
#include <map>
#include <memory>

#include "console/logic/SourceTree.h"
#include "console/ui/ConsoleWindows.h"
#include "console/ui/MessageBox.h"
#include "console/ui/SourceViewsLink.h"

class CSourceListView;

// The half-transparent window that shows a live channel's address.
class CTipWnd : public QDialog {
  Q_OBJECT
 public:
  explicit CTipWnd(QWidget* parent = nullptr);
  void SetText(const QString& text);
  QString Text() const { return text_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString text_;
};

// The tree: on mouse moves it asks its owner to show the tip while the
// mouse is over the image of a source or sub-stream, and to hide it
// otherwise.
class CMyCtreeCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CMyCtreeCtrl(QWidget* parent = nullptr);
  void SetOwner(CSourceListView* owner) { owner_ = owner; }
  // The area of an item's image, in viewport coordinates.
  QRect HotStrip(QTreeWidgetItem* item) const;

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  CSourceListView* owner_ = nullptr;
};

class CSourceListView : public QWidget,
                        public vvconsole::ISourceTree,
                        public ISourceTreeObserver,
                        public ISourceTreeDialogs {
  Q_OBJECT
 public:
  // Builds the tree from the database and restores the running state.
  explicit CSourceListView(QWidget* parent = nullptr);
  ~CSourceListView() override;

  // vvconsole::ISourceTree: a source dialog stored a new row.
  void AddDeviceSourceItem(const std::string& label, int id) override;
  void AddNetSourceItem(const std::string& label, int id) override;
  void AddFileSourceItem(const std::string& label, int id) override;

  void ShowTip(const QRect& hot, int id);
  void HideTip();

  CMyCtreeCtrl* Tree() const { return tree_; }
  CTipWnd* Tip() const { return tip_; }
  CSourceTreeLogic& Logic() { return *logic_; }
  SourceNode* SelectedNode() const;
  QTreeWidgetItem* ItemOf(const SourceNode* node) const;

  // The commands, on the selected node.
  void OnStartLive();
  void OnStopLive();
  void OnEditSource();
  void OnDeleteSource();
  void OnAddSubStream();

 protected:
  // ISourceTreeObserver
  void NodeInserted(SourceNode* node) override;
  void NodeChanged(SourceNode* node) override;
  void NodeRemoved(SourceNode* node) override;
  // ISourceTreeDialogs
  SourceEditResult RunSourceDialog(LiveSourceType type, int editId) override;
  SourceEditResult RunSubStreamDialog(int editId, const std::string& sourceUrl) override;

 private:
  void OnRightClick(const QPoint& pos);
  static QIcon Image(int index);

  vvconsole::MessageBoxPrompt prompt_;
  vvconsole::TaskListForwarder taskList_;
  std::unique_ptr<CSourceTreeLogic> logic_;
  CMyCtreeCtrl* tree_;
  CTipWnd* tip_;
  std::map<const SourceNode*, QTreeWidgetItem*> items_;
};
