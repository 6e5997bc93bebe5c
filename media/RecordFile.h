#pragma once
// One record file being written through an FFmpeg muxer (ASF, FLV or MP4 by
// the file's extension), and the naming of record files. Used by the
// recorder thread of a record output only.
#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <chrono>

#include "media/CodecConfig.h"
#include "media/RecordClock.h"

class IoBuffer;

// Extension of a record file type: 0 ".asf", 1 ".flv", 2 ".mp4"; "" otherwise.
const char* RecordFileExtension(int fileType);

// Folder of a file opened at t, ending in '/': "<saveFolder>/<y>/<m>/<d>/"
// (month and day without leading zeros) when direMod is 0, else
// "<saveFolder>/". Stored folders may use '\' as separator.
std::string RecordFolder(const std::string& saveFolder, int direMod, const LocalTime& t);

// "<name>_YYYY-MM-DD-hh-mm-ss<ext>", or without "<name>_" when name is empty;
// "" for an unknown file type.
std::string RecordFileName(const std::string& name, int fileType, const LocalTime& t);

// A path that names no existing file: path itself, or with "_1", "_2", ...
// before the extension. Two files opened within one second never overwrite
// each other.
std::string UniqueRecordPath(const std::string& path);

class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Creates the file at path with a stream for each parameter set given
  // (null: no such stream); pts/dts of packets come in the given time bases.
  // On failure nothing stays open and error holds the reason.
  bool Open(const std::string& path, const AVCodecParameters* video, AVRational videoTimeBase,
            const AVCodecParameters* audio, AVRational audioTimeBase, std::string* error);
  bool IsOpen() const { return context != nullptr; }
  const std::string& Path() const { return path; }

  // Writes one raw packet: type 1 to the video stream, type 2 to the audio
  // stream (an ADTS header in front of AAC is left out). Video before the
  // first key frame (of the file, or after an input restart) is skipped.
  // Times are rebased so the file starts at 0 and each stream's decode times
  // keep rising.
  // False only when the file can no longer be written (error: the reason);
  // a packet the muxer refuses is skipped.
  bool WritePacket(const IoBuffer& packet, std::string* error);

  // The input ended and will come back with times of its own: later packets
  // continue after the last one written instead of going back in time.
  void MarkDiscontinuity() { discontinuity = true; }

  // Puts what the muxer still holds into the file: for a fragmented MP4 the
  // packets since the last fragment become a fragment of their own. For an
  // input that pauses, so that a crash meanwhile loses nothing received.
  void Flush();

  // Writes the trailer and closes the file. False when the trailer could not
  // be written (error: the reason).
  bool Close(std::string* error = nullptr);
  // Whether the file is an MP4 written in fragments: one at each video key
  // frame (each second without video), so that a file whose process died
  // still plays up to its last whole fragment. FinishFragmentedMp4 makes an
  // ordinary MP4 of it once it is closed.
  bool Fragmented() const { return fragmented; }

 private:
  struct Track {
    AVStream* stream = nullptr;
    AVRational inputTimeBase{1, 1000};
    int64_t lastDts = AV_NOPTS_VALUE;     // in the stream's time base, as written
    int64_t lastDtsUs = AV_NOPTS_VALUE;   // the same in microseconds
  };
  bool AddStream(Track& track, const AVCodecParameters* par, AVRational timeBase, std::string* error);
  void Free();

  AVFormatContext* context = nullptr;
  std::string path;
  Track video;
  Track audio;
  bool headerWritten = false;
  bool fragmented = false;
  bool discontinuity = false;
  bool videoKeySeen = false;  // video starts at a key frame, so every file decodes from its start
  bool haveOrigin = false;
  int64_t originUs = 0;   // input time (us) that maps to the current run's start
  int64_t runStartUs = 0;  // file time (us) at which the current run starts
};

// Rewrites the closed fragmented MP4 at path as an ordinary one (one index
// for the whole file, as players and editors expect): the packets are copied
// into "<path>.tmp" beside it, which replaces the file only once it is
// complete and on disk. On failure the fragmented file stays as it is (it
// plays) and error holds the reason.
bool FinishFragmentedMp4(const std::string& path, std::string* error);

// Fragmented MP4 files are finished by one worker thread of the process, so
// that neither the recorder (which goes on with the next file at once) nor a
// stop waits for the copy of a long file. Once the process has begun to
// exit, the files still queued are finished before it ends, and a file
// closed after that is finished at once by the thread that closed it.
void FinishFragmentedMp4Later(const std::string& path);
// Waits until every file handed to FinishFragmentedMp4Later is finished.
void WaitFragmentedMp4Finished();

// A pause before each packet goes to the muxer, standing in for a disk
// slower than the stream in tests; 0 (none) unless a test sets it.
void SetRecordWritePauseForTest(int microseconds);

// The naming and file settings of a record task.
struct RecordSettings {
  std::string name;
  int fileType = 0;  // 0 ASF, 1 FLV, 2 MP4
  std::string saveFolder;
  int fileMod = 0;   // 0 continue the file across an input restart, 1 new file
  int direMod = 0;   // 0 year/month/day folders, 1 the save folder itself
};

// The recorder's file handling: when to open the next file, where, and when
// to close it. The codec contexts belong to the channel; each opening takes
// its own copy of their parameters (CopySharedCodecParameters), so extradata
// that arrives late is picked up, and never read while it is being written.
class Recorder {
 public:
  Recorder(const RecordSettings& settings, const AVCodecContext* video, AVRational videoTimeBase,
           const AVCodecContext* audio, AVRational audioTimeBase);

  // Opens the next file when none is open, unless a stream still lacks its
  // extradata or the back-off after a failure is still running. True when a
  // file is open.
  bool Prepare();
  // One raw packet of the queue: media is written; an end of stream closes
  // the file or continues it by the file mode. With date folders, once the
  // date has changed the file is closed at the next video key frame (at the
  // next packet when there is no video), and that packet opens the next file
  // in the new day's folder, so neither file loses pictures or starts with
  // undecodable ones. True when media was written.
  // A change of the codec configuration the packets carry ends the file the
  // same way (RecordConfigWatch), and the next file takes the new one.
  bool Handle(const IoBuffer& packet);
  void Close();
  // See RecordFile::Flush.
  void Flush() { file.Flush(); }

  bool IsOpen() const { return file.IsOpen(); }
  // The path of the open file, else of the last one ("" before the first).
  const std::string& Path() const { return path; }
  // The last failure's reason ("" when none so far); it stays set.
  const std::string& Error() const { return error; }
  // Milliseconds to wait after the next failure; doubles up to a ceiling.
  int BackoffMs() const { return backoffMs; }

 private:
  void Fail(const std::string& reason);
  bool Write(const IoBuffer& packet);
  // Finishes the file and opens the next with the configuration the stream
  // carries now, then writes what was held back for it.
  bool NextConfiguration();
  void CloseFile();

  RecordSettings settings;
  const AVCodecContext* video;
  const AVCodecContext* audio;
  AVRational videoTimeBase;
  AVRational audioTimeBase;
  RecordFile file;
  RecordConfigWatch config;
  std::string path;
  std::string error;
  LocalTime opened;
  int backoffMs;
  std::chrono::steady_clock::time_point retryAt;
};
