// A live source whose publisher is replaced by one with other codec settings
// while the source's RTMP play session stays up: every output of the channel
// must carry the new configuration from the change on. Real peers: nginx-rtmp
// as source server and sink, ffmpeg publishers, ffmpeg/ffprobe as decoders.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "media/FlvPackager.h"
#include "media/LiveSource.h"
#include "media/RecordFile.h"
#include "media/RelayLink.h"
#include "media/StreamChannel.h"
#include "media/StreamOutput.h"
#include "tests/media/FlvTags.h"
#include "tests/media/RecordMedia.h"
#include "tests/media/RelayClient.h"
#include "tests/media/SubStreams.h"
#include "tests/tools/NginxRtmp.h"
#include "tests/tools/TestUtil.h"

using std::chrono::milliseconds;
using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 3;
#else
constexpr int kSlowdown = 1;
#endif

int64_t NowMs() {
  return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// An ffmpeg child in its own process group, killed when done with.
class Child {
 public:
  explicit Child(const std::string& args) {
    pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", ("exec ffmpeg -nostdin -v error " + args + " >/dev/null 2>&1").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Child() { Kill(); }
  void Kill() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }

 private:
  pid_t pid = -1;
};

// A live H.264 + AAC publisher of the given picture size and sample rate.
std::string Publisher(const std::string& size, int sampleRate, const std::string& url) {
  return "-re -f lavfi -i testsrc=size=" + size + ":rate=25 -f lavfi -i sine=frequency=440:sample_rate=" +
         std::to_string(sampleRate) + " -pix_fmt yuv420p -c:v libx264 -preset ultrafast -g 25 -c:a aac -ac 2 -ar " +
         std::to_string(sampleRate) + " -f flv " + ShellQuote(url);
}

// Picture sizes of the decoded frames, in order ("640x360", ...).
std::vector<std::string> FrameSizes(const std::string& path) {
  std::string rows = vvtest::Run("ffprobe -v quiet -select_streams v -show_entries frame=width,height -of csv=p=0 " +
                                 ShellQuote(path) + " 2>/dev/null")
                         .output;
  std::vector<std::string> sizes;
  std::istringstream in(rows);
  std::string line;
  while (std::getline(in, line)) {
    // width,height and, on some frames, side data after them
    size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    size_t end = line.find(',', comma + 1);
    sizes.push_back(line.substr(0, comma) + "x" + line.substr(comma + 1, end == std::string::npos ? end : end - comma - 1));
  }
  return sizes;
}

bool HasFrameOfSize(const std::string& path, const std::string& size) {
  std::vector<std::string> sizes = FrameSizes(path);
  return std::find(sizes.begin(), sizes.end(), size) != sizes.end();
}

// What a full decode of the file reports as errors, one line each.
std::vector<std::string> DecodeErrors(const std::string& path) {
  std::string text = vvtest::Run("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -f null - 2>&1").output;
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// The sizes in the order they first appear, each once ("640x360 1280x720").
std::string SizeRuns(const std::vector<std::string>& sizes) {
  std::string runs;
  for (size_t i = 0; i < sizes.size(); ++i)
    if (i == 0 || sizes[i] != sizes[i - 1]) runs += (runs.empty() ? "" : " ") + sizes[i];
  return runs;
}

// Sample rates of the AAC sequence headers among the tags, in order.
std::vector<int> AacHeaderRates(const std::vector<vvtest::FlvTag>& tags) {
  static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
  std::vector<int> out;
  for (const vvtest::FlvTag& t : tags) {
    if (t.type != 8 || !t.IsSequenceHeader() || t.body.size() < 4 || (t.body[0] >> 4) != 10) continue;
    int index = ((t.body[2] & 0x07) << 1) | (t.body[3] >> 7);
    out.push_back(index < 13 ? rates[index] : -1);
  }
  return out;
}


// Per medium of a file: the sum of its packet durations and where its last
// packet ends, in seconds.
struct MediumSpan {
  double total = 0, end = 0;
};
void PacketSpans(const std::string& path, MediumSpan& video, MediumSpan& audio) {
  std::string rows = vvtest::Run("ffprobe -v quiet -show_entries packet=codec_type,pts_time,duration_time -of csv=p=0 " +
                                 ShellQuote(path) + " 2>/dev/null")
                         .output;
  std::istringstream in(rows);
  std::string line;
  while (std::getline(in, line)) {
    size_t c1 = line.find(','), c2 = line.find(',', c1 + 1);
    if (c1 == std::string::npos || c2 == std::string::npos) continue;
    MediumSpan& m = line.compare(0, c1, "video") == 0 ? video : audio;
    double pts = atof(line.substr(c1 + 1, c2 - c1 - 1).c_str());
    double duration = atof(line.substr(c2 + 1).c_str());
    m.total += duration;
    m.end = std::max(m.end, pts + duration);
  }
}

// A relay client that keeps every record until stopped.
class RelayReader {
 public:
  explicit RelayReader(int port) {
    thread = std::thread([this, port] {
      int fd = -1;
      for (int i = 0; i < 200 && fd < 0 && !stop; ++i) {
        fd = vvtest::ConnectLoopback(port, 300);
        if (fd < 0) std::this_thread::sleep_for(milliseconds(50));
      }
      if (fd < 0) return;
      connected = true;
      while (!stop) {
        std::vector<vvtest::RelayRecord> r = vvtest::ReadRelayRecords(fd, 1);
        if (r.empty()) continue;  // a read time-out: look at the stop flag
        std::lock_guard<std::mutex> lock(mutex);
        records.push_back(std::move(r[0]));
      }
      close(fd);
    });
  }
  ~RelayReader() { Stop(); }
  void Stop() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
  bool Connected() const { return connected; }
  std::vector<vvtest::RelayRecord> Records() {
    std::lock_guard<std::mutex> lock(mutex);
    return records;
  }

 private:
  std::atomic<bool> stop{false};
  std::atomic<bool> connected{false};
  std::mutex mutex;
  std::vector<vvtest::RelayRecord> records;
  std::thread thread;
};

std::vector<std::string> FilesIn(const std::string& dir) {
  vvtest::CommandResult r = vvtest::Run("cd " + ShellQuote(dir) + " && find . -type f | sort");
  std::vector<std::string> files;
  std::istringstream in(r.output);
  std::string line;
  while (std::getline(in, line)) files.push_back(dir + "/" + line.substr(2));
  return files;
}


using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes r;
  for (const Bytes& p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

std::unique_ptr<IoBuffer> Packet(int type, int codec, const Bytes& bytes, int64_t ts) {
  auto p = std::make_unique<IoBuffer>(static_cast<int>(bytes.size()) + 1);
  p->Write(bytes.data(), static_cast<int>(bytes.size()));
  p->SetType(type);
  p->SetCodecId(codec);
  p->SetTimestamp(ts);
  return p;
}

Bytes Of(const IoBuffer* b) { return b ? Bytes(b->GetData(), b->GetData() + b->GetSize()) : Bytes(); }

// The packets of b as they continue a's stream: times offset to follow its
// end, pts and dts in a's time bases (one input keeps its time bases).
std::vector<std::unique_ptr<IoBuffer>> Continuing(const vvtest::SourceMedia& a, const vvtest::SourceMedia& b) {
  const AVRational ms{1, 1000};
  int64_t offsetMs = static_cast<int64_t>(a.seconds * 1000) + 40;
  std::vector<std::unique_ptr<IoBuffer>> out;
  for (const auto& p : b.packets) {
    bool video = p->GetType() == 1;
    AVRational from = video ? b.videoTimeBase : b.audioTimeBase;
    AVRational to = video ? a.videoTimeBase : a.audioTimeBase;
    std::unique_ptr<IoBuffer> c(CloneIoBuffer(p.get()));
    c->SetTimestamp(p->GetTimestamp() + offsetMs);
    c->SetPts(av_rescale_q(p->GetPts(), from, to) + av_rescale_q(offsetMs, ms, to));
    c->SetDts(av_rescale_q(p->GetDts(), from, to) + av_rescale_q(offsetMs, ms, to));
    c->SetDuration(static_cast<int>(av_rescale_q(p->GetDuration(), from, to)));
    out.push_back(std::move(c));
  }
  return out;
}

}  // namespace

// The publisher at the source's URL is replaced within a second by one with
// four times the picture and another sample rate. Every kind of output on the
// channel goes over to the new configuration: direct, memory- and
// file-delayed forwards and a forward started after the change decode
// cleanly at the new size at their sinks and carry the new AAC header; the
// relay's records decode the same way; each recording ends its file at the
// change, so each file holds one picture size.
TEST(CodecChange, EveryOutputFollowsANewPublisher) {
  if (!vvtest::NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
  TempDir dir("vvcc");
  vvtest::NginxRtmp::Options opt;
  opt.record = true;
  vvtest::NginxRtmp nginx(opt);
  ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
  auto recordingOf = [&](const std::string& stream) {
    std::string found;
    for (const std::string& f : nginx.Recordings())
      if (f.find("/" + stream + "-") != std::string::npos) found = f;
    return found;
  };
  auto recordingsOf = [&](const std::string& stream) {
    int n = 0;
    for (const std::string& f : nginx.Recordings())
      if (f.find("/" + stream + "-") != std::string::npos) ++n;
    return n;
  };

  const std::string src = nginx.Url("src");
  std::unique_ptr<Child> publisher(new Child(Publisher("640x360", 44100, src)));
  std::this_thread::sleep_for(milliseconds(700));

  CLiveSource source(60);
  source.SetUrl(src);
  StreamChannel* channel = new StreamChannel(60, nullptr);
  struct Forward {
    int id;
    std::string stream;
    int bufferTime;
    int bufferType;
    int sliceSeconds;
  } forwards[] = {
      {61, "direct", 0, 0, 0},
      {62, "memory", 3, 0, 0},
      {63, "file", 11, 1, 10},
  };
  for (const Forward& f : forwards) {
    ForwardTaskInfo row;
    row.buffer_time = f.bufferTime;
    row.buffer_type = f.bufferType;
    row.slice_seconds = f.sliceSeconds;
    channel->AddOutput(f.id, StreamChannel::kStreamOutput,
                       new StreamOutput(f.id, nginx.Url(f.stream), StreamOutput::kPublish,
                                        f.bufferTime > 0 ? &row : nullptr, nullptr));
  }
  const int relayPort = vvtest::FreePort();
  StreamOutput* relay = new StreamOutput(64, "", StreamOutput::kRelay, nullptr, nullptr);
  relay->SetPort(relayPort);
  channel->AddOutput(64, StreamChannel::kStreamOutput, relay);
  struct Recording {
    int id;
    int fileType;
    int fileMod;
  } recordings[] = {{65, 0, 1}, {66, 1, 0}, {67, 2, 1}};
  for (const Recording& r : recordings) {
    RecordTaskInfo row;
    row.name = "cc";
    row.fileType = r.fileType;
    row.saveFolder = dir.file("rec" + std::to_string(r.id));
    row.fileMod = r.fileMod;
    row.direMod = 1;
    channel->AddOutput(r.id, StreamChannel::kRecordOutput, new StreamOutput(r.id, "", StreamOutput::kRecord, nullptr, &row));
  }
  source.AddOutput(channel, 60);
  // A sub-stream of the same input, decoded and encoded anew: its own
  // configuration stays, but its decoders must follow the input's.
  SubStreamInfo sub = SubStream320(0);
  StreamChannel* transcoded = new StreamChannel(69, &sub);
  transcoded->AddOutput(70, StreamChannel::kStreamOutput,
                        new StreamOutput(70, nginx.Url("sub"), StreamOutput::kPublish, nullptr, nullptr));
  source.AddOutput(transcoded, 69);
  ASSERT_TRUE(source.Start());
  RelayReader reader(relayPort);

  // Everything runs on the first publisher for a while.
  ASSERT_TRUE(vvtest::WaitFor(
      [&] {
        return reader.Connected() && !reader.Records().empty() && !recordingOf("direct").empty() &&
               HasFrameOfSize(recordingOf("direct"), "640x360") && !recordingOf("memory").empty();
      },
      milliseconds(20000 * kSlowdown), milliseconds(300)));
  std::this_thread::sleep_for(milliseconds(3000));

  // The encoder restarts with new settings.
  publisher.reset(new Child(Publisher("1280x720", 48000, src)));
  const int64_t changed = NowMs();

  // The direct forward shows the new pictures within a few seconds.
  EXPECT_TRUE(vvtest::WaitFor([&] { return HasFrameOfSize(recordingOf("direct"), "1280x720"); },
                              milliseconds(5000 * kSlowdown), milliseconds(200)))
      << "no 1280x720 picture at the direct sink " << (NowMs() - changed) << " ms after the change";
  RecordProperty("direct_sink_new_size_ms", static_cast<int>(NowMs() - changed));
  printf("direct sink: the new size %lld ms after the change\n", static_cast<long long>(NowMs() - changed));

  // A forward started after the change.
  channel->AddOutput(68, StreamChannel::kStreamOutput,
                     new StreamOutput(68, nginx.Url("late"), StreamOutput::kPublish, nullptr, nullptr));
  EXPECT_TRUE(vvtest::WaitFor([&] { return HasFrameOfSize(recordingOf("late"), "1280x720"); },
                              milliseconds(8000 * kSlowdown), milliseconds(200)));
  EXPECT_TRUE(vvtest::WaitFor([&] { return HasFrameOfSize(recordingOf("memory"), "1280x720"); },
                              milliseconds(8000 * kSlowdown), milliseconds(200)));
  // The file delay plays the change 11 s after it happened.
  EXPECT_TRUE(vvtest::WaitFor([&] { return HasFrameOfSize(recordingOf("file"), "1280x720"); },
                              milliseconds(25000 * kSlowdown), milliseconds(500)));
  std::this_thread::sleep_for(milliseconds(2000));

  // Stopping the outputs unpublishes (nginx closes its recordings) and
  // finishes the record files.
  for (int id : {61, 62, 63, 64, 65, 66, 67, 68}) channel->RemoveOutput(id, id >= 65 && id <= 67 ? 2 : 1);
  transcoded->RemoveOutput(70, 1);
  reader.Stop();
  source.Stop();
  publisher.reset();
  std::this_thread::sleep_for(milliseconds(500));

  for (const char* stream : {"direct", "memory", "file", "late"}) {
    SCOPED_TRACE(stream);
    std::string path = recordingOf(stream);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(recordingsOf(stream), 1) << "one connection all along";
    std::vector<std::string> errors = DecodeErrors(path);
    EXPECT_TRUE(errors.empty()) << errors.size() << " error lines, the first: " << errors.front();
    std::string late = std::string(stream) == "late" ? "1280x720" : "640x360 1280x720";
    EXPECT_EQ(SizeRuns(FrameSizes(path)), late);
    std::vector<int> rates = AacHeaderRates(vvtest::ReadFlvTags(path));
    ASSERT_FALSE(rates.empty());
    EXPECT_EQ(rates.back(), 48000) << "the AAC header after the change";
    if (std::string(stream) != "late") {
      EXPECT_EQ(rates.front(), 44100);
    }
  }

  {
    // The sub-stream's audio keeps time with its pictures through the change
    // (read at the wrong rate, the new samples would stretch it).
    SCOPED_TRACE("sub-stream");
    std::string path = recordingOf("sub");
    ASSERT_FALSE(path.empty());
    std::vector<std::string> errors = DecodeErrors(path);
    EXPECT_TRUE(errors.empty()) << errors.size() << " error lines, the first: " << errors.front();
    EXPECT_EQ(SizeRuns(FrameSizes(path)), "320x180");
    MediumSpan video, audio;
    PacketSpans(path, video, audio);
    EXPECT_GT(video.total, 10.0);
    EXPECT_NEAR(audio.end, video.end, 0.3);
  }

  {
    SCOPED_TRACE("relay");
    std::string path = dir.file("relay.flv");
    ASSERT_TRUE(vvtest::WriteFlvTags(path, vvtest::TagsFromRecords(reader.Records())));
    std::vector<std::string> errors = DecodeErrors(path);
    EXPECT_TRUE(errors.empty()) << errors.size() << " error lines, the first: " << errors.front();
    EXPECT_EQ(SizeRuns(FrameSizes(path)), "640x360 1280x720");
    std::vector<int> rates = AacHeaderRates(vvtest::ReadFlvTags(path));
    ASSERT_FALSE(rates.empty());
    EXPECT_EQ(rates.front(), 44100);
    EXPECT_EQ(rates.back(), 48000);
  }

  // Finished MP4 files are rewritten whole on a worker thread.
  WaitFragmentedMp4Finished();
  for (const Recording& r : recordings) {
    SCOPED_TRACE("record file type " + std::to_string(r.fileType));
    std::vector<std::string> files = FilesIn(dir.file("rec" + std::to_string(r.id)));
    ASSERT_EQ(files.size(), 2u);
    const char* sizes[] = {"640x360", "1280x720"};
    const char* rates[] = {"44100", "48000"};
    for (size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(files[i]);
      std::vector<std::string> errors = DecodeErrors(files[i]);
      EXPECT_TRUE(errors.empty()) << errors.size() << " error lines, the first: " << errors.front();
      EXPECT_EQ(SizeRuns(FrameSizes(files[i])), sizes[i]);
      std::string rate = vvtest::Run("ffprobe -v error -select_streams a -show_entries stream=sample_rate -of csv=p=0 " +
                                     ShellQuote(files[i]))
                             .output;
      EXPECT_EQ(rate, std::string(rates[i]) + "\n");
    }
  }
}

// Packaging builds the AVC header anew when an access unit brings other
// parameter sets, and the AAC header when the AudioSpecificConfig changes;
// parameter sets repeated unchanged leave the header as it is. Every tag
// carries the header it needs.
TEST(CodecChange, PackagingFollowsTheStreamsParameterSets) {
  const Bytes sc = {0, 0, 0, 1};
  const Bytes sps = {0x67, 0x42, 0xc0, 0x1f, 0xda, 0x01, 0x40, 0x16, 0xe8, 0x40};
  const Bytes sps2 = {0x67, 0x4d, 0x40, 0x1e, 0xda, 0x01, 0x40, 0x16, 0xe8, 0x40};
  const Bytes pps = {0x68, 0xce, 0x3c, 0x80};
  const Bytes pps2 = {0x68, 0xee, 0x3c, 0x80};
  const Bytes idr = {0x65, 0x88, 0x84, 0x00, 0x33, 0x44};
  const Bytes p = {0x41, 0x9a, 0x00, 0x10, 0x77};
  struct Case {
    const char* what;
    Bytes unit;
    bool newHeader;
    Bytes headerSps, headerPps;
  } cases[] = {
      {"first sets", Cat({sc, sps, sc, pps, sc, idr}), true, sps, pps},
      {"inter picture", Cat({sc, p}), false, sps, pps},
      {"the same sets again", Cat({sc, sps, sc, pps, sc, idr}), false, sps, pps},
      {"another SPS", Cat({sc, sps2, sc, pps, sc, idr}), true, sps2, pps},
      {"another PPS alone", Cat({sc, pps2, sc, idr}), true, sps2, pps2},
      {"inter picture after", Cat({sc, p}), false, sps2, pps2},
  };
  FlvPackager pk;
  std::vector<IoBuffer*> out;
  std::vector<std::unique_ptr<IoBuffer>> tags;
  int64_t ts = 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unsigned version = pk.HeaderVersion();
    pk.Process(*Packet(1, AV_CODEC_ID_H264, c.unit, ts += 40), out);
    ASSERT_EQ(out.size(), 1u);
    tags.emplace_back(out[0]);
    out.clear();
    EXPECT_EQ(pk.HeaderVersion() != version, c.newHeader);
    std::unique_ptr<IoBuffer> expected(
        FlvPackager::BuildAvcSequenceHeader(c.headerSps.data(), static_cast<int>(c.headerSps.size()),
                                            c.headerPps.data(), static_cast<int>(c.headerPps.size())));
    EXPECT_EQ(Of(pk.GetAvcSequenceHeader()), Of(expected.get()));
    // The tag names its header; an earlier tag keeps the one it needed.
    ASSERT_TRUE(tags.back()->GetExtraDataShared());
    EXPECT_EQ(*tags.back()->GetExtraDataShared(), Of(expected.get()));
  }
  EXPECT_NE(*tags.front()->GetExtraDataShared(), *tags.back()->GetExtraDataShared());
  EXPECT_EQ(tags[0]->GetExtraDataShared(), tags[2]->GetExtraDataShared()) << "one block per header";

  // AAC: from the packets' AudioSpecificConfig, or from their ADTS header.
  struct AudioCase {
    const char* what;
    Bytes extradata;
    Bytes frame;
    Bytes header;  // the AAC header afterwards
  } audio[] = {
      {"44.1 kHz stereo", {0x12, 0x10}, {0x21, 0x00}, {0xAF, 0x00, 0x12, 0x10}},
      {"the same again", {0x12, 0x10}, {0x21, 0x00}, {0xAF, 0x00, 0x12, 0x10}},
      {"48 kHz stereo", {0x11, 0x90}, {0x21, 0x00}, {0xAF, 0x00, 0x11, 0x90}},
      {"ADTS at 32 kHz mono", {}, {0xFF, 0xF1, 0x54, 0x40, 0x01, 0x1F, 0xFC, 0x21}, {0xAF, 0x00, 0x12, 0x88}},
  };
  for (const AudioCase& c : audio) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<IoBuffer> in = Packet(2, AV_CODEC_ID_AAC, c.frame, ts += 23);
    in->SetSampleRate(44100);
    in->SetChannels(2);
    if (!c.extradata.empty()) in->SetExtraData(c.extradata.data(), static_cast<int>(c.extradata.size()));
    pk.Process(*in, out);
    ASSERT_EQ(out.size(), 1u);
    tags.emplace_back(out[0]);
    out.clear();
    EXPECT_EQ(Of(pk.GetAudioSequenceHeader()), c.header);
    ASSERT_TRUE(tags.back()->GetExtraDataShared());
    EXPECT_EQ(*tags.back()->GetExtraDataShared(), c.header);
  }
}

// A recorder fed one stream and then another of four times the picture and
// another sample rate, the way a channel hands on a replaced publisher: each
// configuration gets a file of its own, in every container, also when the
// new stream's audio comes before its first picture and when the file mode
// keeps files across an end of stream.
TEST(CodecChange, RecorderStartsAFilePerConfiguration) {
  TempDir dir("vvccr");
  TempDir adir, bdir;
  vvtest::SourceMedia a, b;
  ASSERT_TRUE(vvtest::MakeSourceMedia(adir.path(), 2.0, a, "320x240", 44100));
  ASSERT_TRUE(vvtest::MakeSourceMedia(bdir.path(), 2.0, b, "640x480", 48000));
  AVCodecContext* video = vvtest::ContextFromParameters(a.video);
  AVCodecContext* audio = vvtest::ContextFromParameters(a.audio);
  struct Case {
    int fileType;
    int fileMod;
    bool audioFirst;  // the new stream's first audio packets come before its first picture
  } cases[] = {{1, 1, false}, {2, 0, true}, {0, 1, true}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("file type " + std::to_string(c.fileType) + (c.audioFirst ? ", audio first" : ""));
    std::string root = dir.file("r" + std::to_string(n++));
    std::vector<std::unique_ptr<IoBuffer>> second = Continuing(a, b);
    if (c.audioFirst) {
      // Audio of the first 300 ms moves in front of the first picture.
      std::stable_partition(second.begin(), second.end(), [&](const std::unique_ptr<IoBuffer>& p) {
        return p->GetType() == 2 && p->GetTimestamp() < second.front()->GetTimestamp() + 300;
      });
    }
    {
      Recorder rec(RecordSettings{"cc", c.fileType, root, c.fileMod, 1}, video, a.videoTimeBase, audio,
                   a.audioTimeBase);
      for (const auto& p : a.packets) {
        ASSERT_TRUE(rec.Prepare()) << rec.Error();
        rec.Handle(*p);
      }
      for (const auto& p : second) {
        ASSERT_TRUE(rec.Prepare()) << rec.Error();
        rec.Handle(*p);
      }
      rec.Close();
    }
    WaitFragmentedMp4Finished();
    std::vector<std::string> files = FilesIn(root);
    ASSERT_EQ(files.size(), 2u);
    const char* sizes[] = {"320x240", "640x480"};
    const char* rates[] = {"44100\n", "48000\n"};
    for (size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(files[i]);
      vvtest::ProbeResult r = vvtest::ProbeMedia(files[i]);
      EXPECT_EQ(r.decodeErrors, "");
      EXPECT_NEAR(r.duration, 2.0, 0.5);
      EXPECT_EQ(SizeRuns(FrameSizes(files[i])), sizes[i]);
      EXPECT_EQ(vvtest::Run("ffprobe -v error -select_streams a -show_entries stream=sample_rate -of csv=p=0 " +
                            ShellQuote(files[i]))
                    .output,
                rates[i]);
    }
  }
  avcodec_free_context(&video);
  avcodec_free_context(&audio);
}

// A relay connection that has sent its stored headers gets a new header in
// line, at the time of the pictures that follow it, and no stored header
// again; a header in line before any picture stands for the stored one.
TEST(CodecChange, RelayFeedSendsANewHeaderInLine) {
  std::unique_ptr<IoBuffer> stored = Packet(9, AV_CODEC_ID_H264, {0x17, 0x00, 0, 0, 0, 1, 0x42}, 0);
  struct Step {
    Bytes body;
    int64_t ts;
  };
  struct Expect {
    uint32_t ts;
    size_t size;
    uint8_t second;  // 0 a header, 1 a picture
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::vector<Expect> records;
  } cases[] = {
      {"a change after pictures",
       {{{0x17, 0x01, 0}, 1000}, {{0x27, 0x01, 0}, 1040}, {{0x17, 0x00, 0, 0, 0, 1, 0x4d, 0x40}, 1080},
        {{0x17, 0x01, 0}, 1080}},
       {{0, 7, 0}, {0, 3, 1}, {40, 3, 1}, {80, 8, 0}, {80, 3, 1}}},
      {"a header in line first",
       {{{0x17, 0x00, 0, 0, 0, 1, 0x4d, 0x40}, 500}, {{0x17, 0x01, 0}, 500}},
       {{0, 8, 0}, {0, 3, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    RelayFeed feed;
    for (const Step& step : c.steps) {
      std::unique_ptr<IoBuffer> p = Packet(9, AV_CODEC_ID_H264, step.body, step.ts);
      ASSERT_TRUE(feed.Send(sv[0], *p, nullptr, stored.get()));
    }
    close(sv[0]);
    std::vector<vvtest::RelayRecord> got = vvtest::ReadRelayRecords(sv[1]);
    close(sv[1]);
    ASSERT_EQ(got.size(), c.records.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].timestamp, c.records[i].ts) << "#" << i;
      EXPECT_EQ(got[i].body.size(), c.records[i].size) << "#" << i;
      ASSERT_GE(got[i].body.size(), 2u);
      EXPECT_EQ(got[i].body[1], c.records[i].second) << "#" << i;
    }
  }
}
