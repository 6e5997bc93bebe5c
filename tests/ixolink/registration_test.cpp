#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/Log.h"
#include "ixolink/IxoLink.h"
#include "ixolink/IxoNotice.h"
#include "ixolink/PortSearch.h"
#include "tests/ixolink/FakeIxoEngine.h"
#include "tests/tools/IxoServerDouble.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono;
using vvtest::IxoMisbehaviour;
using vvtest::IxoRequest;
using vvtest::IxoServerDouble;

namespace {

struct Registration {
  std::string protocol;
  int commandPort = -1;
};

Registration ParseRegister(const std::string& data) {
  Registration r;
  Json::Value v;
  Json::Reader reader;
  if (reader.parse(data, v) && v.isObject()) {
    r.protocol = v.get("protocol", "").asString();
    r.commandPort = v.get("commandPort", -1).asInt();
  }
  return r;
}

// Fast timings so a whole registration cycle takes a fraction of a second.
IxoLinkOptions FastOptions(const std::string& ini) {
  IxoLinkOptions o;
  o.configPath = ini;
  o.listenAddress = "127.0.0.1";
  o.retryMs = 150;
  o.pingMs = 100;
  // Long enough that no exchange with the double fails by slowness alone
  // (the sanitizer builds on a loaded machine); failures come on demand.
  o.commandTimeoutMs = 10000;
  return o;
}

std::string WriteSettings(const vvtest::TempDir& dir, int port, const std::string& key) {
  std::string path = dir.file("system.ini");
  std::ofstream(path) << "[IXO_SETUP]\nHOST=127.0.0.1\nPORT=" << port << "\nKEY=" << key << "\n";
  return path;
}

// The latest registration of one protocol and the pings that followed it on
// the same connection.
struct Round {
  IxoRequest reg;
  std::vector<IxoRequest> pings;
};

std::vector<Round> Rounds(IxoServerDouble& server, const std::string& protocol) {
  std::vector<Round> rounds;
  std::set<int> connections;
  auto all = server.Requests();
  for (auto& r : all)
    if (r.command == "Register" && ParseRegister(r.data).protocol == protocol) {
      rounds.push_back({r, {}});
      connections.insert(r.connection);
    }
  for (auto& round : rounds)
    for (auto& r : all)
      if (r.command == "Ping" && r.connection == round.reg.connection) round.pings.push_back(r);
  return rounds;
}

class NoticeCollector {
 public:
  NoticeCollector() {
    SetIxoNoticeHook([this](const std::string& t) {
      std::lock_guard<std::mutex> lock(m);
      texts.push_back(t);
    });
  }
  ~NoticeCollector() { SetIxoNoticeHook(nullptr); }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(m);
    return texts;
  }

 private:
  std::mutex m;
  std::vector<std::string> texts;
};

}  // namespace

// Both engines register on their own connection with the key frame, get a
// port from their own range that really listens, and ping with the id the
// server gave them, about once per ping interval.
TEST(IxoRegistration, BothEnginesRegisterAndPing) {
  for (std::string key : {"", "k-42"}) {
    vvtest::TempDir dir("ixoreg");
    IxoServerDouble server(key);
    ASSERT_TRUE(server.Start());
    server.SetNextId(7);
    FakeIxoEngine engine;
    IxoLinkOptions o = FastOptions(WriteSettings(dir, server.port(), key));
    o.pingMs = 1500;
    IxoLink link(&engine, o);
    link.Start();
    ASSERT_TRUE(vvtest::WaitFor(
        [&] {
          auto p = Rounds(server, "PullStream"), t = Rounds(server, "transfer");
          return !p.empty() && !t.empty() && p[0].pings.size() >= 2 && t[0].pings.size() >= 2;
        },
        seconds(30)));
    auto pull = Rounds(server, "PullStream");
    auto transfer = Rounds(server, "transfer");
    ASSERT_EQ(pull.size(), 1u);
    ASSERT_EQ(transfer.size(), 1u);
    EXPECT_NE(pull[0].reg.connection, transfer[0].reg.connection);
    int pullPort = ParseRegister(pull[0].reg.data).commandPort;
    int transferPort = ParseRegister(transfer[0].reg.data).commandPort;
    EXPECT_GE(pullPort, 1000);
    EXPECT_LT(pullPort, 2000);
    EXPECT_GE(transferPort, 2000);
    EXPECT_LT(transferPort, 3000);
    EXPECT_EQ(pull[0].reg.data, "{\"protocol\":\"PullStream\",\"commandPort\":" + std::to_string(pullPort) + "}");
    EXPECT_EQ(transfer[0].reg.data, "{\"protocol\":\"transfer\",\"commandPort\":" + std::to_string(transferPort) + "}");
    EXPECT_TRUE(vvtest::WaitFor(
        [&] { return vvtest::CanConnectLoopback(pullPort) && vvtest::CanConnectLoopback(transferPort); },
        seconds(10)));
    std::set<std::string> ids;
    for (auto* round : {&pull[0], &transfer[0]}) {
      EXPECT_EQ(round->reg.key, key);
      ASSERT_GE(round->pings.size(), 2u);
      for (auto& p : round->pings) {
        EXPECT_EQ(p.key, key);
        EXPECT_EQ(p.data, round->pings[0].data);
      }
      ids.insert(round->pings[0].data);
      // The first ping follows the registration at once (well within the
      // ping interval), the next one a whole ping interval later. These are
      // the times the pings arrived: a late first arrival (a loaded machine,
      // the thread checker) shortens the gap a little.
      EXPECT_LT(round->pings[0].at - round->reg.at, milliseconds(1000));
      EXPECT_GE(round->pings[1].at - round->pings[0].at, milliseconds(1250));
    }
    EXPECT_EQ(ids, (std::set<std::string>{"7", "8"}));
    EXPECT_EQ(server.BadRequests(), 0);
    link.Stop();
    EXPECT_EQ(link.RunningListeners(), 0);
  }
}

// When the server goes away and comes back, each engine registers again,
// announcing the port of its listener that still runs (no second listener
// is started), and pings with its new id. The pull rows are emptied once
// only.
TEST(IxoRegistration, ServerRestartRegistersTheRunningListenerAgain) {
  vvtest::TempDir dir("ixoreg");
  IxoServerDouble server;
  ASSERT_TRUE(server.Start());
  int port = server.port();
  FakeIxoEngine engine;
  IxoLink link(&engine, FastOptions(WriteSettings(dir, port, "")));
  link.Start();
  ASSERT_TRUE(server.WaitForCount("Ping", 4, seconds(20)));
  engine.AddRow(99);  // a pull that runs across the restart
  server.Stop();
  std::this_thread::sleep_for(milliseconds(400));  // refused for a while
  server.SetNextId(100);
  ASSERT_TRUE(server.Start(port));
  ASSERT_TRUE(vvtest::WaitFor(
      [&] {
        auto p = Rounds(server, "PullStream"), t = Rounds(server, "transfer");
        return p.size() == 2 && t.size() == 2 && p[1].pings.size() >= 2 && t[1].pings.size() >= 2;
      },
      seconds(20)));
  std::set<std::string> newIds;
  for (const char* protocol : {"PullStream", "transfer"}) {
    auto rounds = Rounds(server, protocol);
    EXPECT_EQ(rounds[0].reg.generation, 0);
    EXPECT_EQ(rounds[1].reg.generation, 1);
    int oldPort = ParseRegister(rounds[0].reg.data).commandPort;
    int newPort = ParseRegister(rounds[1].reg.data).commandPort;
    EXPECT_EQ(oldPort, newPort) << protocol;
    EXPECT_TRUE(vvtest::CanConnectLoopback(newPort));
    for (auto& p : rounds[1].pings) EXPECT_EQ(p.data, rounds[1].pings[0].data);
    newIds.insert(rounds[1].pings[0].data);
  }
  EXPECT_EQ(newIds, (std::set<std::string>{"100", "101"}));
  EXPECT_EQ(link.RunningListeners(), 2);
  EXPECT_EQ(engine.DeleteAllCalls(), 1);
  EXPECT_TRUE(engine.HasRow(99));
  link.Stop();
}

// However often the server goes away, each engine keeps one listener: every
// re-registration announces the port that still serves, and descriptors and
// threads stay where they were after the first registration.
TEST(IxoRegistration, RepeatedOutagesKeepOneListenerPerEngine) {
  vvtest::TempDir dir("ixoreg");
  IxoServerDouble server;
  ASSERT_TRUE(server.Start());
  int port = server.port();
  FakeIxoEngine engine;
  IxoLink link(&engine, FastOptions(WriteSettings(dir, port, "")));
  link.Start();
  auto registeredRounds = [&](size_t n) {
    auto p = Rounds(server, "PullStream"), t = Rounds(server, "transfer");
    return p.size() == n && t.size() == n && !p.back().pings.empty() && !t.back().pings.empty();
  };
  ASSERT_TRUE(vvtest::WaitFor([&] { return registeredRounds(1); }, seconds(20)));
  const int fds = vvtest::CountOpenFds();
  const int threads = vvtest::SettledThreadCount();
  const int outages = 8;
  for (int i = 0; i < outages; ++i) {
    server.Stop();
    ASSERT_TRUE(server.Start(port));
    ASSERT_TRUE(vvtest::WaitFor([&] { return registeredRounds(i + 2); }, seconds(20))) << "outage " << i;
  }
  printf("after %d outages: %d listeners, %d descriptors (%d before), %d threads (%d before)\n", outages,
         link.RunningListeners(), vvtest::CountOpenFds(), fds, vvtest::SettledThreadCount(), threads);
  EXPECT_EQ(link.RunningListeners(), 2);
  // The double keeps one connection per engine, as before the outages (a
  // ping's exchange may hold a descriptor for a moment). Checked before the
  // connections below, whose transfer session the stand-in engine keeps.
  EXPECT_TRUE(vvtest::WaitFor([&] { return vvtest::CountOpenFds() <= fds; }, seconds(10)));
  EXPECT_TRUE(vvtest::WaitFor([&] { return vvtest::SettledThreadCount() <= threads; }, seconds(10)));
  for (const char* protocol : {"PullStream", "transfer"}) {
    std::set<int> ports;
    for (auto& round : Rounds(server, protocol)) ports.insert(ParseRegister(round.reg.data).commandPort);
    EXPECT_EQ(ports.size(), 1u) << protocol;
    EXPECT_TRUE(vvtest::CanConnectLoopback(*ports.begin())) << protocol;
  }
  link.Stop();
}

// A failed exchange (in whichever way) leads to a new connection and a new
// registration after the retry wait; a failed registration starts no
// listener, and a registration after a failed ping keeps the listener it
// has.
TEST(IxoRegistration, FailedExchangesRegisterAgain) {
  struct Case {
    const char* command;
    IxoMisbehaviour how;
  } cases[] = {
      {"Register", IxoMisbehaviour::EmptyReply}, {"Register", IxoMisbehaviour::HugeLength},
      {"Register", IxoMisbehaviour::CloseMidFrame}, {"Register", IxoMisbehaviour::Silence},
      {"Ping", IxoMisbehaviour::EmptyReply},     {"Ping", IxoMisbehaviour::Close},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + std::to_string(static_cast<int>(c.how)));
    vvtest::TempDir dir("ixoreg");
    IxoServerDouble server;
    ASSERT_TRUE(server.Start());
    // One failure per engine, whichever engine comes first: registrations
    // are told apart by protocol, pings by the ids of the first round (1, 2).
    if (std::string(c.command) == "Register") {
      server.Misbehave("Register", c.how, 1, "\"PullStream\"");
      server.Misbehave("Register", c.how, 1, "\"transfer\"");
    } else {
      server.Misbehave("Ping", c.how, 1, "1");
      server.Misbehave("Ping", c.how, 1, "2");
    }
    FakeIxoEngine engine;
    IxoLinkOptions o = FastOptions(WriteSettings(dir, server.port(), ""));
    o.commandTimeoutMs = 1500;  // the silent server's case waits this long
    IxoLink link(&engine, o);
    link.Start();
    ASSERT_TRUE(vvtest::WaitFor(
        [&] {
          auto p = Rounds(server, "PullStream"), t = Rounds(server, "transfer");
          return p.size() == 2 && t.size() == 2 && !p[1].pings.empty() && !t[1].pings.empty();
        },
        seconds(30)));
    for (const char* protocol : {"PullStream", "transfer"}) {
      auto rounds = Rounds(server, protocol);
      EXPECT_NE(rounds[0].reg.connection, rounds[1].reg.connection);
      EXPECT_GE(rounds[1].reg.at - (rounds[0].pings.empty() ? rounds[0].reg.at : rounds[0].pings.back().at),
                milliseconds(140));
    }
    // One listener per engine, however the exchanges failed.
    EXPECT_EQ(link.RunningListeners(), 2);
    link.Stop();
  }
}

// The engines keep trying while nobody listens and register once the server
// is there.
TEST(IxoRegistration, RefusedConnectionsAreRetried) {
  vvtest::TempDir dir("ixoreg");
  // A port of the double's own choice (below the ephemeral range, so the
  // engines' connects to it while it is closed cannot meet themselves).
  IxoServerDouble server;
  ASSERT_TRUE(server.Start());
  int port = server.port();
  server.Stop();
  FakeIxoEngine engine;
  IxoLink link(&engine, FastOptions(WriteSettings(dir, port, "")));
  link.Start();
  std::this_thread::sleep_for(milliseconds(500));
  ASSERT_TRUE(server.Start(port));
  EXPECT_TRUE(server.WaitForCount("Ping", 2, seconds(20)));
  EXPECT_EQ(server.Count("Register"), 2);
  link.Stop();
}

// A register reply that is not a number registers with id 0; numbers are
// read as far as they go.
TEST(IxoRegistration, RegisterIdIsReadLikeAtoi) {
  struct Case {
    const char* reply;
    const char* pingData;
  } cases[] = {{"abc", "0"}, {"  42xyz", "42"}, {"99999999999", "2147483647"}};
  for (const Case& c : cases) {
    vvtest::TempDir dir("ixoreg");
    IxoServerDouble server;
    ASSERT_TRUE(server.Start());
    server.SetRegisterReply(c.reply);
    FakeIxoEngine engine;
    IxoLink link(&engine, FastOptions(WriteSettings(dir, server.port(), "")));
    link.Start();
    ASSERT_TRUE(server.WaitForCount("Ping", 2, seconds(20)));
    for (auto& p : server.RequestsOf("Ping")) EXPECT_EQ(p.data, c.pingData) << c.reply;
    link.Stop();
  }
}

// Without a host or a port neither engine connects, and the operator is
// told once per engine.
TEST(IxoRegistration, MissingSettingsAreReported) {
  IxoServerDouble server;
  ASSERT_TRUE(server.Start());
  std::string port = std::to_string(server.port());
  const char* bodies[] = {
      nullptr,  // no settings file at all
      "[IXO_SETUP]\nPORT=%P\n",
      "[IXO_SETUP]\nHOST=\nPORT=%P\n",
      "[IXO_SETUP]\nHOST=127.0.0.1\n",
      "[IXO_SETUP]\nHOST=127.0.0.1\nPORT=abc\n",
      "[OTHER]\nHOST=127.0.0.1\nPORT=%P\n",
  };
  for (const char* body : bodies) {
    vvtest::TempDir dir("ixoreg");
    std::string ini = dir.file("system.ini");
    if (body) {
      std::string text = body;
      size_t at = text.find("%P");
      if (at != std::string::npos) text.replace(at, 2, port);
      std::ofstream(ini) << text;
    }
    NoticeCollector notices;
    FakeIxoEngine engine;
    IxoLink link(&engine, FastOptions(ini));
    link.Start();
    ASSERT_TRUE(vvtest::WaitFor([&] { return notices.Texts().size() == 2; }, seconds(10))) << (body ? body : "none");
    for (auto& t : notices.Texts()) EXPECT_EQ(t, "请设置IXO的信息后，再重启程序");
    link.Stop();
  }
  EXPECT_EQ(server.Accepted(), 0);
}

// The ports announced in "Register" are the ones served: the server's
// StartPull and StopPull go to the pull engine's port, its transcoding
// connections to the transfer engine's.
TEST(IxoRegistration, AnnouncedPortsServeTheServer) {
  vvtest::TempDir dir("ixoreg");
  IxoServerDouble server;
  ASSERT_TRUE(server.Start());
  FakeIxoEngine engine;
  engine.SetPullState(2, "");
  IxoLink link(&engine, FastOptions(WriteSettings(dir, server.port(), "")));
  link.Start();
  ASSERT_TRUE(vvtest::WaitFor(
      [&] { return Rounds(server, "PullStream").size() == 1 && Rounds(server, "transfer").size() == 1; },
      seconds(20)));
  int pullPort = ParseRegister(Rounds(server, "PullStream")[0].reg.data).commandPort;
  int transferPort = ParseRegister(Rounds(server, "transfer")[0].reg.data).commandPort;
  std::string reply;
  ASSERT_TRUE(vvtest::WaitFor(
      [&] { return !(reply = IxoServerDouble::Command(pullPort, "StartPull", "{\"url\":\"udp://a\"}")).empty(); },
      seconds(20)));
  auto starts = engine.Starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(reply, "{\"status\":\"ok\",\"port\":" + std::to_string(starts[0].row.listenPort) +
                       ", \"pullStreamId\": " + std::to_string(starts[0].id) + ", \"msg\": \"\"}");
  EXPECT_NE(starts[0].row.listenPort, pullPort);
  EXPECT_NE(starts[0].row.listenPort, transferPort);
  EXPECT_EQ(IxoServerDouble::Command(pullPort, "StopPull", std::to_string(starts[0].id)), "ok");
  EXPECT_TRUE(vvtest::CanConnectLoopback(transferPort));
  EXPECT_TRUE(vvtest::WaitFor([&] { return engine.Sessions().size() == 1; }, seconds(10)));
  EXPECT_EQ(engine.DeleteAllCalls(), 1);
  link.Stop();
}

// With no free port in its range an engine announces nothing (never port
// 0) and tries again; once ports are free it registers.
TEST(IxoRegistration, NoFreePortMeansNoRegistration) {
  vvtest::TempDir dir("ixoreg");
  IxoServerDouble server;
  ASSERT_TRUE(server.Start());
  std::vector<std::pair<int, int>> taken;  // socket, port
  // Ranges no other test uses: ctest runs them side by side, and a test
  // that searches its own ports in a range held here would find none.
  for (int first : {15000, 17000}) {
    int port = 0;
    for (int fd; (fd = ReserveListeningSocket(first, "127.0.0.1", &port)) >= 0;) taken.push_back({fd, port});
  }
  FakeIxoEngine engine;
  IxoLinkOptions o = FastOptions(WriteSettings(dir, server.port(), ""));
  o.pullFirstPort = 15000;
  o.transferFirstPort = 17000;
  IxoLink link(&engine, o);
  link.Start();
  ASSERT_TRUE(vvtest::WaitFor([&] { return server.Accepted() >= 4; }, seconds(20)));  // connected, retried
  EXPECT_EQ(server.Count("Register"), 0);
  for (auto& [fd, port] : taken) {
    close(fd);
    ReleasePort(port);
  }
  ASSERT_TRUE(server.WaitForCount("Ping", 2, seconds(20)));
  for (const char* protocol : {"PullStream", "transfer"}) {
    auto rounds = Rounds(server, protocol);
    ASSERT_EQ(rounds.size(), 1u);
    int port = ParseRegister(rounds[0].reg.data).commandPort;
    int first = std::string(protocol) == "PullStream" ? 15000 : 17000;
    EXPECT_GE(port, first);
    EXPECT_LT(port, first + 1000);
  }
  link.Stop();
}

// The operator follows the registrations in the log: refused connects, the
// ports found, the ids given and every failed exchange, in the program's
// own words.
TEST(IxoRegistration, LogLines) {
  vvtest::TempDir dir("ixoreg");
  std::string oldLog = GetLogFileName();
  int oldLevel = GetLogLevel();
  SetLogFileName(dir.file("v.log"));
  SetLogLevel(LOG_ALL);
  IxoServerDouble server;
  ASSERT_TRUE(server.Start());
  int port = server.port();
  server.Stop();
  server.SetNextId(40);
  server.Misbehave("Register", IxoMisbehaviour::EmptyReply, 1, "\"PullStream\"");
  server.Misbehave("Register", IxoMisbehaviour::EmptyReply, 1, "\"transfer\"");
  // The first ping of each engine fails, whichever ids the first successful
  // registrations were given.
  for (int id = 40; id < 44; ++id) server.Misbehave("Ping", IxoMisbehaviour::EmptyReply, 1, std::to_string(id));
  FakeIxoEngine engine;
  IxoLink link(&engine, FastOptions(WriteSettings(dir, port, "")));
  link.Start();
  auto logText = [&] { return vvtest::ReadFileText(dir.file("v.log")); };
  std::string refused = "Can't connect IXO server 127.0.0.1:" + std::to_string(port) + ", try again";
  ASSERT_TRUE(vvtest::WaitFor([&] { return logText().find(refused) != std::string::npos; }, seconds(20)));
  ASSERT_TRUE(server.Start(port));
  // Register fails once, then a registration whose first ping fails, then
  // one that keeps pinging.
  ASSERT_TRUE(vvtest::WaitFor(
      [&] {
        auto p = Rounds(server, "PullStream"), t = Rounds(server, "transfer");
        return p.size() >= 3 && t.size() >= 3 && p.back().pings.size() >= 2 && t.back().pings.size() >= 2;
      },
      seconds(30)))
      << [&] {
           std::string all;
           for (auto& r : server.Requests()) all += std::to_string(r.connection) + " " + r.command + " " + r.data + "\n";
           return all;
         }();
  link.Stop();
  SetLogFileName(oldLog);
  SetLogLevel(oldLevel);
  std::string text = logText();
  std::vector<std::string> expected = {"[INFO]: " + refused + "\n", "[INFO]: Send Register error\n",
                                       "[INFO]: Send Ping error\n"};
  for (const char* protocol : {"PullStream", "transfer"}) {
    bool pull = std::string(protocol) == "PullStream";
    for (const Round& r : Rounds(server, protocol)) {
      int p = ParseRegister(r.reg.data).commandPort;
      expected.push_back(std::string("[INFO]: ") +
                         (pull ? "Start rtsp pull engine listen port at " : "Start transfer engine listen port at ") +
                         std::to_string(p) + "\n");
      if (!r.pings.empty())
        expected.push_back(std::string("[INFO]: ") +
                           (pull ? "register  rtsp pull engine successfully. the register id is "
                                 : "register  transfer engine successfully. the register id is ") +
                           r.pings[0].data + "\n");
    }
  }
  for (const std::string& line : expected) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}
