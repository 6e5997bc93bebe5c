#include "console/ui/toolkit/FolderDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace vvconsole {

namespace {

FolderItem ItemOf(const QUrl& url) {
  FolderItem item;
  item.address = url.toString().toStdString();
  if (url.isLocalFile()) item.path = QDir::cleanPath(url.toLocalFile()).toStdString();
  return item;
}

bool Inside(const QString& dir, const QString& root) {
  const QString d = QDir::cleanPath(dir);
  const QString r = QDir::cleanPath(root);
  return d == r || d.startsWith(r.endsWith('/') ? r : r + '/');
}

// Qt's file dialog in folder mode, reporting to the chooser.
class FolderBrowserDialog : public QFileDialog {
 public:
  FolderBrowserDialog(FolderChooser& chooser, IFolderBrowser& browser, QWidget* parent)
      : QFileDialog(parent), chooser_(chooser), browser_(browser) {
    setObjectName(QStringLiteral("folderBrowser"));
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ShowDirsOnly, true);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowTitle(QString::fromStdString(chooser.Title()));
    if (const auto& root = chooser.RootFolder()) {
      root_ = QString::fromStdString(*root);
      setDirectory(root_);
      setSidebarUrls({QUrl::fromLocalFile(root_)});
      // Nothing above the root.
      connect(this, &QFileDialog::directoryEntered, this, [this](const QString& dir) {
        if (!Inside(dir, root_)) setDirectory(root_);
      });
    }
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setVisible(chooser.Flags() & kBifStatusText);
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
      grid->addWidget(status_, grid->rowCount(), 0, 1, grid->columnCount());
    }
    connect(this, &QFileDialog::currentUrlChanged, this, &FolderBrowserDialog::ReportSelection);
    connect(this, &QFileDialog::directoryUrlEntered, this, &FolderBrowserDialog::ReportSelection);
  }

  // The selection moved (by the user, or by a command).
  void ReportSelection(const QUrl& url) {
    const FolderItem item = ItemOf(url);
    chooser_.Callback(browser_, kBffmSelChanged, &item);
    ApplyOk();
  }

  QLabel* Status() const { return status_; }
  void SetOkEnabled(bool on) {
    okEnabled_ = on;
    ApplyOk();
  }
  void ApplyOk() {
    // The dialog enables its button as the typed text changes; ours wins.
    if (okEnabled_) return;
    if (auto* box = findChild<QDialogButtonBox*>()) {
      for (QAbstractButton* b : box->buttons()) {
        if (box->buttonRole(b) == QDialogButtonBox::AcceptRole) b->setEnabled(false);
      }
    }
  }

  void accept() override {
    if (!okEnabled_) return;
    const QStringList files = selectedFiles();
    const QString typed = files.isEmpty() ? QString() : files.first();
    if (!typed.isEmpty() && !QFileInfo(typed).isDir()) {
      if (chooser_.Callback(browser_, kBffmValidateFailed, nullptr, typed.toStdString()) != 0)
        return;
      // Answered 0: the browser closes on the folder it shows.
      chosen_ = QUrl::fromLocalFile(directory().absolutePath());
      QDialog::accept();
      return;
    }
    const QList<QUrl> urls = selectedUrls();
    chosen_ = urls.isEmpty() ? directoryUrl() : urls.first();
    QFileDialog::accept();
  }

  QUrl Chosen() const { return chosen_; }

 protected:
  void showEvent(QShowEvent* e) override {
    QFileDialog::showEvent(e);
    if (!initialised_) {
      initialised_ = true;
      chooser_.Callback(browser_, kBffmInitialized, nullptr);
    }
  }

 private:
  FolderChooser& chooser_;
  IFolderBrowser& browser_;
  QString root_;
  QLabel* status_ = nullptr;
  bool okEnabled_ = true;
  bool initialised_ = false;
  QUrl chosen_;
};

// The chooser's view of the open dialog.
class QtFolderBrowser : public IFolderBrowser {
 public:
  explicit QtFolderBrowser(QWidget* parent) : parent_(parent) {}

  std::optional<FolderItem> Run(FolderChooser& chooser) override {
    FolderBrowserDialog dlg(chooser, *this, parent_);
    dlg_ = &dlg;
    const int r = dlg.exec();
    dlg_ = nullptr;
    if (r != QDialog::Accepted) return std::nullopt;
    return ItemOf(dlg.Chosen());
  }

  void SetStatusText(const std::string& text) override {
    if (dlg_) dlg_->Status()->setText(QString::fromStdString(text));
  }
  void EnableOk(bool enable) override {
    if (!dlg_) return;
    dlg_->SetOkEnabled(enable);
    if (enable) {
      if (auto* box = dlg_->findChild<QDialogButtonBox*>()) {
        for (QAbstractButton* b : box->buttons()) {
          if (box->buttonRole(b) == QDialogButtonBox::AcceptRole) b->setEnabled(true);
        }
      }
    }
  }
  void SetSelection(const std::string& path) override {
    // A folder that does not exist leaves the dialog's own selection.
    const QString p = QString::fromStdString(path);
    if (!dlg_ || !QFileInfo(p).isDir()) return;
    const QFileInfo info(p);
    dlg_->setDirectory(info.absoluteDir());
    dlg_->selectFile(info.absoluteFilePath());
    dlg_->ReportSelection(QUrl::fromLocalFile(info.absoluteFilePath()));
  }
  void SetOkText(const std::string& text) override {
    if (dlg_) dlg_->setLabelText(QFileDialog::Accept, QString::fromStdString(text));
  }
  void SetExpanded(const std::string& path) override {
    const QString p = QString::fromStdString(path);
    if (dlg_ && QFileInfo(p).isDir()) dlg_->setDirectory(p);
  }

 private:
  QWidget* parent_;
  FolderBrowserDialog* dlg_ = nullptr;
};

}  // namespace

CFolderDialog::CFolderDialog(const QString& title, const QString& startFolder, QWidget* parent,
                             unsigned flags)
    : FolderChooser(title.toStdString(),
                    startFolder.isNull() ? std::nullopt
                                         : std::optional<std::string>(startFolder.toStdString()),
                    flags),
      parent_(parent) {}

int CFolderDialog::DoModal() {
  QtFolderBrowser browser(parent_);
  return FolderChooser::DoModal(browser);
}

bool CFolderDialog::SetRootFolder(const QString& path) {
  return FolderChooser::SetRootFolder(path.isNull() ? std::nullopt
                                                    : std::optional<std::string>(path.toStdString()));
}

void CFolderDialog::ErrorBeep() { QApplication::beep(); }

}  // namespace vvconsole
