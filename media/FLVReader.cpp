#include "media/FLVReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/Log.h"
#include "media/Amf.h"
#include "platform/File64.h"

namespace {

constexpr int64_t kFileHeaderBytes = 9;

uint32_t GetBE24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }
uint32_t GetBE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | GetBE24(p + 1); }

int32_t GetLE32(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
  return static_cast<int32_t>(v);
}

void PutLE32(std::vector<uint8_t>& out, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool FitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

}  // namespace

// ---------------------------------------------------------------- Tag

Tag::~Tag() { delete body; }

void Tag::SetBody(IoBuffer* b) {
  if (b != body) delete body;
  body = b;
}

IoBuffer* Tag::TakeBody() {
  IoBuffer* b = body;
  body = nullptr;
  return b;
}

ITagReader::~ITagReader() = default;
KeyFrameMeta::~KeyFrameMeta() = default;

// ---------------------------------------------------------------- index file

FileKeyFrameMetaCache::~FileKeyFrameMetaCache() = default;

std::string FileKeyFrameMetaCache::IndexPath(const std::string& flvPath) { return flvPath + "c.meta"; }

KeyFrameMeta* FileKeyFrameMetaCache::Load(const std::string& flvPath) {
  FILE* f = fopen(IndexPath(flvPath).c_str(), "rb");
  if (!f) return nullptr;
  std::vector<uint8_t> bytes;
  uint8_t block[65536];
  size_t n;
  // An index is 21 bytes plus 8 per entry; anything far beyond what a
  // 32-bit position list can describe is not an index.
  constexpr size_t kMaxIndexBytes = 64u * 1024 * 1024;
  while ((n = fread(block, 1, sizeof(block), f)) > 0) {
    bytes.insert(bytes.end(), block, block + n);
    if (bytes.size() > kMaxIndexBytes) break;
  }
  bool readError = ferror(f) != 0;
  fclose(f);
  if (readError || bytes.size() < 21 || bytes.size() > kMaxIndexBytes) return nullptr;

  const uint8_t* p = bytes.data();
  size_t size = bytes.size();
  int32_t duration = GetLE32(p);
  int32_t firstAudio = GetLE32(p + 4);
  int32_t firstVideo = GetLE32(p + 8);
  uint8_t audioOnly = p[12];
  int32_t count = GetLE32(p + 13);
  if (count < 0 || audioOnly > 1) return nullptr;
  size_t timesAt = 17 + 4 * static_cast<size_t>(count);
  if (timesAt + 4 > size) return nullptr;
  int32_t timeCount = GetLE32(p + timesAt);
  if (timeCount != count || timesAt + 4 + 4 * static_cast<size_t>(count) != size) return nullptr;

  KeyFrameMeta* meta = new KeyFrameMeta;
  meta->duration = duration;
  meta->firstAudioPosition = firstAudio;
  meta->firstVideoPosition = firstVideo;
  meta->audioOnly = audioOnly != 0;
  meta->positions.reserve(count);
  meta->times.reserve(count);
  for (int32_t i = 0; i < count; ++i) {
    meta->positions.push_back(GetLE32(p + 17 + 4 * static_cast<size_t>(i)));
    meta->times.push_back(GetLE32(p + timesAt + 4 + 4 * static_cast<size_t>(i)));
  }
  return meta;
}

bool FileKeyFrameMetaCache::Save(const std::string& flvPath, const KeyFrameMeta& meta) {
  if (meta.positions.size() != meta.times.size() || meta.positions.size() > 0x7FFFFFFF) return false;
  if (!FitsInt32(meta.duration) || !FitsInt32(meta.firstAudioPosition) || !FitsInt32(meta.firstVideoPosition))
    return false;
  std::vector<uint8_t> out;
  PutLE32(out, static_cast<int32_t>(meta.duration));
  PutLE32(out, static_cast<int32_t>(meta.firstAudioPosition));
  PutLE32(out, static_cast<int32_t>(meta.firstVideoPosition));
  out.push_back(meta.audioOnly ? 1 : 0);
  PutLE32(out, static_cast<int32_t>(meta.positions.size()));
  for (int64_t v : meta.positions) {
    if (!FitsInt32(v)) return false;
    PutLE32(out, static_cast<int32_t>(v));
  }
  PutLE32(out, static_cast<int32_t>(meta.times.size()));
  for (int64_t v : meta.times) {
    if (!FitsInt32(v)) return false;
    PutLE32(out, static_cast<int32_t>(v));
  }
  FILE* f = fopen(IndexPath(flvPath).c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
  ok = (fclose(f) == 0) && ok;
  return ok;
}

// ---------------------------------------------------------------- reader

FLVReader::FLVReader(const std::string& p, bool synthesize) : path(p), synthesizeMetaData(synthesize) {
  file = new File64(path, true);
  if (file->IsOpen()) {
    fileSize = std::max<int64_t>(file->SeekToEnd(), 0);
    file->SeekToBegin();
  }
  filePos = 0;
  cache = new FileKeyFrameMetaCache;
  Fill(kWindowBytes, false);
  if (GetBytesLeft() >= kFileHeaderBytes) ReadHeader();
  GetKeyFrameMeta();
}

FLVReader::~FLVReader() {
  if (file) file->Close();
  delete file;
  delete window;
  delete keyFrameMeta;
  delete cache;
}

bool FLVReader::IsOpen() const { return file && file->IsOpen(); }

void FLVReader::DropConsumed() {
  int rp = window->GetReadPos();
  if (rp <= 0) return;
  int r = window->GetRemaining();
  if (r > 0) memmove(window->GetData(), window->GetData() + rp, r);
  window->SetSize(r);
  window->SetReadPos(0);
}

void FLVReader::Fill(int n, bool reset) {
  if (!IsOpen()) return;
  if (n > kWindowBytes) n = kWindowBytes;
  if (window == nullptr) {
    // Sized for what the file can fill; appending grows it to the window.
    window = new IoBuffer(static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(kWindowBytes, fileSize))));
    buffered = true;
  } else if (reset) {
    window->ResetPositions();
  } else if (window->GetRemaining() >= n) {
    return;
  }
  int64_t held = window->GetRemaining();
  int64_t reachable = held + std::max<int64_t>(fileSize - filePos, 0);
  if (n > reachable) n = static_cast<int>(reachable);
  int64_t missing = n - held;
  if (missing <= 0) return;
  DropConsumed();
  if (scratch.size() < static_cast<size_t>(missing)) scratch.resize(static_cast<size_t>(missing));
  int64_t got = file->Read(scratch.data(), missing);
  if (got <= 0) {
    // The file ended early or failed: nothing more can be read from it.
    fileSize = filePos;
    return;
  }
  window->Write(scratch.data(), static_cast<int>(got));
  filePos += got;
  if (got < missing) fileSize = filePos;  // the file shrank underneath us
}

int64_t FLVReader::GetPosition() const { return filePos - (window ? window->GetRemaining() : 0); }

int64_t FLVReader::GetBytesLeft() const {
  return std::max<int64_t>(fileSize - filePos, 0) + (window ? window->GetRemaining() : 0);
}

bool FLVReader::HasMoreTags() const { return GetBytesLeft() >= kTagHeaderBytes; }

void FLVReader::SeekTo(int64_t position) {
  if (position < 0) position = 0;
  if (window) {
    int64_t windowStart = filePos - window->GetSize();
    if (position >= windowStart && position < filePos) {
      window->SetReadPos(static_cast<int>(position - windowStart));
      return;
    }
  }
  if (!IsOpen()) return;
  if (position > fileSize) position = fileSize;
  if (!file->Seek(position)) return;
  filePos = position;
  Fill(kWindowBytes, true);
}

void FLVReader::ReadHeader() {
  // Signature, version, flags and header size are not checked: reading
  // always goes on at offset 9, where the slice writer puts the first tag.
  Ensure(static_cast<int>(kFileHeaderBytes));
  window->Skip(3);
  window->ReadUInt8();
  window->ReadUInt8();
  window->ReadUInt32();
}

Tag* FLVReader::ReadTagHeader() {
  Ensure(kTagHeaderBytes);
  if (!window || window->GetRemaining() < kTagHeaderBytes) return nullptr;
  Tag* tag = new Tag;
  tag->SetPreviousTagSize(window->ReadUInt32());
  tag->SetType(window->ReadUInt8());
  tag->SetDataSize(ServerUtil::ReadUInt24BE(*window));
  uint32_t ts = ServerUtil::ReadUInt24BE(*window);
  ts |= static_cast<uint32_t>(window->ReadUInt8()) << 24;
  tag->SetTimestamp(ts);
  ServerUtil::ReadUInt24BE(*window);  // stream id
  return tag;
}

bool FLVReader::ReadWindowBytes(IoBuffer* out, int64_t n) {
  while (n > 0) {
    Ensure(static_cast<int>(std::min<int64_t>(n, kWindowBytes)));
    int avail = window ? window->GetRemaining() : 0;
    if (avail <= 0) return false;
    int take = static_cast<int>(std::min<int64_t>(avail, n));
    if (out && !out->Write(window->GetReadPointer(), take)) return false;
    window->Skip(take);
    n -= take;
  }
  return true;
}

Tag* FLVReader::ReadNextTag() {
  for (;;) {
    if (!HasMoreTags()) return nullptr;
    int64_t position = GetPosition();
    Tag* tag = ReadTagHeader();
    if (!tag) {
      SeekTo(fileSize);
      return nullptr;
    }
    if (!metaSent && synthesizeMetaData) {
      // The made-up metadata stands in front of the first tag, whole or not.
      delete tag;
      SeekTo(position);  // the tag is read again by the next call
      GetKeyFrameMeta();
      return MakeMetaDataTag();
    }
    int64_t bodyEnd = position + kTagHeaderBytes + tag->GetDataSize();
    if (bodyEnd > fileSize) {
      // The tag's data runs past the end: this is the end of the file.
      delete tag;
      SeekTo(fileSize);
      return nullptr;
    }
    IoBuffer* body = new IoBuffer(static_cast<int>(std::max<uint32_t>(tag->GetDataSize(), 1)));
    if (!ReadWindowBytes(body, tag->GetDataSize())) {
      delete body;
      delete tag;
      SeekTo(fileSize);
      return nullptr;
    }
    tag->SetBody(body);
    if (tag->GetType() == 18 && metaSent) {
      // The file's own metadata is replaced by the synthesised one.
      delete tag;
      continue;
    }
    return tag;
  }
}

bool FLVReader::PeekTagAt(int64_t position, TagHeader& header, bool& hasFirstByte) {
  hasFirstByte = false;
  if (!IsOpen() || position < kFileHeaderBytes || position + kTagHeaderBytes > fileSize) return false;
  uint8_t b[kTagHeaderBytes + 1];
  int want = position + kTagHeaderBytes + 1 <= fileSize ? kTagHeaderBytes + 1 : kTagHeaderBytes;
  bool ok = file->Seek(position) && file->Read(b, want) == want;
  file->Seek(filePos);  // the window keeps describing the bytes before filePos
  if (!ok) return false;
  header.previousTagSize = GetBE32(b);
  header.type = b[4];
  header.dataSize = GetBE24(b + 5);
  header.timestamp = GetBE24(b + 8) | (static_cast<uint32_t>(b[11]) << 24);
  if (position + kTagHeaderBytes + header.dataSize > fileSize) return false;
  hasFirstByte = header.dataSize >= 1 && want == kTagHeaderBytes + 1;
  header.firstByte = hasFirstByte ? b[kTagHeaderBytes] : 0;
  return true;
}

bool FLVReader::IsConsistent(const KeyFrameMeta& meta) {
  if (meta.duration < 0 || meta.duration > 0xFFFFFFFFLL) return false;
  if (meta.positions.size() != meta.times.size()) return false;
  if (meta.audioOnly != (meta.firstVideoPosition == -1)) return false;
  TagHeader h;
  bool first;
  if (meta.firstAudioPosition != -1 && (!PeekTagAt(meta.firstAudioPosition, h, first) || h.type != 8)) return false;
  if (meta.firstVideoPosition != -1 && (!PeekTagAt(meta.firstVideoPosition, h, first) || h.type != 9)) return false;
  if (meta.audioOnly && !meta.positions.empty() && meta.firstAudioPosition == -1) return false;
  int64_t previous = -1;
  for (size_t i = 0; i < meta.positions.size(); ++i) {
    int64_t pos = meta.positions[i];
    if (pos <= previous) return false;
    previous = pos;
    if (!PeekTagAt(pos, h, first)) return false;
    if (meta.times[i] != static_cast<int64_t>(h.timestamp)) return false;
    if (meta.audioOnly) {
      if (h.type != 8) return false;
    } else if (h.type != 9 || !first || (h.firstByte >> 4) != 1) {
      return false;
    }
  }
  return true;
}

KeyFrameMeta* FLVReader::ScanIndex() {
  int64_t remembered = GetPosition();
  SeekTo(kFileHeaderBytes);
  bool audioOnly = true;
  std::vector<int64_t> keyPositions, keyTimes, audioPositions, audioTimes;
  lastTimestamp = 0;
  while (HasMoreTags()) {
    int64_t position = GetPosition();
    Tag* tag = ReadTagHeader();
    if (!tag) break;
    int type = tag->GetType();
    uint32_t dataSize = tag->GetDataSize();
    uint32_t timestamp = tag->GetTimestamp();
    delete tag;
    int64_t next = position + kTagHeaderBytes + dataSize;
    if (next >= GetTotalBytes()) {
      LogError("FLVReader: New position exceeds limit. newPosition=%lld, GetTotalBytes()=%lld",
               static_cast<long long>(next), static_cast<long long>(GetTotalBytes()));
      // A tag cut off by the end of the file is not part of it; one that
      // ends exactly there is the last one.
      if (next > GetTotalBytes()) break;
    }
    lastTimestamp = timestamp;
    if (type == 9) {
      if (audioOnly) {
        audioOnly = false;
        audioPositions.clear();
        audioTimes.clear();
      }
      if (firstVideoPosition == -1) firstVideoPosition = position;
      if (dataSize >= 1) {
        Ensure(1);
        if ((window->PeekAt(0) >> 4) == 1) {
          keyPositions.push_back(position);
          keyTimes.push_back(timestamp);
        }
      }
    } else if (type == 8) {
      if (firstAudioPosition == -1) firstAudioPosition = position;
      if (audioOnly) {
        audioPositions.push_back(position);
        audioTimes.push_back(timestamp);
      }
    }
    if (next >= GetTotalBytes()) break;
    SeekTo(next);
  }
  SeekTo(remembered);
  KeyFrameMeta* meta = new KeyFrameMeta;
  meta->duration = lastTimestamp;
  meta->audioOnly = audioOnly;
  meta->positions = audioOnly ? std::move(audioPositions) : std::move(keyPositions);
  meta->times = audioOnly ? std::move(audioTimes) : std::move(keyTimes);
  meta->firstAudioPosition = firstAudioPosition;
  meta->firstVideoPosition = firstVideoPosition;
  return meta;
}

KeyFrameMeta* FLVReader::GetKeyFrameMeta() {
  if (keyFrameMeta) return keyFrameMeta;
  KeyFrameMeta* loaded = IsOpen() ? cache->Load(path) : nullptr;
  if (loaded && IsConsistent(*loaded)) {
    keyFrameMeta = loaded;
    lastTimestamp = loaded->duration;
    firstAudioPosition = loaded->firstAudioPosition;
    firstVideoPosition = loaded->firstVideoPosition;
    return keyFrameMeta;
  }
  if (loaded) LogWarn("FLVReader: index %s does not match %s; scanning the file", FileKeyFrameMetaCache::IndexPath(path).c_str(), path.c_str());
  delete loaded;
  keyFrameMeta = ScanIndex();
  return keyFrameMeta;
}

int64_t FLVReader::SeekToTime(int64_t t) {
  KeyFrameMeta* meta = GetKeyFrameMeta();
  if (meta->positions.empty()) return t;
  if (t < meta->duration) {
    size_t chosen = 0;
    for (size_t i = 0; i < meta->times.size(); ++i) {
      if (meta->times[i] <= t)
        chosen = i;
      else
        break;
    }
    SeekTo(meta->positions[chosen]);
    return meta->times[chosen];
  }
  SeekTo(fileSize);
  return meta->duration;
}

Tag* FLVReader::MakeMetaDataTag() {
  IoBuffer* bytes = new IoBuffer;
  Output out(bytes);
  out.WriteString("onMetaData");
  AmfValueMap map;
  map["duration"] = new IntegerObject(static_cast<int>(lastTimestamp / 1000));
  TagHeader h;
  bool hasFirst = false;
  if (firstVideoPosition != -1 && PeekTagAt(firstVideoPosition, h, hasFirst) && hasFirst)
    map["videocodecid"] = new IntegerObject(h.firstByte & 0x0F);
  if (firstAudioPosition != -1 && PeekTagAt(firstAudioPosition, h, hasFirst) && hasFirst)
    map["audiocodecid"] = new IntegerObject((h.firstByte >> 4) & 0x0F);
  map["canSeekToEnd"] = new BooleanObject(true);
  out.WriteMap(map);
  ClearAmfValueMap(map);
  Tag* tag = new Tag;
  tag->SetType(18);
  tag->SetTimestamp(0);
  tag->SetDataSize(static_cast<uint32_t>(bytes->GetSize()));
  tag->SetBody(bytes);
  metaSent = true;
  return tag;
}
