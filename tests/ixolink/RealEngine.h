#pragma once
// The program's own engine behind the Ixo link, as the Ixo media server
// meets it: a fresh SQLite database, the database and live-channel managers,
// the pull-command and transfer listeners on 127.0.0.1, and helpers to make
// media with ffmpeg, read relay records and check what they rebuild into
// with ffprobe and an ffmpeg decode pass. Header-only.
#include <gtest/gtest.h>
#include <json/json.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/ADODataBase.h"
#include "core/DatabaseManager.h"
#include "ixolink/IxoLink.h"
#include "ixolink/ManagerIxoEngine.h"
#include "media/LiveChannelManager.h"
#include "media/RelayLink.h"
#include "tests/ixolink/MediaRecords.h"
#include "tests/tools/IxoServerDouble.h"
#include "tests/tools/TestUtil.h"

namespace ixotest {

inline Json::Value ParseJson(const std::string& text) {
  Json::Value v;
  Json::Reader reader;
  reader.parse(text, v);
  return v;
}

// Resident memory of this process in kB (VmRSS of /proc/self/status).
inline long ResidentKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return atol(line.c_str() + 6);
  return -1;
}

// What ffprobe and an ffmpeg decode pass say of a file.
struct MediaCheck {
  int width = 0, height = 0;
  int sampleRate = 0;
  int videoFrames = 0;       // pictures ffprobe counted
  double duration = 0;       // of the container, seconds
  std::string decodeErrors;  // everything `ffmpeg -v error` printed
};

inline MediaCheck CheckMedia(const std::string& path) {
  MediaCheck m;
  auto r = vvtest::Run("ffprobe -v error -count_frames -show_entries "
                       "stream=codec_type,width,height,sample_rate,nb_read_frames:format=duration -of json " +
                       vvtest::ShellQuote(path));
  Json::Value v = ParseJson(r.output);
  for (const auto& s : v["streams"]) {
    if (s["codec_type"].asString() == "video") {
      m.width = s["width"].asInt();
      m.height = s["height"].asInt();
      m.videoFrames = atoi(s["nb_read_frames"].asString().c_str());
    } else if (s["codec_type"].asString() == "audio") {
      m.sampleRate = atoi(s["sample_rate"].asString().c_str());
    }
  }
  m.duration = atof(v["format"]["duration"].asString().c_str());
  m.decodeErrors = vvtest::Run("ffmpeg -nostdin -v error -i " + vvtest::ShellQuote(path) + " -f null - 2>&1").output;
  return m;
}

// Video records carrying pictures (not the sequence header).
inline bool IsPicture(const Record& r) { return r.kind == 1 && r.body.size() > 1 && r.body[1] == 1; }
inline bool IsKeyPicture(const Record& r) { return IsPicture(r) && (uint8_t(r.body[0]) >> 4) == 1; }

class RealEngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new vvtest::TempDir("ixohard");
    std::string dbFile = dir->file("velvanet.db");
    auto r = vvtest::Run("sqlite3 " + vvtest::ShellQuote(dbFile) + " < " +
                             vvtest::ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_sqlite.sql"),
                         true);
    ASSERT_EQ(r.status, 0) << r.output;
    db = new CADODataBase();
    ASSERT_TRUE(db->OpenAccess(dbFile));
    CDatabaseManager::Instance().SetDatabase(db);
    SetRelayBindAddress("127.0.0.1");
  }

  static void TearDownTestSuite() {
    delete dir;
    dir = nullptr;
  }

  // Starts the link with both listeners; relayFirstPort keeps each test's
  // relay ports apart from those of tests running beside it.
  void StartLink(int relayFirstPort, IxoLinkOptions o = IxoLinkOptions()) {
    o.listenAddress = "127.0.0.1";
    o.relayFirstPort = relayFirstPort;
    link = std::make_unique<IxoLink>(&engine, o);
    pullPort = vvtest::FreePort();
    transferPort = vvtest::FreePort();
    pullThread = std::thread([this] { link->PullEngineCommandServer(pullPort); });
    transferThread = std::thread([this] { link->TransferEngineCommandServer(transferPort); });
    // Probing by binding could make the listener's own bind fail, and by
    // connecting would leave a connection of the test's own to it.
    for (int port : {pullPort, transferPort})
      ASSERT_TRUE(vvtest::WaitFor([port] { return vvtest::IsListening(port); }, std::chrono::seconds(20)));
  }

  void TearDown() override {
    if (link) link->Stop();
    if (pullThread.joinable()) pullThread.join();
    if (transferThread.joinable()) transferThread.join();
  }

  std::string Command(const std::string& cmd, const std::string& data, bool* replied = nullptr) {
    return vvtest::IxoServerDouble::Command(pullPort, cmd, data, replied, 30000);
  }

  // A media file made by ffmpeg from its test sources; args go between the
  // inputs and the output.
  static std::string MakeMedia(const std::string& name, const std::string& video, double seconds,
                               const std::string& args) {
    std::string path = dir->file(name);
    auto r = vvtest::Run("ffmpeg -nostdin -v error -y -f lavfi -i " + video +
                             " -f lavfi -i sine=frequency=440:sample_rate=44100 -ac 2 -t " + std::to_string(seconds) +
                             " " + args + " " + vvtest::ShellQuote(path),
                         true);
    EXPECT_EQ(r.status, 0) << r.output;
    return path;
  }

  // StartPull of a url with extra keys of the body; gives the relay port and
  // pull id (0 when the reply had none).
  void StartPull(const std::string& url, int& port, int& id, const Json::Value& extra = Json::Value()) {
    Json::Value body(Json::objectValue);
    body["url"] = url;
    if (extra.isObject())
      for (const auto& key : extra.getMemberNames()) body[key] = extra[key];
    Json::FastWriter w;
    std::string reply = Command("StartPull", w.write(body));
    Json::Value v = ParseJson(reply);
    port = v["port"].asInt();
    id = v["pullStreamId"].asInt();
  }

  // Reads records until done() holds, the peer ends or the time is up.
  static std::vector<Record> ReadRecords(int fd, const std::function<bool(const std::vector<Record>&)>& done,
                                         std::chrono::seconds limit) {
    std::vector<Record> records;
    auto end = std::chrono::steady_clock::now() + limit;
    Record r;
    while (!done(records) && std::chrono::steady_clock::now() < end && ReadRecord(fd, r)) records.push_back(r);
    return records;
  }

  static std::string WriteFlv(const std::string& name, const std::vector<Record>& records) {
    std::string path = dir->file(name);
    std::ofstream(path, std::ios::binary) << FlvOf(records);
    return path;
  }

  static vvtest::TempDir* dir;
  static CADODataBase* db;
  ManagerIxoEngine engine;
  std::unique_ptr<IxoLink> link;
  int pullPort = 0;
  int transferPort = 0;
  std::thread pullThread;
  std::thread transferThread;
};

inline vvtest::TempDir* RealEngineTest::dir = nullptr;
inline CADODataBase* RealEngineTest::db = nullptr;

}  // namespace ixotest
