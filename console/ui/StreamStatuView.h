#pragma once
// The task status pane: the forward and record lists of the live item
// chosen in the source tree, refreshed every second, with the title strip
// that switches between them.
#include <QTableWidget>
#include <QWidget>
#include <memory>

#include "console/logic/TaskStatus.h"
#include "console/ui/MessageBox.h"
#include "console/ui/SourceViewsLink.h"

class QPushButton;
class CKHTitleMainDlg;

class CStreamStatuView : public QWidget,
                         public ITaskListLink,
                         public ITaskListObserver,
                         public ITaskDialogs {
  Q_OBJECT
 public:
  explicit CStreamStatuView(QWidget* parent = nullptr);
  ~CStreamStatuView() override;

  // ITaskListLink: the source tree's selection and deletions.
  void FillTaskList(int liveId, LiveSourceType type) override;
  void ForgetLive(int liveId) override;

  void ShowTaskList(int button);
  CTaskStatusLogic& Logic() { return *logic_; }
  QTableWidget* ForwardList() const { return forward_; }
  QTableWidget* RecordList() const { return record_; }
  QTableWidget* FrontList() const;
  CKHTitleMainDlg* TitleStrip() const { return strip_; }
  // The selected rows of the list in front, ascending.
  std::vector<int> SelectedRows() const;

  void OnStartTask();
  void OnStopTask();
  void OnDeleteTask();
  void OnAddTask();
  void OnEditTask();
  void RefreshStatus();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  // ITaskListObserver
  void ListChanged(int list) override;
  // ITaskDialogs
  int RunTaskDialog(int kind, int editId, int liveId) override;

 private:
  QTableWidget* MakeList(const char* id, const std::vector<TaskColumn>& columns);
  void OnRClick(const QPoint& pos);
  void Layout();

  vvconsole::MessageBoxPrompt prompt_;
  std::unique_ptr<CTaskStatusLogic> logic_;
  CKHTitleMainDlg* strip_ = nullptr;
  QTableWidget* forward_ = nullptr;
  QTableWidget* record_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* edit_ = nullptr;
  int timer_ = 0;
};
