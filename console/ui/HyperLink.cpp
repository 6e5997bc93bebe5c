#include "console/ui/HyperLink.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>

#include "console/logic/HyperLinkText.h"
#include "console/logic/Prompt.h"

namespace vvconsole {

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(text, parent) {
  url_ = text;
  setCursor(cursor_);
  setToolTip(url_);
  ApplyFont();
  ApplyColour();
}

void CHyperLink::SetURL(const QString& address) {
  url_ = address;
  if (text().isEmpty()) setText(url_);
  setToolTip(url_);
  Fit();
}

void CHyperLink::SetColours(const QColor& link, const QColor& visited, const QColor& hover) {
  link_ = link;
  visited_ = visited;
  hover_ = hover;
  ApplyColour();
}

QColor CHyperLink::GetHoverColour() const {
  return hover_.isValid() ? hover_ : QApplication::palette().color(QPalette::Highlight);
}

void CHyperLink::SetVisited(bool visited) {
  visitedFlag_ = visited;
  ApplyColour();
}

void CHyperLink::SetLinkCursor(const QCursor& cursor) {
  bool none = cursor.shape() == Qt::BitmapCursor && cursor.pixmap().isNull();
  cursor_ = none ? QCursor(Qt::PointingHandCursor) : cursor;
  setCursor(cursor_);
}

void CHyperLink::SetUnderline(bool underline) {
  underline_ = underline;
  ApplyFont();
  Fit();
}

void CHyperLink::SetAutoSize(bool autoSize) {
  autoSize_ = autoSize;
  Fit();
}

QColor CHyperLink::CurrentColour() const {
  if (over_) return GetHoverColour();
  return visitedFlag_ ? visited_ : link_;
}

void CHyperLink::SetOpener(Opener opener) { opener_ = std::move(opener); }

int CHyperLink::OpenWithDesktop(const QString& address) {
  // The address is one argument of the opener: nothing in it is read by a
  // shell, whatever characters it holds.
  return QProcess::startDetached(QStringLiteral("xdg-open"), {address}) ? hyperlink::kOpened
                                                                          : hyperlink::kFileNotFound;
}

void CHyperLink::Open() {
  int result = opener_ ? opener_(url_) : OpenWithDesktop(url_);
  if (result > 32) {
    SetVisited(true);
    return;
  }
  QApplication::beep();
  std::string text = hyperlink::OpenFailureMessage(result);
  if (prompt_) {
    prompt_->Message(text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Velvanet"), QString::fromStdString(text),
                  QMessageBox::NoButton, this);
  box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
  box.exec();
}

void CHyperLink::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  if (!over_) {
    over_ = true;
    ApplyColour();
  }
}

void CHyperLink::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  if (over_) {
    over_ = false;
    ApplyColour();
  }
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Open();
}

void CHyperLink::showEvent(QShowEvent* event) {
  QLabel::showEvent(event);
  Fit();
}

void CHyperLink::ApplyColour() {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, CurrentColour());
  setPalette(p);
  update();
}

void CHyperLink::ApplyFont() {
  QFont f = font();
  f.setUnderline(underline_);
  setFont(f);
}

void CHyperLink::Fit() {
  if (!autoSize_ || !parentWidget()) return;
  QFontMetrics fm(font());
  QRect g = geometry();
  hyperlink::Rect r{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
  Qt::Alignment a = alignment();
  hyperlink::HAlign h = (a & Qt::AlignHCenter)  ? hyperlink::HAlign::Center
                        : (a & Qt::AlignRight) ? hyperlink::HAlign::Right
                                               : hyperlink::HAlign::Left;
  hyperlink::Rect f =
      hyperlink::FitToText(r, fm.horizontalAdvance(text()), fm.height(), (a & Qt::AlignVCenter) != 0, h);
  setGeometry(f.left, f.top, f.Width(), f.Height());
}

}  // namespace vvconsole
