// The splitter's grid: widths, hiding and showing a column or a row with
// their control ids, and the calls that must change nothing.
#include <gtest/gtest.h>

#include "console/logic/FrameModel.h"
#include "console/logic/SplitterLayout.h"

using vvconsole::SplitterLayout;
using vvconsole::kIdPaneFirst;
using Rect = SplitterLayout::Rect;

namespace {

// The frame's splitter: 1 x 2, both columns a third of the window wide.
SplitterLayout FrameSplitter(int width = 900, int height = 600) {
  SplitterLayout s;
  s.Create(1, 2);
  s.SetSplitterWidth(6);
  s.SetColumnInfo(0, width / 3, 0);
  s.SetColumnInfo(1, width / 3, 0);
  s.SetRowInfo(0, height - 16, 0);
  s.Recalc(width, height);
  return s;
}

}  // namespace

TEST(SplitterLayout, LastColumnTakesTheRest) {
  SplitterLayout s = FrameSplitter();
  EXPECT_EQ(s.PaneRect(0), (Rect{0, 0, 300, 600}));
  EXPECT_EQ(s.PaneRect(1), (Rect{306, 0, 594, 600}));
  ASSERT_EQ(s.Bars().size(), 1u);
  EXPECT_EQ(s.Bars()[0], (Rect{300, 0, 6, 600}));
  EXPECT_EQ(s.ColumnBarAt(299), -1);
  EXPECT_EQ(s.ColumnBarAt(300), 0);
  EXPECT_EQ(s.ColumnBarAt(305), 0);
  EXPECT_EQ(s.ColumnBarAt(306), -1);
  // The operator drags the bar to 450.
  s.TrackColumn(0, 450);
  EXPECT_EQ(s.PaneRect(0), (Rect{0, 0, 450, 600}));
  EXPECT_EQ(s.PaneRect(1), (Rect{456, 0, 444, 600}));
  // A window narrower than the first column: it takes all, the second none.
  s.Recalc(300, 600);
  EXPECT_EQ(s.PaneRect(0), (Rect{0, 0, 300, 600}));
  EXPECT_EQ(s.PaneRect(1), Rect());
  EXPECT_TRUE(s.Bars().empty());
  // A column under its minimum size is not shown.
  s.SetColumnInfo(0, 20, 40);
  s.Recalc(900, 600);
  EXPECT_EQ(s.PaneRect(0), Rect());
  EXPECT_EQ(s.PaneRect(1), (Rect{6, 0, 894, 600}));
}

TEST(SplitterLayout, HiddenRightColumnComesBackWithItsWidthAndId) {
  SplitterLayout s = FrameSplitter();
  s.TrackColumn(0, 360);
  int left = s.PaneAt(0, 0), right = s.PaneAt(0, 1);
  ASSERT_EQ(s.IdOf(left), kIdPaneFirst);
  ASSERT_EQ(s.IdOf(right), kIdPaneFirst + 1);
  Rect rightBefore = s.PaneRect(right);
  s.SetActivePane(0, 1);

  s.HideColumn(1);
  EXPECT_EQ(s.Cols(), 1);
  EXPECT_EQ(s.HiddenColumn(), 1);
  EXPECT_FALSE(s.IsVisible(right));
  EXPECT_EQ(s.IdOf(right), kIdPaneFirst + 2);  // parked past the visible ones
  EXPECT_EQ(s.PaneRect(left), (Rect{0, 0, 900, 600}));
  EXPECT_EQ(s.PaneRect(right), Rect());
  EXPECT_TRUE(s.Bars().empty());
  EXPECT_EQ(s.ActivePane(), left);  // the active pane moved out of the hidden column

  // A second hide changes nothing.
  s.HideColumn(0);
  EXPECT_EQ(s.Cols(), 1);
  EXPECT_EQ(s.HiddenColumn(), 1);
  EXPECT_TRUE(s.IsVisible(left));

  s.ShowColumn();
  EXPECT_EQ(s.Cols(), 2);
  EXPECT_EQ(s.HiddenColumn(), -1);
  EXPECT_TRUE(s.IsVisible(right));
  EXPECT_EQ(s.IdOf(right), kIdPaneFirst + 1);
  EXPECT_EQ(s.IdOf(left), kIdPaneFirst);
  EXPECT_EQ(s.PaneRect(right), rightBefore);
  EXPECT_EQ(s.PaneRect(left), (Rect{0, 0, 360, 600}));

  // Showing with nothing hidden changes nothing, again and again.
  for (int i = 0; i < 2; ++i) {
    s.ShowColumn();
    EXPECT_EQ(s.Cols(), 2);
    EXPECT_EQ(s.IdOf(right), kIdPaneFirst + 1);
    EXPECT_EQ(s.PaneRect(right), rightBefore);
  }
}

TEST(SplitterLayout, HidingTheFirstOfThreeColumnsRenumbersTheRest) {
  SplitterLayout s;
  s.Create(2, 3);
  for (int c = 0; c < 3; ++c) s.SetColumnInfo(c, 100, 0);
  s.SetRowInfo(0, 200, 0);
  s.Recalc(600, 400);
  int a0 = s.PaneAt(0, 0), b0 = s.PaneAt(0, 1), c0 = s.PaneAt(0, 2);
  int a1 = s.PaneAt(1, 0), b1 = s.PaneAt(1, 1), c1 = s.PaneAt(1, 2);
  s.HideColumn(0);
  EXPECT_EQ(s.IdOf(a0), kIdPaneFirst + 3);
  EXPECT_EQ(s.IdOf(a1), kIdPaneFirst + 16 + 3);
  EXPECT_EQ(s.PaneAt(0, 0), b0);
  EXPECT_EQ(s.PaneAt(0, 1), c0);
  EXPECT_EQ(s.PaneAt(1, 0), b1);
  EXPECT_EQ(s.PaneAt(1, 1), c1);
  EXPECT_EQ(s.PaneAt(0, 2), -1);
  s.ShowColumn();
  EXPECT_EQ(s.PaneAt(0, 0), a0);
  EXPECT_EQ(s.PaneAt(0, 1), b0);
  EXPECT_EQ(s.PaneAt(0, 2), c0);
  EXPECT_EQ(s.PaneAt(1, 0), a1);
  EXPECT_EQ(s.PaneAt(1, 2), c1);
  EXPECT_TRUE(s.IsVisible(a0));
  EXPECT_TRUE(s.IsVisible(a1));
}

TEST(SplitterLayout, RowsHideAndShowLikeColumns) {
  SplitterLayout s;
  s.Create(2, 1);
  s.SetRowInfo(0, 150, 0);
  s.Recalc(300, 400);
  int top = s.PaneAt(0, 0), bottom = s.PaneAt(1, 0);
  EXPECT_EQ(s.PaneRect(bottom), (Rect{0, 156, 300, 244}));
  s.HideRow(0);
  EXPECT_EQ(s.IdOf(top), kIdPaneFirst + 2 * 16);
  EXPECT_EQ(s.PaneAt(0, 0), bottom);
  EXPECT_EQ(s.PaneRect(bottom), (Rect{0, 0, 300, 400}));
  s.HideRow(0);  // nothing: one row left, and one already hidden
  EXPECT_EQ(s.Rows(), 1);
  s.ShowRow();
  EXPECT_EQ(s.PaneAt(0, 0), top);
  EXPECT_EQ(s.PaneAt(1, 0), bottom);
  EXPECT_EQ(s.PaneRect(top), (Rect{0, 0, 300, 150}));
  s.ShowRow();  // nothing hidden: nothing
  EXPECT_EQ(s.Rows(), 2);
}

TEST(SplitterLayout, CallsThatChangeNothing) {
  SplitterLayout one;
  one.Create(1, 1);
  one.Recalc(200, 100);
  one.HideColumn(0);  // a single column cannot go
  EXPECT_EQ(one.Cols(), 1);
  EXPECT_TRUE(one.IsVisible(0));
  EXPECT_EQ(one.HiddenColumn(), -1);
  SplitterLayout s = FrameSplitter();
  s.HideColumn(2);   // no such column
  s.HideColumn(-1);
  EXPECT_EQ(s.Cols(), 2);
  EXPECT_EQ(s.HiddenColumn(), -1);
  s.TrackColumn(1, 10);  // the last column has no bar of its own
  EXPECT_EQ(s.PaneRect(0).w, 300);
}

TEST(SplitterLayout, SwappedPaneTakesThePlaceAndItsId) {
  SplitterLayout s = FrameSplitter();
  int old = s.PaneAt(0, 1);
  int fresh = s.SwapPane(0, 1, 4242);
  ASSERT_GE(fresh, 0);
  EXPECT_EQ(s.PaneAt(0, 1), fresh);
  EXPECT_EQ(s.IdOf(fresh), kIdPaneFirst + 1);
  EXPECT_EQ(s.IdOf(old), 4242);
  EXPECT_FALSE(s.IsVisible(old));
  EXPECT_EQ(s.PaneRect(fresh), (Rect{306, 0, 594, 600}));
  EXPECT_EQ(s.SwapPane(3, 3, 1), -1);
}
