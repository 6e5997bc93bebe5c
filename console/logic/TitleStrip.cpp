#include "console/logic/TitleStrip.h"

StripBox ButtonDrawBox(int backgroundWidth, int backgroundHeight, int buttonWidth, int buttonHeight, int states) {
  StripBox r;
  if (states <= 0 || buttonWidth <= 0 || buttonHeight <= 0) return r;
  r.height = buttonHeight / states;
  r.x = backgroundWidth;
  r.y = backgroundHeight - r.height - 7;
  r.width = buttonWidth;
  return r;
}

StripButtons ButtonHitRects(const StripBox& draw, int mode) {
  StripButtons out;
  if (mode <= 0 || draw.width <= 0 || draw.height <= 0) return out;
  out.a = {draw.x, draw.y, draw.width, draw.height};
  out.b = out.a;
  out.a.right = out.a.right / mode;
  out.b.left = out.a.right + 10;
  out.b.right = out.a.right * 2;
  return out;
}

int HitButton(const StripButtons& buttons, int mode, int x, int y) {
  if (mode <= 0) return -1;
  if (buttons.a.Contains(x, y)) return 0;
  if (mode >= 2 && buttons.b.Contains(x, y)) return 1;
  return -1;
}
