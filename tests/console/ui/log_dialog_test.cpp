// The log dialog offscreen: its view follows the file through the window's
// thread, and closing joins the watcher.
#include <gtest/gtest.h>

#include "tests/console/ui/PumpUntil.h"
#include "tests/console/ui/ShowQuietly.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <fstream>

#include "console/ui/LogDlg.h"
#include "tests/tools/TestUtil.h"

using vvconsole::CLogDlg;

TEST(LogDialog, ShowsTheTailAndFollowsTheFile) {
  vvtest::TempDir dir("vvlogdlg");
  std::string path = dir.file("Velvanet.log");
  std::ofstream(path) << "第一行\n第二行\n";
  CLogDlg dialog(nullptr, path);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("日志列表"));
  EXPECT_TRUE(dialog.View()->isReadOnly());
  EXPECT_EQ(dialog.View()->objectName(), QStringLiteral("1165"));
  vvuitest::ShowQuietly(&dialog);
  ASSERT_TRUE(vvuitest::PumpUntil([&] { return dialog.View()->toPlainText() == QStringLiteral("第二行\n第一行"); }));
  std::ofstream(path, std::ios::app) << "第三行\n";
  ASSERT_TRUE(vvuitest::PumpUntil([&] { return dialog.View()->toPlainText().startsWith(QStringLiteral("第三行\n")); }));
  dialog.findChild<QPushButton*>(QStringLiteral("1129"))->click();
  EXPECT_TRUE(dialog.View()->toPlainText().isEmpty());
  dialog.findChild<QPushButton*>(QStringLiteral("2"))->click();
  EXPECT_FALSE(dialog.isVisible());
  int loads = dialog.Loads();
  std::ofstream(path, std::ios::app) << "第四行\n";
  usleep(1500 * 1000);
  QApplication::processEvents();
  EXPECT_EQ(dialog.Loads(), loads);  // the watcher ended with the dialog
}

TEST(LogDialog, MissingLogAndDeletionWhileWatching) {
  vvtest::TempDir dir("vvlogdlg");
  {
    CLogDlg dialog(nullptr, dir.file("none.log"));
    vvuitest::ShowQuietly(&dialog);
    ASSERT_TRUE(vvuitest::PumpUntil([&] { return dialog.Loads() > 0; }));
    EXPECT_TRUE(dialog.View()->toPlainText().isEmpty());
  }
  // Deleted while its text may still be on its way.
  for (int i = 0; i < 5; ++i) {
    std::ofstream(dir.file("a.log")) << "x\ny\n";
    auto* dialog = new CLogDlg(nullptr, dir.file("a.log"));
    vvuitest::ShowQuietly(dialog);
    delete dialog;
    QApplication::processEvents();
  }
}
