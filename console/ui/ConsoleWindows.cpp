#include "console/ui/ConsoleWindows.h"

namespace vvconsole {

namespace {
ISourceTree* g_sourceTree = nullptr;  // main thread only
}

ISourceTree* SourceTree() { return g_sourceTree; }
void SetSourceTree(ISourceTree* tree) { g_sourceTree = tree; }

}  // namespace vvconsole
