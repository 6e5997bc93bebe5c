#pragma once
// One transcoding connection: a JSON header frame, then records of
// (4-byte timestamp, 1-byte type, 4-byte length, FLV tag body). Video is
// decoded, scaled and re-encoded to the header's size, rate and bit rate and
// sent back on the same connection after one AVC sequence header; audio
// records come back unchanged.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "core/IoBuffer.h"
#include "media/FrameRateGate.h"

class CTranscodeSession;
class CVideoDecoder;
class CVideoEncoder;
class H264Frame;

// Whoever keeps the list of running sessions (the live-channel manager). At
// the very end of its thread a session hands itself to RemoveTranscodeSession,
// which takes it off the list and deletes it; the session touches nothing of
// itself after that call.
class ITranscodeSessionOwner {
 public:
  virtual ~ITranscodeSessionOwner() = default;
  virtual void RemoveTranscodeSession(CTranscodeSession* session) = 0;
};

// What the header asks for; 0 where it is missing or unusable.
struct TranscodeHeader {
  int width = 0;
  int height = 0;
  int frameRate = 0;
  int bitRate = 0;
};

class CTranscodeSession {
 public:
  // Records above this end the session: no real picture comes near it.
  static constexpr uint32_t kMaxRecordBytes = 16u * 1024u * 1024u;

  explicit CTranscodeSession(ITranscodeSessionOwner* owner = nullptr);
  ~CTranscodeSession();
  CTranscodeSession(const CTranscodeSession&) = delete;
  CTranscodeSession& operator=(const CTranscodeSession&) = delete;

  // The accepted connection; the session owns it and closes it once.
  void SetSocket(int fd);
  // Send and receive time-out set on the socket by Start (ms).
  void SetTimeoutMs(int ms) { timeoutMs = ms; }
  // Starts the session thread. On its end the owner removes and deletes the
  // session (without an owner the session deletes itself). False when the
  // thread could not start; the caller still owns the session then.
  bool Start();
  // The whole session on the calling thread; returns when the connection
  // ends, with the socket closed. Start runs it on the session thread.
  void Run();
  // Ends a running session from another thread (the peer sees a closed
  // connection); the session still removes itself as usual.
  void Stop();

  bool OpenCodecs();
  void CloseCodecs();
  // 1 when every byte went out (also of an empty buffer), 0 when there is no
  // connection or a send failed or sent nothing.
  int SendAll(const IoBuffer& buffer);

  // The once-a-second statistics tick (the manager's statistics thread).
  void UpdateBitrate();
  int GetAvg3() const { return avg3.load(); }
  int GetAvgAll() const { return avgAll.load(); }
  int GetWidth() const { return width.load(); }
  int GetHeight() const { return height.load(); }
  int GetFrameRate() const { return frameRate.load(); }
  int GetBitRate() const { return bitRate.load(); }
  // Records read and dropped because they were malformed or of no use.
  int64_t GetDroppedRecords() const { return dropped.load(); }

  // Parsing of what arrives, usable on its own (and by the fuzz target).
  // False when the text is not a JSON object; values of the wrong type or
  // range are logged and left at 0.
  static bool ParseHeader(const std::string& text, TranscodeHeader& out);
  // The encoder takes even sizes only: an odd width or height is rounded
  // down (and logged). True when the size was changed.
  static bool EvenSize(TranscodeHeader& header);
  // The SPS and PPS of an AVC sequence header tag body; false when the
  // lengths do not fit the record.
  static bool ParseSequenceHeader(const uint8_t* body, int n, const uint8_t*& sps, int& spsLength,
                                  const uint8_t*& pps, int& ppsLength);
  // Length-prefixed NAL units (from byte 5 of a tag body) to Annex B with
  // 4-byte start codes; false when a length runs past the end (what fitted
  // before it is kept).
  static bool NalUnitsToAnnexB(const uint8_t* bytes, int n, IoBuffer& out);

 private:
  static void* ThreadMain(void* arg);
  bool ReadExact(uint8_t* out, uint32_t n, uint32_t& got, bool& orderlyEnd);
  // Reads a frame or record whose first byte is awaited with the socket's
  // receive time-out; the rest must then come within one time-out as a
  // whole, however it trickles. out grows only as bytes arrive.
  bool ReadFirstThenRest(uint8_t* first, uint32_t n, uint32_t& got, bool& orderlyEnd);
  bool ReadGrowing(std::vector<uint8_t>& out, uint32_t n, uint32_t& got, bool& orderlyEnd);
  void CloseSocket();
  bool HandleVideo(uint32_t timestamp, const uint8_t* body, uint32_t n);
  bool HandleSequenceHeader(const uint8_t* body, uint32_t n);
  bool Transcode(const uint8_t* annexB, int n, int64_t pts, int64_t dts);
  bool EncodeAndSend(const void* picture);
  bool SendEncoded(IoBuffer* packet);
  bool SendRecord(uint32_t timestamp, uint8_t type, const uint8_t* data, uint32_t n);
  void Drain();

  ITranscodeSessionOwner* owner;
  int sock = -1;
  pthread_mutex_t sockMutex;
  int timeoutMs = 5000;
  // Written once by the session thread, read by the views' timers.
  std::atomic<int> width{0}, height{0}, frameRate{0}, bitRate{0};
  CVideoEncoder* encoder = nullptr;
  CVideoDecoder* decoder = nullptr;
  bool sequenceHeaderSent = false;
  int spsWidth = 0, spsHeight = 0;
  H264Frame* frameParser;
  IoBuffer* outFrame;
  IoBuffer* inFrame = nullptr;
  std::vector<uint8_t> spsPps;  // input parameter sets, Annex B
  bool codecsOpen = false;
  // Pictures beyond the asked frame rate are not encoded.
  FrameRateGate rateGate;
  // The end of the frame or record being read (steady clock, ms); 0 while
  // waiting for its first byte.
  int64_t readDeadlineMs = 0;
  std::vector<uint8_t> record;
  std::vector<uint8_t> annexB;

  std::atomic<int64_t> currentBits{0};
  int64_t totalBits = 0;
  int64_t window[3] = {0, 0, 0};
  std::atomic<int> avg3{0};
  std::atomic<int> avgAll{0};
  int seconds = 0;
  std::atomic<int64_t> dropped{0};
};
