#include "ixolink/PortSearch.h"

#include "ixolink/IxoSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>

namespace {

constexpr int kSearchSpan = 1000;

std::mutex& ReservedMutex() {
  static std::mutex m;
  return m;
}

std::map<int, int>& Reserved() {  // port -> owner
  static std::map<int, int> m;
  return m;
}

bool CanBind(int fd, int port) {
  sockaddr_in a;
  memset(&a, 0, sizeof(a));
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
}

// One probing socket per try: once a bind succeeded the socket cannot be
// bound again, and a failed bind leaves it usable.
int Search(int first, bool skipReserved) {
  if (first <= 0) return 0;
  int found = 0;
  int fd = -1;
  for (int port = first; port < first + kSearchSpan && port <= 65535; ++port) {
    if (skipReserved && Reserved().count(port)) continue;
    if (fd < 0) fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) break;
    if (CanBind(fd, port)) {
      found = port;
      break;
    }
  }
  if (fd >= 0) close(fd);
  return found;
}

}  // namespace

int FindFreePort(int first) { return Search(first, false); }

int ReserveFreePort(int first, int owner) {
  std::lock_guard<std::mutex> lock(ReservedMutex());
  int port = Search(first, true);
  if (port > 0) Reserved()[port] = owner;
  return port;
}

void SetPortOwner(int port, int owner) {
  std::lock_guard<std::mutex> lock(ReservedMutex());
  auto it = Reserved().find(port);
  if (it != Reserved().end()) it->second = owner;
}

void ReleasePort(int port) {
  std::lock_guard<std::mutex> lock(ReservedMutex());
  Reserved().erase(port);
}

int ReleasePortsOf(int owner) {
  if (owner <= 0) return 0;
  std::lock_guard<std::mutex> lock(ReservedMutex());
  int n = 0;
  for (auto it = Reserved().begin(); it != Reserved().end();) {
    if (it->second == owner) {
      it = Reserved().erase(it);
      ++n;
    } else {
      ++it;
    }
  }
  return n;
}

bool IsPortReserved(int port) {
  std::lock_guard<std::mutex> lock(ReservedMutex());
  return Reserved().count(port) != 0;
}

int ReserveListeningSocket(int first, const std::string& address, int* port) {
  if (port) *port = 0;
  if (first <= 0) return -1;
  std::lock_guard<std::mutex> lock(ReservedMutex());
  for (int p = first; p < first + kSearchSpan && p <= 65535; ++p) {
    if (Reserved().count(p)) continue;
    int fd = ixo::OpenListener(address, p, 64, nullptr);
    if (fd < 0) continue;
    Reserved()[p] = 0;
    if (port) *port = p;
    return fd;
  }
  return -1;
}
