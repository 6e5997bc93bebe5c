// The log dialog's reading of the log file and its watcher thread.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <vector>

#include "console/logic/LogTail.h"
#include "tests/tools/TestUtil.h"

using namespace logtail;

namespace {
void Write(const std::string& path, const std::string& text, bool append = false) {
  std::ofstream(path, append ? std::ios::app | std::ios::binary : std::ios::trunc | std::ios::binary) << text;
}
}  // namespace

TEST(LogTail, NewestFirstWithTheFirstLineOfASmallFile) {
  struct Case {
    std::string text;
    std::string want;
  } cases[] = {
      {"L1\nL2\nL3\n", "L3\nL2\nL1"},
      {"L1\r\nL2\r\nL3\r\n\r\n", "L3\nL2\nL1"},
      {"L1\nL2\nL3", "L3\nL2\nL1"},
      {"only\n", "only"},
      {"only", "only"},
      {"\n\n", ""},
      {"", ""},
      {"a\n\nb\n", "b\na"},
      {"中文一\n中文二\n", "中文二\n中文一"},
      {std::string("L1\nL2\0hidden\nL3\n", sizeof("L1\nL2\0hidden\nL3\n") - 1), "L2\nL1"},  // text ends at a zero byte
  };
  vvtest::TempDir dir("vvlog");
  for (const Case& c : cases) {
    Write(dir.file("v.log"), c.text);
    EXPECT_EQ(LoadLogTail(dir.file("v.log")), c.want);
  }
  EXPECT_EQ(LoadLogTail(dir.file("missing.log")), "");
}

// A large log: only lines that end within the last 25600 bytes, and not
// the one cut by the window's start.
TEST(LogTail, LargeFileShowsOnlyLinesOfItsLastWindow) {
  vvtest::TempDir dir("vvlog");
  std::string text;
  std::vector<std::string> lines;
  for (int i = 0; text.size() < 3 * kTailBytes; ++i) {
    std::string line = "2026-01-01 00:00:00 [INFO]: line " + std::to_string(i) + std::string(40, 'x');
    lines.push_back(line);
    text += line + "\n";
  }
  Write(dir.file("big.log"), text);
  std::string shown = LoadLogTail(dir.file("big.log"));
  // Which lines lie wholly within the window.
  size_t windowStart = text.size() - kTailBytes;
  std::string want;
  size_t pos = text.size();
  for (size_t i = lines.size(); i-- > 0;) {
    size_t begin = pos - lines[i].size() - 1;
    if (begin < windowStart) break;
    if (!want.empty()) want += "\n";
    want += lines[i];
    pos = begin;
  }
  EXPECT_EQ(shown, want);
  EXPECT_EQ(shown.substr(0, shown.find('\n')), lines.back());

  // A file of exactly the window's size starts at the window: its first line shows.
  std::string exact = "first\n" + std::string(kTailBytes - 12, 'y') + "\nlast\n";
  ASSERT_EQ(exact.size(), kTailBytes);
  Write(dir.file("exact.log"), exact);
  std::string e = LoadLogTail(dir.file("exact.log"));
  EXPECT_EQ(e.substr(e.rfind('\n') + 1), "first");
}

TEST(LogTail, WatcherFollowsSizeChangesAndStopsPromptly) {
  vvtest::TempDir dir("vvlog");
  std::string path = dir.file("w.log");
  Write(path, "L1\nL2\n");
  std::mutex m;
  std::vector<std::string> texts;
  auto last = [&] {
    std::lock_guard<std::mutex> lock(m);
    return texts.empty() ? std::string("<none>") : texts.back();
  };
  LogWatcher w;
  w.Start(path, [&](const std::string& t) {
    std::lock_guard<std::mutex> lock(m);
    texts.push_back(t);
  });
  EXPECT_TRUE(vvtest::WaitFor([&] { return last() == "L2\nL1"; }, std::chrono::seconds(20)));
  Write(path, "L3\n", true);
  EXPECT_TRUE(vvtest::WaitFor([&] { return last() == "L3\nL2\nL1"; }, std::chrono::seconds(20)));
  // Gone and back: an empty view, then the new file.
  std::remove(path.c_str());
  EXPECT_TRUE(vvtest::WaitFor([&] { return last().empty(); }, std::chrono::seconds(20)));
  Write(path, "N1\n");
  EXPECT_TRUE(vvtest::WaitFor([&] { return last() == "N1"; }, std::chrono::seconds(20)));
  auto start = std::chrono::steady_clock::now();
  w.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  size_t count = texts.size();
  Write(path, "N2\n", true);
  usleep(50 * 1000);
  EXPECT_EQ(texts.size(), count);
}
