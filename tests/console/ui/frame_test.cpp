// The main frame on Qt's offscreen platform: tabs against the toolbar mode
// and the right column, the toolbar per mode, the close question, the tray,
// minimising, the clock, the player and help commands, the Ixo messages and
// termination signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <thread>

#include "console/logic/Colors.h"
#include "console/logic/FrameModel.h"
#include "console/logic/Prompt.h"
#include "console/ui/AboutDlg.h"
#include "console/ui/ConsoleApp.h"
#include "console/ui/FlatSplitter.h"
#include "console/ui/HyperLink.h"
#include "console/ui/MainFrame.h"
#include "console/ui/SFToolBar.h"
#include "core/Paths.h"
#include "ixolink/IxoNotice.h"
#include "platform/SingleInstance.h"
#include "tests/console/ui/PumpUntil.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono_literals;
using namespace vvconsole;
using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

struct AnswerPrompt : IPrompt {
  bool answer = false;
  std::vector<std::string> asked;
  void Message(const std::string& text) override { asked.push_back(text); }
  bool Ask(const std::string& text) override {
    asked.push_back(text);
    return answer;
  }
};

class FrameTest : public testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNDER_THREAD_CHECKER();
    frame_ = std::make_unique<CMainFrame>();
    frame_->resize(1200, 800);
    frame_->SetPrompt(&prompt_);
    ASSERT_TRUE(frame_->Create());
    frame_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    if (!frame_) return;
    frame_->SetShutdownHandler(nullptr);
    frame_.reset();
    QApplication::processEvents();
  }
  QWidget* Pane(int row, int col) { return frame_->Splitter()->GetPane(row, col); }

  AnswerPrompt prompt_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace

TEST_F(FrameTest, TabsSetTheModeAndTheRightColumn) {
  QTabBar* tabs = frame_->LeftPane()->TabCtrl();
  ASSERT_EQ(tabs->count(), 3);
  EXPECT_EQ(tabs->objectName(), "1025");
  EXPECT_EQ(tabs->tabText(0), "源列表");
  EXPECT_EQ(tabs->tabText(1), "IXO拉流");
  EXPECT_EQ(tabs->tabText(2), "转码");
  // Start-up leaves the first tab selected: mode 6, both columns.
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(frame_->ToolbarMode(), 6);
  QWidget* right = frame_->RightPane();
  EXPECT_EQ(frame_->LeftPane()->objectName(), "59648");
  EXPECT_EQ(right->objectName(), "59649");
  EXPECT_TRUE(right->isVisible());
  EXPECT_TRUE(frame_->StatusView()->isVisible());
  EXPECT_TRUE(frame_->LeftPane()->SourceView()->isVisible());
  EXPECT_EQ(frame_->StatusView()->objectName(), "1116");
  EXPECT_EQ(frame_->LeftPane()->SourceView()->objectName(), "1114");
  // The left pane takes a third of the frame.
  EXPECT_NEAR(frame_->LeftPane()->width(), frame_->frameGeometry().width() / 3, 2);
  const QRect rightBefore = right->geometry();

  struct Case {
    int tab;
    int mode;
    bool right, pull, transfer, source;
  } cases[] = {
      {2, 5, false, false, true, false},
      {1, 4, false, true, false, false},
      {0, 6, true, false, false, true},
      {2, 5, false, false, true, false},
      {0, 6, true, false, false, true},
  };
  for (const Case& c : cases) {
    tabs->setCurrentIndex(c.tab);
    QApplication::processEvents();
    EXPECT_EQ(frame_->ToolbarMode(), c.mode) << c.tab;
    EXPECT_EQ(right->isVisible(), c.right) << c.tab;
    EXPECT_EQ(right->objectName(), c.right ? "59649" : "59650") << c.tab;
    EXPECT_EQ(frame_->Splitter()->GetColumnCount(), c.right ? 2 : 1);
    EXPECT_EQ(frame_->LeftPane()->PullView()->isVisible(), c.pull) << c.tab;
    EXPECT_EQ(frame_->LeftPane()->TransferView()->isVisible(), c.transfer) << c.tab;
    EXPECT_EQ(frame_->LeftPane()->SourceView()->isVisible(), c.source) << c.tab;
    EXPECT_EQ(frame_->StatusView()->isVisible(), c.right) << c.tab;
    if (c.right) {
      EXPECT_EQ(right->geometry(), rightBefore);  // the former width, back
    } else {
      EXPECT_EQ(frame_->LeftPane()->width(), frame_->Splitter()->width());
    }
  }
}

TEST_F(FrameTest, LeftPaneKeepsItsTabStripAtTheBottom) {
  CLeftPaneView* left = frame_->LeftPane();
  left->resize(300, 300);
  QApplication::processEvents();
  EXPECT_EQ(left->TabCtrl()->y(), 280);
  for (QWidget* view : {left->PullView(), left->TransferView(), left->SourceView()}) {
    EXPECT_EQ(view->geometry(), QRect(0, 0, 300, 280)) << view->objectName().toStdString();
  }
  // A pane lower than the strip gives its views no height, not a negative one.
  left->resize(300, 10);
  EXPECT_EQ(left->SourceView()->height(), 0);
}

TEST_F(FrameTest, ToolbarButtonsFollowTheMode) {
  CSFToolBar* bar = frame_->ToolBar();
  EXPECT_EQ(bar->objectName(), "59392");
  EXPECT_EQ(bar->windowTitle(), "工具条");
  struct Case {
    int mode;
    bool dropDown, onlineUsers;
  } cases[] = {{0, false, true}, {4, false, false}, {5, false, false}, {6, true, false}};
  for (const Case& c : cases) {
    frame_->SetToolbarMode(c.mode);
    QApplication::processEvents();
    EXPECT_EQ(frame_->ToolbarMode(), c.mode);
    QToolButton* newChannel = bar->Button(kIdNewChannel);
    ASSERT_NE(newChannel, nullptr);
    EXPECT_EQ(newChannel->text(), "   新建频道   ");
    EXPECT_EQ(newChannel->popupMode() == QToolButton::MenuButtonPopup, c.dropDown) << c.mode;
    EXPECT_EQ(newChannel->menu() != nullptr, c.dropDown) << c.mode;
    QToolButton* online = bar->Button(kIdOnlineUsers);
    ASSERT_NE(online, nullptr);
    EXPECT_EQ(online->isEnabled(), c.onlineUsers) << c.mode;
    // The hand over a button that can be clicked; the arrow elsewhere.
    EXPECT_EQ(online->cursor().shape(), c.onlineUsers ? Qt::PointingHandCursor : Qt::ArrowCursor) << c.mode;
    EXPECT_EQ(newChannel->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(bar->cursor().shape(), Qt::ArrowCursor);
    for (int id : {kIdNewChannel, kIdSystemSettings, kIdOnlineUsers, kIdPlay, kIdShowLog, kIdAppExit}) {
      ASSERT_NE(bar->Button(id), nullptr) << id;
      EXPECT_FALSE(bar->Button(id)->icon().isNull()) << id;
    }
  }
  // The drop-down's menu holds the four kinds of source.
  frame_->SetToolbarMode(6);
  QMenu* menu = bar->Button(kIdNewChannel)->menu();
  ASSERT_EQ(menu->actions().size(), 4);
  EXPECT_EQ(menu->actions()[0]->text(), "设备源");
  EXPECT_EQ(menu->actions()[1]->text(), "网络源");
  EXPECT_EQ(menu->actions()[2]->text(), "文件源");
  EXPECT_EQ(menu->actions()[3]->text(), "其他源");
}

// Every tab switch rebuilds the toolbar: the buttons and separators it
// replaces go with it, so the toolbar holds one set however often the
// operator switches.
TEST_F(FrameTest, TabSwitchesKeepOneSetOfToolbarActions) {
  CSFToolBar* bar = frame_->ToolBar();
  QTabBar* tabs = frame_->LeftPane()->TabCtrl();
  auto actions = [bar] { return bar->findChildren<QAction*>(Qt::FindDirectChildrenOnly).size(); };
  auto buttons = [bar] { return bar->findChildren<QToolButton*>().size(); };
  tabs->setCurrentIndex(1);
  tabs->setCurrentIndex(0);
  QApplication::processEvents();
  const auto oneSetOfActions = actions();
  const auto oneSetOfButtons = buttons();
  // Six buttons, each followed by a separator, and the bar's own toggle.
  EXPECT_EQ(bar->actions().size(), 12);
  EXPECT_LE(oneSetOfActions, 13);
  for (int i = 0; i < 100; ++i) {
    tabs->setCurrentIndex(i % 3);
    QApplication::processEvents();
  }
  EXPECT_EQ(actions(), oneSetOfActions);
  EXPECT_EQ(buttons(), oneSetOfButtons);
  EXPECT_EQ(bar->actions().size(), 12);
  // Still the buttons of the mode shown last, and they still work.
  tabs->setCurrentIndex(0);
  QApplication::processEvents();
  ASSERT_NE(bar->Button(kIdNewChannel), nullptr);
  EXPECT_NE(bar->Button(kIdNewChannel)->menu(), nullptr);
  EXPECT_EQ(frame_->ToolbarMode(), 6);
}

TEST_F(FrameTest, ToolbarPaintsItsGradientAndHostsTheCpuPanel) {
  CSFToolBar* bar = frame_->ToolBar();
  QWidget* panel = bar->CpuPanel();
  ASSERT_NE(panel, nullptr);
  for (int width : {1200, 900, 1500}) {
    frame_->resize(width, 700);
    QApplication::processEvents();
    EXPECT_EQ(panel->geometry().right(), bar->width() - 1) << width;
    EXPECT_EQ(panel->y(), 0);
    EXPECT_EQ(panel->height(), bar->height());
  }
  // Between the last button and the panel the gradient shows: white on top,
  // darker further down.
  QImage image = bar->grab().toImage();
  int x = panel->x() - 4;
  ASSERT_GT(x, bar->Button(kIdAppExit)->geometry().right());
  auto at = [&](int row) {
    ColorRef c = GradientRowColor(kPanelBaseColor, row);
    return QColor(RedOf(c), GreenOf(c), BlueOf(c)).rgb();
  };
  for (int row : {0, 3, 4, 10, bar->height() - 1}) EXPECT_EQ(image.pixel(x, row), at(row)) << row;
  EXPECT_NE(at(0), at(bar->height() - 1));
}

TEST_F(FrameTest, NoToTheCloseQuestionKeepsTheWindowAndTray) {
  int shutdowns = 0;
  frame_->SetShutdownHandler([&] { ++shutdowns; });
  ASSERT_TRUE(frame_->Tray()->isVisible());
  prompt_.answer = false;
  // The toolbar's exit, the tray's exit and the window's own close all ask.
  for (int id : {kIdAppExit, kIdTrayExit}) {
    frame_->OnCommand(id);
    QApplication::processEvents();
  }
  EXPECT_FALSE(frame_->close());
  EXPECT_EQ(prompt_.asked, (std::vector<std::string>(3, "确定退出吗？")));
  EXPECT_TRUE(frame_->isVisible());
  EXPECT_TRUE(frame_->Tray()->isVisible());
  EXPECT_EQ(shutdowns, 0);
  prompt_.answer = true;
  EXPECT_TRUE(frame_->close());
  EXPECT_FALSE(frame_->isVisible());
  EXPECT_FALSE(frame_->Tray()->isVisible());
  EXPECT_EQ(shutdowns, 1);
}

TEST_F(FrameTest, TrayMenuAndMinimising) {
  QMenu* menu = frame_->TrayMenu();
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[0]->text(), "系统设置...");
  EXPECT_EQ(menu->actions()[1]->text(), "退   出");
  EXPECT_EQ(frame_->Tray()->toolTip(), "Velvanet");

  // While a modal dialog is open, the tray cannot start another command.
  bool checked = false;
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    emit menu->aboutToShow();
    for (QAction* a : menu->actions()) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    checked = modal != nullptr;
    if (modal) modal->close();
  });
  QMessageBox box(frame_.get());
  box.setText(QStringLiteral("modal"));
  box.exec();
  EXPECT_TRUE(checked);
  emit menu->aboutToShow();
  for (QAction* a : menu->actions()) EXPECT_TRUE(a->isEnabled());

  // Without a tray, minimising only minimises.
  frame_->SetTrayAvailable([] { return false; });
  frame_->showMinimized();
  QApplication::processEvents();
  QApplication::processEvents();
  EXPECT_TRUE(frame_->isVisible());
  frame_->RestoreFromTray();
  // With one, the window leaves the screen and the task list until the tray
  // icon is double-clicked.
  frame_->SetTrayAvailable([] { return true; });
  frame_->showMinimized();
  EXPECT_TRUE(vvuitest::PumpUntil([&] { return !frame_->isVisible(); }, 5s));
  emit frame_->Tray()->activated(QSystemTrayIcon::Trigger);  // a single click does nothing
  QApplication::processEvents();
  EXPECT_FALSE(frame_->isVisible());
  emit frame_->Tray()->activated(QSystemTrayIcon::DoubleClick);
  QApplication::processEvents();
  EXPECT_TRUE(frame_->isVisible());
  EXPECT_FALSE(frame_->isMinimized());
}

TEST_F(FrameTest, ClockShowsAfterFiveSecondsThenEverySecond) {
  EXPECT_EQ(frame_->ClockPane()->text(), "");
  EXPECT_EQ(frame_->ClockTimer()->interval(), 5000);
  EXPECT_TRUE(frame_->ClockTimer()->isActive());
  frame_->SetClockStart(MonotonicMs() - 3725 * 1000 - 100);
  frame_->OnTimer();
  EXPECT_EQ(frame_->ClockPane()->text(), "已运行-01:02:05");
  EXPECT_EQ(frame_->ClockTimer()->interval(), 1000);
  frame_->SetClockStart(MonotonicMs() - 360000LL * 1000);
  frame_->OnTimer();
  EXPECT_EQ(frame_->ClockPane()->text(), "已运行-100:00:00");
  // The pane sits in the status bar (id 59393).
  EXPECT_EQ(frame_->ClockPane()->parentWidget()->objectName(), "59393");
}

TEST_F(FrameTest, PlayerAndHelpStartDetachedWithoutTheInstanceLock) {
  TempDir dir("vv-frame");
  // Fake player and desktop opener on PATH record how they were started.
  std::string bin = dir.file("bin");
  vvtest::Run("mkdir -p " + ShellQuote(bin));
  auto script = [&](const std::string& name, const std::string& body) {
    std::string path = bin + "/" + name;
    FILE* f = fopen(path.c_str(), "w");
    fprintf(f, "#!/bin/sh\n%s\n", body.c_str());
    fclose(f);
    vvtest::Run("chmod +x " + ShellQuote(path));
  };
  script("test.exe", "ls -l /proc/$$/fd > " + ShellQuote(dir.file("player.fds")) + "; echo done >> " +
                         ShellQuote(dir.file("player.fds")));
  script("xdg-open", "printf '%s|' \"$@\" > " + ShellQuote(dir.file("opened")));
  std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
  SingleInstanceLock lock;
  ASSERT_EQ(lock.Acquire(dir.file("velvanet.lock")), SingleInstanceLock::kAcquired);

  frame_->OnCommand(kIdPlay);
  EXPECT_TRUE(vvtest::WaitFor([&] { return vvtest::ReadFileText(dir.file("player.fds")).find("done") != std::string::npos; }, 10s));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("player.fds")).find("velvanet.lock"), std::string::npos)
      << vvtest::ReadFileText(dir.file("player.fds"));

  // Help: nothing without help.chm in the program folder, the desktop opener
  // with the file as its one argument when there is one.
  std::string folder = dir.file("program folder; $(x)");
  vvtest::Run("mkdir -p " + ShellQuote(folder));
  SetAppDir(folder);
  frame_->OnCommand(kIdHelp);
  vvtest::Run("touch " + ShellQuote(folder + "/help.chm"));
  std::this_thread::sleep_for(300ms);  // nothing may have been started meanwhile
  EXPECT_EQ(vvtest::ReadFileText(dir.file("opened")), "");
  frame_->OnCommand(kIdHelp);
  EXPECT_TRUE(vvtest::WaitFor([&] { return !vvtest::ReadFileText(dir.file("opened")).empty(); }, 10s));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("opened")), folder + "/help.chm|");
  SetAppDir("");
  setenv("PATH", oldPath.c_str(), 1);
  // A missing player is ignored.
  setenv("PATH", dir.file("empty").c_str(), 1);
  frame_->OnCommand(kIdPlay);
  setenv("PATH", oldPath.c_str(), 1);
}

TEST_F(FrameTest, IxoMessagesShowAsMessageBoxesOnTheWindowThread) {
  InstallIxoNoticeBoxes(frame_.get());
  std::string seen;
  std::atomic<bool> sent{false};
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box && box->isVisible()) {
        // Shown on this (the main) thread.
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        seen = box->text().toStdString();
        box->close();
      }
    }
  });
  poll.start();
  std::thread worker([&] {
    IxoNotice("error when bind port");
    sent = true;
  });
  worker.join();  // the link's thread does not wait for the operator
  EXPECT_TRUE(sent);
  EXPECT_TRUE(vvuitest::PumpUntil([&] { return seen == "error when bind port"; }));
  RemoveIxoNoticeBoxes();
}

TEST_F(FrameTest, TerminationSignalClosesWithoutTheQuestion) {
  int shutdowns = 0;
  frame_->SetShutdownHandler([&] { ++shutdowns; });
  TerminationWatcher watcher(frame_.get());
  prompt_.answer = false;
  raise(SIGTERM);
  EXPECT_TRUE(vvuitest::PumpUntil([&] { return shutdowns == 1; }));
  EXPECT_EQ(watcher.LastSignal(), SIGTERM);
  EXPECT_TRUE(prompt_.asked.empty());
  EXPECT_FALSE(frame_->isVisible());
  EXPECT_FALSE(frame_->Tray()->isVisible());
}

TEST(AboutBox, TextsLinksAndBuildLine) {
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), "关于Velvanet");
  QStringList texts;
  for (QLabel* l : about.findChildren<QLabel*>()) texts << l->text();
  EXPECT_TRUE(texts.contains("版本号:2.2.0.1"));
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(about.Link(i), nullptr);
    EXPECT_EQ(about.Link(i)->objectName(), QString::number(1069 + i));
    EXPECT_FALSE(about.Link(i)->GetURL().isEmpty());
  }
  EXPECT_EQ(about.BuildLabel()->objectName(), "1074");
  EXPECT_TRUE(about.BuildLabel()->text().startsWith("Build: "));
  EXPECT_EQ(AboutBuildText("nonsense", "x"), "Build: nonsense x");
  EXPECT_NE(AboutBuildText("Dec 10 2026", "16:04:27").indexOf("2026"), -1);
}
