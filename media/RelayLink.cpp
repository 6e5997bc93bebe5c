#include "media/RelayLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/IoBuffer.h"

namespace {

pthread_mutex_t addressMutex = PTHREAD_MUTEX_INITIALIZER;
std::string bindAddress;
std::function<void(int)> endedHandler;  // under addressMutex

}  // namespace

void SetRelayBindAddress(const std::string& address) {
  pthread_mutex_lock(&addressMutex);
  bindAddress = address;
  pthread_mutex_unlock(&addressMutex);
}

std::string GetRelayBindAddress() {
  pthread_mutex_lock(&addressMutex);
  std::string a = bindAddress;
  pthread_mutex_unlock(&addressMutex);
  return a;
}

void SetRelayEndedHandler(std::function<void(int taskId)> handler) {
  pthread_mutex_lock(&addressMutex);
  endedHandler = std::move(handler);
  pthread_mutex_unlock(&addressMutex);
}

void NotifyRelayEnded(int taskId) {
  pthread_mutex_lock(&addressMutex);
  std::function<void(int)> handler = endedHandler;
  pthread_mutex_unlock(&addressMutex);
  if (handler) handler(taskId);
}

int RelayListen(int port) {
  if (port <= 0 || port > 65535) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Lets a new pull reuse a port whose earlier connection is in TIME_WAIT; a
  // port another socket listens on still refuses the bind.
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  std::string a = GetRelayBindAddress();
  if (a.empty() || inet_pton(AF_INET, a.c_str(), &addr.sin_addr) != 1) addr.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(fd, 64) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int RelayAccept(int listenSocket, const std::function<bool()>& keepWaiting, bool* failed) {
  if (failed) *failed = false;
  while (keepWaiting()) {
    pollfd p{listenSocket, POLLIN, 0};
    int r = poll(&p, 1, 100);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (failed) *failed = true;
      return -1;
    }
    if (r == 0) continue;
    int fd = accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
      if (failed) *failed = true;
      return -1;
    }
    timeval tv{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    return fd;
  }
  return -1;
}

bool RelaySendAll(int socket, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = send(socket, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool RelaySendRecord(int socket, uint32_t timestamp, uint8_t kind, const uint8_t* body, uint32_t size) {
  std::vector<uint8_t> record(9 + static_cast<size_t>(size));
  record[0] = static_cast<uint8_t>(timestamp >> 24);
  record[1] = static_cast<uint8_t>(timestamp >> 16);
  record[2] = static_cast<uint8_t>(timestamp >> 8);
  record[3] = static_cast<uint8_t>(timestamp);
  record[4] = kind;
  record[5] = static_cast<uint8_t>(size >> 24);
  record[6] = static_cast<uint8_t>(size >> 16);
  record[7] = static_cast<uint8_t>(size >> 8);
  record[8] = static_cast<uint8_t>(size);
  if (size) memcpy(record.data() + 9, body, size);
  return RelaySendAll(socket, record.data(), record.size());
}

namespace {

bool IsVideoKeyFrame(const IoBuffer& packet) {
  return packet.GetSize() > 0 && (packet.GetData()[0] >> 4) == 1;
}

// An AVC or AAC sequence header (packet type 0).
bool IsSequenceHeader(const IoBuffer& packet) {
  const uint8_t* b = packet.GetData();
  if (packet.GetSize() < 2 || b[1] != 0) return false;
  return packet.GetType() == 9 ? (b[0] & 0x0F) == 7 : (b[0] >> 4) == 10;
}

}  // namespace

uint32_t RelayFeed::RecordTime(int64_t timestamp) {
  if (newRun) {
    newRun = false;
    runOrigin = timestamp;
    runStart = newestSent + 1;
  }
  int64_t t = timestamp - runOrigin + runStart;
  if (t < runStart) t = runStart;
  if (t > newestSent) newestSent = t;
  // Only a stream longer than 2^32 ms wraps.
  return static_cast<uint32_t>(t);
}

bool RelayFeed::Send(int socket, const IoBuffer& packet, const IoBuffer* audioHeader, const IoBuffer* videoHeader) {
  // The first packet taken on the connection sets the time base, whatever
  // its type.
  if (baseTimestamp == -1) {
    baseTimestamp = packet.GetTimestamp();
    runOrigin = baseTimestamp;
  }
  int type = packet.GetType();
  if (type == 3) {
    // Times start afresh with the next run of the input; nothing sent yet
    // means nothing to carry on from.
    if (newestSent >= 0) newRun = true;
    return true;
  }
  if (type != 8 && type != 9) return true;
  uint8_t kind = type == 8 ? 0 : 1;
  bool& headerSent = type == 8 ? audioHeaderSent : videoHeaderSent;
  if (IsSequenceHeader(packet)) {
    // The stream's codec configuration changes here: the new header goes
    // out in line, at the time of what follows it, and stands for the
    // stored one.
    uint32_t ts = RecordTime(packet.GetTimestamp());
    if (!RelaySendRecord(socket, ts, kind, packet.GetData(), static_cast<uint32_t>(packet.GetSize()))) return false;
    headerSent = true;
    return true;
  }
  if (type == 9 && !videoStarted) {
    if (!IsVideoKeyFrame(packet)) return true;
    videoStarted = true;
  }
  const IoBuffer* header = type == 8 ? audioHeader : videoHeader;
  if (header && !headerSent && header->GetSize() > 0) {
    if (!RelaySendRecord(socket, 0, kind, header->GetData(), static_cast<uint32_t>(header->GetSize()))) return false;
    headerSent = true;
  }
  uint32_t ts = RecordTime(packet.GetTimestamp());
  return RelaySendRecord(socket, ts, kind, packet.GetData(), static_cast<uint32_t>(packet.GetSize()));
}
