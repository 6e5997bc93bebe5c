#include "console/ui/SourceViewsLink.h"

#include <QCoreApplication>

#include "console/ui/MainThreadCall.h"

namespace vvconsole {

namespace {
ITaskListLink* g_taskList = nullptr;  // main thread only
}  // namespace

COrderedWorker& ConsoleWorker() {
  // Reports run on the application's thread as queued calls; once the
  // application is gone they are dropped.
  static COrderedWorker worker([](COrderedWorker::Task report) {
    if (QCoreApplication* app = QCoreApplication::instance()) PostToMainThread(app, std::move(report));
  });
  return worker;
}

ITaskListLink* TaskListView() { return g_taskList; }
void SetTaskListView(ITaskListLink* view) { g_taskList = view; }

}  // namespace vvconsole
