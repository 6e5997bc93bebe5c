#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/Log.h"
#include "media/TranscodeSession.h"
#include "tests/media/FlvTags.h"
#include "tests/tools/TestUtil.h"

using namespace vvtest;
using namespace std::chrono_literals;

namespace {

// Stands in for the manager: keeps the running sessions, removes and deletes
// the one that ends.
class SessionList : public ITranscodeSessionOwner {
 public:
  void Add(CTranscodeSession* s) {
    std::lock_guard<std::mutex> g(m);
    live.insert(s);
  }
  void RemoveTranscodeSession(CTranscodeSession* s) override {
    std::lock_guard<std::mutex> g(m);
    if (live.erase(s)) {
      delete s;
      ++removed;
    }
  }
  size_t Size() {
    std::lock_guard<std::mutex> g(m);
    return live.size();
  }
  // Held while a test reads a session's counters: the session's own thread
  // deletes it under the same lock, and only the lock (not the socket that
  // told it to end) orders the two for the thread checker.
  std::unique_lock<std::mutex> Hold() { return std::unique_lock<std::mutex>(m); }
  void Tick() {
    std::lock_guard<std::mutex> g(m);
    for (CTranscodeSession* s : live) s->UpdateBitrate();
  }
  // Under the list's lock, as the manager would at shutdown.
  size_t StopAll() {
    std::lock_guard<std::mutex> g(m);
    for (CTranscodeSession* s : live) s->Stop();
    return live.size();
  }
  CTranscodeSession* Any() {
    std::lock_guard<std::mutex> g(m);
    return live.empty() ? nullptr : *live.begin();
  }
  std::atomic<int> removed{0};

 private:
  std::mutex m;
  std::set<CTranscodeSession*> live;
};

struct Record {
  uint32_t timestamp = 0;
  uint8_t type = 0;
  std::vector<uint8_t> data;
  bool operator==(const Record& o) const { return timestamp == o.timestamp && type == o.type && data == o.data; }
};

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

std::vector<uint8_t> Frame(const std::string& text) {
  std::vector<uint8_t> v;
  Put32(v, uint32_t(text.size()));
  v.insert(v.end(), text.begin(), text.end());
  return v;
}

std::vector<uint8_t> RecordBytes(const Record& r) {
  std::vector<uint8_t> v;
  Put32(v, r.timestamp);
  v.push_back(r.type);
  Put32(v, uint32_t(r.data.size()));
  v.insert(v.end(), r.data.begin(), r.data.end());
  return v;
}

bool SendBytes(int fd, const std::vector<uint8_t>& v) {
  size_t off = 0;
  while (off < v.size()) {
    ssize_t n = send(fd, v.data() + off, v.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += size_t(n);
  }
  return true;
}

bool RecvExact(int fd, uint8_t* p, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = recv(fd, p + got, n - got, 0);
    if (r <= 0) return false;
    got += size_t(r);
  }
  return true;
}

// The peer's side of one transcoding connection: a loopback TCP connection
// whose accepted end is given to a session, with the answers read on a
// thread of their own while the test sends.
class Client {
 public:
  explicit Client(SessionList& list, int timeoutMs = 5000) {
    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
    listen(lfd, 1);
    fd = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    int served = accept(lfd, nullptr, nullptr);
    close(lfd);
    auto* s = new CTranscodeSession(&list);
    s->SetSocket(served);
    s->SetTimeoutMs(timeoutMs);
    list.Add(s);
    EXPECT_TRUE(s->Start());
  }
  ~Client() {
    StopReading();
    if (fd >= 0) close(fd);
  }
  void StartReading() {
    reader = std::thread([this] {
      for (;;) {
        uint8_t h[9];
        if (!RecvExact(fd, h, 9)) break;
        Record r;
        r.timestamp = uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | h[3];
        r.type = h[4];
        uint32_t n = uint32_t(h[5]) << 24 | uint32_t(h[6]) << 16 | uint32_t(h[7]) << 8 | h[8];
        r.data.resize(n);
        if (n && !RecvExact(fd, r.data.data(), n)) break;
        std::lock_guard<std::mutex> g(m);
        answers.push_back(std::move(r));
      }
      done = true;
    });
  }
  void StopReading() {
    if (reader.joinable()) reader.join();
  }
  std::vector<Record> Answers() {
    std::lock_guard<std::mutex> g(m);
    return answers;
  }
  size_t AnswerCount() {
    std::lock_guard<std::mutex> g(m);
    return answers.size();
  }
  bool Send(const std::vector<uint8_t>& v) { return SendBytes(fd, v); }
  void FinishSending() { shutdown(fd, SHUT_WR); }
  int fd = -1;
  std::atomic<bool> done{false};

 private:
  std::thread reader;
  std::mutex m;
  std::vector<Record> answers;
};

// Records from the tags of an FLV file (audio 0, video 1; script data skipped).
std::vector<Record> RecordsOf(const std::vector<FlvTag>& tags) {
  std::vector<Record> out;
  for (const FlvTag& t : tags) {
    if (t.type != 8 && t.type != 9) continue;
    out.push_back(Record{t.timestamp, uint8_t(t.type == 9 ? 1 : 0), t.body});
  }
  return out;
}

std::string Probe(const std::string& file) {
  return Run("ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=codec_name,width,height,nb_read_frames "
             "-of default=nw=1 " + ShellQuote(file)).output;
}

int ReadFrames(const std::string& probe) {
  size_t p = probe.find("nb_read_frames=");
  return p == std::string::npos ? -1 : atoi(probe.c_str() + p + 15);
}

bool Wait(const std::function<bool()>& cond, std::chrono::milliseconds t = 30000ms) { return WaitFor(cond, t); }

}  // namespace

// FFmpeg-made FLV streams go through a session as records; the answers,
// rebuilt into an FLV, are H.264 of the asked size that FFmpeg decodes with
// no error and with as many pictures as went in, and the audio comes back
// byte for byte and in order.
TEST(TranscodeSession, ReencodesFfmpegStreamsToTheAskedSize) {
  struct Case {
    const char* name;
    std::string video;  // lavfi source, then x264 options
    double seconds;
  };
  const Case cases[] = {
      {"parameter sets only in the sequence header", "testsrc=size=640x360:rate=25 -c:v libx264 -preset ultrafast -g 25", 2},
      {"parameter sets also in band", "testsrc=size=640x360:rate=25 -c:v libx264 -preset ultrafast -g 10 -bsf:v dump_extra=freq=k", 1.2},
      {"1080p coded as 1088 with cropping", "testsrc=size=1920x1080:rate=25 -c:v libx264 -preset ultrafast -g 25", 0.6},
      {"B-frames", "testsrc=size=480x272:rate=25 -c:v libx264 -preset fast -bf 2 -g 25", 1.2},
      {"multi-slice pictures", "testsrc=size=640x360:rate=25 -c:v libx264 -preset ultrafast -x264-params slices=4", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string src = dir.file("src.flv"), out = dir.file("out.flv");
    ASSERT_EQ(vvtest::Run(std::string("ffmpeg -nostdin -y -v error -f lavfi -i ") + c.video.substr(0, c.video.find(' ')) +
                      " -f lavfi -i sine=frequency=440:sample_rate=44100 -t " + std::to_string(c.seconds) +
                      c.video.substr(c.video.find(' ')) + " -pix_fmt yuv420p -c:a aac -b:a 64k " + ShellQuote(src),
                  true).status,
              0);
    std::vector<Record> in = RecordsOf(ReadFlvTags(src));
    ASSERT_FALSE(in.empty());
    int inPictures = ReadFrames(Probe(src));
    EXPECT_GE(inPictures, int(c.seconds * 25) - 1);

    SessionList list;
    {
      Client client(list);
      client.StartReading();
      ASSERT_TRUE(client.Send(Frame("{\"width\":320,\"height\":180,\"frameRate\":25,\"bitRate\":300000}")));
      for (const Record& r : in) ASSERT_TRUE(client.Send(RecordBytes(r)));
      client.FinishSending();
      ASSERT_TRUE(Wait([&] { return client.done.load(); }, 180000ms));
      ASSERT_TRUE(Wait([&] { return list.Size() == 0; }));
      EXPECT_EQ(list.removed.load(), 1);

      std::vector<Record> answers = client.Answers();
      std::vector<Record> audioIn, audioOut;
      // Each picture goes out at its presentation time: the tag time plus
      // the composition offset of the record that carried it.
      std::multiset<int64_t> picturesIn, picturesOut;
      for (const Record& r : in) {
        if (r.type == 0) audioIn.push_back(r);
        if (r.type == 1 && r.data.size() > 5 && r.data[1] == 1) {
          int32_t cts = (int32_t(r.data[2]) << 16) | (int32_t(r.data[3]) << 8) | r.data[4];
          if (cts & 0x800000) cts -= 0x1000000;
          picturesIn.insert(int64_t(r.timestamp) + cts);
        }
      }
      std::vector<FlvTag> tags;
      int headers = 0;
      int64_t lastVideo = -1;
      for (const Record& r : answers) {
        if (r.type == 0) audioOut.push_back(r);
        if (r.type == 1 && r.data.size() > 1 && r.data[1] == 0) {
          ++headers;
          EXPECT_EQ(r.timestamp, 0u);
          EXPECT_TRUE(tags.empty() || tags.back().type == 8) << "sequence header before any video";
          // The configuration record: version 1, profile, compatibility and
          // level from the SPS, 0xFF, 0xE1, then one SPS and one PPS without
          // start codes, filling the record exactly.
          const uint8_t *sps = nullptr, *pps = nullptr;
          int spsLen = 0, ppsLen = 0;
          ASSERT_TRUE(CTranscodeSession::ParseSequenceHeader(r.data.data(), int(r.data.size()), sps, spsLen, pps, ppsLen));
          EXPECT_EQ(r.data[0], 0x17);
          EXPECT_EQ(r.data[2] | r.data[3] | r.data[4], 0);
          EXPECT_EQ(r.data[5], 0x01);
          EXPECT_EQ(r.data[9], 0xFF);
          EXPECT_EQ(r.data[10], 0xE1);
          EXPECT_EQ(sps[0] & 0x1f, 7);
          EXPECT_TRUE(r.data[6] == sps[1] && r.data[7] == sps[2] && r.data[8] == sps[3]);
          EXPECT_EQ(r.data[13 + spsLen], 0x01);
          EXPECT_EQ(pps[0] & 0x1f, 8);
          EXPECT_EQ(size_t(pps + ppsLen - r.data.data()), r.data.size());
        }
        if (r.type == 1 && r.data.size() > 4 && r.data[1] == 1) {
          EXPECT_TRUE(r.data[0] == 0x17 || r.data[0] == 0x27);
          // Pictures come back in presentation order, which (without
          // B-frames in the output) is also their decode order.
          EXPECT_GE(int64_t(r.timestamp), lastVideo);
          lastVideo = r.timestamp;
          EXPECT_EQ(r.data[2] | r.data[3] | r.data[4], 0) << "composition time";
          picturesOut.insert(r.timestamp);
          // The key byte follows the picture itself: 0x17 exactly when the
          // record holds an IDR slice, and the first picture is one.
          bool idr = false;
          for (size_t at = 5; at + 4 < r.data.size();) {
            uint32_t n = uint32_t(r.data[at]) << 24 | uint32_t(r.data[at + 1]) << 16 | uint32_t(r.data[at + 2]) << 8 |
                         r.data[at + 3];
            idr = idr || (r.data[at + 4] & 0x1f) == 5;
            at += 4 + n;
          }
          EXPECT_EQ(r.data[0] == 0x17, idr) << "picture at " << r.timestamp;
          if (picturesOut.size() == 1) {
            EXPECT_TRUE(idr);
          }
        }
        tags.push_back(FlvTag{uint8_t(r.type == 1 ? 9 : 8), r.timestamp, r.data});
      }
      EXPECT_EQ(headers, 1);
      EXPECT_TRUE(picturesIn == picturesOut) << picturesIn.size() << " pictures in, " << picturesOut.size() << " out";
      EXPECT_TRUE(audioIn == audioOut);
      ASSERT_TRUE(WriteFlvTags(out, tags));
    }
    std::string probe = Probe(out);
    EXPECT_NE(probe.find("codec_name=h264\nwidth=320\nheight=180\n"), std::string::npos) << probe;
    EXPECT_EQ(ReadFrames(probe), inPictures) << probe;
    EXPECT_EQ(vvtest::Run("ffmpeg -nostdin -v error -i " + ShellQuote(out) + " -f null - 2>&1").output, "");
  }
}

// What a hostile or broken peer does ends the session: it leaves the list,
// closes its connection, and (under ASan) leaks nothing.
TEST(TranscodeSession, HostileInputEndsTheSession) {
  auto audio = [](uint32_t ts, size_t n) { return RecordBytes(Record{ts, 0, std::vector<uint8_t>(n, 0xAF)}); };
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> sends;
    bool closeAfter;
    size_t answersExpected;
  };
  std::vector<uint8_t> header = Frame("{\"width\":320,\"height\":180,\"frameRate\":25,\"bitRate\":300000}");
  std::vector<uint8_t> huge = {0, 0, 0, 1, 1, 0xFF, 0xFF, 0xFF, 0xFF};
  std::vector<uint8_t> truncated = {0, 0, 0, 1, 0, 0, 0, 0, 100, 1, 2, 3};
  std::vector<uint8_t> shortLength = {0, 0, 0, 1, 0, 0, 0};
  // Sequence header whose SPS length runs past the record, and NAL lengths
  // past the end: dropped, the session goes on.
  std::vector<uint8_t> badSeq = RecordBytes(Record{0, 1, {0x17, 0, 0, 0, 0, 1, 0x64, 0, 0x1f, 0xff, 0xe1, 0xff, 0xf0, 0x67}});
  std::vector<uint8_t> badNal = RecordBytes(Record{40, 1, {0x27, 1, 0, 0, 0, 0x7f, 0xff, 0xff, 0xff, 0x41, 0x9a}});
  std::vector<uint8_t> otherType = RecordBytes(Record{40, 2, {1, 2, 3}});
  const Case cases[] = {
      {"garbage JSON", {Frame("{width: 320,,")}, false, 0},
      {"JSON that is not an object", {Frame("[320,180]")}, false, 0},
      {"empty header frame", {Frame("")}, false, 0},
      {"header frame length far above any header", {{0x7f, 0xff, 0xff, 0xff, '{'}}, false, 0},
      {"disconnect inside the header", {{0, 0, 0, 50, '{', '"'}}, true, 0},
      {"huge record length", {header, audio(0, 10), huge}, false, 1},
      {"truncated record then close", {header, audio(0, 10), truncated}, true, 1},
      {"disconnect inside a record head", {header, audio(0, 10), shortLength}, true, 1},
      {"malformed video records are dropped", {header, badSeq, badNal, otherType, audio(7, 20)}, true, 1},
      {"unusable header values: audio still echoed",
       {Frame("{\"width\":\"wide\",\"height\":-5,\"frameRate\":0,\"bitRate\":[1]}"), audio(1, 10), audio(2, 30)}, true, 2},
      {"header of wrong JSON types only", {Frame("{\"width\":1e12}"), audio(3, 10)}, true, 1},
  };
  int fdsBefore = CountOpenFds();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionList list;
    {
      Client client(list, 2000);
      client.StartReading();
      for (const auto& bytes : c.sends) client.Send(bytes);
      if (c.closeAfter) client.FinishSending();
      EXPECT_TRUE(Wait([&] { return list.Size() == 0; }, 30000ms));
      EXPECT_TRUE(Wait([&] { return client.done.load(); }, 30000ms));
      EXPECT_EQ(client.AnswerCount(), c.answersExpected);
    }
  }
  EXPECT_TRUE(Wait([&] { return CountOpenFds() <= fdsBefore; }, 10000ms));
}

// Every way a session ends on its input is logged in its own words, at INFO.
TEST(TranscodeSession, EndingsAreLogged) {
  std::vector<uint8_t> header = Frame("{\"width\":320,\"height\":180,\"frameRate\":25}");
  auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* text;
    std::vector<uint8_t> bytes;
    bool closeAfter;  // otherwise the peer stays silent until the time-out
  };
  const Case cases[] = {
      {"error in reading data", {}, false},
      {"error in reading data", {0, 0}, true},
      {"error in reading data", Frame(""), true},
      {"error in parsing json data", Frame("width=320"), true},
      {"read timestamp error", header, true},
      {"read timestamp error", join(header, {0, 0}), true},
      {"read timestamp error", join(header, {0, 0, 0}), false},
      {"read type error", join(header, {0, 0, 0, 1}), true},
      {"read data length error", join(header, {0, 0, 0, 1, 0, 0, 0}), true},
      {"read data error", join(header, {0, 0, 0, 1, 0, 0, 0, 0, 100, 1, 2, 3}), true},
      {"read data error", join(header, {0, 0, 0, 1, 1, 0, 0, 0, 100}), false},
  };
  std::string oldLog = GetLogFileName();
  int oldLevel = GetLogLevel();
  SetLogLevel(LOG_INFO);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " after " + std::to_string(c.bytes.size()) + " bytes");
    TempDir dir("vvlog");
    SetLogFileName(dir.file("v.log"));
    SessionList list;
    {
      Client client(list, 300);
      client.StartReading();
      if (!c.bytes.empty()) {
        ASSERT_TRUE(client.Send(c.bytes));
      }
      if (c.closeAfter) client.FinishSending();
      EXPECT_TRUE(Wait([&] { return list.Size() == 0; }, 30000ms));
      EXPECT_TRUE(Wait([&] { return client.done.load(); }, 30000ms));
      EXPECT_EQ(client.AnswerCount(), 0u);
    }
    SetLogFileName(oldLog);
    std::string text = ReadFileText(dir.file("v.log"));
    EXPECT_NE(text.find(std::string("[INFO]: ") + c.text + "\n"), std::string::npos) << text;
  }
  SetLogLevel(oldLevel);
}

// Video that cannot be transcoded gives no answer of its own while the audio
// around it still comes back unchanged and in order: pictures before any
// sequence header, codecs that do not open for the asked size, codec ids
// other than AVC, AVC packet types other than 0 and 1, and records of other
// types.
TEST(TranscodeSession, UntranscodableVideoGivesNoOutput) {
  TempDir dir;
  std::string src = dir.file("src.flv");
  ASSERT_EQ(vvtest::Run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                        "sine=frequency=440:sample_rate=44100 -t 0.6 -c:v libx264 -preset ultrafast -g 5 "
                        "-pix_fmt yuv420p -c:a aac -b:a 64k " + ShellQuote(src),
                        true)
                .status,
            0);
  std::vector<Record> in = RecordsOf(ReadFlvTags(src));
  std::vector<Record> audio;
  for (const Record& r : in)
    if (r.type == 0) audio.push_back(r);
  ASSERT_FALSE(audio.empty());
  ASSERT_GT(in.size(), audio.size() + 5);
  const std::string good = "{\"width\":160,\"height\":120,\"frameRate\":25,\"bitRate\":100000}";
  auto without = [&](auto drop) {
    std::vector<Record> out;
    for (const Record& r : in)
      if (!drop(r)) out.push_back(r);
    return out;
  };
  auto changed = [&](auto change) {
    std::vector<Record> out = in;
    for (Record& r : out)
      if (r.type == 1) change(r);
    return out;
  };
  struct Case {
    const char* name;
    std::string header;
    std::vector<Record> records;
  };
  const Case cases[] = {
      {"pictures without a sequence header", good,
       without([](const Record& r) { return r.type == 1 && r.data.size() > 1 && r.data[1] == 0; })},
      {"output size the encoder refuses", "{\"width\":0,\"height\":0,\"frameRate\":25}", in},
      {"codec id other than AVC", good, changed([](Record& r) { r.data[0] = uint8_t((r.data[0] & 0xf0) | 2); })},
      {"AVC packet type 2 after the sequence header", good, changed([](Record& r) {
         if (r.data[1] == 1) r.data[1] = 2;
       })},
      {"records of type 2", good, changed([](Record& r) { r.type = 2; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionList list;
    Client client(list);
    client.StartReading();
    ASSERT_TRUE(client.Send(Frame(c.header)));
    for (const Record& r : c.records) ASSERT_TRUE(client.Send(RecordBytes(r)));
    client.FinishSending();
    ASSERT_TRUE(Wait([&] { return client.done.load(); }, 60000ms));
    ASSERT_TRUE(Wait([&] { return list.Size() == 0; }));
    EXPECT_TRUE(client.Answers() == audio) << client.AnswerCount() << " answers, " << audio.size() << " audio records";
  }
  // The same stream as it came does give video for this header.
  SessionList list;
  Client client(list);
  client.StartReading();
  ASSERT_TRUE(client.Send(Frame(good)));
  for (const Record& r : in) ASSERT_TRUE(client.Send(RecordBytes(r)));
  client.FinishSending();
  ASSERT_TRUE(Wait([&] { return client.done.load(); }, 60000ms));
  ASSERT_TRUE(Wait([&] { return list.Size() == 0; }));
  size_t video = 0;
  for (const Record& r : client.Answers()) video += r.type == 1;
  EXPECT_GT(video, 1u);
}

// SendAll writes the whole buffer, large ones in several sends, and tells
// when the peer is gone or there is no connection at all.
TEST(TranscodeSession, SendAll) {
  CTranscodeSession none;
  IoBuffer some;
  some.WriteUInt32(0x01020304);
  EXPECT_EQ(none.SendAll(some), 0);

  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  CTranscodeSession s;
  s.SetSocket(pair[0]);  // the session closes it
  std::vector<uint8_t> big(3 * 1024 * 1024);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
  IoBuffer large;
  large.Write(big.data(), int(big.size()));
  std::vector<uint8_t> got(big.size());
  std::thread reader([&] { RecvExact(pair[1], got.data(), got.size()); });
  EXPECT_EQ(s.SendAll(large), 1);
  reader.join();
  EXPECT_TRUE(got == big);
  IoBuffer empty;
  EXPECT_EQ(s.SendAll(empty), 1);
  close(pair[1]);
  EXPECT_EQ(s.SendAll(some), 0);
}

// A peer that sends but never reads: the session's sends time out and it
// ends instead of hanging.
TEST(TranscodeSession, PeerThatStopsReading) {
  SessionList list;
  Client client(list, 500);
  int small = 4096;
  setsockopt(client.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
  ASSERT_TRUE(client.Send(Frame("{\"width\":320,\"height\":180,\"frameRate\":25}")));
  std::vector<uint8_t> rec = RecordBytes(Record{0, 0, std::vector<uint8_t>(60000, 0xAF)});
  // Our own sends stop succeeding once both sides' buffers are full.
  std::thread sender([&] {
    timeval tv{0, 200000};
    setsockopt(client.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    for (int i = 0; i < 400 && list.Size() > 0; ++i) client.Send(rec);
  });
  EXPECT_TRUE(Wait([&] { return list.Size() == 0; }, 30000ms));
  sender.join();
}

// The statistics tick: bits of every record count, also of records that give
// no output; avg3 over three seconds and avgAll over the whole session.
TEST(TranscodeSession, BitRateTicks) {
  SessionList list;
  Client client(list);
  client.StartReading();
  ASSERT_TRUE(client.Send(Frame("{}")));
  CTranscodeSession* s = list.Any();
  ASSERT_NE(s, nullptr);
  // 8192, 16384 and 24576 bits in three seconds, each second's last record an
  // echoed audio record so the test knows it was read.
  const size_t bytes[3] = {1024, 2048, 3072};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(client.Send(RecordBytes(Record{0, 2, std::vector<uint8_t>(bytes[i] - 16, 1)})));
    ASSERT_TRUE(client.Send(RecordBytes(Record{0, 0, std::vector<uint8_t>(16, 2)})));
    ASSERT_TRUE(Wait([&] { return client.AnswerCount() == size_t(i + 1); }));
    list.Tick();
  }
  {
    auto held = list.Hold();
    EXPECT_EQ(s->GetAvg3(), 16);
    EXPECT_EQ(s->GetAvgAll(), 16);
    EXPECT_EQ(s->GetDroppedRecords(), 3);
    EXPECT_EQ(s->GetBitRate(), 0);
  }
  client.FinishSending();
  EXPECT_TRUE(Wait([&] { return list.Size() == 0; }));
}

TEST(TranscodeSession, HeaderAndRecordParsing) {
  struct HeaderCase {
    std::string text;
    bool ok;
    int w, h, r, b;
  };
  const HeaderCase headers[] = {
      {"{\"width\":320,\"height\":180,\"frameRate\":25,\"bitRate\":300000}", true, 320, 180, 25, 300000},
      {"{\"width\":320,\"height\":180,\"frameRate\":25}", true, 320, 180, 25, 0},
      {"{\"width\":0,\"height\":-1,\"frameRate\":100000,\"bitRate\":-7}", true, 0, 0, 0, 0},
      {"{\"width\":99999999999,\"height\":\"180\",\"frameRate\":25.0,\"bitRate\":true}", true, 0, 0, 25, 0},
      {"\"text\"", false, 0, 0, 0, 0},
      {"", false, 0, 0, 0, 0},
      {"{\"width\":", false, 0, 0, 0, 0},
  };
  for (const HeaderCase& c : headers) {
    TranscodeHeader h;
    EXPECT_EQ(CTranscodeSession::ParseHeader(c.text, h), c.ok) << c.text;
    EXPECT_EQ(h.width, c.w) << c.text;
    EXPECT_EQ(h.height, c.h) << c.text;
    EXPECT_EQ(h.frameRate, c.r) << c.text;
    EXPECT_EQ(h.bitRate, c.b) << c.text;
  }
  // A sequence header with a 20-byte SPS: the PPS length is read at 34.
  std::vector<uint8_t> seq = {0x17, 0, 0, 0, 0, 1, 0x64, 0, 0x1f, 0xff, 0xe1, 0, 20};
  for (int i = 0; i < 20; ++i) seq.push_back(uint8_t(i == 0 ? 0x67 : i));
  seq.push_back(1);
  seq.push_back(0);
  seq.push_back(4);
  for (uint8_t b : {0x68, 0xee, 0x3c, 0x80}) seq.push_back(b);
  const uint8_t *sps, *pps;
  int spsLen, ppsLen;
  ASSERT_TRUE(CTranscodeSession::ParseSequenceHeader(seq.data(), int(seq.size()), sps, spsLen, pps, ppsLen));
  EXPECT_EQ(spsLen, 20);
  EXPECT_EQ(ppsLen, 4);
  EXPECT_EQ(pps - seq.data(), 36);
  for (size_t cut = 0; cut < seq.size(); ++cut)
    EXPECT_FALSE(CTranscodeSession::ParseSequenceHeader(seq.data(), int(cut), sps, spsLen, pps, ppsLen)) << cut;

  std::vector<uint8_t> nals = {0, 0, 0, 2, 0x65, 0x88, 0, 0, 0, 1, 0x41, 0, 0, 0, 9, 0x41};
  IoBuffer out;
  EXPECT_FALSE(CTranscodeSession::NalUnitsToAnnexB(nals.data(), int(nals.size()), out));
  std::vector<uint8_t> expect = {0, 0, 0, 1, 0x65, 0x88, 0, 0, 0, 1, 0x41};
  EXPECT_EQ(std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetSize()), expect);
  IoBuffer good;
  EXPECT_TRUE(CTranscodeSession::NalUnitsToAnnexB(nals.data(), 11, good));
}

// The owner ending a session that waits for its peer (at shutdown): the peer
// sees the connection close and the session still removes itself.
TEST(TranscodeSession, StopEndsAWaitingSession) {
  for (bool headerSent : {false, true}) {
    SessionList list;
    Client client(list);
    client.StartReading();
    if (headerSent) {
      ASSERT_TRUE(client.Send(Frame("{\"width\":320,\"height\":180,\"frameRate\":25}")));
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(list.StopAll(), 1u);
    EXPECT_TRUE(Wait([&] { return list.Size() == 0; }, 20000ms));
    EXPECT_TRUE(Wait([&] { return client.done.load(); }, 20000ms));
  }
}

// A second input sequence header with another picture size (the peer's
// source changed) reopens the codecs for the new size: the output keeps
// the header's size, no second output header is sent, and the pictures of
// both parts come back decodable. The header has no bit rate: the encoder
// opens with 0 and still gives video.
TEST(TranscodeSession, NewSequenceHeaderReopensTheCodecs) {
  TempDir dir;
  std::string a = dir.file("a.flv"), b = dir.file("b.flv"), out = dir.file("out.flv");
  for (const auto& [file, size] : {std::make_pair(a, "640x360"), std::make_pair(b, "352x288")})
    ASSERT_EQ(vvtest::Run(std::string("ffmpeg -nostdin -y -v error -f lavfi -i testsrc=size=") + size +
                              ":rate=25 -t 1 -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p " + ShellQuote(file),
                          true)
                  .status,
              0);
  std::vector<Record> in = RecordsOf(ReadFlvTags(a));
  ASSERT_FALSE(in.empty());
  uint32_t offset = in.back().timestamp + 40;
  for (Record r : RecordsOf(ReadFlvTags(b))) {
    r.timestamp += offset;
    in.push_back(r);
  }
  int inPictures = ReadFrames(Probe(a)) + ReadFrames(Probe(b));

  SessionList list;
  {
    Client client(list);
    client.StartReading();
    ASSERT_TRUE(client.Send(Frame("{\"width\":320,\"height\":180,\"frameRate\":25}")));
    for (const Record& r : in) ASSERT_TRUE(client.Send(RecordBytes(r)));
    client.FinishSending();
    ASSERT_TRUE(Wait([&] { return client.done.load(); }, 180000ms));
    ASSERT_TRUE(Wait([&] { return list.Size() == 0; }));
    std::vector<FlvTag> tags;
    int headers = 0;
    for (const Record& r : client.Answers()) {
      ASSERT_EQ(r.type, 1);
      if (r.data.size() > 1 && r.data[1] == 0) ++headers;
      tags.push_back(FlvTag{9, r.timestamp, r.data});
    }
    EXPECT_EQ(headers, 1);
    ASSERT_TRUE(WriteFlvTags(out, tags));
  }
  std::string probe = Probe(out);
  EXPECT_NE(probe.find("codec_name=h264\nwidth=320\nheight=180\n"), std::string::npos) << probe;
  EXPECT_EQ(ReadFrames(probe), inPictures) << probe;
  EXPECT_EQ(vvtest::Run("ffmpeg -nostdin -v error -i " + ShellQuote(out) + " -f null - 2>&1").output, "");
}
