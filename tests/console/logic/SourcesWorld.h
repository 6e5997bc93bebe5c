#pragma once
// Shared fixture of the source tree and task status tests: one SQLite
// database for the test process (the database manager and the live-channel
// manager are process-wide), a prompt that records what it was asked, an
// ordered worker whose reports the test delivers itself, and a small local
// live server for "ListLiveInfos".
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/logic/OrderedWorker.h"
#include "console/logic/Prompt.h"
#include "core/ADODataBase.h"
#include "core/DatabaseManager.h"
#include "media/LiveChannelManager.h"
#include "media/RecordClock.h"
#include "tests/tools/TestUtil.h"

namespace srctest {

using namespace std::chrono_literals;

struct World {
  vvtest::TempDir dir{"vv-sources"};
  CADODataBase db;
  bool ready = false;
  std::string input;  // an FLV file, H.264 + AAC, 4 s

  World() {
    std::string file = dir.file("velvanet.db");
    vvtest::CommandResult r = vvtest::Run("sqlite3 " + vvtest::ShellQuote(file) + " < " +
                                              vvtest::ShellQuote(std::string(VV_SOURCE_DIR) +
                                                                 "/resources/schema_sqlite.sql"),
                                          true);
    if (r.status != 0 || !db.OpenAccess(file)) return;
    CDatabaseManager::Instance().SetDatabase(&db);
    input = dir.file("in.flv");
    r = vvtest::Run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                    "sine=frequency=440:sample_rate=44100 -t 4 -c:v libx264 -preset ultrafast -g 25 "
                    "-pix_fmt yuv420p -c:a aac -b:a 64k " +
                        vvtest::ShellQuote(input),
                    true);
    ready = r.status == 0;
  }
};

inline World& TheWorld() {
  static World* world = new World();  // lives as long as the managers
  return *world;
}

inline CDatabaseManager& Db() { return CDatabaseManager::Instance(); }
inline CLiveChannelManager& Engine() { return *CLiveChannelManager::Instance(); }

// Every id of the six source and task tables.
inline std::vector<int> AllIds() {
  std::vector<int> ids;
  for (const char* table :
       {"DeviceSource_info", "NetSource_info", "FileSource_info", "SubStream_info", "forward_task", "record_task"}) {
    CADORecordset rs(&TheWorld().db);
    if (!rs.Open(std::string("select id from ") + table, CADORecordset::openQuery)) continue;
    if (rs.GetRecordCount() == 0) continue;
    rs.MoveFirst();
    while (!rs.IsEof()) {
      int id = 0;
      rs.GetFieldValueInt("id", id);
      ids.push_back(id);
      rs.MoveNext();
    }
  }
  return ids;
}

// What a restart leaves: no request pending, nothing running, nothing on
// the schedule, empty live maps. extra: ids whose rows are already gone.
// The schedule goes first, so that no pass starts a task again meanwhile.
inline void ForgetEngineState(const std::vector<int>& extra = {}) {
  std::vector<int> ids = AllIds();
  ids.insert(ids.end(), extra.begin(), extra.end());
  for (int id : ids) {
    Engine().RemoveSchedule(static_cast<uint32_t>(id));
    Engine().RemoveRequest(static_cast<uint32_t>(id));
  }
  for (int id : ids) {
    for (uint32_t kind : {TASK_FORWARD, TASK_RECORD, TASK_LIVE}) Engine().StopTask(static_cast<uint32_t>(id), kind, 0);
    Db().RemoveLiveItem(id);
  }
}

// Empties the tables (ids keep rising, so no id comes back in a later test).
inline void ClearTables() {
  for (const char* table : {"DeviceSource_info", "NetSource_info", "FileSource_info", "SubStream_info",
                            "forward_task", "record_task", "IXOPull"}) {
    TheWorld().db.Execute(std::string("delete from ") + table);
  }
}

class FakePrompt : public IPrompt {
 public:
  void Message(const std::string& text) override { log.push_back("msg:" + text); }
  bool Ask(const std::string& text) override {
    log.push_back("ask:" + text);
    if (answers.empty()) return true;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> log;
  std::deque<bool> answers;  // Yes when empty
};

// Reports of the worker, delivered when the test pumps (the test thread is
// the window thread).
class Reports {
 public:
  COrderedWorker::Poster Poster() {
    return [this](COrderedWorker::Task t) {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(t));
    };
  }
  void Pump() {
    for (;;) {
      COrderedWorker::Task t;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) return;
        t = std::move(queue_.front());
        queue_.pop_front();
      }
      t();
    }
  }

 private:
  std::mutex mutex_;
  std::deque<COrderedWorker::Task> queue_;
};

// A local live server on an ephemeral port: answers each connection with
// the reply the test set (raw bytes after the request's two frames), and
// keeps what it received.
class FakeLiveServer {
 public:
  FakeLiveServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(listener_, 8);
    thread_ = std::thread([this] { Loop(); });
  }
  ~FakeLiveServer() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }

  // The reply: a framed JSON text, or raw bytes as they are.
  static std::string Framed(const std::string& text) {
    uint32_t n = htonl(static_cast<uint32_t>(text.size()));
    return std::string(reinterpret_cast<const char*>(&n), 4) + text;
  }
  void SetReply(const std::string& raw, int pauseBetweenBytesMs = 0, bool keepOpen = false) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_ = raw;
    pauseMs_ = pauseBetweenBytesMs;
    keepOpen_ = keepOpen;
  }
  std::string Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  int Connections() const { return connections_.load(); }

 private:
  void Loop() {
    while (!stop_) {
      int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      ++connections_;
      std::string raw;
      int pause;
      bool keep;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        raw = reply_;
        pause = pauseMs_;
        keep = keepOpen_;
      }
      // Two frames: the command and the body.
      std::string got;
      timeval tv{2, 0};
      ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      auto need = [&](size_t n) {
        char buf[4096];
        while (got.size() < n) {
          ssize_t r = ::recv(c, buf, sizeof buf, 0);
          if (r <= 0) return false;
          got.append(buf, static_cast<size_t>(r));
        }
        return true;
      };
      auto frameLen = [&](size_t at) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(got.data() + at);
        return (size_t(p[0]) << 24) | (size_t(p[1]) << 16) | (size_t(p[2]) << 8) | p[3];
      };
      if (need(4) && need(4 + frameLen(0) + 4)) {
        size_t second = 4 + frameLen(0);
        need(second + 4 + frameLen(second));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_ = got;
      }
      if (pause > 0) {
        for (char ch : raw) {
          if (stop_ || ::send(c, &ch, 1, MSG_NOSIGNAL) != 1) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        }
      } else if (!raw.empty()) {
        ::send(c, raw.data(), raw.size(), MSG_NOSIGNAL);
      }
      if (keep) {
        char b;
        while (!stop_ && ::recv(c, &b, 1, 0) > 0) {
        }
      }
      ::close(c);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::string reply_;
  int pauseMs_ = 0;
  bool keepOpen_ = false;
  std::string received_;
  std::thread thread_;
};

// Row helpers.
inline int AddFile(const std::string& alias, const std::string& url, int status = 0) {
  UrlSourceInfo s;
  s.alias = alias;
  s.url = url;
  int id = 0;
  EXPECT_TRUE(Db().InsertFileSource(s, id));
  if (status != 0) {
    LiveStatusInfo l;
    l.id = id;
    l.type = LIVE_TYPE_FILE;
    l.status = status;
    l.live_url = "rtmp://127.0.0.1:1/none/none";
    EXPECT_TRUE(Db().UpdateLiveStatus(l));
  }
  return id;
}

inline int AddSub(const std::string& alias, const std::string& url, int status = 0) {
  SubStreamInfo s;
  s.alias = alias;
  s.url = url;
  s.width = 320;
  s.height = 240;
  s.useVideo = true;
  int id = 0;
  EXPECT_TRUE(Db().InsertSubStream(s, id));
  if (status != 0) {
    LiveStatusInfo l;
    l.id = id;
    l.type = LIVE_TYPE_SUBSTREAM;
    l.status = status;
    EXPECT_TRUE(Db().UpdateLiveStatus(l));
  }
  return id;
}

inline int AddForward(int liveId, LiveSourceType type, const std::string& url, int status = 0) {
  ForwardTaskInfo t;
  t.live_id = liveId;
  t.forward_url = url;
  t.status = status;
  int id = 0;
  EXPECT_TRUE(Db().InsertForwardTask(t, id, type));
  return id;
}

inline int AddRecord(int liveId, LiveSourceType type, const std::string& folder, int recordType = 1,
                     int status = 0) {
  RecordTaskInfo t;
  t.name = "rec";
  t.live_id = liveId;
  t.fileType = 1;
  t.recordType = recordType;
  t.saveFolder = folder;
  t.startTime = "00:00:00";  // a window the schedule thread will not meet
  t.endTime = "00:00:02";
  t.days_of_week = "0;1;2;3;4;5;6";
  t.fileMod = 1;
  t.direMod = 1;
  t.status = status;
  int id = 0;
  EXPECT_TRUE(Db().InsertRecordTask(t, id, type));
  return id;
}

// A moment inside the record window of AddRecord's tasks.
inline LocalTime InsideWindow() { return RecordClock::Make(2030, 1, 7, 0, 0, 1); }

inline int ForwardStatus(int id) {
  ForwardTaskInfo t;
  return Db().GetForwardTask(t, id) ? t.status : -1;
}

// The engine's schedule thread reads the scheduled record tasks once, when
// it starts. Were that read to fall after a test's own rows were written,
// the thread would take the test's scheduled tasks into its schedule and
// stop them the next second, outside their window. So the engine starts
// here, over a marker task whose window is always open: once a pass of the
// thread has marked it running, its read is over. The marker is then
// withdrawn, and whatever its start request began is stopped.
inline bool ScheduleLoaded() {
  int live = AddFile("schedule marker", "/nowhere/marker.flv");
  RecordTaskInfo t;
  t.live_id = live;
  t.recordType = 0;
  t.startTime = "00:00:00";
  t.endTime = "23:59:59";
  t.days_of_week = "0;1;2;3;4;5;6";
  int task = 0;
  if (!Db().InsertRecordTask(t, task, LIVE_TYPE_FILE)) return false;
  // Handed over as well, for an engine whose thread read the tables before:
  // its passes come only after its read, so the mark still tells.
  auto* entry = new RecordTaskInfo(t);
  entry->id = task;
  Engine().AddSchedule(static_cast<uint32_t>(task), entry);
  bool marked = vvtest::WaitFor(
      [&] {
        RecordTaskInfo r;
        return Db().GetRecordTask(r, task) && r.status == 1;
      },
      30s);
  ForgetEngineState();
  ClearTables();
  return marked;
}

// Base fixture: a clean database and engine before and after every test.
class SourcesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TheWorld().ready);
    static const bool scheduleLoaded = ScheduleLoaded();
    ASSERT_TRUE(scheduleLoaded);
    ForgetEngineState();
    ClearTables();
  }
  void TearDown() override {
    worker.WaitIdle();
    reports.Pump();
    ForgetEngineState(gone);
    ClearTables();
  }
  // Runs every queued job and delivers its report.
  void Settle() {
    worker.WaitIdle();
    reports.Pump();
  }

  Reports reports;
  COrderedWorker worker{reports.Poster()};
  FakePrompt prompt;
  std::vector<int> gone;  // ids deleted by the test
};

}  // namespace srctest
