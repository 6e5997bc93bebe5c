#include "console/ui/FlatSplitter.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include "console/logic/Colors.h"

namespace vvconsole {

CCJFlatSplitterWnd::CCJFlatSplitterWnd(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

bool CCJFlatSplitterWnd::CreateStatic(int rows, int cols) {
  if (rows < 1 || cols < 1 || rows > 16 || cols > 15) return false;
  layout_.Create(rows, cols);
  widgets_.assign(static_cast<size_t>(rows * cols), nullptr);
  return true;
}

bool CCJFlatSplitterWnd::CreateView(int row, int col, QWidget* view, QSize size) {
  int handle = layout_.PaneAt(row, col);
  if (!view || handle < 0 || PaneWidget(handle)) return false;
  view->setParent(this);
  widgets_[static_cast<size_t>(handle)] = view;
  layout_.SetColumnInfo(col, size.width(), 0);
  layout_.SetRowInfo(row, size.height(), 0);
  view->setObjectName(QString::number(layout_.IdOf(handle)));
  view->show();
  RecalcLayout();
  return true;
}

QWidget* CCJFlatSplitterWnd::PaneWidget(int handle) const {
  return handle >= 0 && handle < static_cast<int>(widgets_.size()) ? widgets_[static_cast<size_t>(handle)] : nullptr;
}

QWidget* CCJFlatSplitterWnd::GetPane(int row, int col) const { return PaneWidget(layout_.PaneAt(row, col)); }

void CCJFlatSplitterWnd::SetSplitterWidth(int cx) {
  layout_.SetSplitterWidth(cx);
  RecalcLayout();
}

void CCJFlatSplitterWnd::SetSplitterHeight(int cy) {
  layout_.SetSplitterHeight(cy);
  RecalcLayout();
}

void CCJFlatSplitterWnd::SetStandardLook(bool standard) {
  flat_ = !standard;
  update();
}

bool CCJFlatSplitterWnd::SwitchView(int row, int col, QWidget* window) {
  int handle = layout_.PaneAt(row, col);
  QWidget* old = PaneWidget(handle);
  if (!old || !window || old == window) return false;
  bool ok = false;
  int newId = window->objectName().toInt(&ok);
  if (!ok) newId = 0;
  int fresh = layout_.SwapPane(row, col, newId);
  if (fresh < 0) return false;
  window->setParent(this);
  widgets_.resize(static_cast<size_t>(layout_.PaneCount()), nullptr);
  widgets_[static_cast<size_t>(fresh)] = window;
  old->hide();
  window->show();
  ApplyIds();
  RecalcLayout();
  return true;
}

bool CCJFlatSplitterWnd::ReplaceView(int row, int col, const char* className,
                                     const std::function<QWidget*(QWidget*)>& factory) {
  int handle = layout_.PaneAt(row, col);
  QWidget* old = PaneWidget(handle);
  if (!old || !factory || (className && old->inherits(className))) return false;
  QWidget* view = factory(this);
  if (!view) return false;
  widgets_[static_cast<size_t>(handle)] = view;
  view->setObjectName(old->objectName());
  old->hide();
  old->deleteLater();
  view->show();
  RecalcLayout();
  return true;
}

void CCJFlatSplitterWnd::ShowColumn() {
  layout_.ShowColumn();
  ApplyIds();
  RecalcLayout();
}

void CCJFlatSplitterWnd::HideColumn(int col) {
  layout_.HideColumn(col);
  ApplyIds();
  RecalcLayout();
}

void CCJFlatSplitterWnd::ShowRow() {
  layout_.ShowRow();
  ApplyIds();
  RecalcLayout();
}

void CCJFlatSplitterWnd::HideRow(int row) {
  layout_.HideRow(row);
  ApplyIds();
  RecalcLayout();
}

void CCJFlatSplitterWnd::ApplyIds() {
  for (int h = 0; h < layout_.PaneCount(); ++h) {
    QWidget* w = PaneWidget(h);
    if (!w) continue;
    w->setObjectName(QString::number(layout_.IdOf(h)));
    // A parked pane is hidden; a pane shown again appears without taking
    // the focus.
    if (!layout_.IsVisible(h)) {
      w->hide();
    } else if (w->isHidden()) {
      w->setAttribute(Qt::WA_ShowWithoutActivating);
      w->show();
    }
  }
}

void CCJFlatSplitterWnd::RecalcLayout() {
  layout_.Recalc(width(), height());
  for (int h = 0; h < layout_.PaneCount(); ++h) {
    QWidget* w = PaneWidget(h);
    if (!w || !layout_.IsVisible(h)) continue;
    SplitterLayout::Rect r = layout_.PaneRect(h);
    w->setGeometry(r.x, r.y, r.w, r.h);
  }
  update();
}

QColor CCJFlatSplitterWnd::BarColor() const { return palette().color(QPalette::Button); }

QColor CKHSplitterWnd::BarColor() const {
  ColorRef c = Rgb(240, 237, 230);
  return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}

void CCJFlatSplitterWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  RecalcLayout();
}

void CCJFlatSplitterWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  for (const SplitterLayout::Rect& r : layout_.Bars()) {
    QRect rect(r.x, r.y, r.w, r.h);
    if (flat_) {
      p.fillRect(rect, BarColor());
    } else {
      QStyleOption opt;
      opt.initFrom(this);
      opt.rect = rect;
      opt.state = QStyle::State_Enabled;
      // A bar between columns stands upright: the splitter runs horizontally.
      if (r.h == height() && r.w == layout_.SplitterWidth()) opt.state |= QStyle::State_Horizontal;
      style()->drawControl(QStyle::CE_Splitter, &opt, &p, this);
    }
  }
}

void CCJFlatSplitterWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  QPoint pos = event->position().toPoint();
  dragColumn_ = layout_.ColumnBarAt(pos.x());
  dragRow_ = dragColumn_ < 0 ? layout_.RowBarAt(pos.y()) : -1;
}

void CCJFlatSplitterWnd::mouseMoveEvent(QMouseEvent* event) {
  QPoint pos = event->position().toPoint();
  if (dragColumn_ >= 0) {
    layout_.TrackColumn(dragColumn_, pos.x());
    RecalcLayout();
  } else if (dragRow_ >= 0) {
    layout_.TrackRow(dragRow_, pos.y());
    RecalcLayout();
  } else if (layout_.ColumnBarAt(pos.x()) >= 0) {
    setCursor(Qt::SplitHCursor);
  } else if (layout_.RowBarAt(pos.y()) >= 0) {
    setCursor(Qt::SplitVCursor);
  } else {
    unsetCursor();
  }
}

void CCJFlatSplitterWnd::mouseReleaseEvent(QMouseEvent* event) {
  dragColumn_ = dragRow_ = -1;
  QWidget::mouseReleaseEvent(event);
}

}  // namespace vvconsole
