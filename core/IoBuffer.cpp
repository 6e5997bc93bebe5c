#include "core/IoBuffer.h"

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// The count sits in front of the bytes, in room that keeps them aligned.
struct BlockHead {
  std::atomic<int> refs;
};
constexpr size_t kHeadRoom = alignof(std::max_align_t) > sizeof(BlockHead) ? alignof(std::max_align_t) : sizeof(BlockHead);

BlockHead* HeadOf(const uint8_t* block) {
  return reinterpret_cast<BlockHead*>(const_cast<uint8_t*>(block) - kHeadRoom);
}

}  // namespace

uint8_t* IoBuffer::AllocateBlock(int cap) {
  uint8_t* raw = static_cast<uint8_t*>(::operator new(kHeadRoom + static_cast<size_t>(cap)));
  new (raw) BlockHead{{1}};
  return raw + kHeadRoom;
}

void IoBuffer::ReleaseBlock(uint8_t* block) {
  if (!block) return;
  BlockHead* head = HeadOf(block);
  if (head->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    head->~BlockHead();
    ::operator delete(reinterpret_cast<uint8_t*>(head));
  }
}

bool IoBuffer::IsShared() const {
  return data != nullptr && HeadOf(data)->refs.load(std::memory_order_acquire) > 1;
}

IoBuffer::IoBuffer() : IoBuffer(1024) {}

IoBuffer::IoBuffer(int cap) {
  if (cap < 1) cap = 1024;
  data = AllocateBlock(cap);
  capacity = cap;
}

IoBuffer::IoBuffer(AVFrame* frame) : videoFrame(frame) {}

IoBuffer* IoBuffer::AudioFrameCarrier(AVFrame* frame) {
  IoBuffer* b = new IoBuffer(static_cast<AVFrame*>(nullptr));
  b->audioFrame = frame;
  return b;
}

IoBuffer::~IoBuffer() { ReleaseBlock(data); }

bool IoBuffer::Reserve(int64_t needed, bool doubling) {
  const bool shared = IsShared();
  if (needed <= capacity && !shared) return true;
  int64_t newCap;
  if (needed <= capacity) {
    newCap = capacity;  // only to leave the shared block: same size
  } else if (doubling) {
    newCap = capacity > 0 ? static_cast<int64_t>(capacity) * 2 : 1024;
    if (newCap < needed) newCap = needed;
  } else {
    newCap = needed + 20;
  }
  if (newCap > INT_MAX) return false;  // refuse growth that would overflow
  uint8_t* block = AllocateBlock(static_cast<int>(newCap));
  if (size > 0) memcpy(block, data, size);
  ReleaseBlock(data);
  data = block;
  capacity = static_cast<int>(newCap);
  return true;
}

void IoBuffer::MakeOwn() {
  if (IsShared()) Reserve(capacity, false);
}

bool IoBuffer::WriteUInt8(uint8_t b) {
  if (!Reserve(static_cast<int64_t>(size) + 1, true)) return false;
  data[size++] = b;
  return true;
}

bool IoBuffer::WriteUInt16(uint16_t v) { return WriteUInt8(v >> 8) && WriteUInt8(v & 0xff); }

bool IoBuffer::WriteUInt24(uint32_t v) {
  return WriteUInt8((v >> 16) & 0xff) && WriteUInt8((v >> 8) & 0xff) && WriteUInt8(v & 0xff);
}

bool IoBuffer::WriteUInt32(uint32_t v) {
  return WriteUInt8(v >> 24) && WriteUInt8((v >> 16) & 0xff) && WriteUInt8((v >> 8) & 0xff) &&
         WriteUInt8(v & 0xff);
}

bool IoBuffer::WriteDouble(double v) {
  uint64_t bits;
  memcpy(&bits, &v, 8);
  for (int i = 7; i >= 0; --i)
    if (!WriteUInt8(static_cast<uint8_t>(bits >> (i * 8)))) return false;
  return true;
}

bool IoBuffer::Write(const void* bytes, int n) {
  if (n <= 0) return n == 0;
  // Bytes taken from this buffer's own block (AppendRemaining of itself)
  // move with the block when it grows.
  const uint8_t* src = static_cast<const uint8_t*>(bytes);
  uintptr_t at = reinterpret_cast<uintptr_t>(src), base = reinterpret_cast<uintptr_t>(data);
  bool own = data != nullptr && at >= base && at < base + static_cast<uintptr_t>(size);
  size_t offset = own ? at - base : 0;
  if (!Reserve(static_cast<int64_t>(size) + n, false)) return false;
  if (own) src = data + offset;
  memmove(data + size, src, n);
  size += n;
  return true;
}

bool IoBuffer::WriteString(const std::string& text) {
  for (unsigned char c : text)
    if (!WriteUInt8(c)) return false;
  return true;
}

bool IoBuffer::AppendRemaining(IoBuffer& other) {
  int n = other.GetRemaining();
  if (n <= 0) return true;
  if (!Write(other.data + other.readPos, n)) return false;
  other.readPos += n;
  return true;
}

void IoBuffer::SetByteAt(int index, uint8_t b) {
  if (index < 0 || index >= capacity) return;
  MakeOwn();
  data[index] = b;
}

void IoBuffer::SetSize(int n) {
  if (n < 0) n = 0;
  if (n > capacity) n = capacity;
  size = n;
  if (readPos > size) readPos = size;
}

void IoBuffer::ResetPositions() { size = readPos = 0; }

void IoBuffer::Clear() {
  ReleaseBlock(data);
  data = AllocateBlock(1024);
  capacity = 1024;
  size = readPos = 0;
}

bool IoBuffer::Need(int n) {
  if (n <= size - readPos) return true;
  readPos = size;
  return false;
}

uint8_t IoBuffer::ReadUInt8() { return Need(1) ? data[readPos++] : 0; }

uint16_t IoBuffer::ReadUInt16() {
  if (!Need(2)) return 0;
  uint16_t v = static_cast<uint16_t>((data[readPos] << 8) | data[readPos + 1]);
  readPos += 2;
  return v;
}

uint32_t IoBuffer::ReadUInt24() {
  if (!Need(3)) return 0;
  uint32_t v = (static_cast<uint32_t>(data[readPos]) << 16) | (data[readPos + 1] << 8) | data[readPos + 2];
  readPos += 3;
  return v;
}

uint32_t IoBuffer::ReadUInt32() {
  if (!Need(4)) return 0;
  uint32_t v = (static_cast<uint32_t>(data[readPos]) << 24) | (static_cast<uint32_t>(data[readPos + 1]) << 16) |
               (static_cast<uint32_t>(data[readPos + 2]) << 8) | data[readPos + 3];
  readPos += 4;
  return v;
}

double IoBuffer::ReadDouble() {
  if (!Need(8)) return 0.0;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | data[readPos + i];
  readPos += 8;
  double v;
  memcpy(&v, &bits, 8);
  return v;
}

bool IoBuffer::ReadString(std::string& out) {
  out.clear();
  if (size - readPos < 2) {
    readPos = size;
    return false;
  }
  int len = (data[readPos] << 8) | data[readPos + 1];
  if (len > size - readPos - 2) {
    // The length runs past the written bytes: refuse, consume nothing.
    return false;
  }
  readPos += 2;
  const char* p = reinterpret_cast<const char*>(data + readPos);
  out.assign(p, strnlen(p, len));
  readPos += len;
  return true;
}

std::string IoBuffer::ReadString() {
  std::string s;
  if (!ReadString(s)) readPos = size;
  return s;
}

bool IoBuffer::Read(void* out, int n) {
  if (n < 0 || !Need(n)) return false;
  memcpy(out, data + readPos, n);
  readPos += n;
  return true;
}

uint8_t IoBuffer::PeekAt(int i) const {
  int p = readPos + i;
  return (i >= 0 && p < size) ? data[p] : 0;
}

void IoBuffer::Skip(int n) {
  if (n < 0) return;
  readPos = (n > size - readPos) ? size : readPos + n;
}

void IoBuffer::SetReadPos(int p) {
  if (p < 0) p = 0;
  if (p > size) p = size;
  readPos = p;
}

void IoBuffer::Compact() {
  int r = size - readPos;
  if (r <= 0) {
    size = readPos = 0;
    return;
  }
  uint8_t* block = AllocateBlock(2 * r);
  memcpy(block, data + readPos, r);
  ReleaseBlock(data);
  data = block;
  capacity = 2 * r;
  size = r;
  readPos = 0;
}

void IoBuffer::SetExtraData(const uint8_t* bytes, int n) {
  if (bytes == nullptr || n <= 0) {
    extraData.reset();
    return;
  }
  extraData = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + n);
}

IoBuffer* CloneIoBuffer(const IoBuffer* src) {
  if (src == nullptr) return nullptr;
  IoBuffer* b;
  if (src->size > 0 && src->data) {
    // Shares the source's bytes; the copy sees exactly its size of them.
    b = new IoBuffer(static_cast<AVFrame*>(nullptr));
    HeadOf(src->data)->refs.fetch_add(1, std::memory_order_relaxed);
    b->data = src->data;
    b->size = src->size;
    b->capacity = src->size;
  } else {
    b = new IoBuffer(src->GetSize());
  }
  b->SetPts(src->GetPts());
  b->SetDts(src->GetDts());
  b->SetFlags(src->GetFlags());
  b->SetTimestamp(src->GetTimestamp());
  b->SetDuration(src->GetDuration());
  b->SetStreamIndex(src->GetStreamIndex());
  b->SetType(src->GetType());
  b->SetCodecId(src->GetCodecId());
  b->SetChannels(src->GetChannels());
  b->SetSampleRate(src->GetSampleRate());
  b->SetCompositionTime(src->GetCompositionTime());
  b->SetExtraDataShared(src->GetExtraDataShared());
  return b;
}
