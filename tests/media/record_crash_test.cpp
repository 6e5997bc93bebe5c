// A recording process killed outright (SIGKILL: no trailer, no index
// written at the end): every container it was writing still reads back and
// decodes up to about where the process died.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "media/RecordFile.h"
#include "media/StreamOutput.h"
#include "tests/media/RecordMedia.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono_literals;
using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

constexpr int kTypes[] = {0, 1, 2};  // ASF, FLV, MP4
constexpr double kPushedSeconds = 7.0;

std::string OutFolder(const std::string& root, int fileType) { return root + "/out" + std::to_string(fileType); }

// The one file in folder, or "".
std::string OnlyFile(const std::string& folder) {
  std::string names = vvtest::Run("ls " + ShellQuote(folder)).output;
  if (names.empty() || names.find('\n') + 1 != names.size()) return "";
  return folder + "/" + names.substr(0, names.size() - 1);
}

off_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

int CountVideoFrames(const std::string& path) {
  vvtest::CommandResult r = vvtest::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                        "stream=nb_read_frames -of csv=p=0 " + ShellQuote(path));
  return r.status == 0 ? atoi(r.output.c_str()) : -1;
}

}  // namespace

// The child of the next test: records the first seconds of its input into
// an ASF, an FLV and an MP4 file at once, says so once everything pushed is
// written, and then waits to be killed with the files still open.
TEST(RecordCrashChild, RecordUntilKilled) {
  const char* root = std::getenv("VV_RECORD_CRASH_FOLDER");
  if (!root) GTEST_SKIP() << "runs only as the child of RecordCrash";
  vvtest::SourceMedia media;
  ASSERT_TRUE(vvtest::LoadSourceMedia(std::string(root) + "/src.mp4", media));
  AVCodecContext* video = vvtest::ContextFromParameters(media.video);
  AVCodecContext* audio = vvtest::ContextFromParameters(media.audio);
  std::vector<std::unique_ptr<StreamOutput>> outputs;
  for (int type : kTypes) {
    RecordTaskInfo row;
    row.name = "crash";
    row.fileType = type;
    row.saveFolder = OutFolder(root, type);
    row.fileMod = 1;
    row.direMod = 1;
    outputs.push_back(std::make_unique<StreamOutput>(30 + type, "", StreamOutput::kRecord, nullptr, &row));
    StreamOutput& out = *outputs.back();
    out.SetVideoCodecContext(video);
    out.SetAudioCodecContext(audio);
    out.SetVideoTimeBase(media.videoTimeBase.num, media.videoTimeBase.den);
    out.SetAudioTimeBase(media.audioTimeBase.num, media.audioTimeBase.den);
    ASSERT_TRUE(out.Start());
  }
  for (auto& out : outputs) ASSERT_TRUE(vvtest::WaitFor([&] { return out->IsConnected(); }, 20s));
  int videoPushed = 0;
  for (auto& p : media.packets) {
    if (p->GetTimestamp() >= kPushedSeconds * 1000) break;
    if (p->GetType() == 1) ++videoPushed;
    for (auto& out : outputs) out->PushPacket(p.get());
  }
  for (auto& out : outputs) ASSERT_TRUE(vvtest::WaitFor([&] { return out->QueueSize() == 0; }, 30s));
  // The last packet taken may still be on its way into the file, and a
  // paused input has its MP4 fragment under way written after a second:
  // wait for the sizes to hold still for two seconds.
  std::vector<std::string> files;
  for (int type : kTypes) files.push_back(OnlyFile(OutFolder(root, type)));
  std::vector<off_t> sizes(files.size(), -2);
  int still = 0;
  for (int round = 0; round < 300 && still < 20; ++round) {
    std::vector<off_t> now;
    for (const std::string& f : files) now.push_back(FileSize(f));
    still = now == sizes ? still + 1 : 0;
    sizes = now;
    std::this_thread::sleep_for(100ms);
  }
  std::ofstream(std::string(root) + "/ready.tmp") << videoPushed << "\n";
  ASSERT_EQ(rename((std::string(root) + "/ready.tmp").c_str(), (std::string(root) + "/ready").c_str()), 0);
  std::this_thread::sleep_for(60s);  // the parent kills the process long before
  ADD_FAILURE() << "not killed";
}

TEST(RecordCrash, EveryContainerDecodesAfterKill) {
  TempDir dir("vv-reccrash");
  vvtest::SourceMedia made;
  ASSERT_TRUE(vvtest::MakeSourceMedia(dir.path(), 10, made));
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  ASSERT_GT(n, 0);
  self[n] = 0;
  std::string log = dir.file("child.txt");
  pid_t pid = fork();
  if (pid == 0) {
    setenv("VV_RECORD_CRASH_FOLDER", dir.path().c_str(), 1);
    if (!freopen(log.c_str(), "w", stdout)) _exit(126);
    dup2(fileno(stdout), 2);
    execl(self, self, "--gtest_filter=RecordCrashChild.RecordUntilKilled", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  bool ready = vvtest::WaitFor([&] { return FileSize(dir.file("ready")) > 0; }, 120s, 20ms);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(ready) << vvtest::ReadFileText(log);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status << "\n" << vvtest::ReadFileText(log);
  int videoPushed = atoi(vvtest::ReadFileText(dir.file("ready")).c_str());
  ASSERT_GT(videoPushed, 150);
  for (int type : kTypes) {
    std::string file = OnlyFile(OutFolder(dir.path(), type));
    SCOPED_TRACE(file);
    ASSERT_NE(file, "");
    vvtest::ProbeResult probe = vvtest::ProbeMedia(file);
    ASSERT_TRUE(probe.ok) << vvtest::Run("ffprobe -v error " + ShellQuote(file) + " 2>&1").output;
    EXPECT_EQ(probe.videoCodec, "h264");
    EXPECT_EQ(probe.audioCodec, "aac");
    EXPECT_EQ(probe.decodeErrors, "");
    // The pictures written before the kill decode: FLV every one, ASF all
    // but what its muxer still held, MP4 every one too, as the input had
    // paused for over a second (else it loses the fragment under way, at
    // most the pictures since the last key frame).
    int frames = CountVideoFrames(file);
    EXPECT_LE(frames, videoPushed);
    EXPECT_GE(frames, videoPushed - (type == 0 ? 5 : 0)) << "of " << videoPushed;
  }
}
