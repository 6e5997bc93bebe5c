// Stream output: intake, meter, status, and RTMP publishing against a real
// nginx-rtmp server.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include <librtmp/log.h>

#include "core/FileUtil.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "media/RtmpSession.h"
#include "media/StreamOutput.h"
#include "tests/media/FlvTags.h"
#include "tests/media/StallingRelay.h"
#include "tests/tools/NginxRtmp.h"
#include "tests/tools/TestUtil.h"

using namespace vvtest;
using namespace std::chrono_literals;

namespace {

IoBuffer* MakePacket(int type, int64_t ts, int bytes, uint8_t first = 0x27) {
  IoBuffer* p = new IoBuffer(bytes);
  for (int i = 0; i < bytes; ++i) p->WriteUInt8(i == 0 ? first : 1);
  p->SetType(type);
  p->SetTimestamp(ts);
  return p;
}

IoBuffer* FromTag(const FlvTag& t) {
  IoBuffer* p = new IoBuffer(static_cast<int>(t.body.size()) + 1);
  p->Write(t.body.data(), static_cast<int>(t.body.size()));
  p->SetType(t.type);
  p->SetTimestamp(t.timestamp);
  return p;
}

struct Media {
  std::vector<FlvTag> tags;
  const FlvTag* videoHeader = nullptr;
  const FlvTag* audioHeader = nullptr;
};

// Hands the media's headers to the output and pushes its frames in real
// time (speed times faster), offset by base milliseconds.
void Feed(StreamOutput& out, const Media& m, double speed = 1.0, int64_t base = 0,
          const std::function<bool()>& keepGoing = [] { return true; }) {
  if (m.videoHeader) {
    std::unique_ptr<IoBuffer> h(FromTag(*m.videoHeader));
    out.SetVideoHeader(h.get());
  }
  if (m.audioHeader) {
    std::unique_ptr<IoBuffer> h(FromTag(*m.audioHeader));
    out.SetAudioHeader(h.get());
  }
  auto start = std::chrono::steady_clock::now();
  for (const FlvTag& t : m.tags) {
    if ((t.type != 8 && t.type != 9) || t.IsSequenceHeader()) continue;
    if (!keepGoing()) break;
    auto due = start + std::chrono::milliseconds(static_cast<int64_t>(t.timestamp / speed));
    std::this_thread::sleep_until(due);
    std::unique_ptr<IoBuffer> p(FromTag(t));
    p->SetTimestamp(p->GetTimestamp() + base);
    out.PushPacket(p.get());
  }
}

Media LoadMedia(const std::string& dir, double seconds) {
  Media m;
  m.tags = MakeFlvSource(dir, seconds);
  for (const FlvTag& t : m.tags) {
    if (t.IsSequenceHeader() && t.type == 9 && !m.videoHeader) m.videoHeader = &t;
    if (t.IsSequenceHeader() && t.type == 8 && !m.audioHeader) m.audioHeader = &t;
  }
  return m;
}

struct Probe {
  std::string codecs;  // "h264,aac" in stream order as ffprobe lists them
  int videoPackets = 0;
  int audioPackets = 0;
  bool dtsMonotonic = true;
  bool decodesClean = false;
  std::string raw;
};

Probe ProbeFile(const std::string& path) {
  Probe p;
  auto streams = Run("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + ShellQuote(path));
  for (char c : streams.output) p.codecs += c == '\n' ? ',' : c;
  if (!p.codecs.empty() && p.codecs.back() == ',') p.codecs.pop_back();
  auto packets =
      Run("ffprobe -v error -show_entries packet=codec_type,dts -of csv=p=0 " + ShellQuote(path));
  p.raw = packets.output;
  long lastV = -1000000, lastA = -1000000;
  size_t pos = 0;
  while (pos < packets.output.size()) {
    size_t end = packets.output.find('\n', pos);
    if (end == std::string::npos) end = packets.output.size();
    std::string line = packets.output.substr(pos, end - pos);
    pos = end + 1;
    size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    std::string kind = line.substr(0, comma);
    long dts = atol(line.c_str() + comma + 1);
    long& last = kind == "video" ? lastV : lastA;
    if (dts < last) p.dtsMonotonic = false;
    last = dts;
    (kind == "video" ? p.videoPackets : p.audioPackets)++;
  }
  auto dec = Run("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -f null - 2>&1");
  p.decodesClean = dec.status == 0 && dec.output.empty();
  if (!p.decodesClean) p.raw += dec.output;
  return p;
}

}  // namespace

// ------------------------------------------------------------ without a server

TEST(StreamOutputTest, PushWhileNotConnectedChangesNothing) {
  StreamOutput out(5, "rtmp://127.0.0.1:1/live/x", StreamOutput::kPublish, nullptr, nullptr);
  std::unique_ptr<IoBuffer> header(MakePacket(9, 0, 10, 0x17));
  out.SetVideoHeader(header.get());
  std::unique_ptr<IoBuffer> p(MakePacket(9, 40, 384));
  out.PushPacket(p.get());
  std::unique_ptr<IoBuffer> eos(MakePacket(3, 0, 0));
  out.PushPacket(eos.get());
  out.UpdateBitrate();
  EXPECT_EQ(out.QueueSize(), 0);
  EXPECT_EQ(out.GetAvgKbps(), 0);
  // An end of stream pushed while not connected keeps the stored header.
  EXPECT_TRUE(out.HasVideoHeader());
  EXPECT_EQ(out.CheckStatus()->delay, 0);
}

TEST(StreamOutputTest, StatusByModeWithoutConnection) {
  struct Case {
    int mode;
    bool start;
    int state;
    const char* message;
  } cases[] = {
      {StreamOutput::kPublish, false, kTaskFailed, "pull stream error"},
      {StreamOutput::kRelay, false, kTaskFailed, "send IXO stream error because haven't stream"},
      {StreamOutput::kRecord, false, kTaskIdle, "pull stream error"},
      {7, false, kTaskIdle, ""},
  };
  for (const Case& c : cases) {
    StreamOutput out(1, "", c.mode, nullptr, nullptr);
    TaskStatus* s = out.CheckStatus();
    EXPECT_EQ(s->state, c.state) << "mode " << c.mode;
    EXPECT_EQ(s->message, c.message) << "mode " << c.mode;
    EXPECT_EQ(s->rate, 0);
    EXPECT_TRUE(s->sliceList.empty());
  }
  StreamOutput rec(1, "", StreamOutput::kRecord, nullptr, nullptr);
  EXPECT_EQ(rec.CheckStatus()->fileSize, -1);
}

TEST(StreamOutputTest, RefusedConnectionReportsPushErrorAndStopsQuickly) {
  int port = FreePort();  // nothing listens there
  auto out = std::make_unique<StreamOutput>(3, "rtmp://127.0.0.1:" + std::to_string(port) + "/live/s",
                                            StreamOutput::kPublish, nullptr, nullptr);
  out->Start();
  std::this_thread::sleep_for(300ms);
  TaskStatus* s = out->CheckStatus();
  EXPECT_EQ(s->state, kTaskFailed);
  EXPECT_EQ(s->message, "push stream error");
  auto t0 = std::chrono::steady_clock::now();
  out.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);
}

// Which threads Start brings up for the delay settings of a publishing
// output: the pump unless the delay is held in files; a slice folder only
// for a file delay, emptied of what an earlier run left there.
TEST(StreamOutputTest, StartPicksThePumpOrTheSliceThreads) {
  struct Case {
    int bufferTime, bufferType;
    int threads;  // besides the publisher
    bool folder;
  } cases[] = {{0, 0, 1, false}, {0, 1, 1, false}, {-1, 1, 1, false}, {2, 0, 1, false}, {2, 1, 2, true}};
  std::string url = "rtmp://127.0.0.1:" + std::to_string(FreePort()) + "/live/s";
  int id = 700000 + static_cast<int>(getpid() % 100000);
  // Warm-up: a runtime may add a helper thread on the first thread start.
  StreamOutput(id, url, StreamOutput::kPublish, nullptr, nullptr).Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bufferTime) + "/" + std::to_string(c.bufferType));
    std::string folder = MakeTempFolder() + "/" + std::to_string(id);
    FileUtil::DeletePath(folder);
    if (c.folder) {
      ASSERT_TRUE(FileUtil::CreateDirectories(folder));
      std::ofstream(folder + "/stale.flv") << "x";
    }
    ForwardTaskInfo delay;
    delay.buffer_enabled = 1;
    delay.buffer_time = c.bufferTime;
    delay.buffer_type = c.bufferType;
    delay.slice_seconds = 5;
    int before = SettledThreadCount();
    {
      StreamOutput out(id, url, StreamOutput::kPublish, &delay, nullptr);
      ASSERT_TRUE(out.Start());
      EXPECT_TRUE(WaitFor([&] { return CountThreads() == before + 1 + c.threads; }, std::chrono::seconds(20)))
          << CountThreads();
      EXPECT_EQ(FileUtil::IsDirectory(folder), c.folder);
      EXPECT_FALSE(FileUtil::FileExists(folder + "/stale.flv"));
    }
    FileUtil::DeletePath(folder);
  }
}

// Delay settings as the forward dialog takes or refuses them: a refused row
// names the dialog's reason, and an output told so starts nothing.
TEST(StreamOutputTest, DelaySettingsTheDialogRefusesKeepTheOutputDown) {
  struct Case {
    int enabled, bufferTime, bufferType, slice;
    const char* reason;
  } cases[] = {
      {0, 0, 1, 0, ""},  // no delay: the delay fields are not looked at
      {1, 30, 0, 0, ""},
      {1, 31, 0, 0, "超过30秒不能使用内存缓存"},
      {1, 20, 1, 10, ""},
      {1, 20, 1, 9, "文件切片时间不能少于10秒"},
      {1, 20, 1, 0, "文件切片时间不能少于10秒"},
      {1, 20, 1, 20, "文件切片时间必须小于延时时间"},
      {1, 5, 1, 100000, "文件切片时间必须小于延时时间"},
      {1, 0, 1, 10, "延时时间不正确"},
      {1, -20, 1, 10, "延时时间不正确"},
      {1, 1000000001, 1, 10, "延时时间不正确"},
  };
  for (const Case& c : cases) {
    ForwardTaskInfo row;
    row.buffer_enabled = c.enabled;
    row.buffer_time = c.bufferTime;
    row.buffer_type = c.bufferType;
    row.slice_seconds = c.slice;
    SCOPED_TRACE(std::to_string(c.enabled) + "/" + std::to_string(c.bufferTime) + "/" +
                 std::to_string(c.bufferType) + "/" + std::to_string(c.slice));
    EXPECT_EQ(StreamOutput::ForwardDelayProblem(row), c.reason);
  }
  int before = SettledThreadCount();
  ForwardTaskInfo row;
  row.buffer_enabled = 1;
  row.buffer_time = 20;
  row.buffer_type = 1;
  row.slice_seconds = 0;
  StreamOutput out(7, "rtmp://127.0.0.1:1/live/x", StreamOutput::kPublish, &row, nullptr);
  out.RefuseStart(StreamOutput::ForwardDelayProblem(row));
  EXPECT_FALSE(out.Start());
  EXPECT_FALSE(out.IsRunning());
  EXPECT_EQ(CountThreads(), before);
  TaskStatus* s = out.CheckStatus();
  EXPECT_EQ(s->state, kTaskFailed);
  EXPECT_EQ(s->message, "文件切片时间不能少于10秒");
}

// A URL the library refuses, at every 2 s attempt: the whole URL and the
// library's option help went into the log each time. Now the failure and the
// library's lines are written once (each line cut to a bounded length).
TEST(StreamOutputTest, ARefusedUrlIsLoggedOnceNotAtEveryAttempt) {
  TempDir logDir("vvlog");
  std::string oldLog = GetLogFileName();
  SetLogFileName(logDir.file("v.log"));
  // The library's own level as the program sets it (a playing test client
  // may have turned it down).
  RtmpSession::GlobalInit();
  RTMP_LogSetLevel(RTMP_LOGINFO);
  std::string url = "rtmp://127.0.0.1:" + std::to_string(FreePort()) + "/live/s";
  while (url.size() < 5000) url += " junk=" + std::string(90, 'j');
  auto out = std::make_unique<StreamOutput>(8, url, StreamOutput::kPublish, nullptr, nullptr);
  out->Start();
  // Six attempts or more.
  std::this_thread::sleep_for(std::chrono::milliseconds(6 * StreamOutput::kReconnectMs + 1000));
  EXPECT_FALSE(out->IsConnected());
  out.reset();
  SetLogFileName(oldLog);
  std::string log = ReadFileText(logDir.file("v.log"));
  size_t attempts = 0, longest = 0;
  for (size_t at = 0; (at = log.find("cannot set up RTMP URL", at)) != std::string::npos; ++at) ++attempts;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) longest = std::max(longest, line.size());
  printf("log: %zu bytes, %zu lines naming the URL, longest line %zu bytes\n", log.size(), attempts, longest);
  EXPECT_EQ(attempts, 1u);
  // The library still says why, once.
  EXPECT_NE(log.find("librtmp: "), std::string::npos) << log;
  EXPECT_LT(longest, 1024u);
  EXPECT_LT(log.size(), 8192u) << log;
}

TEST(StreamOutputTest, StopEndsAHandshakeThatNeverAnswers) {
  // A listener that never accepts: the kernel completes TCP, the RTMP
  // handshake then waits for an answer that never comes.
  int port = 0;
  int fd = ListenLoopback(&port);
  ASSERT_GE(fd, 0);
  auto out = std::make_unique<StreamOutput>(3, "rtmp://127.0.0.1:" + std::to_string(port) + "/live/s",
                                            StreamOutput::kPublish, nullptr, nullptr);
  out->Start();
  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(out->IsConnected());
  auto t0 = std::chrono::steady_clock::now();
  out.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);
  close(fd);
}

// ------------------------------------------------------------ against nginx-rtmp

class StreamOutputRtmpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
    NginxRtmp::Options o;
    o.record = true;
    server = std::make_unique<NginxRtmp>(o);
    ASSERT_TRUE(server->Start()) << server->ErrorLog();
  }
  std::unique_ptr<StreamOutput> Publish(const std::string& stream, const ForwardTaskInfo* delay = nullptr) {
    auto out = std::make_unique<StreamOutput>(11, server->Url(stream), StreamOutput::kPublish, delay, nullptr);
    out->Start();
    EXPECT_TRUE(WaitFor([&] { return out->IsConnected(); }, 20s)) << server->ErrorLog();
    return out;
  }
  TempDir dir{"vvout"};
  std::unique_ptr<NginxRtmp> server;
};

TEST_F(StreamOutputRtmpTest, PublishedStreamArrivesWithHeadersAndDecodes) {
  Media m = LoadMedia(dir.path(), 2.0);
  ASSERT_TRUE(m.videoHeader && m.audioHeader);
  auto out = Publish("a");
  Feed(*out, m, 2.0);
  std::this_thread::sleep_for(200ms);
  out->UpdateBitrate();
  TaskStatus* s = out->CheckStatus();
  EXPECT_EQ(s->state, kTaskRunning);
  EXPECT_GT(s->rate, 0);
  out.reset();  // unpublish: nginx closes the recording
  ASSERT_TRUE(WaitFor([&] { return !server->Recordings().empty(); }, 15s));
  std::string rec = server->Recordings().front();
  ASSERT_TRUE(WaitFor([&] { return ProbeFile(rec).videoPackets > 0; }, 15s));
  Probe p = ProbeFile(rec);
  EXPECT_EQ(p.codecs, "h264,aac");
  EXPECT_TRUE(p.dtsMonotonic);
  EXPECT_TRUE(p.decodesClean) << p.raw;
  int videoIn = 0;
  for (const FlvTag& t : m.tags) videoIn += t.type == 9 && !t.IsSequenceHeader();
  // The newest packet waits in the queue for a later one.
  EXPECT_GE(p.videoPackets, videoIn - 2);
  EXPECT_LE(p.videoPackets, videoIn);
  // The recorded stream starts at 0: the first packet of a connection is
  // the time base.
  std::vector<FlvTag> tags = ReadFlvTags(rec);
  for (const FlvTag& t : tags)
    if (t.type == 9) {
      EXPECT_LT(t.timestamp, 100u);
      break;
    }
}

TEST_F(StreamOutputRtmpTest, PumpHoldsTheNewestPacketAndReportsWaiting) {
  auto out = Publish("b");
  Media m = LoadMedia(dir.path(), 1.0);
  ASSERT_TRUE(m.videoHeader);
  std::unique_ptr<IoBuffer> h(FromTag(*m.videoHeader));
  out->SetVideoHeader(h.get());
  std::vector<const FlvTag*> frames;
  for (const FlvTag& t : m.tags)
    if (t.type == 9 && !t.IsSequenceHeader()) frames.push_back(&t);
  ASSERT_GE(frames.size(), 3u);
  std::unique_ptr<IoBuffer> first(FromTag(*frames[0]));
  out->PushPacket(first.get());
  // Equal timestamps wait as well.
  std::unique_ptr<IoBuffer> same(FromTag(*frames[1]));
  same->SetTimestamp(first->GetTimestamp());
  out->PushPacket(same.get());
  EXPECT_TRUE(WaitFor([&] { return out->GetState() == kTaskWaiting; }, 15s));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(out->QueueSize(), 2);
  EXPECT_EQ(out->GetState(), kTaskWaiting);
  std::unique_ptr<IoBuffer> later(FromTag(*frames[2]));
  out->PushPacket(later.get());
  ASSERT_TRUE(WaitFor([&] { return out->QueueSize() == 1; }, 15s));
  // The state follows the send, a moment after the packet left the queue.
  EXPECT_TRUE(WaitFor([&] { return out->GetState() == kTaskRunning; }, 15s));
  EXPECT_EQ(out->CheckStatus()->delay, 0);
}

TEST_F(StreamOutputRtmpTest, MeterAveragesThreeSeconds) {
  auto out = Publish("c");
  std::unique_ptr<IoBuffer> p(MakePacket(9, 0, 384));  // 3072 bits
  out->PushPacket(p.get());
  const int expected[] = {1, 1, 1, 0};
  for (int e : expected) {
    out->UpdateBitrate();
    EXPECT_EQ(out->GetAvgKbps(), e);
  }
}

// Connected: no data counted reads as a pulling failure; with data the
// output's own state shows, and the last error text stays beside it.
TEST_F(StreamOutputRtmpTest, StatusWhileConnectedFollowsTheMeter) {
  auto out = Publish("s");
  TaskStatus* s = out->CheckStatus();
  EXPECT_EQ(s->state, kTaskFailed);
  EXPECT_EQ(s->rate, 0);
  EXPECT_EQ(s->message, "pull stream error");
  std::unique_ptr<IoBuffer> p(MakePacket(9, 0, 384, 0x17));  // 3072 bits, held back as the newest
  out->PushPacket(p.get());
  ASSERT_TRUE(WaitFor([&] { return out->GetState() == kTaskWaiting; }, 15s));
  out->UpdateBitrate();
  s = out->CheckStatus();
  EXPECT_EQ(s->rate, 1);
  EXPECT_EQ(s->state, kTaskWaiting);
  EXPECT_EQ(s->message, "pull stream error");
}

TEST_F(StreamOutputRtmpTest, MemoryDelayHoldsPacketsBack) {
  ForwardTaskInfo delay;
  delay.buffer_enabled = 1;
  delay.buffer_time = 1;
  delay.buffer_type = 0;
  Media m = LoadMedia(dir.path(), 2.0);
  std::vector<const FlvTag*> frames;
  for (const FlvTag& t : m.tags)
    if (t.type == 9 && !t.IsSequenceHeader()) frames.push_back(&t);
  std::unique_ptr<IoBuffer> h(FromTag(*m.videoHeader));
  // A run that has gone on for more than 2^31 ms must still be delayed.
  const struct {
    const char* stream;
    int64_t offset;
  } cases[] = {{"d", 0}, {"d-long-run", (int64_t{1} << 31) + 5000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stream);
    auto out = Publish(c.stream, &delay);
    out->SetVideoHeader(h.get());
    // 1.5 s of video pushed at once, then nothing: what is more than 1000 ms
    // older than the newest leaves at once; the rest stays queued until the
    // delay has passed since it came in, timed by the stream's clock, and
    // then leaves although nothing newer comes (an input that stops does
    // not hold the last of its stream back, or let it go early).
    const auto pushed = std::chrono::steady_clock::now();
    auto sincePush = [&] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - pushed).count();
    };
    int64_t newest = 0;
    for (const FlvTag* t : frames) {
      if (t->timestamp > 1500) break;
      std::unique_ptr<IoBuffer> p(FromTag(*t));
      p->SetTimestamp(t->timestamp + c.offset);
      out->PushPacket(p.get());
      newest = t->timestamp;
    }
    int held = 0;
    for (const FlvTag* t : frames)
      if (t->timestamp <= newest && newest - static_cast<int64_t>(t->timestamp) <= 1000) ++held;
    ASSERT_TRUE(WaitFor([&] { return out->QueueSize() <= held; }, 15s)) << out->QueueSize() << " vs " << held;
    const int queued = out->QueueSize();
    const int bufferedMs = out->CheckStatus()->delay;
    const int64_t early = sincePush();
    // Held frames that may have come due by now.
    int due = 0;
    for (const FlvTag* t : frames) {
      const int64_t age = newest - static_cast<int64_t>(t->timestamp);
      if (t->timestamp <= newest && age <= 1000 && age > 1000 - early - 50) ++due;
    }
    EXPECT_GE(queued, held - due) << "after " << early << " ms";
    EXPECT_GE(bufferedMs, 900 - early - 50);
    ASSERT_TRUE(WaitFor([&] { return out->QueueSize() == 0; }, 15s)) << out->QueueSize();
    EXPECT_GE(sincePush(), 950);
  }
}

TEST_F(StreamOutputRtmpTest, EndOfStreamClosesTheConnectionAndHeadersAreSentAgain) {
  Media m = LoadMedia(dir.path(), 1.0);
  auto out = Publish("e");
  Feed(*out, m, 4.0);
  std::unique_ptr<IoBuffer> eos(MakePacket(3, 0, 0));
  out->PushPacket(eos.get());
  EXPECT_FALSE(out->HasVideoHeader());
  EXPECT_FALSE(out->HasAudioHeader());
  // A later packet lets the end of stream leave the queue.
  std::unique_ptr<IoBuffer> later(MakePacket(9, 5000, 20));
  out->PushPacket(later.get());
  ASSERT_TRUE(WaitFor([&] { return !out->IsConnected(); }, 15s));
  // The sender empties the queue right after it let the connection go.
  EXPECT_TRUE(WaitFor([&] { return out->QueueSize() == 0; }, 15s));
  // The publisher comes back within its reconnect interval; the next run is
  // a separate, complete stream.
  ASSERT_TRUE(WaitFor([&] { return out->IsConnected(); }, 8s));
  Feed(*out, m, 4.0);
  std::this_thread::sleep_for(200ms);
  out.reset();
  ASSERT_TRUE(WaitFor([&] { return server->Recordings().size() >= 2; }, 15s));
  Probe p = ProbeFile(server->Recordings().back());
  EXPECT_EQ(p.codecs, "h264,aac");
  EXPECT_TRUE(p.decodesClean) << p.raw;
}

TEST_F(StreamOutputRtmpTest, ServerRestartReconnectsWithHeadersFirst) {
  Media m = LoadMedia(dir.path(), 1.0);
  auto out = Publish("f");
  Feed(*out, m, 2.0);
  ASSERT_TRUE(server->Restart()) << server->ErrorLog();
  // The loss is noticed at the next send; keep the stream flowing the way a
  // channel does.
  std::atomic<bool> feeding{true};
  std::thread feeder([&] {
    int64_t span = 0;
    for (const FlvTag& t : m.tags) span = std::max<int64_t>(span, t.timestamp);
    int64_t base = span + 40;
    while (feeding) {
      Feed(*out, m, 2.0, base, [&] { return feeding.load(); });
      base += span + 40;
    }
  });
  bool dropped = WaitFor([&] { return !out->IsConnected(); }, 8s);
  bool back = WaitFor([&] { return out->IsConnected(); }, 6s);
  std::this_thread::sleep_for(1500ms);
  feeding = false;
  feeder.join();
  out.reset();
  ASSERT_TRUE(dropped);
  ASSERT_TRUE(back);
  ASSERT_TRUE(WaitFor([&] { return server->Recordings().size() >= 2; }, 15s));
  std::string rec = server->Recordings().back();
  Probe p = ProbeFile(rec);
  EXPECT_EQ(p.codecs, "h264,aac");
  EXPECT_GT(p.videoPackets, 10);
  EXPECT_TRUE(p.dtsMonotonic);
  EXPECT_TRUE(p.decodesClean) << p.raw;
  // The new connection carries the sequence headers before any frame.
  std::vector<FlvTag> tags = ReadFlvTags(rec);
  for (const FlvTag& t : tags) {
    if (t.type != 8 && t.type != 9) continue;
    EXPECT_TRUE(t.IsSequenceHeader()) << "first media tag is a frame";
    break;
  }
}

TEST(StreamOutputRefusedTest, RefusedPublishReportsFailure) {
  if (!NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
  NginxRtmp::Options o;
  o.applicationConfig = "deny publish all;";
  NginxRtmp server(o);
  ASSERT_TRUE(server.Start()) << server.ErrorLog();
  StreamOutput out(4, server.Url("x"), StreamOutput::kPublish, nullptr, nullptr);
  out.Start();
  // nginx lets the publish start before its access check refuses it and
  // drops the connection: the publisher notices at its next check.
  EXPECT_TRUE(WaitFor([&] { return server.ErrorLog().find("access forbidden") != std::string::npos; }, 6s))
      << server.ErrorLog();
  EXPECT_TRUE(WaitFor([&] { return !out.IsConnected() && out.CheckStatus()->message == "push stream error"; }, 20s));
  EXPECT_EQ(out.CheckStatus()->state, kTaskFailed);
  // It keeps trying: the server sees a second attempt after the interval.
  EXPECT_TRUE(WaitFor(
      [&] {
        std::string log = server.ErrorLog();
        size_t first = log.find("access forbidden");
        return first != std::string::npos && log.find("access forbidden", first + 1) != std::string::npos;
      },
      6s))
      << server.ErrorLog();
}

TEST_F(StreamOutputRtmpTest, BacklogIsBoundedAndDropsToAKeyFrame) {
  Media m = LoadMedia(dir.path(), 2.0);
  ASSERT_TRUE(m.videoHeader && m.audioHeader);
  TempDir logDir("vvlog");
  std::string oldLog = GetLogFileName();
  SetLogFileName(logDir.file("v.log"));
  StallingRelay relay(server->port());
  auto out = std::make_unique<StreamOutput>(11, relay.Url("g"), StreamOutput::kPublish, nullptr, nullptr);
  out->Start();
  ASSERT_TRUE(WaitFor([&] { return out->IsConnected(); }, 30s)) << server->ErrorLog();
  std::unique_ptr<IoBuffer> vh(FromTag(*m.videoHeader));
  std::unique_ptr<IoBuffer> ah(FromTag(*m.audioHeader));
  out->SetVideoHeader(vh.get());
  out->SetAudioHeader(ah.get());
  // The link stalls: the sender blocks once the socket buffers between it and
  // the server are full. How much those take depends on the kernel's buffer
  // tuning, so the stream goes on arriving until the queue holds clearly more
  // than the 10 s the output may keep (16 s of it, 8 rounds of 2 s).
  relay.Stall(true);
  int64_t span = 0;
  int perRound = 0;
  for (const FlvTag& t : m.tags) {
    span = std::max<int64_t>(span, t.timestamp);
    perRound += (t.type == 8 || t.type == 9) && !t.IsSequenceHeader();
  }
  int pushed = 0;
  int queuedMost = 0;
  int round = 0;
  for (; round < 400 && queuedMost <= 8 * perRound; ++round) {
    for (const FlvTag& t : m.tags) {
      if ((t.type != 8 && t.type != 9) || t.IsSequenceHeader()) continue;
      std::unique_ptr<IoBuffer> p(FromTag(t));
      p->SetTimestamp(t.timestamp + round * (span + 40));
      out->PushPacket(p.get());
      pushed += t.type == 9;
    }
    queuedMost = std::max(queuedMost, out->QueueSize());
  }
  ASSERT_GT(queuedMost, 8 * perRound) << "the stalled link never blocked the sender in " << round << " rounds";
  // A later packet lets the newest ones leave too.
  std::unique_ptr<IoBuffer> last(MakePacket(8, round * (span + 40) + 100, 8, 0xAF));
  out->PushPacket(last.get());
  relay.Stall(false);
  ASSERT_TRUE(WaitFor([&] { return out->QueueSize() <= 1; }, 60s))
      << out->QueueSize() << " connected " << out->IsConnected() << " pushed " << pushed << " most queued "
      << queuedMost;
  EXPECT_TRUE(out->IsConnected());
  out.reset();
  SetLogFileName(oldLog);
  EXPECT_NE(ReadFileText(logDir.file("v.log")).find("dropped"), std::string::npos) << "most queued " << queuedMost;
  ASSERT_TRUE(WaitFor([&] { return !server->Recordings().empty(); }, 30s));
  Probe p = ProbeFile(server->Recordings().back());
  EXPECT_LT(p.videoPackets, pushed);
  EXPECT_GT(p.videoPackets, 0);
  EXPECT_TRUE(p.decodesClean) << p.raw;
}

TEST_F(StreamOutputRtmpTest, StartStopCyclesReturnThreadsAndDescriptors) {
  // Warm up process-wide state (library set-up, log) before the baseline.
  Publish("warm").reset();
  int fds = CountOpenFds();
  int threads = SettledThreadCount();
  for (int i = 0; i < 50; ++i) {
    auto out = std::make_unique<StreamOutput>(20 + i, server->Url("cycle"), StreamOutput::kPublish, nullptr,
                                              nullptr);
    out->Start();
    if (i % 2 == 0) {
      ASSERT_TRUE(WaitFor([&] { return out->IsConnected(); }, 20s)) << "cycle " << i;
    }
  }
  EXPECT_TRUE(WaitFor([&] { return CountThreads() == threads; }, 10s)) << CountThreads() << " vs " << threads;
  EXPECT_TRUE(WaitFor([&] { return CountOpenFds() == fds; }, 10s)) << CountOpenFds() << " vs " << fds;
}
