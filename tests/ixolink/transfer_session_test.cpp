#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "ixolink/IxoLink.h"
#include "media/TranscodeSession.h"
#include "tests/ixolink/FakeIxoEngine.h"
#include "tests/ixolink/MediaRecords.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono;

namespace {

// Keeps real transcoding sessions the way the live-channel manager does:
// one per handed-over connection, removed and deleted when it ends.
class SessionEngine : public FakeIxoEngine, public ITranscodeSessionOwner {
 public:
  ~SessionEngine() override {
    std::vector<CTranscodeSession*> left;
    {
      std::lock_guard<std::mutex> lock(m);
      left.assign(running.begin(), running.end());
    }
    for (auto* s : left) s->Stop();
    vvtest::WaitFor([this] { return Running() == 0; }, seconds(10));
  }
  void AddTranscodeSession(int fd) override {
    auto* s = new CTranscodeSession(this);
    s->SetSocket(fd);
    std::lock_guard<std::mutex> lock(m);
    running.insert(s);
    ++total;
    if (!s->Start()) {
      running.erase(s);
      delete s;
    }
  }
  void RemoveTranscodeSession(CTranscodeSession* s) override {
    std::lock_guard<std::mutex> lock(m);
    running.erase(s);
    delete s;
  }
  int Running() {
    std::lock_guard<std::mutex> lock(m);
    return static_cast<int>(running.size());
  }
  int Total() {
    std::lock_guard<std::mutex> lock(m);
    return total;
  }

 private:
  std::mutex m;
  std::set<CTranscodeSession*> running;
  int total = 0;
};

}  // namespace

// Connections accepted by the transfer listener become transcoding sessions
// side by side: each sends back one AVC sequence header, the video
// re-encoded to the size its header asked for, and the audio unchanged.
TEST(TransferSession, ConnectionsBecomeWorkingTranscodingSessions) {
  vvtest::TempDir dir("ixotr");
  std::string source = dir.file("in.flv");
  auto made = vvtest::Run("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                          "sine=frequency=440:sample_rate=44100 -t 4 -c:v libx264 -preset ultrafast -g 25 "
                          "-pix_fmt yuv420p -c:a aac -b:a 64k " + vvtest::ShellQuote(source),
                          true);
  ASSERT_EQ(made.status, 0) << made.output;
  std::vector<ixotest::Record> input = ixotest::RecordsOfFlv(vvtest::ReadFileText(source));
  ASSERT_GT(input.size(), 100u);

  SessionEngine engine;
  IxoLinkOptions o;
  o.listenAddress = "127.0.0.1";
  IxoLink link(&engine, o);
  int port = vvtest::FreePort();
  std::thread listener([&] { link.TransferEngineCommandServer(port); });

  struct Want {
    int width, height;
  } wants[] = {{160, 120}, {240, 176}};
  std::vector<std::thread> clients;
  std::vector<ixotest::Probe> probes(2);
  std::vector<std::vector<ixotest::Record>> outputs(2);
  for (int i = 0; i < 2; ++i) {
    clients.emplace_back([&, i] {
      int fd = -1;
      if (!vvtest::WaitFor([&] { return (fd = ixotest::ConnectTo(port, 8000)) >= 0; }, seconds(20))) return;
      std::string header = "{\"width\":" + std::to_string(wants[i].width) +
                           ",\"height\":" + std::to_string(wants[i].height) +
                           ",\"frameRate\":25,\"bitRate\":200000}";
      std::string bytes = ixotest::PutBe32(static_cast<uint32_t>(header.size())) + header;
      for (const auto& r : input) bytes += ixotest::RecordBytes(r);
      std::thread sender([&] { ixotest::SendAll(fd, bytes); });
      ixotest::Record r;
      int video = 0;
      auto end = steady_clock::now() + seconds(90);  // two encoders side by side under the sanitizers
      while (video < 30 && steady_clock::now() < end && ixotest::ReadRecord(fd, r)) {
        video += r.kind == 1;
        outputs[i].push_back(r);
      }
      shutdown(fd, SHUT_RDWR);
      sender.join();
      close(fd);
      std::string flv = dir.file("out" + std::to_string(i) + ".flv");
      std::ofstream(flv, std::ios::binary) << ixotest::FlvOf(outputs[i]);
      probes[i] = ixotest::ProbeFile(flv);
    });
  }
  // A peer that connects and sends nothing is dropped by its session once
  // the listener's 5000 ms receive time-out has passed.
  milliseconds silentFor{0};
  std::thread silent([&] {
    int fd = -1;
    if (!vvtest::WaitFor([&] { return (fd = ixotest::ConnectTo(port, 60000)) >= 0; }, seconds(20))) return;
    auto t0 = steady_clock::now();
    char c;
    if (recv(fd, &c, 1, 0) == 0) silentFor = duration_cast<milliseconds>(steady_clock::now() - t0);
    close(fd);
  });
  for (auto& t : clients) t.join();
  silent.join();
  EXPECT_GE(silentFor, milliseconds(4900));
  EXPECT_EQ(engine.Total(), 3);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    ASSERT_FALSE(outputs[i].empty());
    // The first video record is the new sequence header.
    auto firstVideo = std::find_if(outputs[i].begin(), outputs[i].end(), [](const auto& r) { return r.kind == 1; });
    ASSERT_NE(firstVideo, outputs[i].end());
    ASSERT_GE(firstVideo->body.size(), 2u);
    EXPECT_EQ(uint8_t(firstVideo->body[0]), 0x17);
    EXPECT_EQ(uint8_t(firstVideo->body[1]), 0x00);
    // Audio comes back byte for byte.
    auto firstAudio = std::find_if(outputs[i].begin(), outputs[i].end(), [](const auto& r) { return r.kind == 0; });
    auto inAudio = std::find_if(input.begin(), input.end(), [](const auto& r) { return r.kind == 0; });
    ASSERT_NE(firstAudio, outputs[i].end());
    EXPECT_EQ(firstAudio->body, inAudio->body);
    EXPECT_EQ(probes[i].codecs, "aac,h264");
    EXPECT_EQ(probes[i].width, wants[i].width);
    EXPECT_EQ(probes[i].height, wants[i].height);
  }
  EXPECT_TRUE(vvtest::WaitFor([&] { return engine.Running() == 0; }, seconds(30)));
  link.Stop();
  listener.join();
}
