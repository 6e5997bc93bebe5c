#pragma once
// Geometry of the skinned title strip: where its button image is drawn and
// which of its one or two buttons a point hits.

// x, y, width, height.
struct StripBox {
  int x = 0, y = 0, width = 0, height = 0;
};

// A hit area; left and top inside, right and bottom outside.
struct StripRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(int px, int py) const { return px >= left && px < right && py >= top && py < bottom; }
};

// The button image's place: right of the first background tile, one state
// high, 7 pixels above the strip's bottom. All zero when the strip has no
// button image (no states).
StripBox ButtonDrawBox(int backgroundWidth, int backgroundHeight, int buttonWidth, int buttonHeight, int states);

struct StripButtons {
  StripRect a;  // button 0
  StripRect b;  // button 1, with two or more buttons
};
// The hit areas of the buttons (mode = number of buttons, 1 to 3): the
// draw box's x, y, width and height taken as left, top, right and bottom,
// the right edge shared out among the buttons with 10 pixels between.
StripButtons ButtonHitRects(const StripBox& draw, int mode);
// 0 or 1 for the button hit, -1 for none.
int HitButton(const StripButtons& buttons, int mode, int x, int y);
