#pragma once
// The colour picker's table of 40 named colours, the layout and keyboard
// walk of its drop-down grid, and the picker's own rules for what it shows
// and which notifications it sends.
//
// Colours are 0x00BBGGRR values; "automatic" (the default box's colour) is
// 0xFF000000, which no real colour of the table or of the colour dialog can
// take, so it is kept apart from black.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "console/logic/toolkit/ToolkitGeometry.h"

using ColourRef = uint32_t;
constexpr ColourRef kAutomaticColour = 0xFF000000u;
constexpr ColourRef MakeColourRef(int r, int g, int b) {
  return static_cast<ColourRef>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
inline int ColourRed(ColourRef c) { return static_cast<int>(c & 0xFF); }
inline int ColourGreen(ColourRef c) { return static_cast<int>((c >> 8) & 0xFF); }
inline int ColourBlue(ColourRef c) { return static_cast<int>((c >> 16) & 0xFF); }
inline bool IsAutomaticColour(ColourRef c) { return c == kAutomaticColour; }

struct NamedColour {
  const char* name;
  ColourRef colour;
};

constexpr int kPopupColours = 40;
constexpr int kPopupColumns = 8;
const std::array<NamedColour, kPopupColours>& PopupColourTable();

// Cell indexes of the popup: 0 .. 39 the grid (row-major), and these.
constexpr int kCellDefault = -3;  // the "Automatic" box
constexpr int kCellCustom = -2;   // the "More Colours..." box
constexpr int kCellNone = -1;

enum class PopupKey { Up, Down, Left, Right };

// The popup's cells and boxes in its client area.
class ColourPopupLayout {
 public:
  // margin: the system's edge width. A box exists only with its text; the
  // text sizes are measured by the caller with the popup's font.
  ColourPopupLayout(int margin, bool hasDefault, int defaultTextW, int defaultTextH,
                    bool hasCustom, int customTextW, int customTextH);

  int Margin() const { return margin_; }
  int CellSize() const { return cell_; }
  int Rows() const { return rows_; }
  int Columns() const { return kPopupColumns; }
  bool HasDefault() const { return hasDefault_; }
  bool HasCustom() const { return hasCustom_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  TkRect DefaultBox() const { return defaultBox_; }  // empty without a default text
  TkRect CustomBox() const { return customBox_; }    // empty without a custom text
  TkRect CellRect(int index) const;                  // empty for a cell outside the grid
  // The cell or box under a client point, or kCellNone.
  int HitTest(TkPoint p) const;
  // The popup's window below the picker's (screen) rectangle: kept inside
  // the screen horizontally, above the picker when it would pass the
  // screen's bottom.
  TkRect Place(const TkRect& picker, const TkRect& screen) const;

 private:
  int margin_;
  int cell_;
  int rows_;
  bool hasDefault_;
  bool hasCustom_;
  int width_ = 0;
  int height_ = 0;
  int gridTop_ = 0;
  TkRect defaultBox_;
  TkRect customBox_;
};

// The cell an arrow key leads to from the current one (kCellNone leads to
// the first cell).
int NextPopupCell(int current, PopupKey key, bool hasDefault, bool hasCustom);
// The cell selected when the popup opens with this colour.
int InitialPopupCell(ColourRef initial, bool hasDefault, bool hasCustom);
// The colour a highlighted cell stands for: its table colour, automatic for
// the default box, else the colour the popup opened with.
ColourRef PopupCellColour(int cell, ColourRef initial);

// The picker button's drop arrow: width the larger of the thumb width and
// 5 edges, height likewise, both then the larger of the two.
struct PickerArrow {
  int size = 0;
  int minButtonWidth = 0;  // two edges plus two arrows
  int buttonHeight = 0;    // the arrow plus two edges
};
PickerArrow ComputePickerArrow(int thumbW, int thumbH, int edgeW, int edgeH);
// The arrow at the right edge of the client area, inside the borders.
TkRect PickerArrowRect(const TkRect& client, int edgeW, int edgeH, int arrowSize);

// What the picker shows (the text colour in selection mode 1, else the
// background colour) and what it tells its parent.
class ColourPickerState {
 public:
  enum class Note { SelChange, DropDown, CloseUp, EndOk, Cancelled };
  struct Sent {
    Note note;
    ColourRef colour;
    bool operator==(const Sent& o) const { return note == o.note && colour == o.colour; }
  };

  ColourPickerState(ColourRef background, ColourRef text) : bk_(background), text_(text) {}

  ColourRef Colour() const { return mode_ == 1 ? text_ : bk_; }
  void SetColour(ColourRef c) { (mode_ == 1 ? text_ : bk_) = c; }
  ColourRef Background() const { return bk_; }
  void SetBackground(ColourRef c) { bk_ = c; }
  ColourRef Text() const { return text_; }
  void SetText(ColourRef c) { text_ = c; }
  int SelectionMode() const { return mode_; }
  void SetSelectionMode(int mode) { mode_ = mode; }
  bool TrackSelection() const { return track_; }
  void SetTrackSelection(bool on) { track_ = on; }
  bool Active() const { return active_; }

  // The click that opens the popup.
  std::vector<Sent> OnDropDown();
  // The popup's highlight moved.
  std::vector<Sent> OnHighlight(ColourRef c);
  // The popup ended with a choice: selection changed is sent only when the
  // choice differs from the colour shown before it.
  std::vector<Sent> OnEndOk(ColourRef c);
  // The popup was left without a choice; c is the colour it opened with.
  std::vector<Sent> OnCancel(ColourRef c);

  // The colour the button is filled with; nothing means the 3D-face colour
  // (a disabled button, or automatic).
  std::optional<ColourRef> FillColour(bool enabled) const;

 private:
  ColourRef bk_;
  ColourRef text_;
  int mode_ = 2;
  bool track_ = false;
  bool active_ = false;
};
