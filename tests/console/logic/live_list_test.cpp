// The local live-list query against a small server on an ephemeral port.
#include <chrono>

#include "console/logic/LiveList.h"
#include "tests/console/logic/SourcesWorld.h"

namespace srctest {
namespace {

// Replies and the address they give.
TEST(LiveListTest, ReplyShapesGiveAddressOrNothing) {
  struct Case {
    const char* name;
    std::string json;
    std::string expect;
  } cases[] = {
      {"second free", R"([{"id":1,"appName":"a","name":"b","liveStatus":true},{"id":2,"appName":"live","name":"c2","liveStatus":false}])",
       "rtmp://127.0.0.1/live/c2"},
      {"first of two free", R"([{"appName":"x","name":"1","liveStatus":false},{"appName":"y","name":"2","liveStatus":false}])",
       "rtmp://127.0.0.1/x/1"},
      {"none free", R"([{"id":1,"appName":"a","name":"b","liveStatus":true}])", ""},
      {"empty list", "[]", ""},
      {"object, not a list", R"({"appName":"a","name":"b","liveStatus":false})", ""},
      {"element not an object", R"([{"appName":"a","name":"b","liveStatus":false}, 7])", ""},
      {"liveStatus not a bool", R"([{"appName":"a","name":"b","liveStatus":"false"}])", ""},
      {"name missing", R"([{"appName":"a","liveStatus":false}])", ""},
      {"id not a number", R"([{"id":"1","appName":"a","name":"b","liveStatus":false}])", ""},
      {"cut short", R"([{"appName":"a","name":"b","liveStatus":fal)", ""},
      {"not json", "hello", ""},
      {"blank in name skipped", R"([{"appName":"a","name":"b -x","liveStatus":false},{"appName":"a","name":"ok","liveStatus":false}])",
       "rtmp://127.0.0.1/a/ok"},
      {"control character skipped", "[{\"appName\":\"a\\n\",\"name\":\"b\",\"liveStatus\":false}]", ""},
      {"empty appName skipped", R"([{"appName":"","name":"b","liveStatus":false}])", ""},
      {"Chinese names kept", R"([{"appName":"直播","name":"一","liveStatus":false}])", "rtmp://127.0.0.1/直播/一"},
  };
  FakeLiveServer server;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseLiveInfos(c.json), c.expect);
    server.SetReply(FakeLiveServer::Framed(c.json));
    EXPECT_EQ(ListLiveInfos(server.port()), c.expect);
  }
  EXPECT_EQ(server.Received(), FakeLiveServer::Framed("ListLiveInfos") + std::string(4, '\0'));
}

// Broken exchanges give nothing, and never take longer than one time-out.
TEST(LiveListTest, BrokenExchangesGiveNothingWithinOneTimeout) {
  const std::string good = R"([{"appName":"a","name":"b","liveStatus":false}])";
  auto length = [](uint32_t n) {
    std::string s(4, '\0');
    s[0] = static_cast<char>(n >> 24);
    s[1] = static_cast<char>(n >> 16);
    s[2] = static_cast<char>(n >> 8);
    s[3] = static_cast<char>(n);
    return s;
  };
  struct Case {
    const char* name;
    std::string raw;
    int pauseMs;
    bool keepOpen;
  } cases[] = {
      {"closed before answering", "", 0, false},
      {"reply cut short", length(100) + good, 0, false},
      {"length over 1 MiB", length(kMaxLiveListReplyBytes + 1) + good, 0, true},
      {"no answer at all", "", 0, true},
      // Every byte comes in time, the whole reply does not.
      {"trickling reply", FakeLiveServer::Framed(good + std::string(400, ' ')), 20, true},
  };
  FakeLiveServer server;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.SetReply(c.raw, c.pauseMs, c.keepOpen);
    std::string reply;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(QueryLocalCommand("ListLiveInfos", "", reply, server.port(), 1000));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_EQ(reply, "");
  }
  // The largest reply allowed still comes through.
  std::string big = R"([{"appName":"a","name":"b","liveStatus":false})" + std::string(kMaxLiveListReplyBytes - good.size(), ' ') + "]";
  ASSERT_EQ(big.size(), kMaxLiveListReplyBytes);
  server.SetReply(FakeLiveServer::Framed(big));
  EXPECT_EQ(ListLiveInfos(server.port()), "rtmp://127.0.0.1/a/b");
  // Nobody listening.
  EXPECT_EQ(ListLiveInfos(vvtest::FreePort()), "");
}

}  // namespace
}  // namespace srctest
