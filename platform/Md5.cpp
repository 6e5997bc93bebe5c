#include "platform/Md5.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
const int kS[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 5, 9,  14, 20, 5, 9,
                    14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                    4, 11, 16, 23, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

char* HexCopy(const unsigned char digest[16]) {
  char* out = static_cast<char*>(malloc(33));
  if (!out) return nullptr;
  for (int i = 0; i < 16; ++i) snprintf(out + 2 * i, 3, "%02x", digest[i]);
  return out;
}
}  // namespace

Md5::Md5() { Reset(); }

void Md5::Reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  bits_ = 0;
  used_ = 0;
  memset(buffer_, 0, sizeof(buffer_));
}

void Md5::Transform(const unsigned char block[64]) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] = uint32_t(block[4 * i]) | (uint32_t(block[4 * i + 1]) << 8) | (uint32_t(block[4 * i + 2]) << 16) |
           (uint32_t(block[4 * i + 3]) << 24);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    uint32_t t = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + kT[i] + m[g], kS[i]);
    a = t;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::Update(const void* bytes, size_t count) {
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  bits_ += static_cast<uint64_t>(count) * 8;
  while (count > 0) {
    size_t take = 64 - used_;
    if (take > count) take = count;
    memcpy(buffer_ + used_, p, take);
    used_ += take;
    p += take;
    count -= take;
    if (used_ == 64) {
      Transform(buffer_);
      used_ = 0;
    }
  }
}

void Md5::Final(unsigned char digest[16]) {
  uint64_t bits = bits_;
  unsigned char pad[64] = {0x80};
  size_t padLen = used_ < 56 ? 56 - used_ : 120 - used_;
  Update(pad, padLen);
  unsigned char len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<unsigned char>(bits >> (8 * i));
  Update(len, 8);
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) digest[4 * i + k] = static_cast<unsigned char>(state_[i] >> (8 * k));
  Reset();
}

std::string Md5Hex(const void* bytes, size_t count) {
  Md5 md5;
  md5.Update(bytes, count);
  unsigned char d[16];
  md5.Final(d);
  char* hex = HexCopy(d);
  std::string out = hex ? hex : "";
  free(hex);
  return out;
}

char* Md5OfText(const char* text) {
  Md5 md5;
  if (text) md5.Update(text, strlen(text));
  unsigned char d[16];
  md5.Final(d);
  return HexCopy(d);
}

char* Md5OfFile(const char* path) {
  if (!path) return nullptr;
  FILE* f = fopen(path, "rb");
  if (!f) return nullptr;
  Md5 md5;
  unsigned char buf[1024];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) md5.Update(buf, n);
  bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) return nullptr;
  unsigned char d[16];
  md5.Final(d);
  return HexCopy(d);
}
