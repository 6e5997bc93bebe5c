// The Ixo relay: record format, header order, and a stream rebuilt from the
// records that ffprobe reads.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
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
