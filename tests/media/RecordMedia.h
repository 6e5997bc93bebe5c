#pragma once
// Test media for the recording and relay tests: an H.264 + AAC file made by
// ffmpeg from lavfi, read back as the packets a live source hands on.
// Header-only so it links with the media suite alone.
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include "core/IoBuffer.h"
#include "tests/tools/TestUtil.h"

namespace vvtest {

struct SourceMedia {
  std::vector<std::unique_ptr<IoBuffer>> packets;  // raw packets, types 1 and 2, in file order
  AVCodecParameters* video = nullptr;              // Annex B extradata, as after h264_mp4toannexb
  AVCodecParameters* audio = nullptr;              // AAC with its AudioSpecificConfig
  AVRational videoTimeBase{1, 1};
  AVRational audioTimeBase{1, 1};
  double seconds = 0;
  SourceMedia() = default;
  SourceMedia(const SourceMedia&) = delete;
  SourceMedia& operator=(const SourceMedia&) = delete;
  ~SourceMedia() {
    avcodec_parameters_free(&video);
    avcodec_parameters_free(&audio);
  }
};

inline bool LoadSourceMedia(const std::string& src, SourceMedia& out);

// Makes <dir>/src.mp4 (seconds long, 320x240 25 fps testsrc, 44.1 kHz sine,
// or the size and rate given) and loads it; false when ffmpeg or the demuxer
// fails.
inline bool MakeSourceMedia(const std::string& dir, double seconds, SourceMedia& out,
                            const std::string& size = "320x240", int sampleRate = 44100) {
  std::string src = dir + "/src.mp4";
  std::ostringstream cmd;
  cmd << "ffmpeg -nostdin -y -v error -f lavfi -i testsrc=size=" << size << ":rate=25 -f lavfi -i "
      << "sine=frequency=440:sample_rate=" << sampleRate << " -t " << seconds
      << " -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 64k " << ShellQuote(src);
  if (Run(cmd.str(), true).status != 0) return false;
  return LoadSourceMedia(src, out);
}

// Loads an H.264 + AAC file (as MakeSourceMedia makes it) into out.
inline bool LoadSourceMedia(const std::string& src, SourceMedia& out) {
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, src.c_str(), nullptr, nullptr) < 0) return false;
  bool ok = avformat_find_stream_info(fmt, nullptr) >= 0;
  int vi = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  int ai = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  AVBSFContext* bsf = nullptr;
  const AVBitStreamFilter* filter = av_bsf_get_by_name("h264_mp4toannexb");
  ok = ok && vi >= 0 && ai >= 0 && filter && av_bsf_alloc(filter, &bsf) >= 0;
  if (ok) {
    avcodec_parameters_copy(bsf->par_in, fmt->streams[vi]->codecpar);
    bsf->time_base_in = fmt->streams[vi]->time_base;
    ok = av_bsf_init(bsf) >= 0;
  }
  if (ok) {
    out.video = avcodec_parameters_alloc();
    out.audio = avcodec_parameters_alloc();
    avcodec_parameters_copy(out.video, bsf->par_out);
    avcodec_parameters_copy(out.audio, fmt->streams[ai]->codecpar);
    out.videoTimeBase = fmt->streams[vi]->time_base;
    out.audioTimeBase = fmt->streams[ai]->time_base;
    out.seconds = fmt->duration / double(AV_TIME_BASE);
    AVPacket* pkt = av_packet_alloc();
    auto add = [&](AVPacket* p, int type, AVRational tb, int codec) {
      auto b = std::make_unique<IoBuffer>(p->size + 16);
      b->Write(p->data, p->size);
      b->SetType(type);
      b->SetCodecId(codec);
      b->SetPts(p->pts);
      b->SetDts(p->dts == AV_NOPTS_VALUE ? p->pts : p->dts);
      b->SetFlags(p->flags);
      b->SetDuration(static_cast<int>(p->duration));
      b->SetStreamIndex(p->stream_index);
      b->SetTimestamp(av_rescale_q(b->GetDts(), tb, AVRational{1, 1000}));
      out.packets.push_back(std::move(b));
    };
    while (av_read_frame(fmt, pkt) >= 0) {
      if (pkt->stream_index == ai) {
        add(pkt, 2, out.audioTimeBase, AV_CODEC_ID_AAC);
        out.packets.back()->SetSampleRate(out.audio->sample_rate);
        out.packets.back()->SetChannels(out.audio->ch_layout.nb_channels);
        out.packets.back()->SetExtraData(out.audio->extradata, out.audio->extradata_size);
      } else if (pkt->stream_index == vi && av_bsf_send_packet(bsf, pkt) >= 0) {
        while (av_bsf_receive_packet(bsf, pkt) >= 0) {
          add(pkt, 1, out.videoTimeBase, AV_CODEC_ID_H264);
          av_packet_unref(pkt);
        }
      }
      av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
  }
  av_bsf_free(&bsf);
  avformat_close_input(&fmt);
  return ok && !out.packets.empty();
}

// A codec context filled from parameters (the form outputs are handed).
inline AVCodecContext* ContextFromParameters(const AVCodecParameters* par) {
  AVCodecContext* c = avcodec_alloc_context3(nullptr);
  if (c && avcodec_parameters_to_context(c, par) < 0) avcodec_free_context(&c);
  return c;
}

// Prepends a 7-byte ADTS header (no CRC) built from the AAC parameters.
inline std::unique_ptr<IoBuffer> WithAdts(const IoBuffer& packet, const AVCodecParameters* aac) {
  static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
  int sr = 4;
  for (int i = 0; i < 13; ++i)
    if (rates[i] == aac->sample_rate) sr = i;
  int ch = aac->ch_layout.nb_channels;
  int len = packet.GetSize() + 7;
  uint8_t h[7] = {0xFF, 0xF1, static_cast<uint8_t>((1 << 6) | (sr << 2) | (ch >> 2)),
                  static_cast<uint8_t>(((ch & 3) << 6) | (len >> 11)), static_cast<uint8_t>((len >> 3) & 0xFF),
                  static_cast<uint8_t>(((len & 7) << 5) | 0x1F), 0xFC};
  auto b = std::make_unique<IoBuffer>(len + 16);
  b->Write(h, 7);
  b->Write(packet.GetData(), packet.GetSize());
  b->SetType(packet.GetType());
  b->SetCodecId(packet.GetCodecId());
  b->SetPts(packet.GetPts());
  b->SetDts(packet.GetDts());
  b->SetFlags(packet.GetFlags());
  b->SetDuration(packet.GetDuration());
  b->SetTimestamp(packet.GetTimestamp());
  return b;
}

struct ProbeResult {
  bool ok = false;
  std::string videoCodec, audioCodec;
  double duration = -1;
  std::string decodeErrors;  // what "ffmpeg -v error" says while decoding all of it
};
inline ProbeResult ProbeMedia(const std::string& path) {
  ProbeResult r;
  CommandResult p = Run("ffprobe -v error -show_entries stream=codec_type,codec_name:format=duration -of "
                        "default=nw=1 " + ShellQuote(path));
  if (p.status != 0) return r;
  std::istringstream in(p.output);
  std::string line, name;
  while (std::getline(in, line)) {
    if (line.rfind("codec_name=", 0) == 0) name = line.substr(11);
    if (line == "codec_type=video") r.videoCodec = name;
    if (line == "codec_type=audio") r.audioCodec = name;
    if (line.rfind("duration=", 0) == 0 && line != "duration=N/A") r.duration = std::atof(line.c_str() + 9);
  }
  r.decodeErrors = Run("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -f null - 2>&1").output;
  r.ok = true;
  return r;
}

// The box layout of an MP4 file as far as the tests look at it.
struct Mp4Layout {
  bool read = false;
  std::vector<std::string> top;  // top-level box types in file order
  bool hasMoof = false;          // fragments (moof at the top level)
  bool hasMvex = false;          // moov announces fragments
  long sampleTableEntries = 0;   // samples counted in the moov's stsz boxes
};

inline Mp4Layout ReadMp4Layout(const std::string& path) {
  Mp4Layout layout;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return layout;
  auto u32 = [](const unsigned char* b) {
    return (uint64_t(b[0]) << 24) | (uint64_t(b[1]) << 16) | (uint64_t(b[2]) << 8) | uint64_t(b[3]);
  };
  // Walks the boxes in [begin, end); containers of the sample tables are
  // entered, each stsz adds its sample count.
  std::function<bool(uint64_t, uint64_t, int)> walk = [&](uint64_t begin, uint64_t end, int depth) {
    uint64_t pos = begin;
    while (pos + 8 <= end) {
      unsigned char h[16];
      if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0 || fread(h, 1, 8, f) != 8) return false;
      uint64_t size = u32(h);
      std::string type(reinterpret_cast<char*>(h) + 4, 4);
      uint64_t header = 8;
      if (size == 1) {
        if (fread(h + 8, 1, 8, f) != 8) return false;
        size = (u32(h + 8) << 32) | u32(h + 12);
        header = 16;
      } else if (size == 0) {
        size = end - pos;
      }
      if (size < header || pos + size > end) return false;
      if (depth == 0) layout.top.push_back(type);
      if (type == "moof") layout.hasMoof = true;
      if (type == "mvex") layout.hasMvex = true;
      if (type == "moov" || type == "trak" || type == "mdia" || type == "minf" || type == "stbl") {
        if (!walk(pos + header, pos + size, depth + 1)) return false;
      } else if (type == "stsz") {
        unsigned char b[12];
        if (fread(b, 1, 12, f) != 12) return false;
        layout.sampleTableEntries += static_cast<long>(u32(b + 8));
      }
      pos += size;
    }
    return true;
  };
  fseeko(f, 0, SEEK_END);
  uint64_t total = static_cast<uint64_t>(ftello(f));
  layout.read = walk(0, total, 0);
  fclose(f);
  return layout;
}

}  // namespace vvtest
