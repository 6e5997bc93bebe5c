// The splitter bar's layouts, clamps, drags and stored positions.
#include <gtest/gtest.h>

#include "console/logic/toolkit/SplitterLayout.h"

namespace {

TEST(SplitterLayoutTest, CreateTakesOneDirection) {
  MemorySettingsStore store;
  for (int flags : {0, 3, 4, -1}) {
    SplitterLayout s(&store, 1);
    EXPECT_FALSE(s.Create(flags, 10, 10)) << flags;
    EXPECT_EQ(s.Style(), 0);
    EXPECT_EQ(s.GetSplitterPos(), 0);
  }
  SplitterLayout v(&store, 1);
  EXPECT_TRUE(v.Create(SplitterLayout::kVertical, 10, 10));
  EXPECT_EQ(v.Style(), 1);
  SplitterLayout h(&store, 1);
  EXPECT_TRUE(h.Create(SplitterLayout::kHorizontal, 10, 10));
  EXPECT_EQ(h.Style(), 2);
}

TEST(SplitterLayoutTest, FirstRunDefaultsAndVerticalRectangles) {
  MemorySettingsStore store;
  SplitterLayout s(&store, 7);
  s.Create(SplitterLayout::kVertical, 50, 30);
  s.SetClient({0, 0, 400, 300});
  const auto p = s.Layout();
  EXPECT_EQ(p.first, (TkRect{0, 0, 100, 300}));  // twice the first pane's minimum
  EXPECT_EQ(p.bar, (TkRect{98, 0, 104, 300}));   // centred on 101, twice the bar wide
  EXPECT_EQ(p.second, (TkRect{103, 0, 400, 300}));
  EXPECT_EQ(s.GetSplitterPos(), 100);
}

TEST(SplitterLayoutTest, HorizontalRectangles) {
  MemorySettingsStore store;
  SplitterLayout s(&store, 7);
  s.Create(SplitterLayout::kHorizontal, 20, 40);
  s.SetClient({0, 0, 300, 400});
  const auto p = s.Layout();
  // The bottom pane is 80 high (twice its minimum); the bar's line is at
  // 400 - 80 - 1.
  EXPECT_EQ(p.second, (TkRect{0, 320, 300, 400}));
  EXPECT_EQ(p.bar, (TkRect{0, 316, 300, 322}));
  EXPECT_EQ(p.first, (TkRect{0, 0, 300, 317}));
  EXPECT_EQ(s.GetSplitterPos(), 320);  // the bottom pane's top
  s.SetSplitterPos(250);
  EXPECT_EQ(s.Layout().second.Height(), 150);
  EXPECT_EQ(s.GetSplitterPos(), 250);
}

TEST(SplitterLayoutTest, ClampsInTheirStatedOrder) {
  struct Case {
    const char* what;
    int flags, firstMin, secondMin, extent, stored;
    int measured;  // left width or bottom height after the clamp
  } cases[] = {
      {"inside", 1, 20, 20, 300, 100, 100},
      {"leaves the right pane its minimum", 1, 20, 50, 300, 290, 250},
      {"left minimum", 1, 20, 50, 300, 5, 20},
      {"negative stored value", 1, 20, 50, 300, -400, 20},
      {"minimums that cannot both fit: the left one wins", 1, 200, 200, 300, 150, 200},
      {"left minimum larger than the client", 1, 500, 10, 300, 100, 297},
      {"client smaller than the bar", 1, 10, 10, 2, 100, 0},
      {"empty client", 1, 10, 10, 0, 100, 0},
      {"bottom inside", 2, 20, 20, 300, 100, 100},
      {"leaves the top pane its minimum", 2, 60, 20, 300, 290, 240},
      {"bottom minimum", 2, 60, 40, 300, 0, 40},
      {"bottom minimum wins", 2, 250, 100, 300, 80, 100},
      {"bottom minimum larger than the client", 2, 0, 900, 300, 80, 297},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySettingsStore store;
    const bool vertical = c.flags == SplitterLayout::kVertical;
    if (vertical) {
      store.SetInt("splt/init_v3", "VertSplitPos", c.stored);
    } else {
      store.SetInt("splt/init_h3", "HorizSplitPos", c.stored);
    }
    SplitterLayout s(&store, 3);
    ASSERT_TRUE(s.Create(c.flags, c.firstMin, c.secondMin));
    s.SetClient(vertical ? TkRect{0, 0, c.extent, 100} : TkRect{0, 0, 100, c.extent});
    const auto p = s.Layout();
    EXPECT_EQ(vertical ? p.first.Width() : p.second.Height(), c.measured);
    EXPECT_GE(p.first.Width(), 0);
    EXPECT_GE(p.first.Height(), 0);
    EXPECT_GE(p.second.Width(), 0);
    EXPECT_GE(p.second.Height(), 0);
  }
}

TEST(SplitterLayoutTest, ResizeKeepsTheWantedSize) {
  MemorySettingsStore store;
  store.SetInt("splt/init_v1", "VertSplitPos", 200);
  SplitterLayout s(&store, 1);
  s.Create(SplitterLayout::kVertical, 10, 50);
  s.SetClient({0, 0, 400, 100});
  EXPECT_EQ(s.GetSplitterPos(), 200);
  s.SetClient({0, 0, 220, 100});  // too narrow for 200 + the right minimum
  EXPECT_EQ(s.GetSplitterPos(), 170);
  s.SetClient({0, 0, 600, 100});  // back at its size once there is room
  EXPECT_EQ(s.GetSplitterPos(), 200);
}

TEST(SplitterLayoutTest, DragStoresAndEscKeepsTheBar) {
  MemorySettingsStore store;
  SplitterLayout s(&store, 4);
  s.Create(SplitterLayout::kVertical, 30, 40);
  s.SetClient({0, 0, 300, 100});
  EXPECT_FALSE(s.Press({10, 50}));  // not on the bar
  ASSERT_TRUE(s.Press({60, 50}));
  s.Move({5, 50});
  EXPECT_EQ(s.TrackerRect().left, 30 + 1 - 3);  // held at the left minimum
  s.Move({299, 50});
  EXPECT_EQ(s.TrackerRect().left, 260 + 1 - 3);  // held at the right minimum
  // Without live drag the panes stay until the release, whatever lays
  // them out meanwhile; the tracker follows the mouse.
  EXPECT_EQ(s.Layout().first.Width(), 60);
  EXPECT_EQ(s.TrackerRect().left, 260 + 1 - 3);
  s.SetLiveDrag(true);
  EXPECT_EQ(s.Layout().first.Width(), 260);
  s.SetLiveDrag(false);
  s.Cancel();
  EXPECT_FALSE(s.Dragging());
  EXPECT_EQ(s.GetSplitterPos(), 60);
  EXPECT_FALSE(store.Has("splt/init_v4", "VertSplitPos"));

  ASSERT_TRUE(s.Press({61, 50}));
  s.Release({150, 10});
  EXPECT_EQ(s.GetSplitterPos(), 150);
  EXPECT_EQ(store.GetInt("splt/init_v4", "VertSplitPos", -1), 150);

  SplitterLayout h(&store, 4);
  h.Create(SplitterLayout::kHorizontal, 10, 20);
  h.SetClient({0, 0, 100, 200});
  ASSERT_TRUE(h.Press({50, 160}));
  h.Release({50, 120});
  EXPECT_EQ(store.GetInt("splt/init_h4", "HorizSplitPos", -1), 80);
  EXPECT_EQ(h.GetSplitterPos(), 120);
}

TEST(SplitterLayoutTest, SeparateIdsKeepSeparatePositions) {
  MemorySettingsStore store;
  {
    SplitterLayout a(&store, 1), b(&store, 2);
    a.Create(SplitterLayout::kVertical, 10, 10);
    b.Create(SplitterLayout::kVertical, 10, 10);
    a.SetClient({0, 0, 500, 100});
    b.SetClient({0, 0, 500, 100});
    a.SetSplitterPos(123);
    b.SetSplitterPos(321);
    a.SaveOnDestroy();
    b.SaveOnDestroy();
  }
  SplitterLayout a(&store, 1), b(&store, 2);
  a.Create(SplitterLayout::kVertical, 10, 10);
  b.Create(SplitterLayout::kVertical, 10, 10);
  a.SetClient({0, 0, 500, 100});
  b.SetClient({0, 0, 500, 100});
  EXPECT_EQ(a.GetSplitterPos(), 123);
  EXPECT_EQ(b.GetSplitterPos(), 321);
}

TEST(SplitterLayoutTest, HiddenPanes) {
  MemorySettingsStore store;
  SplitterLayout s(&store, 5);
  s.Create(SplitterLayout::kVertical, 40, 40);
  s.SetClient({0, 0, 300, 100});
  EXPECT_FALSE(s.HideBottomPane());  // not a vertical splitter's pane
  ASSERT_TRUE(s.HideLeftPane());
  auto p = s.Layout();
  EXPECT_FALSE(p.firstVisible);
  EXPECT_EQ(p.second, (TkRect{0, 0, 300, 100}));
  EXPECT_TRUE(p.bar.IsEmpty());
  EXPECT_FALSE(s.Press({80, 50}));  // no bar to drag
  s.ShowLeftPane();
  s.HideRightPane();
  p = s.Layout();
  EXPECT_EQ(p.first, (TkRect{0, 0, 300, 100}));
  EXPECT_FALSE(p.secondVisible);
  // What is kept is where the bar goes back to, not the whole width.
  s.SaveOnDestroy();
  EXPECT_EQ(store.GetInt("splt/init_v5", "VertSplitPos", -1), 80);
  s.ShowRightPane();
  EXPECT_EQ(s.Layout().first.Width(), 80);

  SplitterLayout h(&store, 5);
  h.Create(SplitterLayout::kHorizontal, 10, 10);
  h.SetClient({0, 0, 100, 100});
  EXPECT_FALSE(h.HideLeftPane());
  EXPECT_TRUE(h.HideBottomPane());
  EXPECT_EQ(h.Layout().first, (TkRect{0, 0, 100, 100}));
}

TEST(SplitterLayoutTest, SwitchingDirectionKeepsEachPosition) {
  MemorySettingsStore store;
  store.SetInt("splt/init_h9", "HorizSplitPos", 70);
  SplitterLayout s(&store, 9);
  s.Create(SplitterLayout::kVertical, 25, 15);
  s.SetClient({0, 0, 300, 300});
  EXPECT_EQ(s.GetSplitterPos(), 50);
  s.SetSplitterPos(120);
  s.SetHorizontal();
  EXPECT_EQ(s.Style(), 2);
  EXPECT_EQ(s.Layout().second.Height(), 70);  // read from the store
  s.SetVertical();
  EXPECT_EQ(s.GetSplitterPos(), 120);  // remembered
}

TEST(SplitterLayoutTest, WithoutAStoreTheDefaultsHold) {
  SplitterLayout s(nullptr, 1);
  s.Create(SplitterLayout::kHorizontal, 10, 33);
  s.SetClient({0, 0, 100, 200});
  EXPECT_EQ(s.Layout().second.Height(), 66);
  s.SaveOnDestroy();  // nowhere to write: nothing happens
}

}  // namespace
