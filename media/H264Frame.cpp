#include "media/H264Frame.h"

#include <cstdio>
#include <cstring>

#include "core/Log.h"


namespace {

// Most-significant-bit-first reader over an unescaped payload. A read past
// the end returns the bits read so far and marks the reader as overrun.
class BitReader {
 public:
  BitReader(const uint8_t* d, int n) : data(d), bits(static_cast<int64_t>(n) * 8) {}
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos >= bits) {
        overrun = true;
        return v;
      }
      v = (v << 1) | ((data[pos >> 3] >> (7 - (pos & 7))) & 1);
      ++pos;
    }
    return v;
  }
  uint32_t Bit() { return Bits(1); }
  void Skip(int n) { Bits(n); }
  uint32_t Ue() {
    int zeros = 0;
    while (zeros < 32 && Bit() == 0) {
      if (overrun) return 0;
      ++zeros;
    }
    if (overrun) return 0;
    if (zeros == 0) return 0;
    uint64_t v = (1ull << zeros) - 1 + Bits(zeros);
    return v > 0xffffffffull ? 0xffffffffu : static_cast<uint32_t>(v);
  }
  int32_t Se() {
    uint32_t k = Ue();
    if (k & 1) return static_cast<int32_t>((static_cast<int64_t>(k) + 1) / 2);
    return static_cast<int32_t>(-static_cast<int64_t>(k / 2));
  }
  bool Overrun() const { return overrun; }

 private:
  const uint8_t* data;
  int64_t bits;
  int64_t pos = 0;
  bool overrun = false;
};

// Predefined sample aspect ratios by aspect_ratio_idc (0 unspecified).
const int kSarTable[17][2] = {{0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33},
                              {24, 11}, {20, 11}, {32, 11}, {80, 33}, {18, 11}, {15, 11},
                              {64, 33}, {160, 99}, {4, 3},  {3, 2},   {2, 1}};

void SkipHrd(BitReader& br) {
  uint32_t cpbCnt = br.Ue();
  br.Skip(4);
  br.Skip(4);
  for (uint32_t i = 0; i <= cpbCnt && i < 32 && !br.Overrun(); ++i) {
    br.Ue();
    br.Ue();
    br.Skip(1);
  }
  br.Skip(5);
  br.Skip(5);
  br.Skip(5);
  br.Skip(5);
}

int Clamp12(uint32_t v) { return v > 12 ? 12 : static_cast<int>(v); }

// Finds the next 00 00 01 at or after from; -1 when none.
int FindStartCode(const uint8_t* b, int length, int from) {
  for (int i = from; i + 2 < length; ++i) {
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) return i;
  }
  return -1;
}

// Replaces a stored SPS or PPS with the unit, its 4-byte start code made
// whole again.
void StoreParameterSet(IoBuffer*& slot, const uint8_t* unit, int length) {
  delete slot;
  slot = new IoBuffer(length + 1);
  slot->WriteUInt8(0);
  slot->Write(unit, length);
}

}  // namespace

H264Frame::H264Frame() = default;

H264Frame::~H264Frame() {
  for (IoBuffer* u : nalUnits) delete u;
  delete sps;
  delete pps;
}

void H264Frame::Reset() {
  for (IoBuffer* u : nalUnits) delete u;
  nalUnits.clear();
  delete sps;
  delete pps;
  sps = pps = nullptr;
  spsSeen = ppsSeen = 0;
  frameType = 0;
  width = height = 0;
  profile_idc = level_idc = 0;
  log2_max_frame_num_minus4 = pic_order_cnt_type = log2_max_pic_order_cnt_lsb_minus4 = 0;
  delta_pic_order_always_zero_flag = 0;
  frame_mbs_only_flag = 1;
  frame_cropping_flag = vui_parameters_present_flag = 0;
  sarWidth = sarHeight = 0;
  timing_info_present_flag = num_units_in_tick = time_scale = fixed_frame_rate_flag = 0;
  bitstream_restriction_flag = num_reorder_frames = 0;
  bottom_field_pic_order_in_frame_present_flag = 0;
  slice_type = frame_num = slice_pps_id = field_pic_flag = bottom_field_flag = 0;
  idr_pic_id = pic_order_cnt_lsb = delta_pic_order_cnt_bottom = 0;
  delta_pic_order_cnt[0] = delta_pic_order_cnt[1] = 0;
}

IoBuffer* H264Frame::TakeNalUnit() {
  if (nalUnits.empty()) return nullptr;
  IoBuffer* u = nalUnits.front();
  nalUnits.pop_front();
  return u;
}

int H264Frame::StartCodeLength(const uint8_t* b, int length) {
  if (!b) return 0;
  if (length >= 3 && b[0] == 0 && b[1] == 0 && b[2] == 1) return 3;
  if (length >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1) return 4;
  return 0;
}

void H264Frame::RemoveEmulationPrevention(const uint8_t* in, int length, IoBuffer& out) {
  int zeros = 0;
  for (int i = 0; i < length; ++i) {
    uint8_t c = in[i];
    if (zeros >= 2 && c == 3) {
      zeros = 0;
      continue;
    }
    out.WriteUInt8(c);
    zeros = c == 0 ? zeros + 1 : 0;
  }
}

void H264Frame::Keep(const uint8_t* unit, int length, bool addZero) {
  IoBuffer* copy = new IoBuffer(length + 1);
  if (addZero) copy->WriteUInt8(0);
  copy->Write(unit, length);
  nalUnits.push_back(copy);
}

int H264Frame::Parse(const uint8_t* bytes, int length) {
  if (!bytes || length < 5) return 0;
  int start = FindStartCode(bytes, length, 0);
  while (start >= 0 && length - start >= 5) {
    int next = FindStartCode(bytes, length, start + 3);
    int end = next < 0 ? length : next;
    // A zero in front of the next start code is the first byte of a
    // 4-byte start code and belongs to neither unit.
    if (next >= 0 && end > start + 3 && bytes[end - 1] == 0) --end;
    const uint8_t* unit = bytes + start;
    int unitLength = end - start;
    // Units are found by their 3-byte start codes; a 4-byte code shows as a
    // zero just before, which is put back in front of the stored copy.
    if (unitLength > 4) {
      int type = unit[3] & 0x1f;
      if (spsSeen && ppsSeen) {
        Keep(unit, unitLength, true);
      } else if (!spsSeen && type == 7) {
        if (ParseSps(unit, unitLength) == 1) {
          spsSeen = 1;
          StoreParameterSet(sps, unit, unitLength);
          Keep(unit, unitLength, true);
        }
      } else if (!ppsSeen && type == 8) {
        if (ParsePps(unit, unitLength) == 1) {
          ppsSeen = 1;
          StoreParameterSet(pps, unit, unitLength);
          Keep(unit, unitLength, true);
        }
      }
    }
    if (next < 0) break;
    start = next;
  }
  if (start >= 0 && length - start > 0 && length - start < 5) printf("%d\n", length - start);
  return 0;
}

int H264Frame::ParseSps(const uint8_t* bytes, int length) {
  if (!bytes || length < 1) return -1;
  int sc = StartCodeLength(bytes, length);
  // Header byte, profile, constraints, level and at least the id.
  if (length - sc < 5) return 0;
  IoBuffer rbsp(length);
  RemoveEmulationPrevention(bytes + sc + 1, length - sc - 1, rbsp);
  BitReader br(rbsp.GetData(), rbsp.GetSize());

  int profile = static_cast<int>(br.Bits(8));
  br.Skip(8);
  int level = static_cast<int>(br.Bits(8));
  uint32_t spsId = br.Ue();
  if (spsId >= 32) {
    printf("invalid SPS (sps_id=%d)", static_cast<int>(spsId));
    return 0;
  }
  if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
      profile == 83 || profile == 86) {
    uint32_t chroma = br.Ue();
    if (chroma == 3) br.Skip(1);
    br.Ue();
    br.Ue();
    br.Skip(1);
    if (br.Bit()) {
      int lists = chroma == 3 ? 12 : 8;
      for (int i = 0; i < lists && !br.Overrun(); ++i) {
        if (!br.Bit()) continue;
        int n = i < 6 ? 16 : 64;
        int last = 8, next = 8;
        for (int j = 0; j < n && !br.Overrun(); ++j) {
          if (next != 0) {
            int delta = br.Se();
            // Wide arithmetic: a delta may be anything a 32-bit code holds.
            next = static_cast<int>(((static_cast<int64_t>(last) + delta) % 256 + 256) % 256);
          }
          if (next != 0) last = next;
          else break;
        }
      }
    }
  }
  int maxFrameNum = Clamp12(br.Ue());
  uint32_t pocType = br.Ue();
  int pocLsb = 0, alwaysZero = 0;
  if (pocType == 0) {
    pocLsb = Clamp12(br.Ue());
  } else if (pocType == 1) {
    alwaysZero = static_cast<int>(br.Bit());
    br.Se();
    br.Se();
    uint32_t cycle = br.Ue();
    if (cycle > 256) cycle = 256;
    for (uint32_t i = 0; i < cycle && !br.Overrun(); ++i) br.Se();
  }
  br.Ue();
  br.Skip(1);
  uint32_t wMbs = br.Ue();
  uint32_t hUnits = br.Ue();
  int mbsOnly = static_cast<int>(br.Bit());
  if (!mbsOnly) br.Skip(1);
  br.Skip(1);
  int cropping = static_cast<int>(br.Bit());
  if (cropping) {
    br.Ue();
    br.Ue();
    br.Ue();
    br.Ue();
  }
  // Everything up to here is fixed syntax: a unit that ends before it is
  // cut short, not an SPS to build on.
  if (br.Overrun() || pocType > 2 || wMbs >= 4096 || hUnits >= 4096) {
    printf("invalid SPS (sps_id=%d)", static_cast<int>(spsId));
    return 0;
  }
  int vui = static_cast<int>(br.Bit());
  int sarW = 0, sarH = 0, timing = 0, fixedRate = 0, restriction = 0, reorder = 0;
  uint32_t tick = 0, scale = 0;
  if (vui) {
    if (br.Bit()) {
      uint32_t idc = br.Bits(8);
      if (idc < 17) {
        sarW = kSarTable[idc][0];
        sarH = kSarTable[idc][1];
      } else if (idc == 255) {
        sarW = static_cast<int>(br.Bits(16));
        sarH = static_cast<int>(br.Bits(16));
      }
    }
    if (br.Bit()) br.Skip(1);
    if (br.Bit()) {
      br.Skip(4);
      if (br.Bit()) br.Skip(24);
    }
    if (br.Bit()) {
      br.Ue();
      br.Ue();
    }
    timing = static_cast<int>(br.Bit());
    if (timing) {
      tick = br.Bits(32);
      scale = br.Bits(32);
      fixedRate = static_cast<int>(br.Bit());
      // Diagnostics only: every session parses an SPS, and the program's
      // standard output is no place for them.
      LogDebug("num_uints_in_tick = %d", static_cast<int>(tick));
      LogDebug("time_scale = %d", static_cast<int>(scale));
    }
    int nalHrd = static_cast<int>(br.Bit());
    if (nalHrd) SkipHrd(br);
    int vclHrd = static_cast<int>(br.Bit());
    if (vclHrd) SkipHrd(br);
    if (nalHrd || vclHrd) br.Skip(1);
    br.Skip(1);
    restriction = static_cast<int>(br.Bit());
    if (restriction) {
      br.Skip(1);
      br.Ue();
      br.Ue();
      br.Ue();
      br.Ue();
      uint32_t r = br.Ue();
      if (r > 16) {
        printf("illegal num_reorder_frames %d\n", static_cast<int>(r));
        return 0;
      }
      reorder = static_cast<int>(r);
      br.Ue();
    }
  }

  profile_idc = profile;
  level_idc = level;
  log2_max_frame_num_minus4 = maxFrameNum;
  pic_order_cnt_type = static_cast<int>(pocType);
  log2_max_pic_order_cnt_lsb_minus4 = pocLsb;
  delta_pic_order_always_zero_flag = alwaysZero;
  width = static_cast<int>(wMbs + 1) * 16;
  // Field-coded streams count map units of two macroblock rows.
  height = static_cast<int>(hUnits + 1) * 16 * (mbsOnly ? 1 : 2);
  frame_mbs_only_flag = mbsOnly;
  frame_cropping_flag = cropping;
  vui_parameters_present_flag = vui;
  sarWidth = sarW;
  sarHeight = sarH;
  timing_info_present_flag = timing;
  num_units_in_tick = static_cast<int>(tick);
  time_scale = static_cast<int>(scale);
  fixed_frame_rate_flag = fixedRate;
  bitstream_restriction_flag = restriction;
  num_reorder_frames = reorder;
  return 1;
}

int H264Frame::ParsePps(const uint8_t* bytes, int length) {
  if (!bytes || length < 1) return 0;
  int sc = StartCodeLength(bytes, length);
  if (length - sc < 2) return 0;
  IoBuffer rbsp(length);
  RemoveEmulationPrevention(bytes + sc + 1, length - sc - 1, rbsp);
  BitReader br(rbsp.GetData(), rbsp.GetSize());
  uint32_t ppsId = br.Ue();
  uint32_t spsId = br.Ue();
  if (ppsId >= 256 || spsId >= 32) {
    printf("invalid PPS (pps_id=%d sps_id=%d)\n", static_cast<int>(ppsId), static_cast<int>(spsId));
    return 0;
  }
  br.Skip(1);
  int flag = static_cast<int>(br.Bit());
  if (br.Overrun()) {
    printf("invalid PPS (pps_id=%d sps_id=%d)\n", static_cast<int>(ppsId), static_cast<int>(spsId));
    return 0;
  }
  bottom_field_pic_order_in_frame_present_flag = flag;
  return 1;
}

int H264Frame::GetFrameType(const uint8_t* bytes, int length) {
  frameType = 0;
  if (!bytes || length < 3) return 0;
  int sc = StartCodeLength(bytes, length);
  if (sc == 0 || length - sc < 1) return 0;
  int nalType = bytes[sc] & 0x1f;
  if (nalType < 1 || nalType > 5) return 0;

  int avail = length - sc - 1;
  if (avail > 60) avail = 60;
  IoBuffer rbsp(avail > 0 ? avail : 1);
  RemoveEmulationPrevention(bytes + sc + 1, avail, rbsp);
  BitReader br(rbsp.GetData(), rbsp.GetSize());
  uint32_t firstMb = br.Ue();
  uint32_t st = br.Ue();
  if (br.Overrun()) {
    // An IDR unit is a key picture whatever its header says, even one cut
    // short before the slice type.
    if (nalType == 5) frameType = kKey;
    return 0;
  }
  slice_type = static_cast<int>(st);
  slice_pps_id = static_cast<int>(br.Ue());
  frame_num = static_cast<int>(br.Bits(log2_max_frame_num_minus4 + 4));
  field_pic_flag = bottom_field_flag = 0;
  if (!frame_mbs_only_flag) {
    field_pic_flag = static_cast<int>(br.Bit());
    if (field_pic_flag) bottom_field_flag = static_cast<int>(br.Bit());
  }
  if (nalType == 5) idr_pic_id = static_cast<int>(br.Ue());
  if (pic_order_cnt_type == 0) {
    pic_order_cnt_lsb = static_cast<int>(br.Bits(log2_max_pic_order_cnt_lsb_minus4 + 4));
    if (bottom_field_pic_order_in_frame_present_flag && !field_pic_flag)
      delta_pic_order_cnt_bottom = br.Se();
  } else if (pic_order_cnt_type == 1 && !delta_pic_order_always_zero_flag) {
    delta_pic_order_cnt[0] = br.Se();
    if (bottom_field_pic_order_in_frame_present_flag && !field_pic_flag)
      delta_pic_order_cnt[1] = br.Se();
  }
  switch (st) {
    case 0: case 3: case 5: case 8: frameType = kInter; break;
    case 1: case 6: frameType = kBidir; break;
    case 2: case 4: case 7: case 9: frameType = kKey; break;
    default: frameType = kUnknown; break;
  }
  if (nalType == 5) frameType = kKey;
  // The first slice of a picture starts at macroblock 0.
  return (nalType == 1 || nalType == 2 || nalType == 5) && firstMb == 0 ? 1 : 0;
}

IoBuffer* H264Frame::WithStartCode(const uint8_t* bytes, int length) {
  IoBuffer* b = new IoBuffer(length + 5);
  if (!bytes || length <= 0) return b;
  bool has = length >= 4 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 1;
  if (!has && length >= 4) b->WriteUInt32(1);
  b->Write(bytes, length);
  return b;
}

IoBuffer* H264Frame::BuildAccessUnit(const uint8_t* bytes, int length, int kind) const {
  if (!bytes || length <= 0) return nullptr;
  int start = FindStartCode(bytes, length, 0);
  if (start < 0) return nullptr;
  if (start > 0 && bytes[start - 1] == 0) --start;  // keep a 4-byte code whole
  bool hasAud = false, hasSps = false, hasPps = false;
  for (int sc = FindStartCode(bytes, length, start); sc >= 0 && sc + 3 < length;
       sc = FindStartCode(bytes, length, sc + 3)) {
    int type = bytes[sc + 3] & 0x1f;
    hasAud |= type == 9;
    hasSps |= type == 7;
    hasPps |= type == 8;
  }
  IoBuffer* au = new IoBuffer(length - start + 64 + (sps ? sps->GetSize() : 0) + (pps ? pps->GetSize() : 0));
  if (!hasAud) {
    const uint8_t aud[] = {0, 0, 0, 1, 0x09, 0xF0};
    au->Write(aud, sizeof(aud));
  }
  if (kind == kKey) {
    if (!hasSps && sps) au->Write(sps->GetData(), sps->GetSize());
    if (!hasPps && pps) au->Write(pps->GetData(), pps->GetSize());
  }
  au->Write(bytes + start, length - start);
  return au;
}
