#include "ixolink/IxoSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <thread>

#include "core/WakeEvent.h"

namespace ixo {

bool SendAllBytes(int fd, const void* bytes, size_t length) {
  const char* p = static_cast<const char*>(bytes);
  size_t sent = 0;
  while (sent < length) {
    ssize_t n = send(fd, p + sent, length - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

Deadline DeadlineIn(int ms) { return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); }

namespace {

// Waits until fd can be read or the deadline has passed; false on the
// latter. Without a deadline the receive itself waits (and times out).
bool WaitReadable(int fd, Deadline deadline) {
  if (deadline == Deadline()) return true;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 60000)));
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return true;  // the receive reports the error
  }
}

// One receive of at most want bytes; 0 bytes and Closed/Failed on the end.
FrameResult RecvPiece(int fd, char* out, size_t want, Deadline deadline, size_t& got) {
  got = 0;
  for (;;) {
    if (!WaitReadable(fd, deadline)) return FrameResult::Failed;
    ssize_t n = recv(fd, out, want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return FrameResult::Closed;
    if (n < 0) return FrameResult::Failed;
    got = static_cast<size_t>(n);
    return FrameResult::Ok;
  }
}

}  // namespace

FrameResult RecvExact(int fd, void* out, size_t length, size_t piece, Deadline deadline) {
  char* p = static_cast<char*>(out);
  size_t got = 0;
  while (got < length) {
    size_t want = length - got;
    if (piece > 0 && want > piece) want = piece;
    size_t n = 0;
    FrameResult r = RecvPiece(fd, p + got, want, deadline, n);
    if (r != FrameResult::Ok) return r;
    got += n;
  }
  return FrameResult::Ok;
}

FrameResult ReadFrame(int fd, std::string& payload, size_t maxBytes, Deadline deadline) {
  payload.clear();
  unsigned char header[4];
  FrameResult r = RecvExact(fd, header, 4, 4, deadline);
  if (r != FrameResult::Ok) return r;
  uint32_t n = (uint32_t(header[0]) << 24) | (uint32_t(header[1]) << 16) | (uint32_t(header[2]) << 8) | header[3];
  if (n > maxBytes) return FrameResult::TooLong;
  char piece[1024];
  while (payload.size() < n) {
    size_t got = 0;
    r = RecvPiece(fd, piece, std::min<size_t>(n - payload.size(), sizeof(piece)), deadline, got);
    if (r != FrameResult::Ok) {
      payload.clear();
      payload.shrink_to_fit();
      return r;
    }
    payload.append(piece, got);
  }
  return FrameResult::Ok;
}

std::string FrameText(const std::string& payload) {
  size_t z = payload.find('\0');
  return z == std::string::npos ? payload : payload.substr(0, z);
}

void AppendFrame(std::string& out, const std::string& payload) {
  uint32_t n = static_cast<uint32_t>(payload.size());
  char h[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
  out.append(h, 4);
  out.append(payload);
}

bool WriteFrame(int fd, const std::string& payload) {
  std::string frame;
  AppendFrame(frame, payload);
  return SendAllBytes(fd, frame.data(), frame.size());
}

void SetSocketTimeouts(int fd, int receiveMs, int sendMs) {
  timeval tv{};
  if (receiveMs > 0) {
    tv.tv_sec = receiveMs / 1000;
    tv.tv_usec = (receiveMs % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  }
  if (sendMs > 0) {
    tv.tv_sec = sendMs / 1000;
    tv.tv_usec = (sendMs % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  }
}

static bool FillAddress(const std::string& address, int port, sockaddr_in& a) {
  memset(&a, 0, sizeof(a));
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (address.empty()) {
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  return inet_pton(AF_INET, address.c_str(), &a.sin_addr) == 1;
}

int OpenListener(const std::string& address, int port, int backlog, bool* bindFailed) {
  if (bindFailed) *bindFailed = false;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  // A restarted program must be able to take its port back while old
  // connections linger in TIME_WAIT.
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in a;
  if (port <= 0 || port > 65535 || !FillAddress(address, port, a) ||
      bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    if (bindFailed) *bindFailed = true;
    close(fd);
    return -1;
  }
  if (listen(fd, backlog) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int ConnectTcp(const std::string& host, int port, int timeoutMs, const std::atomic<bool>* cancel) {
  sockaddr_in a;
  if (host.empty() || port <= 0 || port > 65535 || !FillAddress(host, port, a)) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  if (rc != 0 && errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  if (rc != 0) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : INT32_MAX);
    pollfd p{fd, POLLOUT, 0};
    int n = 0;
    while (n == 0 || (n < 0 && errno == EINTR)) {
      if ((cancel && cancel->load()) || std::chrono::steady_clock::now() >= end) {
        n = 0;
        break;
      }
      n = poll(&p, 1, 100);
    }
    int err = 0;
    socklen_t len = sizeof(err);
    if (n <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      close(fd);
      return -1;
    }
  }
  fcntl(fd, F_SETFL, flags);
  return fd;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

namespace {
WakeEvent& Sleepers() {
  static WakeEvent* event = new WakeEvent();  // lives as long as the process
  return *event;
}
}  // namespace

bool SleepUnlessStopped(int ms, const std::atomic<bool>& stop) {
  const int64_t end = wake::MonotonicMs() + ms;
  for (;;) {
    uint64_t seen = Sleepers().Count();
    if (stop.load()) return false;
    int64_t left = end - wake::MonotonicMs();
    if (left <= 0) return true;
    Sleepers().WaitFor(left, seen);
  }
}

void WakeSleepers() { Sleepers().Notify(); }

}  // namespace ixo
