#include "console/ui/toolkit/BitmapStrip.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace vvconsole {

namespace {

QRect ToQRect(const TkRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

// Plain source copies, scaled (when at all) pixel for pixel.
void Blit(QPainter* p, const BitmapStripLayout::Copy& c, const QImage& from) {
  p->save();
  p->setCompositionMode(QPainter::CompositionMode_Source);
  p->setRenderHint(QPainter::SmoothPixmapTransform, false);
  p->drawImage(ToQRect(c.dest), from, ToQRect(c.src));
  p->restore();
}

}  // namespace

CBitmapStrip::CBitmapStrip(const QString& resource, int frameWidth, int frameHeight, int copyMode)
    : bitmap_(resource), copyMode_(copyMode) {
  Init(frameWidth, frameHeight);
}

CBitmapStrip::CBitmapStrip(const QImage& bitmap, int frameWidth, int frameHeight, int copyMode)
    : bitmap_(bitmap), copyMode_(copyMode) {
  Init(frameWidth, frameHeight);
}

void CBitmapStrip::Init(int frameWidth, int frameHeight) {
  if (!bitmap_.isNull()) bitmap_ = bitmap_.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  layout_ = BitmapStripLayout(bitmap_.width(), bitmap_.height(), frameWidth, frameHeight);
  if (copyMode_ == 1) copy_ = bitmap_.copy();
}

QPoint CBitmapStrip::Offset() const { return QPoint(layout_.Offset().x, layout_.Offset().y); }

void CBitmapStrip::SetOffset(const QPoint& p) { layout_.SetOffset({p.x(), p.y()}); }

bool CBitmapStrip::GetFrameRect(int index, QRect* rect, bool ignoreOffset,
                                const QPoint* offset) const {
  TkPoint o;
  if (offset) o = {offset->x(), offset->y()};
  auto r = layout_.GetFrameRect(index, ignoreOffset, offset ? &o : nullptr);
  if (!r) return false;
  if (rect) *rect = ToQRect(*r);
  return true;
}

bool CBitmapStrip::HitTest(const QPoint& p, const QPoint* offset) const {
  TkPoint o;
  if (offset) o = {offset->x(), offset->y()};
  return layout_.HitTest({p.x(), p.y()}, offset ? &o : nullptr);
}

QRect CBitmapStrip::GetBounds(const QPoint* offset) const {
  TkPoint o;
  if (offset) o = {offset->x(), offset->y()};
  return ToQRect(layout_.GetBounds(offset ? &o : nullptr));
}

bool CBitmapStrip::DrawFrame(QPainter* painter, int index, bool keepPosition,
                             const QPoint* offset) const {
  if (!painter) return false;
  TkPoint o;
  if (offset) o = {offset->x(), offset->y()};
  auto plan = layout_.PlanDrawFrame(index, keepPosition, offset ? &o : nullptr);
  if (!plan) return false;
  Blit(painter, *plan, bitmap_);
  return true;
}

bool CBitmapStrip::Draw(QPainter* painter, int x, int y, int width, int height,
                        const QPoint& source, bool stretch, bool centre) const {
  if (!painter) return false;
  auto plan = layout_.PlanDraw(x, y, width, height, {source.x(), source.y()}, stretch, centre);
  if (!plan) return false;
  Blit(painter, *plan, copyMode_ == 1 ? copy_ : bitmap_);
  return true;
}

bool CBitmapStrip::Draw(QPainter* painter, const QRect& dest, const QPoint& source, bool stretch,
                        bool centre) const {
  return Draw(painter, dest.x(), dest.y(), dest.width(), dest.height(), source, stretch, centre);
}

bool CBitmapStrip::CopyFrameFrom(const CBitmapStrip& other, int index) {
  if (copyMode_ != 1 || copy_.isNull()) return false;
  auto plan = layout_.PlanCopyFrameFrom(other.layout_, index);
  if (!plan) return false;
  QPainter p(&copy_);
  Blit(&p, *plan, other.bitmap_);
  return true;
}

void CBitmapStrip::ResetCopy() {
  if (copyMode_ == 1) copy_ = bitmap_.copy();
}

// ---- CBitWnd

CBitWnd::CBitWnd(int id, QWidget* parent) : QWidget(parent), id_(id) {
  setObjectName(QString::number(id));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

CBitWnd::~CBitWnd() = default;

bool CBitWnd::LoadStrip(const QString& resource, int frameWidth, int frameHeight) {
  auto strip = std::make_unique<CBitmapStrip>(resource, frameWidth, frameHeight, 0);
  CBitmapStrip* raw = strip.get();
  owned_ = std::move(strip);
  UseStrip(raw);
  return raw->FrameCount() > 0;
}

bool CBitWnd::LoadStrip(const QImage& bitmap, int frameWidth, int frameHeight) {
  auto strip = std::make_unique<CBitmapStrip>(bitmap, frameWidth, frameHeight, 0);
  CBitmapStrip* raw = strip.get();
  owned_ = std::move(strip);
  UseStrip(raw);
  return raw->FrameCount() > 0;
}

void CBitWnd::SetStrip(CBitmapStrip* strip) {
  if (owned_.get() != strip) owned_.reset();  // frees our own, never the caller's
  UseStrip(strip);
}

void CBitWnd::UseStrip(CBitmapStrip* strip) {
  strip_ = strip;
  state_.SetFrameCount(strip ? strip->FrameCount() : 0);
  if (strip && strip->FrameCount() > 0) {
    setFixedSize(strip->FrameWidth(), strip->FrameHeight());
  } else {
    setFixedSize(0, 0);
  }
  update();
}

void CBitWnd::SetCheck(bool checked) {
  state_.SetChecked(checked);
  update();
}

void CBitWnd::SetButtonCursor(const std::optional<QCursor>& cursor) {
  if (cursor) {
    setCursor(*cursor);
  } else {
    unsetCursor();
  }
}

QSize CBitWnd::sizeHint() const {
  if (!strip_ || strip_->FrameCount() == 0) return QSize(0, 0);
  return QSize(strip_->FrameWidth(), strip_->FrameHeight());
}

void CBitWnd::paintEvent(QPaintEvent*) {
  if (!strip_) return;
  QPainter p(this);
  const QPoint at = strip_->Offset();
  strip_->DrawFrame(&p, state_.Frame(), false, &at);
}

void CBitWnd::Forward(QMouseEvent* e) {
  if (!state_.ForwardsMouse() || !parentWidget()) return;
  QMouseEvent copy(e->type(), mapToParent(e->position()), e->globalPosition(), e->button(),
                   e->buttons(), e->modifiers());
  QCoreApplication::sendEvent(parentWidget(), &copy);
}

void CBitWnd::mouseMoveEvent(QMouseEvent* e) {
  // Arming leave tracking: Qt reports the leave by itself, and the hover
  // that follows after 1 ms of rest comes at once.
  if (state_.OnMouseMove()) {
    state_.SetTracking(true);
    if (state_.OnHover()) update();
  }
  Forward(e);
}

void CBitWnd::leaveEvent(QEvent* e) {
  if (state_.OnLeave()) update();
  QWidget::leaveEvent(e);
}

void CBitWnd::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  AfterClick(state_.OnPress(), e);
}

void CBitWnd::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(e);
  AfterClick(state_.OnRelease(), e);
}

void CBitWnd::AfterClick(bool notify, QMouseEvent* e) {
  update();
  if (notify) {
    QPointer<CBitWnd> alive(this);
    emit command(id_, this);
    if (!alive) return;  // the command closed the button's window
  }
  Forward(e);
}

}  // namespace vvconsole
