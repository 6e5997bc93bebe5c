// What hostile or idle peers of the Ixo link can cost the engine: memory
// for frames they only announce, handlers they hold by trickling, and lines
// they slip into the log.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/Log.h"
#include "tests/ixolink/RealEngine.h"

using namespace std::chrono;
using ixotest::RealEngineTest;

namespace {

// True when the engine has closed the connection (the peer reads its end).
bool ClosedByEngine(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  char c;
  return recv(fd, &c, 1, MSG_DONTWAIT) == 0 || (p.revents & (POLLHUP | POLLERR)) != 0;
}

// A peer that announces a frame of `announced` bytes and then trickles.
int TricklingPeer(int port, uint32_t announced) {
  int fd = ixotest::ConnectTo(port, 5000);
  if (fd >= 0) ixotest::SendAll(fd, ixotest::PutBe32(announced) + "{");
  return fd;
}

void Trickle(const std::vector<int>& fds) {
  for (int fd : fds) send(fd, " ", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

}  // namespace

// A hundred transfer connections that announce a 16 MiB header, and a
// hundred command connections that announce a 1 MiB frame, then send a byte
// now and then: the engine's memory grows only by what really arrived, each
// frame ends at its one deadline however the bytes trickle, and once the
// peers are gone the memory is back near where it was.
TEST_F(RealEngineTest, IdlePeersHoldLittleMemory) {
  IxoLinkOptions o;
  o.handlerTimeoutMs = 4000;
  StartLink(20800, o);
  // The engine's threads and buffers settle after a first session.
  {
    int fd = TricklingPeer(transferPort, 8);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(vvtest::WaitFor([&] { return ClosedByEngine(fd); }, seconds(30)));
    close(fd);
  }
  const long baseline = ixotest::ResidentKb();
  ASSERT_GT(baseline, 0);

  std::vector<int> peers;
  for (int i = 0; i < 100; ++i) {
    peers.push_back(TricklingPeer(transferPort, 16u << 20));
    peers.push_back(TricklingPeer(pullPort, 1u << 20));
  }
  for (int fd : peers) ASSERT_GE(fd, 0);
  auto started = steady_clock::now();
  // Every connection is taken (or turned away at the bound) by now.
  ASSERT_TRUE(vvtest::WaitFor(
      [&] { return CLiveChannelManager::Instance()->SessionCount() >= 64 && link->RunningHandlers() >= 64; },
      seconds(30)));
  long peak = 0;
  for (int second = 0; second < 3; ++second) {
    Trickle(peers);
    auto until = steady_clock::now() + seconds(1);
    while (steady_clock::now() < until) {
      peak = std::max(peak, ixotest::ResidentKb());
      std::this_thread::sleep_for(milliseconds(50));
    }
  }
  const long peakGrowthMb = (peak - baseline) / 1024;
  printf("resident memory: %ld MB before, %ld MB at most under 200 idle peers\n", baseline / 1024, peak / 1024);
  EXPECT_LT(peakGrowthMb, 150) << "announced but unsent frames were reserved";

  // Still trickling, every peer is let go once its frame's time is up.
  std::vector<bool> closed(peers.size(), false);
  size_t open = peers.size();
  auto end = steady_clock::now() + seconds(40);
  while (open > 0 && steady_clock::now() < end) {
    Trickle(peers);
    for (size_t i = 0; i < peers.size(); ++i) {
      if (!closed[i] && ClosedByEngine(peers[i])) {
        closed[i] = true;
        --open;
      }
    }
    std::this_thread::sleep_for(milliseconds(500));
  }
  EXPECT_EQ(open, 0u) << "trickling peers kept their connections";
  EXPECT_LT(steady_clock::now() - started, seconds(30));
  for (int fd : peers) close(fd);
  EXPECT_TRUE(vvtest::WaitFor(
      [&] { return CLiveChannelManager::Instance()->SessionCount() == 0 && link->RunningHandlers() == 0; },
      seconds(30)));
  long after = 0;
  // Freed memory may go back to the system a little later.
  vvtest::WaitFor([&] { return (after = ixotest::ResidentKb()) - baseline < 50 * 1024; }, seconds(10),
                  milliseconds(200));
  printf("resident memory: %ld MB after the peers left\n", after / 1024);
  EXPECT_LT((after - baseline) / 1024, 50);
}

// Past the bound of concurrent command handlers and of transcoding
// sessions a connection is closed at once, with a log line, while those
// within the bound stay served.
TEST_F(RealEngineTest, ConnectionsPastTheBoundAreClosedAtOnce) {
  vvtest::TempDir logDir("ixolog");
  std::string log = logDir.file("Velvanet.log");
  SetLogFileName(log);
  IxoLinkOptions o;
  o.maxHandlers = 3;
  o.handlerTimeoutMs = 20000;
  CLiveChannelManager::Instance()->SetMaxTranscodeSessions(3);
  StartLink(21000, o);
  struct Case {
    const char* what;
    int port;
    std::function<int()> running;
    const char* logged;
  } cases[] = {
      {"command handlers", pullPort, [&] { return link->RunningHandlers(); },
       "pull command connection closed: 3 commands are being served already"},
      {"transcoding sessions", transferPort, [] { return CLiveChannelManager::Instance()->SessionCount(); },
       "transcoding connection closed: 3 sessions are running already"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) held.push_back(TricklingPeer(c.port, 100));
    ASSERT_TRUE(vvtest::WaitFor([&] { return c.running() == 3; }, seconds(20))) << c.running();
    int extra = TricklingPeer(c.port, 100);
    ASSERT_GE(extra, 0);
    EXPECT_TRUE(vvtest::WaitFor([&] { return ClosedByEngine(extra); }, seconds(3)));
    close(extra);
    for (int fd : held) EXPECT_FALSE(ClosedByEngine(fd));
    for (int fd : held) close(fd);
    EXPECT_TRUE(vvtest::WaitFor([&] { return c.running() == 0; }, seconds(20)));
    std::vector<std::string> lines = LogLines(log);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& l) { return l.find(c.logged) != std::string::npos; }));
  }
  SetLogFileName("");
}

// Text of a request goes into the log on one line of bounded length: a
// line break in the data cannot start a line of the peer's making, and a
// 1 MB body is cut, with its size told.
TEST_F(RealEngineTest, PeerTextCannotForgeLogLines) {
  vvtest::TempDir logDir("ixolog");
  std::string log = logDir.file("Velvanet.log");
  SetLogFileName(log);
  StartLink(21200);
  const std::string forged = "2026-01-01 00:00:00 [CRIT]: the operator's password is hunter2";
  EXPECT_EQ(Command("StopPull", "77\n" + forged + "\r\n\x1b[2J"), "ok");
  std::string big = "{\"url\":\"\",\"pad\":\"" + std::string(1000000 - 19, 'a') + "\"}";
  ASSERT_EQ(big.size(), 1000000u);
  bool replied = false;
  Command("StartPull", big, &replied);
  EXPECT_TRUE(replied);
  SetLogFileName("");

  std::vector<std::string> lines = LogLines(log);
  for (const std::string& l : lines) EXPECT_NE(l.rfind("2026-01-01 00:00:00", 0), 0u) << l;
  auto stop = std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.find("receive command is StopPull") != std::string::npos; });
  ASSERT_NE(stop, lines.end());
  EXPECT_NE(stop->find("and data is 77\\n" + forged + "\\r\\n\\x1B[2J"), std::string::npos) << *stop;
  auto start = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("receive command is StartPull") != std::string::npos; });
  ASSERT_NE(start, lines.end());
  EXPECT_LT(start->size(), 1024u);
  EXPECT_NE(start->find("... (1000000 bytes)"), std::string::npos) << start->substr(0, 200);
}
