#include "media/CodecConfig.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <cstring>

#include "core/IoBuffer.h"

namespace {

// Finds the next 00 00 01 at or after from; -1 when none.
int NextStartCode(const uint8_t* b, int size, int from) {
  for (int i = from; i + 2 < size; ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) return i;
  return -1;
}

void Keep(const uint8_t* nal, int length, H264ParameterSets* out, bool* found) {
  while (length > 0 && nal[length - 1] == 0) --length;  // trailing zero bytes belong to no unit
  if (length < 2) return;
  int type = nal[0] & 0x1F;
  if (type == 7) {
    out->sps.assign(nal, nal + length);
    *found = true;
  } else if (type == 8) {
    out->pps.assign(nal, nal + length);
    *found = true;
  }
}

bool FromRecord(const uint8_t* d, int size, H264ParameterSets* out) {
  // version, profile, compatibility, level, length size, then the SPS count
  // and the SPS, each behind a 16-bit length, then the PPS likewise.
  if (size < 7) return false;
  bool found = false;
  int pos = 5;
  for (int kind = 0; kind < 2 && pos < size; ++kind) {
    int count = kind == 0 ? d[pos] & 0x1F : d[pos];
    ++pos;
    for (int i = 0; i < count; ++i) {
      if (pos + 2 > size) return found;
      int length = d[pos] << 8 | d[pos + 1];
      pos += 2;
      if (pos + length > size) return found;
      Keep(d + pos, length, out, &found);
      pos += length;
    }
  }
  return found;
}

// Most-significant-bit-first bits of a byte buffer.
class Bits {
 public:
  Bits(const uint8_t* d, int n) : data(d), size(n) {}
  int Read(int n) {
    int v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos >= size * 8) {
        overrun = true;
        return v;
      }
      v = (v << 1) | ((data[pos >> 3] >> (7 - (pos & 7))) & 1);
      ++pos;
    }
    return v;
  }
  bool Overrun() const { return overrun; }

 private:
  const uint8_t* data;
  int size;
  int pos = 0;
  bool overrun = false;
};

}  // namespace

bool FindH264ParameterSets(const uint8_t* data, int size, H264ParameterSets* out) {
  if (!data || size <= 0 || !out) return false;
  if (data[0] == 1) return FromRecord(data, size, out);
  bool found = false;
  int start = NextStartCode(data, size, 0);
  while (start >= 0) {
    int begin = start + 3;
    int next = NextStartCode(data, size, begin);
    int end = next < 0 ? size : next;
    Keep(data + begin, end - begin, out, &found);
    start = next;
  }
  return found;
}

std::vector<uint8_t> AnnexBExtradata(const H264ParameterSets& sets) {
  static const uint8_t kStart[4] = {0, 0, 0, 1};
  std::vector<uint8_t> out;
  out.insert(out.end(), kStart, kStart + 4);
  out.insert(out.end(), sets.sps.begin(), sets.sps.end());
  out.insert(out.end(), kStart, kStart + 4);
  out.insert(out.end(), sets.pps.begin(), sets.pps.end());
  return out;
}

bool H264StreamInfo(const uint8_t* data, int size, int* width, int* height, int* profile, int* level) {
  if (!data || size <= 0) return false;
  AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
  AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
  bool ok = false;
  if (parser && ctx) {
    // The whole access unit at once: the parser reads its parameter sets
    // and the first slice's header against them.
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser, ctx, &out, &outSize, data, size, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    ok = parser->width > 0 && parser->height > 0;
    if (ok) {
      if (width) *width = parser->width;
      if (height) *height = parser->height;
      if (profile) *profile = ctx->profile;
      if (level) *level = ctx->level;
    }
  }
  avcodec_free_context(&ctx);
  if (parser) av_parser_close(parser);
  return ok;
}

bool ReadAudioSpecificConfig(const uint8_t* asc, int size, int* sampleRate, int* channels) {
  static const int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                 22050, 16000, 12000, 11025, 8000,  7350};
  if (!asc || size < 2) return false;
  Bits bits(asc, size);
  int objectType = bits.Read(5);
  if (objectType == 31) bits.Read(6);
  int index = bits.Read(4);
  int rate = index == 15 ? bits.Read(24) : index < 13 ? kRates[index] : 0;
  int channelConfig = bits.Read(4);
  if (bits.Overrun() || rate <= 0) return false;
  if (sampleRate) *sampleRate = rate;
  // Configuration 7 means eight channels; 0 leaves it to a program config
  // element.
  if (channels) *channels = channelConfig == 7 ? 8 : channelConfig < 7 ? channelConfig : 0;
  return true;
}

// ---------------------------------------------------------------- record files

namespace {

constexpr int kKeyFlag = 1;
// A hold never keeps more packets than this, whatever their times say.
constexpr size_t kMaxHeld = 4096;

bool ReplaceExtradata(AVCodecParameters* par, const std::vector<uint8_t>& bytes) {
  uint8_t* copy = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!copy) return false;
  memcpy(copy, bytes.data(), bytes.size());
  av_freep(&par->extradata);
  par->extradata = copy;
  par->extradata_size = static_cast<int>(bytes.size());
  return true;
}

// Object type, rate index and channel configuration of an AudioSpecificConfig.
bool AscFields(const std::vector<uint8_t>& asc, int* fields) {
  if (asc.size() < 2) return false;
  int objectType = asc[0] >> 3;
  if (objectType == 31) return false;  // escaped types are not compared roughly
  fields[0] = objectType;
  fields[1] = ((asc[0] & 0x07) << 1) | (asc[1] >> 7);
  fields[2] = (asc[1] >> 3) & 0x0F;
  return true;
}

}  // namespace

RecordConfigWatch::RecordConfigWatch() = default;

RecordConfigWatch::~RecordConfigWatch() {
  for (IoBuffer* p : held) delete p;
}

void RecordConfigWatch::Opened(const AVCodecParameters* video, const AVCodecParameters* audio) {
  fileHasVideo = video != nullptr;
  fileHasAudio = audio != nullptr;
  fileVideo = H264ParameterSets();
  fileAudio.clear();
  if (video && video->codec_id == AV_CODEC_ID_H264 && video->extradata_size > 0)
    FindH264ParameterSets(video->extradata, video->extradata_size, &fileVideo);
  if (audio && audio->codec_id == AV_CODEC_ID_AAC && audio->extradata_size > 0)
    fileAudio.assign(audio->extradata, audio->extradata + audio->extradata_size);
}

std::vector<uint8_t> RecordConfigWatch::AudioConfigOf(const IoBuffer& packet, bool* adts) {
  *adts = false;
  if (packet.GetCodecId() != AV_CODEC_ID_AAC) return {};
  if (packet.GetExtraDataSize() > 0)
    return std::vector<uint8_t>(packet.GetExtraData(), packet.GetExtraData() + packet.GetExtraDataSize());
  const uint8_t* d = packet.GetData();
  if (packet.GetSize() < 7 || d[0] != 0xFF || (d[1] & 0xF0) != 0xF0) return {};
  *adts = true;
  int objectType = ((d[2] >> 6) & 0x3) + 1;
  int index = (d[2] >> 2) & 0xF;
  int channels = ((d[2] & 0x1) << 2) | (d[3] >> 6);
  return {static_cast<uint8_t>((objectType << 3) | (index >> 1)),
          static_cast<uint8_t>(((index & 1) << 7) | (channels << 3))};
}

bool RecordConfigWatch::SameAudio(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, bool roughly) {
  if (!roughly) return a == b;
  // An ADTS header tells only the type, the rate and the channels.
  int fa[3], fb[3];
  if (!AscFields(a, fa) || !AscFields(b, fb)) return true;
  return fa[0] == fb[0] && fa[1] == fb[1] && fa[2] == fb[2];
}

RecordConfigWatch::Verdict RecordConfigWatch::Take(const IoBuffer& packet) {
  const int type = packet.GetType();
  bool changed = false;
  if (type == 1 && packet.GetCodecId() == AV_CODEC_ID_H264 && (packet.GetFlags() & kKeyFlag)) {
    H264ParameterSets sets;
    if (FindH264ParameterSets(packet.GetData(), packet.GetSize(), &sets) && sets.Complete()) {
      if (sets != streamVideo) {
        streamVideo = sets;
        streamVideoInfo = VideoInfo();
        H264StreamInfo(packet.GetData(), packet.GetSize(), &streamVideoInfo.width, &streamVideoInfo.height,
                       &streamVideoInfo.profile, &streamVideoInfo.level);
      }
      // A file whose extradata told nothing readable is taken to carry what
      // its first key frame does.
      if (!fileVideo.Complete()) fileVideo = sets;
      changed = fileHasVideo && sets != fileVideo;
    }
    keySeen = true;
  } else if (type == 2) {
    bool adts = false;
    std::vector<uint8_t> config = AudioConfigOf(packet, &adts);
    if (!config.empty()) {
      streamAudio = config;
      streamAudioAdts = adts;
      if (fileAudio.empty()) fileAudio = config;
      changed = fileHasAudio && !SameAudio(config, fileAudio, adts);
    }
    audioSeen = true;
  }
  if (!holding) {
    if (!changed) return kWrite;
    holding = true;
    holdStart = packet.GetTimestamp();
    keySeen = type == 1 && (packet.GetFlags() & kKeyFlag);
    audioSeen = type == 2;
  }
  held.push_back(CloneIoBuffer(&packet));
  bool settled = (!fileHasVideo || keySeen) && (!fileHasAudio || audioSeen);
  bool overdue = packet.GetTimestamp() - holdStart >= kHoldMs || packet.GetTimestamp() < holdStart ||
                 held.size() >= kMaxHeld;
  return settled || overdue ? kCut : kHeld;
}

bool RecordConfigWatch::Fits(const IoBuffer& packet) const {
  if (packet.GetType() == 1 && (packet.GetFlags() & kKeyFlag)) {
    H264ParameterSets sets;
    if (nextVideo.Complete() && FindH264ParameterSets(packet.GetData(), packet.GetSize(), &sets) &&
        sets.Complete())
      return sets == nextVideo;
  } else if (packet.GetType() == 2) {
    bool adts = false;
    std::vector<uint8_t> config = AudioConfigOf(packet, &adts);
    if (!config.empty() && !nextAudio.empty()) return SameAudio(config, nextAudio, adts);
  }
  return true;
}

std::vector<IoBuffer*> RecordConfigWatch::Release() {
  // The next file takes what the stream carries now.
  if (streamVideo.Complete()) {
    nextVideo = streamVideo;
    nextVideoInfo = streamVideoInfo;
  }
  if (!streamAudio.empty() && !SameAudio(streamAudio, fileAudio, streamAudioAdts)) nextAudio = streamAudio;
  std::vector<IoBuffer*> out;
  for (IoBuffer* p : held) {
    // What still belongs to the configuration before the change (held
    // while the other medium had not shown its new one yet) fits neither
    // file: it is dropped.
    if (Fits(*p)) {
      out.push_back(p);
    } else {
      delete p;
    }
  }
  held.clear();
  holding = false;
  return out;
}

void RecordConfigWatch::Apply(AVCodecParameters* video, AVCodecParameters* audio) const {
  if (video && video->codec_id == AV_CODEC_ID_H264 && nextVideo.Complete()) {
    H264ParameterSets current;
    FindH264ParameterSets(video->extradata, video->extradata_size, &current);
    if (current != nextVideo && ReplaceExtradata(video, AnnexBExtradata(nextVideo))) {
      if (nextVideoInfo.width > 0 && nextVideoInfo.height > 0) {
        video->width = nextVideoInfo.width;
        video->height = nextVideoInfo.height;
      }
      if (nextVideoInfo.profile != -99) video->profile = nextVideoInfo.profile;
      if (nextVideoInfo.level != -99) video->level = nextVideoInfo.level;
    }
  }
  if (audio && audio->codec_id == AV_CODEC_ID_AAC && !nextAudio.empty()) {
    bool same = audio->extradata_size == static_cast<int>(nextAudio.size()) &&
                memcmp(audio->extradata, nextAudio.data(), nextAudio.size()) == 0;
    if (!same && ReplaceExtradata(audio, nextAudio)) {
      int rate = 0, channels = 0;
      if (ReadAudioSpecificConfig(nextAudio.data(), static_cast<int>(nextAudio.size()), &rate, &channels)) {
        audio->sample_rate = rate;
        if (channels > 0 && channels != audio->ch_layout.nb_channels) {
          av_channel_layout_uninit(&audio->ch_layout);
          av_channel_layout_default(&audio->ch_layout, channels);
        }
      }
    }
  }
}
