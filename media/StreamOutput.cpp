#include "media/StreamOutput.h"

#include <time.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/FileUtil.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/ThreadEntry.h"
#include "media/RecordFile.h"
#include "media/RtmpSession.h"

namespace {

// Milliseconds of a monotonic clock, low 32 bits (the system tick count).
uint32_t TickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

constexpr int64_t kIdleWaitMs = wake::kIdleRecheckMs;

// Extra room a queue keeps beyond the output's own delay before dropping.
constexpr int64_t kQueueMarginMs = 10000;
// The bound of an output without delay.
constexpr int64_t kQueueMinimumMs = 10000;
// Time-outs of one publishing connection.
constexpr int kConnectTimeoutMs = 5000;
constexpr int kIoTimeoutMs = 5000;

// A header is swapped in and copied out under its lock; the old one is freed
// outside it.
void ReplaceHeader(pthread_mutex_t& lock, IoBuffer*& slot, const IoBuffer* header) {
  IoBuffer* copy = CloneIoBuffer(header);
  pthread_mutex_lock(&lock);
  std::swap(slot, copy);
  pthread_mutex_unlock(&lock);
  delete copy;
}

// An AVC or AAC sequence header: FLV tag body with packet type 0.
bool IsSequenceHeaderBody(int type, const uint8_t* body, int size) {
  if (!body || size < 2 || body[1] != 0) return false;
  if (type == 9) return (body[0] & 0x0F) == 7;
  if (type == 8) return (body[0] >> 4) == 10;
  return false;
}

IoBuffer* CopyHeader(pthread_mutex_t& lock, IoBuffer*& slot) {
  pthread_mutex_lock(&lock);
  IoBuffer* copy = CloneIoBuffer(slot);
  pthread_mutex_unlock(&lock);
  return copy;
}

}  // namespace

StreamOutput::StreamOutput(int id_, const std::string& url_, int mode_, const ForwardTaskInfo* forward,
                           const RecordTaskInfo* record)
    : url(url_), mode(mode_), queue(new PacketQueue), id(id_) {
  pthread_mutex_init(&messageLock, nullptr);
  pthread_mutex_init(&queueLock, nullptr);
  pthread_mutex_init(&headerLock, nullptr);
  pthread_mutex_init(&statusLock, nullptr);
  pthread_mutex_init(&rtmpLock, nullptr);
  pthread_mutex_init(&writerLock, nullptr);
  pthread_mutex_init(&sliceListLock, nullptr);
  if (forward) {
    forwardTask.buffer_time = forward->buffer_time;
    forwardTask.buffer_type = forward->buffer_type;
    forwardTask.slice_seconds = forward->slice_seconds;
  }
  if (record) {
    recordTask.name = record->name;
    recordTask.fileType = record->fileType;
    recordTask.saveFolder = record->saveFolder;
    recordTask.fileMod = record->fileMod;
    recordTask.direMod = record->direMod;
  }
}

StreamOutput::~StreamOutput() {
  running = false;
  wake.Notify();
  if (queue) queue->Wake();
  JoinThreads();
  CloseRelayListener();
  ClearQueue();
  delete queue;
  queue = nullptr;
  delete rtmp;
  rtmp = nullptr;
  pthread_mutex_lock(&sliceListLock);
  sliceList.clear();
  pthread_mutex_unlock(&sliceListLock);
  delete recorder;
  recorder = nullptr;
  videoCodecContext = nullptr;
  audioCodecContext = nullptr;
  delete videoHeader;
  delete audioHeader;
  pthread_mutex_destroy(&sliceListLock);
  pthread_mutex_destroy(&writerLock);
  pthread_mutex_destroy(&rtmpLock);
  pthread_mutex_destroy(&statusLock);
  pthread_mutex_destroy(&headerLock);
  pthread_mutex_destroy(&queueLock);
  pthread_mutex_destroy(&messageLock);
}

// ---------------------------------------------------------------- threads

void* StreamOutput::SegmentPlayEntry(void* self) { return ThreadEntry<StreamOutput, &StreamOutput::SegmentPlayThread>(self); }
void* StreamOutput::PublishEntry(void* self) { return ThreadEntry<StreamOutput, &StreamOutput::PublishThread>(self); }
void* StreamOutput::SegmentEntry(void* self) { return ThreadEntry<StreamOutput, &StreamOutput::SegmentThread>(self); }
void* StreamOutput::PumpEntry(void* self) { return ThreadEntry<StreamOutput, &StreamOutput::PumpThread>(self); }
void* StreamOutput::RelayEntry(void* self) { return ThreadEntry<StreamOutput, &StreamOutput::RelayThread>(self); }
void* StreamOutput::RecordEntry(void* self) { return ThreadEntry<StreamOutput, &StreamOutput::RecordThread>(self); }

bool StreamOutput::StartThread(int index, void* (*entry)(void*)) {
  if (threadStarted[index]) return true;
  if (pthread_create(&threads[index], nullptr, entry, this) != 0) {
    LogError("output %d: cannot start a thread", id);
    return false;
  }
  threadStarted[index] = true;
  return true;
}

void StreamOutput::JoinThreads() {
  // Senders first, so the publisher closes the connection only after the
  // last send. A thread never joins itself (a relay that ends its own task
  // leads here from its own thread).
  static const int order[] = {kSlicePlayerThread, kPumpThread, kSliceWriterThread, kRelayThread, kRecorderThread, kPublisherThread};
  pthread_t self = pthread_self();
  if (!connected.load()) {
    // A connect in progress ends at once instead of at its time-out; a
    // live connection is closed properly by the publisher (a blocked send
    // ends at the send time-out).
    pthread_mutex_lock(&rtmpLock);
    if (rtmp) rtmp->Abort();
    pthread_mutex_unlock(&rtmpLock);
  }
  for (int index : order) {
    if (!threadStarted[index]) continue;
    if (pthread_equal(threads[index], self)) {
      pthread_detach(threads[index]);
    } else {
      pthread_join(threads[index], nullptr);
    }
    threadStarted[index] = false;
  }
}

void StreamOutput::SleepWhileRunning(int ms) {
  const int64_t end = wake::MonotonicMs() + ms;
  for (;;) {
    uint64_t seen = wake.Count();
    int64_t left = end - wake::MonotonicMs();
    if (!running.load() || left <= 0) return;
    wake.WaitFor(left, seen);
  }
}

std::string StreamOutput::ForwardDelayProblem(const ForwardTaskInfo& row) {
  if (row.buffer_enabled == 0) return "";
  // The dialog's ranges: a delay of 1 to 1000000000 s, at most 30 s held
  // in memory, file slices of at least 10 s and shorter than the delay.
  if (row.buffer_time <= 0 || row.buffer_time > 1000000000) return "延时时间不正确";
  if (row.buffer_type == 0) return row.buffer_time > 30 ? "超过30秒不能使用内存缓存" : "";
  if (row.slice_seconds < 10) return "文件切片时间不能少于10秒";
  if (row.slice_seconds >= row.buffer_time) return "文件切片时间必须小于延时时间";
  return "";
}

void StreamOutput::RefuseStart(const std::string& reason) {
  SetMessage(reason);
  refused = true;
}

bool StreamOutput::Start() {
  if (refused.load()) return false;
  running = true;
  switch (mode) {
    case kPublish: {
      RtmpSession::GlobalInit();
      bool ok = StartThread(kPublisherThread, PublishEntry);
      if (forwardTask.buffer_time > 0 && forwardTask.buffer_type != 0) {
        std::string folder = MakeTempFolder() + "/" + std::to_string(id);
        if (!FileUtil::IsDirectory(folder)) FileUtil::CreateDirectories(folder);
        FileUtil::DeleteFolderContents(folder);
        ok = StartThread(kSliceWriterThread, SegmentEntry) && ok;
        ok = StartThread(kSlicePlayerThread, SegmentPlayEntry) && ok;
      } else {
        ok = StartThread(kPumpThread, PumpEntry) && ok;
      }
      return ok;
    }
    case kRelay:
      return StartThread(kRelayThread, RelayEntry);
    case kRecord:
      return StartThread(kRecorderThread, RecordEntry);
    default:
      return true;
  }
}

// ---------------------------------------------------------------- headers

bool StreamOutput::HasVideoHeader() {
  pthread_mutex_lock(&headerLock);
  bool has = videoHeader != nullptr;
  pthread_mutex_unlock(&headerLock);
  return has;
}

bool StreamOutput::HasAudioHeader() {
  pthread_mutex_lock(&headerLock);
  bool has = audioHeader != nullptr;
  pthread_mutex_unlock(&headerLock);
  return has;
}

void StreamOutput::SetVideoHeader(const IoBuffer* header) { ReplaceHeader(headerLock, videoHeader, header); }

void StreamOutput::SetAudioHeader(const IoBuffer* header) { ReplaceHeader(headerLock, audioHeader, header); }

IoBuffer* StreamOutput::CopyVideoHeader() { return CopyHeader(headerLock, videoHeader); }

IoBuffer* StreamOutput::CopyAudioHeader() { return CopyHeader(headerLock, audioHeader); }

bool StreamOutput::IsSequenceHeader(const IoBuffer* p) {
  return p && IsSequenceHeaderBody(p->GetType(), p->GetData(), p->GetSize());
}

void StreamOutput::OfferSequenceHeader(const IoBuffer& tag) {
  const IoBuffer::ExtraData& bytes = tag.GetExtraDataShared();
  if (!bytes || bytes->empty() || (tag.GetType() != 8 && tag.GetType() != 9)) return;
  const bool video = tag.GetType() == 9;
  IoBuffer::ExtraData& offered = video ? offeredVideoHeader : offeredAudioHeader;
  const bool stored = video ? HasVideoHeader() : HasAudioHeader();
  if (stored && offered == bytes) return;
  IoBuffer header(static_cast<int>(bytes->size()));
  header.Write(bytes->data(), static_cast<int>(bytes->size()));
  header.SetType(tag.GetType());
  header.SetCodecId(tag.GetCodecId());
  if (!stored) {
    // The first header of a run.
    video ? SetVideoHeader(&header) : SetAudioHeader(&header);
    offered = bytes;
    return;
  }
  bool same;
  if (offered) {
    same = *offered == *bytes;
  } else {
    std::unique_ptr<IoBuffer> current(video ? CopyVideoHeader() : CopyAudioHeader());
    same = current && current->GetSize() == header.GetSize() &&
           memcmp(current->GetData(), header.GetData(), header.GetSize()) == 0;
  }
  offered = bytes;
  // An MP3 header is the run's first frame: it stays what the run began with.
  if (same || !IsSequenceHeader(&header)) return;
  header.SetTimestamp(tag.GetTimestamp());
  PushPacket(&header);
}

void StreamOutput::KeepLeavingHeader(const IoBuffer* p) {
  if (!IsSequenceHeader(p)) return;
  // Due again: a sender that sends this very packet marks it sent, one that
  // dropped it sends the stored copy before its next packet.
  if (p->GetType() == 9) {
    SetVideoHeader(p);
    videoHeaderSent = false;
  } else {
    SetAudioHeader(p);
    audioHeaderSent = false;
  }
}

// ---------------------------------------------------------------- intake

void StreamOutput::PushPacket(const IoBuffer* packet) {
  if (!packet) return;
  if (!connected.load() && !holdForReconnect.load()) {
    // Nothing is queued while there is no connection: a new header applies
    // from the next connection on.
    if (IsSequenceHeader(packet)) KeepLeavingHeader(packet);
    return;
  }
  bitsThisSecond.fetch_add(8 * packet->GetSize());
  if (packet->GetType() == 3) {
    SetVideoHeader(nullptr);
    SetAudioHeader(nullptr);
  }
  if (!running.load()) return;
  IoBuffer* copy = CloneIoBuffer(packet);
  // The slice writer notes when each slice's stream came in; the queued
  // copy's dts, which no FLV tag uses, carries its push time.
  if (StampsArrival()) {
    const int64_t now = wake::MonotonicMs();
    copy->SetDts(now);
    const int type = packet->GetType();
    if (type == 3) {
      newestOffset = kNoOffset;
    } else if (type == 8 || type == 9) {
      newestOffset = now - packet->GetTimestamp();
    }
  }
  if (playDeadline.load() == 0xFFFFFFFFu) {
    playDeadline = TickCount() + static_cast<uint32_t>(std::max(0, forwardTask.buffer_time)) * 1000u;
    wake.Notify();  // the slice player times its start from here
  }
  lastTimestamp = packet->GetTimestamp();
  queue->Push(copy);
}

IoBuffer* StreamOutput::TakeFront() {
  pthread_mutex_lock(&queueLock);
  IoBuffer* p = queue->Pop();
  pthread_mutex_unlock(&queueLock);
  KeepLeavingHeader(p);
  return p;
}

void StreamOutput::ClearQueue() {
  if (!queue) return;
  pthread_mutex_lock(&queueLock);
  while (IoBuffer* p = queue->Pop()) {
    KeepLeavingHeader(p);
    delete p;
  }
  pthread_mutex_unlock(&queueLock);
}

bool StreamOutput::IsVideoKey(const IoBuffer* p) {
  if (p->GetType() == 9) return p->GetSize() > 0 && (p->GetData()[0] >> 4) == 1;
  if (p->GetType() == 1) return (p->GetFlags() & 1) != 0;
  return false;
}

int64_t StreamOutput::QueueLimitMs() const {
  int64_t own = 0;
  if (forwardTask.buffer_time > 0) {
    own = static_cast<int64_t>(forwardTask.buffer_time) * 1000;
    if (forwardTask.buffer_type != 0) own = std::max<int64_t>(own, forwardTask.slice_seconds * 1000LL);
  }
  return std::max(kQueueMinimumMs, own + kQueueMarginMs);
}

int StreamOutput::DropBacklog(int64_t limitMs) {
  int dropped = 0;
  int64_t bytes = 0;
  int64_t firstDropped = 0, lastDropped = 0;
  for (;;) {
    IoBuffer* front = queue->Front();
    if (!front || front->GetType() == 3) break;
    int64_t span = lastTimestamp.load() - front->GetTimestamp();
    // Once over the bound, dropping goes on to the next video key frame (at
    // most down to half the bound: a stream without video, or with key
    // frames far apart), so that a sender that stays slow gets whole groups
    // of pictures with gaps between them, not a drop at every packet.
    if (span <= limitMs && (dropped == 0 || IsVideoKey(front) || span <= limitMs / 2)) break;
    IoBuffer* gone = TakeFront();
    if (!gone) break;
    if (dropped == 0) firstDropped = gone->GetTimestamp();
    lastDropped = gone->GetTimestamp();
    bytes += gone->GetSize();
    ++dropped;
    delete gone;
  }
  if (dropped > 0) {
    waitKeyFrame = true;
    droppedPackets += dropped;
    droppedBytes += bytes;
    droppedMs += std::max<int64_t>(0, lastDropped - firstDropped);
    // A sender that stays slow drops again and again: one line a minute
    // with the sums since the last one.
    uint64_t held = 0;
    if (dropLog.Pass("backlog", &held)) {
      LogWarn("output %d: sender fell behind, dropped %lld queued packets (%lld bytes, %lld ms of stream) in %llu "
              "drops since the last report, each to the next key frame",
              id, static_cast<long long>(droppedPackets), static_cast<long long>(droppedBytes),
              static_cast<long long>(droppedMs), static_cast<unsigned long long>(held + 1));
      droppedPackets = droppedBytes = droppedMs = 0;
    }
  }
  return dropped;
}

// ---------------------------------------------------------------- meter and status

void StreamOutput::UpdateBitrate() {
  bitWindow[0] = bitWindow[1];
  bitWindow[1] = bitWindow[2];
  bitWindow[2] = bitsThisSecond.exchange(0);
  int64_t sum = static_cast<int64_t>(bitWindow[0]) + bitWindow[1] + bitWindow[2];
  avgKbps = static_cast<int>(sum / 3072);
}

std::string StreamOutput::GetMessage() {
  pthread_mutex_lock(&messageLock);
  std::string m = message;
  pthread_mutex_unlock(&messageLock);
  return m;
}

void StreamOutput::SetMessage(const std::string& text) {
  pthread_mutex_lock(&messageLock);
  message = text;
  pthread_mutex_unlock(&messageLock);
}

TaskStatus* StreamOutput::CheckStatus() {
  pthread_mutex_lock(&statusLock);
  // The mode texts become the output's message: it is never cleared, so the
  // last error stays visible after the condition has passed.
  switch (mode) {
    case kPublish:
      if (refused.load()) {
        // The reason stays the message.
        status.rate = 0;
        status.state = kTaskFailed;
      } else if (!running.load()) {
        SetMessage("pull stream error");
        status.state = kTaskFailed;
      } else if (connected.load()) {
        status.rate = avgKbps.load();
        if (status.rate == 0) {
          SetMessage("pull stream error");
          status.state = kTaskFailed;
        } else {
          status.state = state.load();
        }
      } else {
        status.rate = 0;
        SetMessage("push stream error");
        status.state = kTaskFailed;
      }
      break;
    case kRelay:
      status.rate = avgKbps.load();
      if (status.rate == 0) {
        SetMessage("send IXO stream error because haven't stream");
        status.state = kTaskFailed;
      } else {
        status.state = kTaskRunning;
      }
      break;
    case kRecord: {
      if (running.load()) {
        status.rate = connected.load() ? avgKbps.load() : 0;
      } else {
        SetMessage("pull stream error");
      }
      status.state = status.rate != 0 ? state.load() : kTaskIdle;
      pthread_mutex_lock(&messageLock);
      std::string path = url;
      pthread_mutex_unlock(&messageLock);
      int64_t size = path.empty() ? -1 : FileUtil::GetFileSize(path);
      status.fileSize = size < 0 ? -1 : size;
      break;
    }
    default:
      status.rate = 0;
      status.state = kTaskIdle;
      break;
  }
  status.message = GetMessage();

  status.delay = 0;
  pthread_mutex_lock(&queueLock);
  if (IoBuffer* front = queue->Front()) {
    status.delay = static_cast<int>(lastTimestamp.load() - front->GetTimestamp());
  }
  pthread_mutex_unlock(&queueLock);

  pthread_mutex_lock(&sliceListLock);
  std::list<std::string> slices;
  for (const Slice& slice : sliceList) slices.push_back(slice.path);
  pthread_mutex_unlock(&sliceListLock);
  status.sliceList = std::move(slices);
  pthread_mutex_unlock(&statusLock);
  return &status;
}

// ---------------------------------------------------------------- publishing

int64_t StreamOutput::DelayMs() const {
  return forwardTask.buffer_time > 0 ? static_cast<int64_t>(forwardTask.buffer_time) * 1000 : 0;
}

bool StreamOutput::ConnectPublisher() {
  RtmpSession* session = new RtmpSession;
  pthread_mutex_lock(&rtmpLock);
  std::swap(rtmp, session);
  pthread_mutex_unlock(&rtmpLock);
  delete session;  // the previous connection's session, closed by now

  pthread_mutex_lock(&rtmpLock);
  RtmpSession* current = rtmp;
  pthread_mutex_unlock(&rtmpLock);
  // Only the publisher replaces or frees the session, so it may use it
  // without the lock while not connected (no sender touches it then).
  // A failure that repeats unchanged every attempt is logged once a minute,
  // with its count; the URL is cut like any text not our own.
  if (!current->SetupURL(url)) {
    LogRepeated(connectLog, LOG_WARN,
                "output " + std::to_string(id) + ": cannot set up RTMP URL " + LogSafeText(url));
    return false;
  }
  current->EnableWrite();
  if (!running.load()) return false;
  if (!current->Connect(kConnectTimeoutMs, kIoTimeoutMs) || !running.load() || !current->ConnectStream()) {
    LogRepeated(connectLog, LOG_WARN,
                "output " + std::to_string(id) + ": cannot publish to " + LogSafeText(url) + ", retrying every " +
                    std::to_string(kReconnectMs) + " ms");
    current->Close();
    return false;
  }
  LogInfo("output %d: publishing to %s", id, LogSafeText(url).c_str());
  // Connected: the next failure is news again.
  connectLog.Reset();
  RtmpSession::ResetLogRepeats();
  return true;
}

void StreamOutput::PublishThread() {
  while (running.load()) {
    if (!connected.load()) {
      baseTimestamp = -1;
      if (ConnectPublisher()) {
        waitKeyFrame = true;
        connected = true;
        holdForReconnect = false;
      }
    } else {
      pthread_mutex_lock(&rtmpLock);
      bool gone = rtmp && rtmp->PeerClosed();
      pthread_mutex_unlock(&rtmpLock);
      if (gone) {
        LogWarn("output %d: the server closed the connection to %s", id, url.c_str());
        MarkConnectionLost();
      }
    }
    SleepWhileRunning(kReconnectMs);
  }
  pthread_mutex_lock(&rtmpLock);
  if (rtmp) rtmp->Close();
  pthread_mutex_unlock(&rtmpLock);
  connected = false;
}

void StreamOutput::EndConnection(bool lost) {
  pthread_mutex_lock(&rtmpLock);
  if (rtmp) {
    if (lost) {
      rtmp->CloseLost();
    } else {
      rtmp->Close();
    }
  }
  pthread_mutex_unlock(&rtmpLock);
  connected = false;
  baseTimestamp = -1;
  videoHeaderSent = false;
  audioHeaderSent = false;
  playDeadline = 0xFFFFFFFFu;
}

void StreamOutput::MarkConnectionLost() {
  holdForReconnect = false;
  EndConnection(true);
  flushQueue = true;
  queue->Wake();  // the pump flushes now, not at the next packet
}

void StreamOutput::DropConnection() {
  holdForReconnect = false;
  EndConnection(false);
  ClearQueue();
}

bool StreamOutput::PublishPacket(const IoBuffer* packet) {
  if (!connected.load()) return false;
  if (baseTimestamp.load() == -1) baseTimestamp = packet->GetTimestamp();
  bool ok = false;
  int type = packet->GetType();
  if (type == 8 || type == 9) {
    uint32_t ts = static_cast<uint32_t>(packet->GetTimestamp() - baseTimestamp.load());
    pthread_mutex_lock(&rtmpLock);
    if (rtmp) {
      ok = rtmp->SendMessage(type, type == 8 ? 3 : 4, ts, packet->GetData(),
                             static_cast<uint32_t>(packet->GetSize()));
    }
    pthread_mutex_unlock(&rtmpLock);
  }
  if (!ok) {
    if (type == 8 || type == 9) LogWarn("output %d: RTMP send failed, reconnecting", id);
    DropConnection();
    return false;
  }
  state = kTaskRunning;
  return true;
}

int64_t StreamOutput::MemoryDelayDue(const IoBuffer* front, int64_t delay) const {
  // The front packet came in at its push time (dts). When the newest packet
  // of the same run shows that the front came late (a burst after the input
  // reopened), the stream's clock times it instead, so the burst does not
  // reach the viewers as one. A pause in the input is kept as a pause: no
  // packet is ever due later than its own arrival plus the delay.
  int64_t arrival = front->GetDts();
  const int64_t offset = newestOffset.load();
  if (front->GetType() != 3 && offset != kNoOffset && lastTimestamp.load() >= front->GetTimestamp())
    arrival = std::min(arrival, front->GetTimestamp() + offset);
  return arrival + delay;
}

void StreamOutput::PumpThread() {
  const uint64_t delay = static_cast<uint64_t>(DelayMs());
  const int64_t limit = QueueLimitMs();
  while (running.load()) {
    if (flushQueue.exchange(false)) ClearQueue();
    const uint64_t pushesSeen = queue->PushCount();
    IoBuffer* front = queue->Front();
    if (!front) {
      queue->WaitFor(kIdleWaitMs, running);
      continue;
    }
    if (delay > 0) {
      // A memory delay holds each packet for the delay after it came in, so
      // the viewers get the delay through pauses and ends of the input too:
      // what came before an outage plays out at its pace, the outage
      // follows as a pause, and the next input after it.
      const int64_t wait = MemoryDelayDue(front, static_cast<int64_t>(delay)) - wake::MonotonicMs();
      if (wait > 0) {
        if (baseTimestamp.load() == -1) state = kTaskWaiting;
        queue->WaitForPush(std::min<int64_t>(wait, kIdleWaitMs), pushesSeen, running);
        continue;
      }
      if (front->GetType() == 3) {
        // The input ended here: the next one goes out on a fresh connection
        // (timestamps from 0, its own sequence headers), and what it has
        // queued behind this point stays for it.
        delete TakeFront();
        holdForReconnect = true;
        EndConnection(false);
        wake.Notify();  // the publisher connects again now
        continue;
      }
    }
    // Unsigned on purpose: after the source restarts its timestamps the span
    // is negative, and older packets must leave at once.
    uint64_t ahead = static_cast<uint64_t>(lastTimestamp.load() - front->GetTimestamp());
    if (delay > 0 || ahead > delay) {
      if (DropBacklog(limit) > 0) continue;
      IoBuffer* packet = TakeFront();
      if (!packet) continue;
      if (IsSequenceHeader(packet)) {
        // The stream's configuration changes here (TakeFront stored it).
        if (PublishPacket(packet)) (packet->GetType() == 9 ? videoHeaderSent : audioHeaderSent) = true;
        delete packet;
        continue;
      }
      if (waitKeyFrame.load() && packet->GetType() == 9) {
        if (!IsVideoKey(packet)) {
          delete packet;
          continue;
        }
        waitKeyFrame = false;
      }
      if (packet->GetType() == 8 || packet->GetType() == 9) {
        if (!videoHeaderSent.load()) {
          if (IoBuffer* h = CopyVideoHeader()) {
            if (PublishPacket(h)) videoHeaderSent = true;
            delete h;
          }
        }
        if (!audioHeaderSent.load()) {
          if (IoBuffer* h = CopyAudioHeader()) {
            if (PublishPacket(h)) audioHeaderSent = true;
            delete h;
          }
        }
      }
      PublishPacket(packet);
      delete packet;
      continue;
    }
    if (baseTimestamp.load() == -1) state = kTaskWaiting;
    // The front packet leaves once a later one has come.
    queue->WaitForPush(kIdleWaitMs, pushesSeen, running);
  }
}
