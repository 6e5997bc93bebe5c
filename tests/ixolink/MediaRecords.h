#pragma once
// Media records as the relay and the transcoding sessions carry them
// (4-byte timestamp, 1-byte kind, 4-byte length, FLV tag body), and their
// conversion from and to FLV files for checking with ffprobe.
#include <arpa/inet.h>
#include <json/json.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/tools/TestUtil.h"

namespace ixotest {

struct Record {
  uint32_t timestamp = 0;
  uint8_t kind = 0;  // 0 audio, 1 video
  std::string body;
};

inline int ConnectTo(int port, int timeoutMs) { return vvtest::ConnectLoopback(port, timeoutMs, true); }

inline bool RecvAll(int fd, void* p, size_t n) {
  char* c = static_cast<char*>(p);
  while (n > 0) {
    ssize_t k = recv(fd, c, n, 0);
    if (k <= 0) return false;
    c += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

inline bool SendAll(int fd, const std::string& s) {
  size_t off = 0;
  while (off < s.size()) {
    ssize_t k = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (k <= 0) return false;
    off += static_cast<size_t>(k);
  }
  return true;
}

inline uint32_t Be32(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline std::string PutBe32(uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

inline bool ReadRecord(int fd, Record& r) {
  unsigned char h[9];
  if (!RecvAll(fd, h, 9)) return false;
  r.timestamp = Be32(h);
  r.kind = h[4];
  uint32_t n = Be32(h + 5);
  if (n > 8 * 1024 * 1024) return false;
  r.body.assign(n, '\0');
  return n == 0 || RecvAll(fd, r.body.data(), n);
}

inline std::string RecordBytes(const Record& r) {
  return PutBe32(r.timestamp) + std::string(1, char(r.kind)) + PutBe32(static_cast<uint32_t>(r.body.size())) + r.body;
}

// An FLV file of the records: audio records become tags of type 8, video
// records tags of type 9.
inline std::string FlvOf(const std::vector<Record>& records) {
  std::string out("FLV\x01\x05\x00\x00\x00\x09", 9);
  out += PutBe32(0);
  for (const Record& r : records) {
    uint32_t n = static_cast<uint32_t>(r.body.size());
    out += char(r.kind == 0 ? 8 : 9);
    out += std::string{char(n >> 16), char(n >> 8), char(n)};
    out += std::string{char(r.timestamp >> 16), char(r.timestamp >> 8), char(r.timestamp), char(r.timestamp >> 24)};
    out += std::string(3, '\0');
    out += r.body;
    out += PutBe32(n + 11);
  }
  return out;
}

// The audio and video tags of an FLV file as records.
inline std::vector<Record> RecordsOfFlv(const std::string& flv) {
  std::vector<Record> out;
  size_t at = 13;
  while (at + 11 <= flv.size()) {
    const unsigned char* t = reinterpret_cast<const unsigned char*>(flv.data() + at);
    uint32_t n = (uint32_t(t[1]) << 16) | (uint32_t(t[2]) << 8) | t[3];
    uint32_t ts = (uint32_t(t[7]) << 24) | (uint32_t(t[4]) << 16) | (uint32_t(t[5]) << 8) | t[6];
    if (at + 11 + n + 4 > flv.size()) break;
    if (t[0] == 8 || t[0] == 9) out.push_back({ts, uint8_t(t[0] == 8 ? 0 : 1), flv.substr(at + 11, n)});
    at += 11 + n + 4;
  }
  return out;
}

struct Probe {
  std::string codecs;  // codec names, sorted, comma-separated
  int width = 0;
  int height = 0;
};

inline Probe ProbeFile(const std::string& path) {
  Probe p;
  auto r = vvtest::Run("ffprobe -v error -show_entries stream=codec_name,width,height -of json " +
                       vvtest::ShellQuote(path));
  Json::Value v;
  Json::Reader reader;
  if (r.status != 0 || !reader.parse(r.output, v)) return p;
  std::vector<std::string> names;
  for (const auto& s : v["streams"]) {
    names.push_back(s["codec_name"].asString());
    if (s.isMember("width")) {
      p.width = s["width"].asInt();
      p.height = s["height"].asInt();
    }
  }
  std::sort(names.begin(), names.end());
  for (auto& n : names) p.codecs += (p.codecs.empty() ? "" : ",") + n;
  return p;
}

}  // namespace ixotest
