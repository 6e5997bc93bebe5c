#pragma once
// Colours as the console's drawing code keeps them: 0x00BBGGRR values
// (red in the low byte), and the lighter shades of the toolbar and the CPU
// panel backgrounds.
#include <cstdint>

namespace vvconsole {

using ColorRef = uint32_t;

constexpr ColorRef Rgb(int r, int g, int b) {
  return static_cast<ColorRef>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int RedOf(ColorRef c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(ColorRef c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(ColorRef c) { return static_cast<int>((c >> 16) & 0xFF); }

// Moves each of red, green and blue towards 255 by factor (0 < factor <= 1):
// c becomes the integer part of (255 - c) * factor + c. Any other factor
// (NaN too) gives the colour back unchanged. The top byte of the result is 0.
ColorRef LightenColor(ColorRef color, double factor);

// The toolbar's and the CPU panel's background: the colour of each pixel
// row from the top. f starts at 1.0 and drops by 0.04 before every even row
// from row 4 on; the row's colour is LightenColor(base, f).
ColorRef GradientRowColor(ColorRef base, int row);

// The base colour of those gradients.
constexpr ColorRef kPanelBaseColor = 0xCEDADF;  // RGB(223,218,206)

}  // namespace vvconsole
