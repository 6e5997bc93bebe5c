#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/ADODataBase.h"
#include "core/DatabaseManager.h"
#include "core/Log.h"
#include "ixolink/IxoLink.h"
#include "ixolink/ManagerIxoEngine.h"
#include "media/LiveChannelManager.h"
#include "media/RelayLink.h"
#include "tests/ixolink/MediaRecords.h"
#include "tests/tools/IxoServerDouble.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono;
using vvtest::IxoServerDouble;

namespace {

Json::Value ParseJson(const std::string& text) {
  Json::Value v;
  Json::Reader reader;
  reader.parse(text, v);
  return v;
}

// A fresh database, the program's own managers behind the real engine, and
// every listener on the loopback address.
class RealEngine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new vvtest::TempDir("ixoe2e");
    media = dir->file("it's a clip.flv");  // the quote must reach the stored row intact
    auto r = vvtest::Run("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                         "sine=frequency=440:sample_rate=44100 -t 30 -c:v libx264 -preset ultrafast -g 25 "
                         "-pix_fmt yuv420p -c:a aac -b:a 64k " + vvtest::ShellQuote(media),
                         true);
    ASSERT_EQ(r.status, 0) << r.output;
    std::string dbFile = dir->file("velvanet.db");
    r = vvtest::Run("sqlite3 " + vvtest::ShellQuote(dbFile) + " < " +
                        vvtest::ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_sqlite.sql"),
                    true);
    ASSERT_EQ(r.status, 0) << r.output;
    db = new CADODataBase();
    ASSERT_TRUE(db->OpenAccess(dbFile));
    CDatabaseManager::Instance().SetDatabase(db);
    SetRelayBindAddress("127.0.0.1");
  }

  void SetUp() override {
    IxoLinkOptions o;
    o.listenAddress = "127.0.0.1";
    // Away from the engine ports other tests register meanwhile, and one
    // range per test: ctest runs the tests of this fixture side by side, and a
    // port found free in one process may be bound by the other before its
    // relay listens.
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    o.relayFirstPort = test == "ManyPullsLeaveNothingBehind" ? 19000 : 18000;
    link = std::make_unique<IxoLink>(&engine, o);
    pullPort = vvtest::FreePort();
    pullThread = std::thread([this] { link->PullEngineCommandServer(pullPort); });
    ASSERT_TRUE(vvtest::WaitFor(
        [this] {
          int a = ixotest::ConnectTo(pullPort, 100);
          if (a >= 0) close(a);
          return a >= 0;
        },
        seconds(20)));
  }

  void TearDown() override {
    link->Stop();
    pullThread.join();
  }

  std::string Command(const std::string& cmd, const std::string& data) {
    return IxoServerDouble::Command(pullPort, cmd, data, nullptr, 15000);
  }

  std::string StartBody() {
    Json::Value body(Json::objectValue);
    body["url"] = media;
    Json::FastWriter w;
    return w.write(body);
  }

  static vvtest::TempDir* dir;
  static std::string media;
  static CADODataBase* db;
  ManagerIxoEngine engine;
  std::unique_ptr<IxoLink> link;
  int pullPort = 0;
  std::thread pullThread;
};

vvtest::TempDir* RealEngine::dir = nullptr;
std::string RealEngine::media;
CADODataBase* RealEngine::db = nullptr;

}  // namespace

// A pull of a file serves, on the port the reply names, records that make
// a playable FLV; StopPull ends the relay and drops the row.
TEST_F(RealEngine, StartPullServesARelayThatRebuildsIntoFlv) {
  std::string reply = Command("StartPull", StartBody());
  Json::Value v = ParseJson(reply);
  ASSERT_TRUE(v.isObject()) << reply;
  int port = v["port"].asInt();
  int id = v["pullStreamId"].asInt();
  ASSERT_GT(port, 0) << reply;
  ASSERT_GT(id, 0) << reply;
  // Nobody has connected yet, so the relay reports that it has no stream.
  EXPECT_EQ(reply, "{\"status\":\"error\",\"port\":" + std::to_string(port) + ", \"pullStreamId\": " +
                       std::to_string(id) + ", \"msg\": \"send IXO stream error because haven't stream\"}");
  IxoPullInfo row;
  ASSERT_TRUE(CDatabaseManager::Instance().GetIxoPull(row, id));
  EXPECT_EQ(row.url, media);
  EXPECT_EQ(row.listenPort, port);

  int fd = -1;
  ASSERT_TRUE(vvtest::WaitFor([&] { return (fd = ixotest::ConnectTo(port, 5000)) >= 0; }, seconds(20)));
  std::vector<ixotest::Record> records;
  int video = 0;
  auto end = steady_clock::now() + seconds(60);
  ixotest::Record r;
  while (video < 60 && steady_clock::now() < end && ixotest::ReadRecord(fd, r)) {
    video += r.kind == 1;
    records.push_back(r);
  }
  close(fd);
  ASSERT_GE(video, 60);
  std::string flv = dir->file("relay.flv");
  std::ofstream(flv, std::ios::binary) << ixotest::FlvOf(records);
  ixotest::Probe p = ixotest::ProbeFile(flv);
  EXPECT_EQ(p.codecs, "aac,h264");
  EXPECT_EQ(p.width, 320);
  EXPECT_EQ(p.height, 240);

  EXPECT_EQ(Command("StopPull", std::to_string(id)), "ok");
  EXPECT_FALSE(CDatabaseManager::Instance().GetIxoPull(row, id));
  EXPECT_TRUE(vvtest::WaitFor([&] { return engine.FindPull(id).state == 0; }, seconds(20)));
  EXPECT_TRUE(vvtest::WaitFor(
      [&] {
        int c = ixotest::ConnectTo(port, 200);
        if (c >= 0) close(c);
        return c < 0;
      },
      seconds(20)));
}

// Concurrent pulls of one source through the real engine get ports and ids
// of their own, and many start/stop pairs leave no descriptor, thread or
// source behind.
TEST_F(RealEngine, ManyPullsLeaveNothingBehind) {
  std::string body = StartBody();
  int level = GetLogLevel();
  SetLogLevel(LOG_WARN);
  std::vector<std::string> replies(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { replies[i] = Command("StartPull", body); });
  for (auto& t : threads) t.join();
  std::set<int> ports, ids;
  for (auto& rep : replies) {
    Json::Value v = ParseJson(rep);
    ports.insert(v["port"].asInt());
    ids.insert(v["pullStreamId"].asInt());
  }
  EXPECT_EQ(ports.size(), 8u);
  EXPECT_EQ(ids.size(), 8u);
  EXPECT_EQ(ports.count(0), 0u);
  for (int id : ids) EXPECT_EQ(Command("StopPull", std::to_string(id)), "ok");
  ASSERT_TRUE(vvtest::WaitFor([&] { return CLiveChannelManager::Instance()->SourceCount() == 0; }, seconds(30)));

  int fds = vvtest::CountOpenFds();
  int threadsBefore = vvtest::CountThreads();
  for (int i = 0; i < 100; ++i) {  // each pair opens and closes a real input
    Json::Value v = ParseJson(Command("StartPull", body));
    int id = v["pullStreamId"].asInt();
    ASSERT_GT(id, 0);
    ASSERT_EQ(Command("StopPull", std::to_string(id)), "ok");
  }
  EXPECT_TRUE(vvtest::WaitFor([&] { return CLiveChannelManager::Instance()->SourceCount() == 0; }, seconds(30)));
  EXPECT_TRUE(vvtest::WaitFor([&] { return vvtest::CountThreads() <= threadsBefore; }, seconds(30)));
  EXPECT_TRUE(vvtest::WaitFor([&] { return vvtest::CountOpenFds() <= fds; }, seconds(30)));
  SetLogLevel(level);
}
