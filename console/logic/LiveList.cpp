#include "console/logic/LiveList.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include <json/json.h>

namespace {

std::atomic<int> g_port{kLocalLivePort};

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitReady(int sock, short events, Clock::time_point deadline) {
  for (;;) {
    int left = MsLeft(deadline);
    if (left <= 0) return false;
    pollfd p{sock, events, 0};
    int r = ::poll(&p, 1, left);
    if (r > 0) return true;
    if (r < 0 && errno == EINTR) continue;
    return false;
  }
}

bool SendBytes(int sock, const char* data, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    if (!WaitReady(sock, POLLOUT, deadline)) return false;
    ssize_t n = ::send(sock, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool RecvBytes(int sock, char* data, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    if (!WaitReady(sock, POLLIN, deadline)) return false;
    ssize_t n = ::recv(sock, data, size, 0);
    if (n == 0) return false;  // closed before the reply was complete
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void AppendFrame(std::string& out, const std::string& text) {
  uint32_t n = htonl(static_cast<uint32_t>(text.size()));
  out.append(reinterpret_cast<const char*>(&n), 4);
  out += text;
}

bool UsableName(const std::string& s) {
  if (s.empty()) return false;
  for (unsigned char c : s) {
    if (c <= 0x20 || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

int LocalLivePort() { return g_port.load(); }
void SetLocalLivePort(int port) { g_port.store(port); }

bool QueryLocalCommand(const std::string& command, const std::string& body, std::string& reply, int port,
                       int timeoutMs) {
  reply.clear();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (sock < 0) return false;
  bool ok = false;
  do {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      if (errno != EINPROGRESS) break;
      if (!WaitReady(sock, POLLOUT, deadline)) break;
      int error = 0;
      socklen_t len = sizeof error;
      if (::getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) break;
    }
    std::string request;
    AppendFrame(request, command);
    AppendFrame(request, body);
    if (!SendBytes(sock, request.data(), request.size(), deadline)) break;
    unsigned char head[4];
    if (!RecvBytes(sock, reinterpret_cast<char*>(head), 4, deadline)) break;
    uint32_t length = (uint32_t(head[0]) << 24) | (uint32_t(head[1]) << 16) | (uint32_t(head[2]) << 8) | head[3];
    if (length > kMaxLiveListReplyBytes) break;
    std::string text(length, '\0');
    if (length > 0 && !RecvBytes(sock, &text[0], length, deadline)) break;
    reply.swap(text);
    ok = true;
  } while (false);
  ::close(sock);
  return ok;
}

std::string ParseLiveInfos(const std::string& reply) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  if (reply.empty() || !reader->parse(reply.data(), reply.data() + reply.size(), &root, &errors)) return "";
  if (!root.isArray()) return "";
  std::string found;
  for (Json::ArrayIndex i = 0; i < root.size(); ++i) {
    const Json::Value& item = root[i];
    // A channel list with anything but channel objects in it is not one.
    if (!item.isObject()) return "";
    const Json::Value& app = item["appName"];
    const Json::Value& name = item["name"];
    const Json::Value& live = item["liveStatus"];
    const Json::Value& id = item["id"];
    if (!app.isString() || !name.isString() || !live.isBool()) return "";
    if (!id.isNull() && !id.isIntegral()) return "";
    if (found.empty() && !live.asBool() && UsableName(app.asString()) && UsableName(name.asString())) {
      found = "rtmp://127.0.0.1/" + app.asString() + "/" + name.asString();
    }
  }
  return found;
}

std::string ListLiveInfos(int port) {
  std::string reply;
  if (!QueryLocalCommand("ListLiveInfos", "", reply, port)) return "";
  return ParseLiveInfos(reply);
}
