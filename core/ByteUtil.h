#pragma once
// Little-endian readers and writers, 64-bit values kept as two 32-bit
// words, and the header scan helpers of ASF-style byte streams.
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Index of the first occurrence of the 16-byte pattern in the bytes, or -1.
int FindGuid(const unsigned char* pattern, const unsigned char* bytes, int length);
// Type 1: one byte; 2: two bytes LE; 3: four bytes LE. The cursor moves past
// what was read; any other type gives 0 and leaves the cursor.
uint32_t ReadLengthTypeValue(const unsigned char*& cursor, int lengthType);
// By the flags byte at index 3: 0x00/0x01 give 5, 0x08/0x09 6, 0x10/0x11 7,
// 0x48/0x49 8, 0x50/0x51 9; anything else -1.
int GetPacketHeaderLength(const unsigned char* packet);

uint16_t ReadUInt16LE(const unsigned char* bytes, uint16_t* dest);
uint32_t ReadUInt32LE(const unsigned char* bytes, uint32_t* dest);
void ReadUInt64LE(const unsigned char* bytes, uint32_t* high, uint32_t* low);
void PutUInt32LE(unsigned char* buffer, uint32_t value);
bool WriteUInt16LE(FILE* file, uint16_t value);
bool WriteUInt32LE(FILE* file, uint32_t value);
bool WriteUInt64LE(FILE* file, uint32_t high, uint32_t low);
// Subtracts a from high and b from low, each on its own (no borrow).
void SubtractUInt64(uint32_t& high, uint32_t& low, uint32_t a, uint32_t b);
