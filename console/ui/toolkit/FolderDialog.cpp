#include "console/ui/toolkit/FolderDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QDialog>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace vvconsole {

namespace {

QString Clean(const QString& path) {
  QString p = QDir::cleanPath(QDir(path).absolutePath());
  return p;
}

bool Inside(const QString& dir, const QString& root) {
  const QString d = Clean(dir);
  const QString r = Clean(root);
  return d == r || r == "/" || d.startsWith(r + '/');
}

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kFilledRole = Qt::UserRole + 2;

// A tree of folders from the root down, each listed when first opened, with
// the title above it, a status line and an edit box as the flags ask, and
// OK and Cancel. Everything runs on the calling thread.
class FolderBrowserDialog : public QDialog {
 public:
  FolderBrowserDialog(FolderChooser& chooser, IFolderBrowser& browser, QWidget* parent)
      : QDialog(parent), chooser_(chooser), browser_(browser) {
    setObjectName(QStringLiteral("folderBrowser"));
    setWindowTitle(QStringLiteral("浏览文件夹"));
    auto* lay = new QVBoxLayout(this);
    auto* title = new QLabel(QString::fromStdString(chooser.Title()));
    title->setObjectName(QStringLiteral("title"));
    title->setWordWrap(true);
    lay->addWidget(title);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setVisible(chooser.Flags() & kBifStatusText);
    lay->addWidget(status_);
    tree_ = new QTreeWidget;
    tree_->setObjectName(QStringLiteral("folders"));
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    lay->addWidget(tree_, 1);
    edit_ = new QLineEdit;
    edit_->setObjectName(QStringLiteral("folderName"));
    edit_->setVisible(chooser.Flags() & kBifEditBox);
    lay->addWidget(edit_);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons_->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    lay->addWidget(buttons_);
    connect(buttons_, &QDialogButtonBox::accepted, this, &FolderBrowserDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &FolderBrowserDialog::reject);

    root_ = chooser.RootFolder() ? QString::fromStdString(*chooser.RootFolder()) : QString("/");
    auto* top = MakeItem(root_, root_ == "/" ? QStringLiteral("/") : QFileInfo(root_).fileName());
    tree_->addTopLevelItem(top);
    Fill(top);
    top->setExpanded(true);
    connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { Fill(item); });
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
      if (!item) return;
      const QString path = item->data(0, kPathRole).toString();
      edit_->setText(item->text(0));
      const FolderItem f{QUrl::fromLocalFile(path).toString().toStdString(), path.toStdString()};
      chooser_.Callback(browser_, kBffmSelChanged, &f);
    });
    resize(420, 460);
  }

  QLabel* Status() const { return status_; }
  QPushButton* OkButton() const { return buttons_->button(QDialogButtonBox::Ok); }
  QTreeWidget* Tree() const { return tree_; }

  // The item of a folder below the root, listing the folders on the way;
  // null for a folder that is not there or not below the root.
  QTreeWidgetItem* Find(const QString& path) {
    if (!QFileInfo(path).isDir() || !Inside(path, root_)) return nullptr;
    const QString target = Clean(path);
    QTreeWidgetItem* item = tree_->topLevelItem(0);
    while (item) {
      const QString here = item->data(0, kPathRole).toString();
      if (here == target) return item;
      Fill(item);
      QTreeWidgetItem* next = nullptr;
      for (int i = 0; i < item->childCount() && !next; ++i) {
        const QString child = item->child(i)->data(0, kPathRole).toString();
        if (Inside(target, child)) next = item->child(i);
      }
      item = next;
    }
    return nullptr;
  }

  void Select(QTreeWidgetItem* item) {
    for (QTreeWidgetItem* p = item->parent(); p; p = p->parent()) p->setExpanded(true);
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
  }

  void accept() override {
    QTreeWidgetItem* current = tree_->currentItem();
    QString path = current ? current->data(0, kPathRole).toString() : QString();
    const QString typed = edit_->isVisible() ? edit_->text().trimmed() : QString();
    if (!typed.isEmpty() && (!current || typed != current->text(0))) {
      // A typed name: absolute, or a folder inside the selected one.
      const QString named = QDir::isAbsolutePath(typed) || !current
                                ? typed
                                : current->data(0, kPathRole).toString() + "/" + typed;
      if (QFileInfo(named).isDir()) {
        path = Clean(named);
      } else if (chooser_.Flags() & kBifValidate) {
        if (chooser_.Callback(browser_, kBffmValidateFailed, nullptr, typed.toStdString()) != 0)
          return;
      }
    }
    if (path.isEmpty()) return;
    chosen_ = path;
    QDialog::accept();
  }

  QString Chosen() const { return chosen_; }

 protected:
  void showEvent(QShowEvent* e) override {
    QDialog::showEvent(e);
    if (!initialised_) {
      initialised_ = true;
      chooser_.Callback(browser_, kBffmInitialized, nullptr);
    }
  }

 private:
  QTreeWidgetItem* MakeItem(const QString& path, const QString& name) {
    auto* item = new QTreeWidgetItem(QStringList{name});
    item->setData(0, kPathRole, Clean(path));
    item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    // The expand mark only on folders that hold folders.
    QDirIterator sub(path, QDir::Dirs | QDir::NoDotAndDotDot);
    item->setChildIndicatorPolicy(sub.hasNext() ? QTreeWidgetItem::ShowIndicator
                                                : QTreeWidgetItem::DontShowIndicator);
    return item;
  }

  void Fill(QTreeWidgetItem* item) {
    if (item->data(0, kFilledRole).toBool()) return;
    item->setData(0, kFilledRole, true);
    const QDir dir(item->data(0, kPathRole).toString());
    const QFileInfoList subs =
        dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& sub : subs) item->addChild(MakeItem(sub.absoluteFilePath(), sub.fileName()));
    if (subs.isEmpty()) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
  }

  FolderChooser& chooser_;
  IFolderBrowser& browser_;
  QString root_;
  QLabel* status_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  bool initialised_ = false;
  QString chosen_;
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
    return FolderItem{QUrl::fromLocalFile(dlg.Chosen()).toString().toStdString(),
                      dlg.Chosen().toStdString()};
  }

  void SetStatusText(const std::string& text) override {
    if (dlg_) dlg_->Status()->setText(QString::fromStdString(text));
  }
  void EnableOk(bool enable) override {
    if (dlg_) dlg_->OkButton()->setEnabled(enable);
  }
  // A folder that does not exist (or lies outside the root) leaves the
  // selection as it is.
  void SetSelection(const std::string& path) override {
    if (!dlg_) return;
    if (QTreeWidgetItem* item = dlg_->Find(QString::fromStdString(path))) dlg_->Select(item);
  }
  void SetOkText(const std::string& text) override {
    if (dlg_) dlg_->OkButton()->setText(QString::fromStdString(text));
  }
  void SetExpanded(const std::string& path) override {
    if (!dlg_) return;
    if (QTreeWidgetItem* item = dlg_->Find(QString::fromStdString(path))) {
      for (QTreeWidgetItem* p = item; p; p = p->parent()) p->setExpanded(true);
    }
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
