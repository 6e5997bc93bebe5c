// The online users dialog offscreen: its columns, the two selection boxes
// that exclude each other, and the commands that empty the list.
#include <gtest/gtest.h>

#include "tests/console/ui/ShowQuietly.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>

#include "console/logic/Prompt.h"
#include "console/ui/OnlineUserDlg.h"

using vvconsole::COnlineUserDlg;

namespace {

struct ScriptedPrompt : IPrompt {
  bool answer = false;
  std::vector<std::string> asked;
  void Message(const std::string&) override {}
  bool Ask(const std::string& text) override {
    asked.push_back(text);
    return answer;
  }
};

// Rows as a user source would add them (none exists in the system yet).
void AddRows(QTableWidget* list, int n) {
  for (int i = 0; i < n; ++i) {
    int r = list->rowCount();
    list->insertRow(r);
    auto* item = new QTableWidgetItem(QString::number(r + 1));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    list->setItem(r, 0, item);
  }
}

template <class T>
T* Find(QWidget* w, const char* id) {
  return w->findChild<T*>(QString::fromLatin1(id));
}

}  // namespace

TEST(OnlineUsers, ColumnsAndAnEmptyList) {
  ScriptedPrompt prompt;
  COnlineUserDlg d(nullptr, &prompt);
  EXPECT_EQ(d.windowTitle(), QStringLiteral("在线用户管理"));
  QTableWidget* list = d.List();
  EXPECT_EQ(list->objectName(), QStringLiteral("1034"));
  const char* titles[] = {"序号", "类型", "IP", "连接开始时间", "连接时长(秒)"};
  int widths[] = {60, 150, 100, 150, 100};
  ASSERT_EQ(list->columnCount(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(list->horizontalHeaderItem(i)->text(), QString::fromUtf8(titles[i]));
    EXPECT_EQ(list->columnWidth(i), widths[i]);
  }
  EXPECT_EQ(list->rowCount(), 0);
  // Every command on the empty list leaves it empty, without a message.
  Find<QCheckBox>(&d, "1036")->click();
  Find<QCheckBox>(&d, "1037")->click();
  Find<QPushButton>(&d, "1045")->click();
  prompt.answer = true;
  Find<QPushButton>(&d, "1035")->click();
  EXPECT_EQ(list->rowCount(), 0);
}

TEST(OnlineUsers, SelectionBoxesExcludeEachOther) {
  ScriptedPrompt prompt;
  COnlineUserDlg d(nullptr, &prompt);
  vvuitest::ShowQuietly(&d);
  AddRows(d.List(), 4);
  d.List()->selectRow(1);
  auto* highlighted = Find<QCheckBox>(&d, "1036");
  auto* all = Find<QCheckBox>(&d, "1037");
  struct Step {
    QCheckBox* box;
    bool highlighted, all;
    int checked;
  } steps[] = {
      {all, false, true, 4},
      {highlighted, true, false, 1},  // unticks "all", ticks only the selected row
      {all, false, true, 4},
      {all, false, false, 0},
      {highlighted, true, false, 1},
      {highlighted, false, false, 0},
  };
  for (const Step& s : steps) {
    s.box->click();
    EXPECT_EQ(highlighted->isChecked(), s.highlighted);
    EXPECT_EQ(all->isChecked(), s.all);
    EXPECT_EQ(d.CheckedRows(), s.checked);
  }
}

TEST(OnlineUsers, DisconnectAsksAndRefreshEmpties) {
  ScriptedPrompt prompt;
  COnlineUserDlg d(nullptr, &prompt);
  AddRows(d.List(), 3);
  Find<QPushButton>(&d, "1035")->click();
  ASSERT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(prompt.asked[0], "确定断开连接吗？");
  EXPECT_EQ(d.List()->rowCount(), 3);  // "否"
  prompt.answer = true;
  Find<QPushButton>(&d, "1035")->click();
  EXPECT_EQ(d.List()->rowCount(), 0);
  AddRows(d.List(), 2);
  Find<QPushButton>(&d, "1045")->click();
  EXPECT_EQ(d.List()->rowCount(), 0);
  EXPECT_EQ(prompt.asked.size(), 2u);
}
