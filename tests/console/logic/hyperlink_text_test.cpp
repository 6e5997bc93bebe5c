// What the hyperlink control shows: failure texts, colours and its fitted
// rectangle.
#include <gtest/gtest.h>

#include "console/logic/HyperLinkText.h"

using namespace hyperlink;

TEST(HyperLinkText, FailureMessageByResult) {
  struct Case {
    int result;
    const char* text;
  } cases[] = {
      {0, "The operating system is out\nof memory or resources."},
      {2, "The specified file was not found."},
      {26, "A sharing violation occurred. "},
      {31, "There is no application associated\nwith the given filename extension."},
      {32, "The specified dynamic-link library was not found."},
      {1, "Unknown Error (1) occurred."},
      {-7, "Unknown Error (-7) occurred."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(OpenFailureMessage(c.result), std::string("Unable to open hyperlink:\n\n") + c.text) << c.result;
}

TEST(HyperLinkText, ColourFollowsHoverThenVisited) {
  Colours c;
  c.hover = 0x123456;
  EXPECT_EQ(TextColour(c, false, false), 0x0000EEu);
  EXPECT_EQ(TextColour(c, false, true), 0x551A8Bu);
  EXPECT_EQ(TextColour(c, true, true), 0x123456u);
  EXPECT_EQ(TextColour(c, true, false), 0x123456u);
}

TEST(HyperLinkText, FitsToTheTextByAlignment) {
  Rect r{10, 20, 110, 60};  // 100 x 40
  struct Case {
    bool centreImage;
    HAlign align;
    Rect want;
  } cases[] = {
      {false, HAlign::Left, {10, 20, 40, 30}},
      {false, HAlign::Right, {80, 20, 110, 30}},
      {false, HAlign::Center, {45, 20, 75, 30}},
      {true, HAlign::Left, {10, 35, 40, 45}},
      {true, HAlign::Center, {45, 35, 75, 45}},
  };
  for (const Case& c : cases) {
    Rect got = FitToText(r, 30, 10, c.centreImage, c.align);
    EXPECT_TRUE(got == c.want) << got.left << "," << got.top << "," << got.right << "," << got.bottom;
  }
}
