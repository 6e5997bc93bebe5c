#pragma once
// Helpers shared by the FLV reader and slice playback tests: hand-built FLV
// files and the tag lists that FFmpeg's own demuxer reports.
#include <cstdint>
#include <string>
#include <vector>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/tools/TestUtil.h"

namespace flvtest {

struct TagSpec {
  uint8_t type;
  uint32_t timestamp;
  std::vector<uint8_t> body;
};

struct ProbePacket {
  std::string codecType;  // "video" or "audio"
  int64_t pts = 0;
  int64_t dts = 0;
  int64_t size = 0;
  int64_t pos = 0;
  bool key = false;
};


namespace detail {
inline void Put24(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(static_cast<uint8_t>(v >> 16));
  o.push_back(static_cast<uint8_t>(v >> 8));
  o.push_back(static_cast<uint8_t>(v));
}
inline void Put32(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(static_cast<uint8_t>(v >> 24));
  detail::Put24(o, v & 0xFFFFFF);
}
}  // namespace detail

// An FLV file: header, PreviousTagSize0, then every tag with its trailing
// PreviousTagSize (left off after the last tag when trailingSize is false).
// The first tag's position is 9.
inline std::vector<uint8_t> BuildFlv(const std::vector<TagSpec>& tags, bool trailingSize = true) {
  std::vector<uint8_t> o = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0};
  for (size_t i = 0; i < tags.size(); ++i) {
    const TagSpec& t = tags[i];
    o.push_back(t.type);
    detail::Put24(o, static_cast<uint32_t>(t.body.size()));
    detail::Put24(o, t.timestamp & 0xFFFFFF);
    o.push_back(static_cast<uint8_t>(t.timestamp >> 24));
    detail::Put24(o, 0);
    o.insert(o.end(), t.body.begin(), t.body.end());
    if (trailingSize || i + 1 < tags.size()) detail::Put32(o, static_cast<uint32_t>(t.body.size() + 11));
  }
  return o;
}

inline bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t b[65536];
  size_t n;
  while ((n = fread(b, 1, sizeof(b), f)) > 0) out.insert(out.end(), b, b + n);
  fclose(f);
  return out;
}

inline std::vector<uint8_t> AvcBody(bool key, int packetType, int cts, int fillerBytes) {
  std::vector<uint8_t> b = {static_cast<uint8_t>((key ? 0x10 : 0x20) | 7), static_cast<uint8_t>(packetType)};
  detail::Put24(b, static_cast<uint32_t>(cts) & 0xFFFFFF);
  for (int i = 0; i < fillerBytes; ++i) b.push_back(static_cast<uint8_t>(i * 7 + 3));
  return b;
}

inline std::vector<uint8_t> AacBody(int packetType, int fillerBytes) {
  std::vector<uint8_t> b = {0xAF, static_cast<uint8_t>(packetType)};
  for (int i = 0; i < fillerBytes; ++i) b.push_back(static_cast<uint8_t>(i * 5 + 1));
  return b;
}

inline std::vector<ProbePacket> ProbePackets(const std::string& path) {
  std::vector<ProbePacket> out;
  auto r = vvtest::Run("ffprobe -v error -show_packets -show_entries packet=codec_type,pts,dts,size,pos,flags "
                       "-of compact=p=0 " + vvtest::ShellQuote(path));
  std::istringstream lines(r.output);
  std::string line;
  while (std::getline(lines, line)) {
    ProbePacket p;
    std::istringstream fields(line);
    std::string kv;
    while (std::getline(fields, kv, '|')) {
      size_t eq = kv.find('=');
      if (eq == std::string::npos) continue;
      std::string k = kv.substr(0, eq), v = kv.substr(eq + 1);
      if (k == "codec_type") p.codecType = v;
      else if (k == "pts") p.pts = atoll(v.c_str());
      else if (k == "dts") p.dts = atoll(v.c_str());
      else if (k == "size") p.size = atoll(v.c_str());
      else if (k == "pos") p.pos = atoll(v.c_str());
      else if (k == "flags") p.key = !v.empty() && v[0] == 'K';
    }
    out.push_back(p);
  }
  return out;
}

inline double ProbeDuration(const std::string& path) {
  auto r = vvtest::Run("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 " +
                       vvtest::ShellQuote(path));
  if (r.status != 0 || r.output.empty() || r.output.compare(0, 3, "N/A") == 0) return -1;
  return atof(r.output.c_str());
}

}  // namespace flvtest
