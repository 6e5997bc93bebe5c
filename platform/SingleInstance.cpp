#include "platform/SingleInstance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

std::string SingleInstanceLock::DefaultPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    std::string dir = runtime;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir + "/velvanet.lock";
  }
  return "/tmp/velvanet-" + std::to_string(getuid()) + ".lock";
}

SingleInstanceLock::~SingleInstanceLock() { Release(); }

SingleInstanceLock::Result SingleInstanceLock::Acquire(const std::string& path) {
  Release();
  // No symbolic links: in a shared folder such as /tmp the name could be
  // pointed at another user's file.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return kFailed;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
    close(fd);
    return kFailed;
  }
  int r;
  do {
    r = flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? kHeld : kFailed;
  }
  fd_ = fd;
  return kAcquired;
}

void SingleInstanceLock::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}
