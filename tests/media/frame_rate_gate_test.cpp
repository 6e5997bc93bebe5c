// Which pictures the frame-rate gate keeps, and at what times.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "media/FrameRateGate.h"

namespace {

// Times of `count` pictures at `rate` a second, rounded to milliseconds as
// the engine stamps them, each moved by the jitter pattern.
std::vector<int64_t> Times(int rate, int count, int64_t start = 0, std::vector<int> jitter = {0}) {
  std::vector<int64_t> t;
  for (int i = 0; i < count; ++i) t.push_back(start + int64_t(i) * 1000 / rate + jitter[i % jitter.size()]);
  return t;
}

// The times of the pictures kept.
std::vector<int64_t> Kept(FrameRateGate& gate, const std::vector<int64_t>& times) {
  std::vector<int64_t> kept;
  for (int64_t t : times)
    if (gate.Take(&t)) kept.push_back(t);
  return kept;
}

}  // namespace

// Kept pictures stay within the rate and are evenly spaced on it, so no two
// fall into one frame interval of the rate (a decoder timing them by the
// rate would see two pictures at one time).
TEST(FrameRateGate, KeepsTheRateEvenlySpaced) {
  struct Case {
    const char* what;
    int gateRate;
    std::vector<int64_t> times;
    size_t kept;
  } cases[] = {
      {"25 a second down to 15", 15, Times(25, 250), 150},
      {"30 a second down to 25", 25, Times(30, 300), 250},
      {"50 a second down to 10", 10, Times(50, 500), 100},
      {"the same rate keeps all, with ms rounding", 30, Times(30, 300), 300},
      {"the same rate keeps all, with jitter", 25, Times(25, 250, 1000, {0, 4, -3, 2, -4, 15, -15}), 250},
      {"a slower input keeps all", 25, Times(15, 150), 150},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FrameRateGate gate(c.gateRate);
    std::vector<int64_t> kept = Kept(gate, c.times);
    // One picture either way at the end of the stretch.
    EXPECT_NEAR(double(kept.size()), double(c.kept), 1.0);
    const int64_t interval = 1000 / c.gateRate;
    for (size_t i = 1; i < kept.size(); ++i) {
      ASSERT_GE(kept[i] - kept[i - 1], interval) << "#" << i;
      // On the rate's grid from the first picture.
      int64_t slot = ((kept[i] - kept[0]) * c.gateRate * 2 + 1000) / 2000;
      ASSERT_EQ(kept[i], kept[0] + slot * 1000 / c.gateRate) << "#" << i;
    }
  }
  FrameRateGate all(0);
  EXPECT_EQ(Kept(all, Times(60, 120, 0, {0, 1})), Times(60, 120, 0, {0, 1}));  // rate 0: untouched
}

// After a pause the empty slots are not made up with a burst, and a time
// that goes back (the input read again from its start) starts afresh.
TEST(FrameRateGate, PausesAndNewRuns) {
  FrameRateGate gate(15);
  EXPECT_EQ(Kept(gate, Times(25, 50)).size(), 30u);         // 2 s
  EXPECT_EQ(Kept(gate, Times(25, 50, 10000)).size(), 30u);  // 8 s later, 2 s more: no burst
  std::vector<int64_t> again = Kept(gate, Times(25, 50, 0));  // back to 0
  EXPECT_EQ(again.size(), 30u);
  EXPECT_EQ(again.front(), 0);
  gate.Reset();
  int64_t t = 5000;
  EXPECT_TRUE(gate.Take(&t));
  EXPECT_EQ(t, 5000);
  t = 5010;
  EXPECT_FALSE(gate.Take(&t));
}
