// The CPU panel and its bar offscreen: what the bar shows for a reading,
// where it sits, and the pixels it paints.
#include <gtest/gtest.h>

#include "tests/console/ui/ShowQuietly.h"

#include <QImage>
#include <fstream>

#include "console/ui/ConsoleWindows.h"
#include "console/ui/CpuNetInfoDlg.h"
#include "tests/tools/TestUtil.h"

using vvconsole::CCpuNetInfoDlg;
using vvconsole::CSwingProgressCtrl;

TEST(CpuPanel, ShowsReadingsAndTheNoCounterFigure) {
  vvtest::TempDir dir("vvcpuui");
  std::string path = dir.file("stat");
  std::ofstream(path) << "cpu 0 0 0 0 0 0 0 0\n";
  CCpuNetInfoDlg panel(nullptr, path);
  EXPECT_EQ(panel.objectName(), QStringLiteral("101"));
  EXPECT_EQ(panel.Bar()->objectName(), QStringLiteral("1157"));
  EXPECT_EQ(panel.Bar()->GetText(), QStringLiteral("0%"));  // the first refresh
  struct Step {
    const char* stat;  // null: the file is gone
    const char* text;
    int pos;
  } steps[] = {
      {"cpu 30 0 0 70 0 0 0 0\n", "30%", 30},
      {"cpu 30 0 0 70 0 0 0 0\n", "30%", 30},
      {nullptr, "-1%", -1},
      {"cpu 30 0 0 70 0 0 0 0\n", "0%", 0},
      {"cpu 130 0 0 70 0 0 0 0\n", "100%", 100},
  };
  for (const Step& s : steps) {
    if (s.stat) {
      std::ofstream(path, std::ios::trunc) << s.stat;
    } else {
      std::remove(path.c_str());
    }
    panel.UpdateCpuLoad();
    EXPECT_EQ(panel.Bar()->GetText(), QString::fromLatin1(s.text));
    EXPECT_EQ(panel.Bar()->GetPos(), s.pos);
  }
  // No counter: the bar stays empty.
  panel.Bar()->SetPos(-1);
  EXPECT_EQ(panel.Bar()->FilledRect().width(), 0);
}

TEST(CpuPanel, BarSitsInTheRightHalfAtFullHeight) {
  QWidget* w = vvconsole::CreateCpuNetInfoDlg(nullptr);
  auto* panel = qobject_cast<CCpuNetInfoDlg*>(w);
  ASSERT_NE(panel, nullptr);
  vvuitest::ShowQuietly(panel);
  int barWidth = panel->Bar()->width();
  for (QSize size : {QSize(200, 52), QSize(160, 30), QSize(300, 70)}) {
    panel->resize(size);
    EXPECT_EQ(panel->Bar()->geometry(), QRect(size.width() / 2, 0, barWidth, size.height()));
  }
  delete w;
}

TEST(CpuPanel, HalfFullBarPaintsTheLeftHalfGreen) {
  CSwingProgressCtrl bar;
  bar.resize(104, 24);  // inner 100 x 20
  bar.SetRange(0, 100);
  bar.SetPos(50);
  EXPECT_EQ(bar.FilledRect(), QRect(2, 2, 50, 20));
  QImage img = bar.grab().toImage();
  // Left of the middle green, right of it black (away from the text).
  EXPECT_EQ(QColor(img.pixel(4, 4)), QColor(0, 255, 0));
  EXPECT_EQ(QColor(img.pixel(51, 4)), QColor(0, 255, 0));
  EXPECT_EQ(QColor(img.pixel(53, 4)), QColor(Qt::black));
  EXPECT_EQ(QColor(img.pixel(100, 4)), QColor(Qt::black));
  bar.SetVertical(true);
  EXPECT_EQ(bar.FilledRect(), QRect(2, 12, 100, 10));
}
