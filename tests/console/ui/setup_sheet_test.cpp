// The settings sheet offscreen against a scratch program folder and a
// scratch autostart folder: what it writes, what it leaves alone, how a
// failed write and the connection test reach the operator.
#include <gtest/gtest.h>

#include "tests/console/ui/PumpUntil.h"
#include "tests/console/ui/ShowQuietly.h"
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "console/logic/AutoRun.h"
#include "console/logic/Prompt.h"
#include "console/logic/SetupSettings.h"
#include "console/ui/SetupSheet.h"
#include "core/IniFileEx.h"
#include "core/Paths.h"
#include "tests/tools/TestUtil.h"

using vvconsole::CSetupSheet;

namespace {

struct RecordingPrompt : IPrompt {
  std::vector<std::string> messages;
  void Message(const std::string& text) override { messages.push_back(text); }
  bool Ask(const std::string&) override { return false; }
};

// A program folder and an autostart folder of the test's own.
class SetupSheetTest : public testing::Test {
 protected:
  vvtest::TempDir dir{"vvsheet"};
  void SetUp() override {
    SetAppDir(dir.path());
    setenv("XDG_CONFIG_HOME", dir.file("xdg").c_str(), 1);
  }
  void TearDown() override {
    SetAppDir("");
    unsetenv("XDG_CONFIG_HOME");
  }
  CIniFileEx Ini() { return CIniFileEx(dir.file("conf/system.ini")); }
  template <class T>
  static T* Find(QWidget* w, const char* id) {
    return w->findChild<T*>(QString::fromLatin1(id));
  }
};

}  // namespace

TEST_F(SetupSheetTest, OpensWithTheFileAndWritesOnlyOpenedPages) {
  vvtest::Run("mkdir -p " + vvtest::ShellQuote(dir.file("conf")));
  CIniFileEx ini = Ini();
  setup::WriteIxoServer(ini, {"10.0.0.5", 7000, "k1"});
  RecordingPrompt prompt;
  CSetupSheet sheet(QStringLiteral("设置"), nullptr, &prompt);
  vvuitest::ShowQuietly(&sheet);
  EXPECT_EQ(sheet.windowTitle(), QStringLiteral("设置"));
  EXPECT_EQ(sheet.Tabs()->tabText(0), QStringLiteral("IXO服务器设置"));
  EXPECT_EQ(sheet.Tabs()->tabText(1), QStringLiteral("启动设置"));
  EXPECT_EQ(Find<QLineEdit>(&sheet, "1103")->text(), QStringLiteral("10.0.0.5"));
  EXPECT_EQ(Find<QLineEdit>(&sheet, "1091")->text(), QStringLiteral("7000"));
  EXPECT_EQ(Find<QLineEdit>(&sheet, "1093")->text(), QStringLiteral("k1"));

  Find<QLineEdit>(&sheet, "1103")->setText(QStringLiteral("10.0.0.6"));
  Find<QLineEdit>(&sheet, "1091")->setText(QStringLiteral("7001"));
  Find<QPushButton>(&sheet, "1")->click();
  EXPECT_FALSE(sheet.isVisible());
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(ini.GetString("IXO_SETUP", "HOST"), "10.0.0.6");
  EXPECT_EQ(ini.GetString("IXO_SETUP", "PORT"), "7001");
  // The start-up page was never opened: nothing of it was written.
  std::vector<std::string> keys;
  ini.GetKeyNames("START_OPTION", keys);
  EXPECT_TRUE(keys.empty());
  EXPECT_FALSE(vvconsole::IsAutoRunEnabled());
}

TEST_F(SetupSheetTest, StartupPageSetsAutoForwardAndAutorun) {
  RecordingPrompt prompt;
  {
    CSetupSheet sheet(QStringLiteral("设置"), nullptr, &prompt);
    vvuitest::ShowQuietly(&sheet);
    sheet.Tabs()->setCurrentIndex(1);
    EXPECT_FALSE(Find<QCheckBox>(&sheet, "1076")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(&sheet, "1079")->isChecked());
    Find<QCheckBox>(&sheet, "1076")->setChecked(true);
    Find<QCheckBox>(&sheet, "1079")->setChecked(true);
    EXPECT_TRUE(Find<QPushButton>(&sheet, "12321")->isEnabled());
    Find<QPushButton>(&sheet, "12321")->click();  // apply keeps the sheet open
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_FALSE(Find<QPushButton>(&sheet, "12321")->isEnabled());
  }
  // conf/ was missing: it is made.
  EXPECT_EQ(Ini().GetString("START_OPTION", "AUTO_FORWARD"), "1");
  EXPECT_TRUE(vvconsole::IsAutoRunEnabled());
  std::string entry = vvtest::ReadFileText(dir.file("xdg/autostart/velvanet.desktop"));
  EXPECT_NE(entry.find(dir.path() + "/velvanet"), std::string::npos) << entry;
  {
    CSetupSheet sheet(QStringLiteral("设置"), nullptr, &prompt);
    vvuitest::ShowQuietly(&sheet);
    sheet.Tabs()->setCurrentIndex(1);
    EXPECT_TRUE(Find<QCheckBox>(&sheet, "1076")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(&sheet, "1079")->isChecked());
    Find<QCheckBox>(&sheet, "1076")->setChecked(false);
    Find<QCheckBox>(&sheet, "1079")->setChecked(false);
    Find<QPushButton>(&sheet, "1")->click();
    EXPECT_FALSE(sheet.isVisible());
  }
  EXPECT_EQ(Ini().GetString("START_OPTION", "AUTO_FORWARD"), "0");
  EXPECT_FALSE(vvconsole::IsAutoRunEnabled());
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SetupSheetTest, FailedWriteOrBadPortKeepsTheSheetOpen) {
  struct Case {
    const char* port;
    bool confIsAFile;
    const char* message;
  } cases[] = {
      {"8000", true, setup::kWriteFailed},
      {"", false, "请输入一个整数。"},
  };
  for (const Case& c : cases) {
    vvtest::Run("rm -rf " + vvtest::ShellQuote(dir.file("conf")));
    if (c.confIsAFile) vvtest::Run("touch " + vvtest::ShellQuote(dir.file("conf")));
    RecordingPrompt prompt;
    CSetupSheet sheet(QStringLiteral("设置"), nullptr, &prompt);
    vvuitest::ShowQuietly(&sheet);
    Find<QLineEdit>(&sheet, "1091")->setText(QString::fromLatin1(c.port));
    Find<QPushButton>(&sheet, "1")->click();
    EXPECT_TRUE(sheet.isVisible()) << c.port;
    ASSERT_EQ(prompt.messages.size(), 1u) << c.port;
    EXPECT_EQ(prompt.messages[0], c.message);
  }
  vvtest::Run("rm -rf " + vvtest::ShellQuote(dir.file("conf")));
}

TEST_F(SetupSheetTest, ConnectionTestAnswersThroughTheWindowThread) {
  int open = 0;
  int lfd = vvtest::ListenLoopback(&open);
  ASSERT_GE(lfd, 0);
  struct Case {
    const char* host;
    QString port;
    const char* message;
  } cases[] = {
      {"127.0.0.1", QStringLiteral("0"), setup::kFillInParameters},
      {"", QStringLiteral("80"), setup::kFillInParameters},
      {"127.0.0.1", QStringLiteral("70000"), setup::kFillInParameters},
      {"127.0.0.1", QString::number(open), setup::kConnected},
      {"127.0.0.1", QString::number(vvtest::FreePort()), setup::kNotConnected},
      {"localhost", QString::number(open), setup::kNotConnected},
  };
  for (const Case& c : cases) {
    RecordingPrompt prompt;
    CSetupSheet sheet(QStringLiteral("设置"), nullptr, &prompt);  // not shown: nothing is painted
    Find<QLineEdit>(&sheet, "1103")->setText(QString::fromLatin1(c.host));
    Find<QLineEdit>(&sheet, "1091")->setText(c.port);
    Find<QPushButton>(&sheet, "1092")->click();
    ASSERT_TRUE(vvuitest::PumpUntil([&] { return !prompt.messages.empty(); })) << c.host << ":" << c.port.toStdString();
    EXPECT_EQ(prompt.messages[0], c.message);
    EXPECT_TRUE(Find<QPushButton>(&sheet, "1092")->isEnabled());
    EXPECT_FALSE(sheet.IxoPage()->TestRunning());
  }
  // A sheet closed while its test still runs goes away cleanly.
  {
    RecordingPrompt prompt;
    auto* sheet = new CSetupSheet(QStringLiteral("设置"), nullptr, &prompt);
    Find<QLineEdit>(sheet, "1103")->setText(QStringLiteral("127.0.0.1"));
    Find<QLineEdit>(sheet, "1091")->setText(QString::number(open));
    Find<QPushButton>(sheet, "1092")->click();
    delete sheet;
    QApplication::processEvents();
    EXPECT_TRUE(prompt.messages.empty());
  }
  close(lfd);
}
