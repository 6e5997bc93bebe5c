#include "console/logic/SetupSettings.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "core/IniFileEx.h"

namespace setup {

const char* const kFillInParameters = "请先填写正确的参数!";
const char* const kSocketFailed = "创建socket失败!";
const char* const kConnected = "连接成功";
const char* const kNotConnected = "连接失败";
const char* const kWriteFailed = "保存设置失败，请检查conf/system.ini是否可写!";

namespace {

// Makes every missing folder of the file's path.
bool MakeFolderOf(const std::string& file) {
  size_t slash = file.rfind('/');
  if (slash == std::string::npos || slash == 0) return true;
  std::string folder = file.substr(0, slash);
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '/') {
      std::string part = folder.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

}  // namespace

IxoServer ReadIxoServer(const CIniFileEx& ini) {
  IxoServer s;
  s.host = ini.GetString("IXO_SETUP", "HOST", "");
  s.port = ini.GetInt("IXO_SETUP", "PORT", 0);
  s.key = ini.GetString("IXO_SETUP", "KEY", "");
  return s;
}

bool WriteIxoServer(CIniFileEx& ini, const IxoServer& s) {
  if (!MakeFolderOf(ini.GetPath())) return false;
  bool ok = ini.WriteString("IXO_SETUP", "HOST", s.host);
  ok = ini.WriteInt("IXO_SETUP", "PORT", s.port) && ok;
  ok = ini.WriteString("IXO_SETUP", "KEY", s.key) && ok;
  return ok;
}

bool ReadAutoForward(const CIniFileEx& ini) { return ini.GetBool("START_OPTION", "AUTO_FORWARD", false); }

bool WriteAutoForward(CIniFileEx& ini, bool on) {
  if (!MakeFolderOf(ini.GetPath())) return false;
  return ini.WriteInt("START_OPTION", "AUTO_FORWARD", on ? 1 : 0);
}

bool ParsePortField(const std::string& text, int& port) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  port = v;
  return true;
}

std::string TestConnection(const std::string& host, int port, int timeoutMs) {
  if (host.empty() || port <= 0 || port > 65535) return kFillInParameters;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  // Only a dotted address is taken, as the page asks for one.
  if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) return kNotConnected;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return kSocketFailed;
  bool connected = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    connected = true;
  } else if (errno == EINPROGRESS) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count());
      if (left < 0) left = 0;
      pollfd p{fd, POLLOUT, 0};
      int r = poll(&p, 1, left);
      if (r < 0 && errno == EINTR) continue;
      if (r == 1) {
        int err = 0;
        socklen_t len = sizeof err;
        connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
      }
      break;
    }
  }
  close(fd);
  return connected ? kConnected : kNotConnected;
}

}  // namespace setup
