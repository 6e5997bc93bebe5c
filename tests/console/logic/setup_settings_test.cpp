// The settings pages' values in conf/system.ini and the connection test
// against real sockets on 127.0.0.1.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "console/logic/SetupSettings.h"
#include "core/IniFileEx.h"
#include "tests/tools/TestUtil.h"

using namespace setup;

TEST(SetupSettings, IxoServerRoundTripsAndCreatesTheMissingFolder) {
  vvtest::TempDir dir("vvsetup");
  CIniFileEx ini(dir.file("conf/system.ini"));  // conf/ does not exist yet
  IxoServer empty = ReadIxoServer(ini);
  EXPECT_EQ(empty.host, "");
  EXPECT_EQ(empty.port, 0);
  EXPECT_EQ(empty.key, "");
  EXPECT_FALSE(ReadAutoForward(ini));

  IxoServer s{"192.168.1.20", 9000, "密钥abc"};
  ASSERT_TRUE(WriteIxoServer(ini, s));
  IxoServer back = ReadIxoServer(ini);
  EXPECT_EQ(back.host, s.host);
  EXPECT_EQ(back.port, 9000);
  EXPECT_EQ(back.key, s.key);
  EXPECT_EQ(ini.GetString("IXO_SETUP", "PORT"), "9000");

  ASSERT_TRUE(WriteAutoForward(ini, true));
  EXPECT_EQ(ini.GetString("START_OPTION", "AUTO_FORWARD"), "1");
  EXPECT_TRUE(ReadAutoForward(ini));
  ASSERT_TRUE(WriteAutoForward(ini, false));
  EXPECT_EQ(ini.GetString("START_OPTION", "AUTO_FORWARD"), "0");
  // The other page's values stay.
  EXPECT_EQ(ReadIxoServer(ini).host, s.host);
}

TEST(SetupSettings, WriteThatCannotSucceedReportsFailure) {
  vvtest::TempDir dir("vvsetup");
  // A plain file where the folder should be.
  vvtest::Run("touch " + vvtest::ShellQuote(dir.file("conf")));
  CIniFileEx ini(dir.file("conf/system.ini"));
  EXPECT_FALSE(WriteIxoServer(ini, IxoServer{"127.0.0.1", 1, ""}));
  EXPECT_FALSE(WriteAutoForward(ini, true));
}

TEST(SetupSettings, PortField) {
  struct Case {
    const char* text;
    bool ok;
    int port;
  } cases[] = {{"0", true, 0},  {"8080", true, 8080}, {"65536", true, 65536}, {"", false, 0},
               {"-1", false, 0}, {"12a", false, 0},   {" 80", false, 0},      {"1234567890", false, 0}};
  for (const Case& c : cases) {
    int port = -5;
    EXPECT_EQ(ParsePortField(c.text, port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
}

TEST(SetupSettings, ConnectionTestOutcomes) {
  // A listener that accepts, and a port with nobody behind it.
  int open = 0;
  int lfd = vvtest::ListenLoopback(&open);
  ASSERT_GE(lfd, 0);
  int closed = vvtest::FreePort();

  struct Case {
    const char* host;
    int port;
    const char* want;
  } cases[] = {
      {"127.0.0.1", 0, kFillInParameters},   {"", 80, kFillInParameters},
      {"127.0.0.1", -3, kFillInParameters},  {"127.0.0.1", 65536, kFillInParameters},
      {"127.0.0.1", open, kConnected},       {"127.0.0.1", closed, kNotConnected},
      {"localhost", open, kNotConnected},    {"127.0.0.1x", open, kNotConnected},
  };
  for (const Case& c : cases) EXPECT_EQ(TestConnection(c.host, c.port, 3000), c.want) << c.host << ":" << c.port;
  close(lfd);
}

// A peer that never answers (a full backlog drops the handshake) ends the
// test at its time-out instead of the system's minutes-long connect.
TEST(SetupSettings, ConnectionTestGivesUpAtItsTimeOut) {
  int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(lfd, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(lfd, 0), 0);
  socklen_t len = sizeof a;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  int port = ntohs(a.sin_port);
  // Fill the backlog with connections nobody accepts.
  std::vector<int> fillers;
  for (int i = 0; i < 8; ++i) {
    int f = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(f);
  }
  usleep(200 * 1000);
  auto start = std::chrono::steady_clock::now();
  std::string got = TestConnection("127.0.0.1", port, 500);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(got, kNotConnected);
  EXPECT_LT(took, std::chrono::seconds(10));
  for (int f : fillers) close(f);
  close(lfd);
}
