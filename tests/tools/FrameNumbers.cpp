#include "tests/tools/FrameNumbers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace vvtest {

namespace {

constexpr int kBands = 16;

int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::vector<std::string> NumberedSourceInput(int first, int rate, int width, int height) {
  // Band b (0 = left) is white when bit 15 - b of the number is set.
  const std::string bit = "mod(floor(mod(N+" + std::to_string(first) + "\\,65536)/pow(2\\,15-floor(X*16/W)))\\,2)";
  const std::string video = "color=c=black:size=" + std::to_string(width) + "x" + std::to_string(height) +
                            ":rate=" + std::to_string(rate) + ",format=yuv420p,geq=lum='if(" + bit +
                            "\\,235\\,16)':cb=128:cr=128";
  return {"-re", "-f", "lavfi", "-i", video, "-re", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100"};
}

std::vector<std::string> NumberedPublisherCommand(const std::string& url, int first, int rate) {
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error"};
  for (const std::string& a : NumberedSourceInput(first, rate)) argv.push_back(a);
  for (const char* a : {"-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-pix_fmt", "yuv420p",
                        "-c:a", "aac", "-b:a", "64k", "-f", "flv"})
    argv.push_back(a);
  argv.push_back("-g");
  argv.push_back(std::to_string(rate));
  argv.push_back(url);
  return argv;
}

int ReadFrameNumber(const uint8_t* bands) {
  int n = 0;
  for (int i = 0; i < kBands; ++i) {
    // Black is drawn at 16 and white at 235: anything far from both is a
    // picture that is not (yet) whole.
    if (bands[i] > 72 && bands[i] < 180) return -1;
    n = n * 2 + (bands[i] >= 128 ? 1 : 0);
  }
  return n;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool captureStdout, const std::string& stderrPath) {
  int out[2] = {-1, -1};
  if (captureStdout && pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (captureStdout) {
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&fa, 2, stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t child = -1;
  int rc = posix_spawnp(&child, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (captureStdout) close(out[1]);
  if (rc != 0) {
    if (captureStdout) close(out[0]);
    return;
  }
  pid = child;
  stdoutFd = captureStdout ? out[0] : -1;
}

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Exited() {
  if (pid <= 0) return true;
  int st;
  if (waitpid(pid, &st, WNOHANG) != pid) return false;
  pid = -1;
  return true;
}

void ChildProcess::Kill() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    int st;
    waitpid(pid, &st, 0);
    pid = -1;
  }
  if (stdoutFd >= 0) {
    close(stdoutFd);
    stdoutFd = -1;
  }
}

FrameNumberReader::FrameNumberReader(const std::string& u) : url(u), errorPath(dir.file("ffmpeg.log")) {
  thread = std::thread([this] { Run(); });
}

FrameNumberReader::~FrameNumberReader() {
  stop = true;
  thread.join();
}

std::vector<NumberedFrame> FrameNumberReader::Frames() {
  std::vector<NumberedFrame> all;
  {
    std::lock_guard<std::mutex> l(mutex);
    all = frames;
  }
  // No more pictures than this wait in ffmpeg's decoder.
  constexpr size_t kMostHeld = 16;
  auto follows = [&](size_t j) { return all[j].number >= 0 && all[j].number == all[j - 1].number + 1; };
  for (size_t i = 1; i < all.size(); ++i) {
    if (all[i].arrival - all[i - 1].arrival <= 1000) continue;
    size_t end = i + 1;  // past the run that starts after the pause
    while (end < all.size() && end - i < kMostHeld && follows(end)) ++end;
    if (end < all.size() && follows(end)) continue;  // the stream goes on: late, not held
    for (size_t j = i; j < end; ++j) all[j].held = true;
  }
  return all;
}

size_t FrameNumberReader::Count() {
  std::lock_guard<std::mutex> l(mutex);
  return readable;
}

std::string FrameNumberReader::LastErrors() const { return ReadFileText(errorPath); }

void FrameNumberReader::Run() {
  // A strip across the middle of each picture, averaged down to one grey
  // value per band; every decoded picture comes out once, at once (one
  // decoding thread: frame threads would hold the latest pictures back
  // until more data comes, and a pause would hide them).
  const std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-fflags", "nobuffer", "-threads", "1",
                                         "-flags", "low_delay", "-i", url,
                                         "-an", "-vf", "crop=iw:8:0:ih/2-4,scale=16:1:flags=area,format=gray",
                                         "-fps_mode", "passthrough", "-f", "rawvideo", "-flush_packets", "1",
                                         "pipe:1"};
  int session = 0;
  while (!stop.load()) {
    ChildProcess child(argv, true, errorPath);
    if (!child.Started()) break;
    ++session;
    uint8_t strip[kBands];
    size_t have = 0;
    while (!stop.load()) {
      pollfd p{child.StdoutFd(), POLLIN, 0};
      int r = poll(&p, 1, 100);
      if (r < 0) break;
      if (r == 0) continue;
      ssize_t n = read(child.StdoutFd(), strip + have, sizeof(strip) - have);
      if (n <= 0) break;  // ffmpeg ended: the stream went away
      have += static_cast<size_t>(n);
      if (have < sizeof(strip)) continue;
      have = 0;
      NumberedFrame f{ReadFrameNumber(strip), SteadyMs(), session};
      std::lock_guard<std::mutex> l(mutex);
      frames.push_back(f);
      if (f.number >= 0) ++readable;
    }
    child.Kill();
    // Not published (yet), or gone: try again shortly.
    for (int i = 0; i < 5 && !stop.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
}

}  // namespace vvtest
