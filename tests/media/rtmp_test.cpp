// RTMP client sessions over the stock librtmp, against nginx-rtmp.
#include <gtest/gtest.h>
#include <librtmp/log.h>

#include <memory>
#include <thread>

#include "core/Log.h"
#include "media/RtmpSession.h"
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
