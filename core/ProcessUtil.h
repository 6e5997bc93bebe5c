#pragma once
// Starting, waiting for and ending other programs.
#include <string>

// Runs the command line through /bin/sh with standard input from /dev/null,
// waits until it ends and returns its exit status (-1 when it could not be
// started or did not exit normally).
int RunProcess(const std::string& commandLine);

// Ends (SIGKILL) the first running process, other than this one, whose
// executable file name equals the name exactly; true when one was ended.
bool KillProcess(const std::string& executableName);
