// The live-channel manager against real peers: file inputs made by ffmpeg,
// record files read back by ffprobe, a relay client, the database on SQLite.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "core/ADODataBase.h"
#include "core/DatabaseManager.h"
#include "core/FileUtil.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "media/LiveChannelManager.h"
#include "media/RecordClock.h"
#include "media/RelayLink.h"
#include "media/StreamChannel.h"
#include "media/TaskStatus.h"
#include "tests/media/RecordMedia.h"
#include "tests/media/RelayClient.h"
#include "tests/tools/NginxRtmp.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono_literals;
using vvtest::ShellQuote;
using vvtest::TempDir;
using vvtest::WaitFor;

namespace {

// One database and one set of input files for the whole suite: the
// database manager and the live-channel manager are process-wide.
struct World {
  TempDir dir{"vv-manager"};
  CADODataBase db;
  bool ready = false;
  std::vector<std::string> inputs;  // FLV files, H.264 + AAC, 4 s each

  World() {
    std::string file = dir.file("velvanet.db");
    vvtest::CommandResult r = vvtest::Run("sqlite3 " + ShellQuote(file) + " < " +
                                          ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_sqlite.sql"),
                                          true);
    if (r.status != 0 || !db.OpenAccess(file)) return;
    CDatabaseManager::Instance().SetDatabase(&db);
    for (int i = 0; i < 3; ++i) {
      std::string in = dir.file("in" + std::to_string(i) + ".flv");
      r = vvtest::Run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                      "sine=frequency=440:sample_rate=44100 -t 4 -c:v libx264 -preset ultrafast -g 25 "
                      "-pix_fmt yuv420p -c:a aac -b:a 64k " +
                          ShellQuote(in),
                      true);
      if (r.status != 0) return;
      inputs.push_back(in);
    }
    SetRelayBindAddress("127.0.0.1");
    ready = true;
  }
};

World& TheWorld() {
  static World* world = new World();  // lives until the process ends, like the managers
  return *world;
}

CLiveChannelManager& Manager() { return *CLiveChannelManager::Instance(); }

int AddFileSource(const std::string& path) {
  UrlSourceInfo s;
  s.url = path;
  s.alias = "file";
  int id = 0;
  EXPECT_TRUE(CDatabaseManager::Instance().InsertFileSource(s, id));
  return id;
}

int AddRecordTask(int liveId, const std::string& folder, int fileType, int fileMod = 1, int recordType = 1,
                  const std::string& start = "", const std::string& end = "", const std::string& days = "") {
  RecordTaskInfo t;
  t.name = "rec";
  t.live_id = liveId;
  t.fileType = fileType;
  t.recordType = recordType;
  t.saveFolder = folder;
  t.startTime = start;
  t.endTime = end;
  t.days_of_week = days;
  t.fileMod = fileMod;
  t.direMod = 1;
  int id = 0;
  EXPECT_TRUE(CDatabaseManager::Instance().InsertRecordTask(t, id, LIVE_TYPE_FILE));
  return id;
}

int AddPull(const std::string& url, int port) {
  IxoPullInfo p;
  p.url = url;
  p.listenPort = port;
  p.aChannel = 2;
  int id = 0;
  EXPECT_TRUE(CDatabaseManager::Instance().InsertIxoPull(p, id));
  return id;
}

void Post(int id, uint32_t kind, bool start) {
  Manager().PostRequest(new TaskRequest(static_cast<uint32_t>(id), kind, start ? 1 : 0));
}

int StateOf(int id, uint32_t kind) { return Manager().FindItem(static_cast<uint32_t>(id), kind).state; }

bool WaitState(int id, uint32_t kind, bool running, std::chrono::milliseconds timeout = 8s) {
  return WaitFor([&] { return (StateOf(id, kind) != 0) == running; }, timeout, 20ms);
}

class ManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TheWorld().ready);
    Manager();
    ASSERT_TRUE(WaitFor([] { return Manager().SourceCount() == 0; }, 10s));
  }
};

}  // namespace

// A forward task and a live item published through nginx-rtmp: what nginx
// records reads back as H.264 and AAC and decodes cleanly; FindItem reports
// the forward task's state and never the live item's.
TEST_F(ManagerTest, ForwardAndLiveItemReachNginx) {
  ASSERT_TRUE(vvtest::NginxRtmp::Available());
  World& w = TheWorld();
  vvtest::NginxRtmp::Options options;
  options.record = true;
  vvtest::NginxRtmp nginx(options);
  ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
  int live = AddFileSource(w.inputs[2]);
  ForwardTaskInfo f;
  f.live_id = live;
  f.forward_url = nginx.Url("forward");
  int task = 0;
  ASSERT_TRUE(CDatabaseManager::Instance().InsertForwardTask(f, task, LIVE_TYPE_FILE));
  LiveStatusInfo item;
  item.id = live;
  item.type = LIVE_TYPE_FILE;
  item.live_url = nginx.Url("item");
  item.status = 1;
  ASSERT_TRUE(CDatabaseManager::Instance().UpdateLiveStatus(item));
  Post(task, TASK_FORWARD, true);
  Post(live, TASK_LIVE, true);
  EXPECT_TRUE(WaitFor([&] { return StateOf(task, TASK_FORWARD) == 2; }, 10s))
      << Manager().FindItem(task, TASK_FORWARD).message;
  EXPECT_TRUE(WaitFor([] { return !Manager().HasPendingRequests(); }, 20s));
  EXPECT_EQ(Manager().SourceCount(), 1);  // one input for both
  // The rate is a three-second average ticked once a second; the 4-second
  // input reopens at its end, so it is waited for rather than read once.
  std::this_thread::sleep_for(3s);  // what nginx records must be long enough
  EXPECT_TRUE(WaitFor([&] { return Manager().FindItem(task, TASK_FORWARD).rate > 0; }, 10s));
  EXPECT_EQ(StateOf(live, TASK_LIVE), 0);
  Post(task, TASK_FORWARD, false);
  Post(live, TASK_LIVE, false);
  EXPECT_TRUE(WaitFor([] { return Manager().SourceCount() == 0 && !Manager().HasPendingRequests(); }, 10s));
  nginx.Stop();
  std::vector<std::string> recordings = nginx.Recordings();
  ASSERT_EQ(recordings.size(), 2u);
  for (const std::string& file : recordings) {
    vvtest::ProbeResult r = vvtest::ProbeMedia(file);
    EXPECT_EQ(r.videoCodec, "h264") << file;
    EXPECT_EQ(r.audioCodec, "aac") << file;
    EXPECT_GT(r.duration, 2.0) << file;
    EXPECT_EQ(r.decodeErrors, "") << file;
  }
}

// Edge cases of the tree, driven with the rows handed in directly.
TEST_F(ManagerTest, TreeSharesInputsAndReplacesOutputs) {
  World& w = TheWorld();
  TempDir out;
  RecordTaskInfo r7, r8;
  for (RecordTaskInfo* r : {&r7, &r8}) {
    r->name = "t";
    r->fileType = 1;
    r->saveFolder = out.path();
    r->fileMod = 1;
    r->direMod = 1;
  }
  const uint32_t live = 200000901;
  // Two tasks on one input open it once.
  Manager().StartTask(TASK_RECORD, LIVE_TYPE_FILE, w.inputs[0], 7, live, &r7, nullptr);
  Manager().StartTask(TASK_RECORD, LIVE_TYPE_FILE, w.inputs[0], 8, live, &r8, nullptr);
  EXPECT_EQ(Manager().SourceCount(), 1);
  EXPECT_NE(StateOf(7, TASK_RECORD), 0);
  EXPECT_NE(StateOf(8, TASK_RECORD), 0);
  // Ids are told apart by kind: no forward task or pull 7 runs.
  EXPECT_EQ(StateOf(7, TASK_FORWARD), 0);
  EXPECT_EQ(StateOf(7, TASK_IXO_PULL), 0);
  // A restart of a running task replaces its output and keeps the input.
  ASSERT_TRUE(WaitFor([&] { return StateOf(7, TASK_RECORD) == 2; }, 8s));
  int threads = vvtest::CountThreads();
  Manager().StartTask(TASK_RECORD, LIVE_TYPE_FILE, w.inputs[0], 7, live, &r7, nullptr);
  EXPECT_EQ(Manager().SourceCount(), 1);
  EXPECT_NE(StateOf(7, TASK_RECORD), 0);
  // At most as many: the input's read thread ends at each end of the file and
  // comes back when it reopens.
  EXPECT_TRUE(WaitFor([&] { return vvtest::CountThreads() <= threads; }, 10s)) << vvtest::CountThreads();
  // Stopping one keeps the input for the other; stopping the last closes it.
  Manager().StopTask(7, TASK_RECORD, 0);
  EXPECT_EQ(StateOf(7, TASK_RECORD), 0);
  EXPECT_EQ(Manager().SourceCount(), 1);
  EXPECT_NE(StateOf(8, TASK_RECORD), 0);
  Manager().StopTask(8, TASK_RECORD, 0);
  EXPECT_EQ(Manager().SourceCount(), 0);
  // Stopping what does not run does nothing.
  Manager().StopTask(8, TASK_RECORD, 0);
  Manager().StopTask(9, 7, 0);
  // A live item's state is never reported (its output is a publisher).
  LiveStatusInfo item;
  item.id = static_cast<int>(live);
  item.live_url = "rtmp://127.0.0.1:1/none/x";
  Manager().StartTask(TASK_LIVE, LIVE_TYPE_FILE, w.inputs[0], live, live, &item, nullptr);
  EXPECT_EQ(Manager().SourceCount(), 1);
  EXPECT_EQ(StateOf(static_cast<int>(live), TASK_LIVE), 0);
  Manager().StopTask(live, TASK_LIVE, 0);
  EXPECT_EQ(Manager().SourceCount(), 0);
}

// AttachOutput on a channel of its own (never started, so no output runs):
// the mode each kind gets shows in the status it reports; a second output
// for a task id replaces the first; a null channel or an unknown kind builds
// nothing.
TEST_F(ManagerTest, AttachOutputBuildsTheOutputOfEachKind) {
  TempDir out;
  RecordTaskInfo record;
  record.fileType = 1;
  record.saveFolder = out.path();
  ForwardTaskInfo forward;
  forward.forward_url = "rtmp://127.0.0.1:1/live/none";
  IxoPullInfo pull;
  pull.listenPort = 1;
  LiveStatusInfo item;
  item.live_url = "rtmp://127.0.0.1:1/live/item";
  struct Case {
    uint32_t kind;
    void* record;
    int state;
    const char* message;
    int fileSize;
  } cases[] = {
      // Not started: a publisher reports its failure, a recorder idles
      // without a file, a relay has had no stream.
      {TASK_FORWARD, &forward, kTaskFailed, "pull stream error", 0},
      {TASK_LIVE, &item, kTaskFailed, "pull stream error", 0},
      {TASK_RECORD, &record, kTaskIdle, "pull stream error", -1},
      {TASK_IXO_PULL, &pull, kTaskFailed, "send IXO stream error because haven't stream", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    StreamChannel channel(41, nullptr);
    ASSERT_TRUE(Manager().AttachOutput(17, c.kind, &channel, c.record));
    ASSERT_TRUE(Manager().AttachOutput(17, c.kind, &channel, c.record));  // replaces the first
    uint32_t lookup = c.kind == TASK_LIVE ? TASK_FORWARD : c.kind;
    EXPECT_TRUE(channel.HasOutput(17, static_cast<int>(lookup)));
    TaskStatus status;
    ASSERT_TRUE(channel.GetOutputStatus(17, static_cast<int>(lookup), status));
    EXPECT_EQ(status.state, c.state);
    EXPECT_EQ(status.message, c.message);
    EXPECT_EQ(status.rate, 0);
    EXPECT_EQ(status.fileSize, c.fileSize);
    EXPECT_FALSE(Manager().AttachOutput(18, 9, &channel, c.record));
    EXPECT_FALSE(channel.HasOutput(18, 1));
    EXPECT_FALSE(Manager().AttachOutput(19, c.kind, nullptr, c.record));
  }
  EXPECT_EQ(Manager().SourceCount(), 0);
}

// Taking an output down can take seconds (here a relay blocked on a client
// that reads nothing, until its send time-out). Meanwhile FindItem answers at
// once for the other output of the channel, and a task that nobody asked
// about before still reads as running, never as stopped.
TEST_F(ManagerTest, FindItemAnswersWhileASiblingOutputTearsDown) {
  TempDir dir;
  // Lossless noise: megabytes a second, so the client's buffers fill at once.
  std::string input = dir.file("noise.flv");
  vvtest::CommandResult made =
      vvtest::Run("ffmpeg -nostdin -y -v error -f lavfi -i " +
                      ShellQuote("nullsrc=size=320x240:rate=25,geq=random(1)*255:128:128") +
                      " -t 6 -c:v libx264 -preset ultrafast -qp 0 " + ShellQuote(input),
                  true);
  ASSERT_EQ(made.status, 0) << made.output;
  const uint32_t live = 200000902;
  IxoPullInfo pull;
  pull.url = input;
  pull.listenPort = vvtest::FreePort();
  Manager().StartTask(TASK_IXO_PULL, LIVE_TYPE_FILE, input, 9, live, &pull, nullptr);
  // A client with a tiny receive buffer that never reads.
  auto connectSmall = [&] { return vvtest::ConnectLoopbackWithReceiveBuffer(pull.listenPort, 2048); };
  int client = -1;
  ASSERT_TRUE(WaitFor([&] { return (client = connectSmall()) >= 0; }, 10s));
  // At 3 MB/s the socket buffers (4 MB at most) are full within 1.5 s; the
  // relay then waits in send until its 3-second time-out. On a machine too
  // slow for that the stop below is quick and the test shows less, but
  // never fails for it.
  ASSERT_TRUE(WaitFor(
      [&] {
        int queued = 0;
        return ioctl(client, FIONREAD, &queued) == 0 && queued > 0;
      },
      30s));
  std::this_thread::sleep_for(1500ms);
  TempDir out;
  RecordTaskInfo rec;
  rec.name = "t";
  rec.fileType = 1;
  rec.saveFolder = out.path();
  rec.fileMod = 1;
  rec.direMod = 1;
  Manager().StartTask(TASK_RECORD, LIVE_TYPE_FILE, input, 7, live, &rec, nullptr);
  auto begin = std::chrono::steady_clock::now();
  std::thread stopper([] { Manager().StopTask(9, TASK_IXO_PULL, 0); });
  // The pull reads as stopped once its teardown began; only then is task 7
  // asked about for the first time.
  EXPECT_TRUE(WaitFor([] { return StateOf(9, TASK_IXO_PULL) == 0; }, 20s));
  std::chrono::steady_clock::duration slowest{};
  int stopped = 0;
  while (std::chrono::steady_clock::now() - begin < 4s) {
    auto asked = std::chrono::steady_clock::now();
    if (StateOf(7, TASK_RECORD) == 0) ++stopped;
    slowest = std::max(slowest, std::chrono::steady_clock::now() - asked);
    std::this_thread::sleep_for(20ms);
  }
  stopper.join();
  close(client);
  EXPECT_EQ(stopped, 0);
  EXPECT_LT(slowest, 1s);
  EXPECT_EQ(StateOf(9, TASK_IXO_PULL), 0);
  Manager().StopTask(7, TASK_RECORD, 0);
  EXPECT_EQ(Manager().SourceCount(), 0);
}

// A record task through requests and rows: the file it leaves reads back
// with H.264 and AAC of the recorded length and decodes cleanly, in each
// container, also when stopped in the middle of the input.
TEST_F(ManagerTest, RecordTaskWritesPlayableFiles) {
  World& w = TheWorld();
  int live = AddFileSource(w.inputs[1]);
  for (int fileType : {0, 1, 2}) {
    TempDir out;
    int task = AddRecordTask(live, out.path(), fileType);
    // The recorded time lies between the first write and the request: what
    // the input delivered while the channel was being set up may reach the
    // file too.
    auto requested = std::chrono::steady_clock::now();
    Post(task, TASK_RECORD, true);
    ASSERT_TRUE(WaitFor([&] { return StateOf(task, TASK_RECORD) == 2; }, 10s)) << fileType;
    auto writing = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2500ms);
    Post(task, TASK_RECORD, false);
    ASSERT_TRUE(WaitState(task, TASK_RECORD, false));
    auto stopped = std::chrono::steady_clock::now();
    double shortest = std::chrono::duration<double>(stopped - writing).count();
    double longest = std::chrono::duration<double>(stopped - requested).count();
    vvtest::CommandResult files = vvtest::Run("ls " + ShellQuote(out.path()));
    std::string name = files.output.substr(0, files.output.find('\n'));
    ASSERT_FALSE(name.empty());
    vvtest::ProbeResult r = vvtest::ProbeMedia(out.file(name));
    EXPECT_EQ(r.videoCodec, "h264") << name;
    EXPECT_EQ(r.audioCodec, "aac") << name;
    EXPECT_GE(r.duration, shortest - 1.0) << name;
    EXPECT_LE(r.duration, longest + 1.0) << name;
    EXPECT_EQ(r.decodeErrors, "") << name;
    EXPECT_TRUE(CDatabaseManager::Instance().DeleteRecordTask(task));
  }
}

// A stop reaches the running output even when its row is gone; a start and a
// stop posted at once end stopped.
TEST_F(ManagerTest, StopsAlwaysReachTheOutput) {
  World& w = TheWorld();
  TempDir out;
  int live = AddFileSource(w.inputs[2]);
  int task = AddRecordTask(live, out.path(), 1);
  Post(task, TASK_RECORD, true);
  ASSERT_TRUE(WaitState(task, TASK_RECORD, true));
  ASSERT_TRUE(CDatabaseManager::Instance().DeleteRecordTask(task));
  Post(task, TASK_RECORD, false);
  EXPECT_TRUE(WaitState(task, TASK_RECORD, false));
  EXPECT_TRUE(WaitFor([] { return Manager().SourceCount() == 0; }, 8s));

  int again = AddRecordTask(live, out.path(), 1);
  Post(again, TASK_RECORD, true);
  Post(again, TASK_RECORD, false);
  // Once nothing is pending every request was handled, the stop last.
  EXPECT_TRUE(WaitFor([] { return !Manager().HasPendingRequests(); }, 10s));
  EXPECT_EQ(StateOf(again, TASK_RECORD), 0);
  EXPECT_TRUE(WaitFor([] { return Manager().SourceCount() == 0; }, 8s));
  // A start whose row is missing stays pending (retried, not spun on).
  Post(599999990, TASK_RECORD, true);
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(Manager().HasPendingRequests());
  Post(599999990, TASK_RECORD, false);
  EXPECT_TRUE(WaitFor([] { return !Manager().HasPendingRequests(); }, 15s));
}

// The console stops a task by withdrawing its pending start and stopping it
// at once. Whenever the request thread has already taken the start, the
// stop still wins: nothing runs afterwards.
TEST_F(ManagerTest, WithdrawnStartNeverOutlivesItsStop) {
  World& w = TheWorld();
  TempDir out;
  int live = AddFileSource(w.inputs[1]);
  int task = AddRecordTask(live, out.path(), 1);
  std::mt19937 rng(7);
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    Post(task, TASK_RECORD, true);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 400));
    Manager().RemoveRequest(task);
    Manager().StopTask(task, TASK_RECORD);
    ASSERT_TRUE(WaitFor([] { return !Manager().HasPendingRequests(); }, 10s));
    // Give a start that slipped through time to show itself.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(StateOf(task, TASK_RECORD), 0);
    EXPECT_TRUE(WaitFor([] { return Manager().SourceCount() == 0; }, 8s));
  }
}

// An Ixo pull: the relay client gets records from which an FLV is rebuilt
// that ffprobe reads; when the client goes away the pull stops itself.
TEST_F(ManagerTest, PullRelaysToOneClientAndStopsWhenItLeaves) {
  World& w = TheWorld();
  int port = vvtest::FreePort();
  int pull = AddPull(w.inputs[0], port);
  Post(pull, TASK_IXO_PULL, true);
  ASSERT_TRUE(WaitState(pull, TASK_IXO_PULL, true));
  // Listening, no client yet.
  TaskStatus waiting = Manager().FindItem(pull, TASK_IXO_PULL);
  EXPECT_EQ(waiting.state, 3);
  EXPECT_EQ(waiting.message, "send IXO stream error because haven't stream");
  int client = -1;
  ASSERT_TRUE(WaitFor([&] { return (client = vvtest::ConnectLoopback(port, 5000)) >= 0; }, 20s));
  std::vector<vvtest::RelayRecord> records;
  auto end = std::chrono::steady_clock::now() + 3s;
  while (std::chrono::steady_clock::now() < end) {
    auto more = vvtest::ReadRelayRecords(client, 20);
    if (more.empty()) break;
    records.insert(records.end(), more.begin(), more.end());
  }
  // Running once a second with data has been counted (the client is still
  // there, so the relay keeps sending).
  EXPECT_TRUE(WaitFor([&] { return StateOf(pull, TASK_IXO_PULL) == 2; }, 10s));
  close(client);
  ASSERT_GT(records.size(), 50u);
  EXPECT_EQ(records[0].timestamp, 0u);
  TempDir out;
  ASSERT_TRUE(vvtest::WriteFlvTags(out.file("pull.flv"), vvtest::TagsFromRecords(records)));
  vvtest::ProbeResult r = vvtest::ProbeMedia(out.file("pull.flv"));
  EXPECT_EQ(r.videoCodec, "h264");
  EXPECT_EQ(r.audioCodec, "aac");
  EXPECT_EQ(r.decodeErrors, "");
  // The client is gone: the relay's next sends fail and the pull ends.
  EXPECT_TRUE(WaitState(pull, TASK_IXO_PULL, false, 15s));
  EXPECT_TRUE(WaitFor([] { return Manager().SourceCount() == 0; }, 8s));
}

// The schedule starts a recording when its clock enters the window and
// stops it when the clock leaves, keeping the row's status in step.
TEST_F(ManagerTest, ScheduleFollowsItsClock) {
  World& w = TheWorld();
  TempDir out;
  int live = AddFileSource(w.inputs[1]);
  int task = AddRecordTask(live, out.path(), 2, 1, 0, "08:00:00", "09:30:00", "135");
  RecordTaskInfo* entry = new RecordTaskInfo();
  ASSERT_TRUE(CDatabaseManager::Instance().GetRecordTaskWithSource(*entry, task));
  // Static: recorder threads may still read the clock just after the test.
  static std::atomic<int> hour;
  hour = 7;
  RecordClock::SetSource([] { return RecordClock::Make(2015, 3, 2, hour, 59, 59); });  // a Monday
  Manager().AddSchedule(static_cast<uint32_t>(task), entry);
  auto status = [&] {
    RecordTaskInfo row;
    CDatabaseManager::Instance().GetRecordTask(row, task);
    return row.status;
  };
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(StateOf(task, TASK_RECORD), 0);
  hour = 8;
  EXPECT_TRUE(WaitState(task, TASK_RECORD, true));
  EXPECT_EQ(status(), 1);
  hour = 9;  // 09:59:59, past the window
  EXPECT_TRUE(WaitState(task, TASK_RECORD, false));
  EXPECT_EQ(status(), 0);
  // Started by hand outside its window (the console marks the row first), it
  // is stopped by a later pass. The start may last only a moment, so what is
  // watched is the row: only a pass that saw the recording running and
  // stopped it sets its status back to 0.
  ASSERT_TRUE(CDatabaseManager::Instance().UpdateTaskStatus(task, TASK_RECORD, 1));
  Post(task, TASK_RECORD, true);
  EXPECT_TRUE(WaitFor([&] { return status() == 0; }, 15s));
  EXPECT_TRUE(WaitFor([] { return !Manager().HasPendingRequests(); }, 8s));
  EXPECT_TRUE(WaitState(task, TASK_RECORD, false));
  // A task taken off the schedule while it records is left running when the
  // clock leaves its window.
  hour = 8;
  ASSERT_TRUE(WaitState(task, TASK_RECORD, true));
  RecordTaskInfo type;
  type.recordType = 1;
  Manager().SetScheduleType(static_cast<uint32_t>(task), &type);
  hour = 9;
  std::this_thread::sleep_for(2500ms);
  EXPECT_NE(StateOf(task, TASK_RECORD), 0);
  EXPECT_EQ(status(), 1);
  Post(task, TASK_RECORD, false);
  EXPECT_TRUE(WaitState(task, TASK_RECORD, false));
  // Off the schedule, it is not started in its window either.
  hour = 8;
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(StateOf(task, TASK_RECORD), 0);
  RecordClock::SetSource(nullptr);
  Manager().RemoveSchedule(static_cast<uint32_t>(task));
}

// Hundreds of random starts and stops over several tasks and inputs end with
// every task as its last request asked, and the threads and descriptors of
// the process back where they were.
TEST_F(ManagerTest, StartStopStorm) {
  World& w = TheWorld();
  TempDir out;
  int threads = vvtest::CountThreads();
  int fds = vvtest::CountOpenFds();
  struct Task {
    int id;
    uint32_t kind;
    bool last = false;
  };
  std::vector<Task> tasks;
  for (size_t i = 0; i < w.inputs.size(); ++i) {
    int live = AddFileSource(w.inputs[i]);
    tasks.push_back({AddRecordTask(live, out.path(), static_cast<int>(i % 3)), TASK_RECORD});
    tasks.push_back({AddRecordTask(live, out.path(), 1), TASK_RECORD});
    tasks.push_back({AddPull(w.inputs[i], vvtest::FreePort()), TASK_IXO_PULL});
  }
  std::mt19937 rng(12345);
  std::vector<std::thread> posters;
  std::vector<std::vector<std::pair<size_t, bool>>> plans(3);
  for (auto& plan : plans)
    for (int i = 0; i < 300; ++i) plan.emplace_back(rng() % tasks.size(), rng() % 2 == 0);
  // Each task is posted to by one thread only, so its last request is known.
  for (size_t t = 0; t < plans.size(); ++t) {
    posters.emplace_back([&, t] {
      std::mt19937 local(static_cast<unsigned>(t));
      for (auto& step : plans[t]) {
        if (step.first % plans.size() != t) continue;
        Post(tasks[step.first].id, tasks[step.first].kind, step.second);
        tasks[step.first].last = step.second;
        std::this_thread::sleep_for(std::chrono::milliseconds(local() % 15));
      }
    });
  }
  // Meanwhile the console's timer asks for every state.
  std::atomic<bool> polling{true};
  std::thread poller([&] {
    while (polling)
      for (const Task& t : tasks) StateOf(t.id, t.kind);
  });
  for (auto& p : posters) p.join();
  ASSERT_TRUE(WaitFor([] { return !Manager().HasPendingRequests(); }, 30s));
  polling = false;
  poller.join();
  for (const Task& t : tasks) EXPECT_EQ(StateOf(t.id, t.kind) != 0, t.last) << t.id << " kind " << t.kind;
  for (const Task& t : tasks) Post(t.id, t.kind, false);
  EXPECT_TRUE(WaitFor([] { return !Manager().HasPendingRequests() && Manager().SourceCount() == 0; }, 30s));
  EXPECT_TRUE(WaitFor([&] { return vvtest::CountThreads() <= threads; }, 10s)) << vvtest::CountThreads();
  EXPECT_TRUE(WaitFor([&] { return vvtest::CountOpenFds() <= fds; }, 10s)) << vvtest::CountOpenFds();
}

// A transfer connection becomes a session the manager keeps until the
// session ends and takes itself off the list.
TEST_F(ManagerTest, TranscodeSessionsRemoveThemselves) {
  int base = Manager().SessionCount();
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  Manager().AddTranscodeSession(sv[0]);  // the session owns this end now
  EXPECT_EQ(Manager().SessionCount(), base + 1);
  close(sv[1]);  // the peer goes before sending its header
  EXPECT_TRUE(WaitFor([&] { return Manager().SessionCount() == base; }, 20s));
}

// Forward rows with delay settings the forward dialog never writes (another
// tool edited the database): the output does not run; the task reads as
// failed with the dialog's reason, logged once.
TEST_F(ManagerTest, ForwardRowsWithRefusedDelaySettingsDoNotStart) {
  World& w = TheWorld();
  TempDir logDir("vvlog");
  std::string oldLog = GetLogFileName();
  SetLogFileName(logDir.file("v.log"));
  const uint32_t live = 200000950;
  struct Case {
    uint32_t task;
    int bufferTime, bufferType, slice;
    const char* reason;
  } cases[] = {
      {951, 20, 1, 0, "文件切片时间不能少于10秒"},
      {952, 5, 1, 100000, "文件切片时间必须小于延时时间"},
      {953, 40, 0, 10, "超过30秒不能使用内存缓存"},
      {954, 0, 1, 10, "延时时间不正确"},
  };
  for (const Case& c : cases) {
    FileUtil::DeletePath(MakeTempFolder() + "/" + std::to_string(c.task));
    ForwardTaskInfo row;
    row.id = static_cast<int>(c.task);
    row.live_id = static_cast<int>(live);
    row.forward_url = "rtmp://127.0.0.1:" + std::to_string(vvtest::FreePort()) + "/live/refused";
    row.buffer_enabled = 1;
    row.buffer_time = c.bufferTime;
    row.buffer_type = c.bufferType;
    row.slice_seconds = c.slice;
    Manager().StartTask(TASK_FORWARD, LIVE_TYPE_FILE, w.inputs[0], c.task, live, &row, nullptr);
  }
  // Long enough for the input to open and the outputs to be started.
  std::this_thread::sleep_for(2s);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.task);
    TaskStatus s = Manager().FindItem(c.task, TASK_FORWARD);
    EXPECT_EQ(s.state, kTaskFailed);
    EXPECT_EQ(s.message, c.reason);
    // No slice was ever written.
    EXPECT_FALSE(FileUtil::IsDirectory(MakeTempFolder() + "/" + std::to_string(c.task)));
  }
  for (const Case& c : cases) Manager().StopTask(c.task, TASK_FORWARD);
  EXPECT_TRUE(WaitFor([] { return Manager().SourceCount() == 0; }, 10s));
  SetLogFileName(oldLog);
  std::string log = vvtest::ReadFileText(logDir.file("v.log"));
  for (const Case& c : cases) {
    std::string mark = "forward task " + std::to_string(c.task) + ": not started";
    size_t first = log.find(mark);
    EXPECT_NE(first, std::string::npos) << mark;
    EXPECT_EQ(log.find(mark, first + 1), std::string::npos) << mark;
  }
}
