// The delay held in FLV slice files: the slice writer turns the output's
// queue into slice files under temp/<output id>/, the slice player replays
// them, paced by their timestamps, once the delay has passed. The memory
// delay needs no thread of its own: the pump holds packets back by DelayMs().
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "core/FileUtil.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "media/FLVReader.h"
#include "media/SlicePlayback.h"
#include "media/StreamOutput.h"
#include "platform/File64.h"
#include "platform/Uuid.h"

namespace {

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The low 32 bits of NowMs(), the clock playDeadline is armed on.
uint32_t TickCount32() { return static_cast<uint32_t>(NowMs()); }

// True once the 32-bit tick count has reached the deadline; correct across
// the count's wrap for deadlines less than 24 days ahead.
bool TickReached(uint32_t now, uint32_t deadline) { return static_cast<int32_t>(now - deadline) >= 0; }

// Whether a timestamp lies at least (or, strict, more than) one slice
// length past the reference. One more than a slice length behind it counts
// too: the source's timestamps started again, so what is queued leaves at
// once. A packet slightly behind (audio a few milliseconds behind the video
// pushed before it) does not: otherwise every such moment at a nearly empty
// queue would start a slice of two packets, and a packet just behind the
// slice's first one would end that slice at once.
bool SliceSpanReached(int64_t ts, int64_t reference, int64_t sliceMs, bool strict) {
  const int64_t span = ts - reference;
  if (span < -sliceMs) return true;
  return strict ? span > sliceMs : span >= sliceMs;
}

// The longest pause between two packets of a running stream that slice
// playback reproduces at a slice boundary.
constexpr int64_t kLongestPacketGapMs = 1000;

// "FLV", version 1, audio and video present, header size 9, PreviousTagSize0.
const uint8_t kFlvFileHeader[13] = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0};

bool IsVideoSequenceHeader(const IoBuffer& m) {
  return m.GetType() == 9 && m.GetSize() >= 2 && (m.GetData()[0] & 0x0F) == 7 && m.GetData()[1] == 0;
}

bool IsAudioSequenceHeader(const IoBuffer& m) {
  return m.GetType() == 8 && m.GetSize() >= 2 && (m.GetData()[0] >> 4) == 10 && m.GetData()[1] == 0;
}

IoBuffer* CopyMessage(const IoBuffer& m) {
  IoBuffer* c = new IoBuffer(m.GetSize() > 0 ? m.GetSize() : 1);
  c->Write(m.GetData(), m.GetSize());
  c->SetType(m.GetType());
  c->SetTimestamp(m.GetTimestamp());
  return c;
}

}  // namespace

bool StreamOutput::WriteTag(File64& file, const Tag& tag) {
  IoBuffer* body = tag.GetBody();
  int size = body ? body->GetRemaining() : 0;
  if (size > 0xFFFFFF) return false;  // no FLV tag can carry it
  uint32_t ts = tag.GetTimestamp();
  // Bits 24-31 go into the timestamp extension byte (zero for any slice
  // shorter than 4.6 hours), so a longer slice still replays in order
  // instead of wrapping.
  uint8_t header[11] = {static_cast<uint8_t>(tag.GetType()),
                        static_cast<uint8_t>(size >> 16),
                        static_cast<uint8_t>(size >> 8),
                        static_cast<uint8_t>(size),
                        static_cast<uint8_t>(ts >> 16),
                        static_cast<uint8_t>(ts >> 8),
                        static_cast<uint8_t>(ts),
                        static_cast<uint8_t>(ts >> 24),
                        0,
                        0,
                        0};
  uint32_t previous = static_cast<uint32_t>(size) + 11;
  uint8_t trailer[4] = {static_cast<uint8_t>(previous >> 24), static_cast<uint8_t>(previous >> 16),
                        static_cast<uint8_t>(previous >> 8), static_cast<uint8_t>(previous)};
  return file.Write(header, sizeof(header)) && (size == 0 || file.Write(body->GetReadPointer(), size)) &&
         file.Write(trailer, sizeof(trailer));
}

void StreamOutput::SegmentThread() {
  const int64_t sliceMs = static_cast<int64_t>(forwardTask.slice_seconds) * 1000;
  const std::string folder = MakeTempFolder() + "/" + std::to_string(id);
  // Timeline position of the last tag of the previous slice, in the stream's
  // own timestamps; -1 when the next slice starts a timeline of its own.
  // Measuring each slice from there (not from its own first packet) keeps
  // the gap between two slices, so playback does not run ahead of the
  // stream by one packet interval per slice. A longer gap is a hole (packets
  // dropped while the connection was down) and is closed up instead.
  int64_t carryBase = -1;
  const int64_t carryGapMs = std::min<int64_t>(sliceMs, kLongestPacketGapMs);
  // A slice is cut once enough media has come; the writer waits for pushes
  // in between, and goes round again at once after it wrote or dropped
  // something, since what is queued may already make the next slice.
  uint64_t pushesSeen = queue->PushCount();
  bool waitForPush = true;
  while (running) {
    if (waitForPush) queue->WaitForPush(wake::kIdleRecheckMs, pushesSeen, running);
    waitForPush = true;
    pushesSeen = queue->PushCount();
    pthread_mutex_lock(&writerLock);
    // The sender may empty the queue at any time (a lost connection), so
    // the front packet is only looked at under the queue's lock.
    pthread_mutex_lock(&queueLock);
    IoBuffer* front = queue->Front();
    const bool haveFront = front != nullptr;
    const bool endOfStreamFirst = haveFront && front->GetType() == 3;
    const int64_t frontTs = haveFront ? front->GetTimestamp() : 0;
    // An end of stream between slices: the next stream starts afresh.
    if (endOfStreamFirst) delete queue->Pop();
    pthread_mutex_unlock(&queueLock);
    if (endOfStreamFirst) {
      carryBase = -1;
      pthread_mutex_unlock(&writerLock);
      waitForPush = false;
      continue;
    }
    if (!haveFront || !SliceSpanReached(lastTimestamp.load(), frontTs, sliceMs, true)) {
      if (baseTimestamp.load() == -1) state = kTaskWaiting;
      pthread_mutex_unlock(&writerLock);
      continue;
    }

    std::string uniqueId = MakeUniqueId();
    std::string path = folder + "/" + uniqueId + ".flv";
    File64 file;
    bool created = !uniqueId.empty() && file.Open(path, false);
    if (!created && !uniqueId.empty()) {
      // The folder may have been removed underneath us; make it again.
      FileUtil::CreateDirectories(folder);
      created = file.Open(path, false);
    }
    bool ok = created && file.Write(kFlvFileHeader, sizeof(kFlvFileHeader));
    const std::pair<IoBuffer*, uint8_t> headers[] = {{CopyVideoHeader(), 9}, {CopyAudioHeader(), 8}};
    for (const auto& [header, type] : headers) {
      if (!header) continue;
      Tag tag;
      tag.SetType(type);
      tag.SetTimestamp(0);
      tag.SetDataSize(static_cast<uint32_t>(header->GetSize()));
      tag.SetBody(header);
      ok = ok && WriteTag(file, tag);
    }

    int64_t base = frontTs;
    if (carryBase >= 0 && frontTs >= carryBase && frontTs - carryBase <= carryGapMs) base = carryBase;
    int64_t tagTs = 0;
    bool endOfStream = false;
    while (running && queue->Size() > 0) {
      IoBuffer* packet = TakeFront();
      if (!packet) break;
      if (packet->GetType() == 3) {
        // The stream ended: close this slice; a packet of type 3 written
        // as a tag would end its playback there.
        delete packet;
        endOfStream = true;
        break;
      }
      const int64_t ts = packet->GetTimestamp();
      int64_t rel = ts - base;
      if (rel < tagTs) {
        rel = tagTs;  // timestamps never decrease within a slice
      } else if (rel - tagTs > sliceMs) {
        // A jump forward in the source's clock: continue the timeline
        // instead of making playback wait for the jump.
        base = ts - tagTs;
        rel = tagTs;
      }
      if (rel > 0xFFFFFFFFLL) rel = 0xFFFFFFFFLL;
      tagTs = rel;
      if (ok) {
        Tag tag;
        tag.SetType(static_cast<uint8_t>(packet->GetType()));
        tag.SetTimestamp(static_cast<uint32_t>(tagTs));
        tag.SetDataSize(static_cast<uint32_t>(packet->GetSize()));
        tag.SetBody(packet);  // the tag frees the packet
        ok = WriteTag(file, tag);
      } else {
        delete packet;
      }
      if (SliceSpanReached(ts, frontTs, sliceMs, false)) break;
    }
    if (created) ok = file.Close() && ok;
    carryBase = endOfStream ? -1 : base + tagTs;
    pthread_mutex_unlock(&writerLock);
    waitForPush = false;

    if (ok) {
      pthread_mutex_lock(&sliceListLock);
      sliceList.push_back(path);
      pthread_mutex_unlock(&sliceListLock);
      wake.Notify();  // the slice player may start on it
    } else {
      LogError("StreamOutput %d: delay slice %s could not be %s; its packets are dropped", id, path.c_str(),
               created ? "written" : "created");
      if (created) unlink(path.c_str());
    }
  }
}

void StreamOutput::SegmentPlayThread() {
  while (running) {
    uint64_t seen = wake.Count();
    if (baseTimestamp.load() == -1) state = kTaskWaiting;
    uint32_t deadline = playDeadline.load();
    if (deadline == 0xFFFFFFFFu) {
      // Armed by the first packet, which comes with a slice well after it.
      wake.WaitFor(wake::kIdleRecheckMs, seen);
      continue;
    }
    uint32_t now = TickCount32();
    if (!TickReached(now, deadline)) {
      wake.WaitFor(static_cast<int32_t>(deadline - now), seen);
      continue;
    }
    std::string path;
    pthread_mutex_lock(&sliceListLock);
    bool have = !sliceList.empty();
    if (have) path = sliceList.front();
    pthread_mutex_unlock(&sliceListLock);
    if (!have) {
      wake.WaitFor(wake::kIdleRecheckMs, seen);
      continue;
    }
    PlaySegment(path);
    pthread_mutex_lock(&sliceListLock);
    if (!sliceList.empty() && sliceList.front() == path) sliceList.pop_front();
    pthread_mutex_unlock(&sliceListLock);
    unlink(path.c_str());
  }
}

void StreamOutput::PlaySegment(const std::string& path) {
  if (!FileUtil::IsFile(path)) return;
  PlayItem* item = new PlayItem;
  item->SetKind(1);
  item->SetName(path);
  item->SetSynthesizeMetaData(false);
  MessageInput* input = new MessageInput(item);

  // The slice's own sequence headers, sent again first when the connection
  // was made anew in the middle of the slice.
  std::unique_ptr<IoBuffer> sliceVideoHeader, sliceAudioHeader;
  int64_t startTick = -1;
  int64_t firstTs = 0;
  int64_t lastTs = -1;
  while (running) {
    std::unique_ptr<IoBuffer> message(input->GetNextMessage());
    if (!message) break;
    const int64_t ts = message->GetTimestamp();
    lastTs = ts;
    if (startTick < 0) {
      startTick = NowMs();
      firstTs = ts;
    } else {
      const int64_t due = startTick + (ts - firstTs);
      const int64_t now = NowMs();
      if (now < due) SleepWhileRunning(static_cast<int>(due - now));
    }
    if (playOffset != -1) message->SetTimestamp(ts + playOffset);

    bool videoHeader = IsVideoSequenceHeader(*message);
    bool audioHeader = IsAudioSequenceHeader(*message);
    if (videoHeader) sliceVideoHeader.reset(CopyMessage(*message));
    if (audioHeader) sliceAudioHeader.reset(CopyMessage(*message));
    if (!connected) continue;  // dropped, but paced as if sent
    if (message->GetType() == 9 && !videoHeader && waitKeyFrame.load()) {
      // A new connection starts at a key frame, as the pump's do.
      if (!IsVideoKey(message.get())) continue;
      waitKeyFrame = false;
    }
    if (!videoHeader && !audioHeader) {
      if (!videoHeaderSent && sliceVideoHeader) {
        sliceVideoHeader->SetTimestamp(message->GetTimestamp());
        if (PublishPacket(sliceVideoHeader.get())) videoHeaderSent = true;
      }
      if (!audioHeaderSent && sliceAudioHeader) {
        sliceAudioHeader->SetTimestamp(message->GetTimestamp());
        if (PublishPacket(sliceAudioHeader.get())) audioHeaderSent = true;
      }
    }
    if (PublishPacket(message.get())) {
      if (videoHeader) videoHeaderSent = true;
      if (audioHeader) audioHeaderSent = true;
    }
  }
  delete input;
  delete item;
  if (lastTs >= 0) playOffset = playOffset == -1 ? lastTs : playOffset + lastTs;
}
