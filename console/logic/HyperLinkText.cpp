#include "console/logic/HyperLinkText.h"

#include <cstdio>

namespace hyperlink {

uint32_t TextColour(const Colours& c, bool over, bool visited) {
  if (over) return c.hover;
  return visited ? c.visited : c.link;
}

std::string OpenFailureMessage(int result) {
  const char* text = nullptr;
  switch (result) {
    case 0: text = "The operating system is out\nof memory or resources."; break;
    case 2: text = "The specified file was not found."; break;
    case 3: text = "The specified path was not found."; break;
    case 5: text = "The operating system denied\naccess to the specified file."; break;
    case 8: text = "There was not enough memory to complete the operation."; break;
    case 11: text = "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."; break;
    case 26: text = "A sharing violation occurred. "; break;
    case 27: text = "The filename association is\nincomplete or invalid."; break;
    case 28: text = "The DDE transaction could not\nbe completed because the request timed out."; break;
    case 29: text = "The DDE transaction failed."; break;
    case 30:
      text = "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
      break;
    case 31: text = "There is no application associated\nwith the given filename extension."; break;
    case 32: text = "The specified dynamic-link library was not found."; break;
    default: break;
  }
  std::string out = "Unable to open hyperlink:\n\n";
  if (text) return out + text;
  char buf[64];
  std::snprintf(buf, sizeof buf, "Unknown Error (%d) occurred.", result);
  return out + buf;
}

Rect FitToText(const Rect& rect, int textWidth, int textHeight, bool centreImage, HAlign align) {
  Rect r = rect;
  if (centreImage) {
    int dy = (rect.Height() - textHeight) / 2;
    r.top = rect.top + dy;
    r.bottom = r.top + textHeight;
  } else {
    r.bottom = rect.top + textHeight;
  }
  switch (align) {
    case HAlign::Center: {
      int dx = (rect.Width() - textWidth) / 2;
      r.left = rect.left + dx;
      r.right = r.left + textWidth;
      break;
    }
    case HAlign::Right: r.left = rect.right - textWidth; break;
    case HAlign::Left: r.right = rect.left + textWidth; break;
  }
  return r;
}

}  // namespace hyperlink
