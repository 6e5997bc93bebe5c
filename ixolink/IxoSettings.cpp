#include "ixolink/IxoSettings.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return tolower(x) == tolower(y); });
}

std::string ReadValue(const std::string& path, const char* section, const char* key, const std::string& def) {
  std::ifstream in(path);
  std::string line, current;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[') {
      size_t e = t.find(']');
      current = Trim(t.substr(1, e == std::string::npos ? std::string::npos : e - 1));
      continue;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos || !SameText(current, section)) continue;
    if (SameText(Trim(t.substr(0, eq)), key)) return Trim(t.substr(eq + 1));
  }
  return def;
}

}  // namespace

std::string IxoConfigPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  std::string exe = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  size_t slash = exe.rfind('/');
  std::string dir = slash == std::string::npos ? "." : exe.substr(0, slash);
  return dir + "/conf/system.ini";
}

IxoSettings LoadIxoSettings(const std::string& configPath) {
  IxoSettings s;
  s.host = ReadValue(configPath, "IXO_SETUP", "HOST", "");
  s.port = atoi(ReadValue(configPath, "IXO_SETUP", "PORT", "0").c_str());
  s.key = LoadIxoKey(configPath);
  return s;
}

std::string LoadIxoKey(const std::string& configPath) { return ReadValue(configPath, "IXO_SETUP", "KEY", ""); }
