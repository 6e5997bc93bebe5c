// The splitter bar on real widgets: panes, drags with and without live
// drag, Esc, resizes and the positions kept between runs.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QVBoxLayout>

#include "console/ui/toolkit/SSplitter.h"
#include "tests/console/ui/ToolkitEvents.h"
#include "tests/tools/TestUtil.h"

using vvconsole::CSSplitter;

namespace {

class SplitterTest : public ::testing::Test {
 protected:
  // A vertical splitter of 400 x 300 with minimums 50 and 30.
  CSSplitter* MakeVertical(int id, QWidget* parent, int flags = 1) {
    auto* s = new CSSplitter(parent, &store_);
    left_ = new QWidget;
    right_ = new QWidget;
    created_ = s->Create(flags, QRect(0, 0, 400, 300), left_, right_, id, 50, 30);
    return s;
  }
  MemorySettingsStore store_;
  QWidget* left_ = nullptr;
  QWidget* right_ = nullptr;
  bool created_ = false;
};

TEST_F(SplitterTest, CreateLaysOutThePanes) {
  QWidget window;
  CSSplitter* s = MakeVertical(11, &window);
  ASSERT_TRUE(created_);
  window.show();
  EXPECT_EQ(s->objectName(), "11");
  EXPECT_EQ(s->GetSplitterStyle(), 1);
  EXPECT_EQ(left_->parentWidget(), s);
  EXPECT_EQ(left_->geometry(), QRect(0, 0, 100, 300));  // twice the left minimum
  EXPECT_EQ(right_->geometry(), QRect(103, 0, 297, 300));
  EXPECT_EQ(s->GetSplitterPos(), 100);
  EXPECT_FALSE(s->GetLiveDrag());
}

TEST_F(SplitterTest, CreateRefusesOtherFlagsAndMissingPanes) {
  QWidget window;
  for (int flags : {0, 3, 4}) {
    CSSplitter* s = MakeVertical(12, &window, flags);
    EXPECT_FALSE(created_) << flags;
    EXPECT_EQ(s->GetSplitterStyle(), 0);
    delete left_;
    delete right_;
  }
  CSSplitter s(&window, &store_);
  QWidget pane;
  EXPECT_FALSE(s.Create(1, QRect(0, 0, 100, 100), &pane, nullptr, 12, 10, 10));
  EXPECT_FALSE(s.Create(1, QRect(0, 0, 100, 100), &pane, &pane, 12, 10, 10));
}

TEST_F(SplitterTest, DragWithATrackerMovesTheBarOnRelease) {
  QWidget window;
  CSSplitter* s = MakeVertical(13, &window);
  window.show();
  vvtoolkit::Press(s, {101, 150});
  ASSERT_TRUE(s->Dragging());
  vvtoolkit::Move(s, {220, 150}, true);
  EXPECT_TRUE(s->Tracker()->isVisible());
  EXPECT_EQ(s->Tracker()->geometry().left(), 220 + 1 - 3);
  EXPECT_EQ(left_->width(), 100);  // the panes wait for the release
  s->resize(400, 301);             // even when laid out again meanwhile
  EXPECT_EQ(left_->width(), 100);
  vvtoolkit::Move(s, {395, 150}, true);
  EXPECT_EQ(s->Tracker()->geometry().left(), 370 + 1 - 3);  // held for the right minimum
  vvtoolkit::Release(s, {395, 150});
  EXPECT_FALSE(s->Dragging());
  EXPECT_FALSE(s->Tracker()->isVisible());
  EXPECT_EQ(left_->width(), 370);
  EXPECT_EQ(store_.GetInt("splt/init_v13", "VertSplitPos", -1), 370);
  // A press beside the bar starts nothing.
  vvtoolkit::Press(s, {10, 10});
  EXPECT_FALSE(s->Dragging());
}

TEST_F(SplitterTest, LiveDragMovesThePanesAtOnce) {
  QWidget window;
  CSSplitter* s = MakeVertical(14, &window);
  s->SetLiveDrag(true);
  window.show();
  vvtoolkit::Press(s, {101, 150});
  vvtoolkit::Move(s, {160, 150}, true);
  EXPECT_EQ(left_->width(), 160);
  EXPECT_FALSE(s->Tracker()->isVisible());
  vvtoolkit::Move(s, {2, 150}, true);
  EXPECT_EQ(left_->width(), 50);  // held at the left minimum
  vvtoolkit::Release(s, {2, 150});
  EXPECT_EQ(store_.GetInt("splt/init_v14", "VertSplitPos", -1), 50);
}

TEST_F(SplitterTest, EscLeavesTheBarAndGivesTheFocusBack) {
  QWidget window;
  auto* lay = new QVBoxLayout(&window);
  auto* edit = new QLineEdit;
  lay->addWidget(edit);
  auto* holder = new QWidget;
  holder->setMinimumSize(400, 300);
  lay->addWidget(holder);
  CSSplitter* s = MakeVertical(15, holder);
  s->SetLiveDrag(true);
  window.show();
  window.activateWindow();
  edit->setFocus();
  ASSERT_TRUE(vvtest::WaitFor([&] {
    QApplication::processEvents();
    return QApplication::focusWidget() == edit;
  }, std::chrono::seconds(10)));

  vvtoolkit::Press(s, {101, 150});
  EXPECT_EQ(QApplication::focusWidget(), s);
  vvtoolkit::Move(s, {250, 150}, true);
  EXPECT_EQ(left_->width(), 250);
  vvtoolkit::Key(s, Qt::Key_Escape);
  EXPECT_FALSE(s->Dragging());
  EXPECT_EQ(left_->width(), 100);
  EXPECT_EQ(QApplication::focusWidget(), edit);
  vvtoolkit::Release(s, {250, 150});  // the drag is over: nothing moves
  EXPECT_EQ(left_->width(), 100);
  EXPECT_FALSE(store_.Has("splt/init_v15", "VertSplitPos"));
}

TEST_F(SplitterTest, ResizingKeepsTheLeftWidthWithinTheMinimums) {
  QWidget window;
  CSSplitter* s = MakeVertical(16, &window);
  window.show();
  s->SetSplitterPos(200);
  s->resize(600, 300);
  EXPECT_EQ(left_->width(), 200);
  EXPECT_EQ(right_->geometry(), QRect(203, 0, 397, 300));
  s->resize(150, 300);
  EXPECT_EQ(left_->width(), 120);  // the right pane keeps its minimum
  s->resize(20, 300);
  EXPECT_EQ(left_->width(), 17);   // never past the client
  EXPECT_GE(right_->width(), 0);
  s->resize(600, 300);
  EXPECT_EQ(left_->width(), 200);
}

TEST_F(SplitterTest, PositionsAreKeptPerIdBetweenRuns) {
  {
    QWidget window;
    CSSplitter* a = MakeVertical(21, &window);
    a->SetSplitterPos(140);
    MakeVertical(22, &window)->SetSplitterPos(260);
  }  // destroying the splitters writes their positions
  EXPECT_EQ(store_.GetInt("splt/init_v21", "VertSplitPos", -1), 140);
  EXPECT_EQ(store_.GetInt("splt/init_v22", "VertSplitPos", -1), 260);
  QWidget window;
  CSSplitter* a = MakeVertical(21, &window);
  EXPECT_EQ(a->GetSplitterPos(), 140);
  CSSplitter* b = MakeVertical(22, &window);
  EXPECT_EQ(b->GetSplitterPos(), 260);
}

TEST_F(SplitterTest, HorizontalBarMeasuresTheBottomPane) {
  QWidget window;
  auto* s = new CSSplitter(&window, &store_);
  auto* top = new QWidget;
  auto* bottom = new QWidget;
  ASSERT_TRUE(s->Create(2, QRect(0, 0, 300, 400), top, bottom, 23, 20, 40));
  window.show();
  EXPECT_EQ(bottom->geometry(), QRect(0, 320, 300, 80));
  EXPECT_EQ(top->geometry(), QRect(0, 0, 300, 317));
  EXPECT_EQ(s->GetSplitterPos(), 320);
  vvtoolkit::Press(s, {150, 318});
  ASSERT_TRUE(s->Dragging());
  vvtoolkit::Release(s, {150, 250});
  EXPECT_EQ(bottom->height(), 150);
  EXPECT_EQ(store_.GetInt("splt/init_h23", "HorizSplitPos", -1), 150);
  EXPECT_FALSE(s->HideLeftPane());
  EXPECT_TRUE(s->HideBottomPane());
  EXPECT_FALSE(bottom->isVisible());
  EXPECT_EQ(top->geometry(), QRect(0, 0, 300, 400));
  EXPECT_TRUE(s->ShowBottomPane());
  EXPECT_TRUE(bottom->isVisible());
  EXPECT_EQ(bottom->height(), 150);
}

TEST_F(SplitterTest, HidingPanesAndSwitchingDirection) {
  QWidget window;
  CSSplitter* s = MakeVertical(24, &window);
  window.show();
  EXPECT_TRUE(s->HideLeftPane());
  EXPECT_FALSE(left_->isVisible());
  EXPECT_EQ(right_->geometry(), QRect(0, 0, 400, 300));
  vvtoolkit::Press(s, {101, 150});
  EXPECT_FALSE(s->Dragging());
  EXPECT_TRUE(s->ShowLeftPane());
  EXPECT_TRUE(left_->isVisible());
  EXPECT_EQ(left_->width(), 100);

  s->SetHorizontal();
  EXPECT_EQ(s->GetSplitterStyle(), 2);
  EXPECT_EQ(left_->geometry().width(), 400);           // now the top pane
  EXPECT_EQ(right_->geometry().height(), 60);          // twice the bottom minimum
  s->SetVertical();
  EXPECT_EQ(left_->geometry(), QRect(0, 0, 100, 300));
}

}  // namespace
