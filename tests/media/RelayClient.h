#pragma once
// A relay client as the Ixo media server would be one: connects to the relay
// port on 127.0.0.1 and reads the framed records. Header-only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "tests/media/FlvTags.h"
#include "tests/tools/TestUtil.h"

namespace vvtest {

struct RelayRecord {
  uint32_t timestamp = 0;
  uint8_t kind = 0;  // 0 audio, 1 video
  std::vector<uint8_t> body;
};

inline bool ReadExact(int fd, uint8_t* out, size_t n) {
  while (n > 0) {
    ssize_t r = recv(fd, out, n, 0);
    if (r <= 0) return false;
    out += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// Reads records until the peer closes, a read times out, or max records came.
inline std::vector<RelayRecord> ReadRelayRecords(int fd, size_t max = SIZE_MAX) {
  std::vector<RelayRecord> out;
  while (out.size() < max) {
    uint8_t h[9];
    if (!ReadExact(fd, h, 9)) break;
    RelayRecord r;
    r.timestamp = uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | h[3];
    r.kind = h[4];
    uint32_t len = uint32_t(h[5]) << 24 | uint32_t(h[6]) << 16 | uint32_t(h[7]) << 8 | h[8];
    if (len > (64u << 20)) break;
    r.body.resize(len);
    if (len && !ReadExact(fd, r.body.data(), len)) break;
    out.push_back(std::move(r));
  }
  return out;
}

// The FLV the records describe: kind 0 becomes an audio tag, 1 a video tag.
inline std::vector<FlvTag> TagsFromRecords(const std::vector<RelayRecord>& records) {
  std::vector<FlvTag> tags;
  for (const RelayRecord& r : records) {
    FlvTag t;
    t.type = r.kind == 0 ? 8 : 9;
    t.timestamp = r.timestamp;
    t.body = r.body;
    tags.push_back(std::move(t));
  }
  return tags;
}

}  // namespace vvtest
