#pragma once
// Large-file access over the 64-bit POSIX calls: positions and sizes are
// 64-bit everywhere, so files past 2 GiB read and seek like small ones.
#include <cstdint>
#include <string>

class File64 {
 public:
  File64() = default;
  // forReading true: opens an existing file for reading. false: creates the
  // file (or truncates it) for writing.
  File64(const std::string& path, bool forReading);
  virtual ~File64();
  File64(const File64&) = delete;
  File64& operator=(const File64&) = delete;

  bool Open(const std::string& path, bool forReading);
  bool IsOpen() const { return fd >= 0; }

  // Reads up to count bytes from the current position; gives the number of
  // bytes read (fewer only at the end of the file), -1 on an error.
  int64_t Read(void* buffer, int64_t count);
  // Writes all count bytes or fails.
  bool Write(const void* buffer, int64_t count);
  bool Seek(int64_t position);
  bool SeekToBegin() { return Seek(0); }
  // Moves to the end; gives the new position (the file's size), -1 on error.
  int64_t SeekToEnd();
  // Current position, -1 when the file is not open.
  int64_t Tellp() const;
  // Closes the file; false when the final close reported an error (for a
  // written file that means data may be lost).
  bool Close();

 private:
  int fd = -1;
};
