// Copying codec settings between FFmpeg contexts, shared by the audio and
// video codec wrappers.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVCodecContext;
struct AVCodecParameters;

// Replaces `copy` with a fresh context holding `par`. On failure `copy` is
// freed and null.
bool ReplaceCodecCopy(AVCodecContext*& copy, const AVCodecParameters* par);
// The same from another context; `copy` is left as it was when the source's
// parameters cannot be taken.
bool ReplaceCodecCopy(AVCodecContext*& copy, const AVCodecContext* src);
// Copies the codec parameters of `src` into the not yet opened `dst`.
bool CopyCodecSettings(AVCodecContext* dst, const AVCodecContext* src);
// Gives `ctx` a padded copy of `bytes` as its extradata (left alone when the
// allocation fails).
void SetContextExtraData(AVCodecContext* ctx, const uint8_t* bytes, size_t n);
