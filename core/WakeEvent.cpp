#include "core/WakeEvent.h"

#include <time.h>

namespace wake {

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct timespec DeadlineAfter(int64_t ms) {
  if (ms < 0) ms = 0;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  ts.tv_sec += static_cast<time_t>(ms / 1000);
  ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

void InitMonotonicCond(pthread_cond_t* cond) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(cond, &attr);
  pthread_condattr_destroy(&attr);
}

}  // namespace wake

WakeEvent::WakeEvent() {
  pthread_mutex_init(&mutex, nullptr);
  wake::InitMonotonicCond(&cond);
}

WakeEvent::~WakeEvent() {
  pthread_cond_destroy(&cond);
  pthread_mutex_destroy(&mutex);
}

uint64_t WakeEvent::Count() {
  pthread_mutex_lock(&mutex);
  uint64_t c = count;
  pthread_mutex_unlock(&mutex);
  return c;
}

void WakeEvent::Notify() {
  pthread_mutex_lock(&mutex);
  ++count;
  pthread_cond_broadcast(&cond);
  pthread_mutex_unlock(&mutex);
}

bool WakeEvent::WaitFor(int64_t ms, uint64_t seen) {
  timespec deadline = wake::DeadlineAfter(ms);
  pthread_mutex_lock(&mutex);
  while (count == seen) {
    if (pthread_cond_timedwait(&cond, &mutex, &deadline) != 0) break;  // ETIMEDOUT
  }
  bool woken = count != seen;
  pthread_mutex_unlock(&mutex);
  return woken;
}
