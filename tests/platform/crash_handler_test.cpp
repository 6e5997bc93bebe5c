// The crash handler in children that really fault: each writes one report
// with the signal, a backtrace and the memory map into the dump folder, and
// still ends by the signal it got.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <dirent.h>
#include <stdexcept>
#include <thread>

#include "platform/CrashHandler.h"
#include "tests/tools/TestUtil.h"

using vvtest::TempDir;

namespace {

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
int Recurse(volatile int depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  return Recurse(depth + 1) + pad[0];
}
#pragma GCC diagnostic pop

// Runs fault() in a child that installed the handler with folder; returns
// the wait status.
template <class F>
int RunChild(const std::string& folder, F fault, pid_t* childPid) {
  pid_t pid = fork();
  if (pid == 0) {
    InstallCrashHandler(folder);
    fault();
    _exit(0);
  }
  *childPid = pid;
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

}  // namespace

TEST(CrashHandler, FaultingChildWritesAReportAndDiesByItsSignal) {
  struct Case {
    const char* name;
    int signal;
    void (*fault)();
    const char* reason;  // a line the report must hold besides the signal
  } cases[] = {
      {"null write", SIGSEGV, [] { *static_cast<volatile int*>(nullptr) = 1; }, "address: 0x0000000000000000"},
      {"abort", SIGABRT, [] { std::abort(); }, nullptr},
      {"trap", SIGILL, [] { __builtin_trap(); }, nullptr},
      {"raised FPE", SIGFPE, [] { raise(SIGFPE); }, nullptr},
      {"raised BUS", SIGBUS, [] { raise(SIGBUS); }, nullptr},
      // Thrown on a thread of its own, out of the test framework's reach.
      {"uncaught exception", SIGABRT, [] { std::thread([] { throw std::runtime_error("boom in the engine"); }).join(); },
       "std::terminate: uncaught"},
      // The overflow is reported from the alternate stack.
      {"stack overflow", SIGSEGV, [] { Recurse(0); }, nullptr},
      // A crash on another thread with a stack of its own.
      {"thread", SIGSEGV,
       [] {
         std::thread t([] {
           ThreadSignalStack stack;
           *static_cast<volatile int*>(nullptr) = 2;
         });
         t.join();
       },
       nullptr},
  };
  for (const Case& c : cases) {
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps these signals for its own report.
    if (c.signal == SIGSEGV || c.signal == SIGBUS || c.signal == SIGFPE) continue;
#endif
    TempDir dir("vv-crash");
    std::string folder = dir.file("dump");  // made by the handler
    pid_t pid = 0;
    int status = RunChild(folder, c.fault, &pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << c.name << " status " << status;
    EXPECT_EQ(WTERMSIG(status), c.signal) << c.name;
    std::vector<std::string> files = FilesIn(folder);
    ASSERT_EQ(files.size(), 1u) << c.name;
    std::string suffix = "-" + std::to_string(pid) + ".txt";
    EXPECT_EQ(files[0].size(), 15 + suffix.size()) << files[0];
    EXPECT_EQ(files[0].substr(files[0].size() - suffix.size()), suffix) << files[0];
    std::string report = vvtest::ReadFileText(folder + "/" + files[0]);
    EXPECT_NE(report.find("signal: " + std::to_string(c.signal) + " ("), std::string::npos) << c.name << report;
    EXPECT_NE(report.find("\npid: " + std::to_string(pid) + "\n"), std::string::npos) << c.name;
    if (c.reason) {
      EXPECT_NE(report.find(c.reason), std::string::npos) << c.name << "\n" << report;
    }
    if (std::string(c.name) == "uncaught exception") {
      EXPECT_NE(report.find("boom in the engine"), std::string::npos) << report;
    }
    // A backtrace of at least a few frames, then the map of the process.
    size_t bt = report.find("\nbacktrace:\n");
    size_t maps = report.find("\nmaps:\n");
    ASSERT_NE(bt, std::string::npos) << c.name;
    ASSERT_NE(maps, std::string::npos) << c.name;
    EXPECT_GT(maps - bt, 40u) << c.name;
    EXPECT_NE(report.find("platform_tests", maps), std::string::npos) << c.name;
    EXPECT_NE(report.find("[stack]", maps), std::string::npos) << c.name;
  }
}

TEST(CrashHandler, MissingDumpFolderIsMadeAndAnUnwritableOneDropsTheReport) {
  TempDir dir("vv-crash");
  // A file where the folder should be: the report cannot be written, the
  // child still ends by its signal.
  vvtest::Run("touch " + vvtest::ShellQuote(dir.file("dump")));
  pid_t pid = 0;
  int status = RunChild(dir.file("dump"), [] { std::abort(); }, &pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGABRT);
  // Nested folders are made.
  status = RunChild(dir.file("a/b/dump"), [] { std::abort(); }, &pid);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(FilesIn(dir.file("a/b/dump")).size(), 1u);
}

TEST(CrashHandler, ReportNamesCarryTheCalendarTime) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();
  TempDir dir("vv-crash");
  InstallCrashHandler(dir.path());  // takes the zone offset (0)
  const long long times[] = {0, 59, 86399, 86400, 951782400 /* 2000-02-29 */, 1709251199, 4102444800LL,
                             -1, -86401, 253402300799LL /* 9999-12-31 23:59:59 */};
  for (long long t : times) {
    time_t tt = static_cast<time_t>(t);
    struct tm tm;
    ASSERT_TRUE(gmtime_r(&tt, &tm));
    char want[64];
    strftime(want, sizeof(want), "%Y%m%d-%H%M%S", &tm);
    EXPECT_EQ(CrashReportName(t, 77), std::string(want) + "-77.txt") << t;
  }
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  // Back to this process's defaults for every later test.
  signal(SIGSEGV, SIG_DFL);
  signal(SIGBUS, SIG_DFL);
  signal(SIGFPE, SIG_DFL);
  signal(SIGILL, SIG_DFL);
  signal(SIGABRT, SIG_DFL);
}
