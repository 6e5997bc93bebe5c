#include "console/logic/toolkit/BitmapStripLayout.h"

#include <algorithm>

BitmapStripLayout::BitmapStripLayout(int bitmapWidth, int bitmapHeight, int frameWidth,
                                     int frameHeight) {
  if (bitmapWidth <= 0 || bitmapHeight <= 0 || frameWidth < 0 || frameHeight < 0) return;
  bmpW_ = bitmapWidth;
  bmpH_ = bitmapHeight;
  frameW_ = frameWidth == 0 ? bitmapWidth : frameWidth;
  frameH_ = frameHeight == 0 ? bitmapHeight : frameHeight;
  vertical_ = bitmapWidth < bitmapHeight;
  count_ = vertical_ ? bmpH_ / frameH_ : bmpW_ / frameW_;
}

std::optional<TkRect> BitmapStripLayout::GetFrameRect(int index, bool ignoreOffset,
                                                      const TkPoint* offset) const {
  if (index < 0 || index >= count_) return std::nullopt;
  int left = vertical_ ? 0 : index * frameW_;
  int top = vertical_ ? index * frameH_ : 0;
  if (!ignoreOffset) {
    const TkPoint o = offset ? *offset : offset_;
    left += o.x;
    top += o.y;
  }
  return TkRect::FromSize(left, top, frameW_, frameH_);
}

bool BitmapStripLayout::HitTest(TkPoint p, const TkPoint* offset) const {
  auto r = GetFrameRect(0, false, offset);
  return r && r->Contains(p);
}

TkRect BitmapStripLayout::GetBounds(const TkPoint* offset) const {
  const TkPoint o = offset ? *offset : offset_;
  return TkRect::FromSize(o.x, o.y, bmpW_, bmpH_);
}

std::optional<BitmapStripLayout::Copy> BitmapStripLayout::PlanDrawFrame(
    int index, bool keepPosition, const TkPoint* offset) const {
  auto src = GetFrameRect(index, true);
  if (!src) return std::nullopt;
  TkPoint at = offset ? *offset : offset_;
  if (keepPosition) {
    at.x += src->left;
    at.y += src->top;
  }
  return Copy{*src, TkRect::FromSize(at.x, at.y, frameW_, frameH_), false};
}

std::optional<BitmapStripLayout::Copy> BitmapStripLayout::PlanDraw(int x, int y, int width,
                                                                   int height, TkPoint source,
                                                                   bool stretch,
                                                                   bool centre) const {
  if (bmpW_ <= 0 || bmpH_ <= 0 || width < 0 || height < 0) return std::nullopt;
  if (source.x < 0 || source.y < 0 || source.x >= bmpW_ || source.y >= bmpH_) return std::nullopt;
  if (width == 0) width = bmpW_;
  if (height == 0) height = bmpH_;
  if (centre) {
    if (width > bmpW_) {
      x += (width - bmpW_) / 2;
      width = bmpW_;
    }
    if (height > bmpH_) {
      y += (height - bmpH_) / 2;
      height = bmpH_;
    }
  }
  const int availW = bmpW_ - source.x;
  const int availH = bmpH_ - source.y;
  if (stretch) {
    return Copy{TkRect::FromSize(source.x, source.y, availW, availH),
                TkRect::FromSize(x, y, width, height), true};
  }
  const int w = std::min(width, availW);
  const int h = std::min(height, availH);
  return Copy{TkRect::FromSize(source.x, source.y, w, h), TkRect::FromSize(x, y, w, h), false};
}

std::optional<BitmapStripLayout::Copy> BitmapStripLayout::PlanCopyFrameFrom(
    const BitmapStripLayout& other, int index) const {
  auto src = other.GetFrameRect(index, true);
  auto dest = GetFrameRect(index, true);
  if (!src || !dest) return std::nullopt;
  const int w = std::min(src->Width(), dest->Width());
  const int h = std::min(src->Height(), dest->Height());
  return Copy{TkRect::FromSize(src->left, src->top, w, h),
              TkRect::FromSize(dest->left, dest->top, w, h), false};
}

// ---- BitButtonState

void BitButtonState::SetFrameCount(int count) {
  frames_ = std::max(0, count);
  frame_ = checked_ ? CheckedFrame() : 0;
}

void BitButtonState::SetChecked(bool checked) {
  checked_ = checked;
  frame_ = checked_ ? CheckedFrame() : 0;
}

bool BitButtonState::OnHover() {
  if (frames_ == 0) return false;
  frame_ = frames_ > 1 ? 1 : 0;
  if (checked_) frame_ = CheckedFrame();
  return true;
}

bool BitButtonState::OnLeave() {
  tracking_ = false;
  if (frames_ == 0) return false;
  frame_ = checked_ ? CheckedFrame() : 0;
  if (frames_ == 1) frame_ = 0;
  return true;
}

bool BitButtonState::OnPress() {
  frame_ = frames_ > 2 ? 2 : 0;
  if (checked_) frame_ = 0;
  if (toggles_) checked_ = !checked_;
  return notifyOnPress_;
}

bool BitButtonState::OnRelease() {
  if (!checked_) frame_ = frames_ > 1 ? 1 : 0;
  return !notifyOnPress_;
}
