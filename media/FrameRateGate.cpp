#include "media/FrameRateGate.h"

void FrameRateGate::SetRate(int r) {
  rate = r > 0 ? r : 0;
  Reset();
}

void FrameRateGate::Reset() {
  anchored = false;
  anchor = 0;
  lastSlot = 0;
  lastTime = 0;
}

bool FrameRateGate::Take(int64_t* ms) {
  if (rate <= 0 || !ms) return true;
  int64_t t = *ms;
  if (!anchored || t < lastTime) {
    anchored = true;
    anchor = t;
    lastSlot = 0;
    lastTime = t;
    return true;
  }
  lastTime = t;
  // The nearest slot: (t - anchor) * rate / 1000, rounded.
  int64_t slot = ((t - anchor) * rate * 2 + 1000) / 2000;
  if (slot <= lastSlot) return false;
  lastSlot = slot;
  *ms = anchor + slot * 1000 / rate;
  return true;
}
