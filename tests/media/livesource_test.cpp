// The live source against real inputs made by ffmpeg: files, UDP MPEG-TS,
// an HTTP server (ffmpeg -listen 1), lavfi graphs in place of capture
// devices. Packets are watched as the dispatch thread hands them on.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "core/Log.h"
#include "media/CameraUrl.h"
#include "media/LiveSource.h"
#include "media/StreamChannel.h"
#include "media/StreamOutput.h"
#include "tests/media/FlvTags.h"
#include "tests/media/SubStreams.h"
#include "tests/tools/NginxRtmp.h"
#include "tests/tools/TestUtil.h"

using std::chrono::milliseconds;
using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

int64_t NowMs() {
  return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Seen {
  int type = 0;
  int codec = 0;
  int64_t ts = 0;
  int cts = 0;
  int flags = 0;
  int size = 0;
  int sampleRate = 0;
  int channels = 0;
  std::vector<uint8_t> head;
  std::vector<uint8_t> extra;
  int64_t arrival = 0;
};

// Keeps what the source hands on; runs segments split at end of stream.
class Collector {
 public:
  void Attach(CLiveSource& s) {
    s.SetPacketTap([this](const IoBuffer& p) { Add(p); });
  }
  void Add(const IoBuffer& p) {
    Seen s;
    s.type = p.GetType();
    s.codec = p.GetCodecId();
    s.ts = p.GetTimestamp();
    s.cts = p.GetCompositionTime();
    s.flags = p.GetFlags();
    s.size = p.GetSize();
    s.sampleRate = p.GetSampleRate();
    s.channels = p.GetChannels();
    s.head.assign(p.GetData(), p.GetData() + std::min(p.GetSize(), 8));
    if (p.GetExtraData()) s.extra.assign(p.GetExtraData(), p.GetExtraData() + p.GetExtraDataSize());
    s.arrival = NowMs();
    std::lock_guard<std::mutex> l(m);
    all.push_back(std::move(s));
  }
  std::vector<Seen> Take() {
    std::lock_guard<std::mutex> l(m);
    return all;
  }
  int Count(int type) {
    std::lock_guard<std::mutex> l(m);
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const Seen& s) { return s.type == type; }));
  }
  void Clear() {
    std::lock_guard<std::mutex> l(m);
    all.clear();
  }

 private:
  std::mutex m;
  std::vector<Seen> all;
};

// The media packets of the first run (up to the first end of stream).
std::vector<Seen> FirstRun(const std::vector<Seen>& all) {
  std::vector<Seen> run;
  for (const Seen& s : all) {
    if (s.type == 3) break;
    run.push_back(s);
  }
  return run;
}

bool IsAnnexB(const Seen& s) {
  const auto& h = s.head;
  return (h.size() >= 4 && h[0] == 0 && h[1] == 0 && h[2] == 0 && h[3] == 1) ||
         (h.size() >= 3 && h[0] == 0 && h[1] == 0 && h[2] == 1);
}

// What every run must show: H.264 in Annex B and AAC, timestamps that never
// go back per medium, audio and video covering the same span.
void CheckRun(const std::vector<Seen>& run, bool expectAudio, int64_t spanTolerance = 100) {
  int64_t lastV = -1, lastA = -1, firstV = -1, firstA = -1, lastDts = -1;
  int video = 0, audio = 0;
  for (const Seen& s : run) {
    if (s.type == 1) {
      EXPECT_EQ(s.codec, AV_CODEC_ID_H264);
      EXPECT_TRUE(IsAnnexB(s));
      EXPECT_GE(s.ts, lastDts) << "video went back";
      EXPECT_GE(s.cts, 0);
      // Compared with audio by presentation time.
      int64_t shown = s.ts + s.cts;
      if (firstV < 0 || shown < firstV) firstV = shown;
      lastV = std::max(lastV, shown);
      lastDts = s.ts;
      ++video;
    } else if (s.type == 2) {
      EXPECT_EQ(s.codec, AV_CODEC_ID_AAC);
      EXPECT_GE(s.ts, lastA) << "audio went back";
      EXPECT_GT(s.sampleRate, 0);
      EXPECT_GT(s.channels, 0);
      if (firstA < 0) firstA = s.ts;
      lastA = s.ts;
      ++audio;
    }
  }
  ASSERT_GT(video, 10);
  if (!expectAudio) return;
  ASSERT_GT(audio, 10);
  EXPECT_LE(std::llabs(firstV - firstA), spanTolerance) << "starts differ";
  EXPECT_LE(std::llabs(lastV - lastA), spanTolerance) << "ends differ";
}

// ffmpeg made media: lavfi testsrc + sine.
std::string MakeFile(const TempDir& dir, const std::string& name, double seconds, const std::string& codecs) {
  std::string file = dir.file(name);
  std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                    "sine=frequency=440:sample_rate=44100 -t " +
                    std::to_string(seconds) + " -pix_fmt yuv420p " + codecs + " -ac 2 " + ShellQuote(file);
  EXPECT_EQ(vvtest::Run(cmd, true).status, 0) << cmd;
  return file;
}

// A child ffmpeg process, killed when the test is done with it.
class FfmpegProcess {
 public:
  explicit FfmpegProcess(const std::string& args) {
    pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", ("exec ffmpeg -nostdin -v error " + args + " >/dev/null 2>&1").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~FfmpegProcess() { Kill(); }
  void Kill() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }

 private:
  pid_t pid = -1;
};

std::string LavfiSender() {
  return "-re -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
         "-pix_fmt yuv420p -c:v libx264 -preset ultrafast -g 25 -c:a aac -ac 2 ";
}

}  // namespace

TEST(LiveSourceTest, UrlKinds) {
  struct Case {
    const char* in;
    const char* url;
    int kind;
  } cases[] = {
      {"udp://127.0.0.1:1234", "udp://127.0.0.1:1234", CLiveSource::kUdp},
      {"rtsp://cam/live", "rtsp://cam/live", CLiveSource::kRtsp},
      {"rtmp://127.0.0.1/live/a", "rtmp://127.0.0.1/live/a", CLiveSource::kRtmp},
      {"http://127.0.0.1/x.flv", "http://127.0.0.1/x.flv", CLiveSource::kHttp},
      {"mms://media.host/path?x=1", "mmsh://media.host/path?x=1", CLiveSource::kOther},
      {"/data/clip.mp4", "/data/clip.mp4", CLiveSource::kOther},
      {"https://h/x", "https://h/x", CLiveSource::kOther},
  };
  for (const Case& c : cases) {
    CLiveSource s(1);
    s.SetUrl(c.in);
    EXPECT_EQ(s.GetUrl(), c.url) << c.in;
    EXPECT_EQ(s.GetUrlKind(), c.kind) << c.in;
  }
}

TEST(LiveSourceTest, DeviceText) {
  struct Case {
    const char* video;
    const char* audio;
    const char* url;
  } cases[] = {
      {" Cam One ", " Mic ", "video=Cam One:audio=Mic"},
      {"摄像头", "", "video=摄像头"},
      {"", " 麦克风 ", "audio=麦克风"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    CLiveSource s(1);
    DeviceSourceInfo d;
    d.videoName = c.video;
    d.audioName = c.audio;
    s.SetDevice(d);
    EXPECT_EQ(s.GetUrl(), c.url);
    EXPECT_EQ(s.GetUrlKind(), CLiveSource::kDevice);
  }
}

// A capture input format that this FFmpeg lacks: the open fails, says so on
// standard output and leaves the open error.
TEST(LiveSourceTest, MissingCaptureFormatFailsTheOpen) {
  CLiveSource s(1);
  s.SetCaptureFormats("nosuchgrabber", "nosuchgrabber");
  DeviceSourceInfo d;
  d.audioName = "Mic";
  s.SetDevice(d);
  testing::internal::CaptureStdout();
  bool opened = s.Open();
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(opened);
  EXPECT_EQ(said, "not support input device nosuchgrabber.\n");
  EXPECT_EQ(s.GetLastError(), "avformat_open_input error");
}

// Open works on its own, before the threads run: the input's streams and
// what channels see of them are there at once.
TEST(LiveSourceTest, OpenBeforeStart) {
  TempDir dir("vvls");
  std::string file = MakeFile(dir, "in.ts", 1.0, "-c:v mpeg2video -c:a aac");
  CLiveSource s(3);
  s.SetUrl(file);
  ASSERT_TRUE(s.Open()) << s.GetLastError();
  EXPECT_TRUE(s.HasVideo());
  EXPECT_TRUE(s.HasAudio());
  EXPECT_TRUE(s.IsVideoConverted());
  EXPECT_FALSE(s.IsAudioConverted());
  EXPECT_EQ(s.GetFrameRate(), 25);
  ASSERT_NE(s.GetChannelVideoCodecContext(), nullptr);
  EXPECT_EQ(s.GetChannelVideoCodecContext()->codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(s.GetLastError(), "");
  CLiveSource missing(4);
  missing.SetUrl(dir.file("none.mp4"));
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(missing.GetLastError(), "avformat_open_input error");
}

// A file that reports a bit rate is read in real time, from one origin for
// audio and video, and read again after its end.
TEST(LiveSourceTest, FileIsPacedAndReadAgain) {
  TempDir dir("vvls");
  std::string file = MakeFile(dir, "in.mp4", 2.0, "-c:v libx264 -g 25 -bf 2 -c:a aac -b:a 96k");
  auto source = std::make_unique<CLiveSource>(7);
  CLiveSource& s = *source;
  Collector c;
  // Copies of the audio packets outlive the source and both of its runs.
  std::mutex keptMutex;
  std::vector<std::unique_ptr<IoBuffer>> kept;
  s.SetPacketTap([&](const IoBuffer& p) {
    c.Add(p);
    std::lock_guard<std::mutex> l(keptMutex);
    if (p.GetType() == 2) kept.emplace_back(CloneIoBuffer(&p));
  });
  s.SetUrl(file);
  int64_t t0 = NowMs();
  ASSERT_TRUE(s.Start());
  // The end of the first run, then the second run's first packets.
  ASSERT_TRUE(vvtest::WaitFor(
      [&] {
        auto all = c.Take();
        auto eos = std::find_if(all.begin(), all.end(), [](const Seen& x) { return x.type == 3; });
        return eos != all.end() && std::count_if(eos, all.end(), [](const Seen& x) { return x.type == 1; }) > 5;
      },
      milliseconds(12000)));
  s.Stop();
  auto all = c.Take();
  auto run = FirstRun(all);
  CheckRun(run, true);
  EXPECT_FALSE(s.IsVideoConverted());
  EXPECT_FALSE(s.IsAudioConverted());
  EXPECT_EQ(s.GetFrameRate(), 25);
  // Real time: the last packet of two seconds of media came no sooner than
  // about two seconds after the first.
  int64_t span = run.back().arrival - run.front().arrival;
  EXPECT_GE(span, 1600);
  EXPECT_LT(run.front().arrival - t0, 3000);
  // B-frames: the composition time travels with the packets.
  EXPECT_TRUE(std::any_of(run.begin(), run.end(), [](const Seen& x) { return x.type == 1 && x.cts > 0; }));
  // The AAC packets carry the stream's own config.
  auto a = std::find_if(run.begin(), run.end(), [](const Seen& x) { return x.type == 2; });
  ASSERT_NE(a, run.end());
  EXPECT_EQ(a->sampleRate, 44100);
  EXPECT_GE(a->extra.size(), 2u);
  // The second run starts again from 0, the reopen came about 2000 ms later.
  auto eos = std::find_if(all.begin(), all.end(), [](const Seen& x) { return x.type == 3; });
  auto next = std::find_if(eos, all.end(), [](const Seen& x) { return x.type == 1; });
  ASSERT_NE(next, all.end());
  EXPECT_LT(next->ts, 200);
  EXPECT_GE(s.GetOpenAttempts(), 2);
  source.reset();
  std::lock_guard<std::mutex> l(keptMutex);
  ASSERT_GT(kept.size(), 2u);
  const IoBuffer& one = *kept.front();
  const IoBuffer& last = *kept.back();
  ASSERT_GE(one.GetExtraDataSize(), 2);
  ASSERT_EQ(one.GetExtraDataSize(), last.GetExtraDataSize());
  EXPECT_EQ(memcmp(one.GetExtraData(), last.GetExtraData(), one.GetExtraDataSize()), 0);
  EXPECT_GT(last.GetSize(), 0);
}

// Timestamps that jump (a splice, a wrap) carry on from where they were, and
// the pacing goes on from there instead of sleeping out the jump.
TEST(LiveSourceTest, JumpsCarryOn) {
  TempDir dir("vvls");
  auto segment = [&](const std::string& name, int offset) {
    std::string f = dir.file(name);
    std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                      "sine=sample_rate=44100 -t 1.5 -pix_fmt yuv420p -c:v libx264 -g 25 -c:a aac -ac 2 "
                      "-output_ts_offset " + std::to_string(offset) + " -f mpegts " + ShellQuote(f);
    EXPECT_EQ(vvtest::Run(cmd, true).status, 0);
    return f;
  };
  std::string early = segment("a.ts", 0), late = segment("b.ts", 100);
  struct Case {
    const char* name;
    std::string first, second;
  } cases[] = {{"forward.ts", early, late}, {"backward.ts", late, early}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::string file = dir.file(k.name);
    ASSERT_EQ(vvtest::Run("cat " + ShellQuote(k.first) + " " + ShellQuote(k.second) + " > " + ShellQuote(file)).status, 0);
    CLiveSource s(14);
    Collector c;
    c.Attach(s);
    s.SetUrl(file);
    int64_t t0 = NowMs();
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(3) > 0; }, milliseconds(15000)));
    int64_t took = NowMs() - t0;
    s.Stop();
    // Three seconds of media in real time, not the 100 s of the jump.
    EXPECT_LT(took, kSanitized ? 9000 : 5000);
    auto run = FirstRun(c.Take());
    int64_t last = -1, widest = 0;
    for (const Seen& x : run) {
      if (x.type != 1) continue;
      if (last >= 0) widest = std::max(widest, x.ts - last);
      last = x.ts;
    }
    EXPECT_LT(widest, 300) << "a gap in the video timestamps";
    EXPECT_GT(last, 2700);
    EXPECT_LT(last, 3300);
    CheckRun(run, true, 150);
  }
}

// Video that is not H.264 and audio that is not AAC are converted at the
// source; the converted audio describes the encoder's stream.
TEST(LiveSourceTest, ConvertsOtherCodecs) {
  TempDir dir("vvls");
  struct Case {
    const char* name;
    const char* codecs;
  } cases[] = {
      {"in.ts", "-c:v mpeg2video -b:v 800k -c:a mp2 -b:a 128k"},
      {"in.mkv", "-c:v mpeg4 -c:a pcm_s16le"},
  };
  for (const Case& k : cases) {
    std::string file = MakeFile(dir, k.name, 2.0, k.codecs);
    CLiveSource s(8);
    Collector c;
    c.Attach(s);
    s.SetUrl(file);
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(vvtest::WaitFor(
        [&] {
          auto all = c.Take();
          return std::any_of(all.begin(), all.end(), [](const Seen& x) { return x.type == 3; });
        },
        milliseconds(12000)))
        << k.name;
    s.Stop();
    EXPECT_TRUE(s.IsVideoConverted()) << k.name;
    EXPECT_TRUE(s.IsAudioConverted()) << k.name;
    auto run = FirstRun(c.Take());
    SCOPED_TRACE(k.name);
    CheckRun(run, true, 150);
    auto a = std::find_if(run.begin(), run.end(), [](const Seen& x) { return x.type == 2; });
    ASSERT_NE(a, run.end());
    ASSERT_GE(a->extra.size(), 2u);
    EXPECT_EQ(a->extra[0] >> 3, 2) << "AAC LC config of the encoder";
    EXPECT_EQ(a->channels, 2);
    EXPECT_EQ(a->sampleRate, 44100);
    // The channel side sees the encoder's H.264 context.
    ASSERT_NE(s.GetChannelVideoCodecContext(), nullptr);
    EXPECT_EQ(s.GetChannelVideoCodecContext()->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(s.GetChannelAudioCodecContext()->codec_id, AV_CODEC_ID_AAC);
  }
}

// A live UDP MPEG-TS input is read as it comes (no pacing, no bit rate);
// when the sender goes away the read times out and the source reopens.
TEST(LiveSourceTest, UdpMpegTs) {
  int port = vvtest::FreePort();
  std::string url = "udp://127.0.0.1:" + std::to_string(port);
  CLiveSource s(9);
  Collector c;
  c.Attach(s);
  s.SetUrl(url);
  ASSERT_TRUE(s.Start());
  {
    FfmpegProcess sender(LavfiSender() + "-f mpegts " + ShellQuote(url + "?pkt_size=1316"));
    ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(1) > 60; }, milliseconds(15000)));
  }
  // Sender gone: the read aborts after its time-out and the run ends.
  int64_t killed = NowMs();
  ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(3) > 0; }, milliseconds(8000)));
  int64_t ended = NowMs() - killed;
  EXPECT_GE(ended, 3000);
  s.Stop();
  auto run = FirstRun(c.Take());
  // The first packets of a live stream may come before the other medium's.
  std::vector<Seen> tail;
  int64_t firstV = -1;
  for (const Seen& x : run)
    if (x.type == 1 && firstV < 0) firstV = x.ts;
  for (const Seen& x : run)
    if (x.ts >= firstV + 200) tail.push_back(x);
  CheckRun(tail, true, 150);
}

// An HTTP server that is not there yet: the source tries every 2000 ms,
// reads once it is up, and comes back after the server is killed.
TEST(LiveSourceTest, HttpReopensEveryTwoSeconds) {
  TempDir dir("vvls");
  std::string file = MakeFile(dir, "in.flv", 6.0, "-c:v libx264 -g 25 -c:a aac -b:a 96k");
  int port = vvtest::FreePort();
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/live.flv";
  CLiveSource s(10);
  Collector c;
  c.Attach(s);
  s.SetUrl(url);
  // When each attempt was seen, polled; the first one is made at once.
  std::vector<int64_t> attempts;
  int64_t t0 = NowMs();
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(vvtest::WaitFor(
      [&] {
        while (static_cast<int>(attempts.size()) < s.GetOpenAttempts()) attempts.push_back(NowMs());
        return attempts.size() >= 3;
      },
      milliseconds(15000), milliseconds(5)));
  EXPECT_LT(attempts[0] - t0, 1500);
  for (size_t i = 1; i < attempts.size(); ++i) {
    EXPECT_GE(attempts[i] - attempts[i - 1], 1900) << "attempt " << i;
    EXPECT_LT(attempts[i] - attempts[i - 1], 3500) << "attempt " << i;
  }
  EXPECT_EQ(s.GetLastError(), "avformat_open_input error");
  std::string serve = "-re -i " + ShellQuote(file) + " -c copy -f flv -listen 1 " + ShellQuote(url);
  {
    FfmpegProcess server(serve);
    ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(1) > 40; }, milliseconds(8000)));
  }
  ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(3) > 0; }, milliseconds(6000)));
  auto first = FirstRun(c.Take());
  c.Clear();
  {
    FfmpegProcess server(serve);
    ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(1) > 40; }, milliseconds(8000)));
  }
  s.Stop();
  CheckRun(first, true, 150);
}

// lavfi graphs stand in for a capture pair: two inputs, raw video and PCM
// converted at the source, lined up on one clock.
TEST(LiveSourceTest, CapturePairFromTwoInputs) {
  // The collector outlives the source: on every path, the source stops
  // before the collector its tap feeds goes away.
  Collector c;
  CLiveSource s(11);
  c.Attach(s);
  s.SetCaptureFormats("lavfi", "lavfi");
  DeviceSourceInfo d;
  d.videoName = "testsrc=size=320x240:rate=25,realtime";
  d.audioName = "sine=frequency=440:sample_rate=48000,arealtime";
  s.SetDevice(d);
  ASSERT_TRUE(s.Start());
  // Two seconds of real-time capture; a loaded sanitizer build takes far longer.
  ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(1) > 50 && c.Count(2) > 50; }, milliseconds(60000)))
      << c.Count(1) << " video, " << c.Count(2) << " audio";
  s.Stop();
  EXPECT_TRUE(s.IsVideoConverted());
  EXPECT_TRUE(s.IsAudioConverted());
  auto run = FirstRun(c.Take());
  // Both clocks start within a moment; what was captured spans the same time.
  std::vector<Seen> settled;
  for (const Seen& x : run)
    if (x.ts >= 300) settled.push_back(x);
  CheckRun(settled, true, 250);
  auto a = std::find_if(run.begin(), run.end(), [](const Seen& x) { return x.type == 2; });
  ASSERT_NE(a, run.end());
  EXPECT_EQ(a->sampleRate, 48000);
}

// A camera URL that cannot be resolved never opens; it is tried again
// every 2000 ms, and the failure is logged on the first attempt only (the
// next line comes a minute later) and told as the source's open problem.
TEST(LiveSourceTest, UnresolvedCameraRetries) {
  struct NoAnswer : ICameraResolver {
    bool Resolve(const std::string& server, uint16_t port, const std::string& serial, std::string&) override {
      std::lock_guard<std::mutex> l(m);
      times.push_back(NowMs());
      asked = server + ":" + std::to_string(port) + "/" + serial;
      return false;
    }
    std::vector<int64_t> Times() {
      std::lock_guard<std::mutex> l(m);
      return times;
    }
    std::mutex m;
    std::vector<int64_t> times;
    std::string asked;
  } resolver;
  TempDir dir("vvls");
  std::string oldLog = GetLogFileName();
  SetLogFileName(dir.file("v.log"));
  SetCameraResolver(&resolver);
  CLiveSource s(12);
  Collector c;
  c.Attach(s);
  s.SetUrl("rtsp://HKadmin@pw@127.0.0.1:7071//S1:554/ch1");
  ASSERT_TRUE(s.Start());
  bool three = vvtest::WaitFor([&] { return resolver.Times().size() >= 3; }, milliseconds(15000));
  s.Stop();
  SetCameraResolver(nullptr);
  SetLogFileName(oldLog);
  ASSERT_TRUE(three);
  std::vector<int64_t> times = resolver.Times();
  for (size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], 1900) << "attempt " << i;
    EXPECT_LT(times[i] - times[i - 1], 3500) << "attempt " << i;
  }
  EXPECT_EQ(resolver.asked, "127.0.0.1:7071/S1");
  std::string log = vvtest::ReadFileText(dir.file("v.log"));
  size_t n = 0;
  for (size_t p = log.find("海康IP获取失败"); p != std::string::npos; p = log.find("海康IP获取失败", p + 1)) ++n;
  EXPECT_EQ(n, 1u) << log;
  EXPECT_EQ(s.GetOpenProblem(), "海康IP获取失败");
  EXPECT_EQ(s.GetOpenAttempts(), static_cast<int>(times.size()));
  EXPECT_EQ(c.Take().size(), 0u);
}

// Stop wakes a blocked read and a pacing sleep at once, and repeated
// start/stop leaves no thread or descriptor behind.
TEST(LiveSourceTest, StartStopLeavesNothingBehind) {
  TempDir dir("vvls");
  std::string file = MakeFile(dir, "in.mp4", 3.0, "-c:v libx264 -g 25 -c:a aac");
  std::string silent = "udp://127.0.0.1:" + std::to_string(vvtest::FreePort());
  // Warm FFmpeg's one-time set-up before taking the baseline.
  {
    CLiveSource s(13);
    s.SetUrl(file);
    s.Start();
    std::this_thread::sleep_for(milliseconds(300));
    s.Stop();
  }
  int fds = vvtest::CountOpenFds();
  int threads = vvtest::SettledThreadCount();
  for (int i = 0; i < 50; ++i) {
    CLiveSource s(13);
    s.SetUrl(i % 2 ? file : silent);
    // A pass-through channel: started by the source once the input is open,
    // stopped and deleted with it.
    s.AddOutput(new StreamChannel(13, nullptr), 13);
    ASSERT_TRUE(s.Start());
    std::this_thread::sleep_for(milliseconds(20 + (i % 5) * 40));
    int64_t t = NowMs();
    s.Stop();
    // Far below the 4000 ms read time-out: Stop wakes what blocks.
    EXPECT_LT(NowMs() - t, 1500) << "stop took too long, cycle " << i;
  }
  EXPECT_TRUE(vvtest::WaitFor([&] { return vvtest::CountThreads() == threads; }, std::chrono::seconds(10)))
      << vvtest::CountThreads();
  EXPECT_EQ(vvtest::CountOpenFds(), fds);
}

namespace {

struct ProbedStream {
  std::string info;  // codec, size or rate, from ffprobe
  int packets = 0;
  bool monotonic = true;
  double first = -1, end = 0;  // seconds: first dts, last dts + duration
};

// Reads what nginx recorded: stream descriptions, and per medium the
// packets' decode times.
void ProbeRecording(const std::string& path, ProbedStream& video, ProbedStream& audio) {
  video.info = vvtest::Run("ffprobe -v error -select_streams v -show_entries "
                           "stream=codec_name,width,height,r_frame_rate -of csv=p=0 " + ShellQuote(path)).output;
  audio.info = vvtest::Run("ffprobe -v error -select_streams a -show_entries "
                           "stream=codec_name,sample_rate,channels -of csv=p=0 " + ShellQuote(path)).output;
  std::string rows = vvtest::Run("ffprobe -v error -show_entries packet=codec_type,dts_time,duration_time "
                                 "-of csv=p=0 " + ShellQuote(path)).output;
  size_t pos = 0;
  double lastV = -1e9, lastA = -1e9;
  while (pos < rows.size()) {
    size_t nl = rows.find('\n', pos);
    std::string line = rows.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? rows.size() : nl + 1;
    size_t c1 = line.find(','), c2 = line.find(',', c1 + 1);
    if (c1 == std::string::npos || c2 == std::string::npos) continue;
    std::string type = line.substr(0, c1);
    double dts = atof(line.substr(c1 + 1, c2 - c1 - 1).c_str());
    double dur = atof(line.substr(c2 + 1).c_str());
    ProbedStream& st = type == "video" ? video : audio;
    double& last = type == "video" ? lastV : lastA;
    if (dts < last) st.monotonic = false;
    last = dts;
    if (st.first < 0) st.first = dts;
    st.end = std::max(st.end, dts + dur);
    ++st.packets;
  }
}

}  // namespace

// The main road: a file, a UDP and an RTMP source each reach nginx-rtmp
// through a pass-through and a transcoding channel, checked with ffprobe.
TEST(LiveSourceTest, ReachesNginxThroughAChannel) {
  if (!vvtest::NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
  TempDir dir("vvls");
  vvtest::NginxRtmp::Options opt;
  opt.record = true;
  vvtest::NginxRtmp nginx(opt);
  ASSERT_TRUE(nginx.Start());
  // Short key-frame interval: an output takes video from the first key frame
  // after it connected, and the source is already reading by then.
  std::string file = MakeFile(dir, "in.mp4", 3.0, "-c:v libx264 -g 5 -bf 2 -c:a aac -b:a 96k");
  std::string udp = "udp://127.0.0.1:" + std::to_string(vvtest::FreePort());
  struct Case {
    const char* name;
    std::string url;
    std::string send;  // ffmpeg output options of a live sender
  } cases[] = {
      {"file", file, ""},
      {"udp", udp, "-f mpegts " + ShellQuote(udp + "?pkt_size=1316")},
      {"rtmp", nginx.Url("src"), "-f flv " + ShellQuote(nginx.Url("src"))},
  };
  auto recordingsOf = [&](const std::string& name) {
    std::vector<std::string> r;
    for (const std::string& f : nginx.Recordings())
      if (f.find("/" + name + "-") != std::string::npos) r.push_back(f);
    return r;
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    bool live = !k.send.empty();
    std::unique_ptr<FfmpegProcess> sender;
    if (live) sender.reset(new FfmpegProcess(LavfiSender() + k.send));
    CLiveSource s(20);
    Collector c;
    c.Attach(s);
    s.SetUrl(k.url);
    // Two channels on the one input: the source itself passed through, and
    // a sub-stream transcoded by its channel.
    SubStreamInfo sub = SubStream320(0);  // the encoder's own key-frame interval
    struct Item {
      int liveId;
      const SubStreamInfo* settings;
      std::string stream;
      const char* video;
      const char* audio;
    } items[] = {{20, nullptr, std::string(k.name) + "-pass", "h264,320,240,25/1\n", "aac,44100,2\n"},
                 {21, &sub, std::string(k.name) + "-sub", "h264,320,180,25/1\n", "aac,22050,1\n"}};
    std::vector<size_t> before;
    for (const Item& it : items) {
      before.push_back(recordingsOf(it.stream).size());
      StreamChannel* ch = new StreamChannel(it.liveId, it.settings);
      ch->AddOutput(30 + it.liveId, StreamChannel::kStreamOutput,
                    new StreamOutput(30 + it.liveId, nginx.Url(it.stream), StreamOutput::kPublish, nullptr, nullptr));
      s.AddOutput(ch, it.liveId);
    }
    ASSERT_TRUE(s.Start());
    if (live) {
      ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(1) > 75; }, milliseconds(15000)));
    } else {
      // The whole first run of the file.
      ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(3) > 0; }, milliseconds(10000)));
    }
    // Let the channels and the outputs drain, then take the outputs away:
    // the channels go with them and nginx closes the recordings. On a busy
    // machine the transcoding channel may still be working through the file:
    // wait until nginx has the file's pictures (its recording reads while
    // it is written).
    if (!live) {
      for (size_t i = 0; i < 2; ++i) {
        if (items[i].settings) continue;  // see the picture count below
        vvtest::WaitFor(
            [&] {
              std::vector<std::string> rec = recordingsOf(items[i].stream);
              if (rec.size() <= before[i]) return false;
              ProbedStream v, a;
              ProbeRecording(rec[before[i]], v, a);
              return v.packets >= 65;
            },
            milliseconds(20000), milliseconds(500));
      }
    }
    std::this_thread::sleep_for(milliseconds(800));
    for (const Item& it : items) s.RemoveOutput(it.liveId, 30 + it.liveId, 1);
    EXPECT_EQ(s.GetOutputCount(), 0);
    s.Stop();
    sender.reset();
    if (k.url.compare(0, 7, "rtmp://") == 0) {
      EXPECT_EQ(s.GetUrlKind(), CLiveSource::kRtmp);
    }
    for (size_t i = 0; i < 2; ++i) {
      const Item& it = items[i];
      SCOPED_TRACE(it.stream);
      std::vector<std::string> rec;
      ASSERT_TRUE(vvtest::WaitFor(
          [&] {
            rec = recordingsOf(it.stream);
            return rec.size() > before[i];
          },
          milliseconds(10000)));
      std::this_thread::sleep_for(milliseconds(300));
      // The first recording of this case: after the file's end the output
      // publishes its next run as a recording of its own.
      const std::string& path = rec[before[i]];
      ProbedStream v, a;
      ProbeRecording(path, v, a);
      EXPECT_EQ(v.info, it.video);
      EXPECT_EQ(a.info, it.audio);
      EXPECT_TRUE(v.monotonic);
      EXPECT_TRUE(a.monotonic);
      // The transcoded item's first recording ends short: the sub-stream's
      // encoder still holds the last pictures of the file's run (its look-ahead)
      // when the run's end makes the output publish anew, so they go into the
      // next run's recording. Only the passed-through item keeps the whole run.
      if (!live && !it.settings) {
        EXPECT_GE(v.packets, 65) << "pictures of the file";
        EXPECT_LE(v.packets, 75) << "pictures of the file";
        EXPECT_NEAR(v.end - v.first, a.end - a.first, 0.25) << "audio and video durations";
      }
      // A live stream is cut in the middle: what the audio encoder still
      // holds (up to two AAC frames) is cut off with it.
      EXPECT_NEAR(v.end, a.end, live ? 0.2 : 0.1) << "audio and video end together";
      std::string errors = vvtest::Run("ffmpeg -v error -i " + ShellQuote(path) + " -f null - 2>&1").output;
      EXPECT_EQ(errors, "");
    }
  }
}

// An RTMP input whose publisher goes away: the read times out, the run ends,
// and the source picks the stream up again once it is published anew.
TEST(LiveSourceTest, RtmpInputComesBack) {
  if (!vvtest::NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
  vvtest::NginxRtmp nginx;
  ASSERT_TRUE(nginx.Start());
  std::string url = nginx.Url("cam");
  std::string send = LavfiSender() + "-f flv " + ShellQuote(url);
  std::unique_ptr<FfmpegProcess> publisher(new FfmpegProcess(send));
  CLiveSource s(21);
  Collector c;
  c.Attach(s);
  s.SetUrl(url);
  // The publisher needs a moment before there is a stream to play.
  std::this_thread::sleep_for(milliseconds(700));
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(1) > 50; }, milliseconds(12000)));
  publisher.reset();
  ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(3) > 0; }, milliseconds(10000)));
  auto first = FirstRun(c.Take());
  c.Clear();
  publisher.reset(new FfmpegProcess(send));
  ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(1) > 25; }, milliseconds(20000)));
  s.Stop();
  std::vector<Seen> settled;
  int64_t firstV = -1;
  for (const Seen& x : first)
    if (x.type == 1 && firstV < 0) firstV = x.ts;
  for (const Seen& x : first)
    if (x.ts >= firstV + 200) settled.push_back(x);
  CheckRun(settled, true, 150);
}

// The sender of a live source goes away and comes back: the read times out,
// the source reopens every 2000 ms until the sender is back, the end of the
// first run closes the publishing connection, and the output publishes the
// second run on a fresh connection that starts with its sequence headers.
TEST(LiveSourceTest, OutputResumesWhenTheSourceComesBack) {
  if (!vvtest::NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
  vvtest::NginxRtmp::Options opt;
  opt.record = true;
  vvtest::NginxRtmp nginx(opt);
  ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
  auto recordings = [&] {
    std::vector<std::string> r;
    for (const std::string& f : nginx.Recordings())
      if (f.find("/back-") != std::string::npos) r.push_back(f);
    return r;
  };
  std::string udp = "udp://127.0.0.1:" + std::to_string(vvtest::FreePort());
  std::string send = LavfiSender() + "-f mpegts " + ShellQuote(udp + "?pkt_size=1316");
  CLiveSource s(22);
  Collector c;
  c.Attach(s);
  s.SetUrl(udp);
  StreamChannel* ch = new StreamChannel(22, nullptr);
  ch->AddOutput(40, StreamChannel::kStreamOutput,
                new StreamOutput(40, nginx.Url("back"), StreamOutput::kPublish, nullptr, nullptr));
  s.AddOutput(ch, 22);
  std::unique_ptr<FfmpegProcess> sender(new FfmpegProcess(send));
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(vvtest::WaitFor([&] { return !recordings().empty() && c.Count(1) > 50; }, milliseconds(20000)));
  sender.reset();
  ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(3) > 0; }, milliseconds(10000)));
  int attempts = s.GetOpenAttempts();
  // Nobody sends for a while: the source keeps trying.
  std::this_thread::sleep_for(milliseconds(4500));
  EXPECT_GE(s.GetOpenAttempts(), attempts + 1);
  size_t published = recordings().size();
  sender.reset(new FfmpegProcess(send));
  ASSERT_TRUE(vvtest::WaitFor([&] { return recordings().size() > published; }, milliseconds(30000)));
  // Three seconds of the second run after its connection came up.
  int videoThen = c.Count(1);
  ASSERT_TRUE(vvtest::WaitFor([&] { return c.Count(1) > videoThen + 75; }, milliseconds(20000)));
  std::this_thread::sleep_for(milliseconds(500));
  s.RemoveOutput(22, 40, 1);  // unpublishes: nginx closes the recording
  s.Stop();
  sender.reset();
  std::string rec = recordings().back();
  std::this_thread::sleep_for(milliseconds(300));
  ProbedStream v, a;
  ProbeRecording(rec, v, a);
  EXPECT_EQ(v.info, "h264,320,240,25/1\n");
  EXPECT_EQ(a.info, "aac,44100,2\n");
  EXPECT_TRUE(v.monotonic);
  EXPECT_TRUE(a.monotonic);
  EXPECT_GT(v.packets, 25);
  // Each kind starts with its sequence header on the new connection.
  std::vector<vvtest::FlvTag> tags = vvtest::ReadFlvTags(rec);
  bool firstVideo = true, firstAudio = true;
  for (const vvtest::FlvTag& t : tags) {
    if (t.type == 9 && firstVideo) {
      EXPECT_TRUE(t.IsSequenceHeader()) << "video starts with a picture";
      firstVideo = false;
    } else if (t.type == 8 && firstAudio) {
      EXPECT_TRUE(t.IsSequenceHeader()) << "audio starts with a frame";
      firstAudio = false;
    }
  }
  EXPECT_FALSE(firstVideo);
  EXPECT_FALSE(firstAudio);
  std::string errors = vvtest::Run("ffmpeg -v error -i " + ShellQuote(rec) + " -f null - 2>&1").output;
  EXPECT_EQ(errors, "");
}
