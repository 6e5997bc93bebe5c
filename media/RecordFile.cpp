#include "media/RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/IoBuffer.h"
#include "core/Log.h"
#include "media/VideoCodec.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
}

namespace {

constexpr AVRational kMicros{1, 1000000};
constexpr int kFirstBackoffMs = 100;
constexpr int kMaxBackoffMs = 5000;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof(text));
  return text;
}

std::atomic<int> writePauseUs{0};

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

void SetRecordWritePauseForTest(int microseconds) { writePauseUs = microseconds; }

const char* RecordFileExtension(int fileType) {
  switch (fileType) {
    case 0: return ".asf";
    case 1: return ".flv";
    case 2: return ".mp4";
    default: return "";
  }
}

std::string RecordFolder(const std::string& saveFolder, int direMod, const LocalTime& t) {
  std::string folder = saveFolder;
  std::replace(folder.begin(), folder.end(), '\\', '/');
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder != "/") folder += '/';
  if (direMod == 0) {
    char part[64];
    snprintf(part, sizeof(part), "%d/%d/%d/", t.year, t.month, t.day);
    folder += part;
  }
  return folder;
}

std::string RecordFileName(const std::string& name, int fileType, const LocalTime& t) {
  const char* ext = RecordFileExtension(fileType);
  if (!*ext) return "";
  char stamp[64];
  snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d-%02d-%02d-%02d", t.year, t.month, t.day, t.hour, t.minute,
           t.second);
  return (name.empty() ? std::string() : name + "_") + stamp + ext;
}

std::string UniqueRecordPath(const std::string& path) {
  if (!FileExists(path)) return path;
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  for (int n = 1;; ++n) {
    std::string candidate = path.substr(0, dot) + "_" + std::to_string(n) + path.substr(dot);
    if (!FileExists(candidate)) return candidate;
  }
}

RecordFile::~RecordFile() { Close(); }

void RecordFile::Free() {
  if (context) {
    if (context->pb) avio_closep(&context->pb);
    avformat_free_context(context);
    context = nullptr;
  }
  video = Track();
  audio = Track();
  headerWritten = false;
  fragmented = false;
  discontinuity = false;
  videoKeySeen = false;
  haveOrigin = false;
  originUs = 0;
  runStartUs = 0;
}

bool RecordFile::AddStream(Track& track, const AVCodecParameters* par, AVRational timeBase, std::string* error) {
  AVStream* st = avformat_new_stream(context, nullptr);
  if (!st || avcodec_parameters_copy(st->codecpar, par) < 0) {
    // The text the operator's tools look for when a stream cannot be set up.
    fprintf(stderr, "Failed to copy context from input to output stream codec context\n");
    if (error) *error = "cannot set up a stream of " + path;
    return false;
  }
  st->codecpar->codec_tag = 0;
  if (timeBase.num <= 0 || timeBase.den <= 0) timeBase = AVRational{1, 1000};
  st->time_base = timeBase;
  track.stream = st;
  track.inputTimeBase = timeBase;
  return true;
}

bool RecordFile::Open(const std::string& filePath, const AVCodecParameters* videoPar, AVRational videoTimeBase,
                      const AVCodecParameters* audioPar, AVRational audioTimeBase, std::string* error) {
  Close();
  path = filePath;
  int ret = avformat_alloc_output_context2(&context, nullptr, nullptr, path.c_str());
  if (ret < 0 || !context) {
    context = nullptr;
    if (error) *error = "no muxer for " + path + ": " + AvError(ret);
    return false;
  }
  ret = avio_open2(&context->pb, path.c_str(), AVIO_FLAG_READ_WRITE, nullptr, nullptr);
  if (ret < 0) {
    if (error) *error = "cannot create " + path + ": " + AvError(ret);
    Free();
    return false;
  }
  if ((videoPar && !AddStream(video, videoPar, videoTimeBase, error)) ||
      (audioPar && !AddStream(audio, audioPar, audioTimeBase, error))) {
    Free();
    remove(path.c_str());
    return false;
  }
  // Every packet reaches the file at once: the size the console shows is
  // current, and a crash loses no more than the packet under way.
  context->flush_packets = 1;
  AVDictionary* options = nullptr;
  fragmented = strcmp(context->oformat->name, "mp4") == 0;
  if (fragmented) {
    // An MP4 written in one piece has its index only at the end, so a
    // process that dies loses all of it. Written in fragments (each with its
    // own small index, and a header that needs none), it plays up to the
    // last whole fragment; a normal end makes an ordinary MP4 of it.
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    // Without video no key frame ends a fragment: one a second instead.
    if (!videoPar) av_dict_set(&options, "frag_duration", "1000000", 0);
  }
  ret = avformat_write_header(context, &options);
  av_dict_free(&options);
  if (ret < 0) {
    if (error) *error = "cannot write the header of " + path + ": " + AvError(ret);
    Free();
    remove(path.c_str());
    return false;
  }
  headerWritten = true;
  return true;
}

bool RecordFile::WritePacket(const IoBuffer& packet, std::string* error) {
  if (!context) return true;
  Track* track = packet.GetType() == 1 ? &video : packet.GetType() == 2 ? &audio : nullptr;
  if (!track || !track->stream) return true;

  const uint8_t* data = packet.GetData();
  int size = packet.GetSize();
  if (track == &audio && packet.GetCodecId() == AV_CODEC_ID_AAC && size >= 7 && data[0] == 0xFF &&
      (data[1] & 0xF0) == 0xF0) {
    int header = (data[1] & 0x01) ? 7 : 9;  // protection_absent clear: a CRC follows the header
    if (size <= header) return true;
    data += header;
    size -= header;
  }
  if (size <= 0) return true;
  if (discontinuity) videoKeySeen = false;
  if (track == &video && !videoKeySeen) {
    if (!(packet.GetFlags() & AV_PKT_FLAG_KEY)) return true;
    videoKeySeen = true;
  }

  // Input decode and presentation times in microseconds; a missing one falls
  // back to the other, and both missing to the packet's millisecond time.
  int64_t dts = packet.GetDts(), pts = packet.GetPts();
  int64_t dtsUs, ptsUs;
  if (dts == AV_NOPTS_VALUE && pts == AV_NOPTS_VALUE) {
    dtsUs = ptsUs = packet.GetTimestamp() * 1000;
  } else {
    if (dts == AV_NOPTS_VALUE) dts = pts;
    if (pts == AV_NOPTS_VALUE) pts = dts;
    dtsUs = av_rescale_q(dts, track->inputTimeBase, kMicros);
    ptsUs = av_rescale_q(pts, track->inputTimeBase, kMicros);
  }

  if (discontinuity) {
    discontinuity = false;
    haveOrigin = false;
    int64_t last = std::max(video.lastDtsUs == AV_NOPTS_VALUE ? 0 : video.lastDtsUs,
                            audio.lastDtsUs == AV_NOPTS_VALUE ? 0 : audio.lastDtsUs);
    runStartUs = last + 1000;
  }
  if (!haveOrigin) {
    haveOrigin = true;
    originUs = dtsUs;
  }
  int64_t outDtsUs = std::max(dtsUs - originUs + runStartUs, runStartUs);
  int64_t outPtsUs = outDtsUs + std::max<int64_t>(ptsUs - dtsUs, 0);

  AVRational tb = track->stream->time_base;
  int64_t outDts = av_rescale_q_rnd(outDtsUs, kMicros, tb, AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  int64_t outPts = av_rescale_q_rnd(outPtsUs, kMicros, tb, AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  if (track->lastDts != AV_NOPTS_VALUE && outDts <= track->lastDts) {
    int64_t shift = track->lastDts + 1 - outDts;
    outDts += shift;
    outPts += shift;
  }

  AVPacket* pkt = av_packet_alloc();
  if (!pkt || av_new_packet(pkt, size) < 0) {
    av_packet_free(&pkt);
    return true;
  }
  memcpy(pkt->data, data, size);
  pkt->pts = outPts;
  pkt->dts = outDts;
  pkt->flags = packet.GetFlags() & AV_PKT_FLAG_KEY;
  pkt->stream_index = track->stream->index;
  pkt->duration = packet.GetDuration() > 0
                      ? av_rescale_q(packet.GetDuration(), track->inputTimeBase, tb)
                      : 0;
  pkt->pos = -1;
  if (int pause = writePauseUs.load(std::memory_order_relaxed)) usleep(static_cast<useconds_t>(pause));
  int ret = av_interleaved_write_frame(context, pkt);
  av_packet_free(&pkt);
  track->lastDts = outDts;
  track->lastDtsUs = av_rescale_q(outDts, tb, kMicros);
  if (context->pb && context->pb->error < 0) {
    if (error) *error = "cannot write " + path + ": " + AvError(context->pb->error);
    return false;
  }
  (void)ret;  // a refused single packet is skipped; the file goes on
  return true;
}

void RecordFile::Flush() {
  if (!context || !headerWritten || !fragmented) return;
  // The interleaving queue first, then the fragment under way.
  av_interleaved_write_frame(context, nullptr);
  av_write_frame(context, nullptr);
  if (context->pb) avio_flush(context->pb);
}

bool RecordFile::Close(std::string* error) {
  if (!context) return true;
  bool ok = true;
  if (headerWritten) {
    int ret = av_write_trailer(context);
    if (ret < 0 || (context->pb && context->pb->error < 0)) {
      ok = false;
      if (error) *error = "cannot finish " + path + ": " + AvError(ret < 0 ? ret : context->pb->error);
    }
  }
  if (context->pb) {
    int ret = avio_closep(&context->pb);
    if (ret < 0 && ok) {
      ok = false;
      if (error) *error = "cannot close " + path + ": " + AvError(ret);
    }
  }
  Free();
  return ok;
}

// ---------------------------------------------------------------- finishing

bool FinishFragmentedMp4(const std::string& path, std::string* error) {
  const std::string temp = path + ".tmp";
  AVFormatContext* in = nullptr;
  AVFormatContext* out = nullptr;
  AVPacket* pkt = nullptr;
  std::string reason;
  auto fail = [&](const std::string& what, int code) {
    reason = what + (code < 0 ? ": " + AvError(code) : std::string());
    return false;
  };
  auto run = [&]() -> bool {
    int ret = avformat_open_input(&in, path.c_str(), nullptr, nullptr);
    if (ret < 0) return fail("cannot read " + path, ret);
    ret = avformat_alloc_output_context2(&out, nullptr, "mp4", temp.c_str());
    if (ret < 0 || !out) {
      out = nullptr;
      return fail("no MP4 muxer for " + temp, ret);
    }
    for (unsigned i = 0; i < in->nb_streams; ++i) {
      AVStream* st = avformat_new_stream(out, nullptr);
      if (!st || avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar) < 0)
        return fail("cannot set up a stream of " + temp, 0);
      st->codecpar->codec_tag = 0;
      st->time_base = in->streams[i]->time_base;
    }
    ret = avio_open2(&out->pb, temp.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (ret < 0) return fail("cannot create " + temp, ret);
    ret = avformat_write_header(out, nullptr);
    if (ret < 0) return fail("cannot write the header of " + temp, ret);
    pkt = av_packet_alloc();
    if (!pkt) return fail("out of memory", 0);
    while ((ret = av_read_frame(in, pkt)) >= 0) {
      if (pkt->stream_index < 0 || static_cast<unsigned>(pkt->stream_index) >= out->nb_streams) {
        av_packet_unref(pkt);
        continue;
      }
      av_packet_rescale_ts(pkt, in->streams[pkt->stream_index]->time_base,
                           out->streams[pkt->stream_index]->time_base);
      pkt->pos = -1;
      ret = av_interleaved_write_frame(out, pkt);
      if (ret < 0) return fail("cannot write " + temp, ret);
    }
    if (ret != AVERROR_EOF) return fail("cannot read " + path, ret);
    ret = av_write_trailer(out);
    if (ret < 0 || out->pb->error < 0) return fail("cannot finish " + temp, ret < 0 ? ret : out->pb->error);
    ret = avio_closep(&out->pb);
    if (ret < 0) return fail("cannot close " + temp, ret);
    // On disk before it takes the recording's name, so that a power cut
    // leaves either file whole.
    int fd = open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    if (!synced) return fail("cannot flush " + temp + ": " + strerror(errno), 0);
    if (rename(temp.c_str(), path.c_str()) != 0) return fail("cannot replace " + path + ": " + strerror(errno), 0);
    return true;
  };
  bool ok = run();
  av_packet_free(&pkt);
  if (out) {
    if (out->pb) avio_closep(&out->pb);
    avformat_free_context(out);
  }
  avformat_close_input(&in);
  if (!ok) {
    // Only a temporary file of this step is removed: a directory or other
    // non-file at that name is left alone.
    struct stat st;
    if (lstat(temp.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(temp.c_str());
    if (error) *error = reason;
  }
  return ok;
}

namespace {

// The worker that finishes fragmented MP4 files. Made on first use and never
// freed: it is still there for outputs that close their files while the
// process exits. Its thread runs only while there are files to finish.
class Mp4Finisher {
 public:
  static Mp4Finisher& Instance() {
    static Mp4Finisher* finisher = [] {
      auto* f = new Mp4Finisher;
      // Registered after the engine's own exit handler (the engine exists
      // before the first recording), so this runs before the engine is
      // taken down: what is queued by then is finished here, what the
      // engine's shutdown closes afterwards is finished at once.
      atexit([] { Instance().Drain(); });
      return f;
    }();
    return *finisher;
  }

  void Add(const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex);
    if (exiting) {
      FinishCounted(lock, path);
      return;
    }
    jobs.push_back(path);
    if (!workerRunning) {
      // The last worker has left its loop; it ends without the lock.
      if (worker.joinable()) worker.join();
      workerRunning = true;
      worker = std::thread([this] { Run(); });
    }
  }

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex);
    idle.wait(lock, [this] { return jobs.empty() && busy == 0; });
  }

 private:
  static void Finish(const std::string& path) {
    std::string reason;
    if (FinishFragmentedMp4(path, &reason)) {
      LogInfo("record: finished %s", path.c_str());
    } else {
      LogError("record: %s; %s stays as it was written (fragmented)", reason.c_str(), path.c_str());
    }
  }

  // Finishes one file without the lock, counted as busy meanwhile.
  void FinishCounted(std::unique_lock<std::mutex>& lock, const std::string& path) {
    ++busy;
    lock.unlock();
    Finish(path);
    lock.lock();
    --busy;
    idle.notify_all();
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      if (jobs.empty()) {
        workerRunning = false;
        return;
      }
      std::string path = jobs.front();
      jobs.pop_front();
      FinishCounted(lock, path);
    }
  }

  void Drain() {
    std::unique_lock<std::mutex> lock(mutex);
    exiting = true;
    // The worker finishes what is queued, then leaves.
    std::thread last = std::move(worker);
    lock.unlock();
    if (last.joinable()) last.join();
  }

  std::mutex mutex;
  std::condition_variable idle;
  std::deque<std::string> jobs;
  int busy = 0;
  bool exiting = false;
  bool workerRunning = false;
  std::thread worker;
};

}  // namespace

void FinishFragmentedMp4Later(const std::string& path) { Mp4Finisher::Instance().Add(path); }

void WaitFragmentedMp4Finished() { Mp4Finisher::Instance().Wait(); }

// ---------------------------------------------------------------- recorder

Recorder::Recorder(const RecordSettings& s, const AVCodecContext* v, AVRational vtb, const AVCodecContext* a,
                   AVRational atb)
    : settings(s),
      video(v),
      audio(a),
      videoTimeBase(vtb),
      audioTimeBase(atb),
      backoffMs(kFirstBackoffMs),
      retryAt(std::chrono::steady_clock::now()) {
  // Made now, so that its exit handler comes after the engine's.
  Mp4Finisher::Instance();
}

void Recorder::Fail(const std::string& reason) {
  error = reason;
  LogError("record: %s", reason.c_str());
  retryAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(backoffMs);
  backoffMs = std::min(backoffMs * 2, kMaxBackoffMs);
}

bool Recorder::Prepare() {
  if (file.IsOpen()) return true;
  // The channel's contexts are read only through a copy of their own (the
  // encoder's gets its extradata late, on the channel's thread).
  struct Copies {
    AVCodecParameters* video = nullptr;
    AVCodecParameters* audio = nullptr;
    ~Copies() {
      avcodec_parameters_free(&video);
      avcodec_parameters_free(&audio);
    }
  } copies;
  for (auto [context, copy] : {std::make_pair(video, &copies.video), std::make_pair(audio, &copies.audio)}) {
    if (!context) continue;
    *copy = avcodec_parameters_alloc();
    if (!*copy || !CopySharedCodecParameters(context, *copy)) return false;
  }
  const AVCodecParameters* vp = copies.video;
  const AVCodecParameters* ap = copies.audio;
  // A muxer cannot describe H.264 or AAC without its extradata: wait for it.
  if (vp && vp->codec_id == AV_CODEC_ID_H264 && vp->extradata_size <= 0 && !config.HasVideoConfig()) return false;
  if (ap && ap->codec_id == AV_CODEC_ID_AAC && ap->extradata_size <= 0 && !config.HasAudioConfig()) return false;
  if (std::chrono::steady_clock::now() < retryAt) return false;

  LocalTime now = RecordClock::Now();
  std::string name = RecordFileName(settings.name, settings.fileType, now);
  if (name.empty()) {
    Fail("unknown record file type " + std::to_string(settings.fileType));
    return false;
  }
  std::string folder = RecordFolder(settings.saveFolder, settings.direMod, now);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    Fail("cannot create folder " + folder + ": " + ec.message());
    return false;
  }
  // The stream may have changed its configuration since the contexts were made.
  config.Apply(copies.video, copies.audio);
  std::string target = UniqueRecordPath(folder + name);
  std::string reason;
  bool ok = file.Open(target, vp, videoTimeBase, ap, audioTimeBase, &reason);
  if (ok) config.Opened(vp, ap);
  if (!ok) {
    Fail(reason.empty() ? "cannot open " + target : reason);
    return false;
  }
  path = target;
  opened = now;
  backoffMs = kFirstBackoffMs;
  LogInfo("record: writing %s", path.c_str());
  return true;
}

bool Recorder::Handle(const IoBuffer& packet) {
  if (!file.IsOpen()) return false;
  int type = packet.GetType();
  if (type == 1 || type == 2) {
    // No file mixes two codec configurations: at a change the file ends as
    // at an end of stream with a new file to follow.
    switch (config.Take(packet)) {
      case RecordConfigWatch::kWrite:
        break;
      case RecordConfigWatch::kHeld:
        return false;
      case RecordConfigWatch::kCut:
        return NextConfiguration();
    }
  } else if (type == 3 && config.Holding()) {
    NextConfiguration();
    if (!file.IsOpen()) return false;
  }
  return Write(packet);
}

bool Recorder::NextConfiguration() {
  std::vector<IoBuffer*> held = config.Release();
  CloseFile();
  bool wrote = false;
  bool open = Prepare();
  for (IoBuffer* p : held) {
    if (open && file.IsOpen()) wrote = Write(*p) || wrote;
    delete p;
  }
  return wrote;
}

bool Recorder::Write(const IoBuffer& packet) {
  bool wrote = false;
  int type = packet.GetType();
  if (settings.direMod == 0 && (type == 1 || type == 2)) {
    LocalTime now = RecordClock::Now();
    bool newDay = now.year != opened.year || now.month != opened.month || now.day != opened.day;
    bool cut = !video || (type == 1 && (packet.GetFlags() & AV_PKT_FLAG_KEY));
    if (newDay && cut) {
      CloseFile();
      if (!Prepare()) return false;
    }
  }
  if (type == 1 || type == 2) {
    std::string reason;
    if (!file.WritePacket(packet, &reason)) {
      std::string ignored;
      file.Close(&ignored);
      Fail(reason);
      return false;
    }
    wrote = true;
  } else if (type == 3) {
    // The operator's choice in the record task: 1 "新文件" finishes the file
    // with the input; 0 "追加" keeps it open and continues it when the input
    // comes back.
    if (settings.fileMod == 1) {
      CloseFile();
      return false;
    }
    file.MarkDiscontinuity();
  }
  return wrote;
}

void Recorder::Close() {
  // What a configuration change held back goes into the next file first.
  if (config.Holding() && file.IsOpen()) NextConfiguration();
  CloseFile();
}

void Recorder::CloseFile() {
  if (!file.IsOpen()) return;
  bool fragmented = file.Fragmented();
  std::string reason;
  if (!file.Close(&reason)) {
    // What was written up to the failure plays as it is.
    Fail(reason);
    return;
  }
  if (fragmented) FinishFragmentedMp4Later(path);
}
