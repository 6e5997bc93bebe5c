// The Ixo pull and transfer lists: their rows from snapshots, and from the
// running engine with real relay outputs and real transcoding sessions.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <thread>

#include "console/logic/IxoViewRows.h"
#include "core/RowRecords.h"
#include "media/LiveChannelManager.h"
#include "media/RelayLink.h"
#include "tests/tools/TestUtil.h"

using namespace ixoview;
using namespace std::chrono_literals;
using Relay = CLiveChannelManager::RelayRow;
using Session = CLiveChannelManager::SessionRow;

TEST(IxoViewRows, PullRowsNumberAndState) {
  std::vector<Relay> relays = {
      {"rtsp://a/1", 0, 0, 11}, {"rtsp://a/1", 1, 0, 12}, {"rtsp://a/1", 1, 1, 13},
      {"rtsp://b/2", 0, 2, 14}, {"rtsp://b/2", 2, 3, 15},
  };
  std::map<uint32_t, TaskStatus> states;
  states[11].state = kTaskRunning;
  states[11].rate = 512;
  states[12].state = kTaskFailed;
  states[12].rate = 99;  // a rate without the running state is not shown
  states[13].state = kTaskWaiting;
  states[14].state = kTaskRunning;
  states[14].rate = 0;
  // 15: no output any more, the default block.
  std::vector<Row> rows = PullRows(relays, [&](uint32_t id) { return states[id]; });
  std::vector<Row> want = {
      {"1", "rtsp://a/1", "512KB/S", "正在拉流"}, {"2", "rtsp://a/1", "0KB/S", "拉流失败"},
      {"4", "rtsp://a/1", "0KB/S", "拉流失败"},   {"3", "rtsp://b/2", "0KB/S", "正在拉流"},
      {"12", "rtsp://b/2", "0KB/S", "拉流失败"},
  };
  EXPECT_EQ(rows, want);
}

TEST(IxoViewRows, TransferRowsAndColumns) {
  std::vector<Session> sessions = {{300, 640, 480, 25, 800000}, {0, 0, 0, 0, 0}};
  std::vector<Row> want = {{"1", "300K", "640x480", "25", "800000"}, {"2", "0K", "0x0", "0", "0"}};
  EXPECT_EQ(TransferRows(sessions), want);
  EXPECT_TRUE(TransferRows({}).empty());
  ASSERT_EQ(PullColumns().size(), 4u);
  EXPECT_STREQ(PullColumns()[1].title, "拉流URL");
  EXPECT_EQ(PullColumns()[1].width, 250);
  ASSERT_EQ(TransferColumns().size(), 5u);
  EXPECT_STREQ(TransferColumns()[1].title, "传输码率(B/S)");
  EXPECT_EQ(TransferColumns()[4].width, 150);
}

namespace {

CLiveChannelManager& Manager() { return *CLiveChannelManager::Instance(); }

// A short H.264 + AAC file made by ffmpeg, as the relays' input.
struct Inputs {
  vvtest::TempDir dir{"vvixoview"};
  std::string a, b;
  bool ready = false;
  Inputs() {
    a = dir.file("a.flv");
    b = dir.file("b.flv");
    for (const std::string& f : {a, b}) {
      auto r = vvtest::Run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
                           "sine=frequency=440:sample_rate=44100 -t 20 -c:v libx264 -preset ultrafast -g 25 "
                           "-pix_fmt yuv420p -c:a aac -b:a 32k " + vvtest::ShellQuote(f),
                           true);
      if (r.status != 0) return;
    }
    SetRelayBindAddress("127.0.0.1");
    ready = true;
  }
};

void StartPull(const std::string& url, uint32_t pullId, uint32_t liveId, int port) {
  IxoPullInfo pull;
  pull.id = static_cast<int>(pullId);
  pull.url = url;
  pull.listenPort = port;
  Manager().StartTask(TASK_IXO_PULL, LIVE_TYPE_FILE, url, pullId, liveId, &pull, nullptr);
}

std::vector<std::pair<std::string, std::string>> NumbersAndUrls(const std::vector<Row>& rows) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const Row& r : rows) out.push_back({r[0], r[1]});
  return out;
}

}  // namespace

// Two inputs, one with two channels: the numbering follows the channel and
// output places; a forward output on the same channel stays out; a client
// on a relay turns its row to running; stopped relays leave the list.
TEST(IxoViewRows, PullRowsOfRealRelayOutputs) {
  static Inputs* inputs = new Inputs();  // lives as long as the engine
  ASSERT_TRUE(inputs->ready);
  ASSERT_TRUE(vvtest::WaitFor([] { return Manager().SourceCount() == 0; }, 20s));
  int port201 = vvtest::FreePort();
  StartPull(inputs->a, 201, 101, port201);
  StartPull(inputs->a, 202, 102, vvtest::FreePort());
  StartPull(inputs->a, 203, 102, vvtest::FreePort());
  StartPull(inputs->b, 204, 103, vvtest::FreePort());
  ForwardTaskInfo forward;
  forward.id = 205;
  forward.live_id = 101;
  forward.forward_url = "rtmp://127.0.0.1:" + std::to_string(vvtest::FreePort()) + "/live/none";
  Manager().StartTask(TASK_FORWARD, LIVE_TYPE_FILE, inputs->a, 205, 101, &forward, nullptr);

  std::vector<Row> rows = PullRowsOf(Manager());
  std::vector<std::pair<std::string, std::string>> want = {
      {"1", inputs->a}, {"2", inputs->a}, {"4", inputs->a}, {"1", inputs->b}};
  EXPECT_EQ(NumbersAndUrls(rows), want);
  for (const Row& r : rows) EXPECT_EQ(r[3], "拉流失败");  // nobody pulls yet

  // A client pulls relay 201: its row runs with a rate.
  int client = -1;
  ASSERT_TRUE(vvtest::WaitFor([&] { return (client = vvtest::ConnectLoopback(port201, 5000)) >= 0; }, 20s));
  std::atomic<bool> reading{true};
  std::thread reader([&] {
    char buf[4096];
    while (reading && recv(client, buf, sizeof buf, 0) > 0) {
    }
  });
  Row first;
  EXPECT_TRUE(vvtest::WaitFor(
      [&] {
        first = PullRowsOf(Manager()).at(0);
        return first[3] == "正在拉流" && first[2] != "0KB/S";
      },
      30s))
      << first[2] << " " << first[3];
  reading = false;
  shutdown(client, SHUT_RDWR);
  reader.join();
  close(client);

  Manager().StopTask(202, TASK_IXO_PULL, 0);
  Manager().StopTask(204, TASK_IXO_PULL, 0);
  rows = PullRowsOf(Manager());
  // 201 may have ended on its own once its client left.
  std::vector<std::pair<std::string, std::string>> left = NumbersAndUrls(rows);
  EXPECT_TRUE(left == (std::vector<std::pair<std::string, std::string>>{{"1", inputs->a}, {"2", inputs->a}}) ||
              left == (std::vector<std::pair<std::string, std::string>>{{"2", inputs->a}}))
      << rows.size();
  for (uint32_t id : {201u, 203u}) Manager().StopTask(id, TASK_IXO_PULL, 0);
  Manager().StopTask(205, TASK_FORWARD, 0);
  EXPECT_TRUE(PullRowsOf(Manager()).empty());
  EXPECT_TRUE(vvtest::WaitFor([] { return Manager().SourceCount() == 0; }, 20s));
}

// A transcoding session shows what its header asked for, and leaves the
// list when it ends.
TEST(IxoViewRows, TransferRowsOfRealSessions) {
  size_t base = TransferRowsOf(Manager()).size();
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  Manager().AddTranscodeSession(sv[0]);  // the session owns this end
  std::string header = "{\"width\":320,\"height\":240,\"frameRate\":25,\"bitRate\":300000}";
  std::string frame;
  uint32_t n = static_cast<uint32_t>(header.size());
  frame += static_cast<char>(n >> 24);
  frame += static_cast<char>(n >> 16);
  frame += static_cast<char>(n >> 8);
  frame += static_cast<char>(n);
  frame += header;
  ASSERT_EQ(send(sv[1], frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
  Row want = {std::to_string(base + 1), "0K", "320x240", "25", "300000"};
  std::vector<Row> rows;
  EXPECT_TRUE(vvtest::WaitFor(
      [&] {
        rows = TransferRowsOf(Manager());
        return rows.size() == base + 1 && rows.back() == want;
      },
      20s));
  close(sv[1]);  // the peer goes: the session ends and deletes itself
  EXPECT_TRUE(vvtest::WaitFor([&] { return TransferRowsOf(Manager()).size() == base; }, 20s));
}
