// The Ixo relay: record format, header order, and a stream rebuilt from the
// records that ffprobe reads.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "core/IoBuffer.h"
#include "media/RelayLink.h"
#include "media/StreamOutput.h"
#include "tests/media/RelayClient.h"
#include "tests/media/RecordMedia.h"
#include "tests/tools/TestUtil.h"

using vvtest::FlvTag;
using vvtest::RelayRecord;

namespace {

std::unique_ptr<IoBuffer> TagPacket(int type, int64_t timestamp, std::vector<uint8_t> body) {
  auto b = std::make_unique<IoBuffer>();
  b->Write(body.data(), static_cast<int>(body.size()));
  b->SetType(type);
  b->SetTimestamp(timestamp);
  return b;
}

std::unique_ptr<IoBuffer> TagPacket(const FlvTag& t) { return TagPacket(t.type, t.timestamp, t.body); }

}  // namespace

TEST(RelayFeedTest, HeadersAndTimestamps) {
  auto aHeader = TagPacket(8, 0, {0xAF, 0x00, 0x12, 0x10});
  auto vHeader = TagPacket(9, 0, {0x17, 0x00, 0, 0, 0, 1, 2});
  struct Step {
    int type;
    int64_t ts;
    bool audioStored, videoStored;
    bool key = true;  // video: a key frame
  };
  struct Expect {
    uint32_t ts;
    uint8_t kind;
    size_t size;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::vector<Expect> records;
  } cases[] = {
      {"one header before the first audio only",
       {{8, 1000, true, true}, {8, 1023, true, true}},
       {{0, 0, 4}, {0, 0, 3}, {23, 0, 3}}},
      {"video header before the first video; ends of stream send nothing and the next run carries on",
       {{8, 500, true, true}, {3, 510, true, true}, {9, 540, true, true}, {9, 580, true, true}},
       {{0, 0, 4}, {0, 0, 3}, {0, 1, 7}, {1, 1, 3}, {41, 1, 3}}},
      {"a header stored late goes before the next packet of its kind",
       {{9, 0, false, false}, {9, 40, false, true}, {9, 80, false, true}},
       {{0, 1, 3}, {0, 1, 7}, {40, 1, 3}, {80, 1, 3}}},
      {"the first packet taken sets the time base, an end of stream too",
       {{3, 100, false, false}, {8, 130, false, false}},
       {{30, 0, 3}}},
      {"timestamps wrap modulo 2^32",
       {{8, 10, false, false}, {8, 10 + (int64_t(1) << 32) + 5, false, false}},
       {{0, 0, 3}, {5, 0, 3}}},
      {"a packet older than the base is 0, never a wrapped time",
       {{9, 1000, false, false}, {8, 800, false, false}, {8, 1010, false, false}},
       {{0, 1, 3}, {0, 0, 3}, {10, 0, 3}}},
      {"an input read again from its start keeps the times rising",
       {{8, 19000, false, false}, {8, 19760, false, false}, {3, 19800, false, false}, {8, 0, false, false},
        {8, 23, false, false}, {3, 40, false, false}, {8, 5, false, false}},
       {{0, 0, 3}, {760, 0, 3}, {761, 0, 3}, {784, 0, 3}, {785, 0, 3}}},
      {"video starts at a key frame; audio does not wait for it",
       {{9, 0, false, true, false}, {8, 10, false, true}, {9, 40, false, true, false}, {9, 80, false, true},
        {9, 120, false, true, false}},
       {{10, 0, 3}, {0, 1, 7}, {80, 1, 3}, {120, 1, 3}}},
  };
  for (const Case& c : cases) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    RelayFeed feed;
    for (const Step& s : c.steps) {
      auto p = TagPacket(s.type, s.ts, {uint8_t(s.type == 8 ? 0xAF : s.key ? 0x17 : 0x27), 0x01, 0x00});
      ASSERT_TRUE(feed.Send(sv[0], *p, s.audioStored ? aHeader.get() : nullptr,
                            s.videoStored ? vHeader.get() : nullptr));
    }
    close(sv[0]);
    std::vector<RelayRecord> got = vvtest::ReadRelayRecords(sv[1]);
    close(sv[1]);
    ASSERT_EQ(got.size(), c.records.size()) << c.what;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].timestamp, c.records[i].ts) << c.what << " #" << i;
      EXPECT_EQ(got[i].kind, c.records[i].kind) << c.what << " #" << i;
      EXPECT_EQ(got[i].body.size(), c.records[i].size) << c.what << " #" << i;
    }
  }
}

TEST(RelayLinkTest, BusyPortAndStoppedWait) {
  SetRelayBindAddress("127.0.0.1");
  int port = vvtest::FreePort();
  int first = RelayListen(port);
  ASSERT_GE(first, 0);
  EXPECT_EQ(RelayListen(port), -1);  // already listened on
  bool failed = true;
  auto begin = std::chrono::steady_clock::now();
  int waited = 0;
  EXPECT_EQ(RelayAccept(first, [&] { return ++waited < 3; }, &failed), -1);
  EXPECT_FALSE(failed);
  // Ends within a few 100 ms checks, not when a client comes (none will).
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  close(first);
  EXPECT_EQ(RelayListen(0), -1);
}

// Tags of an ffmpeg-made FLV go out as records; the client rebuilds an FLV
// from them, and ffprobe reads H.264 and AAC of the source's length, cleanly.
TEST(RelayLinkTest, RecordsRebuildAPlayableStream) {
  SetRelayBindAddress("127.0.0.1");
  vvtest::TempDir dir;
  std::vector<FlvTag> tags = vvtest::MakeFlvSource(dir.path(), 3);
  ASSERT_FALSE(tags.empty());
  int port = vvtest::FreePort();
  int listener = RelayListen(port);
  ASSERT_GE(listener, 0);
  std::thread server([&] {
    bool failed = false;
    int fd = RelayAccept(listener, [] { return true; }, &failed);
    std::unique_ptr<IoBuffer> aHeader, vHeader;
    RelayFeed feed;
    for (const FlvTag& t : tags) {
      if (t.type == 8 && t.IsSequenceHeader()) {
        aHeader = TagPacket(t);
      } else if (t.type == 9 && t.IsSequenceHeader()) {
        vHeader = TagPacket(t);
      } else if (t.type == 8 || t.type == 9) {
        if (!feed.Send(fd, *TagPacket(t), aHeader.get(), vHeader.get())) break;
      }
    }
    close(fd);
  });
  int client = vvtest::ConnectLoopback(port, 5000);
  ASSERT_GE(client, 0);
  std::vector<RelayRecord> records = vvtest::ReadRelayRecords(client);
  close(client);
  server.join();
  close(listener);
  ASSERT_GE(records.size(), 2u);
  std::string out = dir.file("rebuilt.flv");
  ASSERT_TRUE(vvtest::WriteFlvTags(out, vvtest::TagsFromRecords(records)));
  vvtest::ProbeResult r = vvtest::ProbeMedia(out);
  EXPECT_EQ(r.videoCodec, "h264");
  EXPECT_EQ(r.audioCodec, "aac");
  EXPECT_EQ(r.decodeErrors, "");
  vvtest::CommandResult d = vvtest::Run("ffprobe -v error -show_entries packet=pts_time -select_streams v -of csv=p=0 " +
                                        vvtest::ShellQuote(out) + " | tail -1");
  EXPECT_NEAR(atof(d.output.c_str()), 3.0, 1.0);
}

// ---------------------------------------------------------------- the output

namespace {

struct EndedLog {
  std::atomic<int> last{0};
  std::atomic<int> count{0};
  EndedLog() {
    SetRelayEndedHandler([this](int id) {
      last = id;
      ++count;
    });
  }
  ~EndedLog() { SetRelayEndedHandler(nullptr); }
};

}  // namespace

// A relay output fed the channel's tag bodies: the one client rebuilds a
// stream ffprobe reads; packets pushed before it came are not sent; when it
// goes away the relay hands its task over to be stopped (and never stops
// itself).
TEST(RelayOutputTest, ServesOneClientThenEndsItsTask) {
  SetRelayBindAddress("127.0.0.1");
  EndedLog ended;
  vvtest::TempDir dir;
  std::vector<FlvTag> tags = vvtest::MakeFlvSource(dir.path(), 3);
  ASSERT_FALSE(tags.empty());
  int port = vvtest::FreePort();
  auto out = std::make_unique<StreamOutput>(31, "", StreamOutput::kRelay, nullptr, nullptr);
  out->SetPort(port);
  ASSERT_TRUE(out->Start());
  // Not connected yet: pushed packets are dropped, the state reports it.
  out->PushPacket(TagPacket(9, 5, {0x27, 1, 0, 0, 0}).get());
  EXPECT_EQ(out->QueueSize(), 0);
  TaskStatus waiting = *out->CheckStatus();
  EXPECT_EQ(waiting.state, 3);
  EXPECT_EQ(waiting.message, "send IXO stream error because haven't stream");

  int client = -1;
  ASSERT_TRUE(vvtest::WaitFor([&] { return (client = vvtest::ConnectLoopback(port, 5000)) >= 0; }, std::chrono::seconds(10)));
  ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, std::chrono::seconds(10)));
  size_t media = 0;
  for (const FlvTag& t : tags) {
    if (t.type == 8 && t.IsSequenceHeader()) {
      out->SetAudioHeader(TagPacket(t).get());
    } else if (t.type == 9 && t.IsSequenceHeader()) {
      out->SetVideoHeader(TagPacket(t).get());
    } else if (t.type == 8 || t.type == 9) {
      out->PushPacket(TagPacket(t).get());
      ++media;
    }
  }
  std::vector<RelayRecord> records = vvtest::ReadRelayRecords(client, media + 2);
  ASSERT_EQ(records.size(), media + 2);
  // Exactly one header of each kind, each before the first record of its kind.
  int audioHeaders = 0, videoHeaders = 0;
  bool audioSeen = false, videoSeen = false;
  for (const RelayRecord& r : records) {
    bool header = r.body.size() > 1 && r.body[1] == 0;
    bool& seen = r.kind == 0 ? audioSeen : videoSeen;
    if (header) {
      EXPECT_FALSE(seen);
      EXPECT_EQ(r.timestamp, 0u);
      ++(r.kind == 0 ? audioHeaders : videoHeaders);
    }
    seen = true;
  }
  EXPECT_EQ(audioHeaders, 1);
  EXPECT_EQ(videoHeaders, 1);
  ASSERT_TRUE(vvtest::WriteFlvTags(dir.file("relay.flv"), vvtest::TagsFromRecords(records)));
  vvtest::ProbeResult r = vvtest::ProbeMedia(dir.file("relay.flv"));
  EXPECT_EQ(r.videoCodec, "h264");
  EXPECT_EQ(r.audioCodec, "aac");
  EXPECT_EQ(r.decodeErrors, "");

  // The client leaves; the next sends fail within the send time-out.
  close(client);
  ASSERT_TRUE(vvtest::WaitFor(
      [&] {
        out->PushPacket(TagPacket(9, 9000, std::vector<uint8_t>(60000, 0x27)).get());
        return ended.count.load() > 0;
      },
      std::chrono::seconds(8)));
  EXPECT_EQ(ended.last.load(), 31);
  EXPECT_EQ(ended.count.load(), 1);
  EXPECT_NE(out->GetMessage().find("31"), std::string::npos);
  EXPECT_FALSE(out->IsRunning());
  out.reset();
}

TEST(RelayOutputTest, StopWithoutClientAndBusyPort) {
  SetRelayBindAddress("127.0.0.1");
  EndedLog ended;
  int port = vvtest::FreePort();
  int blocker = RelayListen(port);
  ASSERT_GE(blocker, 0);
  {
    StreamOutput busy(32, "", StreamOutput::kRelay, nullptr, nullptr);
    busy.SetPort(port);
    busy.Start();
    EXPECT_TRUE(vvtest::WaitFor([&] { return busy.GetMessage() == "IXO Pull bind error 32"; },
                                std::chrono::seconds(10)));
  }
  close(blocker);
  auto begin = std::chrono::steady_clock::now();
  {
    StreamOutput idle(33, "", StreamOutput::kRelay, nullptr, nullptr);
    idle.SetPort(port);
    idle.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  // Destroyed without waiting for a client that never comes (bounded
  // loosely: sanitizer builds are slow).
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  EXPECT_EQ(ended.count.load(), 0);
}

namespace {

// Resident memory of this process in kB (VmRSS), -1 when unreadable.
long ResidentKb() {
  FILE* f = fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (fgets(line, sizeof line, f))
    if (sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
  fclose(f);
  return kb;
}

}  // namespace

// A client that reads 20 KB/s of a 3 Mbit/s stream for a minute: the relay
// keeps a bounded queue (the process's memory stays where it was), the
// client gets whole groups of pictures with gaps between them, and after
// each gap its video starts again at a key frame.
TEST(RelayOutputTest, SlowClientGetsGapsNotTheProcessMemory) {
  SetRelayBindAddress("127.0.0.1");
  EndedLog ended;
  int port = vvtest::FreePort();
  auto out = std::make_unique<StreamOutput>(35, "", StreamOutput::kRelay, nullptr, nullptr);
  out->SetPort(port);
  ASSERT_TRUE(out->Start());
  // A small receive buffer: what the client reads is what the relay sent
  // lately, not seconds of stream parked in the kernel.
  auto connectSmall = [&] { return vvtest::ConnectLoopbackWithReceiveBuffer(port, 16384); };
  int client = -1;
  ASSERT_TRUE(vvtest::WaitFor([&] { return (client = connectSmall()) >= 0; }, std::chrono::seconds(10)));
  ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, std::chrono::seconds(10)));
  out->SetVideoHeader(TagPacket(9, 0, {0x17, 0, 0, 0, 0, 1, 0x42, 0, 0x1E}).get());
  out->SetAudioHeader(TagPacket(8, 0, {0xAF, 0, 0x12, 0x10}).get());

  const auto seconds = std::chrono::seconds(60);
  const long rssBefore = ResidentKb();
  std::atomic<bool> done{false};
  std::atomic<int> widestQueueMs{0};
  // 25 pictures a second of 15000 bytes (3 Mbit/s), a key frame every 2 s;
  // AAC-sized audio beside them.
  std::thread source([&] {
    auto begin = std::chrono::steady_clock::now();
    int64_t nextAudio = 0;
    for (int frame = 0; !done.load(); ++frame) {
      int64_t ts = frame * 40;
      auto due = begin + std::chrono::milliseconds(ts);
      if (due - begin >= seconds + std::chrono::seconds(20)) break;
      std::this_thread::sleep_until(due);
      std::vector<uint8_t> body(15000, 0x55);
      body[0] = frame % 50 == 0 ? 0x17 : 0x27;
      body[1] = 1;
      out->PushPacket(TagPacket(9, ts, body).get());
      for (; nextAudio <= ts; nextAudio += 23) out->PushPacket(TagPacket(8, nextAudio, {0xAF, 1, 0x21, 0x10}).get());
      if (frame % 25 == 0)
        widestQueueMs = std::max(widestQueueMs.load(), out->CheckStatus()->delay);
    }
  });

  // The client: at most 2000 bytes every 100 ms, records taken apart as they
  // come. After the minute it reads at full speed for a few seconds: through
  // what the kernel buffered on the way, on to what the relay sends after
  // its drops.
  std::vector<uint8_t> pending;
  int videoRecords = 0, gaps = 0, startsWithoutKey = 0, malformed = 0;
  int64_t lastVideo = -1;
  long rssAfter = -1;
  auto begin = std::chrono::steady_clock::now();
  uint8_t chunk[2000];
  for (;;) {
    auto elapsed = std::chrono::steady_clock::now() - begin;
    bool slow = elapsed < seconds;
    if (!slow && rssAfter < 0) rssAfter = ResidentKb();
    if (elapsed >= seconds + std::chrono::seconds(5)) break;
    ssize_t n = recv(client, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) pending.insert(pending.end(), chunk, chunk + n);
    size_t at = 0;
    while (pending.size() - at >= 9) {
      const uint8_t* h = pending.data() + at;
      uint32_t ts = uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | h[3];
      uint32_t len = uint32_t(h[5]) << 24 | uint32_t(h[6]) << 16 | uint32_t(h[7]) << 8 | h[8];
      if (h[4] > 1 || len > (1u << 20)) {
        ++malformed;
        pending.clear();
        at = 0;
        break;
      }
      if (pending.size() - at < 9 + len) break;
      const uint8_t* body = h + 9;
      if (h[4] == 1 && len > 1 && body[1] == 1) {
        bool key = (body[0] >> 4) == 1;
        // A picture more than a second after the one before: packets were
        // dropped, and video must start again at a key frame.
        bool gap = lastVideo >= 0 && int64_t(ts) - lastVideo > 1000;
        if (gap) ++gaps;
        if ((lastVideo < 0 || gap) && !key) ++startsWithoutKey;
        lastVideo = ts;
        ++videoRecords;
      }
      at += 9 + len;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(at));
    if (malformed) break;
    if (slow || n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(slow ? 100 : 5));
  }
  done = true;
  source.join();
  close(client);
  out.reset();
  RecordProperty("rss_before_kb", std::to_string(rssBefore));
  RecordProperty("rss_after_kb", std::to_string(rssAfter));
  printf("resident before %ld kB, after %ld kB; widest queue %d ms; %d video records, %d gaps\n", rssBefore,
         rssAfter, widestQueueMs.load(), videoRecords, gaps);
  ASSERT_GT(rssBefore, 0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // (The checked builds' allocators keep freed blocks back for a while, so
  // there the resident size says nothing; the queue's bound below holds in
  // every build.)
  EXPECT_LT(rssAfter - rssBefore, 20 * 1024);
#endif
  // The queue never holds much more than its bound of 10 s (the relay
  // looks at it between sends, each of which may wait up to 3 s).
  EXPECT_LT(widestQueueMs.load(), 20000);
  EXPECT_EQ(malformed, 0);
  EXPECT_GT(videoRecords, 10);
  EXPECT_GT(gaps, 0);
  EXPECT_EQ(startsWithoutKey, 0);
}
