// The folder chooser's browser: results, the start folder, status text,
// the root, typed names and validation, and long paths.
#include <gtest/gtest.h>

#include <QDir>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QLabel>
#include <QLineEdit>
#include <filesystem>

#include "console/ui/toolkit/FolderDialog.h"
#include "tests/console/ui/ToolkitEvents.h"
#include "tests/tools/TestUtil.h"

using vvconsole::CFolderDialog;

namespace {

// A folder tree for the dialog: base/a/b and a path far longer than 260.
class FolderDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = QString::fromStdString(dir_.path());
    std::filesystem::create_directories(dir_.file("a/b"));
    deep_ = base_;
    while (deep_.size() < 600) deep_ += "/" + QString(50, QChar('x'));
    std::filesystem::create_directories(deep_.toStdString());
  }
  vvtest::TempDir dir_{"vvfolderdlg"};
  QString base_;
  QString deep_;
};

struct Recording : CFolderDialog {
  using CFolderDialog::CFolderDialog;
  int initialised = 0;
  QStringList selections;
  int validations = 0;
  int answer = 1;
  void OnInitialized() override {
    ++initialised;
    CFolderDialog::OnInitialized();
    SetOkText("选择");
  }
  void OnSelChanged(const FolderItem& item) override {
    if (item.path) selections << QString::fromStdString(*item.path);
    CFolderDialog::OnSelChanged(item);
  }
  int OnValidateFailed(const std::string& text) override {
    ++validations;
    CFolderDialog::OnValidateFailed(text);
    return answer;
  }
};

QString CurrentPath(QDialog* dlg) {
  QTreeWidgetItem* item = dlg->findChild<QTreeWidget*>("folders")->currentItem();
  return item ? item->data(0, Qt::UserRole + 1).toString() : QString();
}

TEST_F(FolderDialogTest, ChoosesTheStartFolderWithStatusText) {
  Recording dlg("选择录制文件夹", base_ + "/a/b", nullptr, kBifStatusText);
  QString title, status, okText, current;
  vvtoolkit::WhenModal<QDialog>([&](QDialog* fd) {
    title = fd->findChild<QLabel*>("title")->text();
    okText = fd->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->text();
    current = CurrentPath(fd);
    status = fd->findChild<QLabel*>("status")->text();
    fd->accept();
  });
  EXPECT_EQ(dlg.DoModal(), kFolderIdOk);
  EXPECT_EQ(dlg.FolderPath(), base_ + "/a/b");
  EXPECT_EQ(title, "选择录制文件夹");
  EXPECT_EQ(okText, "选择");
  EXPECT_EQ(current, base_ + "/a/b");
  EXPECT_EQ(dlg.initialised, 1);
  EXPECT_EQ(status, base_ + "/a/b");
  EXPECT_TRUE(dlg.selections.contains(base_ + "/a/b"));
}

TEST_F(FolderDialogTest, CancelLeavesThePath) {
  CFolderDialog dlg("t", base_);
  vvtoolkit::WhenModal<QDialog>([](QDialog* fd) { fd->reject(); });
  EXPECT_EQ(dlg.DoModal(), kFolderIdCancel);
  EXPECT_EQ(dlg.FolderPath(), "");
}

TEST_F(FolderDialogTest, AMissingStartFolderLeavesTheDefaultSelection) {
  Recording dlg("t", base_ + "/no/such/folder", nullptr, kBifStatusText);
  ASSERT_TRUE(dlg.SetRootFolder(base_));
  QString current, status;
  vvtoolkit::WhenModal<QDialog>([&](QDialog* fd) {
    current = CurrentPath(fd);
    status = fd->findChild<QLabel*>("status")->text();
    fd->reject();
  });
  EXPECT_EQ(dlg.DoModal(), kFolderIdCancel);
  EXPECT_TRUE(current.isEmpty() || current == base_) << current.toStdString();
  EXPECT_NE(status, base_ + "/no/such/folder");
}

TEST_F(FolderDialogTest, TheRootIsTheTopOfTheTree) {
  struct AboveRoot : Recording {
    using Recording::Recording;
    QString above;
    void OnInitialized() override { SetSelection(above.toStdString()); }
  } dlg("t", QString());
  dlg.above = base_;
  ASSERT_TRUE(dlg.SetRootFolder(base_ + "/a"));
  QString top, current;
  vvtoolkit::WhenModal<QDialog>([&](QDialog* fd) {
    auto* tree = fd->findChild<QTreeWidget*>("folders");
    top = tree->topLevelItem(0)->data(0, Qt::UserRole + 1).toString();
    current = CurrentPath(fd);
    ASSERT_EQ(tree->topLevelItem(0)->childCount(), 1);
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    fd->accept();
  });
  EXPECT_EQ(dlg.DoModal(), kFolderIdOk);
  EXPECT_EQ(top, base_ + "/a");
  EXPECT_NE(current, base_);  // a folder above the root is not selected
  EXPECT_EQ(dlg.FolderPath(), base_ + "/a/b");
  EXPECT_FALSE(dlg.SetRootFolder(base_ + "/missing"));
  EXPECT_TRUE(dlg.SetRootFolder(QString()));
}

TEST_F(FolderDialogTest, TypedNamesAndValidation) {
  Recording dlg("t", base_, nullptr, kBifEditBox | kBifValidate);
  bool stillOpen = false;
  vvtoolkit::WhenModal<QDialog>([&](QDialog* fd) {
    auto* edit = fd->findChild<QLineEdit*>("folderName");
    edit->setText("nonexistent");
    fd->accept();
    stillOpen = fd->isVisible() && fd->result() != QDialog::Accepted;
    edit->setText("a");  // a folder inside the selected one
    fd->accept();
  });
  EXPECT_EQ(dlg.DoModal(), kFolderIdOk);
  EXPECT_EQ(dlg.validations, 1);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(dlg.FolderPath(), base_ + "/a");

  // Answered 0, the browser closes on the folder it shows.
  Recording lenient("t", base_ + "/a", nullptr, kBifEditBox | kBifValidate);
  lenient.answer = 0;
  vvtoolkit::WhenModal<QDialog>([&](QDialog* fd) {
    fd->findChild<QLineEdit*>("folderName")->setText("nonexistent");
    fd->accept();
  });
  EXPECT_EQ(lenient.DoModal(), kFolderIdOk);
  EXPECT_EQ(lenient.FolderPath(), base_ + "/a");
}

TEST_F(FolderDialogTest, OkCanBeDisabledFromACallback) {
  struct NoOk : CFolderDialog {
    using CFolderDialog::CFolderDialog;
    void OnInitialized() override { EnableOk(false); }
  } dlg("t", base_);
  bool enabled = true;
  vvtoolkit::WhenModal<QDialog>([&](QDialog* fd) {
    enabled = fd->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled();
    fd->reject();
  });
  dlg.DoModal();
  EXPECT_FALSE(enabled);
}

TEST_F(FolderDialogTest, PathsLongerThanTheOldBuffers) {
  Recording dlg("t", deep_, nullptr, kBifStatusText);
  ASSERT_TRUE(dlg.SetRootFolder(base_));
  QString status;
  vvtoolkit::WhenModal<QDialog>([&](QDialog* fd) {
    status = fd->findChild<QLabel*>("status")->text();
    fd->accept();
  });
  EXPECT_EQ(dlg.DoModal(), kFolderIdOk);
  EXPECT_EQ(dlg.FolderPath(), deep_);
  EXPECT_GT(dlg.FolderPath().size(), 600);
  EXPECT_EQ(status, deep_);
}

}  // namespace
