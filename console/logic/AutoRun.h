#pragma once
// Starting the console with the desktop session: a per-user XDG autostart
// entry, velvanet.desktop in $XDG_CONFIG_HOME/autostart (default
// ~/.config/autostart). The start-up options page reads and writes it.
#include <string>

namespace vvconsole {

// The autostart entry's path (a file that may not exist).
std::string AutoStartFilePath();

// The program the entry starts: the executable in the program folder.
std::string ProgramExecutablePath();

// True when the entry exists with a non-empty Exec and is not Hidden=true.
bool IsAutoRunEnabled();

// enable: writes the entry (folder made when missing), starting programPath.
// disable: removes the entry; false when there is none or it cannot go.
// False on any failure; nothing half-written is left behind.
bool SetAutoRun(bool enable, const std::string& programPath);
bool SetAutoRun(bool enable);

// One argument of an Exec line, quoted as the Desktop Entry specification
// asks (reserved characters put the argument in double quotes, with ", `,
// $ and \ escaped inside; % doubled), then escaped as a string value.
std::string QuoteExecArgument(const std::string& argument);
// The reverse for the first argument of an Exec value (its program);
// empty when the value is empty or badly quoted.
std::string ExecProgram(const std::string& execValue);

}  // namespace vvconsole
