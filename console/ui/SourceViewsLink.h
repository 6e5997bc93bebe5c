#pragma once
// What the source tree and the task status view share: the one ordered
// worker for their blocking engine calls (reports come back on the window
// thread) and the task view as the tree sees it.
#include "console/logic/OrderedWorker.h"
#include "console/logic/SourceTree.h"

namespace vvconsole {

COrderedWorker& ConsoleWorker();

// The task status view registers itself; null until it exists.
ITaskListLink* TaskListView();
void SetTaskListView(ITaskListLink* view);

// Forwards to whatever task view is registered when the call comes.
class TaskListForwarder : public ITaskListLink {
 public:
  void FillTaskList(int liveId, LiveSourceType type) override {
    if (ITaskListLink* v = TaskListView()) v->FillTaskList(liveId, type);
  }
  void ForgetLive(int liveId) override {
    if (ITaskListLink* v = TaskListView()) v->ForgetLive(liveId);
  }
};

}  // namespace vvconsole
