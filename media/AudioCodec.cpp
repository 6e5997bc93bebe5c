#include "media/AudioCodec.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "core/Log.h"
#include "media/CodecContextUtil.h"

namespace {

// A layout of n channels: the mask when it names exactly n, else the default.
void MakeLayout(AVChannelLayout* out, uint64_t mask, int n) {
  av_channel_layout_uninit(out);
  if (mask && av_popcount64(mask) == n && av_channel_layout_from_mask(out, mask) == 0) return;
  av_channel_layout_default(out, n > 0 ? n : 2);
}

uint64_t LayoutMask(const AVChannelLayout& l) {
  return l.order == AV_CHANNEL_ORDER_NATIVE ? l.u.mask : 0;
}

// Builds or rebuilds a resampler when the input description changed.
bool EnsureResampler(SwrContext*& swr, int& curRate, int& curFmt, uint64_t& curMask, int& curCh, int inRate,
                     int inFmt, uint64_t inMask, int inCh, const AVChannelLayout& outLayout, int outFmt,
                     int outRate) {
  if (swr && curRate == inRate && curFmt == inFmt && curMask == inMask && curCh == inCh) return true;
  swr_free(&swr);
  AVChannelLayout inLayout{};
  MakeLayout(&inLayout, inMask, inCh);
  int r = swr_alloc_set_opts2(&swr, const_cast<AVChannelLayout*>(&outLayout), static_cast<AVSampleFormat>(outFmt), outRate, &inLayout,
                              static_cast<AVSampleFormat>(inFmt), inRate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  if (r < 0 || !swr || swr_init(swr) < 0) {
    swr_free(&swr);
    return false;
  }
  curRate = inRate;
  curFmt = inFmt;
  curMask = inMask;
  curCh = inCh;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- decoder

AudioDecoder::AudioDecoder(int id) : liveId(id) {}

AudioDecoder::~AudioDecoder() {
  Close();
  avcodec_free_context(&copied);
}

void AudioDecoder::SetExtraData(const uint8_t* bytes, int n) {
  extra.clear();
  if (bytes && n > 0) extra.assign(bytes, bytes + n);
}

bool AudioDecoder::SetCodecContext(const AVCodecContext* src) {
  if (!src || !ReplaceCodecCopy(copied, src)) return false;
  codecId = copied->codec_id;
  return true;
}

bool AudioDecoder::SetCodecParameters(const AVCodecParameters* par) {
  if (!par || !ReplaceCodecCopy(copied, par)) return false;
  codecId = par->codec_id;
  return true;
}

bool AudioDecoder::Open() {
  if (ctx) return true;
  const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(copied ? copied->codec_id : codecId));
  if (!codec) {
    LogError("没有找到合适的音频解码器!");
    return false;
  }
  ctx = avcodec_alloc_context3(codec);
  if (!ctx) return false;
  bool ok = true;
  if (copied) {
    ok = CopyCodecSettings(ctx, copied);
  } else {
    ctx->codec_id = codec->id;
    ctx->sample_fmt = static_cast<AVSampleFormat>(sampleFormat);
    ctx->sample_rate = sampleRate;
    MakeLayout(&ctx->ch_layout, channelLayout, channels);
    ctx->time_base = AVRational{1, sampleRate > 0 ? sampleRate : 44100};
    ctx->frame_size = 1024;
    if (!extra.empty()) SetContextExtraData(ctx, extra.data(), extra.size());
  }
  if (ctx->frame_size == 0) ctx->frame_size = 1024;
  ctx->error_concealment = 3;
  ctx->thread_count = 1;
  ctx->flags2 |= AV_CODEC_FLAG2_FAST;
  if (!ok || avcodec_open2(ctx, codec, nullptr) < 0) {
    LogError("音频解码器打开失败！");
    avcodec_free_context(&ctx);
    return false;
  }
  frame = av_frame_alloc();
  packet = av_packet_alloc();
  output = new IoBuffer(8192);
  if (!frame || !packet) {
    Close();
    return false;
  }
  return true;
}

bool AudioDecoder::Resample(const AVFrame* f) {
  int inCh = f->ch_layout.nb_channels > 0 ? f->ch_layout.nb_channels : ctx->ch_layout.nb_channels;
  uint64_t inMask = f->ch_layout.nb_channels > 0 ? LayoutMask(f->ch_layout) : LayoutMask(ctx->ch_layout);
  int inRate = f->sample_rate > 0 ? f->sample_rate : ctx->sample_rate;
  if (inCh <= 0) {
    fprintf(stdout, "src_ch_layout error \n");
    return false;
  }
  if (f->nb_samples <= 0) {
    fprintf(stdout, "src_nb_samples error \n");
    return false;
  }
  if (inRate <= 0 || outSampleRate <= 0 || outChannels <= 0) return false;
  AVChannelLayout outLayout{};
  av_channel_layout_default(&outLayout, outChannels);
  bool ok = EnsureResampler(swr, swrInRate, swrInFormat, swrInLayout, swrInChannels, inRate, f->format, inMask,
                            inCh, outLayout, outSampleFormat, outSampleRate);
  av_channel_layout_uninit(&outLayout);
  if (!ok) {
    fprintf(stdout, "swr_ctx null error \n");
    return false;
  }
  int cap = swr_get_out_samples(swr, f->nb_samples);
  if (cap < 0) {
    fprintf(stdout, "av_rescale_rnd error \n");
    return false;
  }
  if (cap == 0) return true;
  int bytes = av_samples_get_buffer_size(nullptr, outChannels, cap, static_cast<AVSampleFormat>(outSampleFormat), 1);
  if (bytes <= 0) {
    fprintf(stdout, "av_samples_get_buffer_size error \n");
    return false;
  }
  std::vector<uint8_t> buf(bytes);
  uint8_t* planes[1] = {buf.data()};
  int n = swr_convert(swr, planes, cap, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
  if (n < 0) {
    fprintf(stdout, "swr_convert error \n");
    return false;
  }
  int used = av_samples_get_buffer_size(nullptr, outChannels, n, static_cast<AVSampleFormat>(outSampleFormat), 1);
  if (used > 0) output->Write(buf.data(), used);
  outputSamples += n;
  return true;
}

bool AudioDecoder::SendAndCollect(AVPacket* pkt) {
  int r = avcodec_send_packet(ctx, pkt);
  if (r < 0 && r != AVERROR_EOF) return false;
  while (avcodec_receive_frame(ctx, frame) >= 0) {
    Resample(frame);
    gotFrame = true;
  }
  return true;
}

AVFrame* AudioDecoder::Decode(const IoBuffer* in) {
  if (!in) return nullptr;
  const auto& config = in->GetExtraDataShared();
  bool changed = config && packetConfig && config != packetConfig && *config != *packetConfig;
  if (config) packetConfig = config;
  return Decode(in->GetData(), in->GetSize(), in->GetPts(), changed ? config.get() : nullptr);
}

AVFrame* AudioDecoder::Decode(const uint8_t* bytes, int size, int64_t pts) {
  return Decode(bytes, size, pts, nullptr);
}

AVFrame* AudioDecoder::Decode(const uint8_t* bytes, int size, int64_t pts, const std::vector<uint8_t>* newConfig) {
  if (!ctx || !bytes || size <= 0) return nullptr;
  output->Clear();
  outputSamples = 0;
  gotFrame = false;
  av_packet_unref(packet);
  if (av_new_packet(packet, size) < 0) return nullptr;
  memcpy(packet->data, bytes, size);
  packet->pts = pts;
  if (newConfig && !newConfig->empty()) {
    uint8_t* side = av_packet_new_side_data(packet, AV_PKT_DATA_NEW_EXTRADATA, newConfig->size());
    if (side) memcpy(side, newConfig->data(), newConfig->size());
  }
  bool ok = SendAndCollect(packet);
  av_packet_unref(packet);
  if (!ok || !gotFrame || output->GetSize() == 0) return nullptr;
  return frame;
}

int AudioDecoder::Flush() {
  if (!ctx) return 0;
  output->Clear();
  outputSamples = 0;
  SendAndCollect(nullptr);
  if (swr) {
    int cap = swr_get_out_samples(swr, 0);
    if (cap > 0) {
      int bytes =
          av_samples_get_buffer_size(nullptr, outChannels, cap, static_cast<AVSampleFormat>(outSampleFormat), 1);
      if (bytes > 0) {
        std::vector<uint8_t> buf(bytes);
        uint8_t* planes[1] = {buf.data()};
        int n = swr_convert(swr, planes, cap, nullptr, 0);
        if (n > 0) {
          output->Write(buf.data(),
                        av_samples_get_buffer_size(nullptr, outChannels, n,
                                                   static_cast<AVSampleFormat>(outSampleFormat), 1));
          outputSamples += n;
        }
      }
    }
    swr_free(&swr);
  }
  avcodec_flush_buffers(ctx);
  return output->GetSize();
}

void AudioDecoder::Close() {
  if (ctx) avcodec_flush_buffers(ctx);
  avcodec_free_context(&ctx);
  av_frame_free(&frame);
  av_packet_free(&packet);
  swr_free(&swr);
  delete output;
  output = nullptr;
  outputSamples = 0;
}

// ---------------------------------------------------------------- encoder

AudioEncoder::AudioEncoder(int id) : liveId(id) {}

AudioEncoder::~AudioEncoder() { Close(); }

bool AudioEncoder::Open() {
  if (ctx) return true;
  const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(codecId));
  if (!codec) {
    LogError("open audio encoder error because can't find audio encoder %d", liveId);
    return false;
  }
  if (sampleRate <= 0 || channels <= 0 || channels > 8 || bitRate < 0) {
    LogError("open audio encoder error %d", liveId);
    return false;
  }
  ctx = avcodec_alloc_context3(codec);
  if (!ctx) return false;
  ctx->codec_id = codec->id;
  // The encoder takes exactly one of its own formats (native AAC: planar
  // float); the PCM handed in is converted to it.
  ctx->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : static_cast<AVSampleFormat>(inSampleFormat);
  ctx->sample_rate = sampleRate;
  MakeLayout(&ctx->ch_layout, channelLayout, channels);
  ctx->bit_rate = bitRate;
  ctx->time_base = AVRational{1, sampleRate};
  ctx->frame_size = 1024;
  if (avcodec_open2(ctx, codec, nullptr) < 0) {
    LogError("open audio encoder error %d", liveId);
    avcodec_free_context(&ctx);
    return false;
  }
  frameSize = ctx->frame_size > 0 ? ctx->frame_size : 1024;
  frame = av_frame_alloc();
  packet = av_packet_alloc();
  pending = av_audio_fifo_alloc(ctx->sample_fmt, ctx->ch_layout.nb_channels, frameSize * 2);
  if (!frame || !packet || !pending) {
    Close();
    return false;
  }
  frame->format = ctx->sample_fmt;
  frame->nb_samples = frameSize;
  frame->sample_rate = ctx->sample_rate;
  av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
  if (av_frame_get_buffer(frame, 0) < 0) {
    Close();
    return false;
  }
  queue = new PacketQueue();
  config = new IoBuffer(16);
  if (ctx->extradata && ctx->extradata_size > 0) {
    config->Write(ctx->extradata, ctx->extradata_size);
  } else if (codecId == AV_CODEC_ID_AAC) {
    static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
    int index = 4;
    for (int i = 0; i < 13; ++i)
      if (rates[i] == sampleRate) index = i;
    config->WriteUInt8(static_cast<uint8_t>((2 << 3) | (index >> 1)));
    config->WriteUInt8(static_cast<uint8_t>(((index & 1) << 7) | ((ctx->ch_layout.nb_channels & 0x0f) << 3)));
  }
  nextPts = 0;
  LogInfo("open audio encoder success %d", liveId);
  return true;
}

bool AudioEncoder::Convert(const uint8_t* pcm, int bytes, int inRate, int inFormat, uint64_t inMask, int inCh) {
  AVSampleFormat packed = av_get_packed_sample_fmt(static_cast<AVSampleFormat>(inFormat));
  int bps = av_get_bytes_per_sample(packed);
  if (bps <= 0 || inCh <= 0 || inRate <= 0) return false;
  int inSamples = bytes / (bps * inCh);
  if (inSamples <= 0) return true;
  if (!EnsureResampler(swr, swrInRate, swrInFormat, swrInLayout, swrInChannels, inRate, packed, inMask, inCh,
                       ctx->ch_layout, ctx->sample_fmt, ctx->sample_rate))
    return false;
  int cap = swr_get_out_samples(swr, inSamples);
  if (cap <= 0) return true;
  uint8_t** planes = nullptr;
  if (av_samples_alloc_array_and_samples(&planes, nullptr, ctx->ch_layout.nb_channels, cap, ctx->sample_fmt, 0) <
      0)
    return false;
  const uint8_t* in[1] = {pcm};
  int n = swr_convert(swr, planes, cap, in, inSamples);
  bool ok = n >= 0 && (n == 0 || av_audio_fifo_write(pending, reinterpret_cast<void**>(planes), n) == n);
  av_freep(&planes[0]);
  av_freep(&planes);
  return ok;
}

bool AudioEncoder::SendFrame(AVFrame* f) {
  int r = avcodec_send_frame(ctx, f);
  if (r < 0 && r != AVERROR_EOF) return false;
  while ((r = avcodec_receive_packet(ctx, packet)) >= 0) {
    IoBuffer* out = new IoBuffer(packet->size + 16);
    out->Write(packet->data, packet->size);
    out->SetFlags(packet->flags & AV_PKT_FLAG_KEY);
    out->SetType(2);
    out->SetCodecId(codecId);
    out->SetSampleRate(ctx->sample_rate);
    out->SetChannels(ctx->ch_layout.nb_channels);
    out->SetPts(packet->pts);
    out->SetDts(packet->dts);
    out->SetDuration(static_cast<int>(packet->duration));
    out->SetTimestamp(packet->pts == AV_NOPTS_VALUE ? 0 : packet->pts * 1000 / ctx->sample_rate);
    if (config && config->GetSize() > 0) out->SetExtraData(config->GetData(), config->GetSize());
    queue->Push(out);
    av_packet_unref(packet);
  }
  return r == AVERROR(EAGAIN) || r == AVERROR_EOF;
}

bool AudioEncoder::EncodePending(bool final) {
  while (av_audio_fifo_size(pending) >= frameSize || (final && av_audio_fifo_size(pending) > 0)) {
    int n = av_audio_fifo_size(pending);
    if (n > frameSize) n = frameSize;
    if (av_frame_make_writable(frame) < 0) return false;
    frame->nb_samples = n;
    if (av_audio_fifo_read(pending, reinterpret_cast<void**>(frame->data), n) != n) return false;
    frame->pts = nextPts;
    nextPts += n;
    if (!SendFrame(frame)) return false;
  }
  return true;
}

// Each call hands over only what it encoded itself: packets the owner left
// in the queue since the last call are dropped.
void AudioEncoder::DropQueued() {
  while (IoBuffer* p = queue->Pop()) delete p;
}

bool AudioEncoder::Encode(const AVFrame* f) {
  if (!ctx || !f || !f->data[0]) return false;
  int inRate = f->sample_rate > 0 ? f->sample_rate : (inSampleRate > 0 ? inSampleRate : sampleRate);
  int inCh = f->ch_layout.nb_channels > 0 ? f->ch_layout.nb_channels
                                          : (inChannels > 0 ? inChannels : ctx->ch_layout.nb_channels);
  uint64_t inMask = f->ch_layout.nb_channels > 0 ? LayoutMask(f->ch_layout) : 0;
  int inFmt = f->format >= 0 ? f->format : inSampleFormat;
  DropQueued();
  if (!Convert(f->data[0], f->linesize[0], inRate, inFmt, inMask, inCh) || !EncodePending(false)) {
    av_audio_fifo_reset(pending);
    LogError("音频编码错误！");
    return false;
  }
  return queue->Size() > 0;
}

bool AudioEncoder::Encode(const uint8_t* pcm, int bytes) {
  if (!ctx || !pcm || bytes <= 0) return false;
  int inRate = inSampleRate > 0 ? inSampleRate : sampleRate;
  int inCh = inChannels > 0 ? inChannels : ctx->ch_layout.nb_channels;
  DropQueued();
  if (!Convert(pcm, bytes, inRate, inSampleFormat, 0, inCh) || !EncodePending(false)) {
    av_audio_fifo_reset(pending);
    LogError("音频编码错误！");
    return false;
  }
  return queue->Size() > 0;
}

bool AudioEncoder::Flush() {
  if (!ctx) return false;
  if (swr) {
    // Samples still inside the resampler.
    int cap = swr_get_out_samples(swr, 0);
    if (cap > 0) {
      uint8_t** planes = nullptr;
      if (av_samples_alloc_array_and_samples(&planes, nullptr, ctx->ch_layout.nb_channels, cap, ctx->sample_fmt,
                                             0) >= 0) {
        int n = swr_convert(swr, planes, cap, nullptr, 0);
        if (n > 0) av_audio_fifo_write(pending, reinterpret_cast<void**>(planes), n);
        av_freep(&planes[0]);
        av_freep(&planes);
      }
    }
  }
  bool ok = EncodePending(true) && SendFrame(nullptr);
  return ok && queue->Size() > 0;
}

int AudioEncoder::ParseAdtsHeader(const uint8_t* b, int n, uint8_t config[2]) {
  if (!b || n < 7 || b[0] != 0xFF || (b[1] & 0xF0) != 0xF0) return 0;
  static const int rates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                16000, 12000, 11025, 8000,  7350,  0,     0,     0};
  int protectionAbsent = b[1] & 1;
  int headerLen = protectionAbsent ? 7 : 9;
  int profile = b[2] >> 6;
  int index = (b[2] >> 2) & 15;
  int channelConfig = ((b[2] & 1) << 2) | (b[3] >> 6);
  int frameLength = ((b[3] & 3) << 11) | (b[4] << 3) | (b[5] >> 5);
  if (rates[index] == 0 || channelConfig == 0 || frameLength <= headerLen) return 0;
  if (b[6] & 3) {
    fprintf(stdout, "Multiple blocks per frame in ADTS not supported\n");
    return 0;
  }
  if (config) {
    config[0] = static_cast<uint8_t>(((profile + 1) << 3) | (index >> 1));
    config[1] = static_cast<uint8_t>(((index & 1) << 7) | (channelConfig << 3));
  }
  return frameLength - headerLen;
}

void AudioEncoder::Close() {
  bool wasOpen = ctx != nullptr;
  avcodec_free_context(&ctx);
  av_frame_free(&frame);
  av_packet_free(&packet);
  swr_free(&swr);
  if (pending) av_audio_fifo_free(pending);
  pending = nullptr;
  delete queue;
  queue = nullptr;
  delete config;
  config = nullptr;
  if (wasOpen) LogInfo("close audio encoder %d", liveId);
}
