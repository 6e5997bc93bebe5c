#pragma once
// The program folder (the executable's) and the files the program keeps in
// it: conf/system.ini, the temporary folder of the delay buffer.
#include <string>

// The executable's folder without a trailing separator, from /proc/self/exe.
std::string GetAppDir();
// The same folder with its trailing "/" (the log file name is built on it).
std::string ProgramDirectory();
// GetAppDir() + "/conf/system.ini".
std::string GetConfigPath();
// GetAppDir() + "/temp", created when missing; the path is returned even
// when the folder could not be created.
std::string MakeTempFolder();

// Points the program folder elsewhere (tests and embedding programs); an
// empty text goes back to the executable's folder.
void SetAppDir(const std::string& folder);
