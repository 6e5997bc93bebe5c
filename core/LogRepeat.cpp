#include "core/LogRepeat.h"

#include <time.h>

#include "core/Log.h"

namespace {

int64_t MonotonicNowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

LogRepeatGate::LogRepeatGate(int64_t interval, size_t most) : intervalMs(interval), maxTexts(most > 0 ? most : 1) {}

bool LogRepeatGate::Pass(const std::string& text, uint64_t* held) { return Pass(text, MonotonicNowMs(), held); }

bool LogRepeatGate::Pass(const std::string& text, int64_t nowMs, uint64_t* held) {
  std::lock_guard<std::mutex> lock(mutex);
  auto it = entries.find(text);
  if (it == entries.end()) {
    if (entries.size() >= maxTexts) {
      auto oldest = entries.begin();
      for (auto e = entries.begin(); e != entries.end(); ++e)
        if (e->second.written < oldest->second.written) oldest = e;
      entries.erase(oldest);
    }
    entries.emplace(text, Entry{nowMs, 0});
    if (held) *held = 0;
    return true;
  }
  Entry& e = it->second;
  if (nowMs - e.written < intervalMs) {
    ++e.held;
    return false;
  }
  if (held) *held = e.held;
  e.written = nowMs;
  e.held = 0;
  return true;
}

void LogRepeatGate::Reset() {
  std::lock_guard<std::mutex> lock(mutex);
  entries.clear();
}

void LogRepeated(LogRepeatGate& gate, int level, const std::string& text) {
  if (level > GetLogLevel()) return;
  uint64_t held = 0;
  if (!gate.Pass(text, &held)) return;
  if (held == 0) {
    Log(level, "%s", text.c_str());
  } else {
    Log(level, "%s (%llu more times since last logged)", text.c_str(), static_cast<unsigned long long>(held));
  }
}
