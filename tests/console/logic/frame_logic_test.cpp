// The frame's widget-free rules: lighter shades and the panel gradient, the
// running-time text, the toolbar's buttons per mode, the tabs' views.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "console/logic/Colors.h"
#include "console/logic/FrameModel.h"
#include "console/logic/RunningClock.h"
#include "core/Paths.h"
#include "tests/tools/TestUtil.h"

using namespace vvconsole;

TEST(LightenColor, TableOfFactors) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    ColorRef color;
    double factor;
    ColorRef want;
  } cases[] = {
      {0x000000, 0.5, 0x7F7F7F},      // 127.5 -> 127
      {0x000000, 1.0, 0xFFFFFF},
      {0xCEDADF, 1.0, 0xFFFFFF},
      {0x123456, 0.0, 0x123456},      // outside (0, 1]: unchanged
      {0x123456, 1.5, 0x123456},
      {0x123456, -0.2, 0x123456},
      {0x123456, nan, 0x123456},
      {0xFF123456, 1.5, 0xFF123456},  // unchanged means unchanged, top byte too
      {0xFF000000, 0.5, 0x7F7F7F},    // a changed colour has a top byte of 0
      {0xCEDADF, 0.04, 0xCFDBE0},     // 224.28, 219.48, 207.96 truncated
      {0x0000FF, 0.5, 0x7F7FFF},      // red stays 255, green and blue rise
      {0xCEDADF, 1e-300, 0xCEDADF},   // a tiny factor rounds to the colour
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LightenColor(c.color, c.factor), c.want) << std::hex << c.color << " " << c.factor;
  }
}

TEST(LightenColor, GradientRowsDarkenEveryOtherRowFromRowFour) {
  // Rows 0-3 are white; rows 4 and 5 share f = 0.96; 6 and 7 f = 0.92 ...
  for (int row = 0; row < 4; ++row) EXPECT_EQ(GradientRowColor(kPanelBaseColor, row), 0xFFFFFFu) << row;
  EXPECT_EQ(GradientRowColor(kPanelBaseColor, 4), LightenColor(kPanelBaseColor, 0.96));
  EXPECT_EQ(GradientRowColor(kPanelBaseColor, 5), LightenColor(kPanelBaseColor, 0.96));
  EXPECT_EQ(GradientRowColor(kPanelBaseColor, 6), LightenColor(kPanelBaseColor, 1.0 - 0.04 - 0.04));
  // Never lighter further down; deep rows end at the base colour itself.
  for (int row = 1; row < 120; ++row) {
    ColorRef above = GradientRowColor(kPanelBaseColor, row - 1), here = GradientRowColor(kPanelBaseColor, row);
    EXPECT_LE(RedOf(here), RedOf(above)) << row;
    EXPECT_LE(BlueOf(here), BlueOf(above)) << row;
  }
  EXPECT_EQ(GradientRowColor(kPanelBaseColor, 80), kPanelBaseColor);
  // The base is RGB(223,218,206).
  EXPECT_EQ(RedOf(kPanelBaseColor), 223);
  EXPECT_EQ(GreenOf(kPanelBaseColor), 218);
  EXPECT_EQ(BlueOf(kPanelBaseColor), 206);
}

TEST(RunningClock, TextOfElapsedTime) {
  struct Case {
    uint64_t seconds;
    const char* text;
  } cases[] = {
      {0, "已运行-00:00:00"},
      {59, "已运行-00:00:59"},
      {3725, "已运行-01:02:05"},
      {360000, "已运行-100:00:00"},
      // Past 49.7 days, where a 32-bit millisecond tick would have wrapped.
      {4294968, "已运行-1193:02:48"},
      {10ull * 365 * 86400, "已运行-87600:00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(RunningTimeText(c.seconds), c.text) << c.seconds;
}

TEST(RunningClock, SecondsFromAMonotonicStart) {
  // A start just under 2^32 ms: the count goes on past the 32-bit wrap.
  const int64_t start = (int64_t(1) << 32) - 1500;
  RunningClock clock(start);
  EXPECT_EQ(clock.SecondsAt(start), 0u);
  EXPECT_EQ(clock.SecondsAt(start + 999), 0u);
  EXPECT_EQ(clock.SecondsAt(start + 1000), 1u);
  EXPECT_EQ(clock.SecondsAt(start + 3000), 3u);
  EXPECT_EQ(clock.TextAt(start + 3725 * 1000 + 999), "已运行-01:02:05");
  EXPECT_EQ(clock.SecondsAt(start - 5000), 0u);  // never negative
  // The real clock runs forward.
  RunningClock now;
  int64_t a = MonotonicMs();
  EXPECT_LE(now.SecondsAt(a + 2000), 2u);
  EXPECT_GE(now.SecondsAt(a + 2000), 1u);
  EXPECT_EQ(now.Text().rfind("已运行-00:00:0", 0), 0u);
}

TEST(FrameModel, ToolbarButtonsPerMode) {
  const int ids[] = {kIdNewChannel, kIdSystemSettings, kIdOnlineUsers, kIdPlay, kIdShowLog, kIdAppExit};
  const char* texts[] = {"   新建频道   ", "   系统设置   ", "   在线用户   ", "   播放   ", "   日志   ", "   退出   "};
  struct Case {
    int mode;
    bool onlineUsers;
    bool dropDown;
    bool newChannelDialog;
  } cases[] = {{0, true, false, false}, {4, false, false, false}, {5, false, false, false}, {6, false, true, true}};
  for (const Case& c : cases) {
    std::vector<ToolbarButton> b = ToolbarButtons(c.mode);
    ASSERT_EQ(b.size(), 6u);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(b[i].id, ids[i]);
      EXPECT_EQ(b[i].text, texts[i]);
      EXPECT_EQ(b[i].image, i);
      EXPECT_EQ(b[i].enabled, i == 2 ? c.onlineUsers : true) << c.mode << " " << i;
      EXPECT_EQ(b[i].dropDown, i == 0 && c.dropDown) << c.mode << " " << i;
    }
    EXPECT_EQ(NewChannelOpensDeviceDialog(c.mode), c.newChannelDialog);
    EXPECT_EQ(DropDownOpensSourceMenu(c.mode, kIdNewChannel), c.mode != 0);
    EXPECT_FALSE(DropDownOpensSourceMenu(c.mode, kIdPlay));
  }
}

TEST(FrameModel, TabsAndTheViewsTheyShow) {
  const std::vector<PaneTab>& tabs = LeftPaneTabs();
  ASSERT_EQ(tabs.size(), 3u);
  EXPECT_EQ(tabs[0].text, "源列表");
  EXPECT_EQ(tabs[0].mode, 6);
  EXPECT_EQ(tabs[1].text, "IXO拉流");
  EXPECT_EQ(tabs[1].mode, 4);
  EXPECT_EQ(tabs[2].text, "转码");
  EXPECT_EQ(tabs[2].mode, 5);
  struct Case {
    int mode;
    bool known, right, pull, transfer, source, status;
  } cases[] = {
      {6, true, true, false, false, true, true},
      {4, true, false, true, false, false, false},
      {5, true, false, false, true, false, false},
      {0, false, false, false, false, false, false},
      {7, false, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    PaneVisibility v = VisibilityForMode(c.mode);
    EXPECT_EQ(v.known, c.known) << c.mode;
    EXPECT_EQ(v.rightColumn, c.right) << c.mode;
    EXPECT_EQ(v.pullView, c.pull) << c.mode;
    EXPECT_EQ(v.transferView, c.transfer) << c.mode;
    EXPECT_EQ(v.sourceView, c.source) << c.mode;
    EXPECT_EQ(v.statusView, c.status) << c.mode;
  }
}

TEST(FrameModel, MenusAndTexts) {
  ASSERT_EQ(SourceMenu().size(), 4u);
  EXPECT_EQ(SourceMenu()[0].text, "设备源");
  EXPECT_EQ(SourceMenu()[3].id, kIdOtherSource);
  ASSERT_EQ(TrayMenu().size(), 2u);
  EXPECT_EQ(TrayMenu()[0].text, "系统设置...");
  EXPECT_EQ(TrayMenu()[1].text, "退   出");
  EXPECT_EQ(std::string(kCaption).rfind("Velvanet-", 0), 0u);
}

TEST(FrameModel, HelpFileOnlyWhenPresent) {
  vvtest::TempDir dir("vv-help");
  SetAppDir(dir.path());
  EXPECT_EQ(HelpFilePath(), "");
  vvtest::Run("mkdir " + vvtest::ShellQuote(dir.file("help.chm")));  // a folder is no help file
  EXPECT_EQ(HelpFilePath(), "");
  vvtest::Run("rmdir " + vvtest::ShellQuote(dir.file("help.chm")) + " && touch " +
              vvtest::ShellQuote(dir.file("help.chm")));
  EXPECT_EQ(HelpFilePath(), dir.file("help.chm"));
  SetAppDir("");
}

TEST(FrameModel, BuildLineFromCompilerDate) {
  EXPECT_EQ(BuildLine("Dec 10 2026", "16:04:27"), "Build: 2026-12-10 16:04:27");
  EXPECT_EQ(BuildLine("Jan  1 2025", "00:00:00"), "Build: 2025-01-01 00:00:00");
  EXPECT_EQ(BuildLine("??? ?? ????", "??:??:??"), "Build: ??? ?? ???? ??:??:??");
  EXPECT_EQ(BuildLine(__DATE__, __TIME__).size(), std::string("Build: 2026-12-10 16:04:27").size());
}
