#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "ixolink/IxoLink.h"
#include "ixolink/IxoNotice.h"
#include "tests/ixolink/FakeIxoEngine.h"
#include "tests/tools/IxoServerDouble.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono;

namespace {

int ConnectTo(int port) { return vvtest::ConnectLoopback(port, 3000); }

}  // namespace

// Every accepted connection goes to the engine as a session of its own, with
// the receive and send time-outs already set; the listener itself neither
// reads nor writes on it.
TEST(TransferListener, HandsEachConnectionToTheEngine) {
  FakeIxoEngine engine;
  IxoLinkOptions o;
  o.listenAddress = "127.0.0.1";
  IxoLink link(&engine, o);
  int port = vvtest::FreePort();
  std::thread t([&] { link.TransferEngineCommandServer(port); });
  int a = -1;
  ASSERT_TRUE(vvtest::WaitFor([&] { return (a = ConnectTo(port)) >= 0; }, seconds(20)));
  int b = ConnectTo(port);
  ASSERT_GE(b, 0);
  ASSERT_TRUE(vvtest::WaitFor([&] { return engine.Sessions().size() == 2; }, seconds(20)));
  for (int fd : {a, b}) {
    char buf[5];
    ASSERT_EQ(recv(fd, buf, 5, MSG_WAITALL), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
  }
  for (auto& s : engine.Sessions()) {
    EXPECT_EQ(s.receiveTimeoutMs, 5000);
    EXPECT_EQ(s.sendTimeoutMs, 5000);
  }
  EXPECT_NE(engine.Sessions()[0].fd, engine.Sessions()[1].fd);
  close(a);
  close(b);
  link.Stop();
  t.join();
}

// A port that is taken already is reported to the operator and leaves no
// listener behind.
TEST(TransferListener, BindFailureIsReported) {
  std::vector<std::string> notices;
  std::mutex m;
  SetIxoNoticeHook([&](const std::string& text) {
    std::lock_guard<std::mutex> lock(m);
    notices.push_back(text);
  });
  FakeIxoEngine engine;
  IxoLinkOptions o;
  o.listenAddress = "127.0.0.1";
  IxoLink link(&engine, o);
  vvtest::IxoServerDouble holder;  // sits on the port
  ASSERT_TRUE(holder.Start());
  EXPECT_EQ(link.TransferEngineCommandServer(holder.port()), 0);
  EXPECT_EQ(link.PullEngineCommandServer(holder.port()), 0);
  SetIxoNoticeHook(nullptr);
  EXPECT_EQ(notices, (std::vector<std::string>{"error when bind port", "error when bind port"}));
  EXPECT_EQ(engine.DeleteAllCalls(), 0);
}
