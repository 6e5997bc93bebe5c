#include "console/ui/CpuNetInfoDlg.h"

#include <QFontDatabase>
#include <QPainter>
#include <QResizeEvent>

#include "console/ui/ConsoleWindows.h"

namespace vvconsole {

namespace {
constexpr int kBarWidth = 72;
constexpr int kPanelWidth = 2 * kBarWidth + 8;
QColor Rgb(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }
}  // namespace

// ---------------------------------------------------------------- the bar

CSwingProgressCtrl::CSwingProgressCtrl(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("1157"));
}

void CSwingProgressCtrl::SetText(const QString& text) {
  text_ = text;
  update();
}

void CSwingProgressCtrl::SetRange(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
  update();
}

void CSwingProgressCtrl::SetPos(int pos) {
  pos_ = pos;
  update();
}

void CSwingProgressCtrl::SetVertical(bool vertical) {
  vertical_ = vertical;
  update();
}

QRect CSwingProgressCtrl::FilledRect() const {
  QRect inner = rect().adjusted(2, 2, -2, -2);
  if (vertical_) {
    int h = cpuload::FilledExtent(inner.height(), pos_, lower_, upper_);
    return QRect(inner.left(), inner.bottom() + 1 - h, inner.width(), h);
  }
  int w = cpuload::FilledExtent(inner.width(), pos_, lower_, upper_);
  return QRect(inner.left(), inner.top(), w, inner.height());
}

void CSwingProgressCtrl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QRect inner = rect().adjusted(2, 2, -2, -2);
  QRect filled = FilledRect();
  p.setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
  p.fillRect(inner, Qt::black);
  auto drawText = [&](const QColor& colour) {
    p.setPen(colour);
    p.drawText(inner, Qt::AlignCenter, text_);
    p.setPen(Qt::white);
    p.drawText(inner.translated(1, 1), Qt::AlignCenter, text_);
  };
  drawText(QColor(0x80, 0x80, 0x80));
  p.fillRect(filled, QColor(0, 255, 0));
  p.save();
  p.setClipRect(filled);
  drawText(QColor(0x3C, 0x3C, 0x50));
  p.restore();
  // A sunken edge: dark top and left, light bottom and right, each with an
  // inner line.
  QRect r = rect().adjusted(0, 0, -1, -1);
  p.setPen(QColor(0x80, 0x80, 0x80));
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(Qt::white);
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
  QRect r2 = r.adjusted(1, 1, -1, -1);
  p.setPen(QColor(0x99, 0x99, 0xCC));
  p.drawLine(r2.topLeft(), r2.topRight());
  p.drawLine(r2.topLeft(), r2.bottomLeft());
  p.setPen(QColor(0xE0, 0xE0, 0xE0));
  p.drawLine(r2.bottomLeft(), r2.bottomRight());
  p.drawLine(r2.topRight(), r2.bottomRight());
}

// ---------------------------------------------------------------- the panel

CCpuNetInfoDlg::CCpuNetInfoDlg(QWidget* parent, const std::string& statPath) : QWidget(parent), meter_(statPath) {
  setObjectName(QStringLiteral("101"));
  bar_ = new CSwingProgressCtrl(this);
  bar_->setGeometry(kPanelWidth / 2, 0, kBarWidth, 40);
  resize(sizeHint());
  UpdateCpuLoad();
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &CCpuNetInfoDlg::UpdateCpuLoad);
  timer_.start();
}

QSize CCpuNetInfoDlg::sizeHint() const { return QSize(kPanelWidth, 40); }

void CCpuNetInfoDlg::UpdateCpuLoad() {
  int load = meter_.Sample();
  bar_->SetRange(0, 100);
  bar_->SetStep(1);
  bar_->SetText(QString::fromStdString(cpuload::LoadText(load)));
  bar_->SetPos(load);
}

void CCpuNetInfoDlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  bar_->setGeometry(width() / 2, 0, bar_->width(), height());
}

void CCpuNetInfoDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  for (int y = 0; y < height(); ++y) {
    p.setPen(Rgb(cpuload::GradientRowColour(y)));
    p.drawLine(0, y, width(), y);
  }
}

QWidget* CreateCpuNetInfoDlg(QWidget* parent) { return new CCpuNetInfoDlg(parent); }

}  // namespace vvconsole
