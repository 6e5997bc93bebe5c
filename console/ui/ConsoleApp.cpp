#include "console/ui/ConsoleApp.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <QSocketNotifier>

#include "console/logic/FrameModel.h"
#include "console/logic/Startup.h"
#include "console/ui/MainFrame.h"
#include "console/ui/MainThreadCall.h"
#include "console/ui/MessageBox.h"
#include "core/DatabaseManager.h"
#include "core/Log.h"
#include "ixolink/IxoNotice.h"
#include "platform/TerminationSignals.h"

static void InitConsoleResources() { Q_INIT_RESOURCE(console); }

namespace vvconsole {

namespace {

QPointer<QWidget> g_noticeParent;  // main thread only
bool g_noticeParentSet = false;

// The start-up host: the main frame.
class FrameHost : public IStartupHost {
 public:
  bool CreateFrame() override {
    frame_ = new CMainFrame();
    // The frame's panes take a third of a window the size it will have
    // when maximised.
    frame_->resize(frame_->screen() ? frame_->screen()->availableSize() : QSize(1280, 800));
    return frame_->Create();
  }
  void ShowFrame() override {
    frame_->showMaximized();
    frame_->setWindowTitle(QString::fromUtf8(kCaption));
  }
  void StartEngines() override { vvconsole::StartEngines(); }
  CMainFrame* frame() const { return frame_; }

 private:
  CMainFrame* frame_ = nullptr;
};

}  // namespace

void InstallIxoNoticeBoxes(QWidget* parent) {
  g_noticeParent = parent;
  g_noticeParentSet = parent != nullptr;
  SetIxoNoticeHook([](const std::string& text) {
    LogWarn("%s", text.c_str());
    // Runs on the link's thread: only the queued call crosses over.
    PostToMainThread(qApp, [text] {
      // A parent that has gone meanwhile: the box stands alone.
      QWidget* parent = g_noticeParent.data();
      ShowMessage(parent, text);
    });
  });
}

void RemoveIxoNoticeBoxes() {
  SetIxoNoticeHook(nullptr);
  g_noticeParent = nullptr;
}

TerminationWatcher::TerminationWatcher(CMainFrame* frame, QObject* parent) : QObject(parent), frame_(frame) {
  fd_ = InstallTerminationPipe();
  if (fd_ < 0) return;
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationWatcher::OnReadable);
}

void TerminationWatcher::OnReadable() {
  int sig = 0;
  while (int s = TakeTerminationSignal(fd_)) sig = s;
  if (!sig) return;
  last_ = sig;
  LogInfo("signal %d: closing", sig);
  if (frame_ && !frame_->IsClosing()) {
    frame_->CloseWithoutQuestion();
  } else if (!frame_) {
    QCoreApplication::quit();
  }
}

int RunConsole(int argc, char** argv) {
  // First the log and the crash handler, as the program's very first acts.
  BeginProgram();
  QApplication app(argc, argv);
  InitConsoleResources();
  QApplication::setApplicationName(QStringLiteral("Velvanet"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/console/velvanet.svg")));
  // Closing the frame is a decision of its own (the question, the tray):
  // the last window closing does not end the program.
  QApplication::setQuitOnLastWindowClosed(false);

  // The database manager first, then the start-up object holding the
  // connection: at exit the engine's own exit handler (made later) ends the
  // engine first, then the connection closes, then the manager goes.
  CDatabaseManager::Instance();
  static ConsoleStartup startup;
  MessageBoxPrompt prompt(nullptr);
  FrameHost host;
  // Texts from the Ixo link may come as soon as it starts.
  InstallIxoNoticeBoxes(nullptr);
  StartupResult result = startup.Run(prompt, host);
  if (result != StartupResult::kStarted) {
    RemoveIxoNoticeBoxes();
    delete host.frame();
    LogError("start-up ended (%d)", static_cast<int>(result));
    return 1;
  }
  CMainFrame* frame = host.frame();
  g_noticeParent = frame;
  TerminationWatcher watcher(frame);
  frame->SetShutdownHandler([] {
    LogInfo("Velvanet closing");
    // No new pulls, sessions or registrations from here on; then the
    // message loop ends.
    StopIxoLink();
    RemoveIxoNoticeBoxes();
    QCoreApplication::quit();
  });
  int rc = app.exec();
  delete frame;
  // The live-channel manager ends with the process (its exit handler):
  // every source and output is closed, recordings are finished.
  LogInfo("Velvanet exit");
  return rc;
}

}  // namespace vvconsole
