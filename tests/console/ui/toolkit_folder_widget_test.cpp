// The folder chooser on Qt's own file dialog: results, the start folder,
// status text, the root, validation and long paths.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
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

TEST_F(FolderDialogTest, ChoosesTheStartFolderWithStatusText) {
  Recording dlg("选择录制文件夹", base_ + "/a/b", nullptr, kBifStatusText);
  QString title, status, okText;
  vvtoolkit::WhenModal<QFileDialog>([&](QFileDialog* fd) {
    title = fd->windowTitle();
    okText = fd->labelText(QFileDialog::Accept);
    EXPECT_EQ(fd->selectedFiles().value(0), base_ + "/a/b");
    status = fd->findChild<QLabel*>("status")->text();
    static_cast<QDialog*>(fd)->accept();
  });
  EXPECT_EQ(dlg.DoModal(), kFolderIdOk);
  EXPECT_EQ(dlg.FolderPath(), base_ + "/a/b");
  EXPECT_EQ(title, "选择录制文件夹");
  EXPECT_EQ(okText, "选择");
  EXPECT_EQ(dlg.initialised, 1);
  EXPECT_EQ(status, base_ + "/a/b");
}

TEST_F(FolderDialogTest, CancelLeavesThePath) {
  CFolderDialog dlg("t", base_);
  vvtoolkit::WhenModal<QFileDialog>([](QFileDialog* fd) { fd->reject(); });
  EXPECT_EQ(dlg.DoModal(), kFolderIdCancel);
  EXPECT_EQ(dlg.FolderPath(), "");
}

TEST_F(FolderDialogTest, AMissingStartFolderLeavesTheDefaultSelection) {
  Recording dlg("t", base_ + "/no/such/folder");
  ASSERT_TRUE(dlg.SetRootFolder(base_));
  QString shown;
  vvtoolkit::WhenModal<QFileDialog>([&](QFileDialog* fd) {
    shown = fd->directory().absolutePath();
    fd->reject();
  });
  EXPECT_EQ(dlg.DoModal(), kFolderIdCancel);
  EXPECT_EQ(shown, base_);
}

TEST_F(FolderDialogTest, TheRootKeepsTheBrowserBelowIt) {
  CFolderDialog dlg("t", QString());
  ASSERT_TRUE(dlg.SetRootFolder(base_ + "/a"));
  QString afterUp;
  vvtoolkit::WhenModal<QFileDialog>([&](QFileDialog* fd) {
    EXPECT_EQ(fd->directory().absolutePath(), base_ + "/a");
    fd->setDirectory(base_);  // what "up" does
    emit fd->directoryEntered(base_);
    afterUp = fd->directory().absolutePath();
    fd->reject();
  });
  dlg.DoModal();
  EXPECT_EQ(afterUp, base_ + "/a");
  EXPECT_FALSE(dlg.SetRootFolder(base_ + "/missing"));
  EXPECT_TRUE(dlg.SetRootFolder(QString()));
}

TEST_F(FolderDialogTest, ATypedNameThatIsNoFolderKeepsTheBrowserOpen) {
  Recording dlg("t", base_);
  bool stillOpen = false;
  vvtoolkit::WhenModal<QFileDialog>([&](QFileDialog* fd) {
    fd->selectFile(base_ + "/nonexistent");
    static_cast<QDialog*>(fd)->accept();
    stillOpen = fd->isVisible();
    fd->reject();
  });
  EXPECT_EQ(dlg.DoModal(), kFolderIdCancel);
  EXPECT_EQ(dlg.validations, 1);
  EXPECT_TRUE(stillOpen);
}

TEST_F(FolderDialogTest, PathsLongerThanTheOldBuffers) {
  Recording dlg("t", deep_, nullptr, kBifStatusText);
  ASSERT_TRUE(dlg.SetRootFolder(deep_));
  QString status;
  vvtoolkit::WhenModal<QFileDialog>([&](QFileDialog* fd) {
    status = fd->findChild<QLabel*>("status")->text();
    static_cast<QDialog*>(fd)->accept();
  });
  EXPECT_EQ(dlg.DoModal(), kFolderIdOk);
  EXPECT_EQ(dlg.FolderPath(), deep_);
  EXPECT_GT(dlg.FolderPath().size(), 600);
  EXPECT_EQ(status, deep_);
}

}  // namespace
