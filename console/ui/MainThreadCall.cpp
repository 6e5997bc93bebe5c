#include "console/ui/MainThreadCall.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <deque>
#include <mutex>
#include <utility>

namespace vvconsole {
namespace {

struct Posted {
  QPointer<QObject> context;
  std::function<void()> call;
};

std::mutex g_mutex;
std::deque<Posted> g_queue;  // under g_mutex

void RunPosted() {
  std::deque<Posted> due;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    due.swap(g_queue);
  }
  for (Posted& p : due) {
    if (p.context) p.call();
  }
}

}  // namespace

void PostToMainThread(QObject* context, std::function<void()> call) {
  if (!context || !call) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  g_queue.push_back(Posted{QPointer<QObject>(context), std::move(call)});
  // Captures nothing: the main thread reads nothing of the event before it
  // has taken the mutex in RunPosted. Several wake-ups may find one queue;
  // the later ones find it empty.
  QMetaObject::invokeMethod(app, [] { RunPosted(); }, Qt::QueuedConnection);
}

}  // namespace vvconsole
