#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/Log.h"
#include "media/Amf.h"
#include "media/FLVReader.h"
#include "tests/media/FlvTestFiles.h"
#include "tests/tools/TestUtil.h"

using flvtest::AacBody;
using flvtest::AvcBody;
using flvtest::BuildFlv;
using flvtest::ProbePacket;
using flvtest::TagSpec;

namespace {

struct ReadTag {
  int64_t position;
  int type;
  uint32_t timestamp;
  uint32_t dataSize;
  std::vector<uint8_t> body;
};

bool operator==(const ReadTag& a, const ReadTag& b) {
  return a.position == b.position && a.type == b.type && a.timestamp == b.timestamp && a.dataSize == b.dataSize &&
         a.body == b.body;
}

std::vector<ReadTag> ReadAll(FLVReader& reader) {
  std::vector<ReadTag> out;
  for (;;) {
    int64_t position = reader.GetPosition();
    std::unique_ptr<Tag> tag(reader.ReadNextTag());
    if (!tag) break;
    EXPECT_NE(tag->GetBody(), nullptr);
    if (!tag->GetBody()) break;
    IoBuffer* b = tag->GetBody();
    EXPECT_EQ(b->GetSize(), static_cast<int>(tag->GetDataSize()));
    out.push_back({position, tag->GetType(), tag->GetTimestamp(), tag->GetDataSize(),
                   std::vector<uint8_t>(b->GetData(), b->GetData() + b->GetSize())});
    EXPECT_LT(out.size(), 1000000u);
  }
  return out;
}

std::vector<ReadTag> ReadAll(const std::string& path, bool synthesize = false) {
  FLVReader reader(path, synthesize);
  return ReadAll(reader);
}

int32_t Signed24(const uint8_t* p) {
  int32_t v = (p[0] << 16) | (p[1] << 8) | p[2];
  return (v & 0x800000) ? v - 0x1000000 : v;
}

// What FFmpeg's demuxer makes of the tags: sequence headers and script data
// are no packets; a packet's size is the data after the codec's own header
// bytes, its position that of the 11-byte tag header.
std::vector<ProbePacket> PacketsFromTags(const std::vector<ReadTag>& tags) {
  std::vector<ProbePacket> out;
  for (const ReadTag& t : tags) {
    if (t.body.empty()) continue;
    ProbePacket p;
    p.pos = t.position + 4;
    p.dts = p.pts = t.timestamp;
    if (t.type == 9) {
      p.codecType = "video";
      p.key = (t.body[0] >> 4) == 1;
      if ((t.body[0] & 0x0F) == 7) {
        if (t.body.size() < 5 || t.body[1] != 1) continue;
        p.size = static_cast<int64_t>(t.body.size()) - 5;
        p.pts = t.timestamp + Signed24(&t.body[2]);
      } else {
        p.size = static_cast<int64_t>(t.body.size()) - 1;
      }
    } else if (t.type == 8) {
      p.codecType = "audio";
      p.key = true;
      if ((t.body[0] >> 4) == 10) {
        if (t.body.size() < 2 || t.body[1] != 1) continue;
        p.size = static_cast<int64_t>(t.body.size()) - 2;
      } else {
        p.size = static_cast<int64_t>(t.body.size()) - 1;
      }
    } else {
      continue;
    }
    if (p.size <= 0) continue;
    out.push_back(p);
  }
  return out;
}

std::string Describe(const ProbePacket& p) {
  return p.codecType + " pts=" + std::to_string(p.pts) + " dts=" + std::to_string(p.dts) +
         " size=" + std::to_string(p.size) + " pos=" + std::to_string(p.pos) + (p.key ? " K" : "");
}

struct MediaCase {
  const char* name;
  const char* args;  // ffmpeg arguments between the inputs and the output
};

const MediaCase kMediaCases[] = {
    {"h264_aac_bframes",
     "-f lavfi -i testsrc2=s=320x240:r=25 -f lavfi -i sine=f=440:sample_rate=44100 -t 4 "
     "-c:v libx264 -preset veryfast -bf 3 -g 25 -c:a aac -b:a 64k"},
    {"h264_aac_no_bframes",
     "-f lavfi -i testsrc2=s=320x240:r=30 -f lavfi -i sine=f=330:sample_rate=48000 -t 4 "
     "-c:v libx264 -preset veryfast -bf 0 -g 30 -c:a aac -b:a 96k"},
    {"aac_only", "-f lavfi -i sine=f=440:sample_rate=44100 -t 3 -c:a aac"},
    {"mp3_only", "-f lavfi -i sine=f=440:sample_rate=44100 -t 3 -c:a libmp3lame"},
    {"h264_only", "-f lavfi -i testsrc2=s=320x240:r=25 -t 3 -an -c:v libx264 -preset veryfast -g 20"},
    {"flv1_mp3",
     "-f lavfi -i testsrc2=s=320x240:r=25 -f lavfi -i sine=f=440:sample_rate=44100 -t 3 "
     "-c:v flv -g 25 -c:a libmp3lame"},
    // Frames of about 4 MiB each: tags cross and outgrow the read window.
    {"high_bitrate",
     "-f lavfi -i testsrc2=s=1920x1080:r=4,noise=alls=100:allf=t -f lavfi -i sine=f=440:sample_rate=44100 "
     "-t 1.5 -c:v libx264 -preset ultrafast -qp 0 -g 3 -c:a aac"},
};

class FfmpegFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new vvtest::TempDir("vv-flvreader");
    for (const MediaCase& c : kMediaCases) {
      std::string path = dir->file(std::string(c.name) + ".flv");
      auto r = vvtest::Run("ffmpeg -nostdin -v error -y " + std::string(c.args) + " -f flv " +
                               vvtest::ShellQuote(path),
                           true);
      ASSERT_EQ(r.status, 0) << c.name << ": " << r.output;
    }
  }
  static void TearDownTestSuite() {
    delete dir;
    dir = nullptr;
  }
  static std::string Path(const MediaCase& c) { return dir->file(std::string(c.name) + ".flv"); }
  static vvtest::TempDir* dir;
};
vvtest::TempDir* FfmpegFiles::dir = nullptr;

TEST_F(FfmpegFiles, TagsMatchFfprobePackets) {
  for (const MediaCase& c : kMediaCases) {
    SCOPED_TRACE(c.name);
    std::string path = Path(c);
    std::vector<ReadTag> tags = ReadAll(path);
    std::vector<ProbePacket> ours = PacketsFromTags(tags);
    std::vector<ProbePacket> probe = flvtest::ProbePackets(path);
    ASSERT_FALSE(probe.empty());
    ASSERT_EQ(ours.size(), probe.size());
    for (size_t i = 0; i < probe.size(); ++i) {
      const ProbePacket& a = ours[i];
      const ProbePacket& b = probe[i];
      ASSERT_TRUE(a.codecType == b.codecType && a.pts == b.pts && a.dts == b.dts && a.size == b.size &&
                  a.pos == b.pos && a.key == b.key)
          << "packet " << i << ": ours " << Describe(a) << ", ffprobe " << Describe(b);
    }
    // Every byte of the file is accounted for: the last tag ends 4 bytes
    // before the end (its PreviousTagSize).
    ASSERT_FALSE(tags.empty());
    const ReadTag& last = tags.back();
    EXPECT_EQ(last.position + 15 + last.dataSize + 4, static_cast<int64_t>(flvtest::ReadFileBytes(path).size()));
    if (std::string(c.name) == "high_bitrate") {
      uint32_t largest = 0;
      for (const ReadTag& t : tags) largest = std::max(largest, t.dataSize);
      EXPECT_GT(largest, static_cast<uint32_t>(FLVReader::kWindowBytes));
    }
  }
}

TEST_F(FfmpegFiles, IndexHoldsTheKeyFramesFfprobeReports) {
  for (const MediaCase& c : kMediaCases) {
    SCOPED_TRACE(c.name);
    std::string path = Path(c);
    std::vector<ProbePacket> probe = flvtest::ProbePackets(path);
    bool hasVideo = std::any_of(probe.begin(), probe.end(), [](const ProbePacket& p) { return p.codecType == "video"; });
    std::vector<ReadTag> tags = ReadAll(path);
    std::map<int64_t, int64_t> expected;  // position -> time
    for (const ProbePacket& p : probe)
      if (hasVideo ? (p.codecType == "video" && p.key) : p.codecType == "audio") expected[p.pos - 4] = p.dts;
    // Sequence headers and the end-of-sequence tag are tags of the indexed
    // kind that ffprobe does not list as packets; they are entries too.
    std::vector<ProbePacket> packets = PacketsFromTags(tags);
    for (const ReadTag& t : tags) {
      bool isPacket = std::any_of(packets.begin(), packets.end(),
                                  [&](const ProbePacket& p) { return p.pos == t.position + 4; });
      if (isPacket || t.body.empty()) continue;
      if (hasVideo ? (t.type == 9 && (t.body[0] >> 4) == 1) : t.type == 8) expected[t.position] = t.timestamp;
    }

    FLVReader reader(path, false);
    KeyFrameMeta* meta = reader.GetKeyFrameMeta();
    ASSERT_NE(meta, nullptr);
    EXPECT_EQ(meta->audioOnly, !hasVideo);
    ASSERT_EQ(meta->positions.size(), expected.size());
    size_t i = 0;
    for (const auto& e : expected) {
      EXPECT_EQ(meta->positions[i], e.first);
      EXPECT_EQ(meta->times[i], e.second);
      ++i;
    }
    EXPECT_EQ(meta->duration, tags.back().timestamp);
    EXPECT_EQ(meta->firstVideoPosition == -1, !hasVideo);
  }
}

TEST_F(FfmpegFiles, SynthesisedMetadataGivesFfprobeTheDuration) {
  for (const MediaCase& c : kMediaCases) {
    SCOPED_TRACE(c.name);
    std::vector<ReadTag> tags = ReadAll(Path(c), true);
    ASSERT_GE(tags.size(), 2u);
    EXPECT_EQ(tags[0].type, 18);
    EXPECT_EQ(tags[0].timestamp, 0u);
    std::vector<TagSpec> specs;
    for (size_t i = 0; i < tags.size(); ++i) {
      if (i > 0) {
        EXPECT_NE(tags[i].type, 18) << "the file's own metadata must be replaced";
      }
      specs.push_back({static_cast<uint8_t>(tags[i].type), tags[i].timestamp, tags[i].body});
    }
    std::string out = dir->file(std::string(c.name) + "-remux.flv");
    ASSERT_TRUE(flvtest::WriteFileBytes(out, BuildFlv(specs)));
    FLVReader reader(Path(c), false);
    int64_t seconds = reader.GetKeyFrameMeta()->duration / 1000;
    EXPECT_DOUBLE_EQ(flvtest::ProbeDuration(out), static_cast<double>(seconds));
    // The remuxed file carries the same packets, shifted by the metadata tag.
    std::vector<ProbePacket> a = flvtest::ProbePackets(Path(c)), b = flvtest::ProbePackets(out);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].dts, b[i].dts);
  }
}

TEST_F(FfmpegFiles, TruncatedFilesGiveAPrefixOfTheTags) {
  std::mt19937 rng(20261210);
  for (const char* name : {"h264_aac_bframes", "mp3_only", "high_bitrate"}) {
    SCOPED_TRACE(name);
    std::string path = dir->file(std::string(name) + ".flv");
    std::vector<uint8_t> bytes = flvtest::ReadFileBytes(path);
    std::vector<ReadTag> full = ReadAll(path);
    std::vector<size_t> cuts;
    for (size_t k = 0; k <= 64 && k <= bytes.size(); ++k) cuts.push_back(bytes.size() - k);
    std::uniform_int_distribution<size_t> pick(0, bytes.size());
    for (int k = 0; k < (std::string(name) == "high_bitrate" ? 6 : 40); ++k) cuts.push_back(pick(rng));
    for (size_t cut : {size_t(0), size_t(5), size_t(9), size_t(12), size_t(13), size_t(27), size_t(28)})
      cuts.push_back(cut);
    std::string cutPath = dir->file(std::string(name) + "-cut.flv");
    for (size_t cut : cuts) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      ASSERT_TRUE(flvtest::WriteFileBytes(cutPath, std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut)));
      size_t expected = 0;
      while (expected < full.size() && full[expected].position + 15 + full[expected].dataSize <= static_cast<int64_t>(cut)) ++expected;
      FLVReader reader(cutPath, false);
      std::vector<ReadTag> got = ReadAll(reader);
      ASSERT_EQ(got.size(), expected);
      for (size_t i = 0; i < got.size(); ++i) ASSERT_TRUE(got[i] == full[i]) << "tag " << i;
      // The end stays the end.
      EXPECT_EQ(reader.ReadNextTag(), nullptr);
      for (int64_t pos : reader.GetKeyFrameMeta()->positions) {
        EXPECT_LE(pos + 15, static_cast<int64_t>(cut));
      }
    }
  }
}

// ---------------------------------------------------------------- hand-built files

TEST(FlvReader, HeaderOnlyFileAndMissingFile) {
  vvtest::TempDir dir("vv-flvreader");
  std::string path = dir.file("empty.flv");
  ASSERT_TRUE(flvtest::WriteFileBytes(path, BuildFlv({})));
  for (const std::string& p : {path, dir.file("missing.flv"), dir.path()}) {
    SCOPED_TRACE(p);
    FLVReader reader(p, true);
    EXPECT_EQ(reader.ReadNextTag(), nullptr);
    KeyFrameMeta* meta = reader.GetKeyFrameMeta();
    EXPECT_TRUE(meta->positions.empty());
    EXPECT_EQ(meta->duration, 0);
    EXPECT_EQ(reader.SeekToTime(5000), 5000);
    EXPECT_EQ(reader.ReadNextTag(), nullptr);
  }
}

TEST(FlvReader, IndexKindsAndSeeking) {
  vvtest::TempDir dir("vv-flvreader");
  // Audio first, then video with key frames at 0, 2000 and 4000, last tag 5000.
  std::vector<TagSpec> tags = {
      {8, 0, AacBody(0, 2)},         {8, 0, AacBody(1, 20)},      {9, 0, AvcBody(true, 0, 0, 30)},
      {9, 0, AvcBody(true, 1, 0, 40)}, {8, 23, AacBody(1, 20)},    {9, 1000, AvcBody(false, 1, 0, 40)},
      {9, 2000, AvcBody(true, 1, 0, 40)}, {9, 3000, AvcBody(false, 1, 0, 40)}, {9, 4000, AvcBody(true, 1, 0, 40)},
      {8, 4500, AacBody(1, 20)},     {9, 5000, AvcBody(false, 1, 0, 40)},
  };
  std::string path = dir.file("mixed.flv");
  ASSERT_TRUE(flvtest::WriteFileBytes(path, BuildFlv(tags)));
  std::vector<ReadTag> all = ReadAll(path);
  ASSERT_EQ(all.size(), tags.size());
  FLVReader reader(path, false);
  KeyFrameMeta* meta = reader.GetKeyFrameMeta();
  EXPECT_FALSE(meta->audioOnly);
  EXPECT_EQ(meta->duration, 5000);
  EXPECT_EQ(meta->firstAudioPosition, all[0].position);
  EXPECT_EQ(meta->firstVideoPosition, all[2].position);
  EXPECT_EQ(meta->times, (std::vector<int64_t>{0, 0, 2000, 4000}));
  EXPECT_EQ(meta->positions,
            (std::vector<int64_t>{all[2].position, all[3].position, all[6].position, all[8].position}));

  struct SeekCase {
    int64_t ask;
    int64_t gives;
    int nextTag;  // index of the tag read next, -1 for the end
  };
  for (const SeekCase& s : {SeekCase{3999, 2000, 6}, SeekCase{2000, 2000, 6}, SeekCase{0, 0, 3},
                            SeekCase{4999, 4000, 8}, SeekCase{5000, 5000, -1}, SeekCase{90000, 5000, -1},
                            SeekCase{1999, 0, 3}}) {
    SCOPED_TRACE(s.ask);
    EXPECT_EQ(reader.SeekToTime(s.ask), s.gives);
    std::unique_ptr<Tag> t(reader.ReadNextTag());
    if (s.nextTag < 0) {
      EXPECT_EQ(t, nullptr);
    } else {
      ASSERT_NE(t, nullptr);
      EXPECT_EQ(t->GetTimestamp(), all[s.nextTag].timestamp);
      EXPECT_EQ(std::vector<uint8_t>(t->GetBody()->GetData(), t->GetBody()->GetData() + t->GetDataSize()),
                all[s.nextTag].body);
    }
  }

  // Audio only: every audio tag is an entry.
  std::vector<TagSpec> audio = {{8, 0, AacBody(0, 2)}, {8, 23, AacBody(1, 9)}, {8, 46, AacBody(1, 9)}};
  std::string audioPath = dir.file("audio.flv");
  ASSERT_TRUE(flvtest::WriteFileBytes(audioPath, BuildFlv(audio)));
  FLVReader audioReader(audioPath, false);
  KeyFrameMeta* am = audioReader.GetKeyFrameMeta();
  EXPECT_TRUE(am->audioOnly);
  EXPECT_EQ(am->times, (std::vector<int64_t>{0, 23, 46}));
  EXPECT_EQ(am->firstVideoPosition, -1);
  EXPECT_EQ(am->firstAudioPosition, 9);
}

TEST(FlvReader, TimestampExtensionAndMissingLastPreviousTagSize) {
  vvtest::TempDir dir("vv-flvreader");
  std::vector<TagSpec> tags = {{9, 0x01000010u, AvcBody(true, 1, 0, 3)}, {9, 0xFF000020u, AvcBody(false, 1, 0, 3)}};
  std::string path = dir.file("ext.flv");
  std::vector<uint8_t> bytes = BuildFlv(tags, false);
  ASSERT_TRUE(flvtest::WriteFileBytes(path, bytes));
  std::vector<ReadTag> got = ReadAll(path);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].timestamp, 0x01000010u);
  EXPECT_EQ(got[1].timestamp, 0xFF000020u);

  // The index scan reports a tag that ends at the very end of the file (no
  // PreviousTagSize behind it), and still counts that tag.
  std::string oldLog = GetLogFileName();
  SetLogFileName(dir.file("reader.log"));
  int64_t duration;
  {
    FLVReader reader(path, false);
    duration = reader.GetKeyFrameMeta()->duration;
  }
  SetLogFileName(oldLog);
  EXPECT_EQ(duration, 0xFF000020LL);
  std::string expected = "FLVReader: New position exceeds limit. newPosition=" + std::to_string(bytes.size()) +
                         ", GetTotalBytes()=" + std::to_string(bytes.size());
  EXPECT_NE(vvtest::ReadFileText(dir.file("reader.log")).find(expected), std::string::npos);
}

TEST(FlvReader, SynthesisedMetadataTag) {
  vvtest::TempDir dir("vv-flvreader");
  std::vector<uint8_t> script = {0x02, 0x00, 0x0A, 'o', 'n', 'M', 'e', 't', 'a', 'D', 'a', 't', 'a', 0x05};
  std::vector<TagSpec> tags = {{18, 0, script},
                               {9, 0, AvcBody(true, 0, 0, 10)},
                               {8, 0, AacBody(0, 2)},
                               {18, 100, script},
                               {9, 40, AvcBody(false, 1, 0, 10)},
                               {8, 3999, AacBody(1, 10)}};
  std::string path = dir.file("meta.flv");
  ASSERT_TRUE(flvtest::WriteFileBytes(path, BuildFlv(tags)));

  std::vector<ReadTag> plain = ReadAll(path, false);
  ASSERT_EQ(plain.size(), tags.size());
  EXPECT_EQ(plain[0].type, 18);  // without synthesis the file's script tags pass

  std::vector<ReadTag> got = ReadAll(path, true);
  ASSERT_EQ(got.size(), 4u + 1u);
  EXPECT_EQ(got[0].type, 18);
  EXPECT_EQ(got[0].timestamp, 0u);
  std::vector<int> types;
  for (size_t i = 1; i < got.size(); ++i) types.push_back(got[i].type);
  EXPECT_EQ(types, (std::vector<int>{9, 8, 9, 8}));

  IoBuffer expected;
  Output out(&expected);
  out.WriteString("onMetaData");
  AmfValueMap map;
  map["duration"] = new IntegerObject(3);
  map["videocodecid"] = new IntegerObject(7);
  map["audiocodecid"] = new IntegerObject(10);
  map["canSeekToEnd"] = new BooleanObject(true);
  out.WriteMap(map);
  ClearAmfValueMap(map);
  EXPECT_EQ(got[0].body, std::vector<uint8_t>(expected.GetData(), expected.GetData() + expected.GetSize()));
  EXPECT_EQ(got[0].dataSize, static_cast<uint32_t>(expected.GetSize()));

  // Without video or audio the codec entries are left out.
  std::string audioPath = dir.file("a.flv");
  ASSERT_TRUE(flvtest::WriteFileBytes(audioPath, BuildFlv({{8, 2500, {0x2F, 1, 2}}})));
  std::vector<ReadTag> a = ReadAll(audioPath, true);
  ASSERT_EQ(a.size(), 2u);
  IoBuffer ea;
  Output oa(&ea);
  oa.WriteString("onMetaData");
  map["duration"] = new IntegerObject(2);
  map["audiocodecid"] = new IntegerObject(2);
  map["canSeekToEnd"] = new BooleanObject(true);
  oa.WriteMap(map);
  ClearAmfValueMap(map);
  EXPECT_EQ(a[0].body, std::vector<uint8_t>(ea.GetData(), ea.GetData() + ea.GetSize()));
}

TEST(FlvReader, HostileTagHeaders) {
  vvtest::TempDir dir("vv-flvreader");
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t tags;
  };
  std::vector<uint8_t> good = BuildFlv({{9, 0, AvcBody(true, 1, 0, 4)}, {8, 10, AacBody(1, 4)}});
  std::vector<uint8_t> huge = good;
  // The second tag claims 16 MiB of data.
  size_t second = 13 + 11 + 9 + 4;
  huge[second + 1] = 0xFF;
  huge[second + 2] = 0xFF;
  huge[second + 3] = 0xFF;
  std::vector<uint8_t> zeroVideo = BuildFlv({{9, 0, {}}, {9, 5, AvcBody(true, 1, 0, 1)}});
  std::vector<uint8_t> notFlv(200, 0xFF);
  for (const Case& c : {Case{"good", good, 2}, Case{"huge second tag", huge, 1}, Case{"empty video tag", zeroVideo, 2},
                        Case{"not an FLV", notFlv, 0}}) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file("hostile.flv");
    ASSERT_TRUE(flvtest::WriteFileBytes(path, c.bytes));
    for (bool synth : {false, true}) {
      std::vector<ReadTag> got = ReadAll(path, synth);
      // The made-up metadata comes first whenever there is a tag header to
      // read, even one whose data runs past the end.
      EXPECT_EQ(got.size(), c.tags + (synth ? 1 : 0));
    }
  }
}

TEST(FlvReader, LongRunOfScriptTagsIsSkippedWithoutDeepCalls) {
  // With synthesised metadata the file's script tags are passed over; a
  // file of little else must not need a call per tag.
  vvtest::TempDir dir("vv-flvreader");
  std::vector<TagSpec> tags(300000, TagSpec{18, 0, {0x05}});
  tags.push_back({9, 40, AvcBody(true, 1, 0, 8)});
  std::string path = dir.file("scripts.flv");
  ASSERT_TRUE(flvtest::WriteFileBytes(path, BuildFlv(tags)));
  std::vector<ReadTag> got = ReadAll(path, true);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].type, 18);
  EXPECT_EQ(got[1].type, 9);
  EXPECT_EQ(got[1].timestamp, 40u);
}

TEST(FlvReader, PositionsPastFourGigabytes) {
  vvtest::TempDir dir("vv-flvreader");
  std::string path = dir.file("big.flv");
  // 300 key frames of 16 MiB each, written sparsely: only headers and the
  // first body bytes take room on disk.
  const int kTags = 300;
  const uint32_t kData = 0xFFFFFF;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const uint8_t header[13] = {'F', 'L', 'V', 1, 1, 0, 0, 0, 9, 0, 0, 0, 0};
  ASSERT_EQ(pwrite(fd, header, sizeof(header), 0), 13);
  int64_t pos = 9;  // position of the PreviousTagSize in front of the tag
  std::vector<int64_t> positions;
  for (int i = 0; i < kTags; ++i) {
    positions.push_back(pos);
    uint32_t ts = static_cast<uint32_t>(i) * 1000;
    uint8_t h[16] = {0, 0, 0, 0, 9, 0xFF, 0xFF, 0xFF, uint8_t(ts >> 16), uint8_t(ts >> 8), uint8_t(ts), 0, 0, 0, 0,
                     0x17};
    if (i > 0) {
      uint32_t prev = kData + 11;
      h[0] = uint8_t(prev >> 24), h[1] = uint8_t(prev >> 16), h[2] = uint8_t(prev >> 8), h[3] = uint8_t(prev);
    }
    ASSERT_EQ(pwrite(fd, h, sizeof(h), pos), 16);
    pos += 15 + kData;
  }
  ASSERT_EQ(ftruncate(fd, pos + 4), 0);
  struct stat st;
  fstat(fd, &st);
  close(fd);
  if (st.st_blocks * 512 > 64 * 1024 * 1024) GTEST_SKIP() << "no sparse files here";
  ASSERT_GT(positions.back(), int64_t(1) << 32);

  FLVReader reader(path, false);
  EXPECT_EQ(reader.GetTotalBytes(), pos + 4);
  KeyFrameMeta* meta = reader.GetKeyFrameMeta();
  EXPECT_EQ(meta->positions, positions);
  EXPECT_EQ(meta->duration, (kTags - 1) * 1000);
  EXPECT_EQ(reader.SeekToTime(298500), 298000);
  EXPECT_EQ(reader.GetPosition(), positions[298]);
  std::unique_ptr<Tag> t(reader.ReadNextTag());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->GetTimestamp(), 298000u);
  EXPECT_EQ(t->GetDataSize(), kData);
  EXPECT_EQ(t->GetBody()->GetData()[0], 0x17);
  std::unique_ptr<Tag> last(reader.ReadNextTag());
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->GetTimestamp(), 299000u);
  EXPECT_EQ(reader.ReadNextTag(), nullptr);
  // Such an index cannot be stored in the 32-bit index file.
  FileKeyFrameMetaCache cache;
  EXPECT_FALSE(cache.Save(path, *meta));
}

// ---------------------------------------------------------------- index file

class IndexFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<TagSpec> tags = {{9, 0, AvcBody(true, 0, 0, 10)},  {8, 0, AacBody(0, 2)},
                                 {9, 0, AvcBody(true, 1, 0, 50)},  {8, 20, AacBody(1, 9)},
                                 {9, 40, AvcBody(false, 1, 0, 50)}, {9, 1000, AvcBody(true, 1, 0, 50)},
                                 {9, 2000, AvcBody(true, 1, 0, 50)}, {8, 2100, AacBody(1, 9)}};
    path = dir.file("clip.flv");
    ASSERT_TRUE(flvtest::WriteFileBytes(path, BuildFlv(tags)));
    all = ReadAll(path);
    FLVReader reader(path, false);
    scanned = *reader.GetKeyFrameMeta();
  }
  KeyFrameMeta Read() {
    FLVReader reader(path, false);
    return *reader.GetKeyFrameMeta();
  }
  static bool Same(const KeyFrameMeta& a, const KeyFrameMeta& b) {
    return a.duration == b.duration && a.audioOnly == b.audioOnly && a.firstAudioPosition == b.firstAudioPosition &&
           a.firstVideoPosition == b.firstVideoPosition && a.positions == b.positions && a.times == b.times;
  }
  vvtest::TempDir dir{"vv-flvindex"};
  std::string path;
  std::vector<ReadTag> all;
  KeyFrameMeta scanned;
};

TEST_F(IndexFile, LayoutIsLittleEndianWithAudioOnlyAfterThePositions) {
  FileKeyFrameMetaCache cache;
  ASSERT_TRUE(cache.Save(path, scanned));
  EXPECT_EQ(FileKeyFrameMetaCache::IndexPath(path), path + "c.meta");
  std::vector<uint8_t> b = flvtest::ReadFileBytes(path + "c.meta");
  size_t n = scanned.positions.size();
  ASSERT_EQ(b.size(), 21 + 8 * n);
  auto le = [&](size_t at) { return int32_t(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24)); };
  EXPECT_EQ(le(0), 2100);
  EXPECT_EQ(le(4), scanned.firstAudioPosition);
  EXPECT_EQ(le(8), 9);
  EXPECT_EQ(b[12], 0);
  EXPECT_EQ(le(13), static_cast<int32_t>(n));
  EXPECT_EQ(le(17), 9);
  EXPECT_EQ(le(17 + 4 * n), static_cast<int32_t>(n));
  EXPECT_EQ(le(17 + 4 * n + 4 + 4 * (n - 1)), 2000);
  std::unique_ptr<KeyFrameMeta> loaded(cache.Load(path));
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(Same(*loaded, scanned));
}

TEST_F(IndexFile, ConsistentIndexIsUsedOthersFallBackToTheScan) {
  FileKeyFrameMetaCache cache;
  // A consistent index that lists fewer entries than the scan finds shows
  // that the file, not the scan, was used.
  KeyFrameMeta partial = scanned;
  partial.positions.pop_back();
  partial.times.pop_back();
  ASSERT_TRUE(cache.Save(path, partial));
  EXPECT_TRUE(Same(Read(), partial));

  int64_t fileSize = static_cast<int64_t>(flvtest::ReadFileBytes(path).size());
  struct Case {
    const char* name;
    std::function<void(KeyFrameMeta&)> change;
  };
  const std::vector<Case> cases = {
      {"position past the end", [&](KeyFrameMeta& m) { m.positions.back() = fileSize + 100; }},
      {"position inside a tag", [](KeyFrameMeta& m) { m.positions[1] += 3; }},
      {"position of an audio tag", [&](KeyFrameMeta& m) { m.positions[1] = all[1].position; }},
      {"position of an inter frame", [&](KeyFrameMeta& m) { m.positions[2] = all[4].position; m.times[2] = 40; }},
      {"time that differs", [](KeyFrameMeta& m) { m.times[2] = 999; }},
      {"positions out of order", [](KeyFrameMeta& m) { std::swap(m.positions[1], m.positions[2]); }},
      {"negative duration", [](KeyFrameMeta& m) { m.duration = -5; }},
      {"audio only with video", [](KeyFrameMeta& m) { m.audioOnly = true; }},
      {"first video not video", [&](KeyFrameMeta& m) { m.firstVideoPosition = all[1].position; }},
      {"first audio past the end", [&](KeyFrameMeta& m) { m.firstAudioPosition = fileSize - 2; }},
      {"negative position", [](KeyFrameMeta& m) { m.positions[0] = -1; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyFrameMeta bad = partial;
    c.change(bad);
    ASSERT_TRUE(cache.Save(path, bad));
    EXPECT_TRUE(Same(Read(), scanned));
  }

  // Broken index files: counts that disagree or run past the end, and extra
  // bytes.
  ASSERT_TRUE(cache.Save(path, partial));
  std::vector<uint8_t> good = flvtest::ReadFileBytes(path + "c.meta");
  struct Raw {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> change;
  };
  const std::vector<Raw> raws = {
      {"cut short", [](std::vector<uint8_t>& b) { b.resize(b.size() - 3); }},
      {"trailing bytes", [](std::vector<uint8_t>& b) { b.push_back(0); }},
      {"huge count", [](std::vector<uint8_t>& b) { b[13] = 0xFF; b[14] = 0xFF; b[15] = 0xFF; b[16] = 0x7F; }},
      {"negative count", [](std::vector<uint8_t>& b) { b[16] = 0x80; }},
      {"counts differ", [](std::vector<uint8_t>& b) { b[b.size() - 4 * 3 - 4] += 1; }},
      {"audio flag 2", [](std::vector<uint8_t>& b) { b[12] = 2; }},
      {"empty", [](std::vector<uint8_t>& b) { b.clear(); }},
  };
  for (const Raw& r : raws) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> b = good;
    r.change(b);
    ASSERT_TRUE(flvtest::WriteFileBytes(path + "c.meta", b));
    std::unique_ptr<KeyFrameMeta> loaded(cache.Load(path));
    EXPECT_EQ(loaded, nullptr);
    EXPECT_TRUE(Same(Read(), scanned));
  }
}

TEST_F(IndexFile, SaveRefusesValuesBeyond32Bits) {
  FileKeyFrameMetaCache cache;
  KeyFrameMeta big = scanned;
  big.positions.back() = int64_t(1) << 32;
  EXPECT_FALSE(cache.Save(path, big));
  EXPECT_FALSE(cache.Save(dir.file("no/such/folder.flv"), scanned));
}

}  // namespace
