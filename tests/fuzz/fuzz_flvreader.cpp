// Feeds arbitrary bytes to the FLV reader as an FLV file and, optionally, as
// the key-frame index file beside it. Input layout: two bytes (little
// endian) giving the index part's length, the index part, then the FLV.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/Log.h"
#include "media/FLVReader.h"
#include "media/SlicePlayback.h"

namespace {

std::string Folder() {
  static std::string folder = [] {
    char tmpl[] = "/tmp/fuzz-flvreader-XXXXXX";
    const char* p = mkdtemp(tmpl);
    return std::string(p ? p : "/tmp");
  }();
  return folder;
}

void WriteAll(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  if (size) fwrite(data, 1, size, f);
  fclose(f);
}

void Drain(ITagReader& reader) {
  for (int i = 0; i < 100000; ++i) {
    std::unique_ptr<Tag> tag(reader.ReadNextTag());
    if (!tag) break;
    if (tag->GetBody() && tag->GetBody()->GetSize() != static_cast<int>(tag->GetDataSize())) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    SetLogLevel(-1);
    return true;
  }();
  (void)quiet;
  size_t indexLength = size >= 2 ? (data[0] | (data[1] << 8)) : 0;
  size_t offset = size >= 2 ? 2 : size;
  if (indexLength > size - offset) indexLength = size - offset;
  std::string flv = Folder() + "/in.flv";
  std::string index = FileKeyFrameMetaCache::IndexPath(flv);
  if (indexLength > 0)
    WriteAll(index, data + offset, indexLength);
  else
    unlink(index.c_str());
  WriteAll(flv, data + offset + indexLength, size - offset - indexLength);

  for (bool synthesize : {false, true}) {
    FLVReader reader(flv, synthesize);
    KeyFrameMeta* meta = reader.GetKeyFrameMeta();
    for (int64_t p : meta->positions)
      if (p < 0 || p + 15 > reader.GetTotalBytes()) abort();
    Drain(reader);
    int64_t t = size > 3 ? (data[size - 1] << 8 | data[size - 2]) * 10 : 0;
    reader.SeekToTime(t);
    Drain(reader);
    reader.SeekToTime(0);
    Drain(reader);
  }
  PlayItem item;
  item.SetName(flv);
  MessageInput input(&item);
  for (int i = 0; i < 100000; ++i) {
    std::unique_ptr<IoBuffer> m(input.GetNextMessage());
    if (!m) break;
  }
  return 0;
}
