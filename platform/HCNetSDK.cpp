#include "platform/HCNetSDK.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

std::atomic<bool> initialised{false};
std::atomic<uint32_t> connectWaitMs{3000};
std::atomic<uint32_t> connectTries{1};
thread_local uint32_t lastError = NET_DVR_NOERROR;

bool Fail(uint32_t code) {
  lastError = code;
  return false;
}

// One TCP connect attempt within waitMs.
bool Reachable(const char* host, uint16_t port, uint32_t waitMs) {
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host, std::to_string(port).c_str(), &hints, &list) != 0 || !list) return false;
  bool ok = false;
  for (addrinfo* ai = list; ai && !ok; ai = ai->ai_next) {
    int s = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (s < 0) continue;
    if (connect(s, ai->ai_addr, ai->ai_addrlen) == 0) {
      ok = true;
    } else if (errno == EINPROGRESS) {
      pollfd p{s, POLLOUT, 0};
      if (poll(&p, 1, static_cast<int>(waitMs)) > 0) {
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
        ok = err == 0;
      }
    }
    close(s);
  }
  freeaddrinfo(list);
  return ok;
}

}  // namespace

bool NET_DVR_Init() {
  initialised = true;
  lastError = NET_DVR_NOERROR;
  return true;
}

bool NET_DVR_SetConnectTime(uint32_t waitTime, uint32_t tryTimes) {
  if (!initialised) return Fail(NET_DVR_NOINIT);
  connectWaitMs = waitTime > 0 ? waitTime : 3000;
  connectTries = tryTimes > 0 ? tryTimes : 1;
  lastError = NET_DVR_NOERROR;
  return true;
}

bool NET_DVR_GetDVRIPByResolveSvr_EX(const char* serverIp, uint16_t serverPort, const unsigned char* dvrName,
                                     uint16_t dvrNameLen, const unsigned char* serial, uint16_t serialLen,
                                     char* getIp, uint32_t* port) {
  (void)dvrName;
  (void)serial;
  if (!initialised) return Fail(NET_DVR_NOINIT);
  if (!serverIp || !*serverIp || !getIp || !port || (dvrNameLen == 0 && serialLen == 0))
    return Fail(NET_DVR_PARAMETER_ERROR);
  bool reached = false;
  for (uint32_t i = 0; i < connectTries && !reached; ++i) reached = Reachable(serverIp, serverPort, connectWaitMs);
  if (!reached) return Fail(NET_DVR_NETWORK_FAIL_CONNECT);
  return Fail(NET_DVR_NOSUPPORT);
}

uint32_t NET_DVR_GetLastError() { return lastError; }
