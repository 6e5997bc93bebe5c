// Processor load from /proc/stat counters: the figures, the awkward
// readings, and the bar and background figures of the panel.
#include <gtest/gtest.h>

#include <fstream>

#include "console/logic/CpuLoad.h"
#include "tests/tools/TestUtil.h"

using namespace cpuload;

namespace {
CpuTimes T(uint64_t user, uint64_t nice, uint64_t system, uint64_t idle, uint64_t iowait = 0, uint64_t irq = 0,
           uint64_t softirq = 0, uint64_t steal = 0) {
  CpuTimes t;
  uint64_t v[8] = {user, nice, system, idle, iowait, irq, softirq, steal};
  for (int i = 0; i < 8; ++i) t.field[i] = v[i];
  return t;
}
std::string StatLine(const CpuTimes& t) {
  std::string s = "cpu ";
  for (uint64_t v : t.field) s += " " + std::to_string(v);
  return s + " 0 0\ncpu0 1 2 3 4 5 6 7 8 0 0\nintr 5\n";
}
}  // namespace

TEST(CpuLoad, ParsesTheCpuLine) {
  CpuTimes t;
  ASSERT_TRUE(ParseProcStat("cpu  10 20 30 40 50 60 70 80 90 100\ncpu0 1 1 1 1\n", t));
  EXPECT_EQ(t.field[0], 10u);
  EXPECT_EQ(t.field[7], 80u);  // guest and guest_nice are not read
  ASSERT_TRUE(ParseProcStat("cpu 1 2 3 4\n", t));  // an old kernel's four counters
  EXPECT_EQ(t.field[3], 4u);
  EXPECT_EQ(t.field[4], 0u);
  EXPECT_FALSE(ParseProcStat("cpu 1 2 3\n", t));
  EXPECT_FALSE(ParseProcStat("cpu0 1 2 3 4\n", t));
  EXPECT_FALSE(ParseProcStat("", t));
}

TEST(CpuLoad, LoadBetweenTwoReadings) {
  struct Case {
    const char* what;
    CpuTimes before, after;
    int want;
  } cases[] = {
      {"all idle", T(0, 0, 0, 100), T(0, 0, 0, 200), 0},
      {"no idle", T(0, 0, 0, 100), T(50, 25, 25, 100), 100},
      {"a quarter busy", T(10, 0, 0, 10), T(35, 0, 0, 85), 25},
      {"iowait counts as idle", T(0, 0, 0, 0), T(50, 0, 0, 25, 25), 50},
      {"irq, softirq and steal count as busy", T(0, 0, 0, 0), T(0, 0, 0, 40, 0, 20, 20, 20), 60},
      {"rounding to nearest", T(0, 0, 0, 0), T(1, 0, 0, 199), 1},  // 0.5% -> 1
      {"idle counter went back", T(0, 0, 0, 1000), T(30, 0, 0, 10), 100},
      {"busy counter went back", T(1000, 0, 0, 0), T(10, 0, 0, 50), 0},
      {"no time passed", T(5, 5, 5, 5), T(5, 5, 5, 5), -1},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadBetween(c.before, c.after), c.want) << c.what;
}

TEST(CpuLoad, MeterFromAFileThatChangesAndDisappears) {
  vvtest::TempDir dir("vvcpu");
  std::string path = dir.file("stat");
  auto write = [&](const CpuTimes& t) { std::ofstream(path, std::ios::trunc) << StatLine(t); };
  CpuLoadMeter m(path);
  struct Step {
    const char* what;
    bool present;
    CpuTimes t;
    int want;
  } steps[] = {
      {"first reading is the baseline", true, T(0, 0, 0, 0), 0},
      {"half busy", true, T(50, 0, 0, 50), 50},
      {"no time passed keeps the figure", true, T(50, 0, 0, 50), 50},
      {"all busy", true, T(150, 0, 0, 50), 100},
      {"unreadable", false, {}, -1},
      {"readable again starts a new baseline", true, T(150, 0, 0, 50), 0},
      {"then measures", true, T(160, 0, 0, 80), 25},
  };
  for (const Step& s : steps) {
    if (s.present) {
      write(s.t);
    } else {
      std::remove(path.c_str());
    }
    EXPECT_EQ(m.Sample(), s.want) << s.what;
  }
  // The real counters give a figure in range.
  CpuLoadMeter real;
  EXPECT_EQ(real.Sample(), 0);
  usleep(100 * 1000);
  int load = real.Sample();
  EXPECT_GE(load, 0);
  EXPECT_LE(load, 100);
}

TEST(CpuLoad, BarAndBackgroundFigures) {
  struct Case {
    int extent, pos, lower, upper, want;
  } cases[] = {{100, 50, 0, 100, 50}, {100, 0, 0, 100, 0},   {100, 100, 0, 100, 100}, {100, 150, 0, 100, 100},
               {100, -1, 0, 100, 0},  {100, 5, 5, 5, 0},     {80, 37, 0, 100, 29},    {100, 20, 10, 30, 50},
               {0, 50, 0, 100, 0},    {-4, 50, 0, 100, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(FilledExtent(c.extent, c.pos, c.lower, c.upper), c.want) << c.extent << " " << c.pos;
  EXPECT_EQ(LoadText(37), "37%");
  EXPECT_EQ(LoadText(-1), "-1%");
  // White at the top, darker every second row from row 4, the base colour
  // once the factor runs out.
  EXPECT_EQ(GradientRowColour(0), 0xFFFFFFu);
  EXPECT_EQ(GradientRowColour(3), 0xFFFFFFu);
  EXPECT_EQ(GradientRowColour(4), GradientRowColour(5));
  EXPECT_LT(GradientRowColour(5) & 0xFF, 0xFFu);
  EXPECT_LT(GradientRowColour(30) & 0xFF, GradientRowColour(10) & 0xFF);
  EXPECT_EQ(GradientRowColour(200), 0xDFDACEu);
}
