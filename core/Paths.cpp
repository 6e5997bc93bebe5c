#include "core/Paths.h"

#include <cerrno>
#include <climits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex g_mutex;
std::string g_override;

std::string ExecutableFolder() {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return ".";
  std::string exe(buf, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return exe.substr(0, slash);
}

std::string Join(const std::string& dir, const char* name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}
}  // namespace

void SetAppDir(const std::string& folder) {
  std::lock_guard<std::mutex> lk(g_mutex);
  g_override = folder;
  while (g_override.size() > 1 && g_override.back() == '/') g_override.pop_back();
}

std::string GetAppDir() {
  {
    std::lock_guard<std::mutex> lk(g_mutex);
    if (!g_override.empty()) return g_override;
  }
  static const std::string folder = ExecutableFolder();
  return folder;
}

std::string ProgramDirectory() {
  std::string dir = GetAppDir();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string GetConfigPath() { return Join(GetAppDir(), "conf/system.ini"); }

std::string MakeTempFolder() {
  std::string path = Join(GetAppDir(), "temp");
  struct stat st;
  if (stat(path.c_str(), &st) != 0) mkdir(path.c_str(), 0755);
  return path;
}
