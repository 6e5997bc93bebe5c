#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/Log.h"
#include "ixolink/IxoLink.h"
#include "ixolink/PortSearch.h"
#include "ixolink/TranscodeParams.h"
#include "tests/ixolink/FakeIxoEngine.h"
#include "tests/tools/IxoServerDouble.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono;
using vvtest::IxoServerDouble;

namespace {

const char* kNoStream = "send IXO stream error because haven't stream";

std::string ExpectedReply(const char* status, int port, int id, const std::string& msg) {
  return std::string("{\"status\":\"") + status + "\",\"port\":" + std::to_string(port) +
         ", \"pullStreamId\": " + std::to_string(id) + ", \"msg\": \"" + msg + "\"}";
}

struct Reply {
  std::string status;
  int port = -1;
  int id = -1;
  std::string msg;
  bool valid = false;
};

Reply ParseReply(const std::string& text) {
  Reply r;
  Json::Value v;
  Json::Reader reader;
  if (!reader.parse(text, v) || !v.isObject()) return r;
  r.status = v["status"].asString();
  r.port = v["port"].asInt();
  r.id = v["pullStreamId"].asInt();
  r.msg = v["msg"].asString();
  r.valid = true;
  return r;
}

int ConnectTo(int port) { return vvtest::ConnectLoopback(port); }

std::string Frame(const std::string& s) {
  uint32_t n = static_cast<uint32_t>(s.size());
  return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + s;
}

// Sends raw bytes, then waits until the engine closes the connection; gives
// everything that came back, or "<open>" when it stayed open past waitMs.
std::string SendRawAndWaitClose(int port, const std::string& bytes, int waitMs) {
  int fd = ConnectTo(port);
  if (fd < 0) return "<no connection>";
  send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  std::string got;
  auto end = steady_clock::now() + milliseconds(waitMs);
  char buf[256];
  while (steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) {
      close(fd);
      return got;
    }
    got.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return "<open>";
}

// A pull-engine listener on a loopback port, served by its own thread.
class PullServer {
 public:
  explicit PullServer(FakeIxoEngine& engine, IxoLinkOptions o = Options()) : link(&engine, o) {
    port = vvtest::FreePort();
    thread = std::thread([this] { link.PullEngineCommandServer(port); });
    // Up once an unknown command is taken and its connection closed; the
    // probe's handler is gone when the constructor returns.
    vvtest::WaitFor([this] { return SendRawAndWaitClose(port, Frame("Hello") + Frame("x"), 5000) == ""; },
                    seconds(20));
    vvtest::WaitFor([this] { return link.RunningHandlers() == 0; }, seconds(10));
  }
  ~PullServer() {
    link.Stop();
    thread.join();
  }
  static IxoLinkOptions Options() {
    IxoLinkOptions o;
    o.listenAddress = "127.0.0.1";
    o.pollMs = 50;
    o.pollLimitMs = 500;
    o.handlerTimeoutMs = 400;
    return o;
  }
  std::string Command(const std::string& command, const std::string& data, bool* replied = nullptr) {
    return IxoServerDouble::Command(port, command, data, replied, 15000);
  }

  IxoLink link;
  int port = 0;
  std::thread thread;
};

}  // namespace

// The settings of the stored row follow the numbers of the request: video
// only when all four video numbers are positive, audio only when both audio
// numbers are.
TEST(PullCommand, StartPullFillsThePullRow) {
  struct Case {
    const char* body;
    bool video;
    bool audio;
  } cases[] = {
      {R"({"url":"udp://a","width":640,"height":360,"frameRate":25,"VbitRate":800,"SamplingRate":0})", true, false},
      {R"({"url":"udp://a","width":640,"height":0,"frameRate":25,"VbitRate":800})", false, false},
      {R"({"url":"udp://a","width":640,"height":360,"frameRate":-1,"VbitRate":800})", false, false},
      {R"({"url":"udp://a","SamplingRate":44100,"AbitRate":64})", false, true},
      {R"({"url":"udp://a","SamplingRate":44100,"AbitRate":0})", false, false},
      {R"({"url":"udp://a","transcode":true,"width":1280,"height":720,"frameRate":30,"VbitRate":2000,)"
       R"("SamplingRate":48000,"AbitRate":128})",
       true, true},
  };
  FakeIxoEngine engine;
  PullServer server(engine);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    std::string reply = server.Command("StartPull", c.body);
    auto starts = engine.Starts();
    ASSERT_FALSE(starts.empty());
    const auto& s = starts.back();
    EXPECT_EQ(reply, ExpectedReply("error", s.row.listenPort, s.id, kNoStream));
    EXPECT_EQ(s.url, "udp://a");
    EXPECT_EQ(s.row.url, "udp://a");
    EXPECT_GT(s.row.listenPort, 0);
    EXPECT_TRUE(engine.HasRow(s.id));
    EXPECT_EQ(s.row.videoTransfer, c.video);
    EXPECT_EQ(s.row.audioTransfer, c.audio);
    TranscodeParams p;
    p.FromJson(c.body);
    if (c.video) {
      EXPECT_EQ(s.row.vFormat, "H264");
      EXPECT_EQ(s.row.vColor, "YUVJ420P");
      EXPECT_EQ(s.row.gop, 25);
      EXPECT_EQ(s.row.width, p.width);
      EXPECT_EQ(s.row.height, p.height);
      EXPECT_EQ(s.row.frameRate, p.frameRate);
      EXPECT_EQ(s.row.vBitRate, p.VbitRate);
    } else {
      EXPECT_EQ(s.row.vFormat, "");
      EXPECT_EQ(s.row.width, 0);
    }
    if (c.audio) {
      EXPECT_EQ(s.row.aFormat, "AAC");
      EXPECT_EQ(s.row.aChannel, 2);
      EXPECT_EQ(s.row.aBitRate, p.AbitRate);
      EXPECT_EQ(s.row.sampleRate, std::to_string(p.SamplingRate));
    } else {
      EXPECT_EQ(s.row.aFormat, "");
      EXPECT_EQ(s.row.sampleRate, "");
    }
    // The settings asked for go along to build the pull's channel, whatever
    // the live type of the pull id.
    EXPECT_EQ(s.type, 0);
    EXPECT_EQ(s.transcode.useVideo, c.video);
    EXPECT_EQ(s.transcode.useAudio, c.audio);
    if (c.video) {
      EXPECT_EQ(s.transcode.width, p.width);
      EXPECT_EQ(s.transcode.frameRate, p.frameRate);
      EXPECT_EQ(s.transcode.vBitRate, p.VbitRate);
    }
    if (c.audio) {
      EXPECT_EQ(s.transcode.sampleRate, std::to_string(p.SamplingRate));
      EXPECT_EQ(s.transcode.aChannel, 1);  // stereo
    }
  }
}

// A running relay gives "ok"; the settings reach the sub-stream record, with
// the channel count turned into the stereo choice.
TEST(PullCommand, StartPullReplyWhenRunningAndSubStreamSettings) {
  FakeIxoEngine engine;
  engine.SetPullState(2, "", 2);  // the output shows up on the third poll
  engine.SetLiveType(LIVE_TYPE_SUBSTREAM);
  PullServer server(engine);
  std::string reply = server.Command(
      "StartPull", R"({"url":"rtsp://cam/1","width":320,"height":240,"frameRate":15,"VbitRate":300,)"
                   R"("SamplingRate":22050,"AbitRate":32})");
  auto s = engine.Starts().at(0);
  EXPECT_EQ(reply, ExpectedReply("ok", s.row.listenPort, s.id, ""));
  EXPECT_EQ(s.type, LIVE_TYPE_SUBSTREAM);
  EXPECT_TRUE(s.transcode.useVideo);
  EXPECT_TRUE(s.transcode.useAudio);
  EXPECT_EQ(s.transcode.width, 320);
  EXPECT_EQ(s.transcode.gop, 25);
  EXPECT_EQ(s.transcode.sampleRate, "22050");
  EXPECT_EQ(s.transcode.aChannel, 1);
}

// Bodies that are not an object, or whose values have other types, count as
// missing keys: with no url nothing is stored or started and the reply says
// "error" in the usual shape; wrongly typed numbers are simply ignored.
TEST(PullCommand, MalformedBodies) {
  struct Case {
    std::string body;
    bool starts;
  } cases[] = {
      {"not json at all", false},
      {"[1,2,3]", false},
      {"\"udp://a\"", false},
      {"42", false},
      {R"({"url":5})", false},
      {R"({"url":"","width":640})", false},
      {R"({"URL":"udp://a"})", false},
      {std::string(5000, '[') + std::string(5000, ']'), false},
      {R"({"url":"udp://b","width":"640","height":360.5,"frameRate":true,"VbitRate":1e30})", true},
      {R"({"url":"udp://b","transcode":"yes","SamplingRate":44100.0,"AbitRate":64})", true},
  };
  FakeIxoEngine engine;
  PullServer server(engine);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 60));
    size_t before = engine.Starts().size();
    size_t rows = engine.RowCount();
    bool replied = false;
    std::string reply = server.Command("StartPull", c.body, &replied);
    ASSERT_TRUE(replied);
    if (!c.starts) {
      EXPECT_EQ(reply, ExpectedReply("error", 0, 0, "url is empty"));
      EXPECT_EQ(engine.Starts().size(), before);
      EXPECT_EQ(engine.RowCount(), rows);
    } else {
      ASSERT_EQ(engine.Starts().size(), before + 1);
      auto s = engine.Starts().back();
      EXPECT_FALSE(s.row.videoTransfer);
      EXPECT_EQ(s.row.width, 0);
      EXPECT_EQ(s.row.height, 0);
    }
  }
  TranscodeParams p;
  p.FromJson(R"({"url":"x","SamplingRate":44100.0,"AbitRate":64,"transcode":true})");
  EXPECT_EQ(p.SamplingRate, 44100);
  EXPECT_TRUE(p.transcode);
  EXPECT_TRUE(p.WantsAudio());
}

// A failure text goes into the reply as a valid JSON string whatever it
// holds; ordinary texts come out unchanged.
TEST(PullCommand, ReplyTextIsEscaped) {
  const std::string texts[] = {"quote \" back \\ line\nend\ttab \x01", "中文 错误", kNoStream};
  for (const std::string& text : texts) {
    FakeIxoEngine engine;
    engine.SetPullState(3, text);
    PullServer server(engine);
    std::string reply = server.Command("StartPull", R"({"url":"udp://a"})");
    Reply r = ParseReply(reply);
    ASSERT_TRUE(r.valid) << reply;
    EXPECT_EQ(r.status, "error");
    EXPECT_EQ(r.msg, text);
  }
  EXPECT_EQ(JsonEscape(kNoStream), kNoStream);
  EXPECT_EQ(JsonEscape("中文"), "中文");
}

// StopPull stops the task, drops the row and frees the port, and answers
// "ok" whether or not such a pull exists.
TEST(PullCommand, StopPull) {
  FakeIxoEngine engine;
  PullServer server(engine);
  Reply r = ParseReply(server.Command("StartPull", R"({"url":"udp://a"})"));
  ASSERT_GT(r.id, 0);
  EXPECT_TRUE(IsPortReserved(r.port));
  EXPECT_EQ(server.Command("StopPull", std::to_string(r.id)), "ok");
  EXPECT_FALSE(engine.HasRow(r.id));
  EXPECT_FALSE(IsPortReserved(r.port));
  EXPECT_EQ(engine.Stops().back(), r.id);
  for (const char* data : {"12345", "abc", "-7", "99999999999999"}) {
    bool replied = false;
    EXPECT_EQ(server.Command("StopPull", data, &replied), "ok") << data;
    EXPECT_TRUE(replied);
  }
  EXPECT_EQ(engine.Stops().back(), 2147483647);
}

// Connections that do not carry a complete, known request get no reply and
// are closed: by the engine at once, or after the receive time-out (400 ms;
// the waits leave room for a loaded machine).
TEST(PullCommand, ConnectionsWithoutAnswer) {
  FakeIxoEngine engine;
  PullServer server(engine);
  struct Case {
    const char* name;
    std::string bytes;
    int waitMs;
  } cases[] = {
      {"unknown command", Frame("Hello") + Frame("{}"), 6000},
      {"empty command", Frame("") + Frame("{\"url\":\"udp://a\"}"), 6000},
      {"empty data", Frame("StartPull") + Frame(""), 6000},
      {"nul first", Frame(std::string("\0StartPull", 10)) + Frame("{}"), 6000},
      {"huge length", std::string("\xff\xff\xff\xff", 4), 6000},
      {"half a header", std::string("\x00\x00", 2), 6000},
      {"command only", Frame("StartPull"), 6000},
      {"nothing", "", 6000},
  };
  for (const Case& c : cases) EXPECT_EQ(SendRawAndWaitClose(server.port, c.bytes, c.waitMs), "") << c.name;
  EXPECT_TRUE(engine.Starts().empty());
  // A known command is answered once; the connection is not read again.
  std::string two = Frame("StopPull") + Frame("1") + Frame("StopPull") + Frame("2");
  EXPECT_EQ(SendRawAndWaitClose(server.port, two, 6000), Frame("ok"));
  EXPECT_EQ(engine.Stops(), std::vector<int>{1});
  EXPECT_TRUE(vvtest::WaitFor([&] { return server.link.RunningHandlers() == 0; }, seconds(10)));
}

// The state poll gives up after its bound: the pull is undone and the reply
// says so instead of leaving the server waiting for ever.
TEST(PullCommand, PollIsBounded) {
  FakeIxoEngine engine;
  engine.SetPullState(2, "", -1);
  PullServer server(engine);
  auto t0 = steady_clock::now();
  std::string reply = server.Command("StartPull", R"({"url":"udp://a"})");
  auto took = steady_clock::now() - t0;
  EXPECT_EQ(reply, ExpectedReply("error", 0, 0, "pull stream timeout"));
  EXPECT_GE(took, milliseconds(450));
  EXPECT_LT(took, milliseconds(8000));  // bounded: far short of a handler that never answers
  auto s = engine.Starts().at(0);
  EXPECT_EQ(engine.Stops(), std::vector<int>{s.id});
  EXPECT_FALSE(engine.HasRow(s.id));
  EXPECT_FALSE(IsPortReserved(s.row.listenPort));
}

// When no pull can exist the handler says why: the row could not be stored,
// or no relay port is left.
TEST(PullCommand, StartPullFailures) {
  FakeIxoEngine engine;
  IxoLinkOptions o = PullServer::Options();
  o.relayFirstPort = 16000;
  PullServer server(engine, o);
  engine.SetInsertFails(true);
  EXPECT_EQ(server.Command("StartPull", R"({"url":"udp://a"})"), ExpectedReply("error", 0, 0, "save pull error"));
  EXPECT_TRUE(engine.Starts().empty());
  engine.SetInsertFails(false);
  EXPECT_FALSE(IsPortReserved(16000));

  std::vector<int> taken;
  for (int p; (p = ReserveFreePort(16000)) != 0;) taken.push_back(p);
  EXPECT_FALSE(taken.empty());
  EXPECT_LE(taken.back(), 16999);
  EXPECT_EQ(server.Command("StartPull", R"({"url":"udp://a"})"), ExpectedReply("error", 0, 0, "no free port"));
  EXPECT_TRUE(engine.Starts().empty());
  EXPECT_EQ(engine.RowCount(), 0u);
  for (int p : taken) ReleasePort(p);
  Reply r = ParseReply(server.Command("StartPull", R"({"url":"udp://a"})"));
  EXPECT_EQ(r.port, taken.front());
}

// Pulls that ask at the same moment get ports and ids of their own.
TEST(PullCommand, ConcurrentStartPullsGetDistinctPortsAndIds) {
  FakeIxoEngine engine;
  PullServer server(engine);
  constexpr int kPulls = 24;
  std::vector<std::string> replies(kPulls);
  std::vector<std::thread> threads;
  for (int i = 0; i < kPulls; ++i)
    threads.emplace_back(
        [&, i] { replies[i] = server.Command("StartPull", "{\"url\":\"udp://x/" + std::to_string(i) + "\"}"); });
  for (auto& t : threads) t.join();
  std::set<int> ports, ids;
  for (auto& text : replies) {
    Reply r = ParseReply(text);
    ASSERT_TRUE(r.valid) << text;
    ports.insert(r.port);
    ids.insert(r.id);
  }
  EXPECT_EQ(ports.size(), static_cast<size_t>(kPulls));
  EXPECT_EQ(ids.size(), static_cast<size_t>(kPulls));
  EXPECT_EQ(ports.count(0), 0u);
  EXPECT_EQ(ports.count(server.port), 0u);
}

// A relay that ended on its own frees its port for later pulls even when no
// StopPull comes; a running one keeps it.
TEST(PullCommand, PortsOfEndedPullsReturn) {
  FakeIxoEngine engine;
  PullServer server(engine);
  Reply a = ParseReply(server.Command("StartPull", R"({"url":"udp://a"})"));
  Reply b = ParseReply(server.Command("StartPull", R"({"url":"udp://b"})"));
  ASSERT_NE(a.port, b.port);
  engine.DropPull(a.id);
  Reply c = ParseReply(server.Command("StartPull", R"({"url":"udp://c"})"));
  EXPECT_FALSE(IsPortReserved(a.port) && c.port != a.port);
  EXPECT_NE(c.port, b.port);
  EXPECT_TRUE(IsPortReserved(b.port));
}

// Many start/stop pairs leave no descriptor and no thread behind.
TEST(PullCommand, DescriptorsAndThreadsStayFlat) {
  int level = GetLogLevel();
  SetLogLevel(LOG_WARN);  // the handler logs every command at INFO
  FakeIxoEngine engine;
  PullServer server(engine);
  ParseReply(server.Command("StartPull", R"({"url":"udp://warm"})"));
  int fds = vvtest::CountOpenFds();
  int threads = vvtest::CountThreads();
  for (int i = 0; i < 500; ++i) {
    Reply r = ParseReply(server.Command("StartPull", R"({"url":"udp://a"})"));
    ASSERT_GT(r.id, 0);
    ASSERT_EQ(server.Command("StopPull", std::to_string(r.id)), "ok");
  }
  EXPECT_TRUE(vvtest::WaitFor([&] { return server.link.RunningHandlers() == 0; }, seconds(10)));
  EXPECT_TRUE(vvtest::WaitFor([&] { return vvtest::CountThreads() <= threads; }, seconds(10)));
  EXPECT_LE(vvtest::CountOpenFds(), fds);
  EXPECT_EQ(engine.RowCount(), 1u);
  SetLogLevel(level);
}

// A full descriptor table makes accept fail; the listener backs off instead
// of spinning, keeps running and serves the connection once descriptors are
// free again.
TEST(PullCommand, AcceptFailureBacksOff) {
  FakeIxoEngine engine;
  IxoLinkOptions o = PullServer::Options();
  o.acceptBackoffMs = 200;
  o.handlerTimeoutMs = 3000;
  PullServer server(engine, o);
  int level = GetLogLevel();
  SetLogLevel(LOG_ERROR);  // a slow log reader must not hide a spinning loop
  int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(client, 0);
  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(vvtest::CountOpenFds() + 4);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  std::vector<int> fillers;
  for (int fd; (fd = dup(0)) >= 0;) fillers.push_back(fd);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(server.port));
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  std::this_thread::sleep_for(milliseconds(1000));
  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_GE(server.link.AcceptFailures(), 1);
  EXPECT_LE(server.link.AcceptFailures(), 10);
  std::string request = Frame("StopPull") + Frame("3");
  send(client, request.data(), request.size(), MSG_NOSIGNAL);
  timeval tv{3, 0};
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  char buf[6] = {};
  EXPECT_EQ(recv(client, buf, sizeof(buf), MSG_WAITALL), 6);
  EXPECT_EQ(std::string(buf, 6), Frame("ok"));
  close(client);
  SetLogLevel(level);
}

// Every complete request is logged as it came, and the StartPull reply as it
// goes out.
TEST(PullCommand, RequestsAndRepliesAreLogged) {
  vvtest::TempDir dir("pulllog");
  std::string oldLog = GetLogFileName();
  int level = GetLogLevel();
  SetLogFileName(dir.file("v.log"));
  SetLogLevel(LOG_INFO);
  FakeIxoEngine engine;
  std::string start, stop, other;
  {
    PullServer server(engine);
    const std::string body = R"({"url":"udp://a","width":640})";
    start = server.Command("StartPull", body);
    stop = server.Command("StopPull", "17");
    bool replied = true;
    other = server.Command("Status", "x y", &replied);
    EXPECT_FALSE(replied);
  }
  SetLogFileName(oldLog);
  SetLogLevel(level);
  std::string text = vvtest::ReadFileText(dir.file("v.log"));
  for (const std::string& line :
       {std::string("[INFO]: receive command is StartPull and data is {\"url\":\"udp://a\",\"width\":640}\n"),
        "[INFO]: send response:" + start + "\n", std::string("[INFO]: receive command is StopPull and data is 17\n"),
        std::string("[INFO]: receive command is Status and data is x y\n")})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  EXPECT_EQ(stop, "ok");
  EXPECT_EQ(text.find("send response:ok"), std::string::npos);
}

// The JSON form holds the eight keys on one line and reads back to the same
// record, texts with quotation marks and non-ASCII included.
TEST(PullCommand, TranscodeParamsJsonRoundTrip) {
  TranscodeParams a;
  a.url = "rtsp://cam/\"1\"\\中文";
  a.transcode = true;
  a.width = 1280;
  a.height = -720;
  a.frameRate = 30;
  a.VbitRate = 2000;
  a.SamplingRate = 48000;
  a.AbitRate = 2147483647;
  for (const TranscodeParams& p : {TranscodeParams(), a}) {
    std::string text = p.ToJson();
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    Json::Value v;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(text, v)) << text;
    std::vector<std::string> keys = v.getMemberNames();
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()),
              (std::set<std::string>{"url", "transcode", "width", "height", "frameRate", "VbitRate", "SamplingRate",
                                     "AbitRate"}));
    TranscodeParams b;
    b.url = "left over";
    b.FromJson(text);
    EXPECT_EQ(b.url, p.url);
    EXPECT_EQ(b.transcode, p.transcode);
    EXPECT_EQ(b.width, p.width);
    EXPECT_EQ(b.height, p.height);
    EXPECT_EQ(b.frameRate, p.frameRate);
    EXPECT_EQ(b.VbitRate, p.VbitRate);
    EXPECT_EQ(b.SamplingRate, p.SamplingRate);
    EXPECT_EQ(b.AbitRate, p.AbitRate);
  }
}

// The reply says "ok" exactly when there is no failure text: for an output
// that is idle, running or waiting, and for a failed one that gives none.
TEST(PullCommand, ReplyStatusFollowsTheFailureText) {
  struct Case {
    int state;
    const char* message;
    const char* status;
  } cases[] = {{1, "", "ok"}, {2, "", "ok"}, {4, "", "ok"}, {3, "", "ok"}, {3, kNoStream, "error"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    FakeIxoEngine engine;
    engine.SetPullState(c.state, c.message, 1);
    PullServer server(engine);
    std::string reply = server.Command("StartPull", R"({"url":"udp://a"})");
    auto s = engine.Starts().at(0);
    EXPECT_EQ(reply, ExpectedReply(c.status, s.row.listenPort, s.id, c.message));
  }
}
