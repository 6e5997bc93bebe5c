#pragma once
// One task's output on a stream channel. Mode 0 publishes FLV audio and video
// messages to an RTMP URL (directly, or behind a delay held in memory or in
// FLV slice files), mode 1 serves them to one TCP client as framed records,
// mode 2 muxes raw packets into record files. The channel configures,
// starts, feeds and ticks it; the output's own threads do the work.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

#include "core/IoBuffer.h"
#include "core/LogRepeat.h"
#include "core/PacketQueue.h"
#include "core/RowRecords.h"
#include "core/WakeEvent.h"
#include "media/TaskStatus.h"

struct AVCodecContext;
class File64;
class Tag;
class RtmpSession;
class Recorder;

class StreamOutput {
 public:
  enum Mode { kPublish = 0, kRelay = 1, kRecord = 2 };

  // forward: the task row when the task publishes with a delay, else null;
  // record: the record-task row of a mode-2 output, else null.
  StreamOutput(int id, const std::string& url, int mode, const ForwardTaskInfo* forward,
               const RecordTaskInfo* record);
  ~StreamOutput();
  StreamOutput(const StreamOutput&) = delete;
  StreamOutput& operator=(const StreamOutput&) = delete;

  void SetPort(int port) { relayPort = port; }
  // Relay mode: listens on the port at once, before any packet flows, so a
  // client told about the port can connect straight away; it waits in the
  // backlog until the relay thread takes it. False (with the bind error as
  // the message) when the port cannot be listened on.
  bool OpenRelayListener();
  int GetPort() const { return relayPort; }
  bool IsRunning() const { return running.load(); }
  int GetMode() const { return mode; }
  int GetId() const { return id; }

  // Mode 2 only, set by the channel just before Start and never changed
  // afterwards. The contexts stay the channel's.
  void SetVideoCodecContext(AVCodecContext* context) { videoCodecContext = context; }
  void SetAudioCodecContext(AVCodecContext* context) { audioCodecContext = context; }
  void SetVideoTimeBase(int num, int den) { videoTimeBase = AVRational{num, den}; }
  void SetAudioTimeBase(int num, int den) { audioTimeBase = AVRational{num, den}; }

  // The AVC and AAC sequence headers this output sends first on every
  // connection. The output keeps its own copies (Set copies; null forgets).
  bool HasVideoHeader();
  bool HasAudioHeader();
  void SetVideoHeader(const IoBuffer* header);
  void SetAudioHeader(const IoBuffer* header);
  // Called by the channel's send thread before it pushes an FLV tag, which
  // carries the bytes of its sequence header as extradata. An output
  // without a header keeps it; when an AVC or AAC header differs from the
  // one offered before (the stream changed its codec configuration), it is
  // pushed as a packet of its own, so it goes out in line: after the tags
  // that still need the old one, before the first that needs it.
  void OfferSequenceHeader(const IoBuffer& tag);
  // An AVC or AAC sequence header (FLV tag body, packet type 0).
  static bool IsSequenceHeader(const IoBuffer* packet);

  // Delay settings of a forward-task row that the forward dialog never
  // writes (a slice of 0 s writes files without end, a slice not shorter
  // than the delay never plays): the dialog's own text for the first fault,
  // or "" when the row is sound. Rows without a delay are always sound.
  static std::string ForwardDelayProblem(const ForwardTaskInfo& row);
  // The output is not to run: Start starts nothing and fails, the status
  // reports the task failed with the reason as its message.
  void RefuseStart(const std::string& reason);

  bool Start();
  // Takes a copy of the packet (the caller keeps its own) while the output
  // is connected; drops it silently otherwise.
  void PushPacket(const IoBuffer* packet);
  // Once a second: moves the three-second bit-rate window on.
  void UpdateBitrate();
  // Refreshes and returns the status block (owned by the output).
  TaskStatus* CheckStatus();

  // Sends one FLV audio or video tag body on the RTMP connection; the
  // caller keeps the packet. False (and the connection dropped) on failure.
  bool PublishPacket(const IoBuffer* packet);

  // Test and diagnostics access.
  int GetState() const { return state.load(); }
  bool IsConnected() const { return connected.load(); }
  int GetAvgKbps() const { return avgKbps.load(); }
  int QueueSize() const { return queue->Size(); }
  std::string GetMessage();
  void SetMessage(const std::string& text);
  // How long the publisher waits between connection checks and attempts.
  static constexpr int kReconnectMs = 2000;

 private:
  // A finished slice file and when its stream arrived: origin is the push
  // time (monotonic ms) of the slice's tag timestamp 0, as its first media
  // packet gives it (or the rest of its packets, when the first came late
  // in a burst after the input opened). A tag of timestamp t plays at
  // origin + t + the delay.
  struct Slice {
    std::string path;
    int64_t origin = 0;
  };

  // Thread entries: the static start routine calls the member function.
  static void* SegmentPlayEntry(void* self);
  static void* PublishEntry(void* self);
  static void* SegmentEntry(void* self);
  static void* PumpEntry(void* self);
  static void* RelayEntry(void* self);
  static void* RecordEntry(void* self);

  // Publish mode: connection keeper and the sender without file delay.
  void PublishThread();
  void PumpThread();
  // Memory delay: the monotonic time (ms) at which the front packet is due.
  int64_t MemoryDelayDue(const IoBuffer* front, int64_t delay) const;
  bool ConnectPublisher();
  void DropConnection();
  // The publisher's side of a lost connection: the sender empties the
  // queue at its next turn (flushQueue).
  void MarkConnectionLost();
  // What both ends of a connection share: the session closed (lost: without
  // closing messages) and the per-connection state forgotten.
  void EndConnection(bool lost);
  // File delay: slice writer and slice player.
  void SegmentThread();
  void SegmentPlayThread();
  void PlaySegment(const Slice& slice);
  // Whether pushed packets carry their arrival time (a delayed output).
  bool StampsArrival() const;
  bool WriteTag(File64& file, const Tag& tag);
  // Relay mode.
  void RelayThread();
  bool SendAll(IoBuffer* buffer, int socket);
  void CloseRelayListener();
  // Record mode.
  void RecordThread();
  bool OpenRecordFile();
  // The record queue's bound (a disk slower than the stream would grow it
  // without limit): see StreamOutputRecord.cpp. True when the file has to
  // resume at the next video key frame.
  bool DropRecordBacklog(int64_t limitMs, bool hasVideo);

  // Every packet leaves the queue through these two. A sequence header
  // that leaves it, sent or dropped, becomes the stored one and is due on
  // the connection, so what follows it never goes out behind an older one,
  // and the next connection or slice starts with it.
  IoBuffer* TakeFront();
  void ClearQueue();
  void KeepLeavingHeader(const IoBuffer* packet);
  // Sender side of the queue bound: once the queue spans more than limitMs
  // the oldest packets are dropped, on to the next video key frame (at most
  // down to half the bound), and video waits for a key frame; the drops are
  // logged, once a minute at most. Returns the number dropped.
  int DropBacklog(int64_t limitMs);
  // The bound for this output's queue: never below its delay or slice
  // length plus a margin.
  int64_t QueueLimitMs() const;
  static bool IsVideoKey(const IoBuffer* p);

  bool StartThread(int index, void* (*entry)(void*));
  void JoinThreads();
  IoBuffer* CopyVideoHeader();
  IoBuffer* CopyAudioHeader();
  int64_t DelayMs() const;
  // Sleeps ms, waking early when the output stops.
  void SleepWhileRunning(int ms);

  // Thread handles, in join order.
  enum { kSlicePlayerThread, kPublisherThread, kSliceWriterThread, kPumpThread, kRelayThread, kRecorderThread, kThreadCount };
  pthread_t threads[kThreadCount];
  bool threadStarted[kThreadCount] = {};

  std::atomic<bool> running{false};
  std::atomic<bool> refused{false};
  // Ends the timed sleeps at a stop, and the slice player's wait for a slice.
  WakeEvent wake;
  std::atomic<int> state{kTaskIdle};
  std::string message;           // guarded by messageLock
  pthread_mutex_t messageLock;
  // Mode 0 the RTMP URL; mode 2 the path of the file being recorded (empty
  // until the first file opens; guarded by messageLock); mode 1 empty.
  std::string url;

  // Bit-rate meter: bits of the last three whole seconds, oldest first.
  int bitWindow[3] = {0, 0, 0};
  std::atomic<int> avgKbps{0};
  std::atomic<int> bitsThisSecond{0};

  int mode;
  // Packets for the mode's sender. Only the sender takes or frees queued
  // packets, and only through TakeFront/ClearQueue, so that CheckStatus can
  // read the front packet's timestamp under queueLock.
  PacketQueue* queue;
  pthread_mutex_t queueLock;

  // Own copies of the channel's sequence headers, guarded by headerLock.
  IoBuffer* videoHeader = nullptr;
  IoBuffer* audioHeader = nullptr;
  pthread_mutex_t headerLock;
  // The headers last offered by the channel (its send thread only).
  IoBuffer::ExtraData offeredVideoHeader, offeredAudioHeader;

  TaskStatus status;
  pthread_mutex_t statusLock;
  int id;

  // Set when packets were dropped (backlog, new connection): video is held
  // back until the next key frame so no receiver starts mid-picture.
  std::atomic<bool> waitKeyFrame{true};
  // What the sender dropped since its last report (sender only).
  int64_t droppedPackets = 0, droppedBytes = 0, droppedMs = 0;
  LogRepeatGate dropLog;
  // Repeated connection failures are logged once a minute at most.
  LogRepeatGate connectLog;
  std::atomic<bool> flushQueue{false};
  std::atomic<bool> videoHeaderSent{false};
  std::atomic<bool> audioHeaderSent{false};

  // The RTMP connection of mode 0: made by the publisher, used by the
  // sender, dropped by whichever notices a failure. A fresh session per
  // connection attempt.
  RtmpSession* rtmp = nullptr;
  pthread_mutex_t rtmpLock;

  std::atomic<int64_t> baseTimestamp{-1};
  std::atomic<bool> connected{false};
  // Timestamp of the newest packet pushed; -1 before the first. Kept whole
  // so a delay still holds after 2^31 ms of one run.
  std::atomic<int64_t> lastTimestamp{-1};
  // Memory delay: push time minus timestamp of the newest media packet, so
  // a packet that came in late (a burst after the input reopened) is timed
  // by the stream's clock; kNoOffset after an end of stream.
  static constexpr int64_t kNoOffset = INT64_MIN;
  std::atomic<int64_t> newestOffset{kNoOffset};
  // Memory delay: the connection ended for an end of stream that left the
  // queue; the next input's packets stay queued until it is made again.
  std::atomic<bool> holdForReconnect{false};
  // Tick count (ms) of the connection's first push plus the delay; all ones
  // unarmed. Slices are timed by their own arrival (Slice::origin).
  std::atomic<uint32_t> playDeadline{0xFFFFFFFFu};

  pthread_mutex_t writerLock;     // held by the slice writer for one slice
  pthread_mutex_t sliceListLock;  // guards sliceList
  std::list<Slice> sliceList;
  int64_t playOffset = -1;  // slice player only

  int relayPort = 0;
  // Opened by OpenRelayListener and taken over by the relay thread; closed
  // by the destructor when no relay thread ever took it.
  std::atomic<int> relayListenSocket{-1};
  std::atomic<bool> relayBindReported{false};
  std::atomic<int> relayClientSocket{-1};

  int recordYear = 0, recordMonth = 0, recordDay = 0;
  RecordTaskInfo recordTask;    // name, fileType, saveFolder, fileMod, direMod
  ForwardTaskInfo forwardTask;  // buffer_time, buffer_type, slice_seconds

  AVCodecContext* videoCodecContext = nullptr;
  AVCodecContext* audioCodecContext = nullptr;
  AVRational audioTimeBase{0, 1};
  AVRational videoTimeBase{0, 1};
  // Record muxer state (mode 2), owned by the recorder thread.
  Recorder* recorder = nullptr;
};
