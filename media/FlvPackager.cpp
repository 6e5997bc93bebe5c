#include "media/FlvPackager.h"

#include <cstdlib>
#include <memory>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "core/Log.h"

namespace {

constexpr uint8_t kAacTagByte = 0xAF;
constexpr uint8_t kMp3TagByte = 0x2F;
constexpr int kKeyFlag = 1;

const int kAacRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                           22050, 16000, 12000, 11025, 8000,  7350};

IoBuffer::ExtraData SharedBytes(const IoBuffer* b) {
  return std::make_shared<const std::vector<uint8_t>>(b->GetData(), b->GetData() + b->GetSize());
}

IoBuffer* NewTag(int type, int64_t timestamp, int capacity) {
  IoBuffer* b = new IoBuffer(capacity < 16 ? 16 : capacity);
  b->SetType(type);
  b->SetTimestamp(timestamp);
  return b;
}

}  // namespace

FlvPackager::FlvPackager() = default;

FlvPackager::~FlvPackager() {
  DropHeaders();
}

void FlvPackager::DropHeaders() {
  if (avcHeader || audioHeader) ++headerVersion;
  delete avcHeader;
  delete audioHeader;
  avcHeader = audioHeader = nullptr;
  haveVideoHeader = haveAudioHeader = false;
  avcHeaderBytes.reset();
  audioHeaderBytes.reset();
  headerSps.clear();
  headerPps.clear();
  headerAudioConfig.clear();
}

void FlvPackager::Reset() {
  DropHeaders();
  baseSet = false;
  base = 0;
  parser.Reset();
}

int FlvPackager::AacFrequencyIndex(int rate) {
  int best = 0;
  long bestDiff = -1;
  for (int i = 0; i < 13; ++i) {
    if (kAacRates[i] == rate) return i;
    long diff = std::labs(static_cast<long>(kAacRates[i]) - rate);
    if (bestDiff < 0 || diff < bestDiff) {
      bestDiff = diff;
      best = i;
    }
  }
  return best;
}

int FlvPackager::AdtsHeaderLength(const uint8_t* b, int length) {
  if (!b || length < 2 || b[0] != 0xFF || (b[1] & 0xF0) != 0xF0) return 0;
  // protection_absent clear: a 16-bit CRC follows the 7 fixed bytes.
  return (b[1] & 0x01) ? 7 : 9;
}

IoBuffer* FlvPackager::BuildAvcSequenceHeader(const uint8_t* sps, int spsLength, const uint8_t* pps,
                                              int ppsLength) {
  if (!sps || !pps || spsLength < 4 || ppsLength < 1 || spsLength > 0xFFFF || ppsLength > 0xFFFF)
    return nullptr;
  IoBuffer* h = NewTag(9, 0, 16 + spsLength + ppsLength);
  h->WriteUInt8(0x17);
  h->WriteUInt8(0x00);
  h->WriteUInt24(0);
  h->WriteUInt8(0x01);
  h->WriteUInt8(sps[1]);
  h->WriteUInt8(sps[2]);
  h->WriteUInt8(sps[3]);
  h->WriteUInt8(0xFF);
  h->WriteUInt8(0xE1);
  h->WriteUInt16(static_cast<uint16_t>(spsLength));
  h->Write(sps, spsLength);
  h->WriteUInt8(0x01);
  h->WriteUInt16(static_cast<uint16_t>(ppsLength));
  h->Write(pps, ppsLength);
  h->SetFlags(kKeyFlag);
  h->SetCodecId(AV_CODEC_ID_H264);
  return h;
}

int64_t FlvPackager::Relative(int64_t t) {
  if (!baseSet) {
    base = t;
    baseSet = true;
  }
  // A packet stamped before the first one of its run (audio and video
  // interleave loosely) starts at 0 rather than wrapping.
  return t > base ? t - base : 0;
}

void FlvPackager::Process(const IoBuffer& packet, std::vector<IoBuffer*>& out) {
  if (packet.GetType() == 3) {
    Reset();
    out.push_back(NewTag(3, 0, 16));
    return;
  }
  switch (packet.GetCodecId()) {
    case AV_CODEC_ID_H264:
      ProcessVideo(packet, out);
      break;
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_MP3:
      ProcessAudio(packet, out);
      break;
    default:
      break;
  }
}

bool FlvPackager::SetVideoHeader(const uint8_t* sps, int spsLength, const uint8_t* pps, int ppsLength) {
  IoBuffer* h = BuildAvcSequenceHeader(sps, spsLength, pps, ppsLength);
  if (!h) return false;
  delete avcHeader;
  avcHeader = h;
  avcHeaderBytes = SharedBytes(h);
  headerSps.assign(sps, sps + spsLength);
  headerPps.assign(pps, pps + ppsLength);
  haveVideoHeader = true;
  ++headerVersion;
  return true;
}

void FlvPackager::ProcessVideo(const IoBuffer& packet, std::vector<IoBuffer*>& out) {
  parser.Parse(packet.GetData(), packet.GetSize());
  if (parser.HasParameterSets() && !haveVideoHeader) {
    const IoBuffer* s = parser.GetSps();
    const IoBuffer* p = parser.GetPps();
    SetVideoHeader(s->GetData() + 4, s->GetSize() - 4, p->GetData() + 4, p->GetSize() - 4);
  }
  if (!haveVideoHeader) {
    while (IoBuffer* u = parser.TakeNalUnit()) delete u;
    return;
  }
  // One packet is one access unit: all its NAL units travel in one tag, so
  // pictures coded in several slices reach the decoder whole. The units are
  // gathered first so the tag is sized once and each unit copied once.
  bool key = false, anySlice = false;
  // Parameter sets the access unit carries; the stream may bring new ones
  // at any time (an encoder restarted with other settings behind the same
  // input), and its pictures need the header made from them.
  std::vector<uint8_t> sps, pps;
  int bodySize = 0;
  units.clear();
  while (IoBuffer* u = parser.TakeNalUnit()) {
    int n = u->GetSize() - 4;
    if (n <= 0) {
      delete u;
      continue;
    }
    const uint8_t* bytes = static_cast<const IoBuffer*>(u)->GetData();
    const uint8_t* nal = bytes + 4;
    int nalType = nal[0] & 0x1f;
    if (nalType >= 1 && nalType <= 5) {
      anySlice = true;
      parser.GetFrameType(bytes, u->GetSize());
      if (parser.GetLastFrameType() == H264Frame::kKey) key = true;
    } else if (nalType == 7) {
      sps.assign(nal, nal + n);
    } else if (nalType == 8) {
      pps.assign(nal, nal + n);
    }
    bodySize += 4 + n;
    units.push_back(u);
  }
  if ((!sps.empty() && sps != headerSps) || (!pps.empty() && pps != headerPps)) {
    const std::vector<uint8_t>& s = sps.empty() ? headerSps : sps;
    const std::vector<uint8_t>& p = pps.empty() ? headerPps : pps;
    SetVideoHeader(s.data(), static_cast<int>(s.size()), p.data(), static_cast<int>(p.size()));
  }
  if (!anySlice) {
    for (IoBuffer* u : units) delete u;
    units.clear();
    return;
  }
  // The base comes from the first tag, not from a unit that only carried
  // parameter sets.
  int64_t ts = Relative(packet.GetTimestamp());
  int cts = packet.GetCompositionTime();
  if (cts > 0x7FFFFF) cts = 0x7FFFFF;
  if (cts < -0x800000) cts = -0x800000;
  IoBuffer* tag = NewTag(9, ts, bodySize + 5);
  tag->WriteUInt8(key ? 0x17 : 0x27);
  tag->WriteUInt8(0x01);
  tag->WriteUInt24(static_cast<uint32_t>(cts) & 0xFFFFFF);
  for (IoBuffer* u : units) {
    const IoBuffer* unit = u;
    tag->WriteUInt32(static_cast<uint32_t>(unit->GetSize() - 4));
    tag->Write(unit->GetData() + 4, unit->GetSize() - 4);
    delete u;
  }
  units.clear();
  tag->SetFlags(key ? kKeyFlag : 0);
  tag->SetCodecId(AV_CODEC_ID_H264);
  tag->SetCompositionTime(cts);
  tag->SetStreamIndex(packet.GetStreamIndex());
  tag->SetExtraDataShared(avcHeaderBytes);
  tag->SetDts(ts);
  tag->SetPts(ts + cts);
  out.push_back(tag);
}

void FlvPackager::AacConfig(const IoBuffer& packet, int adts, std::vector<uint8_t>& config, bool* offTable) {
  const uint8_t* data = packet.GetData();
  int size = packet.GetSize();
  if (packet.GetExtraDataSize() > 0) {
    config.assign(packet.GetExtraData(), packet.GetExtraData() + packet.GetExtraDataSize());
  } else if (adts > 0 && size >= 4 && ((data[2] >> 2) & 0xF) < 13 &&
             (((data[2] & 0x1) << 2) | (data[3] >> 6)) != 0) {
    // The ADTS header carries what the AudioSpecificConfig says (unless
    // its rate index is reserved or its channels come from a program
    // config element, which two bytes cannot carry).
    int objectType = ((data[2] >> 6) & 0x3) + 1;
    int index = (data[2] >> 2) & 0xF;
    int channels = ((data[2] & 0x1) << 2) | (data[3] >> 6);
    config = {static_cast<uint8_t>((objectType << 3) | (index >> 1)),
              static_cast<uint8_t>(((index & 1) << 7) | ((channels & 0x0F) << 3))};
  } else {
    int index = AacFrequencyIndex(packet.GetSampleRate());
    if (offTable) *offTable = kAacRates[index] != packet.GetSampleRate();
    config = {static_cast<uint8_t>(0x10 | (index >> 1)),
              static_cast<uint8_t>(((index & 1) << 7) | ((packet.GetChannels() & 0x0F) << 3))};
  }
}

void FlvPackager::ProcessAudio(const IoBuffer& packet, std::vector<IoBuffer*>& out) {
  const uint8_t* data = packet.GetData();
  int size = packet.GetSize();
  bool mp3 = packet.GetCodecId() == AV_CODEC_ID_MP3;
  if (!data || size <= 0) return;
  int adts = mp3 ? 0 : AdtsHeaderLength(data, size);
  std::vector<uint8_t> config;
  bool offTable = false;
  // An AAC stream may change its configuration in the middle (another
  // encoder behind the same input): the header follows it.
  if (!mp3) AacConfig(packet, adts, config, &offTable);
  if (!haveAudioHeader || (!mp3 && config != headerAudioConfig)) {
    delete audioHeader;
    if (mp3) {
      audioHeader = NewTag(8, 0, size + 1);
      audioHeader->WriteUInt8(kMp3TagByte);
      audioHeader->Write(data, size);
    } else {
      if (offTable) {
        LogWarn("AAC sample rate %d not in the table, using %d", packet.GetSampleRate(),
                kAacRates[AacFrequencyIndex(packet.GetSampleRate())]);
      }
      audioHeader = NewTag(8, 0, 16 + static_cast<int>(config.size()));
      audioHeader->WriteUInt8(kAacTagByte);
      audioHeader->WriteUInt8(0x00);
      audioHeader->Write(config.data(), static_cast<int>(config.size()));
      headerAudioConfig = config;
    }
    audioHeader->SetCodecId(packet.GetCodecId());
    audioHeader->SetSampleRate(packet.GetSampleRate());
    audioHeader->SetChannels(packet.GetChannels());
    audioHeaderBytes = SharedBytes(audioHeader);
    haveAudioHeader = true;
    ++headerVersion;
  }
  int64_t ts = Relative(packet.GetTimestamp());
  if (adts > 0 && adts >= size) return;  // a header without a frame behind it
  IoBuffer* tag = NewTag(8, ts, size + 2);
  if (mp3) {
    tag->WriteUInt8(kMp3TagByte);
  } else {
    tag->WriteUInt8(kAacTagByte);
    tag->WriteUInt8(0x01);
  }
  tag->Write(data + adts, size - adts);
  tag->SetCodecId(packet.GetCodecId());
  tag->SetSampleRate(packet.GetSampleRate());
  tag->SetChannels(packet.GetChannels());
  tag->SetStreamIndex(packet.GetStreamIndex());
  tag->SetExtraDataShared(audioHeaderBytes);
  tag->SetDts(ts);
  tag->SetPts(ts);
  out.push_back(tag);
}
