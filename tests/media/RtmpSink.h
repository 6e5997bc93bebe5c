#pragma once
// A playing RTMP client for the delay tests: it reads what the RTMP server
// hands out and notes, for every audio and video message, when it arrived
// and which timestamp it carried. It reconnects whenever the server goes
// away, numbering its sessions.
#include <librtmp/log.h>
#include <librtmp/rtmp.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/RtmpSession.h"

namespace rtmptest {

inline int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct SinkMessage {
  int session;
  int64_t arrival;     // steady clock, ms
  uint32_t timestamp;  // as the server sent it
  int type;            // 8 audio, 9 video
  uint8_t first;       // first body byte (codec and frame type)
  uint8_t second;      // second body byte (AVC / AAC packet type)
  uint32_t size;
  uint64_t hash;  // of the whole body
};

inline uint64_t BodyHash(const uint8_t* p, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

class RtmpSink {
 public:
  explicit RtmpSink(const std::string& url) : url(url) {
    // The library's first RTMP_Init sets up shared state without a lock:
    // let it happen once, the way the outputs do, before our own thread
    // calls it beside theirs.
    RtmpSession::GlobalInit();
    thread = std::thread([this] { Run(); });
  }
  ~RtmpSink() {
    stop = true;
    thread.join();
  }
  RtmpSink(const RtmpSink&) = delete;
  RtmpSink& operator=(const RtmpSink&) = delete;

  std::vector<SinkMessage> Messages() {
    std::lock_guard<std::mutex> lock(mutex);
    return messages;
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return messages.size();
  }
  int Sessions() const { return sessions.load(); }

 private:
  void Run() {
    RTMP_LogSetLevel(RTMP_LOGCRIT);
    while (!stop) {
      RTMP* r = RTMP_Alloc();
      RTMP_Init(r);
      r->Link.timeout = 10;
      std::string text = url + " live=1";
      std::vector<char> buf(text.begin(), text.end());
      buf.push_back(0);
      bool ok = RTMP_SetupURL(r, buf.data()) && RTMP_Connect(r, nullptr) && RTMP_ConnectStream(r, 0);
      if (ok) {
        int session = ++sessions;
        RTMPPacket packet{};
        while (!stop && RTMP_IsConnected(r) && !RTMP_IsTimedout(r)) {
          if (!RTMP_ReadPacket(r, &packet)) break;
          if (!RTMPPacket_IsReady(&packet)) continue;
          if ((packet.m_packetType == 8 || packet.m_packetType == 9) && packet.m_nBodySize >= 2) {
            SinkMessage m{session,
                          NowMs(),
                          packet.m_nTimeStamp,
                          packet.m_packetType,
                          static_cast<uint8_t>(packet.m_body[0]),
                          static_cast<uint8_t>(packet.m_body[1]),
                          packet.m_nBodySize,
                          BodyHash(reinterpret_cast<const uint8_t*>(packet.m_body), packet.m_nBodySize)};
            std::lock_guard<std::mutex> lock(mutex);
            messages.push_back(m);
          } else {
            RTMP_ClientPacket(r, &packet);
          }
          RTMPPacket_Free(&packet);
        }
        RTMPPacket_Free(&packet);
      }
      RTMP_Close(r);
      RTMP_Free(r);
      for (int i = 0; i < 10 && !stop; ++i) usleep(20000);
    }
  }

  std::string url;
  std::atomic<bool> stop{false};
  std::atomic<int> sessions{0};
  std::mutex mutex;
  std::vector<SinkMessage> messages;
  std::thread thread;
};

}  // namespace rtmptest
