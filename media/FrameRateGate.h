#pragma once
// Keeps pictures at no more than a given rate, choosing them by their own
// times (milliseconds), so an encoder opened for that rate gets as many
// pictures a second as it was told, whatever rate the input runs at.
#include <cstdint>

class FrameRateGate {
 public:
  explicit FrameRateGate(int rate = 0) { SetRate(rate); }
  // Pictures a second to keep; 0 or less keeps every picture.
  void SetRate(int rate);
  // Forgets the pictures seen (a new stream starts).
  void Reset();
  // True when the picture at *ms is to be kept. The time line is cut into
  // slots of 1/rate seconds from the first picture; a picture belongs to the
  // slot nearest its time, and only the first picture of a slot is kept, its
  // time moved onto the slot's (by less than half a slot). The pictures kept
  // are thus evenly spaced at the rate, never more of them, and an input no
  // faster than the rate keeps every picture. A time that goes back (a new
  // run of the input) starts afresh.
  bool Take(int64_t* ms);

 private:
  int rate = 0;
  bool anchored = false;
  int64_t anchor = 0;    // time of slot 0
  int64_t lastSlot = 0;  // slot of the last picture kept
  int64_t lastTime = 0;  // own time of the last picture seen
};
