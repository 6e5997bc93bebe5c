#pragma once
// The machine's total processor load from /proc/stat, as the toolbar's CPU
// panel shows it once a second, and the panel's drawing figures.
#include <cstdint>
#include <string>

namespace cpuload {

// The counters of the "cpu" line: user, nice, system, idle, iowait, irq,
// softirq and steal (guest time is already part of user and nice).
struct CpuTimes {
  uint64_t field[8] = {};
};
// False when the text has no "cpu" line with at least four counters.
bool ParseProcStat(const std::string& text, CpuTimes& out);

// Percent busy between two readings: idle and iowait count as idle, every
// other counter as busy; a counter that went back counts 0. Clamped to
// 0..100; -1 when no time passed between them.
int LoadBetween(const CpuTimes& before, const CpuTimes& after);

// One reading per call. The first reading (and the first after the file
// could not be read) gives 0; an unreadable file gives -1, the panel's
// "no counter" figure; a reading with no time passed repeats the last load.
class CpuLoadMeter {
 public:
  explicit CpuLoadMeter(std::string statPath = "/proc/stat") : path_(std::move(statPath)) {}
  int Sample();

 private:
  std::string path_;
  bool first_ = true;
  CpuTimes previous_;
  int last_ = 0;
};

// "37%".
std::string LoadText(int load);

// Length of the filled part of a bar of inner length extent at pos within
// lower..upper (pos clamped into the range; 0 for an empty range).
int FilledExtent(int extent, int pos, int lower, int upper);

// The panel's background: the colour (0xRRGGBB) of pixel row y, lightened
// from RGB(223,218,206) towards white at the top.
uint32_t GradientRowColour(int y);

}  // namespace cpuload
