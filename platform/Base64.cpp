#include "platform/Base64.h"

#include <cstdint>

namespace {
int Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}
}  // namespace

std::string Base64Decode(const char* text, size_t length, size_t* counter) {
  std::string out;
  if (text == nullptr) return out;
  unsigned char group[4];
  size_t n = 0;
  auto flush = [&](size_t have) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = (v << 6) | static_cast<uint32_t>(i < have ? Value(group[i]) : 0);
    // Each character carries six bits: n of them give n - 1 whole bytes.
    size_t eff = have;
    if (eff >= 3 && group[2] == '=') eff = 2;
    else if (eff == 4 && group[3] == '=') eff = 3;
    size_t bytes = eff - 1;
    out.push_back(static_cast<char>(v >> 16));
    if (bytes > 1) out.push_back(static_cast<char>(v >> 8));
    if (bytes > 2) out.push_back(static_cast<char>(v));
  };
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' || c == '\n') continue;
    group[n++] = c;
    if (n == 4) {
      flush(4);
      n = 0;
    }
  }
  if (n >= 2) flush(n);
  if (counter) *counter += out.size();
  return out;
}
