#include "core/ProcessUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

int RunProcess(const std::string& commandLine) {
  std::string cmd = commandLine;
  char sh[] = "/bin/sh";
  char dashC[] = "-c";
  char* argv[] = {sh, dashC, cmd.data(), nullptr};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, sh, &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {
std::string ExecutableName(pid_t pid) {
  std::string base = "/proc/" + std::to_string(pid);
  char buf[PATH_MAX + 1];
  ssize_t n = readlink((base + "/exe").c_str(), buf, PATH_MAX);
  std::string path;
  if (n > 0) {
    path.assign(buf, static_cast<size_t>(n));
    const char kDeleted[] = " (deleted)";
    if (path.size() > sizeof(kDeleted) - 1 &&
        path.compare(path.size() - (sizeof(kDeleted) - 1), std::string::npos, kDeleted) == 0)
      path.resize(path.size() - (sizeof(kDeleted) - 1));
  } else {
    // Not ours to inspect: fall back to the first word of its command line.
    std::ifstream in(base + "/cmdline", std::ios::binary);
    std::getline(in, path, '\0');
  }
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

bool KillProcess(const std::string& executableName) {
  if (executableName.empty()) return false;
  DIR* d = opendir("/proc");
  if (!d) return false;
  pid_t self = getpid();
  bool killed = false;
  while (dirent* e = readdir(d)) {
    char* end;
    long pid = strtol(e->d_name, &end, 10);
    if (*end != 0 || pid <= 0 || pid == self) continue;
    if (ExecutableName(static_cast<pid_t>(pid)) != executableName) continue;
    if (kill(static_cast<pid_t>(pid), SIGKILL) == 0) {
      killed = true;
      break;
    }
  }
  closedir(d);
  return killed;
}
