#include "media/Amf.h"

#include <chrono>
#include <cstring>

#include "core/Log.h"

namespace {
int64_t TickCountMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

BaseObject::BaseObject() : createTime(TickCountMs()) {}
BaseObject::~BaseObject() = default;
CustomSerializable::~CustomSerializable() = default;

void BooleanObject::Serialize(Output* out) const { out->WriteBoolean(value); }

void IntegerObject::Serialize(Output* out) const { out->WriteNumber(value); }

void ClearAmfValueMap(AmfValueMap& map) {
  for (auto& entry : map) delete entry.second;
  map.clear();
}

void Output::WriteString(const std::string& text) {
  if (text.size() < 65535) {
    buffer->WriteUInt8(0x02);
    buffer->WriteUInt16(static_cast<uint16_t>(text.size()));
  } else {
    buffer->WriteUInt8(0x0C);
    buffer->WriteUInt32(static_cast<uint32_t>(text.size()));
  }
  buffer->Write(text.data(), static_cast<int>(text.size()));
}

void Output::WriteNumber(int value) {
  buffer->WriteUInt8(0x00);
  buffer->WriteDouble(static_cast<double>(value));
}

void Output::WriteBoolean(bool value) {
  buffer->WriteUInt8(0x01);
  buffer->WriteUInt8(value ? 0x01 : 0x00);
}

bool Output::WriteUTF(const std::string& text) {
  if (text.size() > 65535) return false;
  buffer->WriteUInt16(static_cast<uint16_t>(text.size()));
  buffer->Write(text.data(), static_cast<int>(text.size()));
  return true;
}

void Output::WriteMap(const AmfValueMap& map) {
  buffer->WriteUInt8(0x08);
  buffer->WriteUInt32(0);
  for (const auto& entry : map) {
    if (entry.first == "length") continue;
    const CustomSerializable* value = entry.second;
    const char* name = value ? value->GetClassName() : "";
    bool known = strcmp(name, "StringObject") == 0 || strcmp(name, "IntegerObject") == 0 ||
                 strcmp(name, "BooleanObject") == 0;
    if (!known) {
      // A key without its value would shift every following byte for the
      // reader, so the whole entry is left out.
      LogWarn("Output::WriteMap TODO WriteMap");
      continue;
    }
    if (!WriteUTF(entry.first)) {
      LogWarn("Output::WriteMap: key of %zu bytes left out", entry.first.size());
      continue;
    }
    value->Serialize(this);
  }
  buffer->WriteUInt8(0x00);
  buffer->WriteUInt8(0x00);
  buffer->WriteUInt8(0x09);
}
