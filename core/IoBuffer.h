#pragma once
// Growable big-endian byte buffer that doubles as the media packet handed
// between the engine's threads.
//
// The byte block is reference-counted: a copy for another consumer
// (CloneIoBuffer) shares its source's bytes instead of copying them, while
// every packet keeps its own positions and fields (timestamps, flags...).
// A shared block is never written: every operation that changes bytes gives
// its buffer a block of its own first (copy on write), and so does the
// non-const GetData. Readers that only look use the const GetData.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVFrame;

class IoBuffer {
 public:
  using ExtraData = std::shared_ptr<const std::vector<uint8_t>>;

  IoBuffer();
  explicit IoBuffer(int capacity);
  // Frame carriers: hold only the frame pointer, no byte block.
  explicit IoBuffer(AVFrame* videoFrame);
  static IoBuffer* AudioFrameCarrier(AVFrame* audioFrame);
  virtual ~IoBuffer();
  IoBuffer(const IoBuffer&) = delete;
  IoBuffer& operator=(const IoBuffer&) = delete;

  virtual const char* GetTypeName() const { return "IoBuffer"; }

  // Writers append at the write end; they return false (and write nothing)
  // only when the block cannot grow to the needed size.
  bool WriteUInt8(uint8_t b);
  bool WriteUInt16(uint16_t v);
  bool WriteUInt24(uint32_t v);
  bool WriteUInt32(uint32_t v);
  bool WriteDouble(double v);
  bool Write(const void* bytes, int n);
  bool WriteString(const std::string& text);
  bool AppendRemaining(IoBuffer& other);
  void SetByteAt(int index, uint8_t b);
  void SetSize(int n);
  void ResetPositions();
  void Clear();

  // Readers take bytes at the read position. A read that would pass the
  // written size returns 0 (or an empty text) and leaves the position at the
  // end, so a loop on HasRemaining() always ends.
  uint8_t ReadUInt8();
  uint16_t ReadUInt16();
  uint32_t ReadUInt24();
  uint32_t ReadUInt32();
  double ReadDouble();
  std::string ReadString();
  bool ReadString(std::string& out);
  bool Read(void* out, int n);
  uint8_t PeekAt(int i) const;
  void Skip(int n);
  void SetReadPos(int p);
  void Compact();

  // Mutable access: a shared block is copied first.
  uint8_t* GetData() {
    MakeOwn();
    return data;
  }
  const uint8_t* GetData() const { return data; }
  // True while another packet shares this packet's bytes.
  bool IsShared() const;
  int GetSize() const { return size; }
  int GetLength() const { return size; }
  int GetCapacity() const { return capacity; }
  int GetReadPos() const { return readPos; }
  int GetRemaining() const { return size - readPos; }
  bool HasRemaining() const { return size > readPos; }
  const uint8_t* GetReadPointer() const { return data ? data + readPos : nullptr; }

  void SetFlags(int v) { flags = v; }
  int GetFlags() const { return flags; }
  void SetStreamIndex(int v) { streamIndex = v; }
  int GetStreamIndex() const { return streamIndex; }
  void SetTimestamp(int64_t v) { timestamp = v; }
  int64_t GetTimestamp() const { return timestamp; }
  void SetPts(int64_t v) { pts = v; }
  int64_t GetPts() const { return pts; }
  void SetDts(int64_t v) { dts = v; }
  int64_t GetDts() const { return dts; }
  void SetDuration(int v) { duration = v; }
  int GetDuration() const { return duration; }
  void SetType(int v) { type = v; }
  int GetType() const { return type; }
  void SetSampleRate(int v) { sampleRate = v; }
  int GetSampleRate() const { return sampleRate; }
  void SetChannels(int v) { channels = v; }
  int GetChannels() const { return channels; }
  void SetCodecId(int v) { codecId = v; }
  int GetCodecId() const { return codecId; }
  // Composition offset in milliseconds (pts - dts), carried from the source
  // to the FLV packaging; 0 for streams without reordering.
  void SetCompositionTime(int v) { compositionTime = v; }
  int GetCompositionTime() const { return compositionTime; }

  // Extradata is copied once and then shared by every clone, so a packet
  // never points into a demuxer or header that was closed meanwhile.
  void SetExtraData(const uint8_t* bytes, int n);
  void SetExtraDataShared(ExtraData shared) { extraData = std::move(shared); }
  const uint8_t* GetExtraData() const { return extraData && !extraData->empty() ? extraData->data() : nullptr; }
  int GetExtraDataSize() const { return extraData ? static_cast<int>(extraData->size()) : 0; }
  const ExtraData& GetExtraDataShared() const { return extraData; }

  AVFrame* GetVideoFrame() const { return videoFrame; }
  AVFrame* GetAudioFrame() const { return audioFrame; }
  // Hands the picture over to the caller (the carrier never frees it).
  AVFrame* TakeVideoFrame() {
    AVFrame* f = videoFrame;
    videoFrame = nullptr;
    return f;
  }

 private:
  friend IoBuffer* CloneIoBuffer(const IoBuffer* src);
  // Blocks carry their reference count in front of the bytes.
  static uint8_t* AllocateBlock(int capacity);
  static void ReleaseBlock(uint8_t* block);
  bool Reserve(int64_t needed, bool doubling);
  void MakeOwn();
  bool Need(int n);

  int flags = 0;
  int size = 0;
  int readPos = 0;
  int capacity = 0;
  uint8_t* data = nullptr;
  int streamIndex = 0;
  int64_t timestamp = 0;
  int64_t pts = 0;
  int64_t dts = 0;
  int duration = 0;
  int type = 0;
  int sampleRate = 0;
  int channels = 0;
  int codecId = 0;
  int compositionTime = 0;
  AVFrame* videoFrame = nullptr;
  AVFrame* audioFrame = nullptr;
  ExtraData extraData;
};

// A copy for another consumer: same bytes (shared until either side writes)
// and packet fields, shared extradata.
IoBuffer* CloneIoBuffer(const IoBuffer* src);
