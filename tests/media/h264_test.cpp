// H.264 parameter-set and slice parsing, checked against streams made by
// x264 and the sizes ffprobe reports for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/Log.h"
#include "media/H264Frame.h"
#include "tests/tools/TestUtil.h"


using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The NAL type of a stored unit (always behind a 4-byte start code).
int UnitType(const IoBuffer* u) { return u->GetData()[4] & 0x1f; }

// SPS for 1280x720 baseline: pic_width_in_mbs_minus1 79, pic_height_in_map_units_minus1 44.
const std::vector<uint8_t> kSps720 = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xc0, 0x1f,
                                      0xda, 0x01, 0x40, 0x16, 0xe8, 0x40};
// PPS id 0, SPS id 0.
const std::vector<uint8_t> kPps = {0x00, 0x00, 0x00, 0x01, 0x68, 0xce, 0x3c, 0x80};

}  // namespace

TEST(H264Frame, SizesMatchFfprobeForX264Streams) {
  struct Case {
    const char* name;
    int w, h;
    const char* options;
  } cases[] = {
      {"baseline", 320, 240, "-profile:v baseline"},
      {"main", 640, 360, "-profile:v main"},
      {"high", 1280, 720, "-profile:v high"},
      {"high1080", 1920, 1080, "-profile:v high"},
      {"slices", 640, 480, "-x264-params slices=4"},
      {"bframes", 352, 288, "-bf 2"},
      {"interlaced", 320, 240, "-flags +ildct+ilme -x264-params interlaced=1"},
  };
  TempDir dir("vvh264");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir.file(std::string(c.name) + ".h264");
    std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(c.w) + "x" +
                      std::to_string(c.h) + ":rate=25 -frames:v 4 -pix_fmt yuv420p -c:v libx264 " +
                      c.options + " -f h264 " + ShellQuote(file);
    ASSERT_EQ(vvtest::Run(cmd, true).status, 0) << cmd;
    auto probe = vvtest::Run("ffprobe -v error -count_frames -show_entries stream=coded_width,coded_height "
                     "-of csv=p=0 " + ShellQuote(file));
    int cw = 0, ch = 0;
    ASSERT_EQ(sscanf(probe.output.c_str(), "%d,%d", &cw, &ch), 2) << probe.output;

    std::vector<uint8_t> bytes = ReadBytes(file);
    H264Frame frame;
    frame.Parse(bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_TRUE(frame.HasParameterSets());
    EXPECT_EQ(frame.GetWidth(), cw);
    EXPECT_EQ(frame.GetHeight(), ch);

    // Every unit is kept behind a 4-byte start code; the first picture is
    // a key picture and the ones after it are not.
    int pictures = 0, keys = 0;
    while (IoBuffer* u = frame.TakeNalUnit()) {
      const uint8_t* d = u->GetData();
      EXPECT_TRUE(d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 1);
      int t = UnitType(u);
      if (t >= 1 && t <= 5) {
        int first = frame.GetFrameType(d, u->GetSize());
        if (first) {
          ++pictures;
          if (frame.GetLastFrameType() == H264Frame::kKey) ++keys;
        }
      }
      delete u;
    }
    EXPECT_EQ(pictures, 4);
    EXPECT_EQ(keys, 1);
  }
}

TEST(H264Frame, BFramesAreClassifiedAsBidirectional) {
  TempDir dir("vvh264");
  std::string file = dir.file("b.h264");
  ASSERT_EQ(vvtest::Run("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -frames:v 8 "
                "-pix_fmt yuv420p -c:v libx264 -bf 2 -b_strategy 0 -f h264 " + ShellQuote(file), true)
                .status, 0);
  std::vector<uint8_t> bytes = ReadBytes(file);
  H264Frame frame;
  frame.Parse(bytes.data(), static_cast<int>(bytes.size()));
  std::string kinds;
  while (IoBuffer* u = frame.TakeNalUnit()) {
    int t = UnitType(u);
    if (t >= 1 && t <= 5) {
      frame.GetFrameType(u->GetData(), u->GetSize());
      kinds += frame.GetLastFrameType() == H264Frame::kKey ? 'I'
               : frame.GetLastFrameType() == H264Frame::kInter ? 'P'
               : frame.GetLastFrameType() == H264Frame::kBidir ? 'B' : '?';
    }
    delete u;
  }
  // Decode order as ffprobe sees it.
  auto probe = vvtest::Run("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 " + ShellQuote(file));
  std::string display;
  for (char c : probe.output)
    if (c == 'I' || c == 'P' || c == 'B') display += c;
  ASSERT_EQ(kinds.size(), display.size());
  EXPECT_NE(kinds.find('B'), std::string::npos);
  std::string a = kinds, b = display;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);  // same pictures, in decode versus display order
}

TEST(H264Frame, HandMadeUnits) {
  H264Frame frame;
  EXPECT_EQ(frame.ParseSps(kSps720.data(), static_cast<int>(kSps720.size())), 1);
  EXPECT_EQ(frame.GetWidth(), 1280);
  EXPECT_EQ(frame.GetHeight(), 720);
  EXPECT_EQ(frame.GetProfileIdc(), 66);

  struct Slice {
    std::vector<uint8_t> bytes;
    int kind;
  } slices[] = {
      {{0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x84, 0x00}, H264Frame::kKey},
      {{0x00, 0x00, 0x01, 0x41, 0x9A, 0x00, 0x10}, H264Frame::kInter},  // slice_type 5
      {{0x00, 0x00, 0x00, 0x01, 0x09, 0xF0}, H264Frame::kUnknown},      // access unit delimiter
      {{0x00, 0x00, 0x01, 0x06, 0x05, 0x01}, H264Frame::kUnknown},      // SEI
      // Cut short before the slice type: an IDR unit is still a key
      // picture, another slice cannot be told.
      {{0x00, 0x00, 0x00, 0x01, 0x65}, H264Frame::kKey},
      {{0x00, 0x00, 0x01, 0x65, 0x00}, H264Frame::kKey},
      {{0x00, 0x00, 0x00, 0x01, 0x41}, H264Frame::kUnknown},
  };
  for (const Slice& s : slices) {
    frame.GetFrameType(s.bytes.data(), static_cast<int>(s.bytes.size()));
    EXPECT_EQ(frame.GetLastFrameType(), s.kind);
  }

  IoBuffer out;
  const uint8_t escaped[] = {0x11, 0x00, 0x00, 0x03, 0x01, 0x22};
  H264Frame::RemoveEmulationPrevention(escaped, sizeof(escaped), out);
  ASSERT_EQ(out.GetSize(), 5);
  EXPECT_EQ(std::vector<uint8_t>(out.GetData(), out.GetData() + 5),
            (std::vector<uint8_t>{0x11, 0x00, 0x00, 0x01, 0x22}));
}

// A high-profile SPS whose first scaling list starts with the largest delta
// the Exp-Golomb code can carry: the list arithmetic wraps modulo 256 as the
// syntax says, without overflowing, and the size behind it is still read.
TEST(H264Frame, ScalingListDeltaAtTheEdgeOfItsRange) {
  const std::vector<uint8_t> sps = {0x00, 0x00, 0x00, 0x01, 0x67, 0x64, 0x00, 0x1e, 0xad,
                                    0x80, 0x00, 0x00, 0x03, 0x00, 0xff, 0xff, 0xff, 0xfe,
                                    0xff, 0xfe, 0x03, 0xa0, 0x50, 0x7e, 0x40};
  H264Frame frame;
  EXPECT_EQ(frame.ParseSps(sps.data(), static_cast<int>(sps.size())), 1);
  EXPECT_EQ(frame.GetProfileIdc(), 100);
  EXPECT_EQ(frame.GetWidth(), 320);
  EXPECT_EQ(frame.GetHeight(), 240);
}

TEST(H264Frame, SlicesBeforeParameterSetsAreNotKept) {
  std::vector<uint8_t> idr = {0x00, 0x00, 0x01, 0x65, 0x88, 0x84, 0x00, 0x33};
  H264Frame frame;
  frame.Parse(idr.data(), static_cast<int>(idr.size()));
  EXPECT_EQ(frame.NalUnitCount(), 0);

  std::vector<uint8_t> au = kSps720;
  au.insert(au.end(), kPps.begin(), kPps.end());
  au.insert(au.end(), idr.begin(), idr.end());
  frame.Parse(au.data(), static_cast<int>(au.size()));
  ASSERT_EQ(frame.NalUnitCount(), 3);
  int expected[] = {7, 8, 5};
  for (int t : expected) {
    IoBuffer* u = frame.TakeNalUnit();
    EXPECT_EQ(UnitType(u), t);
    EXPECT_EQ(u->GetData()[3], 1);
    delete u;
  }
  ASSERT_NE(frame.GetSps(), nullptr);
  EXPECT_EQ(frame.GetSps()->GetSize(), static_cast<int>(kSps720.size()));
}

TEST(H264Frame, DamagedParameterSetsAreRefused) {
  // Every cut of a real SPS that ends inside its fixed fields is refused;
  // the picture size stays as it was.
  for (size_t n = 1; n < kSps720.size() - 1; ++n) {
    H264Frame frame;
    int r = frame.ParseSps(kSps720.data(), static_cast<int>(n));
    EXPECT_NE(r, 1) << "cut at " << n;
    EXPECT_EQ(frame.GetWidth(), 0);
  }
  // Refusals of a bad id say why on the standard output.
  struct Bad {
    const char* name;
    std::vector<uint8_t> bytes;
    bool sps;
    std::string printed;
  } bad[] = {
      {"sps id 40", {0, 0, 1, 0x67, 0x42, 0xc0, 0x1f, 0x05, 0x29}, true,  // ue 40 = 00000101001
       "invalid SPS (sps_id=40)"},
      {"header only", {0, 0, 1, 0x67}, true, ""},
      {"pps id too large", {0, 0, 1, 0x68, 0x00, 0x00, 0x40, 0x00, 0x80}, false, "invalid PPS (pps_id=131075 sps_id=0)\n"},
      {"sps id of pps 32", {0, 0, 1, 0x68, 0x82, 0x10}, false, "invalid PPS (pps_id=0 sps_id=32)\n"},
      {"pps empty", {0, 0, 1, 0x68}, false, ""},
  };
  for (const Bad& b : bad) {
    H264Frame frame;
    testing::internal::CaptureStdout();
    int r = b.sps ? frame.ParseSps(b.bytes.data(), static_cast<int>(b.bytes.size()))
                  : frame.ParsePps(b.bytes.data(), static_cast<int>(b.bytes.size()));
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(r, 1) << b.name;
    EXPECT_EQ(printed, b.printed) << b.name;
  }
  H264Frame frame;
  EXPECT_EQ(frame.ParseSps(kSps720.data(), 0), -1);

  // A refused SPS is not taken as the stream's parameter set.
  std::vector<uint8_t> au = {0, 0, 0, 1, 0x67, 0x42, 0xc0};
  au.insert(au.end(), kSps720.begin(), kSps720.end());
  au.insert(au.end(), kPps.begin(), kPps.end());
  frame.Parse(au.data(), static_cast<int>(au.size()));
  ASSERT_TRUE(frame.HasParameterSets());
  EXPECT_EQ(frame.GetWidth(), 1280);
}

namespace {

// Writes an SPS bit by bit, escaped as a NAL unit behind 00 00 00 01.
class SpsWriter {
 public:
  void Bits(uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bits.push_back(static_cast<int>((v >> i) & 1));
  }
  void Ue(uint32_t v) {
    uint64_t x = static_cast<uint64_t>(v) + 1;
    int len = 0;
    while ((x >> len) > 1) ++len;
    Bits(0, len);
    Bits(x, len + 1);
  }
  std::vector<uint8_t> Unit() {
    Bits(1, 1);  // stop bit
    while (bits.size() % 8) bits.push_back(0);
    std::vector<uint8_t> rbsp;
    for (size_t i = 0; i < bits.size(); i += 8) {
      int b = 0;
      for (int j = 0; j < 8; ++j) b = (b << 1) | bits[i + j];
      rbsp.push_back(static_cast<uint8_t>(b));
    }
    std::vector<uint8_t> unit = {0x00, 0x00, 0x00, 0x01, 0x67};
    int zeros = 0;
    for (uint8_t b : rbsp) {
      if (zeros >= 2 && b <= 3) {
        unit.push_back(0x03);
        zeros = 0;
      }
      unit.push_back(b);
      zeros = b == 0 ? zeros + 1 : 0;
    }
    return unit;
  }

 private:
  std::vector<int> bits;
};

// A 320x240 baseline SPS with timing information and a bitstream restriction.
std::vector<uint8_t> SpsWithTiming(uint32_t tick, uint32_t scale, uint32_t reorder) {
  SpsWriter w;
  w.Bits(66, 8);
  w.Bits(0, 8);
  w.Bits(30, 8);
  w.Ue(0);   // sps id
  w.Ue(0);   // log2_max_frame_num_minus4
  w.Ue(2);   // pic_order_cnt_type
  w.Ue(1);   // max_num_ref_frames
  w.Bits(0, 1);
  w.Ue(19);  // 320 / 16 - 1
  w.Ue(14);  // 240 / 16 - 1
  w.Bits(1, 1);  // frame_mbs_only
  w.Bits(1, 1);
  w.Bits(0, 1);  // no cropping
  w.Bits(1, 1);  // VUI
  w.Bits(0, 4);  // no aspect ratio, overscan, signal type, chroma location
  w.Bits(1, 1);  // timing
  w.Bits(tick, 32);
  w.Bits(scale, 32);
  w.Bits(1, 1);
  w.Bits(0, 2);  // no HRD
  w.Bits(0, 1);  // pic_struct_present
  w.Bits(1, 1);  // bitstream restriction
  w.Bits(1, 1);
  w.Ue(0);
  w.Ue(0);
  w.Ue(16);
  w.Ue(16);
  w.Ue(reorder);
  w.Ue(reorder > 4 ? reorder : 4);
  return w.Unit();
}

}  // namespace

// The timing goes to the log at debug level, never to the standard output;
// an illegal reorder count is still printed there.
TEST(H264Frame, TimingIsLoggedAtDebugLevelAndReorderCountOnTheStandardOutput) {
  struct Case {
    const char* name;
    uint32_t tick, scale, reorder;
    int result;
    std::string logged, printed;
  } cases[] = {
      {"25 frames a second", 1, 50, 2, 1, "num_uints_in_tick = 1\ntime_scale = 50\n", ""},
      {"NTSC", 1001, 60000, 0, 1, "num_uints_in_tick = 1001\ntime_scale = 60000\n", ""},
      {"reorder count at its limit", 1, 50, 16, 1, "num_uints_in_tick = 1\ntime_scale = 50\n", ""},
      {"reorder count beyond it", 1, 50, 17, 0, "num_uints_in_tick = 1\ntime_scale = 50\n",
       "illegal num_reorder_frames 17\n"},
  };
  vvtest::TempDir dir("vvh264");
  const std::string oldLog = GetLogFileName();
  const int oldLevel = GetLogLevel();
  SetLogLevel(LOG_ALL);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> sps = SpsWithTiming(c.tick, c.scale, c.reorder);
    H264Frame frame;
    const std::string logFile = dir.file(std::string(c.name) + ".log");
    SetLogFileName(logFile);
    testing::internal::CaptureStdout();
    int r = frame.ParseSps(sps.data(), static_cast<int>(sps.size()));
    std::string printed = testing::internal::GetCapturedStdout();
    SetLogFileName(oldLog);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(printed, c.printed);
    // The log lines without their time and level prefix.
    std::string logged, line;
    std::istringstream lines(vvtest::ReadFileText(logFile));
    while (std::getline(lines, line)) {
      EXPECT_NE(line.find("[DEBUG]: "), std::string::npos) << line;
      size_t at = line.find("]: ");
      if (at != std::string::npos) logged += line.substr(at + 3) + "\n";
    }
    EXPECT_EQ(logged, c.logged);
    if (r == 1) {
      EXPECT_EQ(frame.GetWidth(), 320);
      EXPECT_EQ(frame.GetHeight(), 240);
      EXPECT_EQ(frame.GetNumUnitsInTick(), static_cast<int>(c.tick));
      EXPECT_EQ(frame.GetTimeScale(), static_cast<int>(c.scale));
      EXPECT_EQ(frame.GetNumReorderFrames(), static_cast<int>(c.reorder));
    } else {
      EXPECT_EQ(frame.GetWidth(), 0);  // a refused SPS changes nothing
    }
  }
  SetLogLevel(oldLevel);
}

TEST(H264Frame, BytesLeftAfterTheLastStartCodeAreCounted) {
  struct Case {
    const char* name;
    std::vector<uint8_t> tail;
    std::string printed;
  } cases[] = {
      {"a bare 3-byte start code", {0x00, 0x00, 0x01}, "3\n"},
      {"a start code and one byte", {0x00, 0x00, 0x01, 0x09}, "4\n"},
      {"a whole delimiter", {0x00, 0x00, 0x01, 0x09, 0xf0}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = kPps;
    bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
    H264Frame frame;
    testing::internal::CaptureStdout();
    EXPECT_EQ(frame.Parse(bytes.data(), static_cast<int>(bytes.size())), 0);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, c.printed);
    EXPECT_EQ(frame.NalUnitCount(), 1);  // the PPS
  }
}

TEST(H264Frame, ResetTakesTheNextStreamsParameterSets) {
  TempDir dir("vvh264");
  std::string a = dir.file("a.h264"), b = dir.file("b.h264");
  ASSERT_EQ(vvtest::Run("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -frames:v 1 -pix_fmt "
                "yuv420p -c:v libx264 " + ShellQuote(a), true).status, 0);
  ASSERT_EQ(vvtest::Run("ffmpeg -v error -y -f lavfi -i testsrc=size=640x480:rate=25 -frames:v 1 -pix_fmt "
                "yuv420p -c:v libx264 " + ShellQuote(b), true).status, 0);
  auto first = ReadBytes(a), second = ReadBytes(b);
  H264Frame frame;
  frame.Parse(first.data(), static_cast<int>(first.size()));
  EXPECT_EQ(frame.GetWidth(), 320);
  frame.Parse(second.data(), static_cast<int>(second.size()));
  EXPECT_EQ(frame.GetWidth(), 320);  // the first parameter sets of a run stay
  frame.Reset();
  EXPECT_FALSE(frame.HasParameterSets());
  EXPECT_EQ(frame.NalUnitCount(), 0);
  frame.Parse(second.data(), static_cast<int>(second.size()));
  EXPECT_EQ(frame.GetWidth(), 640);
  EXPECT_EQ(frame.GetHeight(), 480);
}

TEST(H264Frame, AccessUnitsForAColdDecoder) {
  H264Frame frame;
  std::vector<uint8_t> ps = kSps720;
  ps.insert(ps.end(), kPps.begin(), kPps.end());
  frame.Parse(ps.data(), static_cast<int>(ps.size()));
  ASSERT_TRUE(frame.HasParameterSets());
  while (IoBuffer* u = frame.TakeNalUnit()) delete u;

  const std::vector<uint8_t> aud = {0, 0, 0, 1, 0x09, 0xF0};
  const std::vector<uint8_t> idr = {0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x84, 0x00};
  const std::vector<uint8_t> p = {0x00, 0x00, 0x01, 0x41, 0x9A, 0x00, 0x10};
  auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> r;
    for (auto& x : parts) r.insert(r.end(), x.begin(), x.end());
    return r;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> in;
    int kind;
    std::vector<uint8_t> out;
  } cases[] = {
      {"key picture gets delimiter and parameter sets", idr, H264Frame::kKey, cat({aud, kSps720, kPps, idr})},
      {"inter picture gets the delimiter only", p, H264Frame::kInter, cat({aud, p})},
      {"complete unit stays as it is", cat({aud, kSps720, kPps, idr}), H264Frame::kKey,
       cat({aud, kSps720, kPps, idr})},
      {"bytes before the first start code are skipped", cat({{0x55, 0x66}, p}), H264Frame::kInter, cat({aud, p})},
  };
  for (const Case& c : cases) {
    IoBuffer* au = frame.BuildAccessUnit(c.in.data(), static_cast<int>(c.in.size()), c.kind);
    ASSERT_NE(au, nullptr) << c.name;
    EXPECT_EQ(std::vector<uint8_t>(au->GetData(), au->GetData() + au->GetSize()), c.out) << c.name;
    delete au;
  }
  const uint8_t junk[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(frame.BuildAccessUnit(junk, sizeof(junk), H264Frame::kKey), nullptr);

  struct Sc {
    std::vector<uint8_t> in, out;
  } scs[] = {{{0x65, 0x11, 0x22, 0x33}, {0, 0, 0, 1, 0x65, 0x11, 0x22, 0x33}},
             {{0, 0, 0, 1, 0x41}, {0, 0, 0, 1, 0x41}},
             {{0x65, 0x11}, {0x65, 0x11}}};
  for (const Sc& c : scs) {
    IoBuffer* b = H264Frame::WithStartCode(c.in.data(), static_cast<int>(c.in.size()));
    EXPECT_EQ(std::vector<uint8_t>(b->GetData(), b->GetData() + b->GetSize()), c.out);
    delete b;
  }
}
