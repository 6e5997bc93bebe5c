#include "console/ui/toolkit/SSplitter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "console/ui/toolkit/ToolkitStore.h"

namespace vvconsole {

namespace {

QRect ToQRect(const TkRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

}  // namespace

CSSplitter::CSSplitter(QWidget* parent, ISettingsStore* store)
    : QWidget(parent), store_(store ? store : &ToolkitSettings()) {
  setMouseTracking(true);
  setFocusPolicy(Qt::NoFocus);
  // The tracker: a shaded bar over the panes while the bar is dragged.
  tracker_ = new QWidget(this);
  tracker_->setObjectName(QStringLiteral("tracker"));
  tracker_->setAttribute(Qt::WA_TransparentForMouseEvents);
  tracker_->setAutoFillBackground(true);
  QPalette pal = tracker_->palette();
  QColor shade = palette().color(QPalette::Dark);
  shade.setAlpha(170);
  pal.setColor(QPalette::Window, shade);
  tracker_->setPalette(pal);
  tracker_->hide();
}

CSSplitter::~CSSplitter() {
  if (layout_) layout_->SaveOnDestroy();
}

bool CSSplitter::Create(int flags, const QRect& rect, QWidget* first, QWidget* second, int id,
                        int firstMin, int secondMin) {
  if (layout_ || !first || !second || first == second) return false;
  auto layout = std::make_unique<::SplitterLayout>(store_, id);
  if (!layout->Create(flags, firstMin, secondMin)) return false;
  layout_ = std::move(layout);
  setObjectName(QString::number(id));
  first_ = first;
  second_ = second;
  first->setParent(this);
  second->setParent(this);
  first->show();
  second->show();
  setGeometry(rect);
  Relayout();
  return true;
}

int CSSplitter::GetSplitterStyle() const { return layout_ ? layout_->Style() : 0; }
int CSSplitter::GetSplitterPos() const { return layout_ ? layout_->GetSplitterPos() : 0; }
bool CSSplitter::GetLiveDrag() const { return layout_ && layout_->LiveDrag(); }

void CSSplitter::SetLiveDrag(bool on) {
  if (layout_) layout_->SetLiveDrag(on);
}

void CSSplitter::SetSplitterPos(int pos) {
  if (!layout_) return;
  layout_->SetSplitterPos(pos);
  Relayout();
}

template <typename F>
bool CSSplitter::Apply(F f) {
  if (!layout_) return false;
  if (layout_->Dragging()) EndDrag();
  const bool ok = f(*layout_);
  Relayout();
  return ok;
}

bool CSSplitter::HideLeftPane() { return Apply([](::SplitterLayout& l) { return l.HideLeftPane(); }); }
bool CSSplitter::ShowLeftPane() { return Apply([](::SplitterLayout& l) { return l.ShowLeftPane(); }); }
bool CSSplitter::HideRightPane() { return Apply([](::SplitterLayout& l) { return l.HideRightPane(); }); }
bool CSSplitter::ShowRightPane() { return Apply([](::SplitterLayout& l) { return l.ShowRightPane(); }); }
bool CSSplitter::HideBottomPane() {
  return Apply([](::SplitterLayout& l) { return l.HideBottomPane(); });
}
bool CSSplitter::ShowBottomPane() {
  return Apply([](::SplitterLayout& l) { return l.ShowBottomPane(); });
}
void CSSplitter::SetVertical() {
  Apply([](::SplitterLayout& l) {
    l.SetVertical();
    return true;
  });
}
void CSSplitter::SetHorizontal() {
  Apply([](::SplitterLayout& l) {
    l.SetHorizontal();
    return true;
  });
}

void CSSplitter::Relayout() {
  if (!layout_) return;
  layout_->SetClient({0, 0, width(), height()});
  const ::SplitterLayout::Panes p = layout_->Layout();
  if (first_) {
    first_->setGeometry(ToQRect(p.first));
    first_->setVisible(p.firstVisible);
  }
  if (second_) {
    second_->setGeometry(ToQRect(p.second));
    second_->setVisible(p.secondVisible);
  }
  update();
}

void CSSplitter::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Relayout();
}

void CSSplitter::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  Relayout();
}

void CSSplitter::ShowTracker() {
  tracker_->setGeometry(ToQRect(layout_->TrackerRect()));
  tracker_->raise();
  tracker_->show();
}

void CSSplitter::mousePressEvent(QMouseEvent* e) {
  if (!layout_ || e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  const QPoint p = e->position().toPoint();
  if (!layout_->Press({p.x(), p.y()})) return;
  // The keyboard comes here for Esc; it goes back when the drag ends.
  focusBefore_ = QApplication::focusWidget();
  setFocusPolicy(Qt::ClickFocus);
  setFocus(Qt::MouseFocusReason);
  grabMouse(layout_->Style() == ::SplitterLayout::kVertical ? Qt::SizeHorCursor
                                                          : Qt::SizeVerCursor);
  if (layout_->LiveDrag()) {
    Relayout();
  } else {
    ShowTracker();
  }
}

void CSSplitter::mouseMoveEvent(QMouseEvent* e) {
  if (!layout_) return;
  const QPoint p = e->position().toPoint();
  if (layout_->Dragging()) {
    layout_->Move({p.x(), p.y()});
    if (layout_->LiveDrag()) {
      Relayout();
    } else {
      ShowTracker();
    }
    return;
  }
  const TkRect bar = layout_->Layout().bar;
  if (!bar.IsEmpty() && bar.Contains({p.x(), p.y()})) {
    setCursor(layout_->Style() == ::SplitterLayout::kVertical ? Qt::SizeHorCursor
                                                            : Qt::SizeVerCursor);
  } else {
    unsetCursor();
  }
}

void CSSplitter::mouseReleaseEvent(QMouseEvent* e) {
  if (!layout_ || !layout_->Dragging() || e->button() != Qt::LeftButton) {
    return QWidget::mouseReleaseEvent(e);
  }
  const QPoint p = e->position().toPoint();
  layout_->Release({p.x(), p.y()});
  EndDrag();
  Relayout();
}

void CSSplitter::keyPressEvent(QKeyEvent* e) {
  if (layout_ && layout_->Dragging() && e->key() == Qt::Key_Escape) {
    layout_->Cancel();
    EndDrag();
    Relayout();
    return;
  }
  QWidget::keyPressEvent(e);
}

void CSSplitter::EndDrag() {
  if (layout_ && layout_->Dragging()) layout_->Cancel();
  tracker_->hide();
  if (QWidget::mouseGrabber() == this) releaseMouse();
  setFocusPolicy(Qt::NoFocus);
  if (focusBefore_) focusBefore_->setFocus(Qt::OtherFocusReason);
  focusBefore_ = nullptr;
}

}  // namespace vvconsole
