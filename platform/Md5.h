#pragma once
// MD5 message digest (RFC 1321).
#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
 public:
  Md5();
  void Update(const void* bytes, size_t count);
  // Pads, appends the bit count, writes the digest and starts over.
  void Final(unsigned char digest[16]);

 private:
  void Reset();
  void Transform(const unsigned char block[64]);
  uint32_t state_[4];
  uint64_t bits_;
  unsigned char buffer_[64];
  size_t used_;
};

// 32 lower-case hex characters of the digest of the text (without its
// terminator), in a new string the caller releases with free().
char* Md5OfText(const char* text);
// The same for the file's contents; null when it cannot be opened.
char* Md5OfFile(const char* path);
// The digest as 32 lower-case hex characters.
std::string Md5Hex(const void* bytes, size_t count);
