#pragma once
// Reading packets out of ffmpeg-made files and writing encoded streams into a
// file ffprobe can judge, for the codec and transcoding tests. Header-only.
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vvtest {

struct DemuxedStream {
  AVCodecParameters* par = nullptr;
  AVRational timeBase{1, 1000};
  std::vector<AVPacket*> packets;
};

// Every packet of the first video and first audio stream of a file.
struct Demuxed {
  DemuxedStream video, audio;
  bool ok = false;
  explicit Demuxed(const std::string& path) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return;
    avformat_find_stream_info(fmt, nullptr);
    int vi = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    int ai = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    for (int i : {vi, ai}) {
      if (i < 0) continue;
      DemuxedStream& s = i == vi ? video : audio;
      s.par = avcodec_parameters_alloc();
      avcodec_parameters_copy(s.par, fmt->streams[i]->codecpar);
      s.timeBase = fmt->streams[i]->time_base;
    }
    AVPacket* p = av_packet_alloc();
    while (av_read_frame(fmt, p) >= 0) {
      if (p->stream_index == vi || p->stream_index == ai) {
        (p->stream_index == vi ? video : audio).packets.push_back(av_packet_clone(p));
      }
      av_packet_unref(p);
    }
    av_packet_free(&p);
    avformat_close_input(&fmt);
    ok = true;
  }
  ~Demuxed() {
    for (DemuxedStream* s : {&video, &audio}) {
      for (AVPacket* p : s->packets) av_packet_free(&p);
      avcodec_parameters_free(&s->par);
    }
  }
  Demuxed(const Demuxed&) = delete;
  Demuxed& operator=(const Demuxed&) = delete;
};

// Writes encoded packets into a container chosen by the file name.
class MuxFile {
 public:
  explicit MuxFile(const std::string& path) { avformat_alloc_output_context2(&fmt, nullptr, nullptr, path.c_str()); name = path; }
  ~MuxFile() { Finish(); }
  MuxFile(const MuxFile&) = delete;
  MuxFile& operator=(const MuxFile&) = delete;
  // Returns the stream index; the context gives codec, size and extradata.
  int AddStream(const AVCodecContext* ctx, AVRational tb) {
    AVStream* s = avformat_new_stream(fmt, nullptr);
    avcodec_parameters_from_context(s->codecpar, ctx);
    s->time_base = tb;
    tbs.push_back(tb);
    return s->index;
  }
  bool Begin() {
    if (!(fmt->oformat->flags & AVFMT_NOFILE) && avio_open(&fmt->pb, name.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    return avformat_write_header(fmt, nullptr) >= 0 && (started = true);
  }
  bool Write(int stream, const uint8_t* data, int size, int64_t pts, int64_t dts, bool key, AVRational tb) {
    AVPacket* p = av_packet_alloc();
    av_new_packet(p, size);
    memcpy(p->data, data, size);
    p->stream_index = stream;
    p->pts = av_rescale_q(pts, tb, fmt->streams[stream]->time_base);
    p->dts = av_rescale_q(dts, tb, fmt->streams[stream]->time_base);
    if (key) p->flags |= AV_PKT_FLAG_KEY;
    int r = av_interleaved_write_frame(fmt, p);
    av_packet_free(&p);
    return r >= 0;
  }
  void Finish() {
    if (!fmt) return;
    if (started) av_write_trailer(fmt);
    if (!(fmt->oformat->flags & AVFMT_NOFILE)) avio_closep(&fmt->pb);
    avformat_free_context(fmt);
    fmt = nullptr;
  }

 private:
  AVFormatContext* fmt = nullptr;
  std::string name;
  std::vector<AVRational> tbs;
  bool started = false;
};

}  // namespace vvtest
