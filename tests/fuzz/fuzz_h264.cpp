// Feeds arbitrary bytes to the H.264 parser: splitting, parameter sets and
// slice headers must never read outside the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/Log.h"
#include "media/H264Frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The parser reports refused parameter sets on the standard output.
  static bool quiet = (SetLogLevel(0), freopen("/dev/null", "w", stdout) != nullptr);
  (void)quiet;
  int n = static_cast<int>(size > (1 << 20) ? (1 << 20) : size);
  H264Frame frame;
  frame.ParseSps(data, n);
  frame.ParsePps(data, n);
  frame.GetFrameType(data, n);
  frame.Parse(data, n);
  while (IoBuffer* u = frame.TakeNalUnit()) {
    frame.GetFrameType(u->GetData(), u->GetSize());
    delete u;
  }
  frame.Parse(data, n);  // a second pass with the parameter sets kept
  return 0;
}
