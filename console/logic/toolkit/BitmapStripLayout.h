#pragma once
// Geometry of a bitmap strip: one bitmap cut into equal frames laid side by
// side (a horizontal strip) or one above the other (a vertical strip), and
// the state of the bitmap button painted from such a strip.
#include <optional>

#include "console/logic/toolkit/ToolkitGeometry.h"

class BitmapStripLayout {
 public:
  // No bitmap: no frames, every draw refused.
  BitmapStripLayout() = default;
  // A zero frame width or height takes the bitmap's; an empty bitmap (a load
  // that failed) or a negative frame size gives no frames.
  BitmapStripLayout(int bitmapWidth, int bitmapHeight, int frameWidth, int frameHeight);

  int FrameCount() const { return count_; }
  int FrameWidth() const { return frameW_; }
  int FrameHeight() const { return frameH_; }
  int BitmapWidth() const { return bmpW_; }
  int BitmapHeight() const { return bmpH_; }
  bool IsVertical() const { return vertical_; }

  TkPoint Offset() const { return offset_; }
  void SetOffset(TkPoint p) { offset_ = p; }

  // The frame's rectangle: its place in the strip plus the given offset
  // (else the drawing offset) unless offsets are ignored. Nothing for an
  // index outside 0 .. count - 1.
  std::optional<TkRect> GetFrameRect(int index, bool ignoreOffset,
                                     const TkPoint* offset = nullptr) const;
  // Whether the point lies in frame 0's rectangle at the offset.
  bool HitTest(TkPoint p, const TkPoint* offset = nullptr) const;
  // The bitmap's rectangle at the offset (else the drawing offset).
  TkRect GetBounds(const TkPoint* offset = nullptr) const;

  struct Copy {
    TkRect src;   // in the bitmap
    TkRect dest;  // on the target
    bool stretch = false;
  };
  // Drawing one frame: to the offset (else the drawing offset), plus the
  // frame's own place in the strip when keepPosition.
  std::optional<Copy> PlanDrawFrame(int index, bool keepPosition,
                                    const TkPoint* offset = nullptr) const;
  // Drawing the whole bitmap into the destination x, y, width, height from
  // the source position: a zero width or height takes the bitmap's; centre
  // puts the bitmap in the middle of a larger destination (no shift when it
  // is smaller) and keeps the bitmap's size along that axis; stretch scales
  // the bitmap from the source position onto the destination; without it
  // the copy is cut to what the bitmap holds.
  std::optional<Copy> PlanDraw(int x, int y, int width, int height, TkPoint source,
                               bool stretch, bool centre) const;
  // Copying frame index of another strip into the same frame place of this
  // one: nothing when either strip lacks the frame.
  std::optional<Copy> PlanCopyFrameFrom(const BitmapStripLayout& other, int index) const;

 private:
  int bmpW_ = 0;
  int bmpH_ = 0;
  int frameW_ = 0;
  int frameH_ = 0;
  int count_ = 0;
  bool vertical_ = false;
  TkPoint offset_;
};

// The bitmap button's frame and flags: frame 0 normal, 1 under the mouse,
// 2 pressed or checked. Each handler says whether to repaint or to notify.
class BitButtonState {
 public:
  // 0 when the button has no strip.
  void SetFrameCount(int count);
  int FrameCount() const { return frames_; }

  int Frame() const { return frame_; }
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  bool Toggles() const { return toggles_; }
  void SetToggles(bool on) { toggles_ = on; }
  bool NotifyOnPress() const { return notifyOnPress_; }
  void SetNotifyOnPress(bool on) { notifyOnPress_ = on; }
  bool ForwardsMouse() const { return forwards_; }
  void SetForwardsMouse(bool on) { forwards_ = on; }
  bool Tracking() const { return tracking_; }

  // A mouse move: true when leave and hover tracking must be armed now; the
  // caller reports whether that worked through SetTracking.
  bool OnMouseMove() const { return !tracking_; }
  void SetTracking(bool armed) { tracking_ = armed; }
  // Hover and leave: true to repaint (never without a strip).
  bool OnHover();
  bool OnLeave();
  // Press: flips checked on a toggle button; true when the command goes to
  // the parent now (notify on press).
  bool OnPress();
  // Release: true when the command goes to the parent now.
  bool OnRelease();

 private:
  // Frame 2 shows a checked button only when the strip has it.
  int CheckedFrame() const { return frames_ > 2 ? 2 : 0; }

  int frame_ = 0;
  int frames_ = 0;
  bool checked_ = false;
  bool toggles_ = false;
  bool forwards_ = false;
  bool tracking_ = false;
  bool notifyOnPress_ = false;
};
