#pragma once
// A TCP relay on 127.0.0.1 in front of an RTMP server, for tests of a
// publisher whose link stops carrying data. Header-only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

namespace vvtest {

// A TCP relay on 127.0.0.1 in front of a server that can stop reading from
// its client: the client's sends then block once the small socket buffers
// between them are full, as with a slow link.
class StallingRelay {
 public:
  explicit StallingRelay(int targetPort) : target(targetPort) {
    listenFd = socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    setsockopt(listenFd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    listen(listenFd, 4);
    worker = std::thread([this] { Run(); });
  }
  ~StallingRelay() {
    stop = true;
    worker.join();
    close(listenFd);
  }
  void Stall(bool on) { stalled = on; }
  std::string Url(const std::string& stream) const {
    return "rtmp://127.0.0.1:" + std::to_string(port) + "/live/" + stream;
  }

 private:
  void Run() {
    int client = -1;
    while (!stop && client < 0) {
      pollfd p{listenFd, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) client = accept(listenFd, nullptr, nullptr);
    }
    if (client < 0) return;
    int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(target));
    bool open = connect(server, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    char buf[4096];
    while (!stop && open) {
      pollfd p[2] = {{client, static_cast<short>(stalled ? 0 : POLLIN), 0}, {server, POLLIN, 0}};
      if (poll(p, 2, 20) <= 0) continue;
      for (int i = 0; i < 2 && open; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = recv(p[i].fd, buf, sizeof(buf), 0);
        open = n > 0 && send(p[1 - i].fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
      }
    }
    close(server);
    close(client);
  }
  int target;
  int listenFd = -1;
  int port = 0;
  std::atomic<bool> stop{false};
  std::atomic<bool> stalled{false};
  std::thread worker;
};

}  // namespace vvtest
