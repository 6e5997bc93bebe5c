// The stream channel on a real road: a file read with FFmpeg the way a live
// source reads it, the channel's seven threads, and outputs whose result
// FFmpeg reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <mutex>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include "media/RelayLink.h"
#include "media/StreamChannel.h"
#include "media/StreamOutput.h"
#include "tests/media/RtmpSink.h"
#include "tests/media/StallingRelay.h"
#include "tests/media/SubStreams.h"
#include "tests/tools/NginxRtmp.h"
#include "tests/tools/TestUtil.h"

using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

// An input read from a media file as the live source reads one: Annex B
// video, millisecond timestamps from one shared origin following the decode
// time, composition time beside them, an end of stream at the end.
class FileInput : public StreamChannelOwner {
 public:
  explicit FileInput(const std::string& path) {
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return;
    avformat_find_stream_info(fmt, nullptr);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
      AVStream* st = fmt->streams[i];
      if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && videoIndex < 0) {
        videoIndex = static_cast<int>(i);
        const AVBitStreamFilter* f = av_bsf_get_by_name("h264_mp4toannexb");
        av_bsf_alloc(f, &bsf);
        avcodec_parameters_copy(bsf->par_in, st->codecpar);
        bsf->time_base_in = st->time_base;
        av_bsf_init(bsf);
        // What channels see matches the Annex B packets: the filter's
        // output parameters, extradata included.
        videoCtx = avcodec_alloc_context3(nullptr);
        avcodec_parameters_to_context(videoCtx, bsf->par_out);
        videoCtx->framerate = st->r_frame_rate;
      } else if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && audioIndex < 0) {
        audioIndex = static_cast<int>(i);
        audioCtx = avcodec_alloc_context3(nullptr);
        avcodec_parameters_to_context(audioCtx, st->codecpar);
      }
    }
  }
  ~FileInput() {
    Join();
    av_bsf_free(&bsf);
    avcodec_free_context(&videoCtx);
    avcodec_free_context(&audioCtx);
    avformat_close_input(&fmt);
  }
  bool Ok() const { return fmt != nullptr; }

  bool IsStarted() const override { return started.load(); }
  bool HasVideo() const override { return videoIndex >= 0; }
  bool HasAudio() const override { return audioIndex >= 0; }
  AVCodecContext* GetChannelVideoCodecContext() const override { return videoCtx; }
  AVCodecContext* GetChannelAudioCodecContext() const override { return audioCtx; }
  AVRational GetVideoTimeBase() const override {
    return videoIndex >= 0 ? fmt->streams[videoIndex]->time_base : AVRational{1, 1000};
  }
  AVRational GetAudioTimeBase() const override {
    return audioIndex >= 0 ? fmt->streams[audioIndex]->time_base : AVRational{1, 1000};
  }

  // Reports the input open without reading yet.
  void SetStarted() { started = true; }

  // Reads the whole file into the channel, paced to real time times speed.
  void Play(StreamChannel* channel, double speed = 1.0, bool endOfStream = true) {
    started = true;
    reader = std::thread([=] { Read(channel, speed, endOfStream); });
  }
  void Join() {
    if (reader.joinable()) reader.join();
  }
  int VideoPackets() const { return videoPackets; }
  // Back to the start, as a reopened input reads it again.
  void Rewind() {
    Join();
    av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BACKWARD);
    if (bsf) av_bsf_flush(bsf);
    origin = AV_NOPTS_VALUE;
  }

 private:
  void Read(StreamChannel* channel, double speed, bool endOfStream) {
    AVPacket* pkt = av_packet_alloc();
    auto wall = std::chrono::steady_clock::now();
    while (av_read_frame(fmt, pkt) >= 0) {
      AVStream* st = fmt->streams[pkt->stream_index];
      if (pkt->stream_index == videoIndex) {
        av_bsf_send_packet(bsf, pkt);
        while (av_bsf_receive_packet(bsf, pkt) == 0) {
          Emit(channel, st, pkt, 1, wall, speed);
          ++videoPackets;
          av_packet_unref(pkt);
        }
      } else if (pkt->stream_index == audioIndex) {
        Emit(channel, st, pkt, 2, wall, speed);
      }
      av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    if (endOfStream) {
      IoBuffer* e = new IoBuffer(16);
      e->SetType(3);
      channel->PushInput(e);
    }
  }
  void Emit(StreamChannel* channel, AVStream* st, AVPacket* pkt, int type,
            std::chrono::steady_clock::time_point wall, double speed) {
    AVRational ms = {1, 1000};
    int64_t dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : dts;
    int64_t t = av_rescale_q(dts, st->time_base, ms);
    if (origin == AV_NOPTS_VALUE) origin = t;
    t = t > origin ? t - origin : 0;
    IoBuffer* b = new IoBuffer(pkt->size + 1);
    b->Write(pkt->data, pkt->size);
    b->SetType(type);
    b->SetCodecId(st->codecpar->codec_id);
    b->SetTimestamp(t);
    b->SetPts(pts);
    b->SetDts(dts);
    b->SetCompositionTime(static_cast<int>(av_rescale_q(pts - dts, st->time_base, ms)));
    b->SetFlags(pkt->flags & AV_PKT_FLAG_KEY);
    b->SetDuration(static_cast<int>(pkt->duration));
    b->SetStreamIndex(pkt->stream_index);
    b->SetSampleRate(st->codecpar->sample_rate);
    b->SetChannels(st->codecpar->ch_layout.nb_channels);
    if (type == 2 && st->codecpar->extradata_size > 0)
      b->SetExtraData(st->codecpar->extradata, st->codecpar->extradata_size);
    if (speed > 0) {
      auto due = wall + std::chrono::milliseconds(static_cast<int64_t>(t / speed));
      std::this_thread::sleep_until(due);
    }
    channel->PushInput(b);
  }

  AVFormatContext* fmt = nullptr;
  AVCodecContext* videoCtx = nullptr;
  AVCodecContext* audioCtx = nullptr;
  AVBSFContext* bsf = nullptr;
  int videoIndex = -1, audioIndex = -1;
  int64_t origin = AV_NOPTS_VALUE;
  std::atomic<bool> started{false};
  std::atomic<int> videoPackets{0};
  std::thread reader;
};

std::string MakeSource(const TempDir& dir, const std::string& name, double seconds,
                       const std::string& size = "640x360", const std::string& extra = "") {
  std::string file = dir.file(name);
  std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + size +
                    ":rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
                    std::to_string(seconds) + " -pix_fmt yuv420p -c:v libx264 -g 25 " + extra +
                    " -c:a aac -ac 2 -b:a 96k " + ShellQuote(file);
  EXPECT_EQ(vvtest::Run(cmd, true).status, 0) << cmd;
  return file;
}


// Gives the channel a relay output listening on the port; the channel owns it.
StreamOutput* AddRelayOutput(StreamChannel* ch, int id, int port) {
  StreamOutput* out = new StreamOutput(id, "", StreamOutput::kRelay, nullptr, nullptr);
  out->SetPort(port);
  ch->AddOutput(id, StreamChannel::kStreamOutput, out);
  return out;
}

// A relay client: connects to the relay port and keeps every record.
class RelayClient {
 public:
  struct Record {
    uint32_t ts;
    int kind;
    std::vector<uint8_t> body;
  };
  explicit RelayClient(int port) {
    reader = std::thread([this, port] { Run(port); });
  }
  ~RelayClient() {
    stop = true;
    if (reader.joinable()) reader.join();
  }
  std::vector<Record> Take() {
    stop = true;
    if (reader.joinable()) reader.join();
    return records;
  }
  bool Connected() const { return connected.load(); }
  size_t Count() {
    std::lock_guard<std::mutex> l(m);
    return records.size();
  }
  // Returns once records have come and stopped coming for a second and a
  // half (a loaded machine may hold a stage back for a moment).
  void WaitUntilQuiet() {
    size_t last = 0;
    int quiet = 0;
    vvtest::WaitFor([&] {
      size_t n = Count();
      quiet = n == last && n > 0 ? quiet + 1 : 0;
      last = n;
      return quiet >= 3;
    }, std::chrono::seconds(20), std::chrono::milliseconds(500));
  }

 private:
  void Run(int port) {
    int fd = -1;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stop && std::chrono::steady_clock::now() < until) {
      fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) break;
      close(fd);
      fd = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (fd < 0) return;
    connected = true;
    timeval tv{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    std::vector<uint8_t> buf;
    uint8_t chunk[65536];
    while (!stop) {
      ssize_t n = recv(fd, chunk, sizeof(chunk), 0);
      if (n == 0) break;
      if (n < 0) continue;
      buf.insert(buf.end(), chunk, chunk + n);
      size_t pos = 0;
      while (buf.size() - pos >= 9) {
        uint32_t len = (uint32_t(buf[pos + 5]) << 24) | (uint32_t(buf[pos + 6]) << 16) |
                       (uint32_t(buf[pos + 7]) << 8) | buf[pos + 8];
        if (buf.size() - pos - 9 < len) break;
        Record r;
        r.ts = (uint32_t(buf[pos]) << 24) | (uint32_t(buf[pos + 1]) << 16) | (uint32_t(buf[pos + 2]) << 8) |
               buf[pos + 3];
        r.kind = buf[pos + 4];
        r.body.assign(buf.begin() + pos + 9, buf.begin() + pos + 9 + len);
        {
          std::lock_guard<std::mutex> l(m);
          records.push_back(std::move(r));
        }
        pos += 9 + len;
      }
      buf.erase(buf.begin(), buf.begin() + pos);
    }
    close(fd);
  }

  std::atomic<bool> stop{false};
  std::atomic<bool> connected{false};
  std::mutex m;
  std::vector<Record> records;
  std::thread reader;
};

// Writes relay records as an FLV file, the way a receiver would store them.
void WriteFlv(const std::string& path, const std::vector<RelayClient::Record>& records) {
  std::ofstream f(path, std::ios::binary);
  const uint8_t head[] = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0};
  f.write(reinterpret_cast<const char*>(head), sizeof(head));
  for (const auto& r : records) {
    uint32_t n = static_cast<uint32_t>(r.body.size());
    uint8_t type = r.kind == 1 ? 9 : 8;
    uint8_t h[11] = {type, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), uint8_t(r.ts >> 16),
                     uint8_t(r.ts >> 8), uint8_t(r.ts), uint8_t(r.ts >> 24), 0, 0, 0};
    f.write(reinterpret_cast<const char*>(h), 11);
    f.write(reinterpret_cast<const char*>(r.body.data()), n);
    uint32_t prev = n + 11;
    uint8_t p[4] = {uint8_t(prev >> 24), uint8_t(prev >> 16), uint8_t(prev >> 8), uint8_t(prev)};
    f.write(reinterpret_cast<const char*>(p), 4);
  }
}

struct Probe {
  std::string video, audio;  // ffprobe's csv lines of each stream
  std::string errors;        // what ffmpeg -v error says while decoding
};

// ffprobe's csv line of the video stream: codec, size, pictures read.
std::string VideoLine(const std::string& path) {
  return vvtest::Run("ffprobe -v error -count_frames -select_streams v -show_entries "
                     "stream=codec_name,width,height,nb_read_frames -of csv=p=0 " + ShellQuote(path)).output;
}

// Waits until what is written to the file shows the expected video: the
// stages behind the input may still be busy after it has been read, and an
// empty queue between them says nothing on a loaded machine.
void WaitForVideo(const std::string& path, const std::string& expected) {
  vvtest::WaitFor([&] { return VideoLine(path) == expected; }, std::chrono::seconds(20),
                  std::chrono::milliseconds(300));
}

Probe ProbeFile(const std::string& path) {
  Probe p;
  p.video = VideoLine(path);
  p.audio = vvtest::Run("ffprobe -v error -select_streams a -show_entries stream=codec_name,sample_rate,channels "
                        "-of csv=p=0 " + ShellQuote(path)).output;
  p.errors = vvtest::Run("ffmpeg -v error -i " + ShellQuote(path) + " -f null - 2>&1").output;
  return p;
}

// The file nginx records a published stream into ("" until it is opened).
std::string RecordingOf(const vvtest::NginxRtmp& nginx, const std::string& stream) {
  for (const std::string& f : nginx.Recordings())
    if (f.rfind("/" + stream + "-") != std::string::npos) return f;
  return "";
}

// Checks what a receiver stored: streams, sizes, clean decoding, rising
// decode times, audio and video ending together.
void ExpectStream(const std::string& flv, const std::string& video, const std::string& audio,
                  int maxVideoKbps = 0) {
  Probe p = ProbeFile(flv);
  EXPECT_EQ(p.errors, "");
  EXPECT_EQ(p.video, video);
  EXPECT_EQ(p.audio, audio);
  auto pk = vvtest::Run("ffprobe -v error -show_entries packet=codec_type,pts_time,dts_time,duration_time,size "
                        "-of csv=p=0 " + ShellQuote(flv));
  std::istringstream lines(pk.output);
  std::string line;
  long lastVideoDts = -1000000, videoEnd = 0, audioEnd = 0, videoBytes = 0;
  while (std::getline(lines, line)) {
    char kind[16] = {};
    double ptsS = 0, dtsS = 0, durS = 0;
    long size = 0;
    if (sscanf(line.c_str(), "%15[^,],%lf,%lf,%lf,%ld", kind, &ptsS, &dtsS, &durS, &size) < 5) continue;
    long pts = std::lround(ptsS * 1000), dts = std::lround(dtsS * 1000), dur = std::lround(durS * 1000);
    if (std::string(kind) == "video") {
      EXPECT_GT(dts, lastVideoDts);
      lastVideoDts = dts;
      videoEnd = std::max(videoEnd, pts + dur);
      videoBytes += size;
    } else {
      audioEnd = std::max(audioEnd, pts + dur);
    }
  }
  if (!audio.empty() && !video.empty()) {
    EXPECT_LT(std::labs(videoEnd - audioEnd), 100) << "video ends " << videoEnd << ", audio " << audioEnd;
  }
  if (maxVideoKbps > 0 && videoEnd > 0) {
    double kbps = videoBytes * 8.0 / videoEnd;
    EXPECT_LT(kbps, maxVideoKbps * 1.5);
    EXPECT_GT(kbps, maxVideoKbps * 0.3);
  }
}

}  // namespace

TEST(StreamChannel, StartAndStopLeaveNoThreadsBehind) {
  {
    // Warm-up: runtimes (sanitizers among them) may add a helper thread of
    // their own on the first thread start.
    StreamChannel warm(0, nullptr);
    warm.Start();
  }
  int threads = vvtest::SettledThreadCount();
  int fds = vvtest::CountOpenFds();
  {
    StreamChannel never(1, nullptr);  // never started: nothing to join
    never.Stop();
    never.Stop();
    EXPECT_FALSE(never.IsRunning());
  }
  SubStreamInfo settings;
  settings.useVideo = true;
  settings.width = 320;
  for (int i = 0; i < 50; ++i) {
    StreamChannel* ch = new StreamChannel(i, i % 2 ? &settings : nullptr);
    ASSERT_TRUE(ch->Start());
    EXPECT_TRUE(ch->IsRunning());
    EXPECT_TRUE(vvtest::WaitFor([&] { return vvtest::CountThreads() == threads + 7; }, std::chrono::seconds(5)))
        << vvtest::CountThreads();
    if (i % 3 == 0) ch->Stop();
    EXPECT_FALSE(ch->Start() && i % 3 == 0);
    delete ch;
  }
  EXPECT_TRUE(vvtest::WaitFor([&] { return vvtest::CountThreads() == threads; }, std::chrono::seconds(10)));
  EXPECT_EQ(vvtest::CountOpenFds(), fds);
}

TEST(StreamChannel, QueuesBehindASlowStageDropToTheNextKeyFrame) {
  // Packets: type, timestamp, key flag. The newest pushed is at 20000 ms,
  // the limit 8000 ms.
  struct P {
    int type;
    int64_t ts;
    int key;
  };
  struct Case {
    const char* name;
    std::vector<P> queue;
    bool decoded;
    int64_t expectTs;  // timestamp of the packet handed out, -1 for none
    int expectType;
    int expectDropped;
  } cases[] = {
      {"within the limit", {{1, 12000, 0}, {2, 12010, 0}}, false, 12000, 1, 0},
      {"old, dropped to the key frame", {{1, 1000, 0}, {2, 1010, 0}, {1, 1040, 0}, {1, 1080, 1}, {1, 1120, 0}},
       false, 1080, 1, 3},
      {"packaged key tag", {{9, 500, 0}, {8, 510, 0}, {9, 540, 1}}, false, 540, 9, 2},
      {"end of stream is kept", {{1, 100, 0}, {3, 0, 0}, {1, 0, 1}}, false, 0, 3, 1},
      {"no key frame left", {{1, 100, 0}, {2, 110, 0}}, false, -1, 0, 2},
      {"decoded: down to half the limit", {{1, 5000, 0}, {1, 12000, 0}, {1, 16000, 0}}, true, 16000, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PacketQueue q;
    for (const P& p : c.queue) {
      IoBuffer* b = new IoBuffer(16);
      b->SetType(p.type);
      b->SetTimestamp(p.ts);
      b->SetFlags(p.key);
      q.Push(b);
    }
    int dropped = 0;
    IoBuffer* got = StreamChannel::TakeBounded(&q, 20000, 8000, c.decoded, &dropped);
    if (c.expectTs < 0) {
      EXPECT_EQ(got, nullptr);
    } else {
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(got->GetTimestamp(), c.expectTs);
      EXPECT_EQ(got->GetType(), c.expectType);
    }
    EXPECT_EQ(dropped, c.expectDropped);
    StreamChannel::FreePacket(got);
  }
}

TEST(StreamChannel, PublishesPassThroughAndSubStreamChannels) {
  TempDir dir("vvch");
  // B-frames in the source: pass-through must keep decode order and times.
  std::string src = MakeSource(dir, "src.mp4", 2.0, "640x360", "-bf 2");
  vvtest::NginxRtmp::Options recordAll;
  recordAll.record = true;
  vvtest::NginxRtmp nginx(recordAll);
  ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
  SubStreamInfo sub = SubStream320();
  // Transcoding video only: the input's audio is dropped, not passed on.
  SubStreamInfo videoOnly = SubStream320();
  videoOnly.useAudio = false;
  struct Case {
    const char* name;
    const SubStreamInfo* settings;
    std::string video, audio;
    int kbps;
  } cases[] = {
      {"pass", nullptr, "h264,640,360,50\n", "aac,44100,2\n", 0},
      {"sub", &sub, "h264,320,180,50\n", "aac,22050,1\n", 300},
      {"videoonly", &videoOnly, "h264,320,180,50\n", "", 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileInput in(src);
    ASSERT_TRUE(in.Ok());
    StreamChannel* ch = new StreamChannel(12, c.settings);
    ch->SetOwner(&in);
    StreamOutput* out = new StreamOutput(22, nginx.Url(c.name), StreamOutput::kPublish, nullptr, nullptr);
    ch->AddOutput(22, StreamChannel::kStreamOutput, out);
    ch->SetUpCodecs();
    ASSERT_TRUE(ch->Start());
    in.SetStarted();
    ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, std::chrono::seconds(5)));
    in.Play(ch, 2.0);
    in.Join();
    std::string flv;
    ASSERT_TRUE(vvtest::WaitFor([&] { return !(flv = RecordingOf(nginx, c.name)).empty(); }, std::chrono::seconds(5)));
    // Every picture has gone out once the end of stream follows them (the
    // output holds only its newest packet back).
    WaitForVideo(flv, c.video);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    delete ch;  // closes the publish connection: nginx finishes the file
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ExpectStream(flv, c.video, c.audio, c.kbps);
  }
}

TEST(StreamChannel, RelaysPassThroughAndSubStreamChannels) {
  TempDir dir("vvch");
  std::string src = MakeSource(dir, "src.mp4", 2.0, "640x360", "-bf 2");
  SubStreamInfo sub = SubStream320();
  // A video format the channel cannot encode: its decoder stays closed too,
  // and beside the transcoded audio the video is dropped, never handed to
  // an encoder as if decoded.
  SubStreamInfo noVideoCodec = SubStream320();
  noVideoCodec.vFormat = "VP8";
  struct Case {
    const char* name;
    const SubStreamInfo* settings;
    std::string video, audio;
  } cases[] = {
      {"pass", nullptr, "h264,640,360,50\n", "aac,44100,2\n"},
      {"sub", &sub, "h264,320,180,50\n", "aac,22050,1\n"},
      {"novideocodec", &noVideoCodec, "", "aac,22050,1\n"},
  };
  SetRelayBindAddress("127.0.0.1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileInput in(src);
    ASSERT_TRUE(in.Ok());
    StreamChannel* ch = new StreamChannel(11, c.settings);
    ch->SetOwner(&in);
    int port = vvtest::FreePort();
    StreamOutput* out = AddRelayOutput(ch, 21, port);
    ch->SetUpCodecs();
    ASSERT_TRUE(ch->Start());
    RelayClient client(port);
    in.SetStarted();  // the output starts and listens once the input is open
    ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, std::chrono::seconds(5)));
    in.Play(ch, 4.0);
    in.Join();
    client.WaitUntilQuiet();
    auto records = client.Take();
    delete ch;
    // Each sequence header comes first for its kind: AVC 17 00, AAC AF 00.
    int firstVideo = -1, firstAudio = -1;
    for (size_t i = 0; i < records.size(); ++i) {
      if (records[i].kind == 1 && firstVideo < 0) firstVideo = static_cast<int>(i);
      if (records[i].kind == 0 && firstAudio < 0) firstAudio = static_cast<int>(i);
    }
    if (!c.video.empty()) {
      ASSERT_GE(firstVideo, 0);
      EXPECT_EQ(records[firstVideo].body[0], 0x17);
      EXPECT_EQ(records[firstVideo].body[1], 0x00);
    } else {
      EXPECT_EQ(firstVideo, -1);
    }
    ASSERT_GE(firstAudio, 0);
    EXPECT_EQ(records[firstAudio].body[0], 0xaf);
    EXPECT_EQ(records[firstAudio].body[1], 0x00);
    std::string flv = dir.file(std::string(c.name) + ".flv");
    WriteFlv(flv, records);
    ExpectStream(flv, c.video, c.audio);
  }
}

TEST(StreamChannel, RecordsWhatTheInputCarries) {
  // Record outputs get the raw packets, with pts and dts in the input's
  // time bases and the codec contexts the channel hands them.
  TempDir dir("vvch");
  std::string src = MakeSource(dir, "src.mp4", 2.0, "640x360", "-bf 2");
  struct Case {
    const char* name;
    int fileType;
    const char* ext;
    std::string video, audio;
  } cases[] = {
      {"mp4", 2, ".mp4", "h264,640,360,50\n", "aac,44100,2\n"},
      {"flv", 1, ".flv", "h264,640,360,50\n", "aac,44100,2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = dir.file(c.name);
    mkdir(folder.c_str(), 0755);
    FileInput in(src);
    ASSERT_TRUE(in.Ok());
    StreamChannel* ch = new StreamChannel(13, nullptr);
    ch->SetOwner(&in);
    RecordTaskInfo task;
    task.name = "cam";
    task.fileType = c.fileType;
    task.saveFolder = folder;
    task.fileMod = 0;  // the file stays open past the input's end; deleting the channel closes it
    task.direMod = 1;  // straight into the folder
    StreamOutput* out = new StreamOutput(23, "", StreamOutput::kRecord, nullptr, &task);
    ch->AddOutput(23, StreamChannel::kRecordOutput, out);
    ch->SetUpCodecs();
    ASSERT_TRUE(ch->Start());
    in.SetStarted();
    // A record output takes packets once its file is open: the input plays
    // from then on (on a loaded machine the opening can come late).
    ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsRunning() && out->IsConnected(); }, std::chrono::seconds(20)));
    in.Play(ch, 4.0);
    in.Join();
    std::string file;
    ASSERT_TRUE(vvtest::WaitFor([&] {
      auto r = vvtest::Run("ls " + ShellQuote(folder) + " | grep '^cam_.*" + c.ext + "$'");
      file = r.output.substr(0, r.output.find('\n'));
      return !file.empty();
    }, std::chrono::seconds(10)));
    // Everything is in once the file shows every picture (an MP4 file is
    // written in fragments, so it reads before it is closed too).
    std::string path = folder + "/" + file;
    WaitForVideo(path, c.video);
    delete ch;
    ExpectStream(folder + "/" + file, c.video, c.audio);
  }
}

TEST(StreamChannel, KeepsFlowingAcrossAReopenedInput) {
  // The input ends and is read again: the channel's decoders hand out what
  // they held and take the new run, the encoders carry on, and the relay's
  // times carry on across the new run instead of going back.
  TempDir dir("vvch");
  std::string src = MakeSource(dir, "src.mp4", 1.0, "320x240", "");
  SubStreamInfo sub = SubStream320();
  struct Case {
    const char* name;
    const SubStreamInfo* settings;
  } cases[] = {{"pass", nullptr}, {"sub", &sub}};
  SetRelayBindAddress("127.0.0.1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileInput in(src);
    StreamChannel* ch = new StreamChannel(15, c.settings);
    ch->SetOwner(&in);
    int port = vvtest::FreePort();
    StreamOutput* out = AddRelayOutput(ch, 25, port);
    ch->SetUpCodecs();
    ASSERT_TRUE(ch->Start());
    RelayClient client(port);
    in.SetStarted();
    ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, std::chrono::seconds(5)));
    in.Play(ch, 2.0);  // ends with an end of stream
    in.Rewind();
    in.Play(ch, 2.0);
    in.Join();
    client.WaitUntilQuiet();
    auto records = client.Take();
    delete ch;
    int pictures = 0, restarts = 0;
    uint32_t lastVideoTs = 0;
    for (const auto& r : records) {
      if (r.kind != 1 || r.body.size() < 2 || r.body[1] != 1) continue;
      ++pictures;
      if (pictures > 1 && r.ts < lastVideoTs) ++restarts;
      lastVideoTs = r.ts;
    }
    EXPECT_EQ(pictures, 50);  // 25 pictures in each run
    EXPECT_EQ(restarts, 0);
  }
}

// Stopping a forward whose link stopped carrying data takes seconds (its
// send waits for the time-out, then the connection closes); a sibling
// forward of the same channel goes on meanwhile, without a gap at its sink.
TEST(StreamChannel, RemovingABlockedOutputLeavesNoGapAtASibling) {
  TempDir dir("vvch");
  // Lossless noise: megabytes a second, so the buffers on the way to the
  // stalled sink fill at once.
  std::string src = dir.file("noise.mp4");
  std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i " +
                    ShellQuote("nullsrc=size=320x240:rate=25,geq=random(1)*255:128:128") +
                    " -f lavfi -i sine=frequency=440:sample_rate=44100 -t 14 -pix_fmt yuv420p -c:v libx264 "
                    "-preset ultrafast -qp 0 -g 25 -c:a aac -ac 2 " +
                    ShellQuote(src);
  ASSERT_EQ(vvtest::Run(cmd, true).status, 0) << cmd;
  vvtest::NginxRtmp nginx;
  ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
  vvtest::StallingRelay link(nginx.port());
  FileInput in(src);
  ASSERT_TRUE(in.Ok());
  StreamChannel* ch = new StreamChannel(16, nullptr);
  ch->SetOwner(&in);
  StreamOutput* sibling = new StreamOutput(41, nginx.Url("sibling"), StreamOutput::kPublish, nullptr, nullptr);
  StreamOutput* blocked = new StreamOutput(42, link.Url("blocked"), StreamOutput::kPublish, nullptr, nullptr);
  ch->AddOutput(41, StreamChannel::kStreamOutput, sibling);
  ch->AddOutput(42, StreamChannel::kStreamOutput, blocked);
  ch->SetUpCodecs();
  ASSERT_TRUE(ch->Start());
  in.SetStarted();
  ASSERT_TRUE(vvtest::WaitFor([&] { return sibling->IsConnected() && blocked->IsConnected(); },
                              std::chrono::seconds(20)));
  rtmptest::RtmpSink sink(nginx.Url("sibling"));
  in.Play(ch, 1.0, false);
  ASSERT_TRUE(vvtest::WaitFor([&] { return sink.Count() > 50; }, std::chrono::seconds(20)));
  // The blocked forward's sink stops reading: once the buffers between are
  // full its sender waits in a send, and its queue grows.
  link.Stall(true);
  ASSERT_TRUE(vvtest::WaitFor([&] { return blocked->QueueSize() > 100; }, std::chrono::seconds(20)))
      << blocked->QueueSize();
  const int64_t removeBegin = rtmptest::NowMs();
  ch->RemoveOutput(42, 1);
  const int64_t removeEnd = rtmptest::NowMs();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::vector<rtmptest::SinkMessage> got = sink.Messages();
  int64_t widestGap = 0, previous = -1;
  int during = 0;
  for (const rtmptest::SinkMessage& m : got) {
    if (m.arrival < removeBegin - 500 || m.arrival > removeEnd + 500) continue;
    if (previous >= 0) widestGap = std::max(widestGap, m.arrival - previous);
    previous = m.arrival;
    ++during;
  }
  printf("removal took %lld ms; widest gap at the sibling's sink %lld ms over %d messages\n",
         static_cast<long long>(removeEnd - removeBegin), static_cast<long long>(widestGap), during);
  EXPECT_GT(during, 10);
  EXPECT_LT(widestGap, 500);
  EXPECT_FALSE(ch->HasOutput(42, 1));
  in.Join();
  delete ch;
  // The playing client turned the library's log down; back to the
  // program's level.
  RTMP_LogSetLevel(RTMP_LOGINFO);
}

// Outputs come and go while the channel's packets flow through all of them
// (each packet's bytes are shared by every output). Two outputs stay: one
// from the start, one added half way. Each stamps its messages against its
// own connection's first packet; the later one's frames are a run of the
// earlier one's, byte for byte and at the same distances: neither output's
// timing shows in the other's stream.
TEST(StreamChannel, OutputsComingAndGoingWhilePacketsFlowKeepTheirOwnTimelines) {
  TempDir dir("vvch");
  std::string src = MakeSource(dir, "src.mp4", 4.0);
  vvtest::NginxRtmp nginx;
  ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
  rtmptest::RtmpSink sinkFirst(nginx.Url("first"));
  rtmptest::RtmpSink sinkLate(nginx.Url("late"));
  FileInput in(src);
  ASSERT_TRUE(in.Ok());
  StreamChannel* ch = new StreamChannel(31, nullptr);
  ch->SetOwner(&in);
  StreamOutput* first = new StreamOutput(1, nginx.Url("first"), StreamOutput::kPublish, nullptr, nullptr);
  ch->AddOutput(1, StreamChannel::kStreamOutput, first);
  ch->SetUpCodecs();
  ASSERT_TRUE(ch->Start());
  in.SetStarted();
  ASSERT_TRUE(vvtest::WaitFor([&] { return first->IsConnected(); }, std::chrono::seconds(10)));
  in.Play(ch, 1.0, false);

  // Short-lived outputs, a few at a time, publishing or relaying (a relay
  // nobody connects to drops what it gets).
  const auto start = std::chrono::steady_clock::now();
  std::vector<int> alive;
  bool lateAdded = false;
  for (int i = 0; i < 40 && std::chrono::steady_clock::now() - start < std::chrono::seconds(3); ++i) {
    int id = 100 + i;
    StreamOutput* out = i % 4 == 3 ? new StreamOutput(id, "", StreamOutput::kRelay, nullptr, nullptr)
                                   : new StreamOutput(id, nginx.Url("m" + std::to_string(i)),
                                                      StreamOutput::kPublish, nullptr, nullptr);
    if (i % 4 == 3) out->SetPort(vvtest::FreePort());
    ch->AddOutput(id, StreamChannel::kStreamOutput, out);
    alive.push_back(id);
    if (alive.size() > 3) {
      ch->RemoveOutput(alive.front(), 1);
      alive.erase(alive.begin());
    }
    if (!lateAdded && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1500)) {
      ch->AddOutput(2, StreamChannel::kStreamOutput,
                    new StreamOutput(2, nginx.Url("late"), StreamOutput::kPublish, nullptr, nullptr));
      lateAdded = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  for (int id : alive) ch->RemoveOutput(id, 1);
  if (!lateAdded)
    ch->AddOutput(2, StreamChannel::kStreamOutput,
                  new StreamOutput(2, nginx.Url("late"), StreamOutput::kPublish, nullptr, nullptr));
  in.Join();
  auto videoOf = [](rtmptest::RtmpSink& sink) {
    std::vector<rtmptest::SinkMessage> v;
    for (const rtmptest::SinkMessage& m : sink.Messages())
      if (m.type == 9 && m.second == 1) v.push_back(m);
    return v;
  };
  // Everything but the newest packet has gone out once the input is read.
  vvtest::WaitFor([&] { return videoOf(sinkFirst).size() + 2 >= static_cast<size_t>(in.VideoPackets()); },
                  std::chrono::seconds(20), std::chrono::milliseconds(100));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  delete ch;

  std::vector<rtmptest::SinkMessage> a = videoOf(sinkFirst), b = videoOf(sinkLate);
  ASSERT_GT(a.size(), 50u);
  ASSERT_GT(b.size(), 10u);
  EXPECT_EQ(sinkFirst.Sessions(), 1);
  EXPECT_EQ(sinkLate.Sessions(), 1);
  EXPECT_LT(a.front().timestamp, 100u);
  // The late stream's frames are a run of the first stream's, byte for
  // byte, at the same distances from one another.
  size_t at = 0;
  while (at < a.size() && a[at].hash != b.front().hash) ++at;
  ASSERT_LT(at, a.size()) << "the late stream's first frame never went to the first one";
  ASSERT_LE(at + b.size(), a.size());
  ASSERT_GT(a[at].timestamp, 1000u);
  for (size_t i = 0; i < b.size(); ++i) {
    ASSERT_EQ(b[i].hash, a[at + i].hash) << i;
    ASSERT_EQ(b[i].size, a[at + i].size) << i;
    EXPECT_EQ(b[i].timestamp - b.front().timestamp, a[at + i].timestamp - a[at].timestamp) << i;
  }
}
