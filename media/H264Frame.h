#pragma once
// Annex B H.264 parsing: splits NAL units, keeps the stream's parameter sets,
// reads the SPS far enough for the picture size and classifies slices.
#include <cstdint>
#include <deque>

#include "core/IoBuffer.h"

class H264Frame {
 public:
  // Kinds reported by GetFrameType (and kept in frameType).
  enum { kUnknown = 0, kKey = 2, kInter = 4, kBidir = 8 };

  H264Frame();
  virtual ~H264Frame();
  H264Frame(const H264Frame&) = delete;
  H264Frame& operator=(const H264Frame&) = delete;

  // Splits bytes into NAL units. Until both an SPS and a PPS were accepted
  // only those are kept; afterwards every unit is queued on the NAL unit
  // list with a 4-byte start code. Always 0.
  int Parse(const uint8_t* bytes, int length);

  // Classifies the first NAL unit of the buffer and sets frameType; the
  // result is the first-slice flag (1 or 0).
  int GetFrameType(const uint8_t* bytes, int length);
  int GetLastFrameType() const { return frameType; }

  // One unit with its start code. 1 accepted, 0 refused (-1 for ParseSps
  // when there is nothing to read). A refused set changes nothing.
  int ParseSps(const uint8_t* bytes, int length);
  int ParsePps(const uint8_t* bytes, int length);

  // Picture size in whole macroblocks (cropping is read, not applied).
  int GetWidth() const { return width; }
  int GetHeight() const { return height; }

  // The accepted parameter sets, each with a 4-byte start code; null until seen.
  const IoBuffer* GetSps() const { return sps; }
  const IoBuffer* GetPps() const { return pps; }
  bool HasParameterSets() const { return spsSeen && ppsSeen; }

  // Takes the oldest queued NAL unit (caller frees it); null when none.
  IoBuffer* TakeNalUnit();
  int NalUnitCount() const { return static_cast<int>(nalUnits.size()); }

  // Forgets parameter sets, queued units and parsed fields, so the next run
  // of an input starts with the parameter sets it brings.
  void Reset();

  // Stand-alone helpers.
  // Copies bytes with every 00 00 03 turned into 00 00.
  static void RemoveEmulationPrevention(const uint8_t* in, int length, IoBuffer& out);
  // Offset of the NAL header byte behind the start code at bytes, 0 when the
  // buffer does not start with a start code.
  static int StartCodeLength(const uint8_t* bytes, int length);

  // A copy that starts with 00 00 00 01 (put in front when missing);
  // buffers shorter than 4 bytes are copied as they are.
  static IoBuffer* WithStartCode(const uint8_t* bytes, int length);
  // An access unit ready for a decoder that starts cold: from the first
  // start code on, behind an access unit delimiter when it has none and,
  // for a key picture (kind kKey), behind the stored SPS and PPS when it
  // lacks them. Null when there is no start code.
  IoBuffer* BuildAccessUnit(const uint8_t* bytes, int length, int kind) const;
  IoBuffer* BuildAccessUnit(const IoBuffer& unit, int kind) const {
    return BuildAccessUnit(unit.GetData(), unit.GetSize(), kind);
  }

  int GetProfileIdc() const { return profile_idc; }
  int GetLevelIdc() const { return level_idc; }
  int GetNumUnitsInTick() const { return num_units_in_tick; }
  int GetTimeScale() const { return time_scale; }
  int GetNumReorderFrames() const { return num_reorder_frames; }
  int GetSarWidth() const { return sarWidth; }
  int GetSarHeight() const { return sarHeight; }
  bool GetFrameMbsOnly() const { return frame_mbs_only_flag != 0; }
  int GetLastSliceType() const { return slice_type; }
  int GetNalLengthSize() const { return nalLengthSize; }

 private:
  void Keep(const uint8_t* unit, int length, bool addZero);

  IoBuffer* sps = nullptr;
  IoBuffer* pps = nullptr;
  int frameType = 0;
  std::deque<IoBuffer*> nalUnits;
  int spsSeen = 0;
  int ppsSeen = 0;
  int nalLengthSize = 4;

  int profile_idc = 0;
  int level_idc = 0;
  int log2_max_frame_num_minus4 = 0;
  int pic_order_cnt_type = 0;
  int log2_max_pic_order_cnt_lsb_minus4 = 0;
  int delta_pic_order_always_zero_flag = 0;
  int width = 0;
  int height = 0;
  int frame_mbs_only_flag = 1;
  int frame_cropping_flag = 0;
  int vui_parameters_present_flag = 0;
  int sarWidth = 0;
  int sarHeight = 0;
  int timing_info_present_flag = 0;
  int num_units_in_tick = 0;
  int time_scale = 0;
  int fixed_frame_rate_flag = 0;
  int bitstream_restriction_flag = 0;
  int num_reorder_frames = 0;

  int bottom_field_pic_order_in_frame_present_flag = 0;

  int slice_type = 0;
  int frame_num = 0;
  int slice_pps_id = 0;
  int field_pic_flag = 0;
  int bottom_field_flag = 0;
  int idr_pic_id = 0;
  int pic_order_cnt_lsb = 0;
  int delta_pic_order_cnt_bottom = 0;
  int delta_pic_order_cnt[2] = {0, 0};
};
