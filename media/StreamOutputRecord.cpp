// The recorder thread of a record output: the channel's raw packets into
// ASF, FLV or MP4 files (RecordFile and Recorder do the file work).
#include <unistd.h>

#include "core/IoBuffer.h"
#include "media/RecordFile.h"
#include "media/StreamOutput.h"

namespace {
constexpr int64_t kOpenRetryMs = 3;
}  // namespace

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
    IoBuffer* packet = TakeFront();
    if (!packet) {
      // Packets come only while the file is open; until then its opening
      // (which waits for the codecs' headers) is tried every few ms.
      queue->WaitFor(recorder->IsOpen() ? wake::kIdleRecheckMs : kOpenRetryMs, running);
      continue;
    }
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
