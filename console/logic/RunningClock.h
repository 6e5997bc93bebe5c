#pragma once
// The status bar's running-time clock: whole seconds since start on a 64-bit
// monotonic clock (it never wraps and ignores changes of the wall clock).
#include <cstdint>
#include <string>

namespace vvconsole {

// Milliseconds of the monotonic clock.
int64_t MonotonicMs();

// "已运行-HH:MM:SS"; the hours are not capped ("已运行-100:00:00").
std::string RunningTimeText(uint64_t seconds);

class RunningClock {
 public:
  RunningClock() : startMs_(MonotonicMs()) {}
  explicit RunningClock(int64_t startMs) : startMs_(startMs) {}
  // Whole seconds from the start to nowMs (0 for a time before the start).
  uint64_t SecondsAt(int64_t nowMs) const;
  std::string TextAt(int64_t nowMs) const { return RunningTimeText(SecondsAt(nowMs)); }
  std::string Text() const { return TextAt(MonotonicMs()); }

  // The clock first shows after 5000 ms, then changes every 1000 ms.
  static constexpr int kFirstTickMs = 5000;
  static constexpr int kTickMs = 1000;

 private:
  int64_t startMs_;
};

}  // namespace vvconsole
