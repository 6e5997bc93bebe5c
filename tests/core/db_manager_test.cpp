// CDatabaseManager on both backends: maps, sources, tasks and Ixo pulls.
#include <algorithm>
#include <iterator>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/DatabaseManager.h"
#include "core/Log.h"
#include "tests/core/db_test_backend.h"

using namespace vvtest;

namespace {

template <typename T>
void FreeAll(std::deque<T*>& list) {
  for (T* p : list) delete p;
  list.clear();
}

std::string Hex(const std::string& s) {
  std::string out;
  char b[3];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof(b), "%02X", c);
    out += b;
  }
  return out;
}

TEST(DbMapsTest, TypeAndRunWordMaps) {
  CDatabaseManager m;
  EXPECT_EQ(m.GetLiveType(42), LIVE_TYPE_NONE);
  EXPECT_EQ(m.GetLiveObject(42), 0);
  m.AddLiveItem(42, LIVE_TYPE_NET, 1);
  m.AddLiveItem(42, LIVE_TYPE_FILE, 0);  // an id already there keeps its entries
  EXPECT_EQ(m.GetLiveType(42), LIVE_TYPE_NET);
  EXPECT_EQ(m.GetLiveObject(42), 1);
  m.SetLiveObject(42, 0);
  EXPECT_EQ(m.GetLiveObject(42), 0);
  m.SetLiveObject(43, 1);  // not held: nothing is added
  EXPECT_EQ(m.GetLiveObject(43), 0);
  EXPECT_EQ(m.GetLiveType(43), LIVE_TYPE_NONE);
  m.RemoveLiveItem(42);
  m.RemoveLiveItem(42);
  EXPECT_EQ(m.GetLiveType(42), LIVE_TYPE_NONE);
  // Without a connection every statement fails cleanly.
  int id = 0;
  UrlSourceInfo u;
  EXPECT_FALSE(m.InsertNetSource(u, id));
  EXPECT_FALSE(m.GetNetSource(u, 1));
}

class DbManagerTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (HasFatalFailure()) return;
    m_.SetDatabase(&db_);
  }

  int AddNetSource(const std::string& url, const std::string& alias) {
    UrlSourceInfo u;
    u.url = url;
    u.alias = alias;
    int id = 0;
    EXPECT_TRUE(m_.InsertNetSource(u, id)) << db_.GetLastError();
    return id;
  }

  CDatabaseManager m_;
};

TEST_P(DbManagerTest, DeviceSourceRoundTrip) {
  DeviceSourceInfo d;
  d.alias = "摄像头一";
  d.url = "video=USB Camera:audio=Mic";
  d.status = 1;
  d.use_video = 1;
  d.videoName = "USB Camera";
  d.width = 1280;
  d.height = 720;
  d.gop = 50;
  d.bps = 70000;
  d.frameRate = 25;
  d.use_audio = 1;
  d.audioName = "Mic";
  d.audio_line = "麦克风";
  d.audio_volumn = 80;
  d.sampleRate = "44100";
  d.audio_br = 64000;
  d.audio_stereo = 1;
  d.live_url = "rtmp://ignored/by/insert";
  int id = 0;
  ASSERT_TRUE(m_.InsertDeviceSource(d, id)) << db_.GetLastError();
  EXPECT_EQ(m_.GetLiveType(id), LIVE_TYPE_DEVICE);
  EXPECT_EQ(m_.GetLiveObject(id), 0);

  DeviceSourceInfo r;
  ASSERT_TRUE(m_.GetDeviceSource(r, id));
  EXPECT_EQ(r.id, id);
  EXPECT_EQ(r.alias, d.alias);
  EXPECT_EQ(r.url, d.url);
  EXPECT_EQ(r.videoName, d.videoName);
  EXPECT_EQ(r.audio_line, d.audio_line);
  EXPECT_EQ(r.sampleRate, "44100");
  EXPECT_EQ(r.bps, 70000);
  EXPECT_EQ(r.live_url, "");  // empty until a live-status update
  EXPECT_EQ(std::tie(r.status, r.use_video, r.width, r.height, r.gop, r.frameRate, r.use_audio, r.audio_volumn,
                     r.audio_br, r.audio_stereo),
            std::tie(d.status, d.use_video, d.width, d.height, d.gop, d.frameRate, d.use_audio, d.audio_volumn,
                     d.audio_br, d.audio_stereo));

  LiveStatusInfo ls;
  ls.id = id;
  ls.type = LIVE_TYPE_DEVICE;
  ls.live_url = "rtmp://127.0.0.1/live/dev";
  ls.status = 1;
  ASSERT_TRUE(m_.UpdateLiveStatus(ls));
  ASSERT_TRUE(m_.GetDeviceSource(r, id));
  EXPECT_EQ(r.live_url, ls.live_url);

  d.alias = "renamed";
  d.live_url = "";
  d.width = 640;
  ASSERT_TRUE(m_.UpdateDeviceSource(d, id));
  std::deque<DeviceSourceInfo*> all;
  m_.GetAllDeviceSources(all);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0]->alias, "renamed");
  EXPECT_EQ(all[0]->width, 640);
  EXPECT_EQ(all[0]->live_url, "");  // the full update writes the record's live_url back
  FreeAll(all);

  bool found = false;
  ASSERT_TRUE(m_.FindDeviceSourceByUrl(d.url, found));
  EXPECT_TRUE(found);
  ASSERT_TRUE(m_.FindDeviceSourceByUrl("video=other", found));
  EXPECT_FALSE(found);

  // A missing row leaves the record as it was.
  DeviceSourceInfo untouched;
  untouched.alias = "keep";
  EXPECT_FALSE(m_.GetDeviceSource(untouched, id + 1));
  EXPECT_EQ(untouched.alias, "keep");

  EXPECT_FALSE(m_.DeleteLiveItem(id, LIVE_TYPE_NONE));
  EXPECT_EQ(m_.GetLiveType(id), LIVE_TYPE_DEVICE);
  ASSERT_TRUE(m_.DeleteLiveItem(id, LIVE_TYPE_DEVICE));
  EXPECT_EQ(m_.GetLiveType(id), LIVE_TYPE_NONE);
  EXPECT_FALSE(m_.GetDeviceSource(r, id));
}

TEST_P(DbManagerTest, NetAndFileSources) {
  struct Ops {
    LiveSourceType type;
    bool (CDatabaseManager::*insert)(const UrlSourceInfo&, int&);
    bool (CDatabaseManager::*update)(const UrlSourceInfo&, int);
    void (CDatabaseManager::*all)(std::deque<UrlSourceInfo*>&);
    bool (CDatabaseManager::*get)(UrlSourceInfo&, int);
    bool (CDatabaseManager::*find)(const std::string&, bool&);
    const char* table;
  };
  const Ops ops[] = {
      {LIVE_TYPE_NET, &CDatabaseManager::InsertNetSource, &CDatabaseManager::UpdateNetSource,
       &CDatabaseManager::GetAllNetSources, &CDatabaseManager::GetNetSource, &CDatabaseManager::FindNetSourceByUrl,
       "NetSource_info"},
      {LIVE_TYPE_FILE, &CDatabaseManager::InsertFileSource, &CDatabaseManager::UpdateFileSource,
       &CDatabaseManager::GetAllFileSources, &CDatabaseManager::GetFileSource, &CDatabaseManager::FindFileSourceByUrl,
       "FileSource_info"},
  };
  for (const Ops& o : ops) {
    SCOPED_TRACE(o.table);
    bool found = true;
    ASSERT_TRUE((m_.*o.find)("rtmp://nothing", found));
    EXPECT_FALSE(found);
    UrlSourceInfo u;
    u.url = "rtmp://127.0.0.1/live/one";
    u.alias = "one";
    u.status = 1;  // not stored by the insert: the table default applies
    u.live_url = "x";
    int id = 0;
    ASSERT_TRUE((m_.*o.insert)(u, id));
    EXPECT_EQ(m_.GetLiveType(id), o.type);
    UrlSourceInfo r;
    ASSERT_TRUE((m_.*o.get)(r, id));
    EXPECT_EQ(r.id, id);
    EXPECT_EQ(r.url, u.url);
    EXPECT_EQ(r.alias, "one");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.live_url, "");
    ASSERT_TRUE((m_.*o.find)(u.url, found));
    EXPECT_TRUE(found);

    // The update changes alias and url only.
    Cli(std::string("update ") + o.table + " set status=1, live_url='rtmp://l' where id=" + std::to_string(id));
    u.url = "rtmp://127.0.0.1/live/two";
    u.alias = "two";
    u.status = 0;
    ASSERT_TRUE((m_.*o.update)(u, id));
    std::deque<UrlSourceInfo*> all;
    (m_.*o.all)(all);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]->url, u.url);
    EXPECT_EQ(all[0]->alias, "two");
    EXPECT_EQ(all[0]->status, 1);
    EXPECT_EQ(all[0]->live_url, "rtmp://l");
    FreeAll(all);
  }
}

TEST_P(DbManagerTest, SecondSubStreamOfAnInputGetsItsOwnId) {
  SubStreamInfo s;
  s.alias = "低码率";
  s.url = "rtsp://127.0.0.1/cam";
  s.useVideo = true;
  s.vFormat = "H264";
  s.vColor = "YUVJ420P";
  s.width = 320;
  s.height = 240;
  s.frameRate = 15;
  s.gop = 30;
  s.vBitRate = 70000;
  s.useAudio = true;
  s.aFormat = "AAC";
  s.sampleRate = "22050";
  s.aBitRate = 32000;
  s.aChannel = 1;
  s.status = 1;
  int first = 0, second = 0;
  ASSERT_TRUE(m_.InsertSubStream(s, first));
  s.alias = "second";
  s.useAudio = false;
  ASSERT_TRUE(m_.InsertSubStream(s, second));
  EXPECT_NE(first, second);
  EXPECT_EQ(Cli("select alias from SubStream_info where id=" + std::to_string(second)), "second");
  EXPECT_EQ(m_.GetLiveType(second), LIVE_TYPE_SUBSTREAM);

  std::deque<SubStreamInfo*> list;
  m_.GetSubStreamByUrl(list, s.url);
  ASSERT_EQ(list.size(), 2u);
  const SubStreamInfo& a = *list[0];
  EXPECT_EQ(a.id, first);
  EXPECT_EQ(a.alias, "低码率");
  EXPECT_TRUE(a.useVideo);
  EXPECT_TRUE(a.useAudio);
  EXPECT_EQ(a.vFormat, "H264");
  EXPECT_EQ(a.vColor, "YUVJ420P");
  EXPECT_EQ(std::tie(a.width, a.height, a.frameRate, a.gop, a.vBitRate, a.aBitRate, a.aChannel, a.status),
            std::tie(s.width, s.height, s.frameRate, s.gop, s.vBitRate, s.aBitRate, s.aChannel, s.status));
  EXPECT_EQ(a.sampleRate, "22050");
  EXPECT_FALSE(list[1]->useAudio);
  FreeAll(list);

  s.live_url = "rtmp://127.0.0.1/live/sub";
  s.width = 640;
  ASSERT_TRUE(m_.UpdateSubStream(s, second));
  SubStreamInfo r;
  ASSERT_TRUE(m_.GetSubStream(r, second));
  EXPECT_EQ(r.width, 640);
  EXPECT_EQ(r.live_url, s.live_url);
  EXPECT_FALSE(m_.GetSubStream(r, second + 1000));
}

// Flags are 0 or 1; a database boolean's true (-1) or any other value is clear.
TEST_P(DbManagerTest, OnlyOneCountsAsASetFlag) {
  DeviceSourceInfo d;
  d.url = "video=cam";
  int dev = 0;
  ASSERT_TRUE(m_.InsertDeviceSource(d, dev));
  SubStreamInfo s;
  s.url = "rtsp://x";
  int sub = 0;
  ASSERT_TRUE(m_.InsertSubStream(s, sub));
  IxoPullInfo p;
  p.url = "rtsp://y";
  int pull = 0;
  ASSERT_TRUE(m_.InsertIxoPull(p, pull));
  int net = AddNetSource("rtsp://z", "z");
  ForwardTaskInfo f;
  f.live_id = net;
  f.forward_url = "rtmp://out";
  int task = 0;
  ASSERT_TRUE(m_.InsertForwardTask(f, task, LIVE_TYPE_NET));

  for (int stored : {-1, 2, 1, 0}) {
    SCOPED_TRACE(stored);
    const std::string v = std::to_string(stored);
    Cli("update DeviceSource_info set use_video=" + v + ", use_audio=" + v);
    Cli("update SubStream_info set useVideo=" + v + ", useAudio=" + v);
    Cli("update IXOPull set videoTransfer=" + v + ", audioTransfer=" + v);
    Cli("update forward_task set buffer_enabled=" + v);
    const bool set = stored == 1;
    DeviceSourceInfo rd;
    ASSERT_TRUE(m_.GetDeviceSource(rd, dev));
    EXPECT_EQ(rd.use_video, set ? 1 : 0);
    EXPECT_EQ(rd.use_audio, set ? 1 : 0);
    SubStreamInfo rs;
    ASSERT_TRUE(m_.GetSubStream(rs, sub));
    EXPECT_EQ(rs.useVideo, set);
    EXPECT_EQ(rs.useAudio, set);
    IxoPullInfo rp;
    ASSERT_TRUE(m_.GetIxoPull(rp, pull));
    EXPECT_EQ(rp.videoTransfer, set);
    EXPECT_EQ(rp.audioTransfer, set);
    ForwardTaskInfo rf;
    ASSERT_TRUE(m_.GetForwardTask(rf, task));
    EXPECT_EQ(rf.buffer_enabled, set ? 1 : 0);
    ASSERT_TRUE(m_.GetForwardTaskWithSource(rf, task));
    EXPECT_EQ(rf.buffer_enabled, set ? 1 : 0);
  }
}

TEST_P(DbManagerTest, ForwardTasksReadJoinedGiveTheTasksIdAndStatus) {
  int live = AddNetSource("rtmp://127.0.0.1/in", "源");
  Cli("update NetSource_info set status=1");
  ForwardTaskInfo f;
  f.live_id = live;
  f.forward_url = "rtmp://127.0.0.1/out/a";
  f.buffer_enabled = 1;
  f.buffer_time = 30;
  f.buffer_type = 1;
  f.slice_seconds = 10;
  f.status = 0;
  int task = 0;
  ASSERT_TRUE(m_.InsertForwardTask(f, task, LIVE_TYPE_NET)) << db_.GetLastError();
  EXPECT_EQ(m_.GetLiveType(task), LIVE_TYPE_NET);
  EXPECT_EQ(Cli("select max(id) from forward_task"), std::to_string(task));

  for (LiveSourceType type : {LIVE_TYPE_NET, LIVE_TYPE_NONE}) {
    SCOPED_TRACE(type);
    std::deque<ForwardTaskInfo*> list;
    ASSERT_TRUE(m_.GetForwardTasksOfLive(list, live, type));
    ASSERT_EQ(list.size(), 1u);
    const ForwardTaskInfo& r = *list[0];
    EXPECT_EQ(r.id, task);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.alias, type == LIVE_TYPE_NET ? "源" : "");
    EXPECT_EQ(r.url, "");
    EXPECT_EQ(r.live_id, live);
    EXPECT_EQ(r.forward_url, f.forward_url);
    EXPECT_EQ(std::tie(r.buffer_enabled, r.buffer_time, r.buffer_type, r.slice_seconds),
              std::tie(f.buffer_enabled, f.buffer_time, f.buffer_type, f.slice_seconds));
    FreeAll(list);
  }
  // Tasks of a source of another type are not found by that type's join.
  std::deque<ForwardTaskInfo*> none;
  ASSERT_TRUE(m_.GetForwardTasksOfLive(none, live, LIVE_TYPE_FILE));
  EXPECT_TRUE(none.empty());

  ForwardTaskInfo w;
  ASSERT_TRUE(m_.GetForwardTaskWithSource(w, task));
  EXPECT_EQ(w.url, "rtmp://127.0.0.1/in");
  EXPECT_EQ(w.status, 0);
  EXPECT_EQ(w.live_id, live);
  EXPECT_EQ(w.slice_seconds, 10);

  int liveId = 0;
  ASSERT_TRUE(m_.GetForwardTaskLiveId(task, liveId));
  EXPECT_EQ(liveId, live);
  EXPECT_FALSE(m_.GetForwardTaskLiveId(task + 1, liveId));

  bool found = false;
  ASSERT_TRUE(m_.FindForwardTask(f, found));
  EXPECT_TRUE(found);
  ForwardTaskInfo other = f;
  other.forward_url = "rtmp://127.0.0.1/out/b";
  ASSERT_TRUE(m_.FindForwardTask(other, found));
  EXPECT_FALSE(found);

  other.buffer_enabled = 0;
  other.status = 1;
  other.live_id = 12345;  // the update keeps live_id
  ASSERT_TRUE(m_.UpdateForwardTask(other, task));
  ForwardTaskInfo g;
  ASSERT_TRUE(m_.GetForwardTask(g, task));
  EXPECT_EQ(g.forward_url, other.forward_url);
  EXPECT_EQ(g.live_id, live);
  EXPECT_EQ(g.status, 1);
  EXPECT_EQ(g.buffer_enabled, 0);

  ASSERT_TRUE(m_.UpdateTaskStatus(task, 1, 0));
  EXPECT_EQ(Cli("select status from forward_task"), "0");
  EXPECT_FALSE(m_.UpdateTaskStatus(task, 3, 1));
  EXPECT_EQ(Cli("select status from forward_task"), "0");
  m_.SetAllForwardTasksStatus();
  EXPECT_EQ(Cli("select status from forward_task"), "1");

  // A missing row is a failure, not a record of zeros.
  ForwardTaskInfo missing;
  EXPECT_FALSE(m_.GetForwardTask(missing, task + 7));
  EXPECT_FALSE(m_.GetForwardTaskWithSource(missing, task + 7));

  // A source the maps do not know cannot be joined.
  m_.RemoveLiveItem(live);
  EXPECT_FALSE(m_.GetForwardTaskWithSource(w, task));

  ASSERT_TRUE(m_.DeleteForwardTask(task));
  EXPECT_EQ(m_.GetLiveType(task), LIVE_TYPE_NONE);
  EXPECT_EQ(Cli("select count(*) from forward_task"), "0");
}

TEST_P(DbManagerTest, RecordTasksAndTheSchedule) {
  int net = AddNetSource("rtsp://127.0.0.1/net", "net");
  UrlSourceInfo file;
  file.url = "/media/a.flv";
  file.alias = "file";
  int fileId = 0;
  ASSERT_TRUE(m_.InsertFileSource(file, fileId));
  Cli("update NetSource_info set status=1");

  RecordTaskInfo t;
  t.name = "晚间新闻";
  t.fileType = 1;
  t.recordType = 0;
  t.saveFolder = "D:\\录像\\news";
  t.startTime = "19:00:00";
  t.endTime = "19:30:00";
  t.days_of_week = "1;3;7";
  t.fileMod = 1;
  t.direMod = 1;
  t.live_id = net;
  t.status = 0;
  int scheduled = 0, manual = 0, onFile = 0;
  ASSERT_TRUE(m_.InsertRecordTask(t, scheduled, LIVE_TYPE_NET));
  RecordTaskInfo m = t;
  m.name = "manual";
  m.recordType = 1;
  m.saveFolder = "/rec/manual";
  ASSERT_TRUE(m_.InsertRecordTask(m, manual, LIVE_TYPE_NET));
  RecordTaskInfo f = t;
  f.name = "on file";
  f.live_id = fileId;
  ASSERT_TRUE(m_.InsertRecordTask(f, onFile, LIVE_TYPE_FILE));
  EXPECT_EQ(m_.GetLiveType(onFile), LIVE_TYPE_FILE);

  std::deque<RecordTaskInfo*> list;
  ASSERT_TRUE(m_.GetScheduledRecordTasks(list, LIVE_TYPE_NET));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->id, scheduled);
  EXPECT_EQ(list[0]->status, 0);
  EXPECT_EQ(list[0]->url, "rtsp://127.0.0.1/net");
  EXPECT_EQ(list[0]->name, "晚间新闻");
  EXPECT_EQ(list[0]->saveFolder, "D:\\录像\\news");
  EXPECT_EQ(list[0]->days_of_week, "1;3;7");
  EXPECT_EQ(list[0]->startTime, "19:00:00");
  EXPECT_EQ(list[0]->endTime, "19:30:00");
  FreeAll(list);
  EXPECT_FALSE(m_.GetScheduledRecordTasks(list, LIVE_TYPE_DEVICE));
  EXPECT_FALSE(m_.GetScheduledRecordTasks(list, LIVE_TYPE_NONE));
  EXPECT_TRUE(list.empty());

  ASSERT_TRUE(m_.GetRecordTasksOfLive(list, net, LIVE_TYPE_NET));
  ASSERT_EQ(list.size(), 2u);
  std::set<int> ids;
  for (RecordTaskInfo* r : list) {
    ids.insert(r->id);
    EXPECT_EQ(r->status, 0);
    EXPECT_EQ(r->alias, "net");
    EXPECT_EQ(r->live_id, net);
  }
  EXPECT_EQ(ids, (std::set<int>{scheduled, manual}));
  FreeAll(list);

  RecordTaskInfo w;
  ASSERT_TRUE(m_.GetRecordTaskWithSource(w, scheduled));
  EXPECT_EQ(w.id, scheduled);
  EXPECT_EQ(w.url, "rtsp://127.0.0.1/net");
  EXPECT_EQ(std::tie(w.fileType, w.recordType, w.fileMod, w.direMod, w.status), std::tie(t.fileType, t.recordType, t.fileMod, t.direMod, t.status));

  RecordTaskInfo g;
  ASSERT_TRUE(m_.GetRecordTask(g, manual));
  EXPECT_EQ(g.id, manual);
  EXPECT_EQ(g.name, "manual");
  EXPECT_EQ(g.recordType, 1);
  EXPECT_FALSE(m_.GetRecordTask(g, manual + 1000));

  bool found = false;
  ASSERT_TRUE(m_.FindRecordTask(t, found));
  EXPECT_TRUE(found);
  RecordTaskInfo other = t;
  other.fileType = 2;
  ASSERT_TRUE(m_.FindRecordTask(other, found));
  EXPECT_FALSE(found);

  other.status = 1;
  other.days_of_week = "";
  ASSERT_TRUE(m_.UpdateRecordTask(other, scheduled));
  ASSERT_TRUE(m_.GetRecordTask(g, scheduled));
  EXPECT_EQ(g.fileType, 2);
  EXPECT_EQ(g.days_of_week, "");
  EXPECT_EQ(g.status, 1);
  ASSERT_TRUE(m_.UpdateTaskStatus(scheduled, 2, 0));
  EXPECT_EQ(Cli("select status from record_task where id=" + std::to_string(scheduled)), "0");

  ASSERT_TRUE(m_.DeleteRecordTask(manual));
  EXPECT_EQ(m_.GetLiveType(manual), LIVE_TYPE_NONE);
  int liveId = 0;
  EXPECT_FALSE(m_.GetRecordTaskLiveId(manual, liveId));
  ASSERT_TRUE(m_.GetRecordTaskLiveId(onFile, liveId));
  EXPECT_EQ(liveId, fileId);
}

TEST_P(DbManagerTest, IxoPullsStayOutOfTheMaps) {
  IxoPullInfo p;
  p.url = "rtmp://127.0.0.1/live/pull";
  p.listenPort = 1001;
  p.videoTransfer = true;
  p.vFormat = "H264";
  p.vColor = "YUVJ420P";
  p.width = 640;
  p.height = 360;
  p.vBitRate = 70000;
  p.frameRate = 25;
  p.gop = 50;
  p.audioTransfer = false;
  p.aFormat = "AAC";
  p.sampleRate = "44100";
  p.aBitRate = 64000;
  p.aChannel = 2;
  int id = 0;
  ASSERT_TRUE(m_.InsertIxoPull(p, id));
  EXPECT_EQ(m_.GetLiveType(id), LIVE_TYPE_NONE);
  IxoPullInfo r;
  ASSERT_TRUE(m_.GetIxoPull(r, id));
  EXPECT_EQ(r.id, id);
  EXPECT_EQ(r.url, p.url);
  EXPECT_EQ(r.vFormat, "H264");
  EXPECT_EQ(r.vColor, "YUVJ420P");
  EXPECT_EQ(r.aFormat, "AAC");
  EXPECT_EQ(r.sampleRate, "44100");
  EXPECT_EQ(std::tie(r.listenPort, r.videoTransfer, r.width, r.height, r.vBitRate, r.frameRate, r.gop,
                     r.audioTransfer, r.aBitRate, r.aChannel),
            std::tie(p.listenPort, p.videoTransfer, p.width, p.height, p.vBitRate, p.frameRate, p.gop,
                     p.audioTransfer, p.aBitRate, p.aChannel));

  int net = AddNetSource("rtsp://n", "n");
  ASSERT_TRUE(m_.DeleteIxoPull(id));
  EXPECT_EQ(m_.GetLiveType(net), LIVE_TYPE_NET);
  EXPECT_FALSE(m_.GetIxoPull(r, id));
  ASSERT_TRUE(m_.InsertIxoPull(p, id));
  ASSERT_TRUE(m_.InsertIxoPull(p, id));
  m_.DeleteAllIxoPull();
  EXPECT_EQ(Cli("select count(*) from IXOPull"), "0");
  EXPECT_EQ(m_.GetLiveType(net), LIVE_TYPE_NET);
}

// Quotes, backslashes and Chinese text are stored byte for byte (checked with
// the backend's own client) and read back the same; none of them can change
// what a statement does.
TEST_P(DbManagerTest, TextsRoundTripExactly) {
  const std::string texts[] = {
      "O'Brien's feed",
      "C:\\录像\\新建文件夹\\",
      "\\'",
      "x' , 1, 1); delete from NetSource_info; --",
      "x\\', 1); delete from NetSource_info; -- ",
      "中文频道：直播“一”",
      "%s %d %n",
      "",
  };
  AddNetSource("sentinel", "keep me");
  for (const std::string& t : texts) {
    SCOPED_TRACE(t);
    int id = AddNetSource(t, t);
    ASSERT_NE(id, 0);
    const std::string hexes =
        GetParam() == DbKind::SQLite
            ? Cli("select hex(url) || '/' || hex(alias) from NetSource_info where id=" + std::to_string(id))
            : Cli("select concat(hex(url), '/', hex(alias)) from NetSource_info where id=" + std::to_string(id));
    EXPECT_EQ(hexes, Hex(t) + "/" + Hex(t));
    UrlSourceInfo r;
    ASSERT_TRUE(m_.GetNetSource(r, id));
    EXPECT_EQ(r.url, t);
    EXPECT_EQ(r.alias, t);
    bool found = false;
    ASSERT_TRUE(m_.FindNetSourceByUrl(t, found));
    EXPECT_TRUE(found);

    RecordTaskInfo rec;
    rec.name = t;
    rec.saveFolder = t;
    rec.live_id = id;
    int task = 0;
    ASSERT_TRUE(m_.InsertRecordTask(rec, task, LIVE_TYPE_NET));
    ASSERT_TRUE(m_.FindRecordTask(rec, found));
    EXPECT_TRUE(found);
    RecordTaskInfo back;
    ASSERT_TRUE(m_.GetRecordTaskWithSource(back, task));
    EXPECT_EQ(back.name, t);
    EXPECT_EQ(back.saveFolder, t);
    EXPECT_EQ(back.url, t);
  }
  EXPECT_EQ(Cli("select alias from NetSource_info where url='sentinel'"), "keep me");
  EXPECT_EQ(Cli("select count(*) from NetSource_info"), std::to_string(1 + std::size(texts)));
}

// Concurrent pull handlers each get the id of their own row.
TEST_P(DbManagerTest, ConcurrentPullInsertsGetDistinctCorrectIds) {
  constexpr int kThreads = 8, kEach = 15;
  std::vector<std::vector<int>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        IxoPullInfo p;
        p.url = "rtmp://127.0.0.1/live/t" + std::to_string(t) + "-" + std::to_string(i);
        p.listenPort = 1000 + t * 100 + i;
        int id = 0;
        if (m_.InsertIxoPull(p, id)) ids[t].push_back(id);
        // Reads interleave with the other threads' inserts on the one connection.
        IxoPullInfo r;
        if (m_.GetIxoPull(r, id) && r.listenPort != p.listenPort) ids[t].push_back(-1);
      }
    });
  }
  for (auto& th : threads) th.join();
  // The stored rows, as the backend's own client sees them: id -> port.
  std::map<int, int> stored;
  std::istringstream rows(Cli("select id, listenPort from IXOPull"));
  for (int id, port; rows >> id >> port;) stored[id] = port;
  EXPECT_EQ(stored.size(), static_cast<size_t>(kThreads * kEach));
  std::set<int> all;
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(ids[t].size(), static_cast<size_t>(kEach)) << "thread " << t;
    for (int i = 0; i < kEach; ++i) {
      int id = ids[t][i];
      all.insert(id);
      EXPECT_EQ(stored[id], 1000 + t * 100 + i) << id;
    }
  }
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
}

// Every table hands out ids from a range of its own.
TEST_P(DbManagerTest, IdsOfTheSevenTablesNeverMeet) {
  DeviceSourceInfo d;
  int dev = 0, net = 0, file = 0, sub = 0, fwd = 0, rec = 0, pull = 0;
  ASSERT_TRUE(m_.InsertDeviceSource(d, dev));
  net = AddNetSource("n", "n");
  UrlSourceInfo u;
  ASSERT_TRUE(m_.InsertFileSource(u, file));
  SubStreamInfo s;
  ASSERT_TRUE(m_.InsertSubStream(s, sub));
  ForwardTaskInfo f;
  ASSERT_TRUE(m_.InsertForwardTask(f, fwd, LIVE_TYPE_NET));
  RecordTaskInfo r;
  ASSERT_TRUE(m_.InsertRecordTask(r, rec, LIVE_TYPE_NET));
  IxoPullInfo p;
  ASSERT_TRUE(m_.InsertIxoPull(p, pull));
  const int got[] = {dev, net, file, sub, fwd, rec, pull};
  for (int i = 0; i < 7; ++i) {
    EXPECT_GE(got[i], i * 100000000 + 1) << i;
    EXPECT_LE(got[i], i * 100000000 + 99999999) << i;
  }
  EXPECT_TRUE(m_.CheckIdCollisions().empty());
}

// A database made with one counter per table still opens; the ids that
// collide are named in the log.
TEST_P(DbManagerTest, CollidingIdsOfAnOldDatabaseAreLogged) {
  if (GetParam() == DbKind::SQLite)
    Cli("delete from sqlite_sequence");
  else
    for (const char* t : {"NetSource_info", "forward_task", "IXOPull"})
      Cli(std::string("alter table ") + t + " auto_increment=1");
  int net = AddNetSource("n", "n");
  ForwardTaskInfo f;
  f.live_id = net;
  int task = 0;
  ASSERT_TRUE(m_.InsertForwardTask(f, task, LIVE_TYPE_NET));
  IxoPullInfo p;
  int pull = 0;
  ASSERT_TRUE(m_.InsertIxoPull(p, pull));
  ASSERT_EQ(net, 1);
  ASSERT_EQ(task, 1);

  TempDir logDir("vvlog");
  SetLogFileName(logDir.file("Velvanet.log"));
  CDatabaseManager fresh;
  fresh.SetDatabase(&db_);
  SetLogFileName("");
  std::string log = ReadFileText(logDir.file("Velvanet.log"));
  EXPECT_NE(log.find("[ERROR]: database id 1 is used by more than one table"), std::string::npos) << log;
  EXPECT_NE(log.find("NetSource_info"), std::string::npos) << log;
  EXPECT_NE(log.find("forward_task"), std::string::npos) << log;
  EXPECT_NE(log.find("IXOPull"), std::string::npos) << log;
  UrlSourceInfo r;
  EXPECT_TRUE(fresh.GetNetSource(r, 1));
}


std::string F(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string F(const char* format, ...) {
  char buf[2048];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof(buf), format, ap);
  va_end(ap);
  return buf;
}

// What the server received, byte for byte, from our connection: every
// operation sends its statement exactly as written below (tabs and double
// blanks included), with ordinary values unchanged and a quote escaped.
TEST(DbStatementTest, EveryOperationSendsItsStatementTextExactly) {
  MariaDbServer& s = SharedMariaDb();
  ASSERT_TRUE(s.Running()) << s.ErrorLog();
  std::string error;
  ASSERT_TRUE(s.ResetSchema(&error)) << error;
  ASSERT_EQ(s.Sql("SET GLOBAL log_output='TABLE'; SET GLOBAL general_log=1").status, 0);
  CADODataBase db;
  ASSERT_TRUE(db.OpenMySql(s.server(), MariaDbServer::database(), MariaDbServer::user(), MariaDbServer::password()));
  CDatabaseManager m;
  m.SetDatabase(&db);
  ASSERT_EQ(s.Sql("TRUNCATE TABLE mysql.general_log").status, 0);

  std::vector<std::string> want;
  // Sources, one of each kind.
  DeviceSourceInfo d;
  d.alias = "cam";
  d.url = "video=cam";
  d.status = 1;
  d.use_video = 1;
  d.videoName = "Cam";
  d.width = 640;
  d.height = 480;
  d.gop = 50;
  d.bps = 800000;
  d.frameRate = 25;
  d.use_audio = 1;
  d.audioName = "Mic";
  d.audio_line = "线路";
  d.audio_volumn = 80;
  d.sampleRate = "44100";
  d.audio_br = 64000;
  d.audio_stereo = 1;
  int dev = 0;
  ASSERT_TRUE(m.InsertDeviceSource(d, dev)) << db.GetLastError();
  want.push_back(
      "insert into DeviceSource_info (alias,url,status, \t\t\t\t  use_video, videoName,width, height,gop,bps,frameRate,"
      "\t\t\t\t  use_audio,audioName,audio_line,audio_volumn,sampleRate, audio_br,audio_stereo)\t\t\t\t  values "
      "('cam','video=cam',1,1,'Cam',640,480,50,800000,25,1,'Mic','线路',80,'44100',64000,1)");
  ASSERT_TRUE(m.GetDeviceSource(d, dev));
  want.push_back(F("select * from DeviceSource_info where id = %d", dev));
  std::deque<DeviceSourceInfo*> devices;
  m.GetAllDeviceSources(devices);
  FreeAll(devices);
  want.push_back("select * from DeviceSource_info");
  d.live_url = "rtmp://l/d";
  ASSERT_TRUE(m.UpdateDeviceSource(d, dev));
  want.push_back(F("UPDATE DeviceSource_info set\t\t\t\t  alias='cam',url='video=cam',status=1,live_url='rtmp://l/d',"
                   "\t\t\t\t  use_video=1,videoName='Cam',width=640, height=480,gop=50,bps=800000,frameRate=25,"
                   "\t\t\t\t  use_audio=1,audioName='Mic',audio_line='线路',audio_volumn=80,sampleRate='44100',"
                   "audio_br=64000,audio_stereo=1\t\t\t\t  where id=%d",
                   dev));
  bool found = false;
  ASSERT_TRUE(m.FindDeviceSourceByUrl("video=cam", found));
  want.push_back("select * from DeviceSource_info where url = 'video=cam'");

  SubStreamInfo sub;
  sub.alias = "low";
  sub.url = "rtsp://in";
  sub.useVideo = true;
  sub.vFormat = "H264";
  sub.vColor = "YUVJ420P";
  sub.width = 320;
  sub.height = 240;
  sub.frameRate = 15;
  sub.gop = 30;
  sub.vBitRate = 70000;
  sub.useAudio = false;
  sub.aFormat = "AAC";
  sub.sampleRate = "22050";
  sub.aBitRate = 32000;
  sub.aChannel = 1;
  sub.status = 0;
  int subId = 0;
  ASSERT_TRUE(m.InsertSubStream(sub, subId));
  want.push_back(
      "insert into SubStream_info (alias,url, useVideo, vFormat,vColor, width,height,frameRate,gop,vBitRate,useAudio,"
      "aFormat,sampleRate,aBitRate, aChannel,status) values "
      "('low','rtsp://in',1,'H264','YUVJ420P',320,240,15,30,70000,0,'AAC','22050',32000,1,0)");
  std::deque<SubStreamInfo*> subs;
  m.GetSubStreamByUrl(subs, "rtsp://in");
  FreeAll(subs);
  want.push_back("select * from SubStream_info where url = 'rtsp://in'");
  ASSERT_TRUE(m.GetSubStream(sub, subId));
  want.push_back(F("select * from SubStream_info where id = %d", subId));
  sub.live_url = "rtmp://l/s";
  sub.status = 1;
  ASSERT_TRUE(m.UpdateSubStream(sub, subId));
  want.push_back(F("UPDATE SubStream_info set\t\t\t\t  status=1,live_url='rtmp://l/s',alias='low',url='rtsp://in',"
                   "\t\t\t\t  useVideo=1,vFormat='H264',vColor='YUVJ420P', width=320, height = 240,frameRate = 15,"
                   "gop = 30,vBitRate = 70000,\t\t\t\t  useAudio=0, aFormat='AAC', sampleRate='22050', aBitRate=32000, "
                   "aChannel=1\t\t\t\t  where id=%d",
                   subId));

  UrlSourceInfo u;
  u.url = "rtmp://in/net";
  u.alias = "net";
  int net = 0;
  ASSERT_TRUE(m.InsertNetSource(u, net));
  want.push_back("insert into NetSource_info (url,alias) values ('rtmp://in/net','net')");
  u.alias = "O'Neil";
  ASSERT_TRUE(m.UpdateNetSource(u, net));
  want.push_back(F("update NetSource_info set alias='O\\'Neil',url='rtmp://in/net' where id=%d", net));
  std::deque<UrlSourceInfo*> urls;
  m.GetAllNetSources(urls);
  FreeAll(urls);
  want.push_back("select * from NetSource_info");
  ASSERT_TRUE(m.GetNetSource(u, net));
  want.push_back(F("select * from NetSource_info where id = %d", net));
  ASSERT_TRUE(m.FindNetSourceByUrl("rtmp://in/net", found));
  want.push_back("select * from NetSource_info where url='rtmp://in/net'");

  u.url = "/media/a.flv";
  u.alias = "file";
  int file = 0;
  ASSERT_TRUE(m.InsertFileSource(u, file));
  want.push_back("insert into FileSource_info (url,alias) values ('/media/a.flv','file')");
  ASSERT_TRUE(m.UpdateFileSource(u, file));
  want.push_back(F("update FileSource_info set url='/media/a.flv',alias='file' where id=%d", file));
  m.GetAllFileSources(urls);
  FreeAll(urls);
  want.push_back("select * from FileSource_info");
  ASSERT_TRUE(m.GetFileSource(u, file));
  want.push_back(F("select * from FileSource_info where id = %d", file));
  ASSERT_TRUE(m.FindFileSourceByUrl("/media/a.flv", found));
  want.push_back("select * from FileSource_info where url = '/media/a.flv'");

  struct Source {
    LiveSourceType type;
    int id;
    const char* table;
  };
  const Source sources[] = {{LIVE_TYPE_DEVICE, dev, "DeviceSource_info"},
                            {LIVE_TYPE_NET, net, "NetSource_info"},
                            {LIVE_TYPE_FILE, file, "FileSource_info"},
                            {LIVE_TYPE_SUBSTREAM, subId, "SubStream_info"}};
  for (const Source& src : sources) {
    LiveStatusInfo ls;
    ls.id = src.id;
    ls.type = src.type;
    ls.live_url = "rtmp://l/x";
    ls.status = 1;
    ASSERT_TRUE(m.UpdateLiveStatus(ls));
    want.push_back(F("UPDATE %s set live_url='rtmp://l/x',status=1  where id=%d", src.table, src.id));
  }
  LiveStatusInfo none;
  EXPECT_FALSE(m.UpdateLiveStatus(none));  // no table: nothing reaches the server

  // Tasks on each kind of source, read back joined with it.
  std::vector<int> forwards, records;
  for (const Source& src : sources) {
    ForwardTaskInfo f;
    f.forward_url = "rtmp://out/a";
    f.live_id = src.id;
    f.buffer_enabled = 1;
    f.buffer_time = 30;
    f.buffer_type = 1;
    f.slice_seconds = 10;
    f.status = 0;
    int fwd = 0;
    ASSERT_TRUE(m.InsertForwardTask(f, fwd, src.type));
    forwards.push_back(fwd);
    want.push_back(F("insert into forward_task (forward_url, live_id, buffer_enabled,buffer_time,buffer_type,"
                     "slice_seconds,status ) values ('rtmp://out/a', %d, 1, 30, 1, 10,0)",
                     src.id));
    ASSERT_TRUE(m.GetForwardTaskWithSource(f, fwd));
    want.push_back(F("select * from forward_task where id = %d", fwd));
    want.push_back(F("select * from forward_task, %s where forward_task.id = %d and forward_task.live_id = %s.id",
                     src.table, fwd, src.table));
    std::deque<ForwardTaskInfo*> fl;
    ASSERT_TRUE(m.GetForwardTasksOfLive(fl, src.id, src.type));
    FreeAll(fl);
    want.push_back(F("select * from forward_task, %s where forward_task.live_id = %s.id and live_id=%d", src.table,
                     src.table, src.id));

    RecordTaskInfo r;
    r.name = "news";
    r.fileType = 1;
    r.recordType = 0;
    r.saveFolder = "/rec";
    r.startTime = "19:00:00";
    r.endTime = "19:30:00";
    r.days_of_week = "1;2;3;4;5";
    r.fileMod = 1;
    r.direMod = 0;
    r.live_id = src.id;
    r.status = 0;
    int rec = 0;
    ASSERT_TRUE(m.InsertRecordTask(r, rec, src.type));
    records.push_back(rec);
    want.push_back(F("insert into record_task (name,fileType, recordType, saveFolder, startTime, endTime, "
                     "days_of_week,fileMod,direMod, live_id,status) values ('news',1, 0, '/rec', '19:00:00', "
                     "'19:30:00', '1;2;3;4;5', 1,0,%d,0)",
                     src.id));
    ASSERT_TRUE(m.GetRecordTaskWithSource(r, rec));
    want.push_back(F("select * from record_task where id = %d", rec));
    want.push_back(F("select * from record_task, %s where record_task.id = %d and record_task.live_id = %s.id",
                     src.table, rec, src.table));
    std::deque<RecordTaskInfo*> rl;
    ASSERT_TRUE(m.GetRecordTasksOfLive(rl, src.id, src.type));
    FreeAll(rl);
    want.push_back(F("select * from record_task, %s where record_task.live_id = %s.id and live_id=%d", src.table,
                     src.table, src.id));
    ASSERT_TRUE(m.GetScheduledRecordTasks(rl, src.type));
    FreeAll(rl);
    want.push_back(F("select * from record_task, %s where record_task.recordType= 0 and record_task.live_id = %s.id",
                     src.table, src.table));
  }
  std::deque<ForwardTaskInfo*> fl;
  ASSERT_TRUE(m.GetForwardTasksOfLive(fl, net, LIVE_TYPE_NONE));
  FreeAll(fl);
  want.push_back(F("select * from forward_task where live_id=%d", net));
  std::deque<RecordTaskInfo*> rl;
  ASSERT_TRUE(m.GetRecordTasksOfLive(rl, net, LIVE_TYPE_NONE));
  FreeAll(rl);
  want.push_back(F("select * from record_task where live_id=%d", net));

  ForwardTaskInfo f;
  f.live_id = net;
  f.forward_url = "rtmp://out/a";
  ASSERT_TRUE(m.FindForwardTask(f, found));
  want.push_back(F("select * from forward_task where live_id = %d and forward_url = 'rtmp://out/a'", net));
  f.forward_url = "rtmp://out/b";
  f.buffer_enabled = 0;
  f.buffer_time = 5;
  f.buffer_type = 0;
  f.slice_seconds = 2;
  f.status = 1;
  ASSERT_TRUE(m.UpdateForwardTask(f, forwards[1]));
  want.push_back(F("Update forward_task set forward_url='rtmp://out/b', buffer_enabled =0, buffer_time=5 ,"
                   "buffer_type=0, slice_seconds=2,status = 1 where id = %d",
                   forwards[1]));
  ASSERT_TRUE(m.GetForwardTask(f, forwards[1]));
  want.push_back(F("select * from forward_task where id = %d", forwards[1]));
  int liveId = 0;
  ASSERT_TRUE(m.GetForwardTaskLiveId(forwards[1], liveId));
  want.push_back(F("select * from forward_task where id = %d", forwards[1]));
  m.SetAllForwardTasksStatus();
  want.push_back("UPDATE forward_task set status=1");

  RecordTaskInfo r;
  r.live_id = net;
  r.fileType = 1;
  r.saveFolder = "/rec";
  ASSERT_TRUE(m.FindRecordTask(r, found));
  want.push_back(F("select * from record_task where (live_id=%d and fileType=1 and saveFolder='/rec')", net));
  r.name = "late";
  r.recordType = 1;
  r.startTime = "22:00:00";
  r.endTime = "23:00:00";
  r.days_of_week = "6;7";
  r.fileMod = 0;
  r.direMod = 1;
  r.status = 1;
  ASSERT_TRUE(m.UpdateRecordTask(r, records[1]));
  want.push_back(F("Update record_task set name='late',fileType = 1, recordType=1, saveFolder='/rec', "
                   "startTime='22:00:00', endTime='23:00:00', days_of_week = '6;7',fileMod = 0,direMod=1,"
                   "live_id=%d,status=1 where id = %d",
                   net, records[1]));
  ASSERT_TRUE(m.GetRecordTask(r, records[1]));
  want.push_back(F("select * from record_task where id = %d", records[1]));
  ASSERT_TRUE(m.GetRecordTaskLiveId(records[1], liveId));
  want.push_back(F("select * from record_task where id = %d", records[1]));
  ASSERT_TRUE(m.UpdateTaskStatus(forwards[0], 1, 0));
  want.push_back(F("UPDATE forward_task set status=0  where id=%d", forwards[0]));
  ASSERT_TRUE(m.UpdateTaskStatus(records[0], 2, 1));
  want.push_back(F("UPDATE record_task set status=1  where id=%d", records[0]));
  EXPECT_FALSE(m.UpdateTaskStatus(records[0], 3, 1));

  IxoPullInfo p;
  p.url = "rtmp://in/pull";
  p.listenPort = 1000;
  p.videoTransfer = true;
  p.vFormat = "H264";
  p.vColor = "YUVJ420P";
  p.width = 640;
  p.height = 360;
  p.frameRate = 25;
  p.gop = 50;
  p.vBitRate = 500000;
  p.audioTransfer = true;
  p.aFormat = "AAC";
  p.sampleRate = "44100";
  p.aBitRate = 64000;
  p.aChannel = 2;
  int pull = 0;
  ASSERT_TRUE(m.InsertIxoPull(p, pull));
  want.push_back(
      "insert into IXOPull (url,listenPort, videoTransfer, vFormat,vColor, width,height,frameRate,gop,vBitRate,"
      "audioTransfer,aFormat,sampleRate,aBitRate, aChannel)\t\t\t\t  values "
      "('rtmp://in/pull',1000,1,'H264','YUVJ420P',640,360,25,50,500000,1,'AAC','44100',64000,2)");
  ASSERT_TRUE(m.GetIxoPull(p, pull));
  want.push_back(F("select * from IXOPull where id = %d", pull));
  ASSERT_TRUE(m.DeleteIxoPull(pull));
  want.push_back(F("delete from IXOPull where id = %d", pull));
  m.DeleteAllIxoPull();
  want.push_back("delete from IXOPull");

  ASSERT_TRUE(m.DeleteForwardTask(forwards[0]));
  want.push_back(F("delete from forward_task where id = %d", forwards[0]));
  ASSERT_TRUE(m.DeleteRecordTask(records[0]));
  want.push_back(F("delete from record_task where id = %d", records[0]));
  for (const Source& src : sources) {
    ASSERT_TRUE(m.DeleteLiveItem(src.id, src.type));
    want.push_back(F("delete from %s where id = %d", src.table, src.id));
  }
  EXPECT_FALSE(m.DeleteLiveItem(dev, LIVE_TYPE_NONE));

  // The log as hex, so that tabs and line breaks survive the client.
  CommandResult log = s.Sql(
      "select hex(argument) from mysql.general_log where command_type='Query' and user_host like 'velvanet[%'");
  ASSERT_EQ(log.status, 0) << log.output;
  s.Sql("SET GLOBAL general_log=0");
  std::vector<std::string> got;
  std::istringstream lines(log.output);
  for (std::string line; std::getline(lines, line);) {
    std::string text;
    for (size_t i = 0; i + 1 < line.size(); i += 2) text += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    got.push_back(text);
  }
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  std::vector<std::string> missing, unexpected;
  std::set_difference(want.begin(), want.end(), got.begin(), got.end(), std::back_inserter(missing));
  std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(unexpected));
  EXPECT_TRUE(missing.empty()) << testing::PrintToString(missing);
  EXPECT_TRUE(unexpected.empty()) << testing::PrintToString(unexpected);
  EXPECT_EQ(got.size(), want.size());
}

INSTANTIATE_TEST_SUITE_P(Backends, DbManagerTest, testing::Values(DbKind::SQLite, DbKind::MariaDB), DbKindName);

}  // namespace
