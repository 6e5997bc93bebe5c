#include "tests/tools/IxoServerDouble.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vvtest {

namespace {

constexpr uint32_t kMaxFrame = 1024 * 1024;

bool SendBytes(int fd, const void* p, size_t n) {
  const char* c = static_cast<const char*>(p);
  while (n > 0) {
    ssize_t k = send(fd, c, n, MSG_NOSIGNAL);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    c += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

bool RecvBytes(int fd, void* p, size_t n) {
  char* c = static_cast<char*>(p);
  while (n > 0) {
    ssize_t k = recv(fd, c, n, 0);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    c += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

std::string Header(uint32_t n) {
  char h[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
  return std::string(h, 4);
}

bool SendFrame(int fd, const std::string& s) {
  std::string f = Header(static_cast<uint32_t>(s.size())) + s;
  return SendBytes(fd, f.data(), f.size());
}

// 1 frame read, 0 connection closed, -1 frame too long.
int RecvFrame(int fd, std::string& out) {
  unsigned char h[4];
  if (!RecvBytes(fd, h, 4)) return 0;
  uint32_t n = (uint32_t(h[0]) << 24) | (uint32_t(h[1]) << 16) | (uint32_t(h[2]) << 8) | h[3];
  if (n > kMaxFrame) return -1;
  out.assign(n, '\0');
  if (n > 0 && !RecvBytes(fd, out.data(), n)) return 0;
  return 1;
}

void SetTimeout(int fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

}  // namespace

IxoServerDouble::IxoServerDouble(std::string expectedKey) : key_(std::move(expectedKey)) {}

IxoServerDouble::~IxoServerDouble() { Stop(); }

// Ports below the kernel's ephemeral range, so that no outgoing connection
// of a test running beside this one can sit on the port while the double is
// stopped for a restart.
static int OpenOn(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool IxoServerDouble::Start(int port) {
  Stop();
  int fd = -1;
  if (port > 0) {
    fd = OpenOn(port);
  } else {
    static std::atomic<unsigned> seed{static_cast<unsigned>(getpid()) * 7919u};
    for (int i = 0; i < 200 && fd < 0; ++i) {
      port = 20000 + static_cast<int>((seed += 2654435761u) % 12000u);
      fd = OpenOn(port);
    }
  }
  if (fd < 0) return false;
  port_ = port;
  listenFd_ = fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
  }
  running_ = true;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void IxoServerDouble::Stop() {
  if (!running_.exchange(false)) return;
  if (acceptThread_.joinable()) acceptThread_.join();
  close(listenFd_);
  listenFd_ = -1;
  std::vector<std::thread> servers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : fds_) shutdown(fd, SHUT_RDWR);
    servers.swap(servers_);
  }
  for (auto& t : servers) t.join();
  std::lock_guard<std::mutex> lock(mutex_);
  fds_.clear();
}

void IxoServerDouble::AcceptLoop() {
  while (running_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int c = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    int n = ++accepted_;
    fds_.push_back(c);
    servers_.emplace_back([this, c, n] { Serve(c, n); });
  }
}

void IxoServerDouble::Serve(int fd, int connection) {
  SetTimeout(fd, 20000);
  while (running_) {
    IxoRequest req;
    req.connection = connection;
    int r = RecvFrame(fd, req.command);
    if (r == 1 && !key_.empty()) r = RecvFrame(fd, req.key);
    if (r == 1) r = RecvFrame(fd, req.data);
    if (r != 1) {
      if (r < 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++bad_;
      }
      break;
    }
    req.at = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      req.generation = generation_;
      requests_.push_back(req);
    }
    if (!Answer(fd, req)) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  fds_.erase(std::remove(fds_.begin(), fds_.end(), fd), fds_.end());
  close(fd);
}

// False when the connection is to end.
bool IxoServerDouble::Answer(int fd, const IxoRequest& req) {
  IxoMisbehaviour how = IxoMisbehaviour::None;
  std::string reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Rule& rule : misbehave_) {
      if (rule.command != req.command || rule.times == 0) continue;
      if (!rule.dataHas.empty() && req.data.find(rule.dataHas) == std::string::npos) continue;
      how = rule.how;
      if (rule.times > 0) --rule.times;
      break;
    }
    if (req.command == "Register")
      reply = registerReply_.empty() ? std::to_string(nextId_++) : registerReply_;
    else
      reply = "ok";
  }
  switch (how) {
    case IxoMisbehaviour::None:
      return SendFrame(fd, reply);
    case IxoMisbehaviour::EmptyReply:
      return SendFrame(fd, "");
    case IxoMisbehaviour::HugeLength: {
      std::string h = Header(0xFFFFFFF0u);
      SendBytes(fd, h.data(), h.size());
      return true;
    }
    case IxoMisbehaviour::CloseMidFrame: {
      std::string h = Header(100) + std::string(10, 'x');
      SendBytes(fd, h.data(), h.size());
      return false;
    }
    case IxoMisbehaviour::Silence:
      return true;
    case IxoMisbehaviour::Close:
      return false;
  }
  return false;
}

void IxoServerDouble::SetNextId(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  nextId_ = id;
}

void IxoServerDouble::SetRegisterReply(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  registerReply_ = text;
}

void IxoServerDouble::Misbehave(const std::string& command, IxoMisbehaviour how, int times,
                                const std::string& dataHas) {
  std::lock_guard<std::mutex> lock(mutex_);
  int left = how == IxoMisbehaviour::None ? 0 : times;
  for (Rule& rule : misbehave_)
    if (rule.command == command && rule.dataHas == dataHas) {
      rule.how = how;
      rule.times = left;
      return;
    }
  misbehave_.push_back({command, dataHas, how, left});
}

std::vector<IxoRequest> IxoServerDouble::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<IxoRequest> IxoServerDouble::RequestsOf(const std::string& command) {
  std::vector<IxoRequest> out;
  for (auto& r : Requests())
    if (r.command == command) out.push_back(r);
  return out;
}

int IxoServerDouble::Count(const std::string& command) { return static_cast<int>(RequestsOf(command).size()); }

bool IxoServerDouble::WaitForCount(const std::string& command, int count, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (Count(command) >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Count(command) >= count;
}

int IxoServerDouble::BadRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bad_;
}

int IxoServerDouble::Accepted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

std::string IxoServerDouble::Command(int port, const std::string& command, const std::string& data, bool* replied,
                                     int timeoutMs) {
  if (replied) *replied = false;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) {
    SetTimeout(fd, timeoutMs);
    if (SendFrame(fd, command) && SendFrame(fd, data) && RecvFrame(fd, reply) == 1 && replied) *replied = true;
  }
  close(fd);
  return reply;
}

}  // namespace vvtest
