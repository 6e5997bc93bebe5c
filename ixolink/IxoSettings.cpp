#include "ixolink/IxoSettings.h"

#include "core/IniFileEx.h"
#include "core/Paths.h"

std::string IxoConfigPath() { return GetConfigPath(); }

IxoSettings LoadIxoSettings(const std::string& configPath) {
  CIniFileEx ini(configPath);
  IxoSettings s;
  s.host = ini.GetString("IXO_SETUP", "HOST", "");
  s.port = ini.GetInt("IXO_SETUP", "PORT", 0);
  s.key = ini.GetString("IXO_SETUP", "KEY", "");
  return s;
}

std::string LoadIxoKey(const std::string& configPath) {
  return CIniFileEx(configPath).GetString("IXO_SETUP", "KEY", "");
}
