// The recorder thread of a record output: the channel's raw packets into
// ASF, FLV or MP4 files (RecordFile and Recorder do the file work).
#include <unistd.h>

#include "core/IoBuffer.h"
#include "core/Log.h"
#include "media/RecordFile.h"
#include "media/StreamOutput.h"

namespace {
constexpr int64_t kOpenRetryMs = 3;
// An input that pauses this long has what was received put into the file.
constexpr int64_t kIdleFlushMs = 1000;
}  // namespace

// Once the queue spans more than limitMs the oldest packets go, down to half
// of it (so that a disk that stays slow gives a gap now and then, not a
// drop at every packet), and on to the next video key frame, from which the
// file goes on decoding. When the queue held no key frame that far, the
// caller skips what comes until the next one (true). One log line says how
// much went.
bool StreamOutput::DropRecordBacklog(int64_t limitMs, bool hasVideo) {
  IoBuffer* front = queue->Front();
  const int64_t newest = lastTimestamp.load();
  if (!front || front->GetType() == 3 || newest - front->GetTimestamp() <= limitMs) return false;
  const int64_t firstMs = front->GetTimestamp();
  int64_t lastMs = firstMs;
  int packets = 0;
  int64_t bytes = 0;
  bool atKey = false;
  while ((front = queue->Front()) != nullptr && front->GetType() != 3) {
    if (newest - front->GetTimestamp() <= limitMs / 2 && (!hasVideo || IsVideoKey(front))) {
      atKey = true;
      break;
    }
    lastMs = front->GetTimestamp();
    bytes += front->GetSize();
    ++packets;
    delete TakeFront();
  }
  LogWarn("output %d: record file writing fell behind, dropped %d packets (%lld KB, %lld ms of stream)", id, packets,
          static_cast<long long>(bytes / 1024), static_cast<long long>(lastMs - firstMs));
  return hasVideo && !atKey;
}

bool StreamOutput::OpenRecordFile() {
  if (!recorder || !recorder->Prepare()) return false;
  pthread_mutex_lock(&messageLock);
  url = recorder->Path();
  pthread_mutex_unlock(&messageLock);
  LocalTime now = RecordClock::Now();
  recordYear = now.year;
  recordMonth = now.month;
  recordDay = now.day;
  return true;
}

void StreamOutput::RecordThread() {
  RecordSettings settings;
  settings.name = recordTask.name;
  settings.fileType = recordTask.fileType;
  settings.saveFolder = recordTask.saveFolder;
  settings.fileMod = recordTask.fileMod;
  settings.direMod = recordTask.direMod;
  recorder = new Recorder(settings, videoCodecContext, videoTimeBase, audioCodecContext, audioTimeBase);
  std::string reported;
  std::string path;
  const bool hasVideo = videoCodecContext != nullptr;
  const int64_t limitMs = QueueLimitMs();
  bool resumeAtKey = false;
  int64_t lastPacketMs = 0;
  bool flushed = true;
  while (running) {
    if (!recorder->IsOpen()) {
      connected = OpenRecordFile();
      if (connected) path = recorder->Path();
    }
    // A file that cannot be made or written: the reason goes to the status
    // (the recorder retries after a growing pause).
    if (recorder->Error() != reported) {
      reported = recorder->Error();
      SetMessage(reported);
    }
    if (recorder->IsOpen() && DropRecordBacklog(limitMs, hasVideo)) resumeAtKey = true;
    IoBuffer* packet = TakeFront();
    if (packet && resumeAtKey) {
      // After a drop the file goes on at a picture that decodes.
      if (packet->GetType() == 3 || IsVideoKey(packet)) {
        resumeAtKey = false;
      } else {
        delete packet;
        continue;
      }
    }
    if (!packet) {
      if (!flushed && recorder->IsOpen() && wake::MonotonicMs() - lastPacketMs >= kIdleFlushMs) {
        recorder->Flush();
        flushed = true;
      }
      // Packets come only while the file is open; until then its opening
      // (which waits for the codecs' headers) is tried every few ms.
      queue->WaitFor(recorder->IsOpen() ? (flushed ? wake::kIdleRecheckMs : kIdleFlushMs / 4) : kOpenRetryMs,
                     running);
      continue;
    }
    lastPacketMs = wake::MonotonicMs();
    flushed = false;
    if (recorder->IsOpen()) {
      if (recorder->Handle(*packet)) state = kTaskRunning;
      if (!recorder->IsOpen()) {
        connected = false;
      } else if (recorder->Path() != path) {
        // The date changed and the next file opened on this packet.
        path = recorder->Path();
        pthread_mutex_lock(&messageLock);
        url = path;
        pthread_mutex_unlock(&messageLock);
      }
    }
    delete packet;
  }
  connected = false;
  recorder->Close();
  if (recorder->Error() != reported) SetMessage(recorder->Error());
  delete recorder;
  recorder = nullptr;
}
