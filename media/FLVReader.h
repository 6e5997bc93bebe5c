#pragma once
// Reads the tags of an FLV file one by one through a read-ahead window of up
// to 2 MiB, keeps a key-frame index (loaded from the "c.meta" file beside
// the FLV when it is consistent with it, otherwise built by one scan) and can
// put a synthesised "onMetaData" tag in front of the file's own tags.
//
// Nothing here reads past the end of the file or of a tag: a tag whose data
// runs past the end, or fewer bytes than a tag header, ends the reading.
#include <cstdint>
#include <string>
#include <vector>

#include "core/IoBuffer.h"

class File64;

// 24-bit big-endian helpers shared by the reader and the slice writer.
struct ServerUtil {
  static uint32_t ReadUInt24BE(IoBuffer& buffer) { return buffer.ReadUInt24(); }
  static bool WriteUInt24BE(IoBuffer& buffer, uint32_t value) { return buffer.WriteUInt24(value & 0xFFFFFF); }
};

class Tag {
 public:
  Tag() = default;
  virtual ~Tag();
  Tag(const Tag&) = delete;
  Tag& operator=(const Tag&) = delete;

  virtual int GetType() const { return type; }
  virtual uint32_t GetDataSize() const { return dataSize; }
  virtual uint32_t GetTimestamp() const { return timestamp; }
  // The tag data, null when it has not been read; owned by the tag.
  virtual IoBuffer* GetBody() const { return body; }

  void SetType(uint8_t v) { type = v; }
  void SetTimestamp(uint32_t v) { timestamp = v; }
  void SetDataSize(uint32_t v) { dataSize = v; }
  // Takes ownership of the body (a previous body is deleted).
  void SetBody(IoBuffer* b);
  // Hands the body over to the caller; the tag is left without one.
  IoBuffer* TakeBody();
  uint32_t GetPreviousTagSize() const { return previousTagSize; }
  void SetPreviousTagSize(uint32_t v) { previousTagSize = v; }

 private:
  uint8_t type = 0;
  uint32_t timestamp = 0;
  uint32_t dataSize = 0;
  IoBuffer* body = nullptr;
  uint32_t previousTagSize = 0;
};

class ITagReader {
 public:
  virtual ~ITagReader();
  // A new tag owned by the caller, or null at the end.
  virtual Tag* ReadNextTag() = 0;
  // Moves to the index entry at or before ms; gives that entry's time.
  virtual int64_t SeekToTime(int64_t ms) = 0;
};

// Positions are the offsets of the PreviousTagSize field in front of a tag.
class KeyFrameMeta {
 public:
  virtual ~KeyFrameMeta();
  int64_t duration = 0;
  bool audioOnly = false;
  int64_t firstAudioPosition = -1;
  int64_t firstVideoPosition = -1;
  std::vector<int64_t> positions;
  std::vector<int64_t> times;
};

// The index file beside an FLV: its full path with "c.meta" appended.
// Little-endian: duration, firstAudioPosition, firstVideoPosition (4 bytes
// each), audioOnly (1), N and N positions, M and M times (4 bytes each).
class FileKeyFrameMetaCache {
 public:
  virtual ~FileKeyFrameMetaCache();
  static std::string IndexPath(const std::string& flvPath);
  // The stored index, or null when the file is missing or not well formed
  // (its length must match its counts exactly, and the counts must agree).
  KeyFrameMeta* Load(const std::string& flvPath);
  // False when the file cannot be written or a value does not fit 32 bits.
  bool Save(const std::string& flvPath, const KeyFrameMeta& meta);
};

class FLVReader : public ITagReader {
 public:
  static constexpr int kWindowBytes = 2 * 1024 * 1024;
  static constexpr int kTagHeaderBytes = 15;  // PreviousTagSize + 11-byte tag header

  FLVReader(const std::string& path, bool synthesizeMetaData);
  ~FLVReader() override;
  FLVReader(const FLVReader&) = delete;
  FLVReader& operator=(const FLVReader&) = delete;

  bool IsOpen() const;
  Tag* ReadNextTag() override;
  int64_t SeekToTime(int64_t ms) override;
  // The index, loaded or built once; owned by the reader.
  KeyFrameMeta* GetKeyFrameMeta();
  // The synthesised script tag (owned by the caller); sets metaSent.
  Tag* MakeMetaDataTag();

  // Offset of the next tag's PreviousTagSize field.
  int64_t GetPosition() const;
  int64_t GetBytesLeft() const;
  int64_t GetTotalBytes() const { return fileSize; }
  bool HasMoreTags() const;

 private:
  struct TagHeader {
    uint32_t previousTagSize = 0;
    uint8_t type = 0;
    uint32_t dataSize = 0;
    uint32_t timestamp = 0;
    uint8_t firstByte = 0;  // only when read by PeekTagAt with a data byte
  };

  void Fill(int n, bool reset);
  void Ensure(int n) { Fill(n, false); }
  void SeekTo(int64_t position);
  void ReadHeader();
  Tag* ReadTagHeader();
  bool ReadWindowBytes(IoBuffer* out, int64_t n);
  void DropConsumed();
  // Reads the header (and the first data byte when the tag has one) of the
  // tag at position straight from the file, leaving the window untouched.
  bool PeekTagAt(int64_t position, TagHeader& header, bool& hasFirstByte);
  bool IsConsistent(const KeyFrameMeta& meta);
  KeyFrameMeta* ScanIndex();

  File64* file = nullptr;
  std::string path;
  int64_t fileSize = 0;
  int64_t filePos = 0;
  bool metaSent = false;
  IoBuffer* window = nullptr;
  bool buffered = false;
  int64_t lastTimestamp = 0;
  int64_t firstVideoPosition = -1;
  int64_t firstAudioPosition = -1;
  KeyFrameMeta* keyFrameMeta = nullptr;
  FileKeyFrameMetaCache* cache = nullptr;
  bool synthesizeMetaData = false;
  std::vector<uint8_t> scratch;
};
