// A pull's relay as the Ixo media server reads it: connected on the port the
// StartPull reply names, its records rebuilt into an FLV and checked with
// ffprobe and an ffmpeg decode pass.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/ixolink/RealEngine.h"

using namespace std::chrono;
using ixotest::Record;
using ixotest::RealEngineTest;

namespace {

// Newest record time of one kind, and whether any time of that kind went
// back (sequence headers, always 0, are left out).
struct KindTimes {
  uint32_t newest = 0;
  int wentBack = 0;
};

KindTimes TimesOf(const std::vector<Record>& records, uint8_t kind) {
  KindTimes t;
  bool any = false;
  for (const Record& r : records) {
    if (r.kind != kind || r.body.size() < 2 || r.body[1] == 0) continue;
    if (any && r.timestamp < t.newest) ++t.wentBack;
    if (!any || r.timestamp > t.newest) t.newest = r.timestamp;
    any = true;
  }
  return t;
}

int Pictures(const std::vector<Record>& records) {
  return static_cast<int>(std::count_if(records.begin(), records.end(), ixotest::IsPicture));
}

}  // namespace

// The relay listens before the reply goes out: a server that connects the
// moment it has the reply is taken, even while the input (here a UDP
// address nothing sends to yet) is still opening, and gets the stream once
// packets flow.
TEST_F(RealEngineTest, RelayTakesAClientThatConnectsRightAfterTheReply) {
  StartLink(20000);
  int udpPort = vvtest::FreePort();
  int port = 0, id = 0;
  StartPull("udp://127.0.0.1:" + std::to_string(udpPort), port, id);
  ASSERT_GT(port, 0);
  ASSERT_GT(id, 0);
  int fd = ixotest::ConnectTo(port, 30000);  // once, at once
  ASSERT_GE(fd, 0) << "the relay port refused a client that came right after the reply";

  std::atomic<bool> sending{true};
  std::thread sender([&] {
    // Sends until the test has what it needs (bounded for safety).
    vvtest::Run("ffmpeg -nostdin -v error -re -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                "sine=frequency=440:sample_rate=44100 -t 20 -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p "
                "-c:a aac -f mpegts 'udp://127.0.0.1:" + std::to_string(udpPort) + "?pkt_size=1316'");
    sending = false;
  });
  std::vector<Record> records =
      ReadRecords(fd, [](const std::vector<Record>& got) { return Pictures(got) >= 50; }, seconds(60));
  close(fd);
  EXPECT_EQ(Command("StopPull", std::to_string(id)), "ok");
  sender.join();
  ASSERT_GE(Pictures(records), 50);
  ixotest::MediaCheck m = ixotest::CheckMedia(WriteFlv("early.flv", records));
  EXPECT_EQ(m.width, 320);
  EXPECT_EQ(m.height, 240);
  EXPECT_EQ(m.sampleRate, 44100);
}

// A client that comes while the input is in the middle of a group of
// pictures gets its first picture at the next key frame: every picture of
// the relay decodes.
TEST_F(RealEngineTest, RelayVideoStartsAtAKeyFrame) {
  // One key frame at the start of each run of the file.
  std::string media = MakeMedia("onekey.flv", "testsrc=size=320x240:rate=25", 4,
                                "-c:v libx264 -preset ultrafast -g 1000 -keyint_min 1000 -sc_threshold 0 "
                                "-pix_fmt yuv420p -c:a aac -b:a 64k");
  StartLink(20200);
  int port = 0, id = 0;
  StartPull(media, port, id);
  ASSERT_GT(port, 0);
  // The relay thread takes its client once the input is open; by the time
  // this client comes the input is past its key frame.
  std::this_thread::sleep_for(milliseconds(1500));
  int fd = ixotest::ConnectTo(port, 30000);
  ASSERT_GE(fd, 0);
  std::vector<Record> records =
      ReadRecords(fd, [](const std::vector<Record>& got) { return Pictures(got) >= 40; }, seconds(60));
  close(fd);
  EXPECT_EQ(Command("StopPull", std::to_string(id)), "ok");
  auto first = std::find_if(records.begin(), records.end(), ixotest::IsPicture);
  ASSERT_NE(first, records.end());
  EXPECT_TRUE(ixotest::IsKeyPicture(*first)) << "first picture at " << first->timestamp << " ms is an inter frame";
  ixotest::MediaCheck m = ixotest::CheckMedia(WriteFlv("fromkey.flv", records));
  EXPECT_EQ(m.decodeErrors, "");
  EXPECT_GE(m.videoFrames, 40);
}

// A file source is read again from its start when it ends: the relay's
// times go on rising across each new run instead of wrapping back, so the
// rebuilt stream has the length of what was sent and decodes without a
// single backward step.
TEST_F(RealEngineTest, RelayTimesKeepRisingWhenAFileIsReadAgain) {
  std::string media = MakeMedia("loop.flv", "testsrc=size=320x240:rate=25", 3,
                                "-c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 64k");
  StartLink(20400);
  int port = 0, id = 0;
  StartPull(media, port, id);
  ASSERT_GT(port, 0);
  int fd = -1;
  ASSERT_TRUE(vvtest::WaitFor([&] { return (fd = ixotest::ConnectTo(port, 30000)) >= 0; }, seconds(20)));
  // Three runs of the file: 3 s each, with the reopening between them.
  std::vector<Record> records =
      ReadRecords(fd, [](const std::vector<Record>& got) { return Pictures(got) >= 3 * 75 + 10; }, seconds(90));
  close(fd);
  EXPECT_EQ(Command("StopPull", std::to_string(id)), "ok");
  ASSERT_GE(Pictures(records), 3 * 75 + 10);
  // Where the audio times leave their 23 ms steps: the runs' seams.
  uint32_t previous = 0;
  bool first = true;
  for (const Record& r : records) {
    if (r.kind != 0 || r.body.size() < 2 || r.body[1] == 0) continue;
    if (!first && (r.timestamp < previous || r.timestamp - previous > 100 || r.timestamp - previous < 5))
      printf("audio record time %u -> %u\n", previous, r.timestamp);
    previous = r.timestamp;
    first = false;
  }
  for (uint8_t kind : {0, 1}) {
    SCOPED_TRACE(kind == 0 ? "audio" : "video");
    KindTimes t = TimesOf(records, kind);
    EXPECT_EQ(t.wentBack, 0);
    // Three runs of 3 s, no wrapped 32-bit times.
    EXPECT_GE(t.newest, 8500u);
    EXPECT_LT(t.newest, 60000u);
  }
  ixotest::MediaCheck m = ixotest::CheckMedia(WriteFlv("loop-relay.flv", records));
  EXPECT_GE(m.duration, 8.5);
  EXPECT_LT(m.duration, 60);
  EXPECT_EQ(m.decodeErrors, "");
}

// The picture and audio settings a StartPull asks for are what the relay
// carries: the source's 640x360 at 25 fps with 44100 Hz audio comes out at
// 320x180, 15 pictures a second and 22050 Hz.
TEST_F(RealEngineTest, PullSettingsReachTheRelay) {
  std::string media = MakeMedia("big.flv", "testsrc=size=640x360:rate=25", 6,
                                "-c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 96k");
  StartLink(20600);
  Json::Value settings(Json::objectValue);
  settings["transcode"] = true;
  settings["width"] = 320;
  settings["height"] = 180;
  settings["frameRate"] = 15;
  settings["VbitRate"] = 300;
  settings["SamplingRate"] = 22050;
  settings["AbitRate"] = 32;
  int port = 0, id = 0;
  StartPull(media, port, id, settings);
  ASSERT_GT(port, 0);
  int fd = -1;
  ASSERT_TRUE(vvtest::WaitFor([&] { return (fd = ixotest::ConnectTo(port, 30000)) >= 0; }, seconds(20)));
  std::vector<Record> records =
      ReadRecords(fd, [](const std::vector<Record>& got) { return Pictures(got) >= 60; }, seconds(120));
  close(fd);
  EXPECT_EQ(Command("StopPull", std::to_string(id)), "ok");
  ASSERT_GE(Pictures(records), 60);
  ixotest::MediaCheck m = ixotest::CheckMedia(WriteFlv("settings.flv", records));
  EXPECT_EQ(m.width, 320);
  EXPECT_EQ(m.height, 180);
  EXPECT_EQ(m.sampleRate, 22050);
  EXPECT_EQ(m.decodeErrors, "");
  // Pictures a second by the records' own times.
  std::vector<uint32_t> times;
  for (const Record& r : records)
    if (ixotest::IsPicture(r)) times.push_back(r.timestamp);
  double span = (times.back() - times.front()) / 1000.0;
  ASSERT_GT(span, 2.0);
  double rate = (times.size() - 1) / span;
  EXPECT_GT(rate, 13.0);
  EXPECT_LT(rate, 17.0);
}
