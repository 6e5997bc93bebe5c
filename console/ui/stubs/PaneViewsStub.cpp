// Stand-ins for the pane views until the views themselves are built.
#include <QLabel>

#include "console/ui/ConsoleWindows.h"

namespace vvconsole {

static QWidget* Placeholder(QWidget* parent, const char* id) {
  auto* w = new QLabel(parent);
  w->setObjectName(QString::fromLatin1(id));
  return w;
}

QWidget* CreateSourceListView(QWidget* parent) { return Placeholder(parent, "1114"); }
QWidget* CreateStreamStatuView(QWidget* parent) { return Placeholder(parent, "1116"); }

}  // namespace vvconsole
