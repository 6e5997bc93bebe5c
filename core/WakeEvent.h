#pragma once
// Lets a thread sleep until another thread has something for it. Notify
// wakes every waiter at once. A waiter reads Count() before it looks for its
// work and passes it to WaitFor, so a Notify that comes in between is never
// lost: the wait then returns at once.
#include <pthread.h>

#include <cstdint>

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  uint64_t Count();
  void Notify();
  // Waits until Count() has moved past seen or ms milliseconds have passed;
  // true when woken by a Notify.
  bool WaitFor(int64_t ms, uint64_t seen);

 private:
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  uint64_t count = 0;
};

namespace wake {
// The longest a worker waits when nothing wakes it. Everything a worker
// waits for (a packet, an output, an opened input, a stop) wakes it at once;
// this bound only keeps an idle worker looking round now and then, no more
// often than the publisher checks its connection.
constexpr int64_t kIdleRecheckMs = 2000;
// Milliseconds of CLOCK_MONOTONIC.
int64_t MonotonicMs();
// An absolute CLOCK_MONOTONIC time ms milliseconds from now, for
// pthread_cond_timedwait on a condition that uses that clock.
struct timespec DeadlineAfter(int64_t ms);
// Initialises a condition variable on CLOCK_MONOTONIC.
void InitMonotonicCond(pthread_cond_t* cond);
}  // namespace wake
