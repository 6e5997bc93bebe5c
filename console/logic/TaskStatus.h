#pragma once
// The task status view without its widgets: the forward and record lists of
// the live item chosen in the source tree, their texts, the one-second
// refresh from the live-channel manager and the commands (start, stop, add,
// edit, delete). The widget shows the rows and hands in the list's selection
// when a command runs.
#include <cstdint>
#include <string>
#include <vector>

#include "console/logic/OrderedWorker.h"
#include "console/logic/Prompt.h"
#include "core/RowRecords.h"
#include "media/TaskStatus.h"

// Which list is in front; the same numbers as the manager's task kinds.
constexpr int kForwardList = 1;
constexpr int kRecordList = 2;

struct TaskColumn {
  const char* title;
  int width;
};
const std::vector<TaskColumn>& ForwardColumns();
const std::vector<TaskColumn>& RecordColumns();

// Column indexes.
enum ForwardColumn { kFwdNo, kFwdAlias, kFwdRate, kFwdUrl, kFwdDelay, kFwdState, kFwdNote };
enum RecordColumn { kRecNo, kRecAlias, kRecRate, kRecSize, kRecType, kRecFolder, kRecMode, kRecState, kRecNote };

std::string DelayText(const ForwardTaskInfo& task);
std::string RecordModeText(const RecordTaskInfo& task);
std::string FileTypeText(int fileType);
// The next text of the dot animation: base + "." ... base + "....." and back.
std::string NextDotStep(const std::string& current, const std::string& base);
// The cells a refresh writes for a task state (only the cells it changes).
void ApplyForwardStatus(std::vector<std::string>& cells, const TaskStatus& status);
void ApplyRecordStatus(std::vector<std::string>& cells, const TaskStatus& status);

struct TaskRow {
  int taskId = 0;
  std::vector<std::string> cells;
};

class ITaskDialogs {
 public:
  virtual ~ITaskDialogs() = default;
  // kind 1 forward, 2 record; editId 0 adds. Returns the stored task id, 0
  // when nothing was stored.
  virtual int RunTaskDialog(int kind, int editId, int liveId) = 0;
};

class ITaskListObserver {
 public:
  virtual ~ITaskListObserver() = default;
  virtual void ListChanged(int list) = 0;
};

struct TaskMenu {
  bool show = false;
  bool startEnabled = true;
  bool stopEnabled = true;
  bool deleteEnabled = true;
};

class CTaskStatusLogic {
 public:
  CTaskStatusLogic(IPrompt& prompt, ITaskDialogs& dialogs, COrderedWorker& worker);
  CTaskStatusLogic(const CTaskStatusLogic&) = delete;
  CTaskStatusLogic& operator=(const CTaskStatusLogic&) = delete;

  void SetObserver(ITaskListObserver* observer) { observer_ = observer; }

  // 0 forward list in front, 1 record list, 2 neither (the mode stays).
  void ShowTaskList(int button);
  int Mode() const { return mode_; }
  int CurrentLiveId() const { return currentLiveId_; }
  const std::vector<TaskRow>& Rows(int list) const { return list == kRecordList ? records_ : forwards_; }

  void FillTaskList(int liveId, LiveSourceType type);
  // The live item is gone: it is no longer the one tasks are added to.
  void ForgetLive(int liveId);
  // The timer's tick: the state columns of the list in front.
  void Refresh();

  // rows: the selected rows of the list in front when the command runs.
  void StartTasks(const std::vector<int>& rows);
  void StopTasks(const std::vector<int>& rows);
  void DeleteTasks(const std::vector<int>& rows);
  void AddTask();
  void EditTask(const std::vector<int>& rows);
  TaskMenu ContextMenu(const std::vector<int>& rows);

 private:
  std::vector<TaskRow>& Front() { return mode_ == kRecordList ? records_ : forwards_; }
  std::vector<int> Valid(const std::vector<int>& rows);
  std::vector<int> SelectedIds(const std::vector<int>& rows);
  std::vector<std::string> ForwardCells(const ForwardTaskInfo& t, size_t number, const char* state);
  std::vector<std::string> RecordCells(const RecordTaskInfo& t, size_t number);
  TaskRow* FindRow(int list, int taskId);
  // The alias of a task's live item, for its row.
  std::string AliasOf(int liveId) const;
  void Changed(int list);

  IPrompt& prompt_;
  ITaskDialogs& dialogs_;
  COrderedWorker& worker_;
  ITaskListObserver* observer_ = nullptr;
  int mode_ = kForwardList;
  int currentLiveId_ = 0;
  LiveSourceType currentLiveType_ = LIVE_TYPE_NONE;
  std::vector<TaskRow> forwards_;
  std::vector<TaskRow> records_;
  CAliveToken alive_;
};
