// Feeds arbitrary bytes to the transcoding session's readers: the JSON
// header, the AVC sequence header and NAL-unit records, and a whole session
// whose record stream is the input. Nothing may read past what arrived,
// throw, hang or leak.
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "core/IoBuffer.h"
#include "core/Log.h"
#include "media/TranscodeSession.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (SetLogLevel(0), av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  if (size > 65536) size = 65536;
  int n = static_cast<int>(size);

  TranscodeHeader header;
  CTranscodeSession::ParseHeader(std::string(reinterpret_cast<const char*>(data), size), header);
  const uint8_t *sps = nullptr, *pps = nullptr;
  int spsLength = 0, ppsLength = 0;
  if (CTranscodeSession::ParseSequenceHeader(data, n, sps, spsLength, pps, ppsLength)) {
    if (sps < data || sps + spsLength > data + n || pps < data || pps + ppsLength > data + n) __builtin_trap();
  }
  IoBuffer annexB;
  CTranscodeSession::NalUnitsToAnnexB(data, n, annexB);

  // A whole session: a fixed header, then the input as the record stream.
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  int big = 1 << 20;
  setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
  timeval tv{0, 100000};
  setsockopt(pair[0], SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  setsockopt(pair[1], SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  setsockopt(pair[0], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  static const char kHeader[] = "{\"width\":64,\"height\":48,\"frameRate\":25,\"bitRate\":100000}";
  uint8_t len[4] = {0, 0, 0, uint8_t(sizeof(kHeader) - 1)};
  bool ok = send(pair[1], len, 4, MSG_NOSIGNAL) == 4 &&
            send(pair[1], kHeader, sizeof(kHeader) - 1, MSG_NOSIGNAL) == ssize_t(sizeof(kHeader) - 1);
  size_t off = 0;
  while (ok && off < size) {
    ssize_t w = send(pair[1], data + off, size - off, MSG_NOSIGNAL);
    if (w <= 0) break;
    off += size_t(w);
  }
  shutdown(pair[1], SHUT_WR);
  CTranscodeSession session(nullptr);
  session.SetSocket(pair[0]);
  session.Run();  // closes pair[0]
  close(pair[1]);
  return 0;
}
