// The main window on each of its tabs, and the about box.
#include <QTabBar>

#include "console/logic/Prompt.h"
#include "console/ui/AboutDlg.h"
#include "console/ui/MainFrame.h"
#include "tests/console/screens/Screens.h"

namespace {

// The runner closes each window after its shot: the frame is let go
// without its question.
struct YesPrompt : IPrompt {
  void Message(const std::string&) override {}
  bool Ask(const std::string&) override { return true; }
};

QWidget* FrameOnTab(int tab) {
  static YesPrompt yes;
  auto* frame = new vvconsole::CMainFrame();
  frame->SetPrompt(&yes);
  frame->resize(1280, 800);
  frame->Create();
  frame->setWindowTitle(QStringLiteral("Velvanet-直播转发服务器"));
  frame->SetClockStart(vvconsole::MonotonicMs() - 3725 * 1000);
  frame->OnTimer();
  frame->LeftPane()->TabCtrl()->setCurrentIndex(tab);
  return frame;
}

}  // namespace

VV_SCREEN("main_sources") { return FrameOnTab(0); }
VV_SCREEN("main_ixo_pull") { return FrameOnTab(1); }
VV_SCREEN("main_transcode") { return FrameOnTab(2); }
VV_SCREEN("about") { return new vvconsole::CAboutDlg(); }
