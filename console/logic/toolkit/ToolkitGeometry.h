#pragma once
// Plain rectangles and points of the toolkit controls' widget-free logic.
// A rectangle holds its left and top edges inclusive and its right and
// bottom edges exclusive, as the controls' drawing code expects.
#include <algorithm>

struct TkPoint {
  int x = 0;
  int y = 0;
  bool operator==(const TkPoint& o) const { return x == o.x && y == o.y; }
};

struct TkRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  static TkRect FromSize(int x, int y, int w, int h) { return {x, y, x + w, y + h}; }
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(TkPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  TkRect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  bool operator==(const TkRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};
