#include "ixolink/TranscodeParams.h"

#include <json/json.h>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

// The member without creating it (operator[] would add a null member).
const Json::Value* Member(const Json::Value& root, const char* key) { return root.find(key, key + strlen(key)); }

void ReadInt(const Json::Value& root, const char* key, int& field) {
  const Json::Value* v = Member(root, key);
  if (v && v->isInt()) field = v->asInt();
}

}  // namespace

void TranscodeParams::FromJson(const std::string& text) {
  *this = TranscodeParams();
  Json::Value root;
  try {
    Json::Reader reader;
    if (!reader.parse(text, root, false) || !root.isObject()) return;
    const Json::Value* u = Member(root, "url");
    if (u && u->isString()) url = u->asString();
    const Json::Value* t = Member(root, "transcode");
    if (t && t->isBool()) transcode = t->asBool();
    ReadInt(root, "width", width);
    ReadInt(root, "height", height);
    ReadInt(root, "frameRate", frameRate);
    ReadInt(root, "VbitRate", VbitRate);
    ReadInt(root, "SamplingRate", SamplingRate);
    ReadInt(root, "AbitRate", AbitRate);
  } catch (const std::exception&) {
    // The reader gives up on pathological input (nesting too deep) by
    // throwing; such a body counts as no body at all.
    *this = TranscodeParams();
  }
}

std::string TranscodeParams::ToJson() const {
  Json::Value root(Json::objectValue);
  root["url"] = url;
  root["transcode"] = transcode;
  root["width"] = width;
  root["height"] = height;
  root["frameRate"] = frameRate;
  root["VbitRate"] = VbitRate;
  root["SamplingRate"] = SamplingRate;
  root["AbitRate"] = AbitRate;
  Json::FastWriter writer;
  std::string out = writer.write(root);
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof(buf), "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}
