// Bitmap strip geometry and the bitmap button's frame states.
#include <gtest/gtest.h>

#include "console/logic/toolkit/BitmapStripLayout.h"

namespace {

struct StripCase {
  int bw, bh, fw, fh;
  int frames;
  bool vertical;
  int frameW, frameH;
};

TEST(BitmapStripLayoutTest, FrameCountsFromBitmapAndFrameSize) {
  const StripCase cases[] = {
      {300, 100, 100, 100, 3, false, 100, 100},  // three side by side
      {300, 100, 0, 100, 1, false, 300, 100},    // frame width 0: the whole bitmap
      {300, 100, 100, 0, 3, false, 100, 100},    // frame height 0: the bitmap's height
      {100, 300, 100, 100, 3, true, 100, 100},   // taller than wide: vertical
      {100, 300, 100, 0, 1, true, 100, 300},
      {250, 50, 100, 50, 2, false, 100, 50},     // a partial frame is no frame
      {0, 0, 0, 0, 0, false, 0, 0},              // a failed load
      {300, 0, 100, 100, 0, false, 0, 0},
      {300, 100, -100, 100, 0, false, 0, 0},     // negative frame sizes
      {300, 100, 100, -1, 0, false, 0, 0},
      {50, 50, 100, 50, 0, false, 100, 50},      // frame wider than the bitmap
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bw << "x" << c.bh << " frame " << c.fw << "x" << c.fh);
    BitmapStripLayout s(c.bw, c.bh, c.fw, c.fh);
    EXPECT_EQ(s.FrameCount(), c.frames);
    EXPECT_EQ(s.IsVertical(), c.vertical);
    EXPECT_EQ(s.FrameWidth(), c.frameW);
    EXPECT_EQ(s.FrameHeight(), c.frameH);
  }
}

TEST(BitmapStripLayoutTest, FrameRectanglesWithOffsets) {
  BitmapStripLayout h(300, 100, 100, 100);
  h.SetOffset({5, 7});
  const TkPoint given{-10, 20};
  struct Case {
    const BitmapStripLayout* strip;
    int index;
    bool ignore;
    const TkPoint* offset;
    std::optional<TkRect> want;
  };
  BitmapStripLayout v(40, 120, 40, 40);
  const Case cases[] = {
      {&h, 0, true, nullptr, TkRect{0, 0, 100, 100}},
      {&h, 2, true, nullptr, TkRect{200, 0, 300, 100}},
      {&h, 1, false, nullptr, TkRect{105, 7, 205, 107}},   // the drawing offset
      {&h, 1, false, &given, TkRect{90, 20, 190, 120}},     // the given offset wins
      {&h, 1, true, &given, TkRect{100, 0, 200, 100}},      // offsets ignored
      {&h, 3, true, nullptr, std::nullopt},                 // not below the count
      {&h, -1, true, nullptr, std::nullopt},
      {&v, 2, true, nullptr, TkRect{0, 80, 40, 120}},
      {&v, 3, false, nullptr, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(c.strip->GetFrameRect(c.index, c.ignore, c.offset), c.want);
  }
  BitmapStripLayout none;
  EXPECT_FALSE(none.GetFrameRect(0, true));
}

TEST(BitmapStripLayoutTest, HitTestIsFrameZeroAtTheOffset) {
  BitmapStripLayout s(90, 30, 30, 30);
  s.SetOffset({10, 10});
  const TkPoint other{100, 0};
  struct Case {
    TkPoint p;
    const TkPoint* offset;
    bool hit;
  } cases[] = {
      {{10, 10}, nullptr, true},  {{39, 39}, nullptr, true}, {{40, 20}, nullptr, false},
      {{9, 20}, nullptr, false},  {{60, 20}, nullptr, false},  // frame 1 is not the button
      {{100, 0}, &other, true},   {{10, 10}, &other, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(s.HitTest(c.p, c.offset), c.hit) << c.p.x << "," << c.p.y;
  }
  EXPECT_FALSE(BitmapStripLayout().HitTest({0, 0}));
  EXPECT_FALSE(BitmapStripLayout(0, 0, 0, 0).HitTest({0, 0}));
}

TEST(BitmapStripLayoutTest, DrawFrameAndBoundsPlans) {
  BitmapStripLayout s(300, 100, 100, 100);
  s.SetOffset({3, 4});
  auto plain = s.PlanDrawFrame(2, false);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->src, (TkRect{200, 0, 300, 100}));
  EXPECT_EQ(plain->dest, (TkRect{3, 4, 103, 104}));
  auto kept = s.PlanDrawFrame(2, true);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->dest, (TkRect{203, 4, 303, 104}));
  const TkPoint at{50, 60};
  EXPECT_EQ(s.PlanDrawFrame(1, false, &at)->dest, (TkRect{50, 60, 150, 160}));
  EXPECT_FALSE(s.PlanDrawFrame(3, false));
  EXPECT_FALSE(s.PlanDrawFrame(-1, false));
  EXPECT_FALSE(BitmapStripLayout(0, 0, 0, 0).PlanDrawFrame(0, false));
  EXPECT_EQ(s.GetBounds(), (TkRect{3, 4, 303, 104}));
  EXPECT_EQ(s.GetBounds(&at), (TkRect{50, 60, 350, 160}));
}

TEST(BitmapStripLayoutTest, WholeBitmapDrawPlans) {
  BitmapStripLayout s(40, 20, 0, 0);
  struct Case {
    const char* what;
    int x, y, w, h;
    TkPoint src;
    bool stretch, centre;
    std::optional<TkRect> dest;
    std::optional<TkRect> from;
  } cases[] = {
      {"zero size takes the bitmap's", 5, 5, 0, 0, {0, 0}, false, false, TkRect{5, 5, 45, 25},
       TkRect{0, 0, 40, 20}},
      {"smaller destination cuts", 0, 0, 10, 10, {0, 0}, false, false, TkRect{0, 0, 10, 10},
       TkRect{0, 0, 10, 10}},
      {"larger destination copies what there is", 0, 0, 100, 100, {0, 0}, false, false,
       TkRect{0, 0, 40, 20}, TkRect{0, 0, 40, 20}},
      {"source position", 0, 0, 0, 0, {30, 10}, false, false, TkRect{0, 0, 10, 10},
       TkRect{30, 10, 40, 20}},
      {"centred in a larger box", 0, 0, 100, 60, {0, 0}, false, true, TkRect{30, 20, 70, 40},
       TkRect{0, 0, 40, 20}},
      {"centre in a smaller box does not shift", 0, 0, 10, 60, {0, 0}, false, true,
       TkRect{0, 20, 10, 40}, TkRect{0, 0, 10, 20}},
      {"stretch", 0, 0, 80, 80, {0, 0}, true, false, TkRect{0, 0, 80, 80}, TkRect{0, 0, 40, 20}},
      {"stretch keeps the centred axis", 0, 0, 100, 10, {0, 0}, true, true,
       TkRect{30, 0, 70, 10}, TkRect{0, 0, 40, 20}},
      {"source outside", 0, 0, 0, 0, {40, 0}, false, false, std::nullopt, std::nullopt},
      {"negative size", 0, 0, -1, 0, {0, 0}, false, false, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto plan = s.PlanDraw(c.x, c.y, c.w, c.h, c.src, c.stretch, c.centre);
    ASSERT_EQ(plan.has_value(), c.dest.has_value());
    if (!plan) continue;
    EXPECT_EQ(plan->dest, *c.dest);
    EXPECT_EQ(plan->src, *c.from);
    EXPECT_EQ(plan->stretch, c.stretch);
  }
  EXPECT_FALSE(BitmapStripLayout().PlanDraw(0, 0, 0, 0, {0, 0}, false, false));
}

TEST(BitmapStripLayoutTest, CopyFrameFromAnotherStrip) {
  BitmapStripLayout mine(300, 100, 100, 100);
  BitmapStripLayout other(300, 100, 100, 100);
  auto c = mine.PlanCopyFrameFrom(other, 1);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->src, (TkRect{100, 0, 200, 100}));
  EXPECT_EQ(c->dest, (TkRect{100, 0, 200, 100}));
  BitmapStripLayout two(100, 50, 50, 50);
  EXPECT_FALSE(two.PlanCopyFrameFrom(other, 2));  // this strip lacks frame 2
  EXPECT_FALSE(mine.PlanCopyFrameFrom(two, 2));   // the other one does
}

// ---- the bitmap button

TEST(BitButtonStateTest, PlainButtonFramesThroughHoverPressReleaseLeave) {
  BitButtonState b;
  b.SetFrameCount(3);
  EXPECT_TRUE(b.OnMouseMove());
  b.SetTracking(true);
  EXPECT_FALSE(b.OnMouseMove());
  EXPECT_TRUE(b.OnHover());
  EXPECT_EQ(b.Frame(), 1);
  EXPECT_FALSE(b.OnPress());  // the command goes on the release
  EXPECT_EQ(b.Frame(), 2);
  EXPECT_FALSE(b.Checked());
  EXPECT_TRUE(b.OnRelease());
  EXPECT_EQ(b.Frame(), 1);
  EXPECT_TRUE(b.OnLeave());
  EXPECT_EQ(b.Frame(), 0);
  EXPECT_FALSE(b.Tracking());
}

TEST(BitButtonStateTest, ToggleFlipsOnThePressAndKeepsFrameTwoWhenLeft) {
  BitButtonState b;
  b.SetFrameCount(3);
  b.SetToggles(true);
  b.OnHover();
  b.OnPress();
  EXPECT_TRUE(b.Checked());  // before any release
  EXPECT_EQ(b.Frame(), 2);
  b.OnRelease();
  EXPECT_EQ(b.Frame(), 2);  // a checked button keeps its frame
  b.OnLeave();
  EXPECT_EQ(b.Frame(), 2);
  b.OnHover();
  EXPECT_EQ(b.Frame(), 2);
  b.OnPress();  // unchecks
  EXPECT_FALSE(b.Checked());
  EXPECT_EQ(b.Frame(), 0);
  b.OnRelease();
  EXPECT_EQ(b.Frame(), 1);
}

TEST(BitButtonStateTest, FramesStayInsideShortStrips) {
  struct Case {
    int frames;
    bool checked;
    int hover, press, release, leave;
  } cases[] = {
      {1, false, 0, 0, 0, 0}, {2, false, 1, 0, 1, 0}, {3, false, 1, 0, 1, 0},
      {1, true, 0, 0, 0, 0},  {2, true, 0, 0, 0, 0},  {3, true, 2, 2, 2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frames << " frames, checked " << c.checked);
    BitButtonState b;
    b.SetFrameCount(c.frames);
    b.SetToggles(true);
    b.SetChecked(c.checked);
    b.OnHover();
    EXPECT_EQ(b.Frame(), c.hover);
    EXPECT_LT(b.Frame(), c.frames);
    // Press toggles; a second press comes back to the starting state.
    b.OnPress();
    b.OnRelease();
    b.OnPress();
    EXPECT_EQ(b.Frame(), c.press);
    b.OnRelease();
    EXPECT_EQ(b.Frame(), c.release);
    b.OnLeave();
    EXPECT_EQ(b.Frame(), c.leave);
    EXPECT_LT(b.Frame(), c.frames);
  }
}

TEST(BitButtonStateTest, NotifyOnPressMovesTheCommand) {
  BitButtonState b;
  b.SetFrameCount(3);
  b.SetNotifyOnPress(true);
  EXPECT_TRUE(b.OnPress());
  EXPECT_FALSE(b.OnRelease());
}

TEST(BitButtonStateTest, NoStripMeansNoFrameChangeOnHover) {
  BitButtonState b;
  EXPECT_FALSE(b.OnHover());
  EXPECT_FALSE(b.OnLeave());
  EXPECT_EQ(b.Frame(), 0);
  EXPECT_TRUE(b.OnRelease());  // the command still goes out
}

}  // namespace
