#pragma once
// Calls from worker threads onto the application's main thread.
#include <QObject>
#include <functional>

namespace vvconsole {

// Runs `call` on the main thread, in its event loop, from any thread. The
// call is dropped when `context` has been deleted before it runs, or when
// there is no application. Calls run in the order they were posted.
//
// Each call waits in a queue of ours, guarded by our own mutex; the event
// that wakes the main thread carries nothing and is posted while that mutex
// is held. So everything the posting thread did before the post happens
// before the call, through a lock any race checker can see, not only through
// the event queue's internals.
void PostToMainThread(QObject* context, std::function<void()> call);

}  // namespace vvconsole
