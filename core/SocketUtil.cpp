#include "core/SocketUtil.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {
void CloseSocket(int& sock) {
  if (sock >= 0) {
    close(sock);
    sock = -1;
  }
}
}  // namespace

bool SendAll(int sock, const void* bytes, size_t length) {
  if (sock < 0) return false;
  const char* p = static_cast<const char*>(bytes);
  while (length > 0) {
    ssize_t n = send(sock, p, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 1) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool RecvAll(int sock, void* bytes, size_t length) {
  if (sock < 0) return false;
  char* p = static_cast<char*>(bytes);
  while (length > 0) {
    ssize_t n = recv(sock, p, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 1) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteSocketMessage(int& sock, const std::string& text) {
  if (sock < 0) return false;
  if (text.size() > 0xffffffffu) return false;
  std::string frame;
  frame.reserve(4 + text.size());
  uint32_t len = static_cast<uint32_t>(text.size());
  frame.push_back(static_cast<char>(len >> 24));
  frame.push_back(static_cast<char>(len >> 16));
  frame.push_back(static_cast<char>(len >> 8));
  frame.push_back(static_cast<char>(len));
  frame += text;
  if (!SendAll(sock, frame.data(), frame.size())) {
    CloseSocket(sock);
    return false;
  }
  return true;
}

FrameResult ReadSocketFrame(int& sock, std::string& payload) {
  payload.clear();
  if (sock < 0) return FrameResult::kPeerGone;
  unsigned char header[4];
  if (!RecvAll(sock, header, sizeof(header))) {
    CloseSocket(sock);
    return FrameResult::kPeerGone;
  }
  uint32_t len = (uint32_t(header[0]) << 24) | (uint32_t(header[1]) << 16) | (uint32_t(header[2]) << 8) |
                 uint32_t(header[3]);
  if (len == 0) return FrameResult::kEmpty;
  if (len > kMaxSocketMessageBytes) {
    CloseSocket(sock);
    return FrameResult::kPeerGone;
  }
  // The payload grows only as its bytes arrive: a peer that announces a
  // large frame and sends little holds little.
  char piece[1024];
  while (payload.size() < len) {
    size_t want = len - payload.size();
    if (want > sizeof(piece)) want = sizeof(piece);
    ssize_t n = recv(sock, piece, want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 1) {
      payload.clear();
      payload.shrink_to_fit();
      CloseSocket(sock);
      return FrameResult::kPeerGone;
    }
    payload.append(piece, static_cast<size_t>(n));
  }
  return FrameResult::kOk;
}

std::string ReadSocketMessage(int& sock) {
  std::string payload;
  if (ReadSocketFrame(sock, payload) != FrameResult::kOk) return std::string();
  size_t zero = payload.find('\0');
  if (zero != std::string::npos) payload.resize(zero);
  return payload;
}
