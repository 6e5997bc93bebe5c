#include "console/logic/Colors.h"

namespace vvconsole {

ColorRef LightenColor(ColorRef color, double factor) {
  if (!(factor > 0.0 && factor <= 1.0)) return color;
  auto lift = [factor](int c) { return static_cast<int>((255 - c) * factor + c) & 0xFF; };
  return Rgb(lift(RedOf(color)), lift(GreenOf(color)), lift(BlueOf(color)));
}

ColorRef GradientRowColor(ColorRef base, int row) {
  double f = 1.0;
  for (int r = 4; r <= row; r += 2) f -= 0.04;
  return LightenColor(base, f);
}

}  // namespace vvconsole
