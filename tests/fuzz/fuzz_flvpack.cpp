// Drives the FLV packager with packets cut from arbitrary bytes: the first
// byte of each chunk picks the kind of packet, the next its length.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "core/Log.h"
#include "media/FlvPackager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The parser reports refused parameter sets on the standard output.
  static bool quiet = (SetLogLevel(0), freopen("/dev/null", "w", stdout) != nullptr);
  (void)quiet;
  FlvPackager pk;
  std::vector<IoBuffer*> out;
  size_t pos = 0;
  int64_t ts = 0;
  while (pos + 2 <= size) {
    uint8_t kind = data[pos];
    size_t n = data[pos + 1] * 8u + (kind >> 4);
    pos += 2;
    if (n > size - pos) n = size - pos;
    IoBuffer p(static_cast<int>(n) + 1);
    p.Write(data + pos, static_cast<int>(n));
    pos += n;
    ts += kind & 0x0f;
    p.SetTimestamp(ts);
    p.SetCompositionTime(static_cast<int8_t>(kind));
    switch (kind & 3) {
      case 0: p.SetType(1); p.SetCodecId(AV_CODEC_ID_H264); break;
      case 1:
        p.SetType(2);
        p.SetCodecId(AV_CODEC_ID_AAC);
        p.SetSampleRate(kind * 400);
        p.SetChannels(kind & 7);
        if (kind & 0x40 && n >= 2) p.SetExtraData(data + pos - n, 2);
        break;
      case 2: p.SetType(2); p.SetCodecId(AV_CODEC_ID_MP3); break;
      default: p.SetType(3); break;
    }
    pk.Process(p, out);
    for (IoBuffer* b : out) {
      if (b->GetType() == 9 && b->GetSize() < 5) __builtin_trap();
      delete b;
    }
    out.clear();
  }
  return 0;
}
