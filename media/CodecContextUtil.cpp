#include "media/CodecContextUtil.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

bool ReplaceCodecCopy(AVCodecContext*& copy, const AVCodecParameters* par) {
  avcodec_free_context(&copy);
  copy = avcodec_alloc_context3(nullptr);
  if (!copy) return false;
  if (avcodec_parameters_to_context(copy, par) < 0) {
    avcodec_free_context(&copy);
    return false;
  }
  return true;
}

bool ReplaceCodecCopy(AVCodecContext*& copy, const AVCodecContext* src) {
  AVCodecParameters* par = avcodec_parameters_alloc();
  if (!par) return false;
  bool ok = avcodec_parameters_from_context(par, src) >= 0 && ReplaceCodecCopy(copy, par);
  avcodec_parameters_free(&par);
  return ok;
}

bool CopyCodecSettings(AVCodecContext* dst, const AVCodecContext* src) {
  AVCodecParameters* par = avcodec_parameters_alloc();
  bool ok = par && avcodec_parameters_from_context(par, src) >= 0 && avcodec_parameters_to_context(dst, par) >= 0;
  avcodec_parameters_free(&par);
  return ok;
}

void SetContextExtraData(AVCodecContext* ctx, const uint8_t* bytes, size_t n) {
  ctx->extradata = static_cast<uint8_t*>(av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE));
  if (ctx->extradata) {
    memcpy(ctx->extradata, bytes, n);
    ctx->extradata_size = static_cast<int>(n);
  }
}
