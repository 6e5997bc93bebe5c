#include "media/RtmpSession.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <librtmp/amf.h>
#include <librtmp/log.h>
#include <librtmp/rtmp.h>

#include "core/Log.h"
#include "core/LogRepeat.h"

namespace {

// The library's lines and our own connection warnings are written by the
// thread that connects (an output's publisher): each such thread holds back
// the lines that repeat at every attempt on its own, so a failing output
// never hides another's.
LogRepeatGate& ThreadLogGate() {
  static thread_local LogRepeatGate gate;
  return gate;
}

void RouteLibraryLog(int level, const char* format, va_list args) {
  int ours = RtmpLogLevelToOurs(level);
  if (ours > GetLogLevel()) return;
  char line[2048];
  vsnprintf(line, sizeof line, format, args);
  // The library ends some lines with a newline; ours adds its own.
  size_t n = strlen(line);
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
  // Its lines quote what the URL and the server gave: cut like peer text.
  LogRepeated(ThreadLogGate(), ours, "librtmp: " + LogSafeText(std::string(line, n)));
}

void SetTimeout(int fd, int option, int ms) {
  timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

}  // namespace

int RtmpLogLevelToOurs(int rtmpLevel) {
  switch (rtmpLevel) {
    case RTMP_LOGCRIT: return LOG_CRIT;
    case RTMP_LOGERROR: return LOG_ERROR;
    case RTMP_LOGWARNING: return LOG_WARN;
    case RTMP_LOGINFO: return LOG_INFO;
    case RTMP_LOGDEBUG: return LOG_DEBUG;
    default: return LOG_ALL;
  }
}

void RtmpSession::GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The library writes with plain send(): a peer that went away must not
    // end the process.
    signal(SIGPIPE, SIG_IGN);
    RTMP_LogSetCallback(RouteLibraryLog);
    RTMP_LogSetLevel(RTMP_LOGINFO);
    // The first RTMP_Init builds the library's shared TLS state without a
    // lock; doing it here, once, keeps later sessions on worker threads
    // from racing over it.
    RTMP* r = RTMP_Alloc();
    if (r) {
      RTMP_Init(r);
      RTMP_Free(r);
    }
  });
}

void RtmpSession::ResetLogRepeats() { ThreadLogGate().Reset(); }

RtmpSession::RtmpSession() {
  GlobalInit();
  while ((rtmp = RTMP_Alloc()) == nullptr) usleep(1000);
  RTMP_Init(rtmp);
}

RtmpSession::~RtmpSession() {
  Close();
  RTMP_Free(rtmp);
  free(urlCopy);
}

bool RtmpSession::SetupURL(const std::string& url) {
  // The library would drop what it parsed from the previous URL without
  // freeing it; closing releases it.
  if (urlCopy) Close();
  free(urlCopy);
  urlCopy = strdup(url.c_str());
  if (!urlCopy) return false;
  if (!RTMP_SetupURL(rtmp, urlCopy)) return false;
  // The library frees the stream name it parsed when a failed write closes
  // the session, yet goes on to send that name in the rest of its answer
  // to the server's connect reply. It sends our own copy instead, which
  // lives as long as the session.
  AVal& name = rtmp->Link.playpath;
  if (name.av_val && name.av_len > 0) {
    streamName.assign(name.av_val, static_cast<size_t>(name.av_len));
    name.av_val = &streamName[0];
  }
  return true;
}

void RtmpSession::EnableWrite() { RTMP_EnableWrite(rtmp); }

bool RtmpSession::TcpConnect(int timeoutMs, int ioTimeoutMs) {
  std::string host(rtmp->Link.hostname.av_val ? rtmp->Link.hostname.av_val : "",
                   rtmp->Link.hostname.av_len > 0 ? rtmp->Link.hostname.av_len : 0);
  if (host.empty()) return false;
  int port = rtmp->Link.port ? rtmp->Link.port : 1935;
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;  // the library's own connect is IPv4 only too
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0 || !list) {
    LogRepeated(ThreadLogGate(), LOG_WARN,
                "RTMP: cannot resolve " + LogSafeText(host) + ": " + gai_strerror(rc));
    return false;
  }
  int fd = -1;
  for (addrinfo* ai = list; ai && fd < 0 && !aborted.load(); ai = ai->ai_next) {
    int s = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (s < 0) continue;
    int flags = fcntl(s, F_GETFL, 0);
    fcntl(s, F_SETFL, flags | O_NONBLOCK);
    int c = connect(s, ai->ai_addr, ai->ai_addrlen);
    bool ok = c == 0;
    if (!ok && errno == EINPROGRESS) {
      socketFd = s;
      // Poll in short steps so Abort() is noticed.
      for (int waited = 0; waited < timeoutMs && !aborted.load(); waited += 50) {
        pollfd p{s, POLLOUT, 0};
        int r = poll(&p, 1, 50);
        if (r > 0) {
          int err = 0;
          socklen_t len = sizeof err;
          getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
          ok = err == 0;
          if (!ok) errno = err;
          break;
        }
        if (r < 0 && errno != EINTR) break;
      }
      socketFd = -1;
    }
    if (!ok) {
      LogRepeated(ThreadLogGate(), LOG_WARN,
                  "RTMP: cannot connect to " + LogSafeText(host) + ":" + std::to_string(port) + ": " +
                      strerror(errno));
      close(s);
      continue;
    }
    fcntl(s, F_SETFL, flags & ~O_NONBLOCK);
    fd = s;
  }
  freeaddrinfo(list);
  if (fd < 0) return false;
  SetTimeout(fd, SO_RCVTIMEO, ioTimeoutMs);
  SetTimeout(fd, SO_SNDTIMEO, ioTimeoutMs);
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // What the library's own TCP step would have left behind.
  rtmp->m_sb.sb_socket = fd;
  rtmp->m_sb.sb_timedout = 0;
  rtmp->m_pausing = 0;
  rtmp->m_fDuration = 0.0;
  rtmp->m_bSendCounter = 1;
  socketFd = fd;
  return true;
}

bool RtmpSession::Connect(int timeoutMs, int ioTimeoutMs) {
  if (aborted.load()) return false;
  if (rtmp->Link.socksport) {
    // Through a SOCKS proxy the library negotiates itself.
    bool ok = RTMP_Connect(rtmp, nullptr) != 0;
    if (ok) socketFd = RTMP_Socket(rtmp);
    return ok;
  }
  if (!TcpConnect(timeoutMs, ioTimeoutMs)) return false;
  if (aborted.load()) return false;
  if (RTMP_Connect1(rtmp, nullptr) != 0) return true;
  // The library may have closed the socket already.
  socketFd = -1;
  return false;
}

bool RtmpSession::ConnectStream() {
  if (aborted.load() || !RTMP_IsConnected(rtmp)) return false;
  if (RTMP_ConnectStream(rtmp, 0) == 0) return false;
  return AnnounceChunkSize(kOutChunkSize);
}

bool RtmpSession::AnnounceChunkSize(int chunkSize) {
  // Set Chunk Size: a protocol control message on chunk stream 2, message
  // stream 0. Everything sent after it uses the new size.
  char buffer[RTMP_MAX_HEADER_SIZE + 4];
  RTMPPacket packet;
  memset(&packet, 0, sizeof packet);
  packet.m_headerType = RTMP_PACKET_SIZE_LARGE;
  packet.m_packetType = RTMP_PACKET_TYPE_CHUNK_SIZE;
  packet.m_nChannel = 0x02;
  packet.m_body = buffer + RTMP_MAX_HEADER_SIZE;
  packet.m_nBodySize = 4;
  AMF_EncodeInt32(packet.m_body, packet.m_body + 4, chunkSize);
  if (RTMP_SendPacket(rtmp, &packet, 0) == 0 || !RTMP_IsConnected(rtmp)) return false;
  rtmp->m_outChunkSize = chunkSize;
  return true;
}

int RtmpSession::OutChunkSize() const { return rtmp->m_outChunkSize; }

bool RtmpSession::PlainSocket() const {
  return (rtmp->Link.protocol & (RTMP_FEATURE_HTTP | RTMP_FEATURE_ENC | RTMP_FEATURE_SSL)) == 0 &&
         rtmp->m_sb.sb_ssl == nullptr && rtmp->Link.rc4keyOut == nullptr;
}

bool RtmpSession::SendMessage(int messageType, int chunkStreamId, uint32_t timestamp, const uint8_t* body,
                              uint32_t size) {
  if (!RTMP_IsConnected(rtmp)) return false;
  // Chunk stream ids 2 to 63 fit the one-byte basic header framed here.
  if (PlainSocket() && chunkStreamId >= 2 && chunkStreamId <= 63 && size <= 0xFFFFFF)
    return SendFramed(messageType, chunkStreamId, timestamp, body, size);
  return SendThroughLibrary(messageType, chunkStreamId, timestamp, body, size);
}

bool RtmpSession::SendThroughLibrary(int messageType, int chunkStreamId, uint32_t timestamp,
                                     const uint8_t* body, uint32_t size) {
  char* scratch = static_cast<char*>(malloc(kHeaderRoom + static_cast<size_t>(size)));
  if (!scratch) return false;
  if (size) memcpy(scratch + kHeaderRoom, body, size);
  RTMPPacket packet;
  memset(&packet, 0, sizeof packet);
  packet.m_headerType = RTMP_PACKET_SIZE_LARGE;
  packet.m_packetType = static_cast<uint8_t>(messageType);
  packet.m_hasAbsTimestamp = 0;
  packet.m_nChannel = chunkStreamId;
  packet.m_nTimeStamp = timestamp;
  packet.m_nInfoField2 = rtmp->m_stream_id;
  packet.m_nBodySize = size;
  packet.m_body = scratch + kHeaderRoom;
  // The library closes the session itself when a send fails; the caller
  // closes it again, which is harmless.
  bool ok = RTMP_SendPacket(rtmp, &packet, 0) != 0 && RTMP_IsConnected(rtmp);
  free(scratch);
  return ok;
}

namespace {

void Put24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  Put24(p + 1, v);
}

}  // namespace

bool RtmpSession::SendFramed(int messageType, int chunkStreamId, uint32_t timestamp, const uint8_t* body,
                             uint32_t size) {
  const int fd = rtmp->m_sb.sb_socket;
  if (fd < 0) return false;
  const uint32_t chunk = rtmp->m_outChunkSize > 0 ? static_cast<uint32_t>(rtmp->m_outChunkSize) : 128;
  const bool extended = timestamp >= 0xFFFFFF;
  // Type 0 header: basic header, timestamp, length, type, message stream id
  // (little-endian), then the extended timestamp when it does not fit.
  uint8_t head[16];
  int headSize = 0;
  head[headSize++] = static_cast<uint8_t>(chunkStreamId);
  Put24(head + headSize, extended ? 0xFFFFFF : timestamp);
  headSize += 3;
  Put24(head + headSize, size);
  headSize += 3;
  head[headSize++] = static_cast<uint8_t>(messageType);
  const uint32_t streamId = static_cast<uint32_t>(rtmp->m_stream_id);
  for (int i = 0; i < 4; ++i) head[headSize++] = static_cast<uint8_t>(streamId >> (8 * i));
  if (extended) {
    Put32(head + headSize, timestamp);
    headSize += 4;
  }
  // Every further chunk: a type 3 basic header (and the extended timestamp
  // again, as the library and the servers we feed expect).
  uint8_t cont[5];
  const int contSize = extended ? 5 : 1;
  cont[0] = static_cast<uint8_t>(0xC0 | chunkStreamId);
  if (extended) Put32(cont + 1, timestamp);

  const uint32_t chunks = size == 0 ? 1 : (size + chunk - 1) / chunk;
  std::vector<iovec> iov;
  iov.reserve(2 * chunks);
  iov.push_back(iovec{head, static_cast<size_t>(headSize)});
  for (uint32_t k = 0, at = 0; k < chunks && at < size; ++k) {
    if (k > 0) iov.push_back(iovec{cont, static_cast<size_t>(contSize)});
    uint32_t n = size - at < chunk ? size - at : chunk;
    iov.push_back(iovec{const_cast<uint8_t*>(body + at), n});
    at += n;
  }

  // One sendmsg for the whole message; a partial write (a full send
  // buffer, a signal) carries on where it stopped.
  size_t first = 0;
  const size_t maxIov = static_cast<size_t>(IOV_MAX);
  while (first < iov.size()) {
    msghdr msg;
    memset(&msg, 0, sizeof msg);
    msg.msg_iov = &iov[first];
    msg.msg_iovlen = std::min(iov.size() - first, maxIov);
    ssize_t sent = sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR && !aborted.load()) continue;
      size_t left = 0;
      for (size_t i = first; i < iov.size(); ++i) left += iov[i].iov_len;
      // Said the way the library's own writer says it.
      RTMP_Log(RTMP_LOGERROR, "%s, RTMP send error %d (%d bytes)", "WriteN", errno, static_cast<int>(left));
      return false;
    }
    size_t done = static_cast<size_t>(sent);
    while (first < iov.size() && done >= iov[first].iov_len) {
      done -= iov[first].iov_len;
      ++first;
    }
    if (done > 0) {
      iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + done;
      iov[first].iov_len -= done;
    }
  }
  NoteSent(messageType, chunkStreamId, timestamp, size);
  return true;
}

void RtmpSession::NoteSent(int messageType, int chunkStreamId, uint32_t timestamp, uint32_t size) {
  if (chunkStreamId >= rtmp->m_channelsAllocatedOut) {
    int n = chunkStreamId + 10;
    void* grown = realloc(rtmp->m_vecChannelsOut, sizeof(RTMPPacket*) * n);
    if (!grown) return;
    rtmp->m_vecChannelsOut = static_cast<RTMPPacket**>(grown);
    memset(rtmp->m_vecChannelsOut + rtmp->m_channelsAllocatedOut, 0,
           sizeof(RTMPPacket*) * (n - rtmp->m_channelsAllocatedOut));
    rtmp->m_channelsAllocatedOut = n;
  }
  RTMPPacket*& last = rtmp->m_vecChannelsOut[chunkStreamId];
  if (!last) last = static_cast<RTMPPacket*>(malloc(sizeof(RTMPPacket)));
  if (!last) return;
  memset(last, 0, sizeof(RTMPPacket));
  last->m_headerType = RTMP_PACKET_SIZE_LARGE;
  last->m_packetType = static_cast<uint8_t>(messageType);
  last->m_nChannel = chunkStreamId;
  last->m_nTimeStamp = timestamp;
  last->m_nInfoField2 = rtmp->m_stream_id;
  last->m_nBodySize = size;
}

bool RtmpSession::IsConnected() const { return RTMP_IsConnected(rtmp) != 0; }

bool RtmpSession::PeerClosed() const {
  if (!RTMP_IsConnected(rtmp)) return true;
  pollfd p{RTMP_Socket(rtmp), POLLRDHUP, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  return (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int RtmpSession::StreamId() const { return rtmp->m_stream_id; }

void RtmpSession::Close() {
  socketFd = -1;
  if (rtmp) RTMP_Close(rtmp);
}

void RtmpSession::CloseLost() {
  socketFd = -1;
  if (!rtmp) return;
  if (rtmp->m_sb.sb_socket >= 0) {
    close(rtmp->m_sb.sb_socket);
    rtmp->m_sb.sb_socket = -1;
  }
  RTMP_Close(rtmp);
}

void RtmpSession::Abort() {
  aborted = true;
  int fd = socketFd.load();
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}
