// The Ixo relay: record format, header order, and a stream rebuilt from the
// records that ffprobe reads.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "core/IoBuffer.h"
#include "media/RelayLink.h"
#include "tests/media/RelayClient.h"
#include "tests/media/RecordMedia.h"
#include "tests/tools/TestUtil.h"

using vvtest::FlvTag;
using vvtest::RelayRecord;

namespace {

std::unique_ptr<IoBuffer> Tag(int type, int64_t timestamp, std::vector<uint8_t> body) {
  auto b = std::make_unique<IoBuffer>();
  b->Write(body.data(), static_cast<int>(body.size()));
  b->SetType(type);
  b->SetTimestamp(timestamp);
  return b;
}

std::unique_ptr<IoBuffer> Tag(const FlvTag& t) { return Tag(t.type, t.timestamp, t.body); }

}  // namespace

TEST(RelayFeedTest, HeadersAndTimestamps) {
  auto aHeader = Tag(8, 0, {0xAF, 0x00, 0x12, 0x10});
  auto vHeader = Tag(9, 0, {0x17, 0x00, 0, 0, 0, 1, 2});
  struct Step {
    int type;
    int64_t ts;
    bool audioStored, videoStored;
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
      {"video header before the first video; ends of stream send nothing",
       {{8, 500, true, true}, {3, 510, true, true}, {9, 540, true, true}, {9, 580, true, true}},
       {{0, 0, 4}, {0, 0, 3}, {0, 1, 7}, {40, 1, 3}, {80, 1, 3}}},
      {"a header stored late goes before the next packet of its kind",
       {{9, 0, false, false}, {9, 40, false, true}, {9, 80, false, true}},
       {{0, 1, 3}, {0, 1, 7}, {40, 1, 3}, {80, 1, 3}}},
      {"timestamps wrap modulo 2^32",
       {{8, 10, false, false}, {8, 10 + (int64_t(1) << 32) + 5, false, false}},
       {{0, 0, 3}, {5, 0, 3}}},
  };
  for (const Case& c : cases) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    RelayFeed feed;
    for (const Step& s : c.steps) {
      auto p = Tag(s.type, s.ts, {uint8_t(s.type == 8 ? 0xAF : 0x27), 0x01, 0x00});
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
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
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
        aHeader = Tag(t);
      } else if (t.type == 9 && t.IsSequenceHeader()) {
        vHeader = Tag(t);
      } else if (t.type == 8 || t.type == 9) {
        if (!feed.Send(fd, *Tag(t), aHeader.get(), vHeader.get())) break;
      }
    }
    close(fd);
  });
  int client = vvtest::ConnectLoopback(port);
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
