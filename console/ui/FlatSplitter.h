#pragma once
// A static splitter that draws its bars flat and can hide and show a column
// or a row, replace the view of a pane or swap a pane's window. The grid
// itself (sizes, control ids of the panes) is SplitterLayout's; this widget
// places the pane widgets, paints the bars and lets the operator drag them.
// Each pane carries its control id as objectName; the ids move when columns
// and rows are hidden and shown.
#include <QColor>
#include <QWidget>
#include <functional>
#include <vector>

#include "console/logic/SplitterLayout.h"

namespace vvconsole {

class CCJFlatSplitterWnd : public QWidget {
  Q_OBJECT

 public:
  explicit CCJFlatSplitterWnd(QWidget* parent = nullptr);

  // A grid of rows x cols empty places; CreateView fills each.
  bool CreateStatic(int rows, int cols);
  // Puts view into (row, col) with its ideal size; false for a place outside
  // the grid or one already filled.
  bool CreateView(int row, int col, QWidget* view, QSize size);
  QWidget* GetPane(int row, int col) const;
  int GetRowCount() const { return layout_.Rows(); }
  int GetColumnCount() const { return layout_.Cols(); }
  SplitterLayout& Layout() { return layout_; }

  virtual void SetSplitterWidth(int cx);
  virtual void SetSplitterHeight(int cy);
  // Standard look: the style's own splitter handles instead of flat bars.
  virtual void SetStandardLook(bool standard);
  bool IsFlat() const { return flat_; }
  // Shows window in the pane of (row, col) in place of the pane's window,
  // which is hidden; the two exchange their control ids. False when the
  // pane already is that window.
  virtual bool SwitchView(int row, int col, QWidget* window);
  // Replaces the pane's view by a new one made by factory (kept id and
  // sizes); false when the pane's view already is of that kind (className).
  virtual bool ReplaceView(int row, int col, const char* className, const std::function<QWidget*(QWidget*)>& factory);
  virtual void ShowColumn();
  virtual void HideColumn(int col);
  virtual void ShowRow();
  virtual void HideRow(int row);

  void RecalcLayout();
  // The colour of the flat bars.
  virtual QColor BarColor() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void ApplyIds();
  QWidget* PaneWidget(int handle) const;

  SplitterLayout layout_;
  std::vector<QWidget*> widgets_;  // by pane handle
  bool flat_ = true;
  int dragColumn_ = -1;
  int dragRow_ = -1;
};

// The main frame's splitter: the same with bars of a warm light colour.
class CKHSplitterWnd : public CCJFlatSplitterWnd {
  Q_OBJECT

 public:
  explicit CKHSplitterWnd(QWidget* parent = nullptr) : CCJFlatSplitterWnd(parent) {}
  QColor BarColor() const override;
};

}  // namespace vvconsole
