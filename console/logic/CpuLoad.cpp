#include "console/logic/CpuLoad.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace cpuload {

bool ParseProcStat(const std::string& text, CpuTimes& out) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name;
    if (!(fields >> name) || name != "cpu") continue;
    CpuTimes t;
    int n = 0;
    unsigned long long v;
    while (n < 8 && fields >> v) t.field[n++] = v;
    if (n < 4) return false;
    out = t;
    return true;
  }
  return false;
}

int LoadBetween(const CpuTimes& before, const CpuTimes& after) {
  uint64_t total = 0, idle = 0;
  for (int i = 0; i < 8; ++i) {
    uint64_t d = after.field[i] >= before.field[i] ? after.field[i] - before.field[i] : 0;
    total += d;
    if (i == 3 || i == 4) idle += d;
  }
  if (total == 0) return -1;
  double ratio = static_cast<double>(idle) / static_cast<double>(total);
  int load = static_cast<int>((1.0 - ratio) * 100.0 + 0.5);
  if (load < 0) load = 0;
  if (load > 100) load = 100;
  return load;
}

int CpuLoadMeter::Sample() {
  std::ifstream in(path_);
  std::stringstream text;
  CpuTimes now;
  if (!in || !(text << in.rdbuf()) || !ParseProcStat(text.str(), now)) {
    first_ = true;
    last_ = 0;
    return -1;
  }
  if (first_) {
    first_ = false;
    previous_ = now;
    last_ = 0;
    return 0;
  }
  int load = LoadBetween(previous_, now);
  previous_ = now;
  if (load >= 0) last_ = load;
  return last_;
}

std::string LoadText(int load) { return std::to_string(load) + "%"; }

int FilledExtent(int extent, int pos, int lower, int upper) {
  int64_t range = static_cast<int64_t>(upper) - lower;
  if (range <= 0 || extent <= 0) return 0;
  int64_t p = pos < lower ? lower : pos > upper ? upper : pos;
  return static_cast<int>(static_cast<int64_t>(extent) * (p - lower) / range);
}

namespace {

// Each of red, green and blue moved towards 255 by factor (0 < factor <= 1);
// any other factor leaves the colour as it is.
uint32_t Lighten(uint32_t rgb, double factor) {
  if (!(factor > 0 && factor <= 1)) return rgb;
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    uint32_t c = (rgb >> shift) & 0xFF;
    uint32_t v = static_cast<uint32_t>((255 - c) * factor + c) & 0xFF;
    out |= v << shift;
  }
  return out;
}

}  // namespace

uint32_t GradientRowColour(int y) {
  double f = 1.0;
  for (int row = 4; row <= y; row += 2) f -= 0.04;
  return Lighten(0xDFDACE, f);  // RGB(223, 218, 206)
}

}  // namespace cpuload
