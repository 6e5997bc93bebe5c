#include "platform/TerminationSignals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace {

int g_pipe[2] = {-1, -1};

void OnTerminationSignal(int sig) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(sig);
  // A full pipe already holds a request to stop: dropping this one is fine.
  ssize_t n;
  do {
    n = write(g_pipe[1], &byte, 1);
  } while (n < 0 && errno == EINTR);
  errno = saved;
}

}  // namespace

int InstallTerminationPipe() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      g_pipe[0] = g_pipe[1] = -1;
      return;
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = OnTerminationSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
  });
  return g_pipe[0];
}

int TakeTerminationSignal(int readFd) {
  unsigned char byte = 0;
  ssize_t n;
  do {
    n = read(readFd, &byte, 1);
  } while (n < 0 && errno == EINTR);
  return n == 1 ? byte : 0;
}
