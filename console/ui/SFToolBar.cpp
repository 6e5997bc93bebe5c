#include "console/ui/SFToolBar.h"

#include <QActionEvent>
#include <QEvent>
#include <QPainter>
#include <QToolButton>

#include "console/logic/Colors.h"
#include "console/ui/ConsoleWindows.h"

namespace vvconsole {

std::vector<QPixmap> ToolbarImages(int size) {
  static const char* const files[] = {
      ":/console/toolbar/new_channel.svg", ":/console/toolbar/settings.svg", ":/console/toolbar/online_users.svg",
      ":/console/toolbar/play.svg",        ":/console/toolbar/log.svg",      ":/console/toolbar/exit.svg",
  };
  std::vector<QPixmap> images;
  for (const char* f : files) images.push_back(QIcon(QString::fromLatin1(f)).pixmap(size, size));
  return images;
}

CSFToolBar::CSFToolBar(QWidget* parent) : QToolBar(parent) {
  cpuPanel_ = CreateCpuNetInfoDlg(this);
  if (cpuPanel_) cpuPanel_->show();
}

void CSFToolBar::SetImageList(int kind, const std::vector<QPixmap>& images) {
  switch (kind) {
    case kNormal: normal_ = images; break;
    case kHot: hot_ = images; break;
    case kDisabled: disabled_ = images; break;
    default: return;
  }
  for (QAction* a : actions()) {
    bool ok = false;
    int index = a->data().toInt(&ok);
    if (ok && !a->isSeparator()) a->setIcon(IconAt(index));
  }
}

QIcon CSFToolBar::IconAt(int index) const {
  QIcon icon;
  auto at = [index](const std::vector<QPixmap>& list) {
    return index >= 0 && index < static_cast<int>(list.size()) ? list[static_cast<size_t>(index)] : QPixmap();
  };
  if (!at(normal_).isNull()) icon.addPixmap(at(normal_), QIcon::Normal);
  if (!at(hot_).isNull()) icon.addPixmap(at(hot_), QIcon::Active);
  if (!at(disabled_).isNull()) icon.addPixmap(at(disabled_), QIcon::Disabled);
  return icon;
}

QAction* CSFToolBar::Action(int id) const {
  for (QAction* a : actions())
    if (a->objectName() == QString::number(id)) return a;
  return nullptr;
}

QToolButton* CSFToolBar::Button(int id) const {
  QAction* a = Action(id);
  return a ? qobject_cast<QToolButton*>(widgetForAction(a)) : nullptr;
}

void CSFToolBar::paintEvent(QPaintEvent*) {
  // One line per pixel row, lighter at the top.
  QPainter p(this);
  for (int row = 0; row < height(); ++row) {
    ColorRef c = GradientRowColor(kPanelBaseColor, row);
    p.setPen(QColor(RedOf(c), GreenOf(c), BlueOf(c)));
    p.drawLine(0, row, width(), row);
  }
}

void CSFToolBar::resizeEvent(QResizeEvent* event) {
  QToolBar::resizeEvent(event);
  PlaceCpuPanel();
}

void CSFToolBar::PlaceCpuPanel() {
  if (!cpuPanel_) return;
  int w = cpuPanel_->sizeHint().width();
  if (w <= 0) w = cpuPanel_->width();
  w = std::min(w, width());
  cpuPanel_->setGeometry(width() - w, 0, w, height());
  cpuPanel_->raise();
}

void CSFToolBar::actionEvent(QActionEvent* event) {
  QToolBar::actionEvent(event);
  if (event->type() == QEvent::ActionAdded) {
    if (QWidget* w = widgetForAction(event->action())) {
      w->installEventFilter(this);
      UpdateCursor(w);
    }
  }
}

void CSFToolBar::UpdateCursor(QWidget* button) {
  // The hand over a button that can be clicked; over anything else the
  // toolbar's arrow.
  if (button->isEnabled())
    button->setCursor(Qt::PointingHandCursor);
  else
    button->unsetCursor();
}

bool CSFToolBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::EnabledChange) {
    if (auto* w = qobject_cast<QWidget*>(watched)) UpdateCursor(w);
  }
  return QToolBar::eventFilter(watched, event);
}

}  // namespace vvconsole
