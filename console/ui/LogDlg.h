#pragma once
// The log dialog "日志列表": the tail of the program's log, newest line
// first, kept current while the dialog is open. A watcher thread reads the
// file; its text reaches the view through a queued call on the window's
// thread, and the watcher is joined before the dialog goes.
#include <QDialog>
#include <string>

#include "console/logic/LogTail.h"

class QPlainTextEdit;

namespace vvconsole {

class CLogDlg : public QDialog {
  Q_OBJECT

 public:
  // path: the log file (empty: the program's log).
  explicit CLogDlg(QWidget* parent = nullptr, const std::string& path = std::string());
  ~CLogDlg() override;

  QPlainTextEdit* View() const { return view_; }
  // Times the view has been filled (tests wait on it).
  int Loads() const { return loads_; }

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetText(const std::string& text);

  std::string path_;
  QPlainTextEdit* view_;
  logtail::LogWatcher watcher_;
  bool started_ = false;
  int loads_ = 0;
};

}  // namespace vvconsole
