// The single-instance lock against other processes: util-linux's flock(1)
// sees the same lock, a started program does not inherit it, and the kernel
// drops it when its holder dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono_literals;
using vvtest::ShellQuote;
using vvtest::TempDir;

TEST(SingleInstance, LockPathFollowsTheRuntimeFolder) {
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  std::string saved = old ? old : "";
  std::string tmp = "/tmp/velvanet-" + std::to_string(getuid()) + ".lock";
  struct Case {
    const char* value;  // nullptr: unset
    std::string want;
  } cases[] = {
      {"/run/user/1000", "/run/user/1000/velvanet.lock"},
      {"/run/user/1000/", "/run/user/1000/velvanet.lock"},
      {"", tmp},
      {"relative", tmp},
      {nullptr, tmp},
  };
  for (const Case& c : cases) {
    if (c.value)
      setenv("XDG_RUNTIME_DIR", c.value, 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstanceLock::DefaultPath(), c.want) << (c.value ? c.value : "(unset)");
  }
  if (old)
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(SingleInstance, SecondProcessIsRefusedUntilTheFirstEnds) {
  TempDir dir("vv-lock");
  std::string path = dir.file("velvanet.lock");
  const std::string probe = "flock -n " + ShellQuote(path) + " true";
  {
    SingleInstanceLock lock;
    ASSERT_EQ(lock.Acquire(path), SingleInstanceLock::kAcquired);
    // Another process cannot take it.
    EXPECT_NE(vvtest::Run(probe).status, 0);
    // A second lock in this process neither (flock locks belong to the open
    // file, not the process).
    SingleInstanceLock second;
    EXPECT_EQ(second.Acquire(path), SingleInstanceLock::kHeld);
    // A program started meanwhile does not inherit the descriptor.
    vvtest::CommandResult fds = vvtest::Run("ls -l /proc/self/fd/");
    EXPECT_EQ(fds.output.find("velvanet.lock"), std::string::npos) << fds.output;
  }
  EXPECT_EQ(vvtest::Run(probe).status, 0);

  // Held by another process: refused; free again once that process is gone
  // (a shell that takes the lock with flock(1) and becomes a sleep).
  pid_t holder = fork();
  if (holder == 0) {
    std::string script = "exec 9>>" + ShellQuote(path) + " && flock 9 && exec sleep 60";
    execlp("sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  SingleInstanceLock lock;
  ASSERT_TRUE(vvtest::WaitFor([&] { return lock.Acquire(path) == SingleInstanceLock::kHeld; }, 10s));
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  // flock(1) itself may still be on its way out for a moment.
  EXPECT_TRUE(vvtest::WaitFor([&] { return lock.Acquire(path) == SingleInstanceLock::kAcquired; }, 10s));
}

TEST(SingleInstance, UnsafeLockFilesAreRefused) {
  TempDir dir("vv-lock");
  // A symbolic link (someone pointing the name elsewhere) and a folder.
  vvtest::Run("ln -s " + ShellQuote(dir.file("target")) + " " + ShellQuote(dir.file("link.lock")));
  vvtest::Run("mkdir " + ShellQuote(dir.file("dir.lock")));
  SingleInstanceLock lock;
  EXPECT_EQ(lock.Acquire(dir.file("link.lock")), SingleInstanceLock::kFailed);
  EXPECT_EQ(lock.Acquire(dir.file("dir.lock")), SingleInstanceLock::kFailed);
  EXPECT_EQ(lock.Acquire(dir.file("missing/velvanet.lock")), SingleInstanceLock::kFailed);
  EXPECT_EQ(lock.fd(), -1);
}

TEST(TerminationSignals, EachSignalArrivesOnThePipe) {
  int fd = InstallTerminationPipe();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(InstallTerminationPipe(), fd);
  EXPECT_EQ(TakeTerminationSignal(fd), 0);  // nothing yet, no blocking
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    raise(sig);
    EXPECT_EQ(TakeTerminationSignal(fd), sig);
  }
  // From another process too.
  vvtest::Run("kill -TERM " + std::to_string(getpid()));
  EXPECT_TRUE(vvtest::WaitFor([&] { return TakeTerminationSignal(fd) == SIGTERM; }, 10s));
}
