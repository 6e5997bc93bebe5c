// Geometry of the title strip's buttons.
#include <gtest/gtest.h>

#include "console/logic/TitleStrip.h"

namespace {

TEST(TitleStripTest, ButtonPlacesAndHits) {
  // The status view's strip: a 15 x 37 background and a 200 x 50 image of
  // two states.
  StripBox draw = ButtonDrawBox(15, 37, 200, 50, 2);
  EXPECT_EQ(draw.x, 15);
  EXPECT_EQ(draw.y, 5);
  EXPECT_EQ(draw.width, 200);
  EXPECT_EQ(draw.height, 25);
  StripButtons b = ButtonHitRects(draw, 2);
  struct Hit {
    int x, y, button;
  } hits[] = {{15, 5, 0}, {99, 24, 0}, {100, 10, -1}, {109, 10, -1}, {110, 10, 1}, {199, 24, 1},
              {200, 10, -1}, {50, 25, -1}, {14, 10, -1}, {50, 4, -1}};
  for (const Hit& h : hits) EXPECT_EQ(HitButton(b, 2, h.x, h.y), h.button) << h.x << "," << h.y;
  // One button: only the first area counts.
  StripButtons one = ButtonHitRects(draw, 1);
  EXPECT_EQ(HitButton(one, 1, 150, 10), 0);
  EXPECT_EQ(HitButton(one, 1, 215, 10), -1);
  // No button image, no states or no buttons: nothing to draw or hit.
  for (int states : {0, -1}) {
    StripBox none = ButtonDrawBox(15, 37, 200, 50, states);
    EXPECT_EQ(none.width, 0);
    EXPECT_EQ(none.height, 0);
  }
  StripButtons zero = ButtonHitRects(draw, 0);
  EXPECT_EQ(HitButton(zero, 0, 20, 10), -1);
  EXPECT_EQ(HitButton(ButtonHitRects(StripBox{}, 2), 2, 0, 0), -1);
}

}  // namespace
