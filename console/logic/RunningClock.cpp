#include "console/logic/RunningClock.h"

#include <time.h>

#include <cstdio>

namespace vvconsole {

int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string RunningTimeText(uint64_t seconds) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "已运行-%02llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned long long>(seconds % 3600 / 60), static_cast<unsigned long long>(seconds % 60));
  return buf;
}

uint64_t RunningClock::SecondsAt(int64_t nowMs) const {
  if (nowMs <= startMs_) return 0;
  return static_cast<uint64_t>(nowMs - startMs_) / 1000;
}

}  // namespace vvconsole
