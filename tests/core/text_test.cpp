#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "core/ByteUtil.h"
#include "core/ProcessUtil.h"
#include "core/TextUtil.h"
#include "platform/Base64.h"
#include "platform/Md5.h"
#include "platform/Uuid.h"
#include "tests/tools/TestUtil.h"

namespace {
std::string Python(const std::string& script) {
  vvtest::CommandResult r = vvtest::Run("python3 -c " + vvtest::ShellQuote(script));
  EXPECT_EQ(r.status, 0) << script;
  return r.output;
}

std::string Hex(const std::string& bytes) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

std::string Bytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 3)) & 0xff);
  return s;
}
}  // namespace

TEST(Base64, DecodesWhatPythonEncodes) {
  std::vector<std::string> inputs;
  for (size_t n = 0; n <= 20; ++n) inputs.push_back(Bytes(n, static_cast<unsigned>(n)));
  inputs.push_back(Bytes(3000, 7));
  std::string hexes;
  for (const auto& in : inputs) hexes += " " + vvtest::ShellQuote(Hex(in));
  // Each input as plain base64 and as MIME lines (76 columns, "\n"), then
  // the MIME text again with "\r\n" line ends.
  vvtest::CommandResult r = vvtest::Run(
      "python3 -c " +
      vvtest::ShellQuote("import base64, sys\n"
                         "for h in sys.argv[1:]:\n"
                         "    b = bytes.fromhex(h)\n"
                         "    print(base64.b64encode(b).decode())\n"
                         "    print(base64.encodebytes(b).decode().replace('\\n', '|'))\n") +
      hexes);
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> lines = Lines(r.output);
  ASSERT_EQ(lines.size(), 2 * inputs.size());
  size_t counter = 5;
  size_t expectedCounter = 5;
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    std::string plain = lines[2 * i];
    std::string mime = lines[2 * i + 1];
    std::string lf = mime, crlf;
    for (char& c : lf)
      if (c == '|') c = '\n';
    for (char c : mime) crlf += c == '|' ? std::string("\r\n") : std::string(1, c);
    for (const std::string* text : {&plain, &lf, &crlf}) {
      // An exact-size heap copy without terminator: a read past it is caught
      // by the address sanitizer.
      std::vector<char> exact(text->begin(), text->end());
      std::string got = Base64Decode(exact.data(), exact.size(), &counter);
      EXPECT_EQ(Hex(got), Hex(inputs[i]));
      expectedCounter += inputs[i].size();
    }
  }
  EXPECT_EQ(counter, expectedCounter);
}

TEST(Base64, OddInputsStayInsideTheBuffer) {
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {"QQ==", "A"},      {"QUI=", "AB"},  {"QUJD", "ABC"},
      {"QQ", "A"},        {"QUI", "AB"},   {"Q", ""},  // unpadded tails
      {"\r\n\r\n", ""},   {"QU\nJD", "ABC"}, {"QQ==QUJD", std::string("A") + "ABC"},
      {"!!!!", std::string(3, '\0')},  // outside the alphabet counts as 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<char> exact(c.text.begin(), c.text.end());
    EXPECT_EQ(Base64Decode(exact.data(), exact.size()), c.expected);
  }
  EXPECT_EQ(Base64Decode(nullptr, 10), "");
}

TEST(Md5, MatchesHashlib) {
  std::vector<std::string> texts = {"", "a", "abc", "message digest", std::string(55, 'x'), std::string(56, 'y'),
                                    std::string(64, 'z'), std::string(1000, 'q'), "中文"};
  std::string args;
  for (const auto& t : texts) args += " " + vvtest::ShellQuote(t);
  vvtest::CommandResult r = vvtest::Run(
      "python3 -c " +
      vvtest::ShellQuote("import hashlib, sys\nfor t in sys.argv[1:]: print(hashlib.md5(t.encode()).hexdigest())") +
      args);
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> expected = Lines(r.output);
  ASSERT_EQ(expected.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    char* got = Md5OfText(texts[i].c_str());
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::string(got), expected[i]) << texts[i];
    free(got);
  }

  vvtest::TempDir dir;
  std::string file = dir.file("blob.bin");
  std::string content = Bytes(5000, 3);  // several 1024-byte pieces and a rest
  FILE* f = fopen(file.c_str(), "wb");
  fwrite(content.data(), 1, content.size(), f);
  fclose(f);
  std::string want = Python("import hashlib; print(hashlib.md5(open('" + file + "','rb').read()).hexdigest())");
  char* got = Md5OfFile(file.c_str());
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(std::string(got) + "\n", want);
  free(got);
  EXPECT_EQ(Md5OfFile(dir.file("missing").c_str()), nullptr);

  // Update in pieces gives the one-shot digest; Final starts afresh.
  Md5 md5;
  md5.Update(content.data(), 1);
  md5.Update(content.data() + 1, 1000);
  md5.Update(content.data() + 1001, content.size() - 1001);
  unsigned char d[16];
  md5.Final(d);
  std::string hex = Hex(std::string(reinterpret_cast<char*>(d), 16));
  EXPECT_EQ(hex + "\n", want);
  md5.Update("abc", 3);
  md5.Final(d);
  EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(d), 16)), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(EscapeUri, MatchesUrllibQuote) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string want = Python("import urllib.parse; print(urllib.parse.quote(bytes(range(1, 256)), "
                            "safe=\"@!*'()%;/?:&=+$,\"))");
  EXPECT_EQ(EscapeUri(all) + "\n", want);
  EXPECT_EQ(EscapeUri(std::string("a /\xFC")), "a%20/%FC");

  // A small buffer: terminated, never written past, no half escape.
  char buf[16];
  memset(buf, '#', sizeof(buf));
  EXPECT_FALSE(EscapeUri(buf, 5, "ab c"));  // "ab%20c" needs 7
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(buf[5], '#');
  EXPECT_FALSE(EscapeUri(buf, 6, "ab c"));
  EXPECT_STREQ(buf, "ab%20");
  EXPECT_EQ(buf[6], '#');
  EXPECT_TRUE(EscapeUri(buf, 7, "ab c"));
  EXPECT_STREQ(buf, "ab%20c");
  EXPECT_FALSE(EscapeUri(buf, 0, "x"));
  char small[4];
  EXPECT_FALSE(EscapeUri(small, "a b"));  // the array's own size bounds it
  EXPECT_STREQ(small, "a");
  char roomy[16];
  EXPECT_TRUE(EscapeUri(roomy, "a b"));
  EXPECT_STREQ(roomy, "a%20b");
}

TEST(TextUtil, StreamUrlKinds) {
  struct Case {
    const char* url;
    int kind;
    const char* after;
  } cases[] = {
      {"udp://239.0.0.1:1234", 1, nullptr},
      {"rtsp://cam/stream", 2, nullptr},
      {"rtmp://127.0.0.1/live/a", 3, nullptr},
      {"http://h/x.flv", 4, nullptr},
      {"https://h/x", 0, nullptr},
      {"RTSP://cam", 0, nullptr},  // compared exactly
      {"/data/movie.mp4", 0, nullptr},
      {"movie.mp4", 0, nullptr},
      {"rtsp", 2, nullptr},  // neither ":" nor "/": the whole text
      {"mms://host/live", 0, "mmsh://host/live"},
      {"mms", 0, "mmsh"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    std::string url = c.url;
    EXPECT_EQ(IsStreamUrl(url), c.kind);
    EXPECT_EQ(url, c.after ? c.after : c.url);
  }
}

TEST(TextUtil, SplitReplaceAndDurations) {
  struct Split {
    const char* text;
    const char* sep;
    std::vector<std::string> pieces;
  } splits[] = {
      {"a,,b,", ",", {"a", "", "b", ""}},
      {",a", ",", {"a"}},
      {"", ",", {}},
      {",,,", ",", {}},
      {"a::b", "::", {"a", "b"}},
      {"x", ",", {"x"}},
  };
  for (const Split& s : splits) {
    SCOPED_TRACE(s.text);
    std::vector<std::string> got{"kept"};
    SplitString(s.text, s.sep, got);
    std::vector<std::string> want{"kept"};
    want.insert(want.end(), s.pieces.begin(), s.pieces.end());
    EXPECT_EQ(got, want);
  }
  struct Replace {
    const char* text;
    const char* from;
    const char* to;
    const char* expected;
  } replaces[] = {
      {"aaa", "a", "aa", "aaaaaa"}, {"abcabc", "bc", "", "aa"}, {"abc", "", "x", "abc"}, {"xyz", "q", "r", "xyz"}};
  for (const Replace& r : replaces) {
    std::string t = r.text;
    ReplaceAll(t, r.from, r.to);
    EXPECT_EQ(t, r.expected);
  }
  struct Dur {
    uint32_t ms;
    const char* text;
  } durs[] = {{0, "0.000"},           {59999, "59.999"},          {61000, "1:01.000"},
              {3723004, "1:02:03.004"}, {90061001, "1:01:01:01.001"}, {4294967295u, "49:17:02:47.295"}};
  for (const Dur& d : durs) EXPECT_STREQ(FormatDuration(d.ms), d.text);
  // Each thread has its own result buffer.
  std::string other;
  const char* mine = FormatDuration(1000);
  std::thread([&] { other = FormatDuration(2000); }).join();
  EXPECT_STREQ(mine, "1.000");
  EXPECT_EQ(other, "2.000");
}

TEST(TextUtil, ConvertCodePageToUtf8) {
  std::string gbk = Python("import sys; sys.stdout.buffer.write('摄像头 Camera'.encode('gbk'))");
  char* utf8 = ConvertCodePage(gbk.c_str());
  EXPECT_STREQ(utf8, "摄像头 Camera");
  delete[] utf8;
  utf8 = ConvertCodePage("已经是 UTF-8");
  EXPECT_STREQ(utf8, "已经是 UTF-8");
  delete[] utf8;
}

TEST(UniqueIds, Formats) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string s = MakeUniqueId();
    bool shape = s.size() == 32;
    for (size_t k = 0; shape && k < 32; ++k)
      shape = (k % 4 < 2) ? s[k] == '0' : (isdigit(static_cast<unsigned char>(s[k])) || (s[k] >= 'a' && s[k] <= 'f'));
    EXPECT_TRUE(shape) << s;
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 100u);
  char buf[40];
  memset(buf, '#', sizeof(buf));
  EXPECT_FALSE(MakeRandomGuidText(buf, 38));
  EXPECT_EQ(buf[0], '#');
  char tooSmall[20];
  EXPECT_FALSE(MakeRandomGuidText(tooSmall));
  EXPECT_TRUE(MakeRandomGuidText(buf));
  std::string g = buf;
  bool shape = g.size() == 38 && g.front() == '{' && g.back() == '}';
  for (size_t k = 1; shape && k < 37; ++k)
    shape = (k == 9 || k == 14 || k == 19 || k == 24) ? g[k] == '-' : ((g[k] >= '0' && g[k] <= '9') || (g[k] >= 'A' && g[k] <= 'E'));
  EXPECT_TRUE(shape) << buf;
  EXPECT_EQ(strlen(buf), 38u);
  EXPECT_EQ(buf[39], '#');
}

TEST(ByteUtil, LittleEndianAgainstStruct) {
  std::string packed = Python(
      "import struct, sys; sys.stdout.write(struct.pack('<HIII', 0xBEEF, 0xDEADBEEF, 0x01020304, 0xA0B0C0D0).hex())");
  std::string raw;
  for (size_t i = 0; i + 1 < packed.size(); i += 2) raw += static_cast<char>(std::stoi(packed.substr(i, 2), nullptr, 16));
  const unsigned char* b = reinterpret_cast<const unsigned char*>(raw.data());
  uint16_t v16 = 0;
  uint32_t v32 = 0;
  EXPECT_EQ(ReadUInt16LE(b, &v16), 0xBEEF);
  EXPECT_EQ(v16, 0xBEEF);
  EXPECT_EQ(ReadUInt32LE(b + 2, &v32), 0xDEADBEEFu);
  uint32_t high = 0, low = 0;
  ReadUInt64LE(b + 6, &high, &low);
  EXPECT_EQ(low, 0x01020304u);
  EXPECT_EQ(high, 0xA0B0C0D0u);
  unsigned char out[4];
  PutUInt32LE(out, 0xDEADBEEF);
  EXPECT_EQ(memcmp(out, b + 2, 4), 0);

  vvtest::TempDir dir;
  std::string path = dir.file("le.bin");
  FILE* f = fopen(path.c_str(), "wb");
  EXPECT_TRUE(WriteUInt16LE(f, 0xBEEF));
  EXPECT_TRUE(WriteUInt32LE(f, 0xDEADBEEF));
  EXPECT_TRUE(WriteUInt64LE(f, 0xA0B0C0D0, 0x01020304));
  fclose(f);
  EXPECT_EQ(vvtest::ReadFileText(path), raw);

  SubtractUInt64(high, low, 1, 0x01020305);  // no borrow between the words
  EXPECT_EQ(high, 0xA0B0C0CFu);
  EXPECT_EQ(low, 0xFFFFFFFFu);

  const unsigned char lt[] = {0x7f, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x99};
  const unsigned char* cur = lt;
  EXPECT_EQ(ReadLengthTypeValue(cur, 1), 0x7fu);
  EXPECT_EQ(ReadLengthTypeValue(cur, 2), 0x1234u);
  EXPECT_EQ(ReadLengthTypeValue(cur, 3), 0x12345678u);
  EXPECT_EQ(cur, lt + 7);
  EXPECT_EQ(ReadLengthTypeValue(cur, 0), 0u);
  EXPECT_EQ(cur, lt + 7);

  struct {
    unsigned char flags;
    int length;
  } headers[] = {{0x00, 5}, {0x01, 5}, {0x08, 6}, {0x09, 6}, {0x10, 7}, {0x11, 7},
                 {0x48, 8}, {0x49, 8}, {0x50, 9}, {0x51, 9}, {0x02, -1}, {0xff, -1}};
  for (const auto& h : headers) {
    unsigned char pkt[4] = {0, 0, 0, h.flags};
    EXPECT_EQ(GetPacketHeaderLength(pkt), h.length) << int(h.flags);
  }

  unsigned char guid[16];
  for (int i = 0; i < 16; ++i) guid[i] = static_cast<unsigned char>(0x30 + i);
  std::vector<unsigned char> hay(40, 0);
  EXPECT_EQ(FindGuid(guid, hay.data(), 40), -1);
  memcpy(hay.data() + 24, guid, 16);  // the very last place it fits
  EXPECT_EQ(FindGuid(guid, hay.data(), 40), 24);
  memcpy(hay.data() + 3, guid, 16);
  EXPECT_EQ(FindGuid(guid, hay.data(), 40), 3);
  EXPECT_EQ(FindGuid(guid, hay.data(), 10), -1);
}

TEST(ProcessUtil, RunAndKill) {
  vvtest::TempDir dir;
  EXPECT_EQ(RunProcess("exit 3"), 3);
  EXPECT_EQ(RunProcess("echo made > " + vvtest::ShellQuote(dir.file("out.txt"))), 0);
  EXPECT_EQ(vvtest::ReadFileText(dir.file("out.txt")), "made\n");
  EXPECT_EQ(RunProcess("cat"), 0);  // standard input is empty, so cat ends at once

  // A sleeper under a name of its own.
  std::string name = "vvsleep-" + std::to_string(getpid());
  std::string exe = dir.file(name);
  ASSERT_EQ(vvtest::Run("cp /bin/sleep " + vvtest::ShellQuote(exe)).status, 0);
  int status = 0;
  std::thread runner([&] { status = RunProcess("exec " + vvtest::ShellQuote(exe) + " 120"); });
  bool killed = vvtest::WaitFor([&] { return KillProcess(name); }, std::chrono::seconds(100));
  runner.join();
  EXPECT_TRUE(killed);
  EXPECT_EQ(status, -1);  // ended by a signal
  EXPECT_FALSE(KillProcess(name));
  EXPECT_FALSE(KillProcess("vv-no-such-program"));
}
