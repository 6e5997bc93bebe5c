// The check group box offscreen: its first state, the controls it switches
// and the ones it leaves alone.
#include <gtest/gtest.h>

#include "tests/console/ui/ShowQuietly.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QVBoxLayout>

#include "console/ui/CheckGroup.h"

using vvconsole::CCheckGroup;

namespace {

struct Form {
  QDialog dialog;
  CCheckGroup* group;
  QLineEdit* inside;    // registered, inside the group
  QLineEdit* outside;   // registered, elsewhere in the dialog
  QLineEdit* bystander; // in the group, not registered
  explicit Form(const QString& caption = QStringLiteral("视频设置")) {
    auto* top = new QVBoxLayout(&dialog);
    group = new CCheckGroup(caption, &dialog);
    auto* inner = new QVBoxLayout(group);
    inside = new QLineEdit(group);
    inside->setObjectName("1001");
    bystander = new QLineEdit(group);
    bystander->setObjectName("1003");
    inner->addWidget(inside);
    inner->addWidget(bystander);
    outside = new QLineEdit(&dialog);
    outside->setObjectName("1002");
    top->addWidget(group);
    top->addWidget(outside);
    group->AddControl(1001);
    group->AddControl(1002);
    group->AddControl(4242);  // no such control
  }
};

}  // namespace

TEST(CheckGroup, StartsTickedWithItsStateAndSwitchesOnlyRegisteredControls) {
  Form f;
  EXPECT_EQ(f.group->GetCheck(), 1);
  EXPECT_TRUE(f.group->CheckBox()->isChecked());
  EXPECT_EQ(f.group->CheckBox()->objectName(), QStringLiteral("101"));
  EXPECT_EQ(f.group->CheckBox()->text(), QStringLiteral("视频设置"));
  EXPECT_TRUE(f.group->title().isEmpty());

  struct Step {
    int state;
    int previous;
    bool enabled;
  } steps[] = {{0, 1, false}, {0, 0, false}, {7, 0, true}, {0, 7, false}, {1, 0, true}};
  for (const Step& s : steps) {
    EXPECT_EQ(f.group->SetCheck(s.state), s.previous);
    EXPECT_EQ(f.group->GetCheck(), s.state);
    EXPECT_EQ(f.group->CheckBox()->isChecked(), s.enabled);
    EXPECT_EQ(f.inside->isEnabled(), s.enabled);
    EXPECT_EQ(f.outside->isEnabled(), s.enabled);
    EXPECT_TRUE(f.bystander->isEnabled());
    EXPECT_TRUE(f.group->isEnabled());
    EXPECT_TRUE(f.group->CheckBox()->isEnabled());
  }
}

TEST(CheckGroup, ClickingTheBoxSwitchesTheMembersByItself) {
  Form f;
  vvuitest::ShowQuietly(&f.dialog);
  f.group->CheckBox()->click();
  EXPECT_EQ(f.group->GetCheck(), 0);
  EXPECT_FALSE(f.inside->isEnabled());
  EXPECT_FALSE(f.outside->isEnabled());
  f.group->CheckBox()->click();
  EXPECT_NE(f.group->GetCheck(), 0);
  EXPECT_TRUE(f.inside->isEnabled());
  EXPECT_TRUE(f.outside->isEnabled());
}

TEST(CheckGroup, CheckBoxSitsOnTheFrameSizedByItsCaption) {
  Form none{QString()};
  EXPECT_EQ(none.group->CheckBox()->width(), 25);
  EXPECT_EQ(none.group->CheckBox()->x(), 10);
  Form named(QStringLiteral("音频设置"));
  QFontMetrics fm(named.group->font());
  EXPECT_EQ(named.group->CheckBox()->width(), fm.horizontalAdvance(QStringLiteral("音频设置")) + 25);
  // The contents start below the check box.
  vvuitest::ShowQuietly(&named.dialog);
  EXPECT_GE(named.inside->y(), named.group->CheckBox()->geometry().bottom());
}
