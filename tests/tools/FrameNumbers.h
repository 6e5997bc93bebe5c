#pragma once
// Frames that can be told apart at the far end of a media road: a source
// made by ffmpeg draws its frame number into every picture as 16 vertical
// black or white bands (most significant bit on the left), and a reader
// decodes a stream with an ffmpeg child, reads the bands back from a thin
// strip of each picture and notes when each numbered frame came out.
// Matching the numbers seen at two points gives the delay between them, and
// any gap, repeat or reordering, to the frame.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/TestUtil.h"

namespace vvtest {

// The ffmpeg input options of a numbered source: lavfi video of the given
// size and rate whose frame N shows the number first + N (modulo 65536), and
// a tone, both at real-time pace (-re).
std::vector<std::string> NumberedSourceInput(int first, int rate = 25, int width = 256, int height = 144);

// A whole ffmpeg command line publishing a numbered source as FLV (H.264
// without B-frames, a key frame every second, and AAC) to an RTMP URL.
std::vector<std::string> NumberedPublisherCommand(const std::string& url, int first, int rate = 25);

// The number shown by one decoded strip of 16 grey values (one per band),
// or -1 when a band is neither clearly black nor clearly white.
int ReadFrameNumber(const uint8_t* bands);

// An ffmpeg child process run from an argument list; killed (SIGKILL) and
// reaped when it goes away.
class ChildProcess {
 public:
  // With captureStdout, the child's standard output is a pipe read through
  // StdoutFd(); otherwise it goes to /dev/null. Standard error goes to
  // stderrPath, or to /dev/null when it is empty.
  ChildProcess(const std::vector<std::string>& argv, bool captureStdout, const std::string& stderrPath = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool Started() const { return pid > 0; }
  int StdoutFd() const { return stdoutFd; }
  // Whether the child has ended (reaps it when it has).
  bool Exited();
  void Kill();

 private:
  pid_t pid = -1;
  int stdoutFd = -1;
};

struct NumberedFrame {
  int number;       // -1 when the picture could not be read
  int64_t arrival;  // steady clock, ms, when the decoder gave the picture
  int session;      // 1 for the reader's first ffmpeg run, then 2, ...
  // ffmpeg hands a picture on only once later packets have come (one or,
  // with its decoding threads busy, several), so the last pictures before a
  // pause come out with the first ones after it. Held pictures have no
  // arrival time: a short run of consecutive numbers whose first came out
  // more than a second after the picture before it, and whose last is not
  // followed by its successor.
  bool held = false;
};

// Decodes the stream at a URL while it lives, starting ffmpeg again
// whenever it ends (the stream went away, or was not published yet).
class FrameNumberReader {
 public:
  explicit FrameNumberReader(const std::string& url);
  ~FrameNumberReader();
  FrameNumberReader(const FrameNumberReader&) = delete;
  FrameNumberReader& operator=(const FrameNumberReader&) = delete;

  std::vector<NumberedFrame> Frames();
  // Number of readable frames so far.
  size_t Count();
  // The ffmpeg error output of the latest run, for failure messages.
  std::string LastErrors() const;

 private:
  void Run();

  std::string url;
  TempDir dir{"vvframes"};
  std::string errorPath;
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::vector<NumberedFrame> frames;
  size_t readable = 0;
  std::thread thread;
};

}  // namespace vvtest
