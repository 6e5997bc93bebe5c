// Transcoding sessions through the transfer listener and the live-channel
// manager, checked on what comes back: the asked picture rate, bit rate and
// size, and a stream that decodes cleanly.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/ixolink/RealEngine.h"

using namespace std::chrono;
using ixotest::Record;
using ixotest::RealEngineTest;

namespace {

// Sends the header and every record of the input, and reads what comes
// back until the session ends it.
std::vector<Record> Transcode(int port, const std::string& header, const std::vector<Record>& input) {
  std::vector<Record> out;
  int fd = -1;
  if (!vvtest::WaitFor([&] { return (fd = ixotest::ConnectTo(port, 60000)) >= 0; }, seconds(20))) return out;
  std::string bytes = ixotest::PutBe32(static_cast<uint32_t>(header.size())) + header;
  for (const Record& r : input) bytes += ixotest::RecordBytes(r);
  std::thread sender([&] {
    ixotest::SendAll(fd, bytes);
    shutdown(fd, SHUT_WR);  // the session drains its codecs and ends
  });
  Record r;
  while (ixotest::ReadRecord(fd, r)) out.push_back(r);
  sender.join();
  close(fd);
  return out;
}

}  // namespace

// A session asking 15 pictures a second and 100 kbit/s of a 25 fps input
// returns 15 pictures a second near that bit rate, and they decode without a
// single timing complaint; a session asking an odd size gets the even size
// below it instead of no video at all.
TEST_F(RealEngineTest, TranscodingHonoursRateBitRateAndOddSizes) {
  std::string media = MakeMedia("in25.flv", "testsrc=size=640x360:rate=25", 8,
                                "-c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 64k");
  std::vector<Record> input = ixotest::RecordsOfFlv(vvtest::ReadFileText(media));
  ASSERT_GT(input.size(), 200u);
  StartLink(21400);
  struct Case {
    const char* header;
    int width, height;
    int frameRate;    // 0: the input's
    int bitRate;      // 0: not checked
  } cases[] = {
      {R"({"width":320,"height":180,"frameRate":15,"bitRate":100000})", 320, 180, 15, 100000},
      {R"({"width":321,"height":181,"frameRate":25,"bitRate":200000})", 320, 180, 25, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    std::vector<Record> out = Transcode(transferPort, c.header, input);
    std::vector<uint32_t> times;
    size_t videoBytes = 0;
    for (const Record& r : out) {
      if (!ixotest::IsPicture(r)) continue;
      times.push_back(r.timestamp);
      videoBytes += r.body.size();
    }
    ASSERT_GT(times.size(), 20u) << "no video came back";
    ixotest::MediaCheck m = ixotest::CheckMedia(WriteFlv("out" + std::to_string(n++) + ".flv", out));
    EXPECT_EQ(m.width, c.width);
    EXPECT_EQ(m.height, c.height);
    EXPECT_EQ(m.decodeErrors, "");
    double span = (times.back() - times.front()) / 1000.0;
    ASSERT_GT(span, 6.0);
    double rate = (times.size() - 1) / span;
    EXPECT_NEAR(rate, c.frameRate, 1.5);
    if (c.bitRate > 0) {
      double bitsPerSecond = videoBytes * 8.0 / (span + 1.0 / c.frameRate);
      printf("asked %d bit/s at %d fps: %.0f bit/s at %.1f fps\n", c.bitRate, c.frameRate, bitsPerSecond, rate);
      EXPECT_LT(bitsPerSecond, c.bitRate * 1.3);
    }
  }
  EXPECT_TRUE(vvtest::WaitFor([] { return CLiveChannelManager::Instance()->SessionCount() == 0; }, seconds(30)));
}
