#include "console/logic/toolkit/ColourPickerRules.h"

#include <algorithm>

const std::array<NamedColour, kPopupColours>& PopupColourTable() {
  static const std::array<NamedColour, kPopupColours> table = {{
      {"Black", MakeColourRef(0, 0, 0)},
      {"Brown", MakeColourRef(165, 42, 0)},
      {"Dark Olive Green", MakeColourRef(0, 64, 64)},
      {"Dark Green", MakeColourRef(0, 85, 0)},
      {"Dark Teal", MakeColourRef(0, 0, 94)},
      {"Dark blue", MakeColourRef(0, 0, 139)},
      {"Indigo", MakeColourRef(75, 0, 130)},
      {"Dark grey", MakeColourRef(40, 40, 40)},

      {"Dark red", MakeColourRef(139, 0, 0)},
      {"Orange", MakeColourRef(255, 104, 32)},
      {"Dark yellow", MakeColourRef(139, 139, 0)},
      {"Green", MakeColourRef(0, 147, 0)},
      {"Teal", MakeColourRef(56, 142, 142)},
      {"Blue", MakeColourRef(0, 0, 255)},
      {"Blue-grey", MakeColourRef(123, 123, 192)},
      {"Grey - 40", MakeColourRef(102, 102, 102)},

      {"Red", MakeColourRef(255, 0, 0)},
      {"Light orange", MakeColourRef(255, 173, 91)},
      {"Lime", MakeColourRef(50, 205, 50)},
      {"Sea green", MakeColourRef(60, 179, 113)},
      {"Aqua", MakeColourRef(127, 255, 212)},
      {"Light blue", MakeColourRef(125, 158, 192)},
      {"Violet", MakeColourRef(128, 0, 128)},
      {"Grey - 50", MakeColourRef(127, 127, 127)},

      {"Pink", MakeColourRef(255, 192, 203)},
      {"Gold", MakeColourRef(255, 215, 0)},
      {"Yellow", MakeColourRef(255, 255, 0)},
      {"Bright green", MakeColourRef(0, 255, 0)},
      {"Turquoise", MakeColourRef(64, 224, 208)},
      {"Skyblue", MakeColourRef(192, 255, 255)},
      {"Plum", MakeColourRef(72, 0, 72)},
      {"Light grey", MakeColourRef(192, 192, 192)},

      {"Rose", MakeColourRef(255, 228, 225)},
      {"Tan", MakeColourRef(210, 180, 140)},
      {"Light yellow", MakeColourRef(255, 255, 224)},
      {"Pale green ", MakeColourRef(152, 251, 152)},
      {"Pale turquoise", MakeColourRef(175, 238, 238)},
      {"Pale blue", MakeColourRef(104, 131, 139)},
      {"Lavender", MakeColourRef(230, 230, 250)},
      {"White", MakeColourRef(255, 255, 255)},
  }};
  return table;
}

// ---- layout

ColourPopupLayout::ColourPopupLayout(int margin, bool hasDefault, int defaultTextW,
                                     int defaultTextH, bool hasCustom, int customTextW,
                                     int customTextH)
    : margin_(std::max(0, margin)), hasDefault_(hasDefault), hasCustom_(hasCustom) {
  cell_ = 18;
  if (18 - 2 * margin_ - 2 < 5) cell_ = 2 * margin_ + 7;
  rows_ = (kPopupColours + kPopupColumns - 1) / kPopupColumns;

  int innerW = kPopupColumns * cell_;
  int textW = 0;
  int textH = 0;
  if (hasDefault_) {
    textW = std::max(textW, defaultTextW);
    textH = std::max(textH, defaultTextH);
  }
  if (hasCustom_) {
    textW = std::max(textW, customTextW);
    textH = std::max(textH, customTextH);
  }
  // A box wide enough for its text and a margin on either side.
  if (hasDefault_ || hasCustom_) innerW = std::max(innerW, textW + 4 * margin_);
  const int boxH = textH + 2 * margin_ + 2;

  int y = margin_;
  if (hasDefault_) {
    defaultBox_ = TkRect::FromSize(margin_, y, innerW, boxH);
    y += boxH;
  }
  gridTop_ = y;
  y += rows_ * cell_;
  if (hasCustom_) {
    customBox_ = TkRect::FromSize(margin_, y, innerW, boxH);
    y += boxH;
  }
  width_ = innerW + 2 * margin_;
  height_ = y + margin_;
}

TkRect ColourPopupLayout::CellRect(int index) const {
  if (index < 0 || index >= kPopupColours) return {};
  const int row = index / kPopupColumns;
  const int col = index % kPopupColumns;
  return TkRect::FromSize(margin_ + col * cell_, gridTop_ + row * cell_, cell_, cell_);
}

int ColourPopupLayout::HitTest(TkPoint p) const {
  if (hasCustom_ && customBox_.Contains(p)) return kCellCustom;
  if (hasDefault_ && defaultBox_.Contains(p)) return kCellDefault;
  const int x = p.x - margin_;
  const int y = p.y - gridTop_;
  if (x < 0 || y < 0) return kCellNone;
  const int col = x / cell_;
  const int row = y / cell_;
  if (col >= kPopupColumns || row >= rows_) return kCellNone;
  const int index = row * kPopupColumns + col;
  return index < kPopupColours ? index : kCellNone;
}

TkRect ColourPopupLayout::Place(const TkRect& picker, const TkRect& screen) const {
  int x = picker.left;
  int y = picker.bottom;
  if (x + width_ > screen.right) x = screen.right - width_;
  if (x < screen.left) x = screen.left;
  if (y + height_ > screen.bottom) y = picker.top - height_;
  return TkRect::FromSize(x, y, width_, height_);
}

// ---- keyboard walk

int NextPopupCell(int current, PopupKey key, bool hasDefault, bool hasCustom) {
  const int last = kPopupColours - 1;
  // Where a walk that ran off the grid lands.
  const int offEnd = hasCustom ? kCellCustom : (hasDefault ? kCellDefault : 0);
  const int beforeStart = hasDefault ? kCellDefault : (hasCustom ? kCellCustom : last);
  if (current == kCellNone || current < kCellDefault || current > last) return 0;
  switch (key) {
    case PopupKey::Down:
      if (current == kCellDefault) return 0;
      if (current == kCellCustom) return hasDefault ? kCellDefault : 0;
      return current + kPopupColumns <= last ? current + kPopupColumns : offEnd;
    case PopupKey::Up:
      if (current == kCellDefault) return hasCustom ? kCellCustom : last;
      if (current == kCellCustom) return last;
      return current >= kPopupColumns ? current - kPopupColumns : beforeStart;
    case PopupKey::Right:
      if (current == kCellDefault) return 0;
      if (current == kCellCustom) return hasDefault ? kCellDefault : 0;
      return current + 1 <= last ? current + 1 : offEnd;
    case PopupKey::Left:
      if (current == kCellDefault) return hasCustom ? kCellCustom : last;
      if (current == kCellCustom) return last;
      return current > 0 ? current - 1 : beforeStart;
  }
  return current;
}

int InitialPopupCell(ColourRef initial, bool hasDefault, bool hasCustom) {
  if (IsAutomaticColour(initial) && hasDefault) return kCellDefault;
  const auto& table = PopupColourTable();
  for (int i = 0; i < kPopupColours; ++i) {
    if (table[i].colour == initial) return i;
  }
  return hasCustom ? kCellCustom : kCellNone;
}

ColourRef PopupCellColour(int cell, ColourRef initial) {
  if (cell >= 0 && cell < kPopupColours) return PopupColourTable()[cell].colour;
  if (cell == kCellDefault) return kAutomaticColour;
  return initial;
}

// ---- picker

PickerArrow ComputePickerArrow(int thumbW, int thumbH, int edgeW, int edgeH) {
  const int w = std::max(thumbW, 5 * edgeW);
  const int h = std::max(thumbH, 5 * edgeH);
  PickerArrow a;
  a.size = std::max(w, h);
  a.minButtonWidth = 2 * edgeW + 2 * a.size;
  a.buttonHeight = a.size + 2 * edgeH;
  return a;
}

TkRect PickerArrowRect(const TkRect& client, int edgeW, int edgeH, int arrowSize) {
  return {client.right - edgeW - arrowSize, client.top + edgeH, client.right - edgeW,
          client.bottom - edgeH};
}

std::vector<ColourPickerState::Sent> ColourPickerState::OnDropDown() {
  active_ = true;
  return {{Note::DropDown, Colour()}};
}

std::vector<ColourPickerState::Sent> ColourPickerState::OnHighlight(ColourRef c) {
  if (track_) SetColour(c);
  return {{Note::SelChange, c}};
}

std::vector<ColourPickerState::Sent> ColourPickerState::OnEndOk(ColourRef c) {
  const ColourRef shown = Colour();
  active_ = false;
  SetColour(c);
  std::vector<Sent> out{{Note::CloseUp, c}, {Note::EndOk, c}};
  if (shown != c) out.push_back({Note::SelChange, c});
  return out;
}

std::vector<ColourPickerState::Sent> ColourPickerState::OnCancel(ColourRef c) {
  active_ = false;
  SetColour(c);
  return {{Note::CloseUp, c}, {Note::Cancelled, c}};
}

std::optional<ColourRef> ColourPickerState::FillColour(bool enabled) const {
  const ColourRef c = Colour();
  if (!enabled || IsAutomaticColour(c)) return std::nullopt;
  return c;
}
