#pragma once
// Keeps a log line that repeats unchanged from flooding the log: the first
// time a text comes it is written; the same text again within the interval
// is only counted; the first repeat after the interval is written again,
// with the number held back meanwhile.
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class LogRepeatGate {
 public:
  static constexpr int64_t kDefaultIntervalMs = 60000;
  // maxTexts: how many different texts are remembered at once; beyond it the
  // one written longest ago is forgotten (and is written at its next repeat).
  explicit LogRepeatGate(int64_t intervalMs = kDefaultIntervalMs, size_t maxTexts = 64);
  LogRepeatGate(const LogRepeatGate&) = delete;
  LogRepeatGate& operator=(const LogRepeatGate&) = delete;

  // Whether the text is to be written now (nowMs: a monotonic clock). held,
  // when given, gets the number of its repeats held back since it was last
  // written (0 the first time).
  bool Pass(const std::string& text, int64_t nowMs, uint64_t* held = nullptr);
  bool Pass(const std::string& text, uint64_t* held = nullptr);
  // Forgets every text, so each is written at its next coming (the failure
  // ended; a new one is news).
  void Reset();

 private:
  struct Entry {
    int64_t written;
    uint64_t held;
  };
  const int64_t intervalMs;
  const size_t maxTexts;
  std::mutex mutex;
  std::map<std::string, Entry> entries;
};

// Writes the line at the level unless the gate holds it back; a line written
// after repeats were held back ends with how many there were.
void LogRepeated(LogRepeatGate& gate, int level, const std::string& text);
