// Stand-ins for the source, sub-stream and task dialogs until they are built.
#include "console/ui/ConsoleWindows.h"

namespace vvconsole {

DialogResult RunDeviceSourceDialog(QWidget*, int) { return {}; }
DialogResult RunNetSourceDialog(QWidget*, int) { return {}; }
DialogResult RunFileSourceDialog(QWidget*, int) { return {}; }
DialogResult RunSubStreamDialog(QWidget*, int, const std::string&) { return {}; }
DialogResult RunForwardTaskDialog(QWidget*, int, int) { return {}; }
DialogResult RunRecordTaskDialog(QWidget*, int, int) { return {}; }

}  // namespace vvconsole
