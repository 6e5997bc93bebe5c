#pragma once
// POSIX socket helpers shared by the command client, the listeners and the
// pull-command handler. None of them closes a descriptor it was handed: the
// caller that owns a socket is the one that closes it.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace ixo {

// Largest frame accepted from the Ixo media server (commands, data, replies).
constexpr size_t kMaxFrameBytes = 1024 * 1024;

enum class FrameResult { Ok, Closed, Failed, TooLong };

// When a read must be complete; the default (epoch) value means no limit
// beyond the socket's own receive time-out.
using Deadline = std::chrono::steady_clock::time_point;
// A deadline ms milliseconds from now.
Deadline DeadlineIn(int ms);

// Writes every byte (MSG_NOSIGNAL); false as soon as a send fails.
bool SendAllBytes(int fd, const void* bytes, size_t length);

// Reads exactly length bytes in pieces of at most piece bytes; Failed when
// the deadline (if set) passes first, however the bytes trickle in.
FrameResult RecvExact(int fd, void* out, size_t length, size_t piece, Deadline deadline = Deadline());

// One 4-byte big-endian length and that many bytes (nul bytes kept). A length
// above maxBytes is refused before anything is allocated, and the payload
// grows only as its bytes arrive, so a peer that announces a large frame and
// sends little holds little. Failed when the deadline (if set) passes before
// the whole frame came.
FrameResult ReadFrame(int fd, std::string& payload, size_t maxBytes = kMaxFrameBytes, Deadline deadline = Deadline());

// The payload as the text protocol reads it: up to its first nul byte.
std::string FrameText(const std::string& payload);

bool WriteFrame(int fd, const std::string& payload);

// Appends one frame (length + bytes) to a byte string.
void AppendFrame(std::string& out, const std::string& payload);

void SetSocketTimeouts(int fd, int receiveMs, int sendMs);

// Creates a TCP listening socket bound to address:port (empty address: all
// local addresses). Gives -1 and sets *bindFailed when the bind failed, -1
// with *bindFailed false when socket() or listen() failed.
int OpenListener(const std::string& address, int port, int backlog, bool* bindFailed);

// Connects to a dotted IPv4 address within timeoutMs; -1 on failure, also
// as soon as *cancel becomes true.
int ConnectTcp(const std::string& host, int port, int timeoutMs, const std::atomic<bool>* cancel = nullptr);

// Closes fd when it is not negative and sets it to -1.
void CloseFd(int& fd);

// Owns one descriptor and closes it when it goes out of scope.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() { CloseFd(fd_); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

// Sleeps for ms milliseconds; returns early (false) when stop becomes true
// and WakeSleepers is called after it.
bool SleepUnlessStopped(int ms, const std::atomic<bool>& stop);
// Ends every SleepUnlessStopped in progress; each goes back to sleep unless
// its stop flag is set.
void WakeSleepers();

}  // namespace ixo
