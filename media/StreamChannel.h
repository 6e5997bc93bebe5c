#pragma once
// The engine of one live item on one opened input: routes the input's
// packets, optionally decodes and re-encodes them with the item's sub-stream
// settings, packages FLV tag bodies for the stream outputs and hands raw
// packets to the record outputs. Seven worker threads with queues between
// them; a thread with nothing to do waits until its queue gets a packet, an
// output or codec arrives, the input opens or the channel stops.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>

extern "C" {
#include <libavutil/rational.h>
}

#include "core/IoBuffer.h"
#include "core/PacketQueue.h"
#include "core/WakeEvent.h"
#include "core/RowRecords.h"
#include "media/FrameRateGate.h"

struct AVCodecContext;
struct AVFrame;
class AudioDecoder;
class AudioEncoder;
class CVideoDecoder;
class CVideoEncoder;
class StreamOutput;
struct TaskStatus;

// What a channel reads from the input that owns it. The live source
// implements it; the channel only polls it from its stream-information
// thread and never keeps the contexts beyond handing them to its outputs.
class StreamChannelOwner {
 public:
  virtual bool IsStarted() const = 0;  // the input is open and being read
  virtual bool HasVideo() const = 0;
  virtual bool HasAudio() const = 0;
  // The codec contexts channels see (the input's own, or the source's
  // converter's when it had to convert) and the input streams' time bases.
  virtual AVCodecContext* GetChannelVideoCodecContext() const = 0;
  virtual AVCodecContext* GetChannelAudioCodecContext() const = 0;
  virtual AVRational GetVideoTimeBase() const = 0;
  virtual AVRational GetAudioTimeBase() const = 0;

 protected:
  ~StreamChannelOwner() = default;
};

class StreamChannel {
 public:
  // Output types of AddOutput.
  enum { kStreamOutput = 1, kRecordOutput = 2 };

  StreamChannel(int liveId, const SubStreamInfo* settings);
  ~StreamChannel();
  StreamChannel(const StreamChannel&) = delete;
  StreamChannel& operator=(const StreamChannel&) = delete;

  void SetOwner(StreamChannelOwner* o) { owner = o; }
  StreamChannelOwner* GetOwner() const { return owner; }
  int GetLiveId() const { return liveId; }
  // The channel's own copy of its transcode settings, or null.
  const SubStreamInfo* GetSettings() const { return settings; }

  bool Start();
  void Stop();
  bool IsRunning() const { return running.load(); }
  void SetUseVideo(bool v) { useVideo = v; }
  void SetUseAudio(bool v) { useAudio = v; }
  void SetHasStreamOutputs(bool v) { hasStreamOutputs = v; }
  void SetHasRecordOutputs(bool v) {
    hasRecordOutputs = v;
    wake.Notify();
  }
  // The owner's input has opened: outputs waiting for it may start now.
  void NotifyInputStarted() { wake.Notify(); }

  // The codec wrappers, for the source's set-up thread to configure before
  // the matching Open call.
  CVideoDecoder* GetVideoDecoder() { return videoDecoder; }
  CVideoEncoder* GetVideoEncoder() { return videoEncoder; }
  AudioDecoder* GetAudioDecoder() { return audioDecoder; }
  AudioEncoder* GetAudioEncoder() { return audioEncoder; }
  bool OpenVideoDecoder();
  bool OpenVideoEncoder();
  bool OpenAudioDecoder();
  bool OpenAudioEncoder();
  void CloseVideoDecoder();
  void CloseVideoEncoder();
  void CloseAudioDecoder();
  void CloseAudioEncoder();

  // Configures and opens the codecs the settings ask for, from what the
  // owner reports of its input, and marks which media the channel uses. A
  // decoder is opened only behind an encoder that opened (and the encoder
  // is closed again when its decoder fails), so compressed packets never
  // reach an encoder: a medium whose codecs did not open passes through
  // when nothing is transcoded, and is dropped beside a transcoded one.
  void SetUpCodecs();

  // Takes a packet of the input (the channel owns it from here on).
  void PushInput(IoBuffer* packet);

  // Outputs, one per task id, owned here. A null output is ignored; an
  // existing entry for the task id stays (the caller removes it first).
  void AddOutput(int taskId, int type, StreamOutput* output);
  void RemoveOutput(int taskId, int kind);
  bool HasOutput(int taskId, int kind);
  // Copies the output's refreshed status under the output-map lock, so the
  // output cannot go away while it is read; false when there is none.
  bool GetOutputStatus(int taskId, int kind, TaskStatus& out);
  bool HasOutputs();
  // Task ids of the relay outputs; the caller frees the array (delete[]).
  int* GetOutputIds(int& count);
  // The per-second bit-rate tick of every output.
  void ForEachOutput();

  // Copies of the current sequence headers (caller frees), null when none.
  IoBuffer* CopyAvcSequenceHeader();
  IoBuffer* CopyAudioSequenceHeader();

  // Takes the next packet of a queue whose newest packet is stamped newest.
  // When more than limitMs of media wait, the old part is dropped: up to
  // the next video key frame for compressed media, down to half the limit
  // for decoded pictures and samples. An end of stream is never dropped.
  // Returns the packet to handle (null when none) and counts the drops.
  static IoBuffer* TakeBounded(PacketQueue* q, int64_t newest, int64_t limitMs, bool decoded,
                               int* dropped);
  // Frees a packet together with the decoded picture or samples it carries.
  static void FreePacket(IoBuffer* p);

  // A queue behind a slow stage keeps at most this much media; older
  // packets are dropped up to the next key frame.
  static constexpr int64_t kQueueLimitMs = 10000;
  // Decoded pictures are large: the encode queue holds less.
  static constexpr int64_t kPictureQueueLimitMs = 2000;

 private:
  static void* InfoEntry(void* self);
  static void* DispatchEntry(void* self);
  static void* DecodeEntry(void* self);
  static void* EncodeEntry(void* self);
  static void* PackEntry(void* self);
  static void* OutputEntry(void* self);
  static void* PassThroughEntry(void* self);
  void InfoThread();
  void DispatchThread();
  void DecodeThread();
  void EncodeThread();
  void PackThread();
  void OutputThread();
  void PassThroughThread();

  void DecodeVideo(IoBuffer* packet);
  void DecodeAudio(IoBuffer* packet);
  void QueuePicture(AVFrame* picture, const IoBuffer& from);
  void QueueSamples(const IoBuffer& from);
  void FlushDecoders(const IoBuffer& eos);
  void EncodeVideo(IoBuffer* picture);
  void EncodeAudio(IoBuffer* samples);
  void SendVideoPacket(IoBuffer* encoded, const IoBuffer* picture);
  void SendAudioPackets(const IoBuffer& samples);
  void SetHeaders(const IoBuffer* avc, const IoBuffer* audio);
  bool AnyDecoderOpen() const { return videoDecoderOpen || audioDecoderOpen; }
  bool AnyEncoderOpen() const { return videoEncoderOpen || audioEncoderOpen; }

  AudioDecoder* audioDecoder;
  AudioEncoder* audioEncoder;
  CVideoDecoder* videoDecoder;
  CVideoEncoder* videoEncoder;
  PacketQueue* inputQueue;
  PacketQueue* decodeQueue;
  PacketQueue* encodeQueue;
  PacketQueue* streamQueue;
  PacketQueue* recordQueue;
  std::atomic<bool> videoDecoderOpen{false};
  std::atomic<bool> videoEncoderOpen{false};
  std::atomic<bool> audioDecoderOpen{false};
  std::atomic<bool> audioEncoderOpen{false};
  std::atomic<bool> hasStreamOutputs{false};
  std::atomic<bool> hasRecordOutputs{false};
  SubStreamInfo* settings = nullptr;
  StreamChannelOwner* owner = nullptr;
  std::atomic<bool> running{false};
  std::atomic<bool> useVideo{false};
  std::atomic<bool> useAudio{false};
  enum { kInfo, kDispatch, kDecode, kEncode, kPack, kOutput, kPassThrough, kThreadCount };
  pthread_t threads[kThreadCount];
  bool threadStarted[kThreadCount] = {};
  // The sequence headers, guarded by headerMutex: built by the package
  // thread, copied out by the stream send thread.
  IoBuffer* avcHeader = nullptr;
  IoBuffer* audioHeader = nullptr;
  pthread_mutex_t headerMutex;
  PacketQueue* packagedQueue;
  // Wakes the threads that wait for an output, an opened codec, the input
  // or the stop (not for packets: those wait on their queues).
  WakeEvent wake;
  pthread_mutex_t mutex;  // guards outputs
  std::map<int, StreamOutput*> outputs;
  std::set<const StreamOutput*> startedOutputs;  // under mutex
  int liveId;
  bool stopped = false;
  // Decode-thread state for draining the decoders at end of stream.
  int64_t lastVideoTs = 0, lastVideoDts = 0, lastAudioTs = 0;
  // Pictures beyond the settings' frame rate are not encoded (encode thread).
  FrameRateGate videoGate;
  // Encoder sample count to milliseconds (encode thread).
  bool audioAnchored = false;
  int64_t audioAnchorMs = 0, audioAnchorPts = 0, audioSamplesFed = 0;
  IoBuffer::ExtraData audioConfig;
  // Newest timestamps pushed on each queue, to tell how much media waits.
  std::atomic<int64_t> newestInput{0}, newestDecode{0}, newestEncode{0}, newestStream{0},
      newestPackaged{0}, newestRecord{0};
};
