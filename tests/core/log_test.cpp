#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "core/Log.h"
#include "tests/tools/TestUtil.h"

namespace {

const int kChildLines = 3000;

// Second-process writer: the test binary re-runs itself with these
// variables set, writes its lines before main() and ends.
struct ChildWriter {
  ChildWriter() {
    const char* file = getenv("VV_LOG_CHILD_FILE");
    if (file == nullptr) return;
    SetLogFileName(file);
    for (int i = 0; i < kChildLines; ++i) LogInfo("writer=child line=%05d %s", i, std::string(60, 'c').c_str());
    _exit(0);
  }
} g_childWriter;

// Checks text against a shape: '9' stands for a digit, any other character
// for itself.
bool Shape(const std::string& text, const char* shape) {
  if (text.size() != strlen(shape)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (shape[i] == '9' ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i]) return false;
  }
  return true;
}

struct ParsedLine {
  time_t stamp = 0;
  std::string level;
  std::string message;
};

// "YYYY-MM-DD HH:MM:SS [LEVEL]: message", the time taken as local time.
bool ParseLine(const std::string& line, ParsedLine& out) {
  if (line.size() < 24 || !Shape(line.substr(0, 21), "9999-99-99 99:99:99 [")) return false;
  size_t close = line.find("]: ", 21);
  if (close == std::string::npos) return false;
  out.level = line.substr(21, close - 21);
  for (char c : out.level)
    if (c < 'A' || c > 'Z') return false;
  out.message = line.substr(close + 3);
  struct tm t {};
  t.tm_year = std::stoi(line.substr(0, 4)) - 1900;
  t.tm_mon = std::stoi(line.substr(5, 2)) - 1;
  t.tm_mday = std::stoi(line.substr(8, 2));
  t.tm_hour = std::stoi(line.substr(11, 2));
  t.tm_min = std::stoi(line.substr(14, 2));
  t.tm_sec = std::stoi(line.substr(17, 2));
  t.tm_isdst = -1;
  out.stamp = mktime(&t);
  return true;
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// Restores the process-wide log state whatever a test does to it.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogLevel(5);
    SetLogFileName(dir_.file("Velvanet.log"));
  }
  void TearDown() override {
    SetLogLevel(5);
    SetLogFileName("");
  }
  std::string LogPath() const { return dir_.file("Velvanet.log"); }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const std::string& l : Lines(LogPath())) {
      size_t at = l.find("]: ");
      out.push_back(at == std::string::npos ? l : l.substr(at + 3));
    }
    return out;
  }
  vvtest::TempDir dir_{"vvlog"};
};

}  // namespace

TEST_F(LogTest, LineFormatAndThreshold) {
  time_t before = time(nullptr);
  SetLogLevel(2);
  EXPECT_EQ(GetLogLevel(), 2);
  LogError("e %d", 1);
  LogWarn("w %s", "two");
  LogInfo("info dropped");
  LogDebug("debug dropped");
  Log(LOG_CRIT, "crit %c", 'x');
  Log(3, "level 3 dropped");
  SetLogLevel(5);
  Log(5, "all");
  Log(9, "beyond the names is above every threshold");
  Log(-1, "below the names");
  time_t after = time(nullptr);

  std::vector<std::string> lines = Lines(LogPath());
  ASSERT_EQ(lines.size(), 5u);
  const char* levels[] = {"ERROR", "WARN", "CRIT", "ALL", nullptr};
  const char* messages[] = {"e 1", "w two", "crit x", "all", "below the names"};
  for (size_t i = 0; i < lines.size(); ++i) {
    ParsedLine p;
    ASSERT_TRUE(ParseLine(lines[i], p)) << lines[i];
    if (levels[i]) {
      EXPECT_EQ(p.level, levels[i]);
    }
    EXPECT_EQ(p.message, messages[i]);
    EXPECT_GE(p.stamp, before);
    EXPECT_LE(p.stamp, after);
  }
  std::string text = vvtest::ReadFileText(LogPath());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST_F(LogTest, NoNameFilterAppliesBelowThresholdFive) {
  LogInfo("client no-name connected");
  SetLogLevel(4);
  LogError("no-name error is dropped too");
  LogHexString(LOG_ERROR, reinterpret_cast<const unsigned char*>("no-name!"), 8);  // dump lines pass the filter
  LogError("named kept");
  EXPECT_EQ(Messages(), (std::vector<std::string>{"client no-name connected", "named kept"}));
}

TEST_F(LogTest, LongMessageIsCutAt2047) {
  std::string msg(3000, 'm');
  msg[2046] = 'Z';
  LogWarn("%s", msg.c_str());
  std::vector<std::string> m = Messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].size(), 2047u);
  EXPECT_EQ(m[0].back(), 'Z');
  EXPECT_EQ(vvtest::ReadFileText(LogPath()).back(), '\n');
}

TEST_F(LogTest, EmptyNameWritesToStandardError) {
  SetLogFileName("");
  std::string errPath = dir_.file("stderr.txt");
  fflush(stderr);
  int saved = dup(2);
  int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  dup2(fd, 2);
  close(fd);
  LogError("to stderr %d", 42);
  LogDebug("also");
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::vector<std::string> lines = Lines(errPath);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" [ERROR]: to stderr 42"), std::string::npos);
  EXPECT_NE(lines[1].find(" [DEBUG]: also"), std::string::npos);
  std::vector<std::string> names;
  DIR* d = opendir(dir_.path().c_str());
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  EXPECT_EQ(names, (std::vector<std::string>{"stderr.txt"}));
}

TEST_F(LogTest, HexDumpLayouts) {
  unsigned char bytes[20];
  for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(0xa0 + i);
  bytes[1] = 'A';
  bytes[2] = 0x7f;
  bytes[3] = ' ';
  LogHex(LOG_INFO, bytes, 17);
  LogHexInfo(bytes, 16);
  LogHex(LOG_INFO, bytes, 0);
  LogHexString(LOG_INFO, bytes, 20);
  LogHexString(LOG_INFO, bytes, 0);
  SetLogLevel(2);
  LogHexDebug(bytes, 20);
  LogHexStringInfo(bytes, 20);
  LogHexStringWarn(bytes, 1);
  SetLogLevel(5);

  // Offsets in columns 2-5, hex pairs from column 9 with a wider gap after
  // the eighth, characters from column 60, 78 columns in all.
  const std::vector<std::string> expected = {
      "a0 41 7f 20 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af",
      "b0 ",
      "a0 41 7f 20 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af",
      "  0000:  a0 41 7f 20 a4 a5 a6 a7  a8 a9 aa ab ac ad ae af   .A. ............  ",
      "  0010:  b0 b1 b2 b3                                        ....              ",
      "",
      "  0000:  a0                                                 .                 ",
  };
  std::vector<std::string> got = Messages();
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(got[i], expected[i]) << "line " << i;
    if (expected[i].compare(0, 2, "  ") == 0) {
      EXPECT_EQ(got[i].size(), 78u);
    }
  }
}

TEST_F(LogTest, HexStringOffsetsWrapAt65535) {
  // The offset field counts modulo 65535, not 65536: the line of byte 65536
  // reads 0001, and byte 65535 is the last one of the line at fff0.
  std::vector<unsigned char> bytes(65536 + 20, 'v');
  LogHexStringDebug(bytes.data(), static_cast<int>(bytes.size()));
  std::vector<std::string> m = Messages();
  ASSERT_EQ(m.size(), 4098u);
  const struct {
    size_t line;
    const char* offset;
  } cases[] = {{0, "  0000:"}, {1, "  0010:"}, {4094, "  ffe0:"}, {4095, "  fff0:"}, {4096, "  0001:"}, {4097, "  0011:"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(m[c.line].substr(0, 7), c.offset);
    EXPECT_EQ(m[c.line].size(), 78u);
  }
  EXPECT_EQ(m[4097].substr(60, 4), "vvvv");  // the last line holds the 4 bytes left
  EXPECT_EQ(m[4097].substr(64), std::string(14, ' '));
}

TEST_F(LogTest, RotationMovesFileAsideAndStartsNewOne) {
  {
    std::ofstream out(LogPath(), std::ios::binary);
    out << std::string(kLogRotateBytes - 10, 'f') << "\n";
  }
  time_t before = time(nullptr);
  LogInfo("crosses the limit");
  time_t after = time(nullptr);
  LogInfo("first line of the new file");

  std::vector<std::string> rotated;
  DIR* d = opendir(dir_.path().c_str());
  while (dirent* e = readdir(d))
    if (std::string(e->d_name).rfind("Velvanet.log-", 0) == 0) rotated.push_back(e->d_name);
  closedir(d);
  ASSERT_EQ(rotated.size(), 1u);
  ASSERT_TRUE(Shape(rotated[0], "Velvanet.log-9999-99-99-99-99-99")) << rotated[0];
  // The same date and time as a log line would show them.
  std::string r = rotated[0].substr(13);
  ParsedLine p;
  ASSERT_TRUE(ParseLine(r.substr(0, 10) + " " + r.substr(11, 2) + ":" + r.substr(14, 2) + ":" + r.substr(17, 2) +
                            " [X]: ",
                        p));
  EXPECT_GE(p.stamp, before);
  EXPECT_LE(p.stamp, after);

  std::string old = vvtest::ReadFileText(dir_.file(rotated[0]));
  EXPECT_GT(old.size(), static_cast<size_t>(kLogRotateBytes));
  EXPECT_NE(old.find("crosses the limit\n"), std::string::npos);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"first line of the new file"}));
}

TEST_F(LogTest, RotationKeepsTheWholeNameOfALongPath) {
  // A folder path far longer than a thousand characters.
  std::string folder = dir_.path();
  for (int i = 0; i < 6; ++i) folder += "/" + std::string(200, static_cast<char>('p' + i));
  ASSERT_EQ(vvtest::Run("mkdir -p " + vvtest::ShellQuote(folder)).status, 0);
  std::string log = folder + "/Velvanet.log";
  SetLogFileName(log);
  {
    std::ofstream out(log, std::ios::binary);
    out << std::string(kLogRotateBytes, 'f');
  }
  LogInfo("crosses the limit");
  std::vector<std::string> names;
  DIR* d = opendir(folder.c_str());
  ASSERT_NE(d, nullptr);
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(Shape(names[0], "Velvanet.log-9999-99-99-99-99-99")) << names[0];
  EXPECT_NE(vvtest::ReadFileText(folder + "/" + names[0]).find("crosses the limit\n"), std::string::npos);
}

TEST_F(LogTest, RotationNeverReplacesEarlierRotatedFile) {
  {
    std::ofstream out(LogPath(), std::ios::binary);
    out << std::string(kLogRotateBytes + 5, 'f');
  }
  // Rotated names for the next minute are taken already, so a slow run
  // still rotates into a taken name.
  time_t now = time(nullptr);
  std::vector<std::string> taken;
  for (int i = 0; i < 60; ++i) {
    time_t s = now + i;
    struct tm lt;
    localtime_r(&s, &lt);
    char name[64];
    strftime(name, sizeof(name), "Velvanet.log-%Y-%m-%d-%H-%M-%S", &lt);
    taken.push_back(dir_.file(name));
    std::ofstream(taken.back()) << "earlier rotation " << i;
  }
  LogInfo("cannot move aside");
  LogInfo("still cannot");
  for (size_t i = 0; i < taken.size(); ++i)
    EXPECT_EQ(vvtest::ReadFileText(taken[i]), "earlier rotation " + std::to_string(i));
  // The full file stays under its name and keeps growing; nothing is lost.
  std::string text = vvtest::ReadFileText(LogPath());
  EXPECT_NE(text.find("cannot move aside\n"), std::string::npos);
  EXPECT_NE(text.find("still cannot\n"), std::string::npos);
}

TEST_F(LogTest, ConcurrentThreadsAndProcessLoseNothingAcrossRotation) {
  // Start just below the limit so a rotation falls in the middle of the run.
  {
    std::ofstream out(LogPath(), std::ios::binary);
    std::string filler = "filler\n";
    for (long n = 0; n + static_cast<long>(filler.size()) < kLogRotateBytes - 200000; n += filler.size()) out << filler;
  }
  const int kThreads = 4, kLines = 3000;
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  std::thread child([&] {
    vvtest::Run("VV_LOG_CHILD_FILE=" + vvtest::ShellQuote(LogPath()) + " " + vvtest::ShellQuote(exe));
  });
  // The threads join in once the child is writing, so both sides cross the
  // rotation together.
  struct stat st0;
  ASSERT_EQ(stat(LogPath().c_str(), &st0), 0);
  EXPECT_TRUE(vvtest::WaitFor(
      [&] {
        struct stat st;
        return stat(LogPath().c_str(), &st) == 0 && st.st_size > st0.st_size;
      },
      std::chrono::seconds(60), std::chrono::milliseconds(1)));
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) LogInfo("writer=t%d line=%05d %s", t, i, std::string(60, 'a' + t).c_str());
    });
  for (auto& w : writers) w.join();
  child.join();

  std::map<std::string, std::set<int>> seen;
  int rotatedFiles = 0, bad = 0, dup = 0;
  DIR* d = opendir(dir_.path().c_str());
  std::vector<std::string> files;
  while (dirent* e = readdir(d))
    if (std::string(e->d_name).rfind("Velvanet.log", 0) == 0) files.push_back(e->d_name);
  closedir(d);
  for (const std::string& f : files) {
    if (f != "Velvanet.log") ++rotatedFiles;
    for (const std::string& line : Lines(dir_.file(f))) {
      if (line == "filler") continue;
      // "writer=<who> line=<5 digits> " and 60 times one letter.
      ParsedLine p;
      char who[16];
      int number = -1, used = 0;
      bool ok = ParseLine(line, p) && p.level == "INFO" &&
                sscanf(p.message.c_str(), "writer=%15s line=%d %n", who, &number, &used) == 2 && used > 0 &&
                p.message.size() == static_cast<size_t>(used) + 60 &&
                p.message.find_first_not_of(p.message[used], used) == std::string::npos &&
                Shape(p.message.substr(used - 6, 5), "99999");
      if (!ok) {
        ++bad;
        continue;
      }
      if (!seen[who].insert(number).second) ++dup;
    }
  }
  EXPECT_GE(rotatedFiles, 1);
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(dup, 0);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen["t" + std::to_string(t)].size(), static_cast<size_t>(kLines));
  EXPECT_EQ(seen["child"].size(), static_cast<size_t>(kChildLines));
}

TEST_F(LogTest, ThresholdChangesWhileThreadsWrite) {
  // One thread moves the threshold between 3 and 5 while others write at
  // level 3: every line goes in, and the threshold is never torn.
  std::atomic<bool> stop{false};
  std::thread setter([&] {
    for (int i = 0; !stop; ++i) {
      SetLogLevel(i % 2 ? 3 : 5);
      EXPECT_GE(GetLogLevel(), 3);
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t)
    writers.emplace_back([t] {
      const unsigned char bytes[] = {1, 2, 3};
      for (int i = 0; i < 200; ++i) {
        LogInfo("t%d %d", t, i);
        LogHexInfo(bytes, 3);
      }
    });
  for (auto& w : writers) w.join();
  stop = true;
  setter.join();
  EXPECT_EQ(Lines(LogPath()).size(), 3u * 200u * 2u);
}

// Peer text goes into one line: control characters are escaped, and a long
// text is cut (never inside a UTF-8 character) with its size told.
TEST(LogSafeText, EscapesAndCuts) {
  struct Case {
    std::string text;
    size_t limit;
    std::string logged;
  } cases[] = {
      {"{\"url\":\"rtsp://cam/1\"}", 512, "{\"url\":\"rtsp://cam/1\"}"},
      {"7\n2026-01-01 00:00:00 [CRIT]: x", 512, "7\\n2026-01-01 00:00:00 [CRIT]: x"},
      {std::string("a\rb\tc\x1b[0m\x7f", 10) + std::string(1, '\0') + "d", 512, "a\\rb\\tc\\x1B[0m\\x7F\\x00d"},
      {"直播源", 512, "直播源"},
      {"abcdefgh", 5, "abcde... (8 bytes)"},
      {"ab直播", 4, "ab... (8 bytes)"},  // 直 is three bytes: cut before it
      {"", 5, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LogSafeText(c.text, c.limit), c.logged) << c.text;
}

// ---------------------------------------------------------------- repeats

#include "core/LogRepeat.h"

// A text that repeats is written once, then once an interval with the count
// held back; another text, a text forgotten to make room, or one after a
// reset is written at once.
TEST(LogRepeatGate, WritesARepeatOnceAnInterval) {
  LogRepeatGate gate(60000, 2);
  struct Step {
    const char* text;
    int64_t now;
    bool pass;
    uint64_t held;
  } steps[] = {
      {"a", 0, true, 0},           {"a", 1, false, 0},     {"a", 59999, false, 0},
      {"b", 59999, true, 0},       {"a", 60000, true, 2},  {"a", 60001, false, 0},
      {"a", 120000, true, 1},      {"b", 120001, true, 0},  // b: written at 59999, nothing held since
      {"c", 120002, true, 0},                                // room for two: a goes (written longest ago)
      {"a", 120003, true, 0},      {"c", 120004, false, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.text) + " at " + std::to_string(s.now));
    uint64_t held = 99;
    EXPECT_EQ(gate.Pass(s.text, s.now, &held), s.pass);
    if (s.pass) {
      EXPECT_EQ(held, s.held);
    }
  }
  gate.Reset();
  EXPECT_TRUE(gate.Pass("c", 120005));
}

// Through the log: a line logged at every retry for a minute leaves one line;
// the count shows on the next one written.
TEST(LogRepeatGate, LogRepeatedWritesOneLineAndItsCount) {
  vvtest::TempDir dir;
  std::string old = GetLogFileName();
  SetLogFileName(dir.file("r.log"));
  int level = GetLogLevel();
  SetLogLevel(LOG_INFO);
  LogRepeatGate gate(200, 8);
  for (int i = 0; i < 50; ++i) LogRepeated(gate, LOG_WARN, "cannot connect");
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  LogRepeated(gate, LOG_WARN, "cannot connect");
  LogRepeated(gate, LOG_DEBUG, "below the level");
  SetLogLevel(level);
  SetLogFileName(old);
  std::ifstream in(dir.file("r.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("cannot connect"), std::string::npos);
  EXPECT_EQ(lines[0].find("more times"), std::string::npos);
  EXPECT_NE(lines[1].find("cannot connect (49 more times since last logged)"), std::string::npos) << lines[1];
}
