// The colour picker's table, popup layout, keyboard walk and notifications.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "console/logic/toolkit/ColourPickerRules.h"

namespace {

TEST(ColourTableTest, NamesAndValuesOfEveryCell) {
  const auto& t = PopupColourTable();
  struct Case {
    int index;
    const char* name;
    int r, g, b;
  } cases[] = {
      {0, "Black", 0, 0, 0},           {1, "Brown", 165, 42, 0},
      {2, "Dark Olive Green", 0, 64, 64}, {3, "Dark Green", 0, 85, 0},
      {4, "Dark Teal", 0, 0, 94},      {5, "Dark blue", 0, 0, 139},
      {6, "Indigo", 75, 0, 130},       {7, "Dark grey", 40, 40, 40},
      {8, "Dark red", 139, 0, 0},      {9, "Orange", 255, 104, 32},
      {10, "Dark yellow", 139, 139, 0}, {11, "Green", 0, 147, 0},
      {12, "Teal", 56, 142, 142},      {13, "Blue", 0, 0, 255},
      {14, "Blue-grey", 123, 123, 192}, {15, "Grey - 40", 102, 102, 102},
      {16, "Red", 255, 0, 0},          {17, "Light orange", 255, 173, 91},
      {18, "Lime", 50, 205, 50},       {19, "Sea green", 60, 179, 113},
      {20, "Aqua", 127, 255, 212},     {21, "Light blue", 125, 158, 192},
      {22, "Violet", 128, 0, 128},     {23, "Grey - 50", 127, 127, 127},
      {24, "Pink", 255, 192, 203},     {25, "Gold", 255, 215, 0},
      {26, "Yellow", 255, 255, 0},     {27, "Bright green", 0, 255, 0},
      {28, "Turquoise", 64, 224, 208}, {29, "Skyblue", 192, 255, 255},
      {30, "Plum", 72, 0, 72},         {31, "Light grey", 192, 192, 192},
      {32, "Rose", 255, 228, 225},     {33, "Tan", 210, 180, 140},
      {34, "Light yellow", 255, 255, 224}, {35, "Pale green ", 152, 251, 152},
      {36, "Pale turquoise", 175, 238, 238}, {37, "Pale blue", 104, 131, 139},
      {38, "Lavender", 230, 230, 250}, {39, "White", 255, 255, 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(std::string(t[c.index].name), c.name);
    EXPECT_EQ(ColourRed(t[c.index].colour), c.r);
    EXPECT_EQ(ColourGreen(t[c.index].colour), c.g);
    EXPECT_EQ(ColourBlue(t[c.index].colour), c.b);
    EXPECT_FALSE(IsAutomaticColour(t[c.index].colour));
  }
  EXPECT_EQ(MakeColourRef(0x12, 0x34, 0x56), 0x563412u);
}

TEST(ColourTableTest, AutomaticIsNotBlack) {
  EXPECT_NE(kAutomaticColour, PopupColourTable()[0].colour);
  EXPECT_EQ(PopupCellColour(kCellDefault, MakeColourRef(1, 2, 3)), kAutomaticColour);
  EXPECT_EQ(PopupCellColour(0, kAutomaticColour), MakeColourRef(0, 0, 0));
  // Opening on black selects the black cell, not the default box.
  EXPECT_EQ(InitialPopupCell(MakeColourRef(0, 0, 0), true, true), 0);
  EXPECT_EQ(InitialPopupCell(kAutomaticColour, true, true), kCellDefault);
}

TEST(ColourPopupLayoutTest, CellSizeFollowsTheMargin) {
  struct Case {
    int margin, cell;
  } cases[] = {{2, 18}, {5, 18}, {6, 19}, {8, 23}, {0, 18}};
  for (const auto& c : cases) {
    ColourPopupLayout l(c.margin, false, 0, 0, false, 0, 0);
    EXPECT_EQ(l.CellSize(), c.cell) << c.margin;
    EXPECT_EQ(l.Rows(), 5);
    EXPECT_EQ(l.Width(), 8 * c.cell + 2 * c.margin);
    EXPECT_EQ(l.Height(), 5 * c.cell + 2 * c.margin);
  }
}

TEST(ColourPopupLayoutTest, BoxesAboveAndBelowTheGrid) {
  const int m = 2;
  ColourPopupLayout both(m, true, 60, 13, true, 90, 15);
  const int boxH = 15 + 2 * m + 2;  // the taller text
  EXPECT_EQ(both.DefaultBox(), TkRect::FromSize(m, m, 8 * 18, boxH));
  EXPECT_EQ(both.CellRect(0), TkRect::FromSize(m, m + boxH, 18, 18));
  EXPECT_EQ(both.CellRect(39), TkRect::FromSize(m + 7 * 18, m + boxH + 4 * 18, 18, 18));
  EXPECT_EQ(both.CustomBox(), TkRect::FromSize(m, m + boxH + 5 * 18, 8 * 18, boxH));
  EXPECT_EQ(both.Height(), m + boxH + 5 * 18 + boxH + m);
  EXPECT_TRUE(both.CellRect(40).IsEmpty());
  EXPECT_TRUE(both.CellRect(-1).IsEmpty());

  // Without a default text the grid starts at the top.
  ColourPopupLayout noDefault(m, false, 0, 0, true, 90, 15);
  EXPECT_TRUE(noDefault.DefaultBox().IsEmpty());
  EXPECT_EQ(noDefault.CellRect(0), TkRect::FromSize(m, m, 18, 18));

  // A text wider than the grid widens the popup.
  ColourPopupLayout wide(m, true, 300, 13, false, 0, 0);
  EXPECT_GE(wide.DefaultBox().Width(), 300 + 2 * m);
  EXPECT_EQ(wide.Width(), wide.DefaultBox().Width() + 2 * m);
}

TEST(ColourPopupLayoutTest, HitTests) {
  const int m = 2;
  ColourPopupLayout l(m, true, 60, 13, true, 90, 13);
  const int top = l.CellRect(0).top;
  struct Case {
    TkPoint p;
    int cell;
  } cases[] = {
      {{m + 1, m + 1}, kCellDefault},
      {{m, top}, 0},
      {{m + 17, top + 17}, 0},
      {{m + 18, top}, 1},
      {{m + 7 * 18 + 5, top + 18 + 5}, 15},
      {{m + 7 * 18 + 17, top + 4 * 18 + 17}, 39},
      {{m + 10, l.CustomBox().top + 2}, kCellCustom},
      {{0, 0}, kCellNone},                      // the border
      {{l.Width() - 1, top + 5}, kCellNone},    // right of the grid
      {{-5, -5}, kCellNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(l.HitTest(c.p), c.cell) << c.p.x << "," << c.p.y;
  }
  ColourPopupLayout bare(m, false, 0, 0, false, 0, 0);
  EXPECT_EQ(bare.HitTest({m + 1, m + 1}), 0);
  EXPECT_EQ(bare.HitTest({m + 1, bare.Height() - 1}), kCellNone);
}

TEST(ColourPopupLayoutTest, PlacedInsideTheScreen) {
  ColourPopupLayout l(2, false, 0, 0, false, 0, 0);  // 148 x 94
  const TkRect screen{0, 0, 800, 600};
  struct Case {
    TkRect picker;
    TkPoint at;
  } cases[] = {
      {{100, 100, 160, 122}, {100, 122}},   // below the picker's bottom-left corner
      {{700, 100, 760, 122}, {652, 122}},   // pulled in from the right edge
      {{-30, 100, 30, 122}, {0, 122}},      // and from the left
      {{100, 550, 160, 572}, {100, 456}},   // above the picker near the bottom
  };
  for (const auto& c : cases) {
    const TkRect r = l.Place(c.picker, screen);
    EXPECT_EQ((TkPoint{r.left, r.top}), c.at) << c.picker.left << "," << c.picker.top;
    EXPECT_EQ(r.Width(), l.Width());
    EXPECT_EQ(r.Height(), l.Height());
  }
}

TEST(ColourPopupKeysTest, WalkTable) {
  using K = PopupKey;
  const int D = kCellDefault, C = kCellCustom, N = kCellNone;
  struct Case {
    bool hasDefault, hasCustom;
    int from;
    K key;
    int to;
  } cases[] = {
      // Down
      {true, true, D, K::Down, 0},
      {true, true, 3, K::Down, 11},
      {true, true, 35, K::Down, C},
      {true, false, 35, K::Down, D},
      {false, false, 35, K::Down, 0},
      {true, true, C, K::Down, D},
      {false, true, C, K::Down, 0},
      // Up
      {true, true, D, K::Up, C},
      {true, false, D, K::Up, 39},
      {true, true, C, K::Up, 39},
      {true, true, 11, K::Up, 3},
      {true, true, 3, K::Up, D},
      {false, true, 3, K::Up, C},
      {false, false, 3, K::Up, 39},
      // Right
      {true, true, D, K::Right, 0},
      {true, true, 7, K::Right, 8},  // wraps to the next row
      {true, true, 39, K::Right, C},
      {true, false, 39, K::Right, D},
      {false, false, 39, K::Right, 0},
      {true, true, C, K::Right, D},
      {false, true, C, K::Right, 0},
      // Left
      {true, true, D, K::Left, C},
      {true, false, D, K::Left, 39},
      {true, true, C, K::Left, 39},
      {true, true, 8, K::Left, 7},  // wraps to the row above
      {true, true, 0, K::Left, D},
      {false, true, 0, K::Left, C},
      {false, false, 0, K::Left, 39},
      // From no cell every arrow goes to the first cell.
      {true, true, N, K::Up, 0},
      {true, true, N, K::Down, 0},
      {false, false, N, K::Left, 0},
      {false, false, N, K::Right, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NextPopupCell(c.from, c.key, c.hasDefault, c.hasCustom), c.to)
        << "from " << c.from << " key " << static_cast<int>(c.key) << " default "
        << c.hasDefault << " custom " << c.hasCustom;
  }
}

TEST(ColourPopupKeysTest, WalksNeverReachAMissingBox) {
  for (int mask = 0; mask < 4; ++mask) {
    const bool hasDefault = mask & 1, hasCustom = mask & 2;
    int cell = InitialPopupCell(MakeColourRef(1, 2, 3), hasDefault, hasCustom);
    for (int step = 0; step < 400; ++step) {
      cell = NextPopupCell(cell, static_cast<PopupKey>(step * 7 % 4), hasDefault, hasCustom);
      ASSERT_TRUE(cell >= 0 || (cell == kCellDefault && hasDefault) ||
                  (cell == kCellCustom && hasCustom))
          << cell;
    }
  }
}

TEST(ColourPopupKeysTest, InitialCell) {
  const ColourRef odd = MakeColourRef(1, 2, 3);
  struct Case {
    ColourRef colour;
    bool hasDefault, hasCustom;
    int cell;
  } cases[] = {
      {kAutomaticColour, true, true, kCellDefault},
      {kAutomaticColour, false, true, kCellCustom},  // no default box: never -3
      {kAutomaticColour, false, false, kCellNone},
      {MakeColourRef(255, 255, 255), true, true, 39},
      {MakeColourRef(152, 251, 152), false, false, 35},
      {odd, true, true, kCellCustom},
      {odd, true, false, kCellNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InitialPopupCell(c.colour, c.hasDefault, c.hasCustom), c.cell) << c.colour;
  }
}

TEST(ColourPickerArrowTest, SizesAndPlace) {
  struct Case {
    int thumbW, thumbH, edgeW, edgeH, size;
  } cases[] = {{16, 16, 2, 2, 16}, {8, 8, 2, 2, 10}, {12, 20, 2, 2, 20}, {4, 4, 3, 1, 15}};
  for (const auto& c : cases) {
    const PickerArrow a = ComputePickerArrow(c.thumbW, c.thumbH, c.edgeW, c.edgeH);
    EXPECT_EQ(a.size, c.size);
    EXPECT_EQ(a.minButtonWidth, 2 * c.edgeW + 2 * c.size);
    EXPECT_EQ(a.buttonHeight, c.size + 2 * c.edgeH);
  }
  EXPECT_EQ(PickerArrowRect({0, 0, 100, 20}, 2, 2, 16), (TkRect{82, 2, 98, 18}));
}

TEST(ColourPickerStateTest, ModeChoosesTextOrBackground) {
  ColourPickerState s(MakeColourRef(1, 1, 1), MakeColourRef(2, 2, 2));
  EXPECT_EQ(s.SelectionMode(), 2);
  EXPECT_EQ(s.Colour(), MakeColourRef(1, 1, 1));
  s.SetSelectionMode(1);
  s.SetColour(MakeColourRef(9, 9, 9));
  EXPECT_EQ(s.Text(), MakeColourRef(9, 9, 9));
  EXPECT_EQ(s.Background(), MakeColourRef(1, 1, 1));
  s.SetSelectionMode(7);  // any other value: the background
  EXPECT_EQ(s.Colour(), MakeColourRef(1, 1, 1));
}

TEST(ColourPickerStateTest, NotificationsOfARun) {
  using N = ColourPickerState::Note;
  using Sent = ColourPickerState::Sent;
  const ColourRef red = MakeColourRef(255, 0, 0);
  const ColourRef blue = MakeColourRef(0, 0, 255);

  ColourPickerState s(red, 0);
  EXPECT_EQ(s.OnDropDown(), (std::vector<Sent>{{N::DropDown, red}}));
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(s.OnHighlight(blue), (std::vector<Sent>{{N::SelChange, blue}}));
  EXPECT_EQ(s.Colour(), red);  // no tracking: still shows red
  EXPECT_EQ(s.OnEndOk(blue),
            (std::vector<Sent>{{N::CloseUp, blue}, {N::EndOk, blue}, {N::SelChange, blue}}));
  EXPECT_FALSE(s.Active());
  EXPECT_EQ(s.Colour(), blue);
  // The same colour again: no selection change.
  s.OnDropDown();
  EXPECT_EQ(s.OnEndOk(blue), (std::vector<Sent>{{N::CloseUp, blue}, {N::EndOk, blue}}));

  // With tracking the highlight shows at once, so OK changes nothing more;
  // a cancel brings the first colour back.
  ColourPickerState t(red, 0);
  t.SetTrackSelection(true);
  t.OnDropDown();
  t.OnHighlight(blue);
  EXPECT_EQ(t.Colour(), blue);
  EXPECT_EQ(t.OnCancel(red), (std::vector<Sent>{{N::CloseUp, red}, {N::Cancelled, red}}));
  EXPECT_EQ(t.Colour(), red);
  t.OnDropDown();
  t.OnHighlight(blue);
  EXPECT_EQ(t.OnEndOk(blue), (std::vector<Sent>{{N::CloseUp, blue}, {N::EndOk, blue}}));
}

TEST(ColourPickerStateTest, FillColour) {
  ColourPickerState s(kAutomaticColour, 0);
  EXPECT_FALSE(s.FillColour(true));
  s.SetColour(MakeColourRef(0, 0, 0));
  EXPECT_EQ(s.FillColour(true), MakeColourRef(0, 0, 0));  // black is a colour
  EXPECT_FALSE(s.FillColour(false));
}

}  // namespace
