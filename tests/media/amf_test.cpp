#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/IoBuffer.h"
#include "media/Amf.h"

namespace {

std::vector<uint8_t> Bytes(const IoBuffer& b) { return std::vector<uint8_t>(b.GetData(), b.GetData() + b.GetSize()); }

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// A value class the writer does not know how to serialise.
class OddObject : public CustomSerializable {
 public:
  const char* GetClassName() const override { return "OddObject"; }
  void Serialize(Output* out) const override { out->GetBuffer()->WriteUInt8(0xEE); }
  CustomSerializable* Clone() const override { return new OddObject; }
};

TEST(Amf, MapOfNumberAndBooleanIsByteExact) {
  IoBuffer buf;
  Output out(&buf);
  AmfValueMap map;
  map["duration"] = new IntegerObject(12);
  map["canSeekToEnd"] = new BooleanObject(true);
  out.WriteMap(map);
  ClearAmfValueMap(map);
  std::vector<uint8_t> expected =
      Concat({{0x08, 0, 0, 0, 0},
              {0x00, 0x0C},
              Text("canSeekToEnd"),
              {0x01, 0x01},
              {0x00, 0x08},
              Text("duration"),
              {0x00, 0x40, 0x28, 0, 0, 0, 0, 0, 0},
              {0x00, 0x00, 0x09}});
  EXPECT_EQ(Bytes(buf), expected);
}

TEST(Amf, MapLeavesOutLengthAndValuesItCannotWrite) {
  IoBuffer buf;
  Output out(&buf);
  AmfValueMap map;
  map["length"] = new IntegerObject(3);
  map["odd"] = new OddObject;
  map["zeta"] = new BooleanObject(false);
  out.WriteMap(map);
  ClearAmfValueMap(map);
  // Neither "length" nor the entry without a serialisable value appears, and
  // what follows stays readable.
  std::vector<uint8_t> expected =
      Concat({{0x08, 0, 0, 0, 0}, {0x00, 0x04}, Text("zeta"), {0x01, 0x00}, {0x00, 0x00, 0x09}});
  EXPECT_EQ(Bytes(buf), expected);
}

TEST(Amf, MapKeysInByteOrder) {
  // Upper case sorts before lower case, and a byte above 0x7F after both.
  IoBuffer buf;
  Output out(&buf);
  AmfValueMap map;
  map["b"] = new BooleanObject(true);
  map["\xC3\xA9"] = new BooleanObject(true);
  map["B"] = new BooleanObject(true);
  out.WriteMap(map);
  ClearAmfValueMap(map);
  std::vector<uint8_t> expected = Concat({{0x08, 0, 0, 0, 0},
                                          {0x00, 0x01, 'B', 0x01, 0x01},
                                          {0x00, 0x01, 'b', 0x01, 0x01},
                                          {0x00, 0x02, 0xC3, 0xA9, 0x01, 0x01},
                                          {0x00, 0x00, 0x09}});
  EXPECT_EQ(Bytes(buf), expected);
}

TEST(Amf, StringShortAndLongForms) {
  struct Case {
    size_t length;
    uint8_t marker;
    int lengthBytes;
  };
  for (const Case& c : {Case{0, 0x02, 2}, Case{10, 0x02, 2}, Case{65534, 0x02, 2}, Case{65535, 0x0C, 4},
                        Case{70000, 0x0C, 4}}) {
    IoBuffer buf;
    Output out(&buf);
    std::string s(c.length, 'x');
    out.WriteString(s);
    ASSERT_EQ(buf.GetSize(), static_cast<int>(1 + c.lengthBytes + c.length)) << c.length;
    EXPECT_EQ(buf.ReadUInt8(), c.marker) << c.length;
    uint32_t len = c.lengthBytes == 2 ? buf.ReadUInt16() : buf.ReadUInt32();
    EXPECT_EQ(len, c.length);
  }
}

TEST(Amf, NumbersAndUtf) {
  struct Case {
    int value;
    std::vector<uint8_t> bytes;
  };
  for (const Case& c : {Case{0, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
                        Case{1, {0, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
                        Case{-2, {0, 0xC0, 0, 0, 0, 0, 0, 0, 0}},
                        Case{10, {0, 0x40, 0x24, 0, 0, 0, 0, 0, 0}}}) {
    IoBuffer a, b;
    Output(&a).WriteNumber(c.value);
    IntegerObject(c.value).Serialize(std::make_unique<Output>(&b).get());
    EXPECT_EQ(Bytes(a), c.bytes) << c.value;
    EXPECT_EQ(Bytes(b), c.bytes) << c.value;
  }
  IoBuffer u;
  Output uo(&u);
  EXPECT_TRUE(uo.WriteUTF("ab"));
  EXPECT_EQ(Bytes(u), (std::vector<uint8_t>{0, 2, 'a', 'b'}));
  EXPECT_FALSE(uo.WriteUTF(std::string(65536, 'k')));
  EXPECT_EQ(u.GetSize(), 4);
}

TEST(Amf, CloneIsSeparateWithSameClassAndValue) {
  BooleanObject t(true);
  IntegerObject n(-7);
  std::unique_ptr<CustomSerializable> ct(t.Clone()), cn(n.Clone());
  EXPECT_NE(ct.get(), &t);
  EXPECT_STREQ(ct->GetClassName(), "BooleanObject");
  EXPECT_TRUE(static_cast<BooleanObject*>(ct.get())->GetValue());
  EXPECT_STREQ(cn->GetClassName(), "IntegerObject");
  EXPECT_EQ(static_cast<IntegerObject*>(cn.get())->GetValue(), -7);
  EXPECT_GE(cn->GetCreateTime(), n.GetCreateTime());
}

}  // namespace
