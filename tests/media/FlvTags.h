#pragma once
// FLV files as tag lists for the relay tests: read the tags of a file made by
// ffmpeg, and write tags back into a file ffprobe can read. Header-only.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/tools/TestUtil.h"

namespace vvtest {

struct FlvTag {
  uint8_t type = 0;  // 8 audio, 9 video, 18 script data
  uint32_t timestamp = 0;
  std::vector<uint8_t> body;
  bool IsSequenceHeader() const { return (type == 8 || type == 9) && body.size() > 1 && body[1] == 0; }
  bool IsKeyFrame() const { return type == 9 && !body.empty() && (body[0] >> 4) == 1; }
};

inline std::vector<FlvTag> ReadFlvTags(const std::string& path) {
  std::vector<FlvTag> tags;
  std::string data = ReadFileText(path);
  const uint8_t* d = reinterpret_cast<const uint8_t*>(data.data());
  size_t n = data.size();
  if (n < 13 || data.compare(0, 3, "FLV") != 0) return tags;
  size_t pos = (size_t(d[5]) << 24 | size_t(d[6]) << 16 | size_t(d[7]) << 8 | d[8]) + 4;
  while (pos + 11 <= n) {
    FlvTag t;
    t.type = d[pos] & 0x1F;
    size_t size = size_t(d[pos + 1]) << 16 | size_t(d[pos + 2]) << 8 | d[pos + 3];
    t.timestamp = uint32_t(d[pos + 4]) << 16 | uint32_t(d[pos + 5]) << 8 | d[pos + 6] | uint32_t(d[pos + 7]) << 24;
    if (pos + 11 + size + 4 > n) break;
    t.body.assign(d + pos + 11, d + pos + 11 + size);
    tags.push_back(std::move(t));
    pos += 11 + size + 4;
  }
  return tags;
}

inline bool WriteFlvTags(const std::string& path, const std::vector<FlvTag>& tags) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const uint8_t header[13] = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0};
  fwrite(header, 1, sizeof(header), f);
  for (const FlvTag& t : tags) {
    uint32_t size = static_cast<uint32_t>(t.body.size());
    uint8_t h[11] = {t.type,
                     uint8_t(size >> 16),
                     uint8_t(size >> 8),
                     uint8_t(size),
                     uint8_t(t.timestamp >> 16),
                     uint8_t(t.timestamp >> 8),
                     uint8_t(t.timestamp),
                     uint8_t(t.timestamp >> 24),
                     0,
                     0,
                     0};
    fwrite(h, 1, sizeof(h), f);
    fwrite(t.body.data(), 1, t.body.size(), f);
    uint32_t prev = size + 11;
    uint8_t p[4] = {uint8_t(prev >> 24), uint8_t(prev >> 16), uint8_t(prev >> 8), uint8_t(prev)};
    fwrite(p, 1, 4, f);
  }
  return fclose(f) == 0;
}

// Makes <dir>/src.flv (H.264 + AAC from lavfi) and returns its tags.
inline std::vector<FlvTag> MakeFlvSource(const std::string& dir, double seconds) {
  std::string src = dir + "/src.flv";
  std::string cmd = "ffmpeg -nostdin -y -v error -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                    "sine=frequency=440:sample_rate=44100 -t " +
                    std::to_string(seconds) +
                    " -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 64k " + ShellQuote(src);
  if (Run(cmd, true).status != 0) return {};
  return ReadFlvTags(src);
}

}  // namespace vvtest
