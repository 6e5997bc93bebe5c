#pragma once
// One opened input (network URL, media file or capture-device pair) read
// with FFmpeg and copied to every channel that reads from it. Four threads:
// read (one per successful open), reconnect (every 2000 ms), dispatch to the
// channels (polls every 3 ms) and channel set-up (every 1 ms).
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

#include "core/IoBuffer.h"
#include "core/PacketQueue.h"
#include "core/RowRecords.h"
#include "core/WakeEvent.h"
#include "media/StreamChannel.h"

struct AVBSFContext;
struct AVCodecContext;
struct AVDictionary;
struct AVFormatContext;
struct AVPacket;
class AudioDecoder;
class AudioEncoder;
class CVideoDecoder;
class CVideoEncoder;

class CLiveSource final : public StreamChannelOwner {
 public:
  // URL kinds.
  enum { kOther = 0, kUdp = 1, kRtsp = 2, kRtmp = 3, kHttp = 4, kDevice = 5 };

  explicit CLiveSource(int liveId);
  ~CLiveSource();
  CLiveSource(const CLiveSource&) = delete;
  CLiveSource& operator=(const CLiveSource&) = delete;

  void SetUrl(const std::string& url);
  void SetDevice(const DeviceSourceInfo& info);
  // The FFmpeg inputs a capture pair opens ("v4l2" and "alsa" or "pulse").
  // Any other input format takes the device names as its URLs, so a pair of
  // lavfi graphs can stand in for real devices.
  void SetCaptureFormats(const std::string& videoFormat, const std::string& audioFormat);

  bool Start();
  void Stop();

  // Channels, one per live id, owned here.
  void AddOutput(StreamChannel* channel, int liveId);
  StreamChannel* GetOutput(int liveId);
  bool HasOutput(int liveId);
  int GetOutputCount();
  // Removes the task's output from the live id's channel; a channel left
  // without outputs is stopped and deleted.
  void RemoveOutput(int liveId, int taskId, int kind);

  // Opens the input (called by the reconnect thread).
  bool Open();

  // What channels read of the input.
  bool IsStarted() const override { return started.load(); }
  bool HasVideo() const override;
  bool HasAudio() const override;
  AVCodecContext* GetChannelVideoCodecContext() const override;
  AVCodecContext* GetChannelAudioCodecContext() const override;
  AVRational GetVideoTimeBase() const override;
  AVRational GetAudioTimeBase() const override;

  const std::string& GetUrl() const { return url; }
  int GetUrlKind() const { return urlKind; }
  int GetLiveId() const { return liveId; }
  int GetFrameRate() const { return frameRate.load(); }
  std::string GetLastError() const;
  // Why the input cannot be opened, for the operator, while the reason
  // holds (a camera URL that cannot be resolved); "" otherwise. The source
  // keeps trying all the same.
  std::string GetOpenProblem() const;
  bool IsVideoConverted() const { return videoConverted.load(); }
  bool IsAudioConverted() const { return audioConverted.load(); }
  // Sees every packet the dispatch thread hands on, before the channels do
  // (diagnostics and tests). Set before Start.
  void SetPacketTap(std::function<void(const IoBuffer&)> tap) { packetTap = std::move(tap); }
  // Open attempts so far (diagnostics).
  int GetOpenAttempts() const { return openAttempts.load(); }

  // Longest single pacing sleep; a packet further ahead than this re-anchors
  // the pacing instead (a jump in the input's timestamps).
  static constexpr int64_t kMaxPacingAheadMs = 3000;
  // The source's own queue keeps at most this much media waiting for
  // dispatch; older packets are dropped up to the next key frame.
  static constexpr int64_t kQueueLimitMs = 10000;
  static constexpr int kReconnectIntervalMs = 2000;
  // A failure that repeats on every attempt is logged once, then at most
  // this often.
  static constexpr int64_t kRepeatedFailureLogMs = 60000;
  static constexpr int kReadTimeoutMs = 4000;

 private:
  // One FFmpeg demuxer of the source (a capture pair has two).
  struct Input {
    CLiveSource* owner = nullptr;
    AVFormatContext* fmt = nullptr;
    int videoIndex = -1;
    int audioIndex = -1;
    // Read time-out bookkeeping; the interrupt callback may run on FFmpeg's
    // own threads (the UDP receiver).
    std::atomic<int64_t> readStart{0};
    std::atomic<int64_t> budget{4000};
    std::atomic<bool> armed{false};
    // First packet's time of this input (shared by its audio and video) and
    // where that lies on the source's common clock.
    bool haveOrigin = false;
    int64_t originMs = 0;
    int64_t originShift = 0;
    // Per-medium shift after a jump in the input's timestamps.
    int64_t videoOffset = 0, audioOffset = 0;
    // Real-time pacing anchor.
    bool paced = false;
    bool haveAnchor = false;
    int64_t anchorMs = 0;
    int64_t anchorTick = 0;
    int64_t lastVideoMs = -1, lastAudioMs = -1;
  };

  static void* ReadEntry(void* self);
  static void* AuxReadEntry(void* self);
  static void* ReconnectEntry(void* self);
  static void* DispatchEntry(void* self);
  static void* SetupEntry(void* self);
  static int InterruptCallback(void* input);
  void ReadThread();
  void ReconnectThread();
  void DispatchThread();
  void OutputSetupThread();

  bool OpenInput(Input& in, const std::string& target, const char* format, AVDictionary** options);
  bool OpenUrlInputs();
  bool OpenDeviceInputs();
  bool TakeStreams(Input& in, bool wantVideo, bool wantAudio);
  void CloseInputs();
  bool OpenVideoCodecs(AVCodecContext* input);
  bool OpenAudioCodecs(AVCodecContext* input);
  void CloseCodecs();
  void ReadLoop(Input& in);
  void HandleVideo(Input& in, AVPacket* pkt);
  void HandleAudio(Input& in, AVPacket* pkt);
  // Take the new codec configuration an input announces on a packet (a new
  // AVC or AAC sequence header in the middle of an FLV stream).
  void NoteNewVideoConfig(const AVPacket* pkt);
  void NoteNewAudioConfig(const AVPacket* pkt);
  void QueuePacket(IoBuffer* packet);
  bool Stamp(Input& in, bool video, int64_t pts, int64_t dts, int64_t duration, int64_t& ts, int64_t& ptsOut,
             int64_t& dtsOut, int& cts);
  void Pace(Input& in, int64_t ts);
  // Sleeps ms; false when cut short by Stop (or, while reading, by the end
  // of the input).
  bool SleepWhileRunning(int64_t ms, bool whileReading);
  void SetLastError(const std::string& text);
  void JoinReadThread();
  // Keeps a context handed to channels alive until the source is deleted,
  // unless an equal one is already published.
  AVCodecContext* Publish(AVCodecContext*& slot, AVCodecContext* fresh);

  int liveId;
  std::string url;
  int urlKind = kOther;
  DeviceSourceInfo device;
  std::string videoCaptureFormat = "v4l2";
  std::string audioCaptureFormat = "alsa";

  pthread_mutex_t mutex;  // guards channels
  std::map<int, StreamChannel*> channels;
  std::set<const StreamChannel*> configured;  // set up and started once
  // Guards what channels read of the input (contexts, time bases, flags),
  // the last error and the open problem. Taken alone: nothing else is
  // locked under it.
  mutable pthread_mutex_t infoMutex;
  AVCodecContext* channelVideoContext = nullptr;
  AVCodecContext* channelAudioContext = nullptr;
  std::vector<AVCodecContext*> retiredContexts;
  AVRational videoTimeBase{1, 1000};
  AVRational audioTimeBase{1, 1000};
  bool hasVideo = false;
  bool hasAudio = false;
  std::string lastError;
  std::string openProblem;
  // Reconnect thread: when the camera failure was last logged (-1: not in
  // this run of failures) and the attempts since.
  int64_t cameraFailureLoggedAt = -1;
  int cameraFailures = 0;

  // Read-thread state (valid between an Open and the end of its read).
  Input inputs[2];
  int inputCount = 0;
  AVCodecContext* inputVideoContext = nullptr;
  AVCodecContext* inputAudioContext = nullptr;
  int videoCodecId = 0;
  int audioCodecId = 0;
  AVRational inVideoTimeBase{1, 1000};
  AVRational inAudioTimeBase{1, 1000};
  int audioSampleRate = 0;
  int audioChannels = 0;
  IoBuffer::ExtraData audioExtra;
  AVBSFContext* bsf = nullptr;
  CVideoDecoder* videoDecoder = nullptr;
  CVideoEncoder* videoEncoder = nullptr;
  AudioDecoder* audioDecoder = nullptr;
  AudioEncoder* audioEncoder = nullptr;
  bool videoCodecsOpen = false;
  bool audioCodecsOpen = false;
  std::atomic<bool> videoConverted{false};
  std::atomic<bool> audioConverted{false};
  // Converted audio: encoder sample count to milliseconds.
  bool audioAnchored = false;
  int64_t audioAnchorMs = 0;
  int64_t audioAnchorSamples = 0;
  int64_t audioSamplesFed = 0;
  // Shared origin of the inputs of one open, under timeMutex.
  pthread_mutex_t timeMutex;
  bool haveSharedOrigin = false;
  int64_t sharedOriginTick = 0;

  std::atomic<int> frameRate{0};
  std::atomic<bool> running{false};
  // Set by Stop: blocked FFmpeg calls give up (an Open made before Start
  // runs without the threads and is not cut short).
  std::atomic<bool> stopping{false};
  std::atomic<bool> started{false};
  std::atomic<bool> needOpen{true};
  std::atomic<bool> readFailed{false};
  // Wakes the set-up thread (a channel added, the input opened) and cuts
  // short the pacing and reconnect sleeps (a stop, the end of the input).
  WakeEvent wake;
  std::atomic<int> openAttempts{0};
  PacketQueue* queue;
  std::function<void(const IoBuffer&)> packetTap;
  std::atomic<int64_t> newestQueued{0};

  enum { kRead, kReconnect, kDispatch, kSetup, kAuxRead, kThreadCount };
  pthread_t threads[kThreadCount];
  bool threadStarted[kThreadCount] = {};
  // Serialises Start/Stop against each other.
  pthread_mutex_t lifeMutex;
};
