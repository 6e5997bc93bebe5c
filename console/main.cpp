// The Velvanet console program.
#include "console/ui/ConsoleApp.h"

int main(int argc, char** argv) { return vvconsole::RunConsole(argc, argv); }
