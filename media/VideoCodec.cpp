#include "media/VideoCodec.h"

#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "core/Log.h"
#include "media/CodecContextUtil.h"

namespace {
// Guards the extradata of encoder contexts that other threads copy.
std::mutex sharedParametersLock;
}  // namespace

bool CopySharedCodecParameters(const AVCodecContext* ctx, AVCodecParameters* out) {
  if (!ctx || !out) return false;
  std::lock_guard<std::mutex> lock(sharedParametersLock);
  return avcodec_parameters_from_context(out, ctx) >= 0;
}

// ---------------------------------------------------------------- decoder

CVideoDecoder::CVideoDecoder(int id) : liveId(id) {}

CVideoDecoder::~CVideoDecoder() {
  Close();
  avcodec_free_context(&copied);
}

void CVideoDecoder::SetExtraData(const uint8_t* bytes, int n) {
  extra.clear();
  if (bytes && n > 0) extra.assign(bytes, bytes + n);
}

bool CVideoDecoder::SetCodecContext(const AVCodecContext* src) {
  if (!src || !ReplaceCodecCopy(copied, src)) return false;
  codecId = copied->codec_id;
  copied->time_base = src->time_base;
  return true;
}

bool CVideoDecoder::SetCodecParameters(const AVCodecParameters* par) {
  if (!par || !ReplaceCodecCopy(copied, par)) return false;
  codecId = par->codec_id;
  return true;
}

bool CVideoDecoder::Open() {
  if (ctx) return true;
  const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(copied ? copied->codec_id : codecId));
  if (!codec) {
    LogError("open video decoder error because can't find video decoder %d", liveId);
    return false;
  }
  ctx = avcodec_alloc_context3(codec);
  if (!ctx) return false;
  if (copied) {
    if (!CopyCodecSettings(ctx, copied)) {
      avcodec_free_context(&ctx);
      LogError("open video decoder error %d", liveId);
      return false;
    }
    ctx->time_base = copied->time_base;
  } else {
    ctx->codec_id = codec->id;
    ctx->width = width;
    ctx->height = height;
    if (pixelFormat >= 0) ctx->pix_fmt = static_cast<AVPixelFormat>(pixelFormat);
    ctx->time_base = AVRational{1, frameRate > 0 ? frameRate : 25};
    if (!extra.empty()) SetContextExtraData(ctx, extra.data(), extra.size());
  }
  ctx->error_concealment = FF_EC_GUESS_MVS | FF_EC_DEBLOCK;
  ctx->thread_count = 1;
  ctx->flags2 |= AV_CODEC_FLAG2_FAST;
  if (avcodec_open2(ctx, codec, nullptr) < 0) {
    LogError("open video decoder error %d", liveId);
    avcodec_free_context(&ctx);
    return false;
  }
  if (!frame) frame = av_frame_alloc();
  if (!packet) packet = av_packet_alloc();
  if (!frame || !packet) {
    Close();
    return false;
  }
  flushing = false;
  LogInfo("open video decoder success %d", liveId);
  return true;
}

AVFrame* CVideoDecoder::Decode(const IoBuffer* in) {
  if (!in) return nullptr;
  return Decode(in->GetData(), in->GetSize(), in->GetPts(), in->GetDts(), (in->GetFlags() & 1) != 0);
}

AVFrame* CVideoDecoder::Decode(const uint8_t* bytes, int size, int64_t pts, int64_t dts, bool key) {
  if (!ctx || !bytes || size <= 0) return nullptr;
  if (flushing) {
    avcodec_flush_buffers(ctx);
    flushing = false;
  }
  av_packet_unref(packet);
  if (av_new_packet(packet, size) < 0) return nullptr;
  memcpy(packet->data, bytes, size);
  packet->pts = pts;
  packet->dts = dts;
  if (key) packet->flags |= AV_PKT_FLAG_KEY;
  int r = avcodec_send_packet(ctx, packet);
  if (r == AVERROR(EAGAIN)) {
    // The owner left pictures unread: they are lost, but the new packet is not.
    while (avcodec_receive_frame(ctx, frame) >= 0) av_frame_unref(frame);
    r = avcodec_send_packet(ctx, packet);
  }
  av_packet_unref(packet);
  if (r < 0) {
    LogError("video decoder error %d", liveId);
    return nullptr;
  }
  return ReceiveFrame();
}

AVFrame* CVideoDecoder::ReceiveFrame() {
  if (!ctx) return nullptr;
  av_frame_unref(frame);
  int r = avcodec_receive_frame(ctx, frame);
  if (r < 0) {
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) LogError("video decoder error %d", liveId);
    return nullptr;
  }
  // The decoder may reorder: the picture's own time is its best estimate.
  if (frame->best_effort_timestamp != AV_NOPTS_VALUE) frame->pts = frame->best_effort_timestamp;
  return frame;
}

void CVideoDecoder::Flush() {
  if (!ctx || flushing) return;
  avcodec_send_packet(ctx, nullptr);
  flushing = true;
}

void CVideoDecoder::Close() {
  bool wasOpen = ctx != nullptr;
  avcodec_free_context(&ctx);
  av_frame_free(&frame);
  av_packet_free(&packet);
  flushing = false;
  if (wasOpen) LogInfo("close video decoder %d", liveId);
}

// ---------------------------------------------------------------- encoder

CVideoEncoder::CVideoEncoder(int id) : liveId(id) {}

CVideoEncoder::~CVideoEncoder() { Close(); }

bool CVideoEncoder::Open() {
  if (ctx) return true;
  const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(codecId));
  if (!codec) {
    LogError("open video encoder error because can't find video encoder %d", liveId);
    return false;
  }
  if (frameRate <= 0 || dstWidth <= 0 || dstHeight <= 0 || dstWidth > 16384 || dstHeight > 16384 ||
      bitRate < 0) {
    LogError("open video encoder error %d", liveId);
    return false;
  }
  // Sizes the chroma planes cannot hold are refused here (libx264 also
  // refuses them, but leaks on that path).
  const AVPixFmtDescriptor* desc =
      av_pix_fmt_desc_get(dstPixelFormat >= 0 ? static_cast<AVPixelFormat>(dstPixelFormat) : AV_PIX_FMT_YUV420P);
  if (!desc || (dstWidth & ((1 << desc->log2_chroma_w) - 1)) || (dstHeight & ((1 << desc->log2_chroma_h) - 1))) {
    LogError("open video encoder error %d", liveId);
    return false;
  }
  ctx = avcodec_alloc_context3(codec);
  if (!ctx) return false;
  ctx->codec_id = codec->id;
  ctx->pix_fmt = dstPixelFormat >= 0 ? static_cast<AVPixelFormat>(dstPixelFormat) : AV_PIX_FMT_YUV420P;
  ctx->width = dstWidth;
  ctx->height = dstHeight;
  ctx->time_base = AVRational{1, frameRate};
  ctx->framerate = AVRational{frameRate, 1};
  ctx->bit_rate = bitRate;
  ctx->gop_size = gopSize;
  ctx->rc_max_rate = 40000000;
  ctx->rc_min_rate = 100000;
  ctx->me_range = 16;
  ctx->max_qdiff = 4;
  ctx->thread_count = threads;
  // Parameter sets travel in the stream, not in a global header.
  if (codec->id == AV_CODEC_ID_H264) {
    av_opt_set(ctx->priv_data, "preset", "superfast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
  }
  if (avcodec_open2(ctx, codec, nullptr) < 0) {
    LogError("open video encoder error %d", liveId);
    avcodec_free_context(&ctx);
    return false;
  }
  picture = av_frame_alloc();
  packet = av_packet_alloc();
  outPacket = new IoBuffer(256 * 1024);
  if (!picture || !packet) {
    Close();
    return false;
  }
  picture->format = ctx->pix_fmt;
  picture->width = ctx->width;
  picture->height = ctx->height;
  if (av_frame_get_buffer(picture, 32) < 0) {
    LogError("open video encoder error %d", liveId);
    Close();
    return false;
  }
  nextPts = 0;
  ptsMap.clear();
  flushing = false;
  LogInfo("open video encoder success %d", liveId);
  return true;
}

IoBuffer* CVideoEncoder::Encode(const AVFrame* src) {
  if (!ctx || !src || flushing) return nullptr;
  if (src->width <= 0 || src->height <= 0 || src->format < 0) return nullptr;
  if (av_frame_make_writable(picture) < 0) return nullptr;
  // The scaler follows each picture's own size and format, so a size change
  // in the middle of a stream never reads past the picture.
  if (scaleThreads != 1) {
    if (!scaler || scalerWidth != src->width || scalerHeight != src->height || scalerFormat != src->format) {
      sws_freeContext(scaler);
      scaler = sws_alloc_context();
      if (scaler) {
        av_opt_set_int(scaler, "srcw", src->width, 0);
        av_opt_set_int(scaler, "srch", src->height, 0);
        av_opt_set_int(scaler, "src_format", src->format, 0);
        av_opt_set_int(scaler, "dstw", ctx->width, 0);
        av_opt_set_int(scaler, "dsth", ctx->height, 0);
        av_opt_set_int(scaler, "dst_format", ctx->pix_fmt, 0);
        av_opt_set_int(scaler, "sws_flags", SWS_BILINEAR, 0);
        av_opt_set_int(scaler, "threads", scaleThreads, 0);
        if (sws_init_context(scaler, nullptr, nullptr) < 0) {
          sws_freeContext(scaler);
          scaler = nullptr;
        }
      }
      scalerWidth = src->width;
      scalerHeight = src->height;
      scalerFormat = src->format;
    }
    // Slices need a counted source picture; the decoders' pictures are.
    if (!scaler || !src->buf[0] || sws_scale_frame(scaler, picture, src) < 0) {
      LogError("video encoder error %d", liveId);
      return nullptr;
    }
  } else {
    scaler = sws_getCachedContext(scaler, src->width, src->height, static_cast<AVPixelFormat>(src->format),
                                  ctx->width, ctx->height, ctx->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) {
      LogError("video encoder error %d", liveId);
      return nullptr;
    }
    sws_scale(scaler, src->data, src->linesize, 0, src->height, picture->data, picture->linesize);
  }
  picture->pts = nextPts++;
  picture->pict_type = AV_PICTURE_TYPE_NONE;
  ptsMap.emplace_back(picture->pts, src->pts);
  if (ptsMap.size() > 512) ptsMap.pop_front();
  int r = avcodec_send_frame(ctx, picture);
  if (r < 0) {
    LogError("video encoder error %d", liveId);
    return nullptr;
  }
  return ReceivePacket();
}

void CVideoEncoder::Flush() {
  if (!ctx || flushing) return;
  avcodec_send_frame(ctx, nullptr);
  flushing = true;
}

IoBuffer* CVideoEncoder::ReceivePacket() {
  if (!ctx) return nullptr;
  int r = avcodec_receive_packet(ctx, packet);
  if (r < 0) {
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) LogError("video encoder error %d", liveId);
    return nullptr;
  }
  return TakePacket();
}

IoBuffer* CVideoEncoder::TakePacket() {
  outPacket->Clear();
  outPacket->Write(packet->data, packet->size);
  outPacket->SetFlags((packet->flags & AV_PKT_FLAG_KEY) ? 1 : 0);
  outPacket->SetType(1);
  outPacket->SetCodecId(codecId);
  int64_t srcPts = packet->pts;
  while (!ptsMap.empty() && ptsMap.front().first < packet->pts) ptsMap.pop_front();
  if (!ptsMap.empty() && ptsMap.front().first == packet->pts) srcPts = ptsMap.front().second;
  outPacket->SetPts(srcPts);
  outPacket->SetDts(srcPts);
  outPacket->SetTimestamp(srcPts);
  if (codecId == AV_CODEC_ID_H264) {
    if (!parameterSets) ExtractParameterSets(packet->data, packet->size, parameterSets);
    if (parameterSets && !ctx->extradata) {
      // Record outputs read the context from their own threads.
      std::lock_guard<std::mutex> lock(sharedParametersLock);
      SetContextExtraData(ctx, parameterSets->GetData(), static_cast<size_t>(parameterSets->GetSize()));
    }
  }
  av_packet_unref(packet);
  return outPacket;
}

void CVideoEncoder::ExtractParameterSets(const uint8_t* d, int size, IoBuffer*& sets) {
  if (!d || size < 5) return;
  auto isStart = [&](int i) { return i + 2 < size && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1; };
  int i = 0;
  while (i + 4 < size && !isStart(i)) ++i;
  if (!isStart(i)) return;
  while (size - i >= 5) {
    // i points at 00 00 01 of this unit.
    int j = i + 3;
    while (j < size && !isStart(j)) ++j;
    int end = j;  // exclusive
    if (j < size && end > i + 3 && d[end - 1] == 0) --end;  // zero of a 4-byte start code
    if (i + 3 < end) {
      int type = d[i + 3] & 0x1f;
      if (type == 7 || type == 8) {
        if (!sets) sets = new IoBuffer();
        sets->Write(d + i, end - i);
      }
    }
    if (j >= size) break;
    i = j;
  }
}

void CVideoEncoder::Close() {
  bool wasOpen = ctx != nullptr;
  avcodec_free_context(&ctx);
  sws_freeContext(scaler);
  scaler = nullptr;
  scalerWidth = scalerHeight = 0;
  scalerFormat = -1;
  av_frame_free(&picture);
  av_packet_free(&packet);
  delete outPacket;
  outPacket = nullptr;
  delete parameterSets;
  parameterSets = nullptr;
  ptsMap.clear();
  flushing = false;
  if (wasOpen) LogInfo("close video encoder %d", liveId);
}
