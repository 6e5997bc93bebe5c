#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "core/IoBuffer.h"
#include "ixolink/SendCommandClient.h"
#include "tests/tools/IxoServerDouble.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono;
using vvtest::IxoMisbehaviour;
using vvtest::IxoServerDouble;

namespace {

std::string WriteIni(const vvtest::TempDir& dir, const std::string& body) {
  std::string path = dir.file("system.ini");
  std::ofstream(path) << body;
  return path;
}

std::string Frame(const std::string& s) {
  uint32_t n = static_cast<uint32_t>(s.size());
  return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + s;
}

// Accepts one connection on 127.0.0.1, collects what arrives until `expect`
// bytes are in (or 2 s pass), then sends `reply` and closes.
class OneShotServer {
 public:
  OneShotServer(size_t expect, std::string reply) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    listen(fd_, 1);
    socklen_t len = sizeof(a);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, expect, reply] {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) return;
      int c = accept(fd_, nullptr, nullptr);
      auto end = steady_clock::now() + seconds(2);
      char buf[4096];
      while (received_.size() < expect && steady_clock::now() < end) {
        pollfd q{c, POLLIN, 0};
        if (poll(&q, 1, 50) <= 0) continue;
        ssize_t n = recv(c, buf, sizeof(buf), 0);
        if (n <= 0) break;
        received_.append(buf, static_cast<size_t>(n));
      }
      send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
      close(c);
    });
  }
  ~OneShotServer() {
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  int port() const { return port_; }
  std::string Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::string received_;
};

}  // namespace

// The request is the command frame, the key frame only when a key is set,
// then the data frame; the reply comes back whole, nul bytes and all, even
// when it spans several reads.
TEST(SendCommandClient, RequestFramesAndLongReply) {
  vvtest::TempDir dir("ixocli");
  std::string longReply(3000, 'r');
  longReply[1500] = '\0';
  struct Case {
    const char* ini;
    std::string expectedRequest;
    std::string reply;
  } cases[] = {
      {"[IXO_SETUP]\nHOST=127.0.0.1\n", Frame("Register") + Frame("{\"a\":1}"), "17"},
      {"[ixo_setup]\nkey = s3cret\n", Frame("Register") + Frame("s3cret") + Frame("{\"a\":1}"), longReply},
  };
  for (const Case& c : cases) {
    std::string ini = WriteIni(dir, c.ini);
    OneShotServer server(c.expectedRequest.size(), Frame(c.reply));
    SendCommandClient client("127.0.0.1", server.port(), ini);
    ASSERT_TRUE(client.Connect());
    std::string reply = client.SendCommand("Register", "{\"a\":1}");
    EXPECT_EQ(server.Received(), c.expectedRequest);
    EXPECT_EQ(reply, c.reply);
    client.Close();
  }
}

// Every way the server can fail an exchange gives "" and gives it quickly:
// nothing is allocated for a huge announced length, a silent server runs
// into the time-out instead of blocking the caller for ever.
TEST(SendCommandClient, FailedExchangesGiveEmptyReply) {
  vvtest::TempDir dir("ixocli");
  std::string ini = WriteIni(dir, "[IXO_SETUP]\nKEY=k\n");
  IxoServerDouble server("k");
  ASSERT_TRUE(server.Start());
  struct Case {
    IxoMisbehaviour how;
    milliseconds atMost;
  } cases[] = {
      // Far below a hang, far above the 700 ms time-out plus a loaded
      // machine's delays.
      {IxoMisbehaviour::EmptyReply, milliseconds(5000)},   {IxoMisbehaviour::HugeLength, milliseconds(5000)},
      {IxoMisbehaviour::CloseMidFrame, milliseconds(5000)}, {IxoMisbehaviour::Close, milliseconds(5000)},
      {IxoMisbehaviour::Silence, milliseconds(5000)},
  };
  for (const Case& c : cases) {
    server.Misbehave("Ping", c.how, 1);
    SendCommandClient client("127.0.0.1", server.port(), ini);
    client.SetTimeoutMs(700);
    ASSERT_TRUE(client.Connect());
    auto t0 = steady_clock::now();
    EXPECT_EQ(client.SendCommand("Ping", "5"), "") << static_cast<int>(c.how);
    EXPECT_LT(steady_clock::now() - t0, c.atMost) << static_cast<int>(c.how);
  }
  // The same server still answers well-behaved requests.
  SendCommandClient client("127.0.0.1", server.port(), ini);
  ASSERT_TRUE(client.Connect());
  EXPECT_EQ(client.SendCommand("Ping", "5"), "ok");
  EXPECT_EQ(client.SendCommand("Register", "{}"), "1");
  EXPECT_EQ(server.BadRequests(), 0);
  auto pings = server.RequestsOf("Ping");
  ASSERT_FALSE(pings.empty());
  EXPECT_EQ(pings.back().key, "k");
  EXPECT_EQ(pings.back().data, "5");
}

TEST(SendCommandClient, ConnectFailuresAndUseWithoutConnection) {
  vvtest::TempDir dir("ixocli");
  std::string ini = WriteIni(dir, "");
  // Nobody listens there; below the ephemeral range, so the connect cannot
  // meet itself.
  IxoServerDouble closed;
  ASSERT_TRUE(closed.Start());
  int port = closed.port();
  closed.Stop();
  SendCommandClient refused("127.0.0.1", port, ini);
  EXPECT_FALSE(refused.Connect());
  EXPECT_EQ(refused.SendCommand("Ping", "1"), "");
  SendCommandClient badHost("not-an-address", port, ini);
  EXPECT_FALSE(badHost.Connect());
  IoBuffer b;
  b.WriteUInt32(1);
  EXPECT_FALSE(refused.SendAll(b));
}

// Interrupt wakes a caller that waits for a reply that never comes.
TEST(SendCommandClient, InterruptEndsAWaitingExchange) {
  vvtest::TempDir dir("ixocli");
  std::string ini = WriteIni(dir, "");
  IxoServerDouble server;
  ASSERT_TRUE(server.Start());
  server.Misbehave("Ping", IxoMisbehaviour::Silence);
  SendCommandClient client("127.0.0.1", server.port(), ini);
  ASSERT_TRUE(client.Connect());
  std::string reply = "unset";
  auto t0 = steady_clock::now();
  std::thread t([&] { reply = client.SendCommand("Ping", "1"); });
  std::this_thread::sleep_for(milliseconds(200));
  client.Interrupt();
  t.join();
  EXPECT_EQ(reply, "");
  EXPECT_LT(steady_clock::now() - t0, seconds(5));
  EXPECT_FALSE(client.Connect());
}
