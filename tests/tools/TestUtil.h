#pragma once
// Small shared fixtures for the test suites: scratch folders, shell commands,
// free loopback ports and polling waits.
#include <netinet/in.h>

#include <chrono>
#include <functional>
#include <string>

namespace vvtest {

// A fresh folder under /tmp, removed with everything in it when destroyed.
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "vv");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct CommandResult {
  int status = -1;  // exit code, or -1 when the command could not run
  std::string output;  // standard output (standard error too when merged)
};

// Runs a shell command and collects its standard output; with mergeStderr,
// standard error is collected as well.
CommandResult Run(const std::string& command, bool mergeStderr = false);

// Quotes a value for a POSIX shell.
std::string ShellQuote(const std::string& s);

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreePort();

// The address 127.0.0.1:port.
sockaddr_in LoopbackAddress(int port);

// A socket listening on 127.0.0.1 at a port the kernel picked (put in
// *port), -1 when that fails.
int ListenLoopback(int* port, int backlog = 4);

// A client socket connected to 127.0.0.1:port, -1 when refused. A positive
// timeoutMs sets the receive time-out (and with bothWays the send time-out).
int ConnectLoopback(int port, int timeoutMs = 0, bool bothWays = false);

// A client socket connected to 127.0.0.1:port whose receive buffer is set
// to bytes before the connect (so the window the peer sees is that small),
// -1 when refused.
int ConnectLoopbackWithReceiveBuffer(int port, int bytes);

// Whether something accepts connections on 127.0.0.1:port (the probe's
// connection is closed at once).
bool CanConnectLoopback(int port);

// Whether an IPv4 socket of this machine listens at port, read from
// /proc/net/tcp: neither binds nor connects, so a server that is binding
// that port just now is not disturbed.
bool IsListening(int port);

// Polls cond every few milliseconds until it holds or the time is up.
bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout,
             std::chrono::milliseconds step = std::chrono::milliseconds(10));

// Number of open descriptors and threads of this process (leak checks).
int CountOpenFds();
int CountThreads();
// A thread that was just joined may stay listed for a moment while the kernel
// finishes it: this waits until the count holds still (up to 3 s), so it can
// serve as a baseline.
int SettledThreadCount();

std::string ReadFileText(const std::string& path);

}  // namespace vvtest

// Skips a test that paints windows under the thread checker: Qt hands the
// painting of large areas to its raster worker threads, and their hand-offs
// are invisible to the checker in the uninstrumented Qt libraries. Such tests
// run in the plain and address-checked builds.
#if defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_THREAD_CHECKER() GTEST_SKIP() << "Qt's uninstrumented thread pool"
#else
#define SKIP_UNDER_THREAD_CHECKER() (void)0
#endif
