#include "tests/tools/TestUtil.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vvtest {

TempDir::TempDir(const std::string& tag) {
  std::string tmpl = "/tmp/" + tag + "-XXXXXX";
  char* p = mkdtemp(tmpl.data());
  path_ = p ? p : "";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

CommandResult Run(const std::string& command, bool mergeStderr) {
  CommandResult r;
  std::string cmd = command + (mergeStderr ? " 2>&1" : "");
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) r.output.append(buf, n);
  int st = pclose(f);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

int ListenLoopback(int* port, int backlog) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a = LoopbackAddress(0);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(fd);
    return -1;
  }
  if (port) *port = ntohs(a.sin_port);
  return fd;
}

namespace {

bool CanBind(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a = LoopbackAddress(port);
  bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  close(fd);
  return ok;
}

// Claims a free port for this process for a minute, across every process
// of the machine that uses FreePort: a port handed out is usually bound
// only a moment later (a server thread starting, nginx being spawned), and
// in between a test running beside this one must not be handed it too. A
// port claimed by another is not even probed: the probe's brief bind would
// make its owner's bind fail if the two met.
bool ClaimPort(int port) {
  static const std::string dir = "/tmp/vvtest-ports";
  mkdir(dir.c_str(), 0777);
  int lock = open((dir + "/lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
  if (lock < 0) return CanBind(port);  // no claims to be had: the bind check alone
  flock(lock, LOCK_EX);
  std::string claim = dir + "/" + std::to_string(port);
  struct stat st;
  bool free = (stat(claim.c_str(), &st) != 0 || time(nullptr) - st.st_mtime > 60) && CanBind(port);
  if (free) {
    int fd = open(claim.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) close(fd);
    utime(claim.c_str(), nullptr);
  }
  flock(lock, LOCK_UN);
  close(lock);
  return free;
}

}  // namespace

int FreePort() {
  // The ports come from below the kernel's ephemeral range (32768 and up by
  // default): a port the kernel picked for bind(0) goes back into the pool
  // that outgoing connections draw from, and one of those (ffmpeg's, a
  // test's own client) could take it before the caller binds it. Here only
  // another FreePort could, and the claims keep those apart.
  constexpr int kLow = 3100, kCount = 3900;  // 3100-6999: no fixed test port
  static std::atomic<unsigned> next{static_cast<unsigned>(getpid()) * 389u +
                                    static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
  for (int i = 0; i < kCount; ++i) {
    int port = kLow + static_cast<int>(next++ % kCount);
    if (ClaimPort(port)) return port;
  }
  // Every port of the range is taken: one the kernel picks.
  int port = 0;
  int fd = ListenLoopback(&port, 1);
  if (fd >= 0) close(fd);
  return port;
}

int ConnectLoopback(int port, int timeoutMs, bool bothWays) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a = LoopbackAddress(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    close(fd);
    return -1;
  }
  if (timeoutMs > 0) {
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    if (bothWays) setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  }
  return fd;
}

int ConnectLoopbackWithReceiveBuffer(int port, int bytes) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
  sockaddr_in a = LoopbackAddress(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool CanConnectLoopback(int port) {
  int fd = ConnectLoopback(port);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout, std::chrono::milliseconds step) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(step);
  }
  return cond();
}

static int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

int CountOpenFds() { return CountEntries("/proc/self/fd") - 1; }  // minus the one opendir holds
int CountThreads() { return CountEntries("/proc/self/task"); }

int SettledThreadCount() {
  int n = CountThreads();
  for (int i = 0; i < 30; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int now = CountThreads();
    if (now == n) break;
    n = now;
  }
  return n;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool IsListening(int port) {
  FILE* f = fopen("/proc/net/tcp", "r");
  if (!f) return false;
  char line[512];
  bool listening = false;
  while (!listening && fgets(line, sizeof line, f)) {
    unsigned localPort = 0, state = 0;
    // "  0: 0100007F:1F90 00000000:0000 0A ..." (hexadecimal; 0A is LISTEN)
    if (sscanf(line, " %*d: %*x:%x %*x:%*x %x", &localPort, &state) == 2)
      listening = static_cast<int>(localPort) == port && state == 0x0A;
  }
  fclose(f);
  return listening;
}

}  // namespace vvtest
