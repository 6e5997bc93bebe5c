#pragma once
// What the hyperlink control shows and where it sits: the colour of its
// text, the message of a failed open, and the rectangle it fits to.
#include <cstdint>
#include <string>

namespace hyperlink {

// Colours as 0x00RRGGBB.
struct Colours {
  uint32_t link = 0x0000EE;     // RGB(0, 0, 238)
  uint32_t visited = 0x551A8B;  // RGB(85, 26, 139)
  uint32_t hover = 0;           // the system highlight colour unless set
};

// The text colour: hover while the mouse is over it, else visited once
// visited, else the link colour.
uint32_t TextColour(const Colours& c, bool over, bool visited);

// Results of an open: above 32 the address opened.
constexpr int kOpened = 33;
constexpr int kFileNotFound = 2;

// "Unable to open hyperlink:\n\n" and the text for the result.
std::string OpenFailureMessage(int result);

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Rect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};
enum class HAlign { Left, Center, Right };

// The rectangle a link of textWidth x textHeight fits to inside rect:
// centred vertically (centreImage) or kept at the top; horizontally centred,
// kept at the right edge or kept at the left edge.
Rect FitToText(const Rect& rect, int textWidth, int textHeight, bool centreImage, HAlign align);

}  // namespace hyperlink
