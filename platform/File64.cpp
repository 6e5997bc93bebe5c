#include "platform/File64.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

File64::File64(const std::string& path, bool forReading) { Open(path, forReading); }

File64::~File64() { Close(); }

bool File64::Open(const std::string& path, bool forReading) {
  Close();
  int flags = forReading ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 && forReading) {
    // A folder opens for reading but reads fail; refuse it at the start.
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      fd = -1;
    }
  }
  return fd >= 0;
}

int64_t File64::Read(void* buffer, int64_t count) {
  if (fd < 0 || count < 0) return -1;
  uint8_t* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, p + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

bool File64::Write(const void* buffer, int64_t count) {
  if (fd < 0 || count < 0) return false;
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd, p + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += n;
  }
  return true;
}

bool File64::Seek(int64_t position) {
  if (fd < 0 || position < 0) return false;
  return ::lseek(fd, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

int64_t File64::SeekToEnd() {
  if (fd < 0) return -1;
  return static_cast<int64_t>(::lseek(fd, 0, SEEK_END));
}

int64_t File64::Tellp() const {
  if (fd < 0) return -1;
  return static_cast<int64_t>(::lseek(fd, 0, SEEK_CUR));
}

bool File64::Close() {
  if (fd < 0) return true;
  int r = ::close(fd);
  fd = -1;
  return r == 0;
}
