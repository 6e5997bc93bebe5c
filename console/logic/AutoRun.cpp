#include "console/logic/AutoRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/Paths.h"

namespace vvconsole {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  std::string part;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    part = path.substr(0, pos);
    if (part.empty()) continue;
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Escapes of a string value: \s \n \t \r \\.
std::string UnescapeValue(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\' || i + 1 == v.size()) {
      out += v[i];
      continue;
    }
    char c = v[++i];
    switch (c) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default: out += '\\'; out += c; break;
    }
  }
  return out;
}

std::string EscapeValue(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    char c = v[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case ' ':
        out += i == 0 ? "\\s" : " ";
        break;
      default: out += c; break;
    }
  }
  return out;
}

struct DesktopEntry {
  bool found = false;
  std::string exec;
  std::string hidden;
};

DesktopEntry ReadEntry(const std::string& path) {
  DesktopEntry entry;
  std::ifstream in(path);
  if (!in) return entry;
  entry.found = true;
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (t[0] == '[') {
      inGroup = t == "[Desktop Entry]";
      continue;
    }
    if (!inGroup) continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(t.substr(0, eq));
    std::string value = Trim(t.substr(eq + 1));
    // The first occurrence of a key counts.
    if (key == "Exec" && entry.exec.empty()) entry.exec = value;
    if (key == "Hidden" && entry.hidden.empty()) entry.hidden = value;
  }
  return entry;
}

}  // namespace

std::string AutoStartFilePath() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // Only an absolute path counts; a relative one is to be ignored.
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && home[0] ? home : "") + "/.config";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/autostart/velvanet.desktop";
}

std::string ProgramExecutablePath() { return ProgramDirectory() + "velvanet"; }

std::string QuoteExecArgument(const std::string& argument) {
  static const char kReserved[] = " \t\n\"'\\><~|&;$*?#()`";
  bool quote = argument.empty() || argument.find_first_of(kReserved, 0, sizeof(kReserved) - 1) != std::string::npos;
  std::string exec;
  if (quote) exec += '"';
  for (char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) exec += '\\';
    exec += c;
    if (c == '%') exec += '%';
  }
  if (quote) exec += '"';
  return EscapeValue(exec);
}

std::string ExecProgram(const std::string& execValue) {
  std::string v = UnescapeValue(Trim(execValue));
  std::string out;
  size_t i = 0;
  if (v.empty()) return "";
  if (v[0] == '"') {
    bool closed = false;
    for (i = 1; i < v.size(); ++i) {
      char c = v[i];
      if (c == '\\' && i + 1 < v.size() && strchr("\"`$\\", v[i + 1])) {
        out += v[++i];
      } else if (c == '"') {
        closed = true;
        break;
      } else {
        out += c;
      }
    }
    if (!closed) return "";
  } else {
    for (; i < v.size() && v[i] != ' ' && v[i] != '\t'; ++i) out += v[i];
  }
  std::string unpercent;
  for (size_t k = 0; k < out.size(); ++k) {
    unpercent += out[k];
    if (out[k] == '%' && k + 1 < out.size() && out[k + 1] == '%') ++k;
  }
  return unpercent;
}

bool IsAutoRunEnabled() {
  DesktopEntry e = ReadEntry(AutoStartFilePath());
  return e.found && !e.exec.empty() && e.hidden != "true";
}

bool SetAutoRun(bool enable, const std::string& programPath) {
  const std::string path = AutoStartFilePath();
  if (!enable) return unlink(path.c_str()) == 0;
  if (programPath.empty()) return false;
  std::string folder = path.substr(0, path.rfind('/'));
  if (!MakeFolders(folder)) return false;
  std::ostringstream text;
  text << "[Desktop Entry]\n"
       << "Type=Application\n"
       << "Name=Velvanet\n"
       << "Exec=" << QuoteExecArgument(programPath) << "\n"
       << "Terminal=false\n";
  // Written aside and moved into place whole.
  std::string tmp = path + ".new." + std::to_string(getpid());
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) return false;
  std::string s = text.str();
  bool ok = std::fwrite(s.data(), 1, s.size(), f) == s.size();
  ok = (std::fflush(f) == 0) && ok;
  ok = (fsync(fileno(f)) == 0) && ok;
  ok = (std::fclose(f) == 0) && ok;
  if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) return true;
  unlink(tmp.c_str());
  return false;
}

bool SetAutoRun(bool enable) { return SetAutoRun(enable, ProgramExecutablePath()); }

}  // namespace vvconsole
