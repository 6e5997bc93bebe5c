#pragma once
// The log dialog's view of the log file: the lines that end within the
// file's last 25600 bytes, newest first, and a watcher thread that hands a
// fresh text over whenever the file's size changes.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace logtail {

constexpr size_t kTailBytes = 25600;
constexpr int kPollMs = 1000;

// The text shown for the file: its lines newest first, one per line. The
// first line of the window is left out when the window starts inside the
// file (it may be cut); a file that fits whole shows its first line too.
// Empty when the file cannot be read.
std::string LoadLogTail(const std::string& path);
// The same for text already read: wholeFile says whether it starts at the
// file's first byte.
std::string TailText(const std::string& window, bool wholeFile);

// The file's size; 0 when it is missing.
int64_t FileSize(const std::string& path);

// Loads the tail once, then polls the file's size every kPollMs and loads it
// again when the size changed. Each text goes to onText on the watcher's
// own thread; the caller hands it to its window. Stop ends and joins the
// thread (at once, without waiting for the poll period).
class LogWatcher {
 public:
  LogWatcher() = default;
  ~LogWatcher() { Stop(); }
  LogWatcher(const LogWatcher&) = delete;
  LogWatcher& operator=(const LogWatcher&) = delete;

  void Start(const std::string& path, std::function<void(const std::string&)> onText, int pollMs = kPollMs);
  void Stop();

 private:
  void Run(std::string path, std::function<void(const std::string&)> onText, int pollMs);

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};

}  // namespace logtail
