// Stand-ins for the pane views until the views themselves are built.
#include <QLabel>

#include "console/ui/ConsoleWindows.h"

namespace vvconsole {

static QWidget* Placeholder(QWidget* parent, const char* id) {
  auto* w = new QLabel(parent);
  w->setObjectName(QString::fromLatin1(id));
  return w;
}

QWidget* CreateIxoPullStreamView(QWidget* parent) { return Placeholder(parent, "1099"); }
QWidget* CreateIxoTransferStreamView(QWidget* parent) { return Placeholder(parent, "1100"); }

}  // namespace vvconsole
