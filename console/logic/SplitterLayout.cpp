#include "console/logic/SplitterLayout.h"

#include <algorithm>

#include "console/logic/FrameModel.h"

namespace vvconsole {

void SplitterLayout::Create(int rows, int cols) {
  rows_ = maxRows_ = std::max(rows, 1);
  cols_ = maxCols_ = std::max(cols, 1);
  hiddenCol_ = hiddenRow_ = -1;
  activePane_ = -1;
  panes_.clear();
  for (int r = 0; r < rows_; ++r)
    for (int c = 0; c < cols_; ++c) panes_.push_back({IdFromRowCol(r, c), true});
  // One record more than panes: a hidden column's (row's) size is parked
  // in the record past the last visible one.
  colInfo_.assign(static_cast<size_t>(maxCols_) + 1, Info());
  rowInfo_.assign(static_cast<size_t>(maxRows_) + 1, Info());
}

int SplitterLayout::IdFromRowCol(int row, int col) { return kIdPaneFirst + row * 16 + col; }

int SplitterLayout::PaneById(int id) const {
  for (size_t i = 0; i < panes_.size(); ++i)
    if (panes_[i].id == id) return static_cast<int>(i);
  return -1;
}

int SplitterLayout::PaneAt(int row, int col) const { return PaneById(IdFromRowCol(row, col)); }

int SplitterLayout::IdOf(int pane) const {
  return pane >= 0 && pane < PaneCount() ? panes_[static_cast<size_t>(pane)].id : 0;
}

bool SplitterLayout::IsVisible(int pane) const {
  return pane >= 0 && pane < PaneCount() && panes_[static_cast<size_t>(pane)].visible;
}

bool SplitterLayout::RowColOf(int pane, int& row, int& col) const {
  if (!IsVisible(pane)) return false;
  int off = IdOf(pane) - kIdPaneFirst;
  row = off / 16;
  col = off % 16;
  return row < rows_ && col < cols_;
}

int SplitterLayout::SwapPane(int row, int col, int newId) {
  int old = PaneAt(row, col);
  if (old < 0) return -1;
  panes_.push_back({IdFromRowCol(row, col), panes_[static_cast<size_t>(old)].visible});
  panes_[static_cast<size_t>(old)].id = newId;
  panes_[static_cast<size_t>(old)].visible = false;
  if (activePane_ == old) activePane_ = PaneCount() - 1;
  return PaneCount() - 1;
}

void SplitterLayout::SetActivePane(int row, int col) { activePane_ = PaneAt(row, col); }

void SplitterLayout::SetColumnInfo(int col, int ideal, int min) {
  if (col < 0 || col >= maxCols_) return;
  colInfo_[static_cast<size_t>(col)].idealSize = ideal;
  colInfo_[static_cast<size_t>(col)].minSize = min;
}

void SplitterLayout::SetRowInfo(int row, int ideal, int min) {
  if (row < 0 || row >= maxRows_) return;
  rowInfo_[static_cast<size_t>(row)].idealSize = ideal;
  rowInfo_[static_cast<size_t>(row)].minSize = min;
}

void SplitterLayout::HideColumn(int col) {
  if (cols_ <= 1 || hiddenCol_ != -1 || col < 0 || col >= cols_) return;
  hiddenCol_ = col;
  int activeRow, activeCol;
  if (RowColOf(activePane_, activeRow, activeCol) && activeCol == col)
    activePane_ = PaneAt(activeRow, col + 1 < cols_ ? col + 1 : 0);
  for (int row = 0; row < rows_; ++row) {
    int hide = PaneAt(row, col);
    std::vector<int> right;
    for (int c = col + 1; c < cols_; ++c) right.push_back(PaneAt(row, c));
    if (hide >= 0) {
      panes_[static_cast<size_t>(hide)].visible = false;
      panes_[static_cast<size_t>(hide)].id = kIdPaneFirst + row * 16 + cols_;
    }
    int c = col;
    for (int pane : right) {
      if (pane >= 0) panes_[static_cast<size_t>(pane)].id = IdFromRowCol(row, c);
      ++c;
    }
  }
  --cols_;
  colInfo_[static_cast<size_t>(cols_)].curSize = colInfo_[static_cast<size_t>(col)].curSize;
  Recalc(width_, height_);
}

void SplitterLayout::ShowColumn() {
  if (hiddenCol_ == -1 || cols_ >= maxCols_) return;
  int colNew = hiddenCol_;
  hiddenCol_ = -1;
  int cxNew = colInfo_[static_cast<size_t>(cols_)].curSize;
  ++cols_;
  for (int row = 0; row < rows_; ++row) {
    int parked = PaneById(kIdPaneFirst + row * 16 + cols_);
    for (int col = cols_ - 2; col >= colNew; --col) {
      int pane = PaneAt(row, col);
      if (pane >= 0) panes_[static_cast<size_t>(pane)].id = IdFromRowCol(row, col + 1);
    }
    if (parked >= 0) {
      panes_[static_cast<size_t>(parked)].visible = true;
      panes_[static_cast<size_t>(parked)].id = IdFromRowCol(row, colNew);
    }
  }
  for (int col = colNew + 1; col < cols_; ++col)
    colInfo_[static_cast<size_t>(col)].idealSize = colInfo_[static_cast<size_t>(col - 1)].curSize;
  colInfo_[static_cast<size_t>(colNew)].idealSize = cxNew;
  Recalc(width_, height_);
}

void SplitterLayout::HideRow(int rowHide) {
  if (rows_ <= 1 || hiddenRow_ != -1 || rowHide < 0 || rowHide >= rows_) return;
  hiddenRow_ = rowHide;
  int activeRow, activeCol;
  if (RowColOf(activePane_, activeRow, activeCol) && activeRow == rowHide)
    activePane_ = PaneAt(rowHide + 1 < rows_ ? rowHide + 1 : 0, activeCol);
  for (int col = 0; col < cols_; ++col) {
    int hide = PaneAt(rowHide, col);
    std::vector<int> below;
    for (int r = rowHide + 1; r < rows_; ++r) below.push_back(PaneAt(r, col));
    if (hide >= 0) {
      panes_[static_cast<size_t>(hide)].visible = false;
      panes_[static_cast<size_t>(hide)].id = kIdPaneFirst + rows_ * 16 + col;
    }
    int r = rowHide;
    for (int pane : below) {
      if (pane >= 0) panes_[static_cast<size_t>(pane)].id = IdFromRowCol(r, col);
      ++r;
    }
  }
  --rows_;
  rowInfo_[static_cast<size_t>(rows_)].curSize = rowInfo_[static_cast<size_t>(rowHide)].curSize;
  Recalc(width_, height_);
}

void SplitterLayout::ShowRow() {
  if (hiddenRow_ == -1 || rows_ >= maxRows_) return;
  int rowNew = hiddenRow_;
  hiddenRow_ = -1;
  int cyNew = rowInfo_[static_cast<size_t>(rows_)].curSize;
  ++rows_;
  for (int col = 0; col < cols_; ++col) {
    int parked = PaneById(kIdPaneFirst + rows_ * 16 + col);
    for (int row = rows_ - 2; row >= rowNew; --row) {
      int pane = PaneAt(row, col);
      if (pane >= 0) panes_[static_cast<size_t>(pane)].id = IdFromRowCol(row + 1, col);
    }
    if (parked >= 0) {
      panes_[static_cast<size_t>(parked)].visible = true;
      panes_[static_cast<size_t>(parked)].id = IdFromRowCol(rowNew, col);
    }
  }
  for (int row = rowNew + 1; row < rows_; ++row)
    rowInfo_[static_cast<size_t>(row)].idealSize = rowInfo_[static_cast<size_t>(row - 1)].curSize;
  rowInfo_[static_cast<size_t>(rowNew)].idealSize = cyNew;
  Recalc(width_, height_);
}

// Each pane but the last gets its ideal size (none when that is under its
// minimum); a pane that leaves no room for a bar and the next pane takes all
// that is left, and the panes after it get nothing; the last one takes the
// rest.
void SplitterLayout::LayoutLine(std::vector<Info>& info, int count, int size, int bar) {
  int remaining = std::max(size, 0);
  bool filled = false;
  for (int i = 0; i < count; ++i) {
    Info& in = info[static_cast<size_t>(i)];
    if (filled) {
      in.curSize = 0;
      continue;
    }
    if (i == count - 1) {
      in.curSize = remaining;
      break;
    }
    int want = in.idealSize < in.minSize ? 0 : std::max(in.idealSize, 0);
    if (want >= remaining - bar) {
      in.curSize = remaining;
      filled = true;
      continue;
    }
    in.curSize = want;
    remaining -= want + bar;
  }
}

void SplitterLayout::Recalc(int width, int height) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  LayoutLine(colInfo_, cols_, width_, barWidth_);
  LayoutLine(rowInfo_, rows_, height_, barHeight_);
}

int SplitterLayout::Offset(const std::vector<Info>& info, int index, int bar) const {
  int pos = 0;
  for (int i = 0; i < index; ++i) pos += info[static_cast<size_t>(i)].curSize + bar;
  return pos;
}

SplitterLayout::Rect SplitterLayout::PaneRect(int pane) const {
  int row, col;
  if (!RowColOf(pane, row, col)) return Rect();
  Rect r;
  r.w = colInfo_[static_cast<size_t>(col)].curSize;
  r.h = rowInfo_[static_cast<size_t>(row)].curSize;
  if (r.w <= 0 || r.h <= 0) return Rect();
  r.x = Offset(colInfo_, col, barWidth_);
  r.y = Offset(rowInfo_, row, barHeight_);
  return r;
}

std::vector<SplitterLayout::Rect> SplitterLayout::Bars() const {
  std::vector<Rect> bars;
  for (int c = 0; c + 1 < cols_; ++c) {
    int x = Offset(colInfo_, c, barWidth_) + colInfo_[static_cast<size_t>(c)].curSize;
    if (x + barWidth_ > width_) break;
    bars.push_back({x, 0, barWidth_, height_});
  }
  for (int r = 0; r + 1 < rows_; ++r) {
    int y = Offset(rowInfo_, r, barHeight_) + rowInfo_[static_cast<size_t>(r)].curSize;
    if (y + barHeight_ > height_) break;
    bars.push_back({0, y, width_, barHeight_});
  }
  return bars;
}

int SplitterLayout::ColumnBarAt(int x) const {
  for (int c = 0; c + 1 < cols_; ++c) {
    int bx = Offset(colInfo_, c, barWidth_) + colInfo_[static_cast<size_t>(c)].curSize;
    if (bx + barWidth_ > width_) break;
    if (x >= bx && x < bx + barWidth_) return c;
  }
  return -1;
}

int SplitterLayout::RowBarAt(int y) const {
  for (int r = 0; r + 1 < rows_; ++r) {
    int by = Offset(rowInfo_, r, barHeight_) + rowInfo_[static_cast<size_t>(r)].curSize;
    if (by + barHeight_ > height_) break;
    if (y >= by && y < by + barHeight_) return r;
  }
  return -1;
}

void SplitterLayout::TrackColumn(int col, int x) {
  if (col < 0 || col + 1 >= cols_) return;
  int left = Offset(colInfo_, col, barWidth_);
  colInfo_[static_cast<size_t>(col)].idealSize = std::max(0, std::min(x, width_ - barWidth_) - left);
  Recalc(width_, height_);
}

void SplitterLayout::TrackRow(int row, int y) {
  if (row < 0 || row + 1 >= rows_) return;
  int top = Offset(rowInfo_, row, barHeight_);
  rowInfo_[static_cast<size_t>(row)].idealSize = std::max(0, std::min(y, height_ - barHeight_) - top);
  Recalc(width_, height_);
}

}  // namespace vvconsole
