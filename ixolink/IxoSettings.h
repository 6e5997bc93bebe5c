#pragma once
// The Ixo media server's address and key, section IXO_SETUP of
// conf/system.ini. Read where they are used; nothing is cached.
#include <string>

struct IxoSettings {
  std::string host;  // dotted IPv4, used without name resolution
  int port = 0;
  std::string key;   // sent as a frame of its own when not empty
};

// The settings file of the program folder.
std::string IxoConfigPath();

IxoSettings LoadIxoSettings(const std::string& configPath);
std::string LoadIxoKey(const std::string& configPath);
