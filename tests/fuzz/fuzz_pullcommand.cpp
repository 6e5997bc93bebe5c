// Feeds arbitrary bytes to the StartPull body reader and checks that a text
// put into a reply always comes back from a JSON reader unchanged.
#include <json/json.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "ixolink/TranscodeParams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  TranscodeParams p;
  p.FromJson(text);
  if (p.WantsVideo() && (p.width <= 0 || p.height <= 0)) abort();
  TranscodeParams q;
  q.FromJson(p.ToJson());
  if (q.url != p.url || q.width != p.width || q.AbitRate != p.AbitRate || q.transcode != p.transcode) abort();

  std::string msg = text.substr(0, text.find('\0'));
  std::string reply = "{\"msg\": \"" + JsonEscape(msg) + "\"}";
  Json::Value v;
  Json::Reader reader;
  if (!reader.parse(reply, v) || !v.isObject() || v["msg"].asString() != msg) abort();
  return 0;
}
