#include "console/logic/LogTail.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace logtail {

namespace {

void TrimTrailingBreaks(std::string& s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
}

}  // namespace

std::string TailText(const std::string& window, bool wholeFile) {
  // The buffer is read as text up to its first zero byte.
  std::string text(window.c_str());
  std::string result;
  TrimTrailingBreaks(text);
  size_t lf = text.rfind('\n');
  while (lf != std::string::npos) {
    std::string line = text.substr(lf + 1);
    if (!result.empty()) result += '\n';
    result += line;
    text.erase(lf);
    TrimTrailingBreaks(text);
    lf = text.rfind('\n');
  }
  // What remains is the window's first line: whole only when the window
  // starts at the beginning of the file.
  if (wholeFile && !text.empty()) {
    if (!result.empty()) result += '\n';
    result += text;
  }
  size_t start = result.find_first_not_of("\r\n");
  return start == std::string::npos ? std::string() : result.substr(start);
}

std::string LoadLogTail(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::string();
  std::string window;
  bool whole = true;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    long length = std::ftell(f);
    if (length > 0) {
      size_t n = static_cast<size_t>(length) < kTailBytes ? static_cast<size_t>(length) : kTailBytes;
      whole = static_cast<size_t>(length) <= kTailBytes;
      if (std::fseek(f, -static_cast<long>(n), SEEK_END) == 0) {
        std::vector<char> buffer(kTailBytes + 1, 0);
        size_t got = std::fread(buffer.data(), 1, kTailBytes, f);
        window.assign(buffer.data(), got);
      }
    }
  }
  std::fclose(f);
  return TailText(window, whole);
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

void LogWatcher::Start(const std::string& path, std::function<void(const std::string&)> onText, int pollMs) {
  Stop();
  stop_ = false;
  thread_ = std::thread(&LogWatcher::Run, this, path, std::move(onText), pollMs);
}

void LogWatcher::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LogWatcher::Run(std::string path, std::function<void(const std::string&)> onText, int pollMs) {
  onText(LoadLogTail(path));
  int64_t size = FileSize(path);
  for (;;) {
    if (stop_) return;
    int64_t now = FileSize(path);
    if (now != size) {
      size = now;
      onText(LoadLogTail(path));
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(pollMs), [this] { return stop_.load(); });
  }
}

}  // namespace logtail
