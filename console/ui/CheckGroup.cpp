#include "console/ui/CheckGroup.h"

#include <QCheckBox>
#include <QEvent>
#include <QStyleOptionGroupBox>
#include <QStylePainter>

namespace vvconsole {

CCheckGroup::CCheckGroup(const QString& caption, QWidget* parent) : QGroupBox(parent) {
  setTitle(QString());
  check_ = new QCheckBox(caption, this);
  check_->setObjectName(QStringLiteral("101"));
  // Hides the frame line behind the caption.
  check_->setAutoFillBackground(true);
  check_->setChecked(true);
  connect(check_, &QCheckBox::clicked, this, [this](bool on) { SetCheck(on ? 1 : 0); });
  PlaceCheckBox();
}

void CCheckGroup::AddControl(int id) { ids_.push_back(id); }

int CCheckGroup::SetCheck(int state) {
  int previous = state_;
  state_ = state;
  QWidget* owner = window();
  for (int id : ids_) {
    QWidget* w = owner->findChild<QWidget*>(QString::number(id));
    if (w && w != check_) w->setEnabled(state != 0);
  }
  check_->setChecked(state != 0);
  return previous;
}

void CCheckGroup::PlaceCheckBox() {
  QFontMetrics fm(font());
  QString caption = check_->text();
  int w = (caption.isEmpty() ? 0 : fm.horizontalAdvance(caption)) + 25;
  int h = fm.height();
  check_->setGeometry(10, 0, w, h);
  // The frame runs through the middle of the check box; the contents start
  // below it.
  QStyleOptionGroupBox box;
  initStyleOption(&box);
  QRect c = style()->subControlRect(QStyle::CC_GroupBox, &box, QStyle::SC_GroupBoxContents, this);
  int left = c.left() - box.rect.left();
  int right = box.rect.right() - c.right();
  int bottom = box.rect.bottom() - c.bottom();
  setContentsMargins(left, h + 4, right, bottom);
}

void CCheckGroup::changeEvent(QEvent* event) {
  QGroupBox::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) PlaceCheckBox();
}

void CCheckGroup::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  QStyleOptionGroupBox opt;
  initStyleOption(&opt);
  opt.rect.setTop(check_->height() / 2);
  p.drawComplexControl(QStyle::CC_GroupBox, opt);
}

}  // namespace vvconsole
