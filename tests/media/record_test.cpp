// Record files: naming, folders, and what FFmpeg's own tools read back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <thread>
#include <vector>

#include "core/Log.h"
#include "media/RecordFile.h"
#include "media/StreamOutput.h"
#include "media/VideoCodec.h"
#include "tests/media/RecordMedia.h"
#include "tests/tools/TestUtil.h"

using vvtest::ProbeMedia;
using vvtest::SourceMedia;
using vvtest::TempDir;

namespace {

SourceMedia& Media() {
  static TempDir dir("vv-recmedia");
  static SourceMedia media;
  static bool made = vvtest::MakeSourceMedia(dir.path(), 3, media);
  EXPECT_TRUE(made);
  return media;
}

std::vector<std::string> FilesUnder(const std::string& dir) {
  vvtest::CommandResult r = vvtest::Run("cd " + vvtest::ShellQuote(dir) + " && find . -type f | sort");
  std::vector<std::string> files;
  std::istringstream in(r.output);
  std::string line;
  while (std::getline(in, line)) files.push_back(line.substr(2));
  return files;
}

// An MP4 that ended normally is an ordinary one, as players and editors
// read it: one index (moov with the sample tables of the whole file) and no
// fragments; it plays for the given length without a decode error.
void ExpectOrdinaryMp4(const std::string& path, double seconds) {
  SCOPED_TRACE(path);
  vvtest::Mp4Layout layout = vvtest::ReadMp4Layout(path);
  ASSERT_TRUE(layout.read);
  EXPECT_FALSE(layout.hasMoof);
  EXPECT_FALSE(layout.hasMvex);
  EXPECT_NE(std::find(layout.top.begin(), layout.top.end(), "moov"), layout.top.end());
  EXPECT_GE(layout.sampleTableEntries, 25 * seconds - 1);  // 25 pictures a second, and audio
  vvtest::ProbeResult r = ProbeMedia(path);
  EXPECT_EQ(r.videoCodec, "h264");
  EXPECT_NEAR(r.duration, seconds, 1.0);
  EXPECT_EQ(r.decodeErrors, "");
}

}  // namespace

TEST(RecordNaming, PathsFromTaskSettings) {
  struct Case {
    std::string name;
    int fileType;
    std::string folder;
    int direMod;
    std::string expected;
  } cases[] = {
      {"cam1", 2, "D:\\rec", 0, "D:/rec/2015/3/5/cam1_2015-03-05-08-07-09.mp4"},
      {"", 2, "D:\\rec", 1, "D:/rec/2015-03-05-08-07-09.mp4"},
      {"cam1", 0, "/srv/rec/", 1, "/srv/rec/cam1_2015-03-05-08-07-09.asf"},
      {"cam1", 1, "/srv/rec", 0, "/srv/rec/2015/3/5/cam1_2015-03-05-08-07-09.flv"},
      {"cam1", 3, "/srv/rec", 1, "/srv/rec/"},  // unknown type: no file name
  };
  LocalTime t = RecordClock::Make(2015, 3, 5, 8, 7, 9);
  for (const Case& c : cases) {
    EXPECT_EQ(RecordFolder(c.folder, c.direMod, t) + RecordFileName(c.name, c.fileType, t), c.expected)
        << c.name << " " << c.fileType << " " << c.folder;
  }
}

TEST(RecordNaming, SecondFileInOneSecondGetsItsOwnName) {
  TempDir dir;
  std::string path = dir.file("cam_2015-03-05-08-07-09.flv");
  EXPECT_EQ(UniqueRecordPath(path), path);
  vvtest::Run("touch " + vvtest::ShellQuote(path));
  EXPECT_EQ(UniqueRecordPath(path), dir.file("cam_2015-03-05-08-07-09_1.flv"));
  vvtest::Run("touch " + vvtest::ShellQuote(dir.file("cam_2015-03-05-08-07-09_1.flv")));
  EXPECT_EQ(UniqueRecordPath(path), dir.file("cam_2015-03-05-08-07-09_2.flv"));
}

// Each container, written from the packets a source hands on, reads back
// with H.264 and AAC, the source's duration and no decode error; ADTS
// headers in front of AAC are left out, and a file continued across an input
// restart keeps going forward in time.
TEST(RecordFileTest, ContainersReadBackClean) {
  SourceMedia& media = Media();
  ASSERT_FALSE(media.packets.empty());
  struct Case {
    int fileType;
    bool adts;
    int runs;  // input played this many times into one file
  } cases[] = {{0, false, 1}, {1, false, 1}, {2, false, 1}, {2, true, 1}, {1, true, 1}, {2, false, 2}, {1, false, 2},
               {0, false, 2}};
  TempDir dir;
  int n = 0;
  for (const Case& c : cases) {
    std::string path = dir.file("r" + std::to_string(n++) + RecordFileExtension(c.fileType));
    RecordFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, media.video, media.videoTimeBase, media.audio, media.audioTimeBase, &error)) << error;
    for (int run = 0; run < c.runs; ++run) {
      if (run > 0) file.MarkDiscontinuity();
      for (auto& p : media.packets) {
        if (c.adts && p->GetType() == 2) {
          ASSERT_TRUE(file.WritePacket(*vvtest::WithAdts(*p, media.audio), &error)) << error;
        } else {
          ASSERT_TRUE(file.WritePacket(*p, &error)) << error;
        }
      }
    }
    ASSERT_TRUE(file.Close(&error)) << error;
    vvtest::ProbeResult r = ProbeMedia(path);
    SCOPED_TRACE(path);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.videoCodec, "h264");
    EXPECT_EQ(r.audioCodec, "aac");
    EXPECT_NEAR(r.duration, media.seconds * c.runs, 1.0);
    EXPECT_EQ(r.decodeErrors, "");
  }
}

// An MP4 is written in fragments, one a second when there is no video (no
// key frame to end them), so a crash never costs more than about a second;
// finishing it gives an ordinary MP4 of the same length.
TEST(RecordFileTest, Mp4IsWrittenInFragmentsThenFinished) {
  SourceMedia& media = Media();
  TempDir dir;
  struct Case {
    bool video, audio;
  } cases[] = {{true, true}, {false, true}, {true, false}};
  int n = 0;
  for (const Case& c : cases) {
    std::string path = dir.file("f" + std::to_string(n++) + ".mp4");
    SCOPED_TRACE(path);
    RecordFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, c.video ? media.video : nullptr, media.videoTimeBase, c.audio ? media.audio : nullptr,
                          media.audioTimeBase, &error))
        << error;
    EXPECT_TRUE(file.Fragmented());
    // Half the input, then a pause: everything written so far reaches the
    // file and reads back, and the file goes on after it.
    size_t half = media.packets.size() / 2;
    int videoSoFar = 0;
    for (size_t i = 0; i < half; ++i) {
      ASSERT_TRUE(file.WritePacket(*media.packets[i], &error)) << error;
      videoSoFar += media.packets[i]->GetType() == 1;
    }
    file.Flush();
    if (c.video) {
      EXPECT_EQ(vvtest::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                            "stream=nb_read_frames -of csv=p=0 " + vvtest::ShellQuote(path)).output,
                std::to_string(videoSoFar) + "\n");
    }
    for (size_t i = half; i < media.packets.size(); ++i)
      ASSERT_TRUE(file.WritePacket(*media.packets[i], &error)) << error;
    // Before the end: the fragments so far are in the file (the source has
    // a key frame each second).
    vvtest::Mp4Layout writing = vvtest::ReadMp4Layout(path);
    EXPECT_TRUE(writing.hasMvex);
    EXPECT_GE(std::count(writing.top.begin(), writing.top.end(), "moof"), 2);
    ASSERT_TRUE(file.Close(&error)) << error;
    ASSERT_TRUE(FinishFragmentedMp4(path, &error)) << error;
    EXPECT_EQ(FilesUnder(dir.path()).size(), static_cast<size_t>(n));  // no temporary file left
    vvtest::Mp4Layout layout = vvtest::ReadMp4Layout(path);
    EXPECT_TRUE(layout.read);
    EXPECT_FALSE(layout.hasMoof);
    EXPECT_FALSE(layout.hasMvex);
    vvtest::ProbeResult r = ProbeMedia(path);
    EXPECT_EQ(r.videoCodec, c.video ? "h264" : "");
    EXPECT_EQ(r.audioCodec, c.audio ? "aac" : "");
    EXPECT_NEAR(r.duration, media.seconds, 0.5);
    EXPECT_EQ(r.decodeErrors, "");
  }
}

TEST(RecordFileTest, UncreatableFileGivesTheReason) {
  SourceMedia& media = Media();
  TempDir dir;
  vvtest::Run("touch " + vvtest::ShellQuote(dir.file("plain")));
  RecordFile file;
  std::string error;
  EXPECT_FALSE(file.Open(dir.file("plain/x.mp4"), media.video, media.videoTimeBase, media.audio, media.audioTimeBase,
                         &error));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_NE(error.find("plain/x.mp4"), std::string::npos) << error;
}

namespace {

struct Contexts {
  AVCodecContext* video;
  AVCodecContext* audio;
  explicit Contexts(const SourceMedia& m)
      : video(vvtest::ContextFromParameters(m.video)), audio(vvtest::ContextFromParameters(m.audio)) {}
  ~Contexts() {
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
  }
};

std::unique_ptr<IoBuffer> EndOfStream() {
  auto eos = std::make_unique<IoBuffer>();
  eos->SetType(3);
  return eos;
}

class ClockGuard {
 public:
  explicit ClockGuard(LocalTime t) { Set(t); }
  ~ClockGuard() { RecordClock::SetSource(nullptr); }
  void Set(LocalTime t) {
    RecordClock::SetSource([t] { return t; });
  }
};

}  // namespace

// Date folders follow the clock: a file opened before midnight stays in its
// day's folder, the next one goes into the new day's, and both play.
TEST(RecorderTest, MidnightStartsTheNextDaysFile) {
  SourceMedia& media = Media();
  Contexts ctx(media);
  TempDir dir;
  for (int direMod : {0, 1}) {
    std::string root = dir.file("dm" + std::to_string(direMod));
    ClockGuard clock(RecordClock::Make(2015, 3, 5, 23, 59, 59));
    Recorder rec(RecordSettings{"cam", 2, root, 0, direMod}, ctx.video, media.videoTimeBase, ctx.audio,
                 media.audioTimeBase);
    size_t half = media.packets.size() / 2;
    for (size_t i = 0; i < media.packets.size(); ++i) {
      if (i == half) clock.Set(RecordClock::Make(2015, 3, 6, 0, 0, 0));
      ASSERT_TRUE(rec.Prepare()) << rec.Error();
      rec.Handle(*media.packets[i]);
    }
    rec.Close();
    WaitFragmentedMp4Finished();
    std::vector<std::string> files = FilesUnder(root);
    if (direMod == 0) {
      ASSERT_EQ(files, (std::vector<std::string>{"2015/3/5/cam_2015-03-05-23-59-59.mp4",
                                                 "2015/3/6/cam_2015-03-06-00-00-00.mp4"}));
    } else {
      ASSERT_EQ(files, (std::vector<std::string>{"cam_2015-03-05-23-59-59.mp4"}));
    }
    double total = 0;
    for (const std::string& f : files) {
      vvtest::ProbeResult r = ProbeMedia(root + "/" + f);
      EXPECT_EQ(r.videoCodec, "h264") << f;
      EXPECT_EQ(r.decodeErrors, "") << f;
      ExpectOrdinaryMp4(root + "/" + f, r.duration);
      total += r.duration;
    }
    EXPECT_NEAR(total, media.seconds, 1.0);
  }
}

// File mode 0 continues one file across an input restart; 1 starts a new
// file, which in the same second gets a name of its own.
TEST(RecorderTest, EndOfStreamByFileMode) {
  SourceMedia& media = Media();
  Contexts ctx(media);
  TempDir dir;
  struct Case {
    int fileType;
    int fileMod;
    size_t files;
    double eachSeconds;
  } cases[] = {{1, 0, 1, 2 * media.seconds}, {1, 1, 2, media.seconds}, {2, 0, 1, 2 * media.seconds},
               {2, 1, 2, media.seconds}};
  for (const Case& c : cases) {
    std::string ext = RecordFileExtension(c.fileType);
    std::string root = dir.file("fm" + std::to_string(c.fileMod) + ext);
    ClockGuard clock(RecordClock::Make(2015, 3, 5, 8, 7, 9));
    Recorder rec(RecordSettings{"", c.fileType, root, c.fileMod, 1}, ctx.video, media.videoTimeBase, ctx.audio,
                 media.audioTimeBase);
    for (int run = 0; run < 2; ++run) {
      for (auto& p : media.packets) {
        ASSERT_TRUE(rec.Prepare()) << rec.Error();
        rec.Handle(*p);
      }
      rec.Handle(*EndOfStream());
    }
    rec.Close();
    WaitFragmentedMp4Finished();
    std::vector<std::string> files = FilesUnder(root);
    ASSERT_EQ(files.size(), c.files) << c.fileMod;
    EXPECT_EQ(files[0], "2015-03-05-08-07-09" + ext);
    if (c.files == 2) {
      EXPECT_EQ(files[1], "2015-03-05-08-07-09_1" + ext);
    }
    for (const std::string& f : files) {
      vvtest::ProbeResult r = ProbeMedia(root + "/" + f);
      EXPECT_NEAR(r.duration, c.eachSeconds, 1.0) << f;
      EXPECT_EQ(r.decodeErrors, "") << f;
      if (c.fileType == 2) ExpectOrdinaryMp4(root + "/" + f, c.eachSeconds);
    }
  }
}

// While an MP4 is being written it is fragmented (it plays after a crash);
// when its ordinary form cannot be made (here its temporary file's name is
// taken by a folder), the fragmented file stays as it is and plays whole.
TEST(RecorderTest, FailedFinishKeepsTheFragmentedMp4) {
  SourceMedia& media = Media();
  Contexts ctx(media);
  TempDir dir;
  ClockGuard clock(RecordClock::Make(2015, 3, 5, 8, 7, 9));
  std::string path = dir.file("x_2015-03-05-08-07-09.mp4");
  ASSERT_EQ(mkdir((path + ".tmp").c_str(), 0755), 0);
  Recorder rec(RecordSettings{"x", 2, dir.path(), 0, 1}, ctx.video, media.videoTimeBase, ctx.audio,
               media.audioTimeBase);
  for (auto& p : media.packets) {
    ASSERT_TRUE(rec.Prepare()) << rec.Error();
    rec.Handle(*p);
  }
  ASSERT_EQ(rec.Path(), path);
  vvtest::Mp4Layout writing = vvtest::ReadMp4Layout(path);
  EXPECT_TRUE(writing.hasMoof);
  rec.Close();
  WaitFragmentedMp4Finished();
  EXPECT_EQ(FilesUnder(dir.path()), std::vector<std::string>{"x_2015-03-05-08-07-09.mp4"});
  vvtest::Mp4Layout kept = vvtest::ReadMp4Layout(path);
  EXPECT_TRUE(kept.read);
  EXPECT_TRUE(kept.hasMoof);
  vvtest::ProbeResult r = ProbeMedia(path);
  EXPECT_EQ(r.videoCodec, "h264");
  EXPECT_EQ(r.audioCodec, "aac");
  EXPECT_EQ(r.decodeErrors, "");
  EXPECT_EQ(vvtest::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                        "-of csv=p=0 " + vvtest::ShellQuote(path)).output,
            std::to_string(std::count_if(media.packets.begin(), media.packets.end(),
                                         [](const std::unique_ptr<IoBuffer>& p) { return p->GetType() == 1; })) +
                "\n");
}

// H.264 without extradata opens nothing (no error either); a folder that
// cannot be made gives its reason and backs off; once it can be made, the
// next attempt after the back-off opens the file.
TEST(RecorderTest, WaitsForExtradataAndBacksOffOnFailure) {
  SourceMedia& media = Media();
  Contexts ctx(media);
  TempDir dir;
  {
    AVCodecContext* bare = vvtest::ContextFromParameters(media.video);
    av_freep(&bare->extradata);
    bare->extradata_size = 0;
    Recorder rec(RecordSettings{"x", 2, dir.file("bare"), 0, 1}, bare, media.videoTimeBase, nullptr,
                 media.audioTimeBase);
    EXPECT_FALSE(rec.Prepare());
    EXPECT_EQ(rec.Error(), "");
    EXPECT_TRUE(FilesUnder(dir.path()).empty());
    avcodec_free_context(&bare);
  }
  std::string blocker = dir.file("blocker");
  vvtest::Run("touch " + vvtest::ShellQuote(blocker));
  Recorder rec(RecordSettings{"x", 2, blocker + "/rec", 0, 1}, ctx.video, media.videoTimeBase, ctx.audio,
               media.audioTimeBase);
  auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(rec.Prepare());
  EXPECT_NE(rec.Error().find("blocker/rec"), std::string::npos) << rec.Error();
  int backoff = rec.BackoffMs();
  EXPECT_FALSE(rec.Prepare());
  // Within the first pause (100 ms) no new attempt is made; a slow machine
  // may already be past it, and then the second attempt counts as one.
  if (std::chrono::steady_clock::now() - before < std::chrono::milliseconds(100)) {
    EXPECT_EQ(rec.BackoffMs(), backoff);
  }
  EXPECT_GT(rec.BackoffMs(), 100);
  vvtest::Run("rm " + vvtest::ShellQuote(blocker));
  EXPECT_TRUE(vvtest::WaitFor([&] { return rec.Prepare(); }, std::chrono::seconds(15)));
  EXPECT_NE(rec.Path().find("blocker/rec/x_"), std::string::npos) << rec.Path();
}

// ---------------------------------------------------------------- the output

namespace {

RecordTaskInfo RecordRow(const std::string& folder, int fileType, int fileMod, int direMod) {
  RecordTaskInfo row;
  row.name = "task";
  row.fileType = fileType;
  row.saveFolder = folder;
  row.fileMod = fileMod;
  row.direMod = direMod;
  return row;
}

void Configure(StreamOutput& out, const SourceMedia& media, const Contexts& ctx) {
  out.SetVideoCodecContext(ctx.video);
  out.SetAudioCodecContext(ctx.audio);
  out.SetVideoTimeBase(media.videoTimeBase.num, media.videoTimeBase.den);
  out.SetAudioTimeBase(media.audioTimeBase.num, media.audioTimeBase.den);
}

}  // namespace

// A record output fed the way its channel feeds it: in each container the
// file reads back with both codecs and the pushed length; stopping it in the
// middle of the input (here an MP4) still leaves a finished, playable file.
TEST(RecordOutputTest, RecordsAndFinishesOnStop) {
  SourceMedia& media = Media();
  Contexts ctx(media);
  TempDir dir;
  struct Case {
    int fileType;
    double part;  // share of the input pushed before the stop
  } cases[] = {{0, 1.0}, {1, 1.0}, {2, 1.0}, {2, 0.5}};
  int n = 0;
  for (const Case& c : cases) {
    std::string folder = dir.file("o" + std::to_string(n++));
    RecordTaskInfo row = RecordRow(folder, c.fileType, 1, 1);
    auto out = std::make_unique<StreamOutput>(21, "", StreamOutput::kRecord, nullptr, &row);
    Configure(*out, media, ctx);
    ASSERT_TRUE(out->Start());
    ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, std::chrono::seconds(10)));
    size_t count = static_cast<size_t>(media.packets.size() * c.part);
    for (size_t i = 0; i < count; ++i) out->PushPacket(media.packets[i].get());
    ASSERT_TRUE(vvtest::WaitFor([&] { return out->QueueSize() == 0; }, std::chrono::seconds(20)));
    TaskStatus status = *out->CheckStatus();
    EXPECT_EQ(status.message, "");
    EXPECT_GT(status.fileSize, 0) << c.fileType;
    EXPECT_EQ(out->GetState(), 2);
    out.reset();  // the stop: joins the recorder, which finishes the file
    WaitFragmentedMp4Finished();
    std::vector<std::string> files = FilesUnder(folder);
    ASSERT_EQ(files.size(), 1u);
    vvtest::ProbeResult r = ProbeMedia(folder + "/" + files[0]);
    SCOPED_TRACE(files[0]);
    EXPECT_EQ(r.videoCodec, "h264");
    EXPECT_EQ(r.audioCodec, "aac");
    EXPECT_NEAR(r.duration, media.seconds * c.part, 1.0);
    EXPECT_EQ(r.decodeErrors, "");
    if (c.fileType == 2) ExpectOrdinaryMp4(folder + "/" + files[0], media.seconds * c.part);
  }
}

// A folder that cannot be made: the reason shows in the status message, the
// state stays idle, pushed packets are dropped; once the folder can be made
// the output records without being restarted.
TEST(RecordOutputTest, UnwritableFolderReportsAndRecovers) {
  SourceMedia& media = Media();
  Contexts ctx(media);
  TempDir dir;
  std::string blocker = dir.file("blocker");
  vvtest::Run("touch " + vvtest::ShellQuote(blocker));
  RecordTaskInfo row = RecordRow(blocker + "/rec", 1, 1, 0);
  StreamOutput out(22, "", StreamOutput::kRecord, nullptr, &row);
  Configure(out, media, ctx);
  ASSERT_TRUE(out.Start());
  ASSERT_TRUE(vvtest::WaitFor([&] { return !out.CheckStatus()->message.empty(); }, std::chrono::seconds(10)));
  TaskStatus status = *out.CheckStatus();
  EXPECT_NE(status.message.find("blocker/rec"), std::string::npos) << status.message;
  EXPECT_EQ(status.state, 1);
  EXPECT_FALSE(out.IsConnected());
  out.PushPacket(media.packets[0].get());
  EXPECT_EQ(out.QueueSize(), 0);
  vvtest::Run("rm " + vvtest::ShellQuote(blocker));
  EXPECT_TRUE(vvtest::WaitFor([&] { return out.IsConnected(); }, std::chrono::seconds(15)));
}

// A full disk: the failure is reported with its reason, never taken for
// success.
TEST(RecordFileTest, FullDiskGivesTheReason) {
  SourceMedia& media = Media();
  TempDir dir;
  std::string path = dir.file("full.flv");
  ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
  RecordFile file;
  std::string error;
  bool ok = file.Open(path, media.video, media.videoTimeBase, media.audio, media.audioTimeBase, &error);
  for (size_t i = 0; ok && i < media.packets.size(); ++i) ok = file.WritePacket(*media.packets[i], &error);
  if (ok) ok = file.Close(&error);
  EXPECT_FALSE(ok);
  EXPECT_NE(error.find("No space left"), std::string::npos) << error;
}

// A disk slower than the stream: the record queue keeps at most its bound
// (10 s of stream) instead of growing with the stream; what goes is dropped
// up to a key frame and logged with its amount, so the file still decodes
// throughout.
TEST(RecordOutputTest, SlowDiskKeepsTheQueueBounded) {
  SourceMedia& media = Media();
  Contexts ctx(media);
  TempDir dir;
  TempDir logDir("vvlog");
  std::string oldLog = GetLogFileName();
  SetLogFileName(logDir.file("v.log"));
  struct PauseGuard {
    PauseGuard() { SetRecordWritePauseForTest(15000); }  // at most ~66 packets a second
    ~PauseGuard() { SetRecordWritePauseForTest(0); }
  };
  auto pause = std::make_unique<PauseGuard>();
  std::string folder = dir.file("slow");
  RecordTaskInfo row = RecordRow(folder, 1, 1, 1);
  auto out = std::make_unique<StreamOutput>(23, "", StreamOutput::kRecord, nullptr, &row);
  Configure(*out, media, ctx);
  ASSERT_TRUE(out->Start());
  ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, std::chrono::seconds(10)));
  // 60 s of stream (about 68 packets a second) pushed at four times its
  // pace, each run of the source continuing the times of the one before.
  const int64_t runMs = static_cast<int64_t>(media.packets.back()->GetTimestamp()) + 40;
  const int runs = 20;
  const auto start = std::chrono::steady_clock::now();
  int delayMost = 0;
  int queuedMost = 0;
  for (int run = 0; run < runs; ++run) {
    for (auto& p : media.packets) {
      std::unique_ptr<IoBuffer> copy(CloneIoBuffer(p.get()));
      int64_t shiftMs = run * runMs;
      AVRational tb = p->GetType() == 1 ? media.videoTimeBase : media.audioTimeBase;
      int64_t shift = av_rescale_q(shiftMs, AVRational{1, 1000}, tb);
      copy->SetTimestamp(p->GetTimestamp() + shiftMs);
      copy->SetPts(p->GetPts() + shift);
      copy->SetDts(p->GetDts() + shift);
      auto due = start + std::chrono::milliseconds(copy->GetTimestamp() / 4);
      std::this_thread::sleep_until(due);
      out->PushPacket(copy.get());
      queuedMost = std::max(queuedMost, out->QueueSize());
      delayMost = std::max(delayMost, out->CheckStatus()->delay);
    }
  }
  pause.reset();
  ASSERT_TRUE(vvtest::WaitFor([&] { return out->QueueSize() == 0; }, std::chrono::seconds(30)));
  out.reset();
  SetLogFileName(oldLog);
  EXPECT_LE(delayMost, 10000 + 1000) << "queued " << queuedMost << " packets at most";
  std::string log = vvtest::ReadFileText(logDir.file("v.log"));
  EXPECT_NE(log.find("output 23: record file writing fell behind, dropped"), std::string::npos) << log;
  std::vector<std::string> files = FilesUnder(folder);
  ASSERT_EQ(files.size(), 1u);
  vvtest::ProbeResult r = ProbeMedia(folder + "/" + files[0]);
  EXPECT_EQ(r.videoCodec, "h264");
  EXPECT_EQ(r.audioCodec, "aac");
  EXPECT_EQ(r.decodeErrors, "");
  EXPECT_NEAR(r.duration, runs * runMs / 1000.0, 2.0);
}

// The channel's encoder gives its context the parameter sets only with its
// first packet, on the encode thread, while the record output waits for
// them on its own thread: the output takes its own copy, and its file then
// holds the encoder's stream and decodes (the thread checker watches the
// hand-over).
TEST(RecordOutputTest, RecordsAnEncoderWhoseHeadersComeLate) {
  TempDir dir;
  CVideoEncoder enc(5);
  enc.SetCodecId(AV_CODEC_ID_H264);
  enc.SetDstPixelFormat(AV_PIX_FMT_YUV420P);
  enc.SetDstWidth(320);
  enc.SetDstHeight(240);
  enc.SetGopSize(25);
  ASSERT_TRUE(enc.Open());
  ASSERT_EQ(enc.GetCodecContext()->extradata_size, 0);
  std::string folder = dir.file("enc");
  RecordTaskInfo row = RecordRow(folder, 2, 1, 1);
  auto out = std::make_unique<StreamOutput>(24, "", StreamOutput::kRecord, nullptr, &row);
  out->SetVideoCodecContext(enc.GetCodecContext());
  out->SetVideoTimeBase(1, 1000);
  ASSERT_TRUE(out->Start());
  // The output looks for the headers every few milliseconds meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(out->IsConnected());
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = 320;
  frame->height = 240;
  ASSERT_GE(av_frame_get_buffer(frame, 32), 0);
  int pushed = 0;
  const int frames = 100;
  for (int i = 0; i < frames; ++i) {
    ASSERT_GE(av_frame_make_writable(frame), 0);
    for (int plane = 0; plane < 3; ++plane) {
      int h = plane == 0 ? 240 : 120;
      for (int y = 0; y < h; ++y)
        memset(frame->data[plane] + y * frame->linesize[plane], (i + y + plane * 60) & 0xff, frame->linesize[plane]);
    }
    frame->pts = i * 40;
    for (IoBuffer* e = enc.Encode(frame); e; e = enc.ReceivePacket()) {
      e->SetDuration(40);
      if (!out->IsConnected()) {
        // The first packet brings the headers; the output opens its file
        // with them and takes every packet from there.
        ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, std::chrono::seconds(10)));
      }
      out->PushPacket(e);
      ++pushed;
    }
  }
  av_frame_free(&frame);
  ASSERT_GT(pushed, 0);
  ASSERT_TRUE(vvtest::WaitFor([&] { return out->QueueSize() == 0; }, std::chrono::seconds(20)));
  out.reset();
  WaitFragmentedMp4Finished();
  std::vector<std::string> files = FilesUnder(folder);
  ASSERT_EQ(files.size(), 1u);
  std::string path = folder + "/" + files[0];
  vvtest::ProbeResult r = ProbeMedia(path);
  EXPECT_EQ(r.videoCodec, "h264");
  EXPECT_EQ(r.decodeErrors, "");
  EXPECT_EQ(vvtest::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                        "-of csv=p=0 " + vvtest::ShellQuote(path)).output,
            std::to_string(frames) + "\n");
  ExpectOrdinaryMp4(path, frames * 0.04);
}
