// Delayed publishing end to end: a stream made by ffmpeg is pushed into a
// publish output in real time, nginx-rtmp passes it on, and a playing RTMP
// client notes what arrives when.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "core/Paths.h"
#include "media/FLVReader.h"
#include "media/StreamOutput.h"
#include "tests/media/FlvTags.h"
#include "tests/media/FlvTestFiles.h"
#include "tests/media/RtmpSink.h"
#include "tests/tools/NginxRtmp.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono_literals;
using rtmptest::NowMs;
using rtmptest::RtmpSink;
using rtmptest::SinkMessage;
using vvtest::FlvTag;

namespace {

IoBuffer* FromTag(const FlvTag& t, int64_t ts) {
  IoBuffer* p = new IoBuffer(static_cast<int>(t.body.size()) + 1);
  p->Write(t.body.data(), static_cast<int>(t.body.size()));
  p->SetType(t.type);
  p->SetTimestamp(ts);
  return p;
}

struct Pushed {
  int type;
  int64_t ts;      // timestamp handed to the output
  int64_t due;     // when it was due by its timestamp (never after tick)
  int64_t tick;    // when it was pushed (late by however long the feeder was held up)
  uint32_t size;
  uint64_t hash;
  size_t index;    // position among the pushed packets
};

// A test pattern whose frames never repeat, with a tone.
std::vector<FlvTag> MakeSource(const std::string& dir, double seconds) {
  std::string src = dir + "/source.flv";
  auto r = vvtest::Run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
                       "sine=frequency=440:sample_rate=44100 -t " + std::to_string(seconds) +
                       " -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 64k " +
                       vvtest::ShellQuote(src), true);
  if (r.status != 0) return {};
  return vvtest::ReadFlvTags(src);
}

// Pushes the media's frames into the output in real time, the way a
// channel does, and remembers when each went in.
class Feeder {
 public:
  explicit Feeder(std::vector<FlvTag> media) : tags(std::move(media)) {
    for (const FlvTag& t : tags) {
      if (t.IsSequenceHeader() && t.type == 9 && !videoHeader) videoHeader = &t;
      if (t.IsSequenceHeader() && t.type == 8 && !audioHeader) audioHeader = &t;
      if ((t.type == 8 || t.type == 9) && !t.IsSequenceHeader()) frames.push_back(&t);
    }
  }
  void SetHeaders(StreamOutput& out) const {
    std::unique_ptr<IoBuffer> v(FromTag(*videoHeader, 0)), a(FromTag(*audioHeader, 0));
    out.SetVideoHeader(v.get());
    out.SetAudioHeader(a.get());
  }
  // Frames whose timestamps lie in [from, to) of the media, pushed with
  // their timestamps shifted by shift, at real-time pace from now.
  void Push(StreamOutput& out, int64_t from, int64_t to, int64_t shift) {
    int64_t start = NowMs();
    for (const FlvTag* t : frames) {
      if (t->timestamp < from || t->timestamp >= to) continue;
      int64_t due = start + (t->timestamp - from);
      while (NowMs() < due) std::this_thread::sleep_for(1ms);
      std::unique_ptr<IoBuffer> p(FromTag(*t, t->timestamp + shift));
      out.PushPacket(p.get());
      pushed.push_back({t->type, t->timestamp + shift, due, NowMs(), static_cast<uint32_t>(t->body.size()),
                        rtmptest::BodyHash(t->body.data(), t->body.size()), pushed.size()});
    }
  }
  std::vector<FlvTag> tags;
  const FlvTag* videoHeader = nullptr;
  const FlvTag* audioHeader = nullptr;
  std::vector<const FlvTag*> frames;
  std::vector<Pushed> pushed;
};

bool IsFrame(const SinkMessage& m) { return m.second == 1; }

// Pairs every video frame that arrived with the pushed frame it is, by its
// bytes and order. Unmatched arrivals map to nullptr. Session 0 takes the
// frames of every session of the sink.
std::vector<std::pair<SinkMessage, const Pushed*>> MatchVideo(const std::vector<SinkMessage>& got,
                                                              const std::vector<Pushed>& pushed, int session) {
  std::vector<std::pair<SinkMessage, const Pushed*>> out;
  size_t next = 0;
  for (const SinkMessage& m : got) {
    if ((session != 0 && m.session != session) || m.type != 9 || !IsFrame(m)) continue;
    const Pushed* found = nullptr;
    for (size_t i = next; i < pushed.size(); ++i) {
      if (pushed[i].type == 9 && pushed[i].size == m.size && pushed[i].hash == m.hash) {
        found = &pushed[i];
        next = i + 1;
        break;
      }
    }
    out.push_back({m, found});
  }
  return out;
}

class DelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!vvtest::NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
    SetAppDir(dir.path());
    server = std::make_unique<vvtest::NginxRtmp>();
    ASSERT_TRUE(server->Start()) << server->ErrorLog();
  }
  void TearDown() override { SetAppDir(""); }
  std::unique_ptr<StreamOutput> Publish(int id, const std::string& stream, int bufferTime, int type, int slice) {
    ForwardTaskInfo row;
    row.buffer_enabled = 1;
    row.buffer_time = bufferTime;
    row.buffer_type = type;
    row.slice_seconds = slice;
    auto out = std::make_unique<StreamOutput>(id, server->Url(stream), StreamOutput::kPublish, &row, nullptr);
    out->Start();
    EXPECT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, 20s)) << server->ErrorLog();
    return out;
  }
  std::string SliceFolder(int id) const { return dir.path() + "/temp/" + std::to_string(id); }
  // Waits until the slice writer has written all it will: at least `least`
  // slices listed, less than one slice length (1 s here) left queued, and
  // the list unchanged for a second.
  static bool SlicesSettle(StreamOutput& out, size_t least) {
    size_t listed = 0;
    auto changed = std::chrono::steady_clock::now();
    bool settled = vvtest::WaitFor([&] {
      TaskStatus s = *out.CheckStatus();
      auto now = std::chrono::steady_clock::now();
      if (s.sliceList.size() != listed) {
        listed = s.sliceList.size();
        changed = now;
        return false;
      }
      return listed >= least && s.delay <= 1000 && now - changed >= 1s;
    }, 60s);
    EXPECT_TRUE(settled) << listed << " slices listed";
    return settled;
  }

  vvtest::TempDir dir{"vv-delay"};
  std::unique_ptr<vvtest::NginxRtmp> server;
};

TEST_F(DelayTest, MemoryDelayHoldsTheStreamBackFiveSeconds) {
  Feeder feed(MakeSource(dir.path(), 8.0));
  ASSERT_TRUE(feed.videoHeader && feed.audioHeader);
  RtmpSink sink(server->Url("mem"));
  auto out = Publish(31, "mem", 5, 0, 0);
  feed.SetHeaders(*out);
  int64_t started = NowMs();
  feed.Push(*out, 0, 8000, 0);
  // Nothing leaves before the delay; all but the last 5 s leave after it.
  ASSERT_TRUE(vvtest::WaitFor([&] { return sink.Count() > 0; }, 15s));
  auto got = sink.Messages();
  EXPECT_GE(got.front().arrival - started, 4900);
  EXPECT_FALSE(std::filesystem::exists(SliceFolder(31)));

  auto matched = MatchVideo(got, feed.pushed, 1);
  ASSERT_GT(matched.size(), 50u);
  for (const auto& [m, p] : matched) {
    ASSERT_NE(p, nullptr) << "frame of " << m.size << " bytes at " << m.timestamp << " was never pushed";
    // The published timeline is the pushed one (the first packet sent is
    // the video header at timestamp 0).
    EXPECT_EQ(static_cast<int64_t>(m.timestamp), p->ts);
    // A frame leaves once one more than 5 s newer was pushed, which was
    // never before that one's due time; the feeder or the machine running
    // late only adds to the delay.
    EXPECT_GE(m.arrival - p->due, 5000) << "frame at " << p->ts;
    EXPECT_LE(m.arrival - p->tick, 5800) << "frame at " << p->ts;
  }
  // The status reports about 5 s buffered.
  EXPECT_GE(out->CheckStatus()->delay, 4800);
}

TEST_F(DelayTest, FileDelayPlaysSlicesOnOneTimelineAcrossAServerRestart) {
  const int id = 32;
  Feeder feed(MakeSource(dir.path(), 30.0));
  ASSERT_TRUE(feed.videoHeader && feed.audioHeader);
  RtmpSink sink(server->Url("file"));
  auto out = Publish(id, "file", 6, 1, 2);
  feed.SetHeaders(*out);

  // Keep a copy of every slice the writer lists before the player deletes it.
  std::atomic<bool> watching{true};
  std::vector<std::string> copies;
  std::thread watcher([&] {
    std::set<std::string> seen;
    while (watching) {
      for (const std::string& path : out->CheckStatus()->sliceList) {
        if (!seen.insert(path).second) continue;
        std::string copy = dir.file("slice-" + std::to_string(seen.size()) + ".flv");
        std::error_code ec;
        if (std::filesystem::copy_file(path, copy, ec)) copies.push_back(copy);
      }
      std::this_thread::sleep_for(20ms);
    }
  });

  feed.Push(*out, 0, 13000, 0);
  size_t beforeRestart = feed.pushed.size();
  ASSERT_TRUE(server->Restart()) << server->ErrorLog();
  feed.Push(*out, 13000, 30000, 0);
  ASSERT_TRUE(vvtest::WaitFor([&] { return sink.Sessions() >= 2; }, 15s));
  std::this_thread::sleep_for(500ms);
  watching = false;
  watcher.join();
  auto got = sink.Messages();
  out.reset();

  // Before the restart: each frame arrives once, 6 s after it was pushed
  // (the player waits for the delay, then plays slices back to back), on
  // the pushed timeline.
  auto first = MatchVideo(got, feed.pushed, 1);
  ASSERT_GT(first.size(), 100u);
  int64_t offset = 0;
  bool haveOffset = false;
  for (const auto& [m, p] : first) {
    ASSERT_NE(p, nullptr) << "frame of " << m.size << " bytes at " << m.timestamp << " was never pushed";
    if (p->index >= beforeRestart) break;
    if (!haveOffset) {
      offset = p->ts - m.timestamp;
      haveOffset = true;
    }
    EXPECT_EQ(static_cast<int64_t>(m.timestamp) + offset, p->ts) << "timeline slipped at " << p->ts;
    // Playback starts 6 s after the first push and is paced by the
    // timestamps from there, so no frame comes before its due time plus the
    // delay.
    EXPECT_GE(m.arrival - p->due, 5990) << "frame at " << p->ts;
    EXPECT_LE(m.arrival - p->tick, 6800) << "frame at " << p->ts;
  }

  // After the restart a new connection starts its timeline at 0 and it
  // stays continuous, slice after slice. (The sink may have given up on a
  // silent session and come back in another one before the stream resumed.)
  std::vector<std::pair<SinkMessage, const Pushed*>> second;
  for (const auto& match : MatchVideo(got, feed.pushed, 0))
    if (match.first.session >= 2) second.push_back(match);
  ASSERT_GT(second.size(), 50u);
  EXPECT_LT(second.front().first.timestamp, 1000u);
  for (size_t i = 1; i < second.size(); ++i) {
    ASSERT_NE(second[i].second, nullptr);
    int64_t step = static_cast<int64_t>(second[i].first.timestamp) - second[i - 1].first.timestamp;
    EXPECT_GE(step, 0) << "at " << second[i].first.timestamp;
    EXPECT_LE(step, 120) << "at " << second[i].first.timestamp;
  }

  // The slices are FLV files: ffprobe reads them, each starts with the two
  // sequence headers at 0 and its timestamps never decrease.
  ASSERT_GE(copies.size(), 8u);
  for (const std::string& c : copies) {
    SCOPED_TRACE(c);
    auto probe = flvtest::ProbePackets(c);
    EXPECT_GT(probe.size(), 20u);
    auto r = vvtest::Run("ffprobe -v error -of csv=p=0 -show_entries stream=codec_name " +
                         vvtest::ShellQuote(c));
    // (A slice may begin inside a group of pictures: it is cut by time, and
    // playback runs on across slices.)
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "h264\naac\n");
    FLVReader reader(c, false);
    std::unique_ptr<Tag> v(reader.ReadNextTag()), a(reader.ReadNextTag());
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->GetType(), 9);
    EXPECT_EQ(v->GetBody()->GetData()[1], 0);
    EXPECT_EQ(v->GetTimestamp(), 0u);
    EXPECT_EQ(a->GetType(), 8);
    EXPECT_EQ(a->GetBody()->GetData()[1], 0);
    uint32_t last = 0;
    int64_t span = 0;
    while (std::unique_ptr<Tag> t{reader.ReadNextTag()}) {
      EXPECT_GE(t->GetTimestamp(), last);
      last = t->GetTimestamp();
      span = last;
    }
    EXPECT_LE(span, 2200);
  }
}

TEST_F(DelayTest, FileDelayOfTwentySecondsInTenSecondSlices) {
  const int id = 35;
  Feeder feed(MakeSource(dir.path(), 42.0));
  ASSERT_TRUE(feed.videoHeader && feed.audioHeader);
  auto out = Publish(id, "long", 20, 1, 10);
  feed.SetHeaders(*out);
  feed.Push(*out, 0, 15000, 0);
  // The first slice is written once 10 s of stream are queued and waits
  // for the delay to pass; the rest of the stream is still queued.
  TaskStatus* status = out->CheckStatus();
  ASSERT_EQ(status->sliceList.size(), 1u);
  EXPECT_EQ(status->sliceList.front().rfind(SliceFolder(id) + "/", 0), 0u) << status->sliceList.front();
  EXPECT_GE(status->delay, 3000);
  EXPECT_LE(status->delay, 6000);
  // The player joins a little before playback begins (a player that hears
  // nothing for its read time-out goes away).
  RtmpSink sink(server->Url("long"));
  feed.Push(*out, 15000, 42000, 0);
  // Three slices play back to back: wait for the end of the third.
  auto reached = [&](int64_t ts) {
    for (const auto& [m, p] : MatchVideo(sink.Messages(), feed.pushed, 0))
      if (p && p->ts >= ts) return true;
    return false;
  };
  ASSERT_TRUE(vvtest::WaitFor([&] { return reached(29500); }, 30s));
  auto got = sink.Messages();
  out.reset();

  auto matched = MatchVideo(got, feed.pushed, 0);
  ASSERT_FALSE(matched.empty());
  ASSERT_NE(matched.front().second, nullptr);
  const int64_t offset = matched.front().second->ts - matched.front().first.timestamp;
  std::set<size_t> arrived;
  for (size_t i = 0; i < matched.size(); ++i) {
    const auto& [m, p] = matched[i];
    ASSERT_NE(p, nullptr) << "frame of " << m.size << " bytes at " << m.timestamp << " was never pushed";
    arrived.insert(p->index);
    // One timeline across the slices, and every frame held back by the
    // delay, not by the delay minus what the slices before it lost.
    EXPECT_EQ(static_cast<int64_t>(m.timestamp) + offset, p->ts) << "timeline slipped at " << p->ts;
    EXPECT_GE(m.arrival - p->due, 19990) << "frame at " << p->ts;
    EXPECT_LE(m.arrival - p->tick, 20800) << "frame at " << p->ts;
    if (i > 0) {
      int64_t step = static_cast<int64_t>(m.timestamp) - matched[i - 1].first.timestamp;
      EXPECT_GE(step, 0) << "at " << m.timestamp;
      EXPECT_LE(step, 120) << "at " << m.timestamp;
    }
  }
  // Nothing is lost at the slice boundaries.
  size_t video = 0, seen = 0;
  for (const Pushed& p : feed.pushed) {
    if (p.type != 9 || p.ts > 29500) continue;
    ++video;
    seen += arrived.count(p.index);
  }
  EXPECT_GE(seen, video * 98 / 100) << seen << " of " << video;
}

TEST_F(DelayTest, RestartedTimestampsLetOlderPacketsLeaveAtOnce) {
  // The source reopens without an end of stream and its timestamps start
  // again far below the queued ones (here from 0 after 2^32 + 100 s): the
  // queued packets are due at once, not after the clock catches up.
  const int64_t before = (int64_t(1) << 32) + 100000;
  Feeder feed(MakeSource(dir.path(), 4.0));
  ASSERT_TRUE(feed.videoHeader && feed.audioHeader);
  std::vector<const FlvTag*> video;
  for (const FlvTag* t : feed.frames)
    if (t->type == 9) video.push_back(t);
  ASSERT_GE(video.size(), 78u);
  struct Case {
    int id;
    const char* stream;
    int bufferTime;
    int type;
    int slice;
  };
  for (const Case& c : {Case{36, "restart-mem", 5, 0, 0}, Case{37, "restart-file", 30, 1, 10}}) {
    SCOPED_TRACE(c.stream);
    auto out = Publish(c.id, c.stream, c.bufferTime, c.type, c.slice);
    feed.SetHeaders(*out);
    size_t next = 0;
    auto push = [&](int64_t ts) {
      std::unique_ptr<IoBuffer> p(FromTag(*video[next++], ts));
      out->PushPacket(p.get());
    };
    // 3 s of stream: less than the delay and the slice length.
    for (int i = 0; i < 75; ++i) push(before + 40 * i);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(out->QueueSize(), 75);
    EXPECT_TRUE(out->CheckStatus()->sliceList.empty());
    for (int i = 0; i < 3; ++i) push(40 * i);
    if (c.type == 0) {
      // Everything older leaves; the new packets wait for the delay.
      ASSERT_TRUE(vvtest::WaitFor([&] { return out->QueueSize() == 3; }, 10s)) << out->QueueSize();
    } else {
      // The older packets make a slice at once, closed by the first new one.
      ASSERT_TRUE(vvtest::WaitFor([&] { return out->CheckStatus()->sliceList.size() == 1; }, 10s));
      EXPECT_EQ(out->QueueSize(), 2);
      FLVReader reader(out->CheckStatus()->sliceList.front(), false);
      int tags = 0;
      uint32_t last = 0;
      while (std::unique_ptr<Tag> t{reader.ReadNextTag()}) {
        ++tags;
        EXPECT_GE(t->GetTimestamp(), last);
        last = t->GetTimestamp();
      }
      EXPECT_EQ(tags, 2 + 75 + 1);  // the two sequence headers first
      EXPECT_EQ(last, 74u * 40);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(out->QueueSize(), c.type == 0 ? 3 : 2);
    EXPECT_TRUE(out->IsConnected());
  }
}

TEST_F(DelayTest, FileTypeWithoutDelayTimeRunsOnlyThePump) {
  Feeder feed(MakeSource(dir.path(), 1.0));
  ASSERT_TRUE(feed.videoHeader && feed.audioHeader);
  auto out = Publish(39, "zero", 0, 1, 10);
  feed.SetHeaders(*out);
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<IoBuffer> p(FromTag(*feed.frames[i], 40 * i));
    out->PushPacket(p.get());
  }
  // Without delay a packet leaves as soon as a later one has come.
  ASSERT_TRUE(vvtest::WaitFor([&] { return out->QueueSize() == 1; }, 20s)) << out->QueueSize();
  EXPECT_EQ(out->GetState(), kTaskRunning);
  EXPECT_TRUE(out->CheckStatus()->sliceList.empty());
  EXPECT_FALSE(std::filesystem::exists(SliceFolder(39)));
}

TEST_F(DelayTest, StoppingWhileSlicesAreWrittenLeavesWholeSliceFiles) {
  const int id = 38;
  auto out = Publish(id, "stop", 30, 1, 1);
  IoBuffer videoHeader;
  for (uint8_t b : {0x17, 0x00, 0x00, 0x00, 0x00, 0x01, 0x42}) videoHeader.WriteUInt8(b);
  videoHeader.SetType(9);
  out->SetVideoHeader(&videoHeader);
  // 120 s of stream at once: the writer is still turning it into slices
  // when the output stops.
  std::vector<uint8_t> body(8000, 0x55);
  for (int i = 0; i < 3000; ++i) {
    IoBuffer p;
    p.WriteUInt8(i % 25 == 0 ? 0x17 : 0x27);
    p.Write(body.data(), static_cast<int>(body.size()));
    p.SetType(9);
    p.SetTimestamp(40 * i);
    out->PushPacket(&p);
  }
  ASSERT_TRUE(vvtest::WaitFor([&] { return !out->CheckStatus()->sliceList.empty(); }, 20s));
  out.reset();
  // Every slice on disk ends with a whole tag and its PreviousTagSize.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SliceFolder(id))) {
    SCOPED_TRACE(entry.path().string());
    ++files;
    int64_t size = static_cast<int64_t>(std::filesystem::file_size(entry.path()));
    FLVReader reader(entry.path().string(), false);
    int64_t end = 13;
    int tags = 0;
    for (;;) {
      int64_t position = reader.GetPosition();
      std::unique_ptr<Tag> t(reader.ReadNextTag());
      if (!t) break;
      ++tags;
      end = position + 15 + t->GetDataSize() + 4;
    }
    EXPECT_GE(tags, 1);  // at least the sequence header the slice starts with
    EXPECT_EQ(end, size);
  }
  EXPECT_GE(files, 1);
}

TEST_F(DelayTest, SlicesSurviveAnEndOfStreamAFullDiskAndARemovedFolder) {
  const int id = 33;
  Feeder feed(MakeSource(dir.path(), 16.0));
  ASSERT_TRUE(feed.videoHeader && feed.audioHeader);
  RtmpSink sink(server->Url("odd"));
  auto out = Publish(id, "odd", 3, 1, 1);
  feed.SetHeaders(*out);
  std::vector<size_t> marks;  // index of the first packet pushed in each phase
  auto phase = [&](int64_t from, int64_t to, int64_t shift) {
    marks.push_back(feed.pushed.size());
    feed.Push(*out, from, to, shift);
  };

  phase(0, 3000, 0);
  // The source ends and starts again with fresh timestamps.
  IoBuffer eos;
  eos.SetType(3);
  eos.SetTimestamp(3000);
  out->PushPacket(&eos);
  feed.SetHeaders(*out);
  phase(3000, 6000, -3000);
  {
    // A full disk: no file of this process may grow past 4 KiB.
    signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    phase(6000, 8000, -3000);
    setrlimit(RLIMIT_FSIZE, &saved);
  }
  EXPECT_TRUE(out->IsRunning());
  phase(8000, 13000, -3000);
  // The slice folder goes away, with the slices waiting in it.
  std::filesystem::remove_all(SliceFolder(id));
  phase(13000, 16000, -3000);
  marks.push_back(feed.pushed.size());
  std::this_thread::sleep_for(4500ms);
  EXPECT_TRUE(out->IsConnected());
  auto got = sink.Messages();
  out.reset();

  auto matched = MatchVideo(got, feed.pushed, 1);
  std::set<size_t> arrived;
  for (const auto& [m, p] : matched)
    if (p) arrived.insert(p->index);
  // Share of the video frames pushed in [from, to) of a phase (in ms from
  // the phase's start) that reached the sink.
  auto share = [&](int phaseIndex, int64_t fromMs, int64_t toMs) {
    size_t all = 0, seen = 0;
    int64_t start = feed.pushed[marks[phaseIndex]].tick;
    for (size_t i = marks[phaseIndex]; i < marks[phaseIndex + 1]; ++i) {
      const Pushed& p = feed.pushed[i];
      if (p.type != 9 || p.tick - start < fromMs || p.tick - start >= toMs) continue;
      ++all;
      seen += arrived.count(i);
    }
    return all ? static_cast<double>(seen) / all : 0.0;
  };
  // Before and after the end of stream everything arrives: the end of
  // stream closed a slice, it did not cut the playback of one short.
  EXPECT_GE(share(0, 0, 3000), 0.95);
  EXPECT_GE(share(1, 0, 1500), 0.95);
  // What came while slices could not be written is gone, give or take the
  // slices at the edges (a slice is written a slice length after its first
  // packet came); afterwards slices are written again.
  EXPECT_LE(share(2, 0, 2000), 0.6);
  EXPECT_GE(share(3, 1000, 2000), 0.95);
  // Slices waiting in a removed folder are lost; the folder is made again.
  // (The last slice length of the stream never leaves the queue: a slice
  // starts only once the queue spans more than one.)
  EXPECT_GE(share(4, 1000, 2000), 0.9);
  // One timeline at the sink throughout.
  for (size_t i = 1; i < matched.size(); ++i) {
    int64_t step = static_cast<int64_t>(matched[i].first.timestamp) - matched[i - 1].first.timestamp;
    EXPECT_GE(step, 0);
    EXPECT_LE(step, 1200);
  }
}

TEST_F(DelayTest, SliceTimestampsRiseFromZeroAndSkipClockJumps) {
  const int id = 34;
  // A long delay: the slices stay listed while they are looked at.
  auto out = Publish(id, "rules", 30, 1, 1);
  IoBuffer videoHeader, audioHeader;
  for (uint8_t b : {0x17, 0x00, 0x00, 0x00, 0x00, 0x01, 0x42}) videoHeader.WriteUInt8(b);
  videoHeader.SetType(9);
  for (uint8_t b : {0xAF, 0x00, 0x12, 0x10}) audioHeader.WriteUInt8(b);
  audioHeader.SetType(8);
  out->SetVideoHeader(&videoHeader);
  out->SetAudioHeader(&audioHeader);

  // Video every 40 ms, each followed by audio 20 ms behind it; at 1500 ms
  // the source's clock jumps 100 s ahead. The run is 49.7 days old and
  // crosses 2^32 ms on the way, where 32-bit timestamps wrap.
  std::vector<std::vector<uint8_t>> bodies;
  int64_t clock = (int64_t(1) << 32) - 1000;
  for (int i = 0; i < 100; ++i) {
    if (i == 38) clock += 100000;
    int64_t ts = clock + 40 * i;
    for (int type : {9, 8}) {
      IoBuffer p;
      p.WriteUInt8(type == 9 ? 0x27 : 0xAF);
      p.WriteUInt8(0x01);
      p.WriteUInt32(static_cast<uint32_t>(bodies.size()));
      p.SetType(type);
      p.SetTimestamp(type == 9 ? ts : ts - 20);
      bodies.emplace_back(p.GetData(), p.GetData() + p.GetSize());
      out->PushPacket(&p);
    }
  }
  // The writer may start while packets are still pushed (audio behind video
  // gives a moment with the newest packet older than the oldest queued), so
  // its slices can be short and many: wait until it has written all it will,
  // less than one slice length left queued and the list unchanged for a while.
  ASSERT_TRUE(SlicesSettle(*out, 3));
  std::list<std::string> slices = out->CheckStatus()->sliceList;
  for (const std::string& path : slices) EXPECT_EQ(path.rfind(SliceFolder(id) + "/", 0), 0u) << path;

  size_t next = 0;
  int64_t timeline = 0;
  for (const std::string& path : slices) {
    SCOPED_TRACE(path);
    EXPECT_EQ(std::filesystem::path(path).extension(), ".flv");
    EXPECT_EQ(std::filesystem::path(path).stem().string().size(), 32u);
    FLVReader reader(path, false);
    std::vector<std::unique_ptr<Tag>> tags;
    while (Tag* t = reader.ReadNextTag()) tags.emplace_back(t);
    ASSERT_GE(tags.size(), 3u);
    EXPECT_EQ(tags[0]->GetType(), 9);
    EXPECT_EQ(tags[0]->GetTimestamp(), 0u);
    EXPECT_EQ(tags[0]->GetBody()->GetSize(), videoHeader.GetSize());
    EXPECT_EQ(tags[1]->GetType(), 8);
    EXPECT_EQ(tags[1]->GetTimestamp(), 0u);
    uint32_t last = 0;
    for (size_t i = 2; i < tags.size(); ++i) {
      IoBuffer* b = tags[i]->GetBody();
      ASSERT_LT(next, bodies.size());
      EXPECT_EQ(std::vector<uint8_t>(b->GetData(), b->GetData() + b->GetSize()), bodies[next]) << "tag " << i;
      ++next;
      EXPECT_GE(tags[i]->GetTimestamp(), last) << "tag " << i;
      last = tags[i]->GetTimestamp();
    }
    // One slice length, plus the gap to the slice before.
    EXPECT_LE(last, 1100u);
    timeline += last;
  }
  // The jump is not played as a 100 s pause: the slices span what the
  // stream spans without it (3960 ms), less what is still queued.
  EXPECT_GE(timeline, 1900);
  EXPECT_LE(timeline, 4000);
  // The files stay until the output's next start and are then cleared.
  out.reset();
  for (const std::string& path : slices) EXPECT_TRUE(std::filesystem::exists(path));
  auto again = Publish(id, "rules", 30, 1, 1);
  for (const std::string& path : slices) EXPECT_FALSE(std::filesystem::exists(path));
}

// A stream pushed as it arrives, audio 20 ms behind the video frame pushed
// before it: each slice still holds one slice length of stream, never a
// couple of packets cut off where the newest packet is slightly older than
// the oldest queued one.
TEST_F(DelayTest, AudioBehindVideoStillGivesWholeSlices) {
  const int id = 35;
  auto out = Publish(id, "lag", 30, 1, 1);
  for (int i = 0; i < 90; ++i) {
    for (int type : {9, 8}) {
      IoBuffer p;
      p.WriteUInt8(type == 9 ? (i % 25 == 0 ? 0x17 : 0x27) : 0xAF);
      p.WriteUInt8(0x01);
      p.WriteUInt32(static_cast<uint32_t>(i));
      p.SetType(type);
      p.SetTimestamp(1000 + 40 * i - (type == 9 ? 0 : 20));
      out->PushPacket(&p);
    }
    std::this_thread::sleep_for(40ms);
  }
  ASSERT_TRUE(SlicesSettle(*out, 2));
  std::list<std::string> slices = out->CheckStatus()->sliceList;
  // 3.6 s of stream in slices of 1 s, less than one slice left queued.
  EXPECT_LE(slices.size(), 3u);
  for (const std::string& path : slices) {
    SCOPED_TRACE(path);
    FLVReader reader(path, false);
    std::vector<std::unique_ptr<Tag>> tags;
    while (Tag* t = reader.ReadNextTag()) tags.emplace_back(t);
    ASSERT_FALSE(tags.empty());
    EXPECT_GE(tags.back()->GetTimestamp(), 960u);
    EXPECT_GE(tags.size(), 48u);  // 25 frames and their audio
  }
}

}  // namespace
