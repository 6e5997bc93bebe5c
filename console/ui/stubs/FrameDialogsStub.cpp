// Stand-ins for the frame's dialogs until they are built.
#include <QWidget>

#include "console/ui/ConsoleWindows.h"

namespace vvconsole {

void RunSetupSheet(QWidget*) {}
void RunOnlineUserDialog(QWidget*) {}

}  // namespace vvconsole
