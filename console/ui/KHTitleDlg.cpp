#include "console/ui/KHTitleDlg.h"

#include <QMouseEvent>
#include <QPainter>

CKHTitleBaseDlg::CKHTitleBaseDlg(QWidget* parent) : QWidget(parent) {}

void CKHTitleBaseDlg::SetBackgroundBitmap(const QString& resource) {
  background_ = QPixmap(resource);
  if (!background_.isNull()) setFixedHeight(background_.height());
  update();
}

QSize CKHTitleBaseDlg::sizeHint() const {
  return background_.isNull() ? QSize(200, 37) : QSize(background_.width() * 16, background_.height());
}

void CKHTitleBaseDlg::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!background_.isNull() && background_.width() > 0) {
    for (int x = 0; x < width(); x += background_.width()) painter.drawPixmap(x, 0, background_);
  }
  PaintOver(painter);
}

CKHTitleBitDlg::CKHTitleBitDlg(QWidget* parent) : CKHTitleBaseDlg(parent) {
  SetBackgroundBitmap(QStringLiteral(":/console/title_background.png"));
}

bool CKHTitleBitDlg::SetButtonBitmap(const QString& resource, int count) {
  if (resource.isEmpty() || count <= 0) return false;
  buttons_ = QPixmap(resource);
  count_ = count;
  draw_ = ButtonDrawBox(background_.width(), background_.height(), buttons_.width(), buttons_.height(), count_);
  update();
  return true;
}

void CKHTitleBitDlg::SetSelected(int index) {
  selected_ = index;
  update();
}

void CKHTitleBitDlg::PaintOver(QPainter& painter) {
  if (count_ <= 0 || buttons_.isNull() || draw_.height <= 0) return;
  painter.drawPixmap(QRect(draw_.x, draw_.y, draw_.width, draw_.height), buttons_,
                     QRect(0, draw_.height * selected_, draw_.width, draw_.height));
}

CKHTitleMainDlg::CKHTitleMainDlg(const QString& buttonResource, int mode, QWidget* parent)
    : CKHTitleBitDlg(parent), mode_(mode) {
  SetButtonBitmap(buttonResource, mode);
  buttons_hit_ = ButtonHitRects(draw_, mode_);
  setMouseTracking(true);
}

void CKHTitleMainDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const QPoint p = event->position().toPoint();
    int hit = HitButton(buttons_hit_, mode_, p.x(), p.y());
    if (hit >= 0) {
      SetSelected(hit);
      emit ButtonClicked(hit);
    }
  }
  QWidget::mousePressEvent(event);
}

void CKHTitleMainDlg::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  bool over = mode_ <= 2 && HitButton(buttons_hit_, mode_, p.x(), p.y()) >= 0;
  if (over) setCursor(Qt::PointingHandCursor);
  else unsetCursor();
  QWidget::mouseMoveEvent(event);
}
