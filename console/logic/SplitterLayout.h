#pragma once
// The layout of a static splitter: a grid of panes with bars between the
// rows and the columns, whose last column (row) takes what room is left.
// One column and one row can be hidden and shown again; a hidden pane keeps
// a parked control id and its size, so it comes back with both.
//
// Panes are known by handles handed out in creation order; their control
// ids (kIdPaneFirst + row * 16 + column) move as columns and rows are hidden
// and shown, as the panes of a dialog would be renumbered.
#include <vector>

namespace vvconsole {

class SplitterLayout {
 public:
  struct Info {
    int minSize = 0;
    int idealSize = 0;
    int curSize = 0;
  };
  struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
  };

  // A grid of rows x cols panes (handles row * cols + col), all visible.
  void Create(int rows, int cols);

  static int IdFromRowCol(int row, int col);
  int Rows() const { return rows_; }
  int Cols() const { return cols_; }
  int MaxRows() const { return maxRows_; }
  int MaxCols() const { return maxCols_; }
  int HiddenColumn() const { return hiddenCol_; }
  int HiddenRow() const { return hiddenRow_; }

  // The pane whose control id is that of (row, col); -1 when none.
  int PaneAt(int row, int col) const;
  int PaneById(int id) const;
  int IdOf(int pane) const;
  bool IsVisible(int pane) const;
  int PaneCount() const { return static_cast<int>(panes_.size()); }
  // The pane now sits at (row, col); false when the id is not a visible pane's.
  bool RowColOf(int pane, int& row, int& col) const;

  // Puts another pane (a new handle) in the place of the one at (row, col):
  // the new one takes the place's id, the old one the id newId it had.
  // Returns the new handle, -1 when there is no pane at (row, col).
  int SwapPane(int row, int col, int newId);

  int ActivePane() const { return activePane_; }
  void SetActivePane(int row, int col);

  Info& Column(int col) { return colInfo_[col]; }
  Info& Row(int row) { return rowInfo_[row]; }
  const Info& Column(int col) const { return colInfo_[col]; }
  const Info& Row(int row) const { return rowInfo_[row]; }
  void SetColumnInfo(int col, int ideal, int min);
  void SetRowInfo(int row, int ideal, int min);

  // Width of the bars between columns (rows) and their gap (kept together).
  void SetSplitterWidth(int cx) { barWidth_ = cx; }
  void SetSplitterHeight(int cy) { barHeight_ = cy; }
  int SplitterWidth() const { return barWidth_; }
  int SplitterHeight() const { return barHeight_; }

  // Nothing with one column, a column out of range, or a column already
  // hidden (the first one has to be shown again first).
  void HideColumn(int col);
  // Nothing when no column is hidden.
  void ShowColumn();
  void HideRow(int row);
  void ShowRow();

  // Works out the current sizes for a client area of width x height.
  void Recalc(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  // Where a visible pane goes (after Recalc); empty for a hidden one.
  Rect PaneRect(int pane) const;
  // The bars between visible columns and rows (after Recalc).
  std::vector<Rect> Bars() const;
  // The column (row) left of (above) the bar under x (y); -1 when none.
  int ColumnBarAt(int x) const;
  int RowBarAt(int y) const;
  // The operator moves the bar right of col so that it starts at x.
  void TrackColumn(int col, int x);
  void TrackRow(int row, int y);

 private:
  struct Pane {
    int id;
    bool visible;
  };
  static void LayoutLine(std::vector<Info>& info, int count, int size, int bar);
  int Offset(const std::vector<Info>& info, int index, int bar) const;

  int rows_ = 0, cols_ = 0, maxRows_ = 0, maxCols_ = 0;
  int hiddenCol_ = -1, hiddenRow_ = -1;
  int activePane_ = -1;
  int barWidth_ = 6, barHeight_ = 6;
  int width_ = 0, height_ = 0;
  std::vector<Pane> panes_;
  std::vector<Info> colInfo_, rowInfo_;
};

}  // namespace vvconsole
