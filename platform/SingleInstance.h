#pragma once
// One running console per user: an exclusive flock on a lock file in
// $XDG_RUNTIME_DIR (velvanet.lock), or /tmp/velvanet-<uid>.lock without one.
// The descriptor is opened close-on-exec, so programs the console starts do
// not inherit (and so keep) the lock. The kernel drops the lock when the
// process ends, however it ends.
#include <string>

class SingleInstanceLock {
 public:
  enum Result {
    kAcquired,  // this process is the one
    kHeld,      // another process holds the lock
    kFailed,    // the lock file could not be opened or locked
  };

  SingleInstanceLock() = default;
  ~SingleInstanceLock();  // releases the lock
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  static std::string DefaultPath();
  Result Acquire(const std::string& path = DefaultPath());
  void Release();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};
