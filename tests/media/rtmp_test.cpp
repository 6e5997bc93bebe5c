// RTMP client sessions over the stock librtmp, against nginx-rtmp.
#include <gtest/gtest.h>
#include <librtmp/log.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "core/Log.h"
#include "core/SocketUtil.h"
#include "media/RtmpSession.h"
#include "tests/media/FlvTags.h"
#include "tests/tools/NginxRtmp.h"
#include "tests/tools/TestUtil.h"

using namespace vvtest;
using namespace std::chrono_literals;

TEST(RtmpSessionTest, LibraryLogLevelsMapToOurs) {
  const int table[][2] = {{RTMP_LOGCRIT, LOG_CRIT},   {RTMP_LOGERROR, LOG_ERROR}, {RTMP_LOGWARNING, LOG_WARN},
                          {RTMP_LOGINFO, LOG_INFO},   {RTMP_LOGDEBUG, LOG_DEBUG}, {RTMP_LOGDEBUG2, LOG_ALL},
                          {RTMP_LOGALL, LOG_ALL}};
  for (auto& row : table) EXPECT_EQ(RtmpLogLevelToOurs(row[0]), row[1]) << row[0];
}

TEST(RtmpSessionTest, SessionThatNeverConnectedIsFreedAndRefusesSends) {
  {
    RtmpSession s;
  }
  RtmpSession s;
  ASSERT_TRUE(s.SetupURL("rtmp://127.0.0.1:1/live/x"));
  s.EnableWrite();
  EXPECT_FALSE(s.IsConnected());
  const uint8_t body[] = {0xAF, 0x01, 0x21};
  EXPECT_FALSE(s.SendMessage(8, 3, 0, body, sizeof body));
  EXPECT_FALSE(s.ConnectStream());
  int port = FreePort();
  ASSERT_TRUE(s.SetupURL("rtmp://127.0.0.1:" + std::to_string(port) + "/live/x"));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(s.Connect(2000, 2000));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
}

TEST(RtmpSessionTest, PublishesOnFreshSessionsAndRoutesLibraryLog) {
  if (!NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
  NginxRtmp server;
  ASSERT_TRUE(server.Start());
  TempDir dir("vvrtmp");
  std::string logFile = dir.file("v.log");
  std::string oldLog = GetLogFileName();
  SetLogFileName(logFile);
  for (int round = 0; round < 2; ++round) {
    auto s = std::make_unique<RtmpSession>();
    {
      // The caller's text goes away at once: the session keeps its own.
      std::string url = server.Url("s");
      ASSERT_TRUE(s->SetupURL(url));
      url.assign(url.size(), 'x');
    }
    s->EnableWrite();
    ASSERT_TRUE(s->Connect(2000, 2000)) << server.ErrorLog();
    ASSERT_TRUE(s->ConnectStream()) << server.ErrorLog();
    EXPECT_GT(s->StreamId(), 0);
    const uint8_t header[] = {0xAF, 0x00, 0x12, 0x10};
    EXPECT_TRUE(s->SendMessage(8, 3, 0, header, sizeof header));
    EXPECT_FALSE(s->PeerClosed());
  }
  // A server that went away: the send fails, the library says why in our log.
  RtmpSession s;
  ASSERT_TRUE(s.SetupURL(server.Url("t")));
  s.EnableWrite();
  ASSERT_TRUE(s.Connect(2000, 2000));
  ASSERT_TRUE(s.ConnectStream());
  server.Stop();
  EXPECT_TRUE(WaitFor([&] { return s.PeerClosed(); }, 2s));
  std::vector<uint8_t> frame(20000, 0x27);
  bool failed = false;
  for (int i = 0; i < 20 && !failed; ++i) failed = !s.SendMessage(9, 4, i * 40, frame.data(), frame.size());
  EXPECT_TRUE(failed);
  SetLogFileName(oldLog);
  EXPECT_NE(ReadFileText(logFile).find("librtmp: WriteN, RTMP send error"), std::string::npos)
      << ReadFileText(logFile);
}

// Publishes a 720p stream with audio whose key frames span many chunks, with
// timestamps that pass the 24-bit limit half way (extended timestamps in
// every chunk from there on), to servers that announce chunk sizes below,
// equal to and above ours. The server must record every body byte for byte
// and the recording must decode without an error.
TEST(RtmpSessionTest, LargeChunkedMessagesReachServersOfEveryChunkSizeIntact) {
  if (!NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
  TempDir dir("vvchunk");
  std::string src = dir.file("src.flv");
  ASSERT_EQ(vvtest::Run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1280x720:rate=25 -f lavfi -i "
                "sine=frequency=440:sample_rate=44100 -t 2 -c:v libx264 -preset ultrafast -b:v 8M -g 25 "
                "-pix_fmt yuv420p -c:a aac -b:a 128k " + ShellQuote(src), true)
                .status,
            0);
  std::vector<FlvTag> in = ReadFlvTags(src);
  std::vector<const FlvTag*> video, audio;
  size_t largest = 0;
  for (const FlvTag& t : in) {
    if (t.type == 9 && !t.IsSequenceHeader()) video.push_back(&t);
    if (t.type == 8 && !t.IsSequenceHeader()) audio.push_back(&t);
    if (t.type == 9) largest = std::max(largest, t.body.size());
  }
  ASSERT_GT(video.size(), 40u);
  ASSERT_GT(largest, 70000u);  // more than one chunk even at the largest server chunk size
  const uint32_t base = 0xFFFFFF - 1000;

  for (int serverChunk : {128, 4096, 65536}) {
    SCOPED_TRACE(serverChunk);
    NginxRtmp::Options o;
    o.record = true;
    o.chunkSize = serverChunk;
    NginxRtmp server(o);
    ASSERT_TRUE(server.Start()) << server.ErrorLog();
    {
      RtmpSession s;
      ASSERT_TRUE(s.SetupURL(server.Url("big")));
      s.EnableWrite();
      ASSERT_TRUE(s.Connect(2000, 5000)) << server.ErrorLog();
      ASSERT_TRUE(s.ConnectStream()) << server.ErrorLog();
      EXPECT_EQ(s.OutChunkSize(), RtmpSession::kOutChunkSize);
      for (const FlvTag& t : in) {
        if (t.type != 8 && t.type != 9) continue;
        ASSERT_TRUE(s.SendMessage(t.type, t.type == 8 ? 3 : 4, base + t.timestamp, t.body.data(),
                                  static_cast<uint32_t>(t.body.size())));
      }
      EXPECT_FALSE(s.PeerClosed());
    }
    ASSERT_TRUE(WaitFor([&] { return !server.Recordings().empty(); }, 15s));
    std::string rec = server.Recordings().front();
    std::vector<FlvTag> got;
    ASSERT_TRUE(WaitFor(
        [&] {
          got = ReadFlvTags(rec);
          size_t v = 0;
          for (const FlvTag& t : got) v += t.type == 9 && !t.IsSequenceHeader();
          return v >= video.size();
        },
        15s));
    std::vector<const FlvTag*> gotVideo, gotAudio;
    for (const FlvTag& t : got) {
      if (t.type == 9 && !t.IsSequenceHeader()) gotVideo.push_back(&t);
      if (t.type == 8 && !t.IsSequenceHeader()) gotAudio.push_back(&t);
    }
    ASSERT_EQ(gotVideo.size(), video.size());
    for (size_t i = 0; i < video.size(); ++i) {
      ASSERT_EQ(gotVideo[i]->body, video[i]->body) << "video message " << i;
      EXPECT_EQ(gotVideo[i]->timestamp - gotVideo[0]->timestamp, video[i]->timestamp - video[0]->timestamp)
          << "video message " << i;
    }
    // The recording may start at the first key frame, after some audio.
    ASSERT_GE(gotAudio.size() + 5, audio.size());
    ASSERT_LE(gotAudio.size(), audio.size());
    size_t skip = audio.size() - gotAudio.size();
    for (size_t i = 0; i < gotAudio.size(); ++i) ASSERT_EQ(gotAudio[i]->body, audio[skip + i]->body) << i;
    auto streams = vvtest::Run("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + ShellQuote(rec));
    EXPECT_EQ(streams.output, "h264\naac\n");
    auto decode = vvtest::Run("ffmpeg -nostdin -v error -i " + ShellQuote(rec) + " -f null - 2>&1");
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.output, "");
  }
}

namespace {

// An RTMP server that takes the handshake and the connect command, answers
// it with _result and resets the connection at once: the client's next
// write (releaseStream) fails inside the library's own reply handling.
void AnswerConnectThenReset(int listener) {
  int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::vector<char> c1(1537);  // C0 and C1
  if (!RecvAll(fd, c1.data(), c1.size())) {
    close(fd);
    return;
  }
  std::string reply(1, '\x03');
  reply.append(1536, '\0');                // S1
  reply.append(c1.data() + 1, 1536);       // S2 echoes C1
  SendAll(fd, reply.data(), reply.size());
  std::vector<char> c2(1536);
  RecvAll(fd, c2.data(), c2.size());
  // The connect command: read until the client falls silent.
  tv = {0, 300000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char scratch[4096];
  while (recv(fd, scratch, sizeof scratch, 0) > 0) {
  }
  const char body[] = "\x02\x00\x07_result\x00\x3F\xF0\x00\x00\x00\x00\x00\x00\x05\x05";
  const size_t bodySize = sizeof body - 1;
  std::string message = {'\x03', 0, 0, 0, 0, 0, static_cast<char>(bodySize), '\x14', 0, 0, 0, 0};
  message.append(body, bodySize);
  SendAll(fd, message.data(), message.size());
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd);
}

}  // namespace

// A peer that drops the connection between the connect reply and the
// publish: the session fails cleanly, and it never reads the stream name
// the library freed when the failed write closed it.
TEST(RtmpSessionTest, PeerThatResetsDuringThePublishRequestsFailsCleanly) {
  int port = 0;
  int listener = ListenLoopback(&port, 1);
  ASSERT_GE(listener, 0);
  RtmpSession s;
  ASSERT_TRUE(s.SetupURL("rtmp://127.0.0.1:" + std::to_string(port) + "/live/stream-name"));
  s.EnableWrite();
  std::thread server(AnswerConnectThenReset, listener);
  bool connected = s.Connect(3000, 3000);
  EXPECT_TRUE(connected);
  EXPECT_FALSE(connected && s.ConnectStream());
  server.join();
  close(listener);
}
