#include "console/ui/LogDlg.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/ui/ConsoleWindows.h"
#include "console/ui/MainThreadCall.h"
#include "core/Log.h"

namespace vvconsole {

CLogDlg::CLogDlg(QWidget* parent, const std::string& path)
    : QDialog(parent), path_(path.empty() ? GetLogFileName() : path) {
  setObjectName(QStringLiteral("221"));
  setWindowTitle(QStringLiteral("日志列表"));
  view_ = new QPlainTextEdit(this);
  view_->setObjectName(QStringLiteral("1165"));
  view_->setReadOnly(true);
  view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* clear = new QPushButton(QStringLiteral("清除"), this);
  clear->setObjectName(QStringLiteral("1129"));
  auto* close = new QPushButton(QStringLiteral("关闭"), this);
  close->setObjectName(QStringLiteral("2"));
  // Clears what the view shows; the file stays, and the next change of the
  // log fills the view again.
  connect(clear, &QPushButton::clicked, view_, &QPlainTextEdit::clear);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(clear);
  buttons->addWidget(close);
  auto* top = new QVBoxLayout(this);
  top->addWidget(view_);
  top->addLayout(buttons);
  resize(760, 480);
}

CLogDlg::~CLogDlg() { watcher_.Stop(); }

void CLogDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  watcher_.Start(path_, [this](const std::string& text) {
    // The dialog outlives the watcher (it is joined before the dialog goes),
    // and a call still queued when the dialog is deleted is dropped with it.
    PostToMainThread(this, [this, text] { SetText(text); });
  });
}

void CLogDlg::done(int result) {
  watcher_.Stop();
  QDialog::done(result);
}

void CLogDlg::SetText(const std::string& text) {
  view_->setPlainText(QString::fromStdString(text));
  ++loads_;
}

void RunLogDialog(QWidget* parent) {
  CLogDlg dialog(parent);
  dialog.exec();
}

}  // namespace vvconsole
