// The delay held in FLV slice files: the slice writer turns the output's
// queue into slice files under temp/<output id>/, the slice player replays
// each one from the time its stream arrived plus the delay, paced by its
// timestamps from there. The memory delay needs no thread of its own: the
// pump holds packets back by DelayMs().
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

// The clock PushPacket stamps arrivals on.
int64_t NowMs() { return wake::MonotonicMs(); }

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

// How late a slice's first packets may come, against the rest of the
// slice, before the slice is timed by the rest instead.
constexpr int64_t kLateStartMs = 100;

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

    // When the slice's stream came in (see Slice::origin): where its first
    // media packet puts it, and the earliest where any of its packets does
    // (never more than one slice length before the first).
    int64_t origin = -1;
    int64_t earliest = -1;
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
      // The packet's own place on the slice's timeline: a packet raised to
      // keep the tags in order (audio just behind video) must not make the
      // slice look as if it came in earlier.
      int64_t own = rel;
      if (rel < tagTs) {
        rel = tagTs;  // timestamps never decrease within a slice
      } else if (rel - tagTs > sliceMs) {
        // A jump forward in the source's clock: continue the timeline
        // instead of making playback wait for the jump.
        base = ts - tagTs;
        rel = tagTs;
        own = rel;
      }
      if (rel > 0xFFFFFFFFLL) rel = 0xFFFFFFFFLL;
      tagTs = rel;
      const int64_t packetOrigin = packet->GetDts() - own;
      if (origin < 0) {
        origin = earliest = packetOrigin;
      } else {
        earliest = std::max(origin - sliceMs, std::min(earliest, packetOrigin));
      }
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
    // The first packets came in late, in a burst (an input that was just
    // opened hands on what it read ahead): the slice begins where the rest
    // of its stream says. Less is jitter, and the slice keeps the time of
    // its first packet.
    if (origin - earliest > kLateStartMs) origin = earliest;
    carryBase = endOfStream ? -1 : base + tagTs;
    pthread_mutex_unlock(&writerLock);
    waitForPush = false;

    if (ok) {
      // A slice without media (the sender emptied the queue) plays at once.
      if (origin < 0) origin = NowMs() - DelayMs();
      pthread_mutex_lock(&sliceListLock);
      sliceList.push_back(Slice{path, origin});
      pthread_mutex_unlock(&sliceListLock);
      wake.Notify();  // the slice player may start on it
    } else {
      LogError("StreamOutput %d: delay slice %s could not be %s; its packets are dropped", id, path.c_str(),
               created ? "written" : "created");
      if (created) unlink(path.c_str());
    }
  }
}

bool StreamOutput::StampsArrival() const {
  return mode == kPublish && forwardTask.buffer_time > 0;
}

void StreamOutput::SegmentPlayThread() {
  const int64_t delay = DelayMs();
  while (running) {
    uint64_t seen = wake.Count();
    if (baseTimestamp.load() == -1) state = kTaskWaiting;
    Slice slice;
    pthread_mutex_lock(&sliceListLock);
    bool have = !sliceList.empty();
    if (have) slice = sliceList.front();
    pthread_mutex_unlock(&sliceListLock);
    if (!have) {
      wake.WaitFor(wake::kIdleRecheckMs, seen);
      continue;
    }
    // Each slice waits for its own time: a pause in the input (an outage)
    // leaves the player idle instead of eating into the delay.
    const int64_t wait = slice.origin + delay - NowMs();
    if (wait > 0) {
      wake.WaitFor(wait, seen);
      continue;
    }
    PlaySegment(slice);
    pthread_mutex_lock(&sliceListLock);
    if (!sliceList.empty() && sliceList.front().path == slice.path) sliceList.pop_front();
    pthread_mutex_unlock(&sliceListLock);
    unlink(slice.path.c_str());
  }
}

void StreamOutput::PlaySegment(const Slice& slice) {
  const std::string& path = slice.path;
  if (!FileUtil::IsFile(path)) return;
  PlayItem* item = new PlayItem;
  item->SetKind(1);
  item->SetName(path);
  item->SetSynthesizeMetaData(false);
  MessageInput* input = new MessageInput(item);

  // The slice's own sequence headers, sent again first when the connection
  // was made anew in the middle of the slice.
  std::unique_ptr<IoBuffer> sliceVideoHeader, sliceAudioHeader;
  // Every message is due at a fixed time from the slice's arrival, so the
  // time spent opening and reading the file never adds to the delay; a
  // message already due (the slice before ran late) goes at once.
  const int64_t start = slice.origin + DelayMs();
  int64_t lastTs = -1;
  while (running) {
    std::unique_ptr<IoBuffer> message(input->GetNextMessage());
    if (!message) break;
    const int64_t ts = message->GetTimestamp();
    lastTs = ts;
    const int64_t due = start + ts;
    const int64_t now = NowMs();
    if (now < due) SleepWhileRunning(static_cast<int>(due - now));
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
