#pragma once
// A small AMF0 writer and the value objects it serialises; enough to build
// the data of an "onMetaData" script tag (a name followed by a map of
// numbers and booleans).
#include <cstdint>
#include <map>
#include <string>

#include "core/IoBuffer.h"

class Output;

class BaseObject {
 public:
  BaseObject();
  virtual ~BaseObject();
  virtual const char* GetClassName() const = 0;
  // Monotonic milliseconds at which the object was made.
  int64_t GetCreateTime() const { return createTime; }

 private:
  int64_t createTime;
};

class CustomSerializable : public BaseObject {
 public:
  ~CustomSerializable() override;
  const char* GetClassName() const override = 0;
  virtual void Serialize(Output* out) const = 0;
  // A new object of the same class and value, owned by the caller.
  virtual CustomSerializable* Clone() const = 0;
};

class BooleanObject : public CustomSerializable {
 public:
  explicit BooleanObject(bool v) : value(v) {}
  const char* GetClassName() const override { return "BooleanObject"; }
  void Serialize(Output* out) const override;
  CustomSerializable* Clone() const override { return new BooleanObject(value); }
  bool GetValue() const { return value; }

 private:
  bool value;
};

class IntegerObject : public CustomSerializable {
 public:
  explicit IntegerObject(int v) : value(v) {}
  const char* GetClassName() const override { return "IntegerObject"; }
  void Serialize(Output* out) const override;
  CustomSerializable* Clone() const override { return new IntegerObject(value); }
  int GetValue() const { return value; }

 private:
  int value;
};

// Keys iterate in ascending byte order; the map's owner deletes the values.
using AmfValueMap = std::map<std::string, CustomSerializable*>;

// Deletes every value of the map and empties it.
void ClearAmfValueMap(AmfValueMap& map);

class Output {
 public:
  // Writes into buffer, which the caller keeps.
  explicit Output(IoBuffer* buffer) : buffer(buffer) {}
  IoBuffer* GetBuffer() const { return buffer; }

  // AMF0 string: short form (0x02, 16-bit length) below 65535 bytes, long
  // form (0x0C, 32-bit length) from 65535 bytes on.
  void WriteString(const std::string& text);
  // AMF0 number (0x00 and a big-endian IEEE 754 double).
  void WriteNumber(int value);
  void WriteBoolean(bool value);
  // 16-bit length and the bytes, no marker. Texts of more than 65535 bytes
  // cannot be expressed: nothing is written and false is returned.
  bool WriteUTF(const std::string& text);
  // AMF0 ECMA array: 0x08, a count of 0, the entries in key order, and the
  // end marker 00 00 09.
  void WriteMap(const AmfValueMap& map);

 private:
  IoBuffer* buffer;
};
