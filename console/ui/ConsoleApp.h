#pragma once
// The running program around the main frame: start-up with the frame as
// its host, the Ixo link's messages shown as message boxes on the window's
// thread, termination signals taking the close road without the question,
// and shutdown (the Ixo link first; the engine ends as the process exits).
#include <QObject>
#include <QPointer>
#include <functional>

class QSocketNotifier;

namespace vvconsole {

class CMainFrame;

// Shows the Ixo link's operator messages over parent (null: no parent). The
// hook hands the text to the main thread by a queued call; uninstall it
// (with RemoveIxoNoticeBoxes) only once the link's threads have ended.
void InstallIxoNoticeBoxes(QWidget* parent);
void RemoveIxoNoticeBoxes();

// SIGTERM, SIGINT and SIGHUP close the frame without asking.
class TerminationWatcher : public QObject {
  Q_OBJECT

 public:
  TerminationWatcher(CMainFrame* frame, QObject* parent = nullptr);
  int LastSignal() const { return last_; }

 private:
  void OnReadable();
  QPointer<CMainFrame> frame_;
  QSocketNotifier* notifier_ = nullptr;
  int fd_ = -1;
  int last_ = 0;
};

// The whole program: start-up, the message loop, shutdown. The exit code.
int RunConsole(int argc, char** argv);

}  // namespace vvconsole
