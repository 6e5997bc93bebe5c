#include "core/Log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/syscall.h>
#include <linux/fs.h>
#include <atomic>

namespace {
std::atomic<int> g_threshold{5};
std::mutex g_nameMutex;
std::string g_fileName;
// Serialises writers of this process so a rotation and an append never
// interleave; other processes still see one O_APPEND write per line.
std::mutex g_writeMutex;

const char* const kLevelNames[] = {"CRIT", "ERROR", "WARN", "INFO", "DEBUG", "ALL"};

const char* LevelName(int level) {
  if (level < 0 || level > 5) return "ALL";
  return kLevelNames[level];
}

// Moves the full log aside without ever replacing an earlier rotated file.
bool RenameNoReplace(const char* from, const char* to) {
#ifdef SYS_renameat2
  if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != ENOSYS && errno != EINVAL) return false;
#endif
  if (link(from, to) != 0) return false;
  unlink(from);
  return true;
}
}  // namespace

void SetLogFileName(const std::string& name) {
  std::lock_guard<std::mutex> lk(g_nameMutex);
  g_fileName = name;
}

std::string GetLogFileName() {
  std::lock_guard<std::mutex> lk(g_nameMutex);
  return g_fileName;
}

void SetLogLevel(int threshold) { g_threshold.store(threshold); }
int GetLogLevel() { return g_threshold.load(); }

void Log(int level, const char* format, va_list args) {
  time_t now = time(nullptr);
  struct tm lt;
  localtime_r(&now, &lt);

  char message[2048];
  memset(message, 0, sizeof(message));
  vsnprintf(message, sizeof(message), format, args);

  int threshold = g_threshold.load();
  if (threshold < 5 && strstr(message, "no-name") != nullptr) return;
  if (level > threshold) return;

  char line[2048 + 64];
  int n = snprintf(line, sizeof(line), "%04d-%02d-%02d %02d:%02d:%02d [%s]: %s\n", lt.tm_year + 1900,
                   lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec, LevelName(level), message);
  if (n < 0) return;
  if (n >= static_cast<int>(sizeof(line))) n = sizeof(line) - 1;

  std::string fileName = GetLogFileName();
  if (fileName.empty()) {
    fwrite(line, 1, n, stderr);
    return;
  }

  std::lock_guard<std::mutex> lk(g_writeMutex);
  int fd = open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t w;
  do {
    w = write(fd, line, n);
  } while (w < 0 && errno == EINTR);
  struct stat st;
  bool haveStat = fstat(fd, &st) == 0;
  off_t size = haveStat ? st.st_size : 0;
  close(fd);

  // Another process may have rotated the file since this line went in; only
  // the file this line was appended to is moved aside, never its successor.
  struct stat now_st;
  if (size > kLogRotateBytes && stat(fileName.c_str(), &now_st) == 0 && now_st.st_ino == st.st_ino &&
      now_st.st_dev == st.st_dev) {
    // Room for any path the file system takes; a name that was cut would
    // move the log somewhere nobody looks for it.
    char rotated[PATH_MAX + 32];
    int len = snprintf(rotated, sizeof(rotated), "%s-%04d-%02d-%02d-%02d-%02d-%02d", fileName.c_str(),
                       lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
    if (len > 0 && len < static_cast<int>(sizeof(rotated)))
      RenameNoReplace(fileName.c_str(), rotated);  // a failure is retried by the next line
  }
}

void Log(int level, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Log(level, format, ap);
  va_end(ap);
}

#define VV_LEVEL_FN(name, lvl)              \
  void name(const char* format, ...) {     \
    va_list ap;                            \
    va_start(ap, format);                  \
    Log(lvl, format, ap);                  \
    va_end(ap);                            \
  }
VV_LEVEL_FN(LogError, LOG_ERROR)
VV_LEVEL_FN(LogWarn, LOG_WARN)
VV_LEVEL_FN(LogInfo, LOG_INFO)
VV_LEVEL_FN(LogDebug, LOG_DEBUG)
#undef VV_LEVEL_FN

static const char kHex[] = "0123456789abcdef";

void LogHex(int level, const unsigned char* bytes, int length) {
  if (level > GetLogLevel() || bytes == nullptr || length <= 0) return;
  char line[16 * 3 + 1];
  int pos = 0;
  for (int i = 0; i < length; ++i) {
    line[pos++] = kHex[bytes[i] >> 4];
    line[pos++] = kHex[bytes[i] & 0x0f];
    if (i % 16 == 15) {
      line[pos] = 0;
      Log(level, "%s", line);
      pos = 0;
    } else {
      line[pos++] = ' ';
    }
  }
  if (length % 16 != 0) {
    line[pos] = 0;
    Log(level, "%s", line);
  }
}

void LogHexString(int level, const unsigned char* bytes, int length) {
  if (bytes == nullptr || level > GetLogLevel()) return;
  char line[80];
  memset(line, 0, sizeof(line));
  for (int i = 0; i < length; ++i) {
    int n = i % 16;
    if (n == 0) {
      if (i > 0) Log(level, "%s", line);
      memset(line, ' ', 78);
      line[78] = 0;
      int off = i % 65535;
      line[2] = kHex[(off >> 12) & 0xf];
      line[3] = kHex[(off >> 8) & 0xf];
      line[4] = kHex[(off >> 4) & 0xf];
      line[5] = kHex[off & 0xf];
      line[6] = ':';
    }
    int col = 9 + 3 * n + (n >= 8 ? 1 : 0);
    line[col] = kHex[bytes[i] >> 4];
    line[col + 1] = kHex[bytes[i] & 0x0f];
    line[60 + n] = (bytes[i] >= 0x20 && bytes[i] < 0x7f) ? static_cast<char>(bytes[i]) : '.';
  }
  Log(level, "%s", line);
}

void LogHexError(const unsigned char* b, int n) { LogHex(LOG_ERROR, b, n); }
void LogHexWarn(const unsigned char* b, int n) { LogHex(LOG_WARN, b, n); }
void LogHexInfo(const unsigned char* b, int n) { LogHex(LOG_INFO, b, n); }
void LogHexDebug(const unsigned char* b, int n) { LogHex(LOG_DEBUG, b, n); }
void LogHexStringError(const unsigned char* b, int n) { LogHexString(LOG_ERROR, b, n); }
void LogHexStringWarn(const unsigned char* b, int n) { LogHexString(LOG_WARN, b, n); }
void LogHexStringInfo(const unsigned char* b, int n) { LogHexString(LOG_INFO, b, n); }
void LogHexStringDebug(const unsigned char* b, int n) { LogHexString(LOG_DEBUG, b, n); }

std::string LogSafeText(const std::string& text, size_t maxBytes) {
  size_t keep = text.size();
  if (keep > maxBytes) {
    keep = maxBytes;
    // Back to the first byte of a UTF-8 character.
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  }
  std::string out;
  out.reserve(keep + 32);
  static const char hex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < keep; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != 0x7F) {
      out.push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += "\\x";
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  if (keep < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}
