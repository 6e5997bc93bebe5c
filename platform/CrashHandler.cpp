#include "platform/CrashHandler.h"

#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <typeinfo>

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kFolderMax = 4096;
constexpr size_t kNoteMax = 512;

// Filled before any crash, read by the handler only.
char g_folder[kFolderMax];
long g_utcOffset = 0;  // seconds east of UTC at installation
char g_note[kNoteMax];  // why std::terminate was called, when it was
std::atomic<bool> g_installed{false};
std::atomic<int> g_reporting{0};

// ---- async-signal-safe text building into a fixed buffer.
struct Out {
  char buf[1024];
  size_t len = 0;
  void Add(const char* s) {
    while (*s && len < sizeof(buf)) buf[len++] = *s++;
  }
  void AddChar(char c) {
    if (len < sizeof(buf)) buf[len++] = c;
  }
  void AddDec(unsigned long long v, int width = 0) {
    char tmp[24];
    int n = 0;
    do {
      tmp[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v && n < 24);
    while (n < width) AddChar('0'), --width;
    while (n) AddChar(tmp[--n]);
  }
  void AddSigned(long long v) {
    if (v < 0) {
      AddChar('-');
      AddDec(static_cast<unsigned long long>(-(v + 1)) + 1);
    } else {
      AddDec(static_cast<unsigned long long>(v));
    }
  }
  void AddHex(unsigned long long v) {
    Add("0x");
    for (int shift = 60; shift >= 0; shift -= 4) AddChar("0123456789abcdef"[(v >> shift) & 0xF]);
  }
  void Flush(int fd) {
    size_t off = 0;
    while (off < len) {
      ssize_t n = write(fd, buf + off, len - off);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
    len = 0;
  }
};

const char* SignalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
  }
}

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long long z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yy + (m <= 2));
}

void AddTime(Out& o, long long unixSeconds, bool compact) {
  long long local = unixSeconds + g_utcOffset;
  long long days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
  long long secs = local - days * 86400;
  int y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  o.AddDec(static_cast<unsigned long long>(y), 4);
  if (!compact) o.AddChar('-');
  o.AddDec(m, 2);
  if (!compact) o.AddChar('-');
  o.AddDec(d, 2);
  o.AddChar(compact ? '-' : ' ');
  o.AddDec(static_cast<unsigned long long>(secs / 3600), 2);
  if (!compact) o.AddChar(':');
  o.AddDec(static_cast<unsigned long long>(secs % 3600 / 60), 2);
  if (!compact) o.AddChar(':');
  o.AddDec(static_cast<unsigned long long>(secs % 60), 2);
}

void CopyFile(int to, const char* path) {
  int from = open(path, O_RDONLY | O_CLOEXEC);
  if (from < 0) return;
  char buf[4096];
  for (;;) {
    ssize_t n = read(from, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    ssize_t off = 0;
    while (off < n) {
      ssize_t w = write(to, buf + off, static_cast<size_t>(n - off));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      off += w;
    }
  }
  close(from);
}

void WriteReport(int sig, siginfo_t* info) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  Out o;
  o.Add(g_folder);
  size_t folderLen = o.len;
  if (folderLen && o.buf[folderLen - 1] != '/') o.AddChar('/');
  AddTime(o, now.tv_sec, true);
  o.AddChar('-');
  o.AddDec(static_cast<unsigned long long>(getpid()));
  o.Add(".txt");
  o.AddChar('\0');
  if (o.len >= sizeof(o.buf)) return;
  int fd = open(o.buf, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return;
  o.len = 0;

  o.Add("Velvanet crash report\n");
  o.Add("time: ");
  AddTime(o, now.tv_sec, false);
  o.Add("\nsignal: ");
  o.AddDec(static_cast<unsigned long long>(sig));
  o.Add(" (");
  o.Add(SignalName(sig));
  o.Add(")\ncode: ");
  o.AddSigned(info ? info->si_code : 0);
  o.Add("\naddress: ");
  o.AddHex(info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0);
  o.Add("\npid: ");
  o.AddDec(static_cast<unsigned long long>(getpid()));
  o.Add("\nthread: ");
  o.AddDec(static_cast<unsigned long long>(syscall(SYS_gettid)));
  o.AddChar('\n');
  if (g_note[0]) {
    o.Add("reason: ");
    o.Add(g_note);
    o.AddChar('\n');
  }
  o.Add("\nbacktrace:\n");
  o.Flush(fd);
  void* frames[64];
  int n = backtrace(frames, 64);
  backtrace_symbols_fd(frames, n, fd);
  o.Add("\nmaps:\n");
  o.Flush(fd);
  CopyFile(fd, "/proc/self/maps");
  fsync(fd);
  close(fd);
}

void OnFatalSignal(int sig, siginfo_t* info, void*) {
  int saved = errno;
  // One report per process. The disposition went back to the default on
  // entry, so a second fault elsewhere ends the process at once.
  if (g_reporting.exchange(1) == 0) WriteReport(sig, info);
  // The handler was reset to the default action on entry: raising the
  // signal again ends the process once this handler returns (a fault that
  // repeats on return ends it the same way).
  signal(sig, SIG_DFL);
  raise(sig);
  errno = saved;
}

void OnTerminate() {
  // Not a signal context: the reason can be worked out here.
  const char* what = "std::terminate called";
  std::snprintf(g_note, sizeof(g_note), "%s", what);
  if (std::exception_ptr p = std::current_exception()) {
    try {
      std::rethrow_exception(p);
    } catch (const std::exception& e) {
      std::snprintf(g_note, sizeof(g_note), "std::terminate: uncaught %s: %s", typeid(e).name(), e.what());
    } catch (...) {
      std::snprintf(g_note, sizeof(g_note), "std::terminate: uncaught exception of unknown type");
    }
  }
  std::abort();
}

void SetFolder(const std::string& folder) {
  std::snprintf(g_folder, sizeof(g_folder), "%s", folder.c_str());
  if (!folder.empty()) {
    // mkdir -p; a folder that cannot be made is ignored.
    std::string path = folder;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
      if (pos == path.size() || path[pos] == '/') mkdir(path.substr(0, pos).c_str(), 0755);
    }
  }
}

long LocalUtcOffset() {
  time_t t = time(nullptr);
  struct tm tm;
  if (!localtime_r(&t, &tm)) return 0;
  return tm.tm_gmtoff;
}

}  // namespace

std::string CrashReportName(long long unixSeconds, int pid) {
  Out o;
  AddTime(o, unixSeconds, true);
  o.AddChar('-');
  o.AddDec(static_cast<unsigned long long>(pid));
  o.Add(".txt");
  return std::string(o.buf, o.len);
}

void InstallCrashHandler(const std::string& dumpFolder) {
  SetFolder(dumpFolder);
  g_utcOffset = LocalUtcOffset();
  if (g_installed.exchange(true)) return;
  // backtrace() loads its unwinder on first use, which allocates: done here
  // so that the handler does not have to.
  void* warm[2];
  backtrace(warm, 2);
  // The main thread's alternate stack, kept until the process ends.
  static ThreadSignalStack mainStack;
  struct sigaction sa;
  std::memset(&sa, 0, sizeof(sa));
  sa.sa_sigaction = OnFatalSignal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);
  for (int sig : kSignals) sigaction(sig, &sa, nullptr);
  std::set_terminate(OnTerminate);
}

ThreadSignalStack::ThreadSignalStack() {
  stack_t current;
  // A stack set up by someone else (a sanitizer's, an outer guard) stays.
  if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
  long min = sysconf(_SC_MINSIGSTKSZ);
  size_ = static_cast<unsigned long>(min > 0 ? min : 0) + 64 * 1024;
  void* mem = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mem == MAP_FAILED) return;
  stack_t ss;
  ss.ss_sp = mem;
  ss.ss_size = size_;
  ss.ss_flags = 0;
  if (sigaltstack(&ss, nullptr) != 0) {
    munmap(mem, size_);
    return;
  }
  stack_ = mem;
  installed_ = true;
}

ThreadSignalStack::~ThreadSignalStack() {
  if (!installed_) return;
  stack_t ss;
  std::memset(&ss, 0, sizeof(ss));
  ss.ss_flags = SS_DISABLE;
  sigaltstack(&ss, nullptr);
  munmap(stack_, size_);
}
