// FLV packaging: the byte format of tag bodies and sequence headers, and
// real x264/AAC streams packaged here and read back by FFmpeg.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "media/FlvPackager.h"
#include "tests/tools/TestUtil.h"

using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const IoBuffer* b) { return Bytes(b->GetData(), b->GetData() + b->GetSize()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes r;
  for (const Bytes& p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

struct Packaged {
  std::vector<std::unique_ptr<IoBuffer>> tags;
  void Take(std::vector<IoBuffer*>& out) {
    for (IoBuffer* b : out) tags.emplace_back(b);
    out.clear();
  }
};

IoBuffer* Packet(int type, int codec, const Bytes& bytes, int64_t ts = 0) {
  IoBuffer* p = new IoBuffer(static_cast<int>(bytes.size()) + 1);
  p->Write(bytes.data(), static_cast<int>(bytes.size()));
  p->SetType(type);
  p->SetCodecId(codec);
  p->SetTimestamp(ts);
  return p;
}

void Feed(FlvPackager& pk, IoBuffer* in, Packaged& got) {
  std::vector<IoBuffer*> out;
  pk.Process(*in, out);
  delete in;
  got.Take(out);
}

// Parameter sets and slices of a small 1280x720 stream.
const Bytes kSps = {0x67, 0x42, 0xc0, 0x1f, 0xda, 0x01, 0x40, 0x16, 0xe8, 0x40};
const Bytes kPps = {0x68, 0xce, 0x3c, 0x80};
const Bytes kIdr = {0x65, 0x88, 0x84, 0x00, 0x33, 0x44};
const Bytes kIdr2 = {0x65, 0x00, 0x5a, 0x21, 0x10};  // second slice, first_mb > 0
const Bytes kP = {0x41, 0x9a, 0x00, 0x10, 0x77};
const Bytes kSc4 = {0, 0, 0, 1}, kSc3 = {0, 0, 1};

Bytes Len(const Bytes& nal) {
  uint32_t n = static_cast<uint32_t>(nal.size());
  return Cat({{uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)}, nal});
}

// Packets as the live source hands them on: decode time as timestamp,
// pts - dts as composition time.
std::vector<std::unique_ptr<IoBuffer>> Demux(const std::string& path, bool withExtradata) {
  std::vector<std::unique_ptr<IoBuffer>> r;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return r;
  avformat_find_stream_info(fmt, nullptr);
  AVPacket* pkt = av_packet_alloc();
  while (av_read_frame(fmt, pkt) >= 0) {
    AVStream* st = fmt->streams[pkt->stream_index];
    AVCodecParameters* par = st->codecpar;
    AVRational ms = {1, 1000};
    int64_t dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : dts;
    IoBuffer* b = new IoBuffer(pkt->size + 1);
    b->Write(pkt->data, pkt->size);
    b->SetType(par->codec_type == AVMEDIA_TYPE_VIDEO ? 1 : 2);
    b->SetCodecId(par->codec_id);
    b->SetTimestamp(av_rescale_q(dts - st->start_time, st->time_base, ms));
    b->SetCompositionTime(static_cast<int>(av_rescale_q(pts - dts, st->time_base, ms)));
    b->SetFlags(pkt->flags & AV_PKT_FLAG_KEY);
    b->SetSampleRate(par->sample_rate);
    b->SetChannels(par->ch_layout.nb_channels);
    if (withExtradata && par->extradata_size > 0) b->SetExtraData(par->extradata, par->extradata_size);
    r.emplace_back(b);
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  avformat_close_input(&fmt);
  return r;
}

// A plain FLV file around tag bodies, the way a receiver sees them.
class FlvFile {
 public:
  explicit FlvFile(const std::string& path) : f(path, std::ios::binary) {
    const uint8_t head[] = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0};
    f.write(reinterpret_cast<const char*>(head), sizeof(head));
  }
  void Tag(const IoBuffer* b, int64_t ts) {
    uint32_t n = static_cast<uint32_t>(b->GetSize());
    uint32_t t = static_cast<uint32_t>(ts);
    uint8_t h[11] = {uint8_t(b->GetType()), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n),
                     uint8_t(t >> 16), uint8_t(t >> 8), uint8_t(t), uint8_t(t >> 24), 0, 0, 0};
    f.write(reinterpret_cast<const char*>(h), 11);
    f.write(reinterpret_cast<const char*>(b->GetData()), n);
    uint32_t prev = n + 11;
    uint8_t p[4] = {uint8_t(prev >> 24), uint8_t(prev >> 16), uint8_t(prev >> 8), uint8_t(prev)};
    f.write(reinterpret_cast<const char*>(p), 4);
  }

 private:
  std::ofstream f;
};

// Packages every packet of a file into an FLV file, headers first.
void PackageToFlv(const std::vector<std::unique_ptr<IoBuffer>>& in, const std::string& out,
                  std::vector<int64_t>* videoPts = nullptr) {
  FlvPackager pk;
  FlvFile file(out);
  unsigned seen = pk.HeaderVersion();
  bool videoHeader = false, audioHeader = false;
  std::vector<IoBuffer*> tags;
  for (const auto& p : in) {
    pk.Process(*p, tags);
    if (pk.HeaderVersion() != seen) {
      seen = pk.HeaderVersion();
      if (pk.GetAvcSequenceHeader() && !videoHeader) {
        file.Tag(pk.GetAvcSequenceHeader(), 0);
        videoHeader = true;
      }
      if (pk.GetAudioSequenceHeader() && !audioHeader) {
        file.Tag(pk.GetAudioSequenceHeader(), 0);
        audioHeader = true;
      }
    }
    for (IoBuffer* t : tags) {
      if (t->GetType() == 9 || t->GetType() == 8) file.Tag(t, t->GetTimestamp());
      if (t->GetType() == 9 && videoPts) videoPts->push_back(t->GetTimestamp() + t->GetCompositionTime());
      delete t;
    }
    tags.clear();
  }
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The first sequence header of the given tag type in an FLV file that
// carries a configuration (FFmpeg may write an empty one before it).
Bytes FirstSequenceHeader(const Bytes& flv, int type) {
  size_t pos = 13;
  while (pos + 11 <= flv.size()) {
    size_t n = (size_t(flv[pos + 1]) << 16) | (size_t(flv[pos + 2]) << 8) | flv[pos + 3];
    if (pos + 11 + n > flv.size()) break;
    if (flv[pos] == type && n > 2 && flv[pos + 12] == 0) return Bytes(flv.begin() + pos + 11, flv.begin() + pos + 11 + n);
    pos += 11 + n + 4;
  }
  return {};
}

std::string MakeTs(const TempDir& dir, const std::string& name, const std::string& videoOptions,
                   const std::string& size = "320x240", int frames = 25) {
  std::string file = dir.file(name + ".ts");
  std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + size +
                    ":rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 -frames:v " +
                    std::to_string(frames) + " -t " + std::to_string(frames / 25.0) +
                    " -pix_fmt yuv420p -c:v libx264 " + videoOptions +
                    " -c:a aac -ac 2 -b:a 96k -f mpegts " + ShellQuote(file);
  EXPECT_EQ(vvtest::Run(cmd, true).status, 0) << cmd;
  return file;
}

}  // namespace

TEST(FlvPackager, VideoByteFormat) {
  FlvPackager pk;
  Packaged got;
  Feed(pk, Packet(1, AV_CODEC_ID_H264, Cat({kSc4, kSps, kSc4, kPps, kSc3, kIdr})), got);
  ASSERT_NE(pk.GetAvcSequenceHeader(), nullptr);
  Bytes header = Cat({{0x17, 0x00, 0, 0, 0, 0x01, 0x42, 0xc0, 0x1f, 0xff, 0xe1, 0x00, 0x0a}, kSps,
                      {0x01, 0x00, 0x04}, kPps});
  EXPECT_EQ(Of(pk.GetAvcSequenceHeader()), header);
  EXPECT_EQ(pk.GetAvcSequenceHeader()->GetType(), 9);

  struct Case {
    const char* name;
    Bytes in;
    int cts;
    Bytes body;
  } cases[] = {
      {"key unit with parameter sets", {}, 0,
       Cat({{0x17, 0x01, 0, 0, 0}, Len(kSps), Len(kPps), Len(kIdr)})},
      {"inter unit", Cat({kSc4, kP}), 0, Cat({{0x27, 0x01, 0, 0, 0}, Len(kP)})},
      {"key picture in two slices is one tag", Cat({kSc4, kIdr, kSc3, kIdr2}), 0,
       Cat({{0x17, 0x01, 0, 0, 0}, Len(kIdr), Len(kIdr2)})},
      {"composition time", Cat({kSc4, kP}), 80, Cat({{0x27, 0x01, 0, 0, 80}, Len(kP)})},
      {"negative composition time", Cat({kSc4, kP}), -40,
       Cat({{0x27, 0x01, 0xff, 0xff, 0xd8}, Len(kP)})},
  };
  ASSERT_EQ(got.tags.size(), 1u);
  EXPECT_EQ(Of(got.tags[0].get()), cases[0].body) << cases[0].name;
  EXPECT_EQ(got.tags[0]->GetType(), 9);
  for (size_t i = 1; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    Packaged one;
    IoBuffer* p = Packet(1, AV_CODEC_ID_H264, cases[i].in, 40 * static_cast<int64_t>(i));
    p->SetCompositionTime(cases[i].cts);
    Feed(pk, p, one);
    ASSERT_EQ(one.tags.size(), 1u) << cases[i].name;
    EXPECT_EQ(Of(one.tags[0].get()), cases[i].body) << cases[i].name;
    EXPECT_EQ(one.tags[0]->GetTimestamp(), 40 * static_cast<int64_t>(i)) << cases[i].name;
  }
  // A unit without a picture slice gives no tag.
  Packaged none;
  Feed(pk, Packet(1, AV_CODEC_ID_H264, Cat({kSc4, {0x09, 0xf0}, kSc4, {0x06, 0x05, 0x01, 0x00}})), none);
  EXPECT_TRUE(none.tags.empty());
}

TEST(FlvPackager, VideoBeforeParameterSetsIsDropped) {
  FlvPackager pk;
  Packaged got;
  Feed(pk, Packet(1, AV_CODEC_ID_H264, Cat({kSc4, kP}), 0), got);
  Feed(pk, Packet(1, AV_CODEC_ID_H264, Cat({kSc4, kIdr}), 40), got);
  EXPECT_TRUE(got.tags.empty());
  EXPECT_EQ(pk.GetAvcSequenceHeader(), nullptr);
  Feed(pk, Packet(1, AV_CODEC_ID_H264, Cat({kSc4, kSps, kSc4, kPps, kSc4, kIdr}), 80), got);
  ASSERT_EQ(got.tags.size(), 1u);
  EXPECT_EQ(got.tags[0]->GetTimestamp(), 0);  // the base is the first tag's time
}

TEST(FlvPackager, AudioByteFormat) {
  const Bytes raw = {0x21, 0x10, 0x05, 0x00};
  const Bytes adts7 = {0xff, 0xf1, 0x50, 0x80, 0x01, 0x7f, 0xfc};           // LC 44100 stereo
  const Bytes adts9 = {0xff, 0xf0, 0x58, 0x40, 0x01, 0x7f, 0xfc, 0xab, 0xcd};  // with CRC, 24000 mono
  const Bytes adtsBadRate = {0xff, 0xf1, 0x7c, 0x80, 0x01, 0x7f, 0xfc};       // index 15
  const Bytes adtsPce = {0xff, 0xf1, 0x60, 0x00, 0x01, 0x7f, 0xfc};           // 16000, channels 0
  struct Case {
    const char* name;
    int rate, channels;
    Bytes extradata;
    Bytes frame;
    Bytes header;
    Bytes body;
  } cases[] = {
      {"44100 stereo", 44100, 2, {}, raw, {0xaf, 0x00, 0x12, 0x10}, Cat({{0xaf, 0x01}, raw})},
      {"16000 mono", 16000, 1, {}, raw, {0xaf, 0x00, 0x14, 0x08}, Cat({{0xaf, 0x01}, raw})},
      {"8000 mono", 8000, 1, {}, raw, {0xaf, 0x00, 0x15, 0x88}, Cat({{0xaf, 0x01}, raw})},
      {"11025 stereo", 11025, 2, {}, raw, {0xaf, 0x00, 0x15, 0x10}, Cat({{0xaf, 0x01}, raw})},
      {"96000 stereo", 96000, 2, {}, raw, {0xaf, 0x00, 0x10, 0x10}, Cat({{0xaf, 0x01}, raw})},
      {"7350 mono", 7350, 1, {}, raw, {0xaf, 0x00, 0x16, 0x08}, Cat({{0xaf, 0x01}, raw})},
      {"extradata wins", 44100, 2, {0x11, 0x90}, raw, {0xaf, 0x00, 0x11, 0x90}, Cat({{0xaf, 0x01}, raw})},
      {"ADTS stripped, config from it", 0, 0, {}, Cat({adts7, raw}), {0xaf, 0x00, 0x12, 0x10},
       Cat({{0xaf, 0x01}, raw})},
      {"ADTS with CRC", 0, 0, {}, Cat({adts9, raw}), {0xaf, 0x00, 0x13, 0x08}, Cat({{0xaf, 0x01}, raw})},
      {"ADTS with a reserved rate index: the packet's rate", 44100, 2, {}, Cat({adtsBadRate, raw}),
       {0xaf, 0x00, 0x12, 0x10}, Cat({{0xaf, 0x01}, raw})},
      {"ADTS without a channel configuration: the packet's channels", 16000, 1, {}, Cat({adtsPce, raw}),
       {0xaf, 0x00, 0x14, 0x08}, Cat({{0xaf, 0x01}, raw})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlvPackager pk;
    Packaged got;
    IoBuffer* p = Packet(2, AV_CODEC_ID_AAC, c.frame);
    p->SetSampleRate(c.rate);
    p->SetChannels(c.channels);
    if (!c.extradata.empty()) p->SetExtraData(c.extradata.data(), static_cast<int>(c.extradata.size()));
    Feed(pk, p, got);
    ASSERT_NE(pk.GetAudioSequenceHeader(), nullptr);
    EXPECT_EQ(Of(pk.GetAudioSequenceHeader()), c.header);
    EXPECT_EQ(pk.GetAudioSequenceHeader()->GetType(), 8);
    ASSERT_EQ(got.tags.size(), 1u);
    EXPECT_EQ(Of(got.tags[0].get()), c.body);
    EXPECT_EQ(got.tags[0]->GetType(), 8);
  }

  // MP3: the first packet makes the header and is sent as a tag too.
  FlvPackager pk;
  Packaged got;
  const Bytes mp3 = {0xff, 0xfb, 0x90, 0x64, 0x00};
  Feed(pk, Packet(2, AV_CODEC_ID_MP3, mp3), got);
  ASSERT_NE(pk.GetAudioSequenceHeader(), nullptr);
  EXPECT_EQ(Of(pk.GetAudioSequenceHeader()), Cat({{0x2f}, mp3}));
  ASSERT_EQ(got.tags.size(), 1u);
  EXPECT_EQ(Of(got.tags[0].get()), Cat({{0x2f}, mp3}));
}

TEST(FlvPackager, EndOfStreamStartsAFreshRun) {
  FlvPackager pk;
  Packaged got;
  Feed(pk, Packet(2, AV_CODEC_ID_AAC, {0x21, 0x00}, 1000), got);
  Feed(pk, Packet(1, AV_CODEC_ID_H264, Cat({kSc4, kSps, kSc4, kPps, kSc4, kIdr}), 1000), got);
  Feed(pk, Packet(1, AV_CODEC_ID_H264, Cat({kSc4, kP}), 1040), got);
  ASSERT_EQ(got.tags.size(), 3u);
  EXPECT_EQ(got.tags[0]->GetTimestamp(), 0);
  EXPECT_EQ(got.tags[1]->GetTimestamp(), 0);
  EXPECT_EQ(got.tags[2]->GetTimestamp(), 40);
  unsigned version = pk.HeaderVersion();

  Feed(pk, Packet(3, 0, {}, 0), got);
  ASSERT_EQ(got.tags.size(), 4u);
  EXPECT_EQ(got.tags[3]->GetType(), 3);
  EXPECT_EQ(got.tags[3]->GetSize(), 0);
  EXPECT_EQ(pk.GetAvcSequenceHeader(), nullptr);
  EXPECT_EQ(pk.GetAudioSequenceHeader(), nullptr);
  EXPECT_NE(pk.HeaderVersion(), version);

  // The reopened input brings other parameter sets; they make the new
  // header. A unit of parameter sets alone gives no tag and sets no base.
  const Bytes sps2 = {0x67, 0x4d, 0x40, 0x1e, 0xda, 0x01, 0x40, 0x16, 0xe8, 0x40};
  Feed(pk, Packet(1, AV_CODEC_ID_H264, Cat({kSc4, sps2, kSc4, kPps}), 1000), got);
  ASSERT_NE(pk.GetAvcSequenceHeader(), nullptr);
  EXPECT_EQ(pk.GetAvcSequenceHeader()->GetData()[6], 0x4d);
  ASSERT_EQ(got.tags.size(), 4u);
  Feed(pk, Packet(1, AV_CODEC_ID_H264, Cat({kSc4, kIdr}), 5000), got);
  ASSERT_EQ(got.tags.size(), 5u);
  EXPECT_EQ(got.tags[4]->GetTimestamp(), 0);
  EXPECT_EQ(got.tags[4]->GetData()[0], 0x17);
}

TEST(FlvPackager, X264StreamsDecodeCleanlyFromOurTags) {
  struct Case {
    const char* name;
    const char* options;
    const char* size;
  } cases[] = {
      {"baseline", "-profile:v baseline", "320x240"},
      {"high1080", "-profile:v high", "1920x1080"},
      {"slices", "-x264-params slices=4", "640x360"},
      {"bframes", "-bf 2", "320x240"},
      {"zerolatency", "-tune zerolatency -preset superfast -threads 4", "640x360"},
  };
  TempDir dir("vvflv");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int frames = 25;
    std::string ts = MakeTs(dir, c.name, c.options, c.size, frames);
    auto packets = Demux(ts, false);
    ASSERT_FALSE(packets.empty());
    std::string flv = dir.file(std::string(c.name) + ".flv");
    std::vector<int64_t> ourPts;
    PackageToFlv(packets, flv, &ourPts);

    auto dec = vvtest::Run("ffmpeg -v error -i " + ShellQuote(flv) + " -f null - 2>&1");
    EXPECT_EQ(dec.status, 0);
    EXPECT_EQ(dec.output, "");

    auto count = vvtest::Run("ffprobe -v error -count_frames -select_streams v -show_entries "
                             "stream=nb_read_frames,codec_name,coded_height -of csv=p=0 " + ShellQuote(flv));
    EXPECT_NE(count.output.find("h264"), std::string::npos) << count.output;
    EXPECT_NE(count.output.find("," + std::to_string(frames)), std::string::npos) << count.output;
    auto audio = vvtest::Run("ffprobe -v error -select_streams a -show_entries "
                             "stream=codec_name,sample_rate,channels -of csv=p=0 " + ShellQuote(flv));
    EXPECT_EQ(audio.output, "aac,44100,2\n");

    // Decode times rise and the presentation times are the source's; an
    // error ffprobe reports while reading the packets breaks the line format.
    auto pk = vvtest::Run("ffprobe -v error -select_streams v -show_entries packet=pts,dts -of csv=p=0 " +
                          ShellQuote(flv), true);
    std::istringstream lines(pk.output);
    std::string line;
    long lastDts = -1;
    std::vector<int64_t> readPts;
    while (std::getline(lines, line)) {
      long pts = 0, dts = 0;
      ASSERT_EQ(sscanf(line.c_str(), "%ld,%ld", &pts, &dts), 2) << line;
      EXPECT_GT(dts, lastDts);
      lastDts = dts;
      readPts.push_back(pts);
    }
    EXPECT_EQ(readPts, ourPts);
    if (std::string(c.name) == "bframes") {
      bool reordered = false;
      for (size_t i = 1; i < readPts.size(); ++i) reordered |= readPts[i] < readPts[i - 1];
      EXPECT_TRUE(reordered);
    }
  }
}

TEST(FlvPackager, SequenceHeadersMatchFfmpegsFlvMuxer) {
  struct Case {
    const char* name;
    const char* options;
  } cases[] = {{"baseline", "-profile:v baseline"}, {"main", "-profile:v main"}, {"high", "-profile:v high"}};
  TempDir dir("vvflv");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string ts = MakeTs(dir, c.name, c.options, "320x240", 5);
    std::string ref = dir.file(std::string(c.name) + "-ref.flv");
    ASSERT_EQ(vvtest::Run("ffmpeg -v error -y -i " + ShellQuote(ts) + " -c copy -f flv " + ShellQuote(ref), true)
                  .status, 0);
    Bytes refFlv = ReadBytes(ref);
    Bytes refVideo = FirstSequenceHeader(refFlv, 9), refAudio = FirstSequenceHeader(refFlv, 8);
    ASSERT_GT(refVideo.size(), 16u);
    ASSERT_GE(refAudio.size(), 4u);

    FlvPackager pk;
    std::vector<IoBuffer*> out;
    for (const auto& p : Demux(ts, false)) {
      pk.Process(*p, out);
      for (IoBuffer* b : out) delete b;
      out.clear();
    }
    ASSERT_NE(pk.GetAvcSequenceHeader(), nullptr);
    ASSERT_NE(pk.GetAudioSequenceHeader(), nullptr);
    Bytes ours = Of(pk.GetAvcSequenceHeader());
    if (ours.size() + 4 == refVideo.size() && ours[6] == 100) {
      // For high profiles FFmpeg appends the optional chroma format and bit
      // depth fields (4 bytes); the record up to them is ours byte for byte.
      EXPECT_EQ(Bytes(refVideo.begin(), refVideo.begin() + ours.size()), ours);
      EXPECT_EQ(refVideo[ours.size()] & 0xfc, 0xfc);
    } else {
      EXPECT_EQ(ours, refVideo);
    }
    EXPECT_EQ(Of(pk.GetAudioSequenceHeader()), refAudio);
  }
}
