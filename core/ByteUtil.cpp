#include "core/ByteUtil.h"

#include <cstring>

int FindGuid(const unsigned char* pattern, const unsigned char* bytes, int length) {
  if (pattern == nullptr || bytes == nullptr) return -1;
  // Every position where all 16 bytes fit, the very last one included.
  for (int i = 0; i + 16 <= length; ++i)
    if (memcmp(bytes + i, pattern, 16) == 0) return i;
  return -1;
}

uint32_t ReadLengthTypeValue(const unsigned char*& cursor, int lengthType) {
  uint32_t v = 0;
  switch (lengthType) {
    case 1:
      v = cursor[0];
      cursor += 1;
      break;
    case 2:
      v = uint32_t(cursor[0]) | (uint32_t(cursor[1]) << 8);
      cursor += 2;
      break;
    case 3:
      v = uint32_t(cursor[0]) | (uint32_t(cursor[1]) << 8) | (uint32_t(cursor[2]) << 16) | (uint32_t(cursor[3]) << 24);
      cursor += 4;
      break;
    default:
      break;
  }
  return v;
}

int GetPacketHeaderLength(const unsigned char* packet) {
  switch (packet[3]) {
    case 0x00:
    case 0x01:
      return 5;
    case 0x08:
    case 0x09:
      return 6;
    case 0x10:
    case 0x11:
      return 7;
    case 0x48:
    case 0x49:
      return 8;
    case 0x50:
    case 0x51:
      return 9;
    default:
      return -1;
  }
}

uint16_t ReadUInt16LE(const unsigned char* bytes, uint16_t* dest) {
  uint16_t v = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  if (dest) *dest = v;
  return v;
}

uint32_t ReadUInt32LE(const unsigned char* bytes, uint32_t* dest) {
  uint32_t v = uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
  if (dest) *dest = v;
  return v;
}

void ReadUInt64LE(const unsigned char* bytes, uint32_t* high, uint32_t* low) {
  uint32_t l = ReadUInt32LE(bytes, nullptr);
  uint32_t h = ReadUInt32LE(bytes + 4, nullptr);
  if (low) *low = l;
  if (high) *high = h;
}

void PutUInt32LE(unsigned char* buffer, uint32_t value) {
  buffer[0] = static_cast<unsigned char>(value);
  buffer[1] = static_cast<unsigned char>(value >> 8);
  buffer[2] = static_cast<unsigned char>(value >> 16);
  buffer[3] = static_cast<unsigned char>(value >> 24);
}

bool WriteUInt16LE(FILE* file, uint16_t value) {
  unsigned char b[2] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)};
  return fwrite(b, 1, 2, file) == 2;
}

bool WriteUInt32LE(FILE* file, uint32_t value) {
  unsigned char b[4];
  PutUInt32LE(b, value);
  return fwrite(b, 1, 4, file) == 4;
}

bool WriteUInt64LE(FILE* file, uint32_t high, uint32_t low) {
  return WriteUInt32LE(file, low) && WriteUInt32LE(file, high);
}

void SubtractUInt64(uint32_t& high, uint32_t& low, uint32_t a, uint32_t b) {
  high -= a;
  low -= b;
}
