#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <functional>
#include <string>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "core/IoBuffer.h"
#include "core/PacketQueue.h"
#include "tests/tools/TestUtil.h"

namespace {
std::vector<uint8_t> Bytes(const IoBuffer& b) { return std::vector<uint8_t>(b.GetData(), b.GetData() + b.GetSize()); }
}  // namespace

TEST(IoBuffer, CapacityRules) {
  EXPECT_EQ(IoBuffer(0).GetCapacity(), 1024);
  EXPECT_EQ(IoBuffer(-5).GetCapacity(), 1024);
  IoBuffer a;
  for (int i = 0; i < 1025; ++i) a.WriteUInt8(static_cast<uint8_t>(i));
  EXPECT_EQ(a.GetCapacity(), 2048);
  EXPECT_EQ(a.GetData()[1024], 0);  // 1024 % 256
  IoBuffer b;
  std::vector<uint8_t> big(2000, 7);
  b.Write(big.data(), 2000);
  EXPECT_EQ(b.GetCapacity(), 2020);
  EXPECT_EQ(b.GetTypeName(), std::string("IoBuffer"));
}

TEST(IoBuffer, BigEndianWriters) {
  IoBuffer b;
  b.WriteUInt32(258);
  b.WriteDouble(1.0);
  b.WriteUInt16(258);
  std::vector<uint8_t> want = {0, 0, 1, 2, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 1, 2};
  EXPECT_EQ(Bytes(b), want);
  EXPECT_EQ(b.ReadUInt32(), 258u);
  EXPECT_DOUBLE_EQ(b.ReadDouble(), 1.0);
  EXPECT_EQ(b.ReadUInt16(), 258);
}

TEST(IoBuffer, Readers) {
  struct Case {
    std::vector<uint8_t> in;
    uint32_t want16;
  } cases[] = {{{0x00, 0x80}, 128}, {{0xFF, 0xFF}, 65535}};
  for (auto& c : cases) {
    IoBuffer b;
    b.Write(c.in.data(), static_cast<int>(c.in.size()));
    EXPECT_EQ(b.ReadUInt16(), c.want16);
  }
  IoBuffer u;
  const uint8_t fe[] = {0xFF, 0xFF, 0xFF, 0xFE};
  u.Write(fe, 4);
  EXPECT_EQ(u.ReadUInt32(), 4294967294u);

  IoBuffer s;
  const uint8_t str[] = {0x00, 0x03, 0x61, 0x00, 0x62};
  s.Write(str, 5);
  EXPECT_EQ(s.ReadString(), "a");
  EXPECT_EQ(s.GetReadPos(), 5);
  EXPECT_FALSE(s.HasRemaining());
}

TEST(IoBuffer, BigEndianMatchesPythonStruct) {
  // The same values through our writers and through struct.pack('>...'),
  // then Python's bytes back through our readers.
  const uint8_t u8[] = {0, 1, 0x7f, 0x80, 0xff};
  const uint16_t u16[] = {0, 1, 0x00ff, 0x0100, 0x8000, 0xffff};
  const uint32_t u32[] = {0, 1, 0xff, 0x10000, 0x80000000u, 0xfffffffeu, 0xffffffffu};
  const double dbl[] = {0.0, -0.0, 1.0, -2.5, 1e300, 5e-324, 1.0 / 3.0, 29.97};
  const char* texts[] = {"", "a", "onMetaData", "中文"};
  IoBuffer b;
  std::string args;
  for (uint8_t v : u8) {
    b.WriteUInt8(v);
    args += " B" + std::to_string(v);
  }
  for (uint16_t v : u16) {
    b.WriteUInt16(v);
    args += " H" + std::to_string(v);
  }
  for (uint32_t v : u32) {
    b.WriteUInt32(v);
    args += " I" + std::to_string(v);
  }
  char repr[64];
  for (double v : dbl) {
    b.WriteDouble(v);
    snprintf(repr, sizeof(repr), " d%.17g", v);
    args += repr;
  }
  for (const char* t : texts) {
    b.WriteUInt16(static_cast<uint16_t>(strlen(t)));
    b.WriteString(t);
    args += " s" + vvtest::ShellQuote(t);
  }
  vvtest::CommandResult r = vvtest::Run(
      "python3 -c " +
      vvtest::ShellQuote("import struct, sys\n"
                         "out = b''\n"
                         "for a in sys.argv[1:]:\n"
                         "    k, v = a[0], a[1:]\n"
                         "    if k == 's':\n"
                         "        e = v.encode()\n"
                         "        out += struct.pack('>H', len(e)) + e\n"
                         "    else:\n"
                         "        out += struct.pack('>' + k, float(v) if k == 'd' else int(v))\n"
                         "sys.stdout.write(out.hex())\n") +
      args);
  ASSERT_EQ(r.status, 0);
  std::string hex;
  for (uint8_t c : Bytes(b)) {
    snprintf(repr, sizeof(repr), "%02x", c);
    hex += repr;
  }
  EXPECT_EQ(hex, r.output);

  IoBuffer in;
  for (size_t i = 0; i + 1 < r.output.size(); i += 2)
    in.WriteUInt8(static_cast<uint8_t>(std::stoi(r.output.substr(i, 2), nullptr, 16)));
  for (uint8_t v : u8) EXPECT_EQ(in.ReadUInt8(), v);
  for (uint16_t v : u16) EXPECT_EQ(in.ReadUInt16(), v);
  for (uint32_t v : u32) EXPECT_EQ(in.ReadUInt32(), v);
  for (double v : dbl) {
    double got = in.ReadDouble();
    EXPECT_EQ(memcmp(&got, &v, sizeof(v)), 0) << v;  // bit for bit, -0.0 included
  }
  for (const char* t : texts) EXPECT_EQ(in.ReadString(), t);
  EXPECT_FALSE(in.HasRemaining());
}

TEST(IoBuffer, ReadsNeverPassTheWrittenSize) {
  IoBuffer s;
  const uint8_t str[] = {0x00, 0x09, 0x61, 0x62};  // length 9, only 2 bytes follow
  s.Write(str, 4);
  std::string out;
  EXPECT_FALSE(s.ReadString(out));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(s.GetReadPos(), 0);
  s.Skip(3);
  EXPECT_EQ(s.ReadUInt32(), 0u);
  EXPECT_EQ(s.GetReadPos(), 4);
  EXPECT_EQ(s.ReadDouble(), 0.0);
  EXPECT_EQ(s.PeekAt(100), 0);
}

TEST(IoBuffer, SkipCompactAppend) {
  IoBuffer b;
  b.WriteUInt32(1);
  b.Skip(100);
  EXPECT_EQ(b.GetReadPos(), b.GetSize());
  EXPECT_FALSE(b.HasRemaining());
  b.Compact();
  EXPECT_EQ(b.GetSize(), 0);
  EXPECT_EQ(b.GetCapacity(), 1024);

  IoBuffer c;
  for (int i = 0; i < 15; ++i) c.WriteUInt8(static_cast<uint8_t>(i));
  c.Skip(5);
  c.Compact();
  EXPECT_EQ(c.GetSize(), 10);
  EXPECT_EQ(c.GetReadPos(), 0);
  EXPECT_EQ(c.GetCapacity(), 20);
  EXPECT_EQ(c.ReadUInt8(), 5);

  IoBuffer empty, target;
  target.WriteUInt8(1);
  target.AppendRemaining(empty);
  EXPECT_EQ(target.GetSize(), 1);
  IoBuffer src;
  src.WriteUInt16(0xABCD);
  target.AppendRemaining(src);
  EXPECT_EQ(target.GetSize(), 3);
  EXPECT_FALSE(src.HasRemaining());
}

TEST(IoBuffer, FrameCarriersHoldNoBlock) {
  // The picture belongs to the encoder thread; the carrier only points at it.
  alignas(8) unsigned char picture[64] = {};
  AVFrame* frame = reinterpret_cast<AVFrame*>(picture);
  std::unique_ptr<IoBuffer> video(new IoBuffer(frame));
  std::unique_ptr<IoBuffer> audio(IoBuffer::AudioFrameCarrier(frame));
  for (IoBuffer* c : {video.get(), audio.get()}) {
    EXPECT_EQ(c->GetData(), nullptr);
    EXPECT_EQ(c->GetSize(), 0);
    EXPECT_EQ(c->GetReadPos(), 0);
    EXPECT_EQ(c->GetCapacity(), 0);
    EXPECT_FALSE(c->HasRemaining());
  }
  EXPECT_EQ(video->GetVideoFrame(), frame);
  EXPECT_EQ(video->GetAudioFrame(), nullptr);
  EXPECT_EQ(audio->GetAudioFrame(), frame);
  EXPECT_EQ(audio->GetVideoFrame(), nullptr);
  video.reset();  // releases the object only: the picture stays untouched
  audio.reset();
  EXPECT_EQ(picture[0], 0);

  IoBuffer fresh;
  EXPECT_EQ(fresh.GetExtraData(), nullptr);
  EXPECT_EQ(fresh.GetExtraDataSize(), 0);
  EXPECT_EQ(fresh.GetVideoFrame(), nullptr);
}

TEST(IoBuffer, PositionsAndBlockOperations) {
  IoBuffer b(4);
  b.WriteString(std::string("ab\0c", 4));  // no length, no terminator, zero byte kept
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{'a', 'b', 0, 'c'}));
  EXPECT_EQ(b.GetCapacity(), 4);
  b.WriteUInt8('d');  // one byte past a full block doubles it
  EXPECT_EQ(b.GetCapacity(), 8);

  EXPECT_EQ(b.ReadUInt8(), 'a');
  EXPECT_EQ(b.PeekAt(0), 'b');  // relative to the read position, which stays
  EXPECT_EQ(b.PeekAt(2), 'c');
  EXPECT_EQ(b.GetReadPos(), 1);
  b.SetByteAt(4, 'D');
  EXPECT_EQ(b.GetSize(), 5);
  EXPECT_EQ(b.GetReadPos(), 1);
  EXPECT_EQ(b.PeekAt(3), 'D');
  b.SetSize(3);
  EXPECT_EQ(b.GetSize(), 3);
  EXPECT_EQ(b.GetRemaining(), 2);
  EXPECT_EQ(b.GetLength(), 3);

  const uint8_t* block = b.GetData();
  b.ResetPositions();
  EXPECT_EQ(b.GetData(), block);
  EXPECT_EQ(b.GetCapacity(), 8);
  EXPECT_EQ(b.GetSize(), 0);
  EXPECT_EQ(b.GetReadPos(), 0);

  // Compacting with nothing unread keeps the block.
  b.WriteUInt16(7);
  b.Skip(2);
  b.Compact();
  EXPECT_EQ(b.GetData(), block);
  EXPECT_EQ(b.GetCapacity(), 8);
  EXPECT_EQ(b.GetSize(), 0);

  b.WriteUInt32(1);
  b.Clear();
  EXPECT_EQ(b.GetCapacity(), 1024);
  EXPECT_EQ(b.GetSize(), 0);
  EXPECT_EQ(b.GetReadPos(), 0);

  // A string of length 0 is empty text and consumes its two length bytes.
  const uint8_t empty[] = {0x00, 0x00, 0x41};
  b.Write(empty, 3);
  EXPECT_EQ(b.ReadString(), "");
  EXPECT_EQ(b.GetReadPos(), 2);
  EXPECT_EQ(b.ReadUInt8(), 0x41);
}

TEST(IoBuffer, GrowthThatWouldOverflowIsRefused) {
  IoBuffer b(16);
  b.WriteUInt32(0x01020304);
  const uint8_t one = 9;
  // Sizes whose block would pass the 32-bit capacity: refused before any
  // byte is read from the caller or allocated.
  for (int n : {INT_MAX, INT_MAX - 4, INT_MAX - 20}) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(b.Write(&one, n));
    EXPECT_EQ(b.GetSize(), 4);
    EXPECT_EQ(b.GetCapacity(), 16);
  }
  EXPECT_FALSE(b.Write(&one, -1));
  EXPECT_TRUE(b.Write(&one, 0));
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(IoBuffer, AppendingItsOwnUnreadBytesSurvivesGrowth) {
  IoBuffer b(8);
  for (uint8_t i = 1; i <= 8; ++i) b.WriteUInt8(i);
  b.Skip(2);
  EXPECT_TRUE(b.AppendRemaining(b));  // the block must grow under the copy
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(b.GetReadPos(), 8);
  EXPECT_EQ(b.GetCapacity(), 8 + 6 + 20);
}

TEST(IoBuffer, CloneCopiesFieldsAndSharesExtradata) {
  IoBuffer a;
  a.WriteUInt32(0xDEADBEEF);
  a.SetPts(11);
  a.SetDts(10);
  a.SetTimestamp(1LL << 40);
  a.SetType(9);
  a.SetFlags(1);
  const uint8_t ed[] = {1, 2, 3};
  a.SetExtraData(ed, 3);
  std::unique_ptr<IoBuffer> c(CloneIoBuffer(&a));
  EXPECT_EQ(c->GetCapacity(), 4);
  EXPECT_EQ(c->ReadUInt32(), 0xDEADBEEFu);
  EXPECT_EQ(c->GetPts(), 11);
  EXPECT_EQ(c->GetDts(), 10);
  EXPECT_EQ(c->GetTimestamp(), 1LL << 40);
  EXPECT_EQ(c->GetType(), 9);
  EXPECT_EQ(c->GetFlags(), 1);
  EXPECT_EQ(c->GetExtraData(), a.GetExtraData());
  EXPECT_EQ(c->GetExtraDataSize(), 3);

  IoBuffer audio(0);
  audio.SetType(2);
  audio.SetDuration(1024);
  audio.SetStreamIndex(1);
  audio.SetCodecId(86018);
  audio.SetChannels(2);
  audio.SetSampleRate(44100);
  audio.SetCompositionTime(40);
  std::unique_ptr<IoBuffer> ac(CloneIoBuffer(&audio));
  EXPECT_EQ(ac->GetCapacity(), 1024);  // an empty packet: the capacity rule's 1024
  EXPECT_EQ(ac->GetSize(), 0);
  EXPECT_EQ(ac->GetType(), 2);
  EXPECT_EQ(ac->GetDuration(), 1024);
  EXPECT_EQ(ac->GetStreamIndex(), 1);
  EXPECT_EQ(ac->GetCodecId(), 86018);
  EXPECT_EQ(ac->GetChannels(), 2);
  EXPECT_EQ(ac->GetSampleRate(), 44100);
  EXPECT_EQ(ac->GetCompositionTime(), 40);
  EXPECT_EQ(ac->GetExtraData(), nullptr);
  EXPECT_EQ(ac->GetExtraDataSize(), 0);
}

// A copy shares its source's bytes until one side writes; each keeps its own
// fields. Every operation that changes bytes leaves the other side as it
// was, whichever side it is applied to.
TEST(IoBuffer, CopiesShareBytesUntilEitherSideWrites) {
  using Bytes8 = std::vector<uint8_t>;
  struct Case {
    const char* name;
    std::function<void(IoBuffer&)> change;
    Bytes8 changed;  // the changed side's bytes afterwards
  } cases[] = {
      {"one byte appended", [](IoBuffer& b) { b.WriteUInt8(9); }, {1, 2, 3, 4, 9}},
      {"bytes appended", [](IoBuffer& b) { const uint8_t x[] = {7, 8}; b.Write(x, 2); }, {1, 2, 3, 4, 7, 8}},
      {"text appended", [](IoBuffer& b) { b.WriteString("z"); }, {1, 2, 3, 4, 'z'}},
      {"a byte overwritten", [](IoBuffer& b) { b.SetByteAt(0, 0xEE); }, {0xEE, 2, 3, 4}},
      {"written through the data pointer", [](IoBuffer& b) { b.GetData()[1] = 0xDD; }, {1, 0xDD, 3, 4}},
      {"cut and rewritten", [](IoBuffer& b) { b.SetSize(2); b.WriteUInt16(0x0506); }, {1, 2, 5, 6}},
      {"emptied and refilled", [](IoBuffer& b) { b.ResetPositions(); b.WriteUInt8(5); }, {5}},
      {"cleared", [](IoBuffer& b) { b.Clear(); b.WriteUInt8(6); }, {6}},
      {"compacted", [](IoBuffer& b) { b.Skip(2); b.Compact(); b.WriteUInt8(7); }, {3, 4, 7}},
      {"appended from another", [](IoBuffer& b) { IoBuffer o; o.WriteUInt8(8); b.AppendRemaining(o); }, {1, 2, 3, 4, 8}},
  };
  for (bool changeSource : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (changeSource ? ", on the source" : ", on the copy"));
      auto src = std::make_unique<IoBuffer>(64);
      for (uint8_t v = 1; v <= 4; ++v) src->WriteUInt8(v);
      src->SetTimestamp(40);
      std::unique_ptr<IoBuffer> copy(CloneIoBuffer(src.get()));
      std::unique_ptr<IoBuffer> sibling(CloneIoBuffer(src.get()));
      const IoBuffer& csrc = *src;
      const IoBuffer& ccopy = *copy;
      EXPECT_EQ(ccopy.GetData(), csrc.GetData());  // no bytes copied
      EXPECT_TRUE(src->IsShared());
      // An output's own time never shows in its siblings.
      copy->SetTimestamp(1000);
      EXPECT_EQ(src->GetTimestamp(), 40);
      EXPECT_EQ(sibling->GetTimestamp(), 40);
      IoBuffer& changed = changeSource ? *src : *copy;
      IoBuffer& other = changeSource ? *copy : *src;
      c.change(changed);
      EXPECT_EQ(Bytes(changed), c.changed);
      EXPECT_EQ(Bytes(other), (Bytes8{1, 2, 3, 4}));
      EXPECT_EQ(Bytes(*sibling), (Bytes8{1, 2, 3, 4}));
      EXPECT_EQ(other.GetReadPos(), 0);
      // The last holder of the bytes frees them; the others still read them.
      src.reset();
      EXPECT_EQ(Bytes(*sibling), (Bytes8{1, 2, 3, 4}));
      copy.reset();
      EXPECT_FALSE(sibling->IsShared());
      sibling->WriteUInt8(5);  // sole owner: written in place
      EXPECT_EQ(Bytes(*sibling), (Bytes8{1, 2, 3, 4, 5}));
    }
  }
}

// Copies of one packet handed to consumers on other threads, each of which
// writes its own (as a sender stamping its own time or bytes would), while
// the source is freed: every consumer sees the original bytes and its own
// changes only.
TEST(IoBuffer, CopiesOnOtherThreadsNeverSeeEachOthersWrites) {
  for (int round = 0; round < 50; ++round) {
    IoBuffer* src = new IoBuffer(4096);
    for (int i = 0; i < 4000; ++i) src->WriteUInt8(static_cast<uint8_t>(i));
    std::vector<std::unique_ptr<IoBuffer>> copies;
    for (int k = 0; k < 6; ++k) copies.emplace_back(CloneIoBuffer(src));
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < 6; ++k) {
      threads.emplace_back([&, k] {
        IoBuffer& c = *copies[k];
        const IoBuffer& cc = c;
        for (int i = 0; i < 4000; ++i)
          if (cc.GetData()[i] != static_cast<uint8_t>(i)) ++bad;
        if (k % 2) {
          c.SetByteAt(k, 0xFF);
          c.SetTimestamp(k);
          if (cc.GetData()[k] != 0xFF || c.GetTimestamp() != k) ++bad;
        }
        copies[k].reset();
      });
    }
    delete src;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(bad.load(), 0);
  }
}

TEST(PacketQueue, FifoAndOwnership) {
  static int deleted = 0;
  struct Counted : IoBuffer {
    ~Counted() override { ++deleted; }
  };
  PacketQueue q;
  EXPECT_EQ(q.Pop(), nullptr);
  EXPECT_EQ(q.Front(), nullptr);
  q.Push(nullptr);
  EXPECT_EQ(q.Size(), 0);
  IoBuffer* p[3] = {new Counted, new Counted, new Counted};
  q.Push(p[0]);
  EXPECT_EQ(q.Front(), p[0]);
  EXPECT_EQ(q.Size(), 1);
  q.Push(p[1]);
  q.Push(p[2]);
  for (auto* want : p) {
    IoBuffer* got = q.Pop();
    EXPECT_EQ(got, want);
    delete got;
  }
  deleted = 0;
  q.Push(new Counted);
  q.Push(new Counted);
  q.Push(new Counted);
  q.Clear();
  EXPECT_EQ(deleted, 3);
  EXPECT_EQ(q.Size(), 0);
  {
    PacketQueue q2;
    q2.Push(new Counted);
    q2.Push(new Counted);
  }
  EXPECT_EQ(deleted, 5);
}

TEST(PacketQueue, ConcurrentProducersAndConsumer) {
  PacketQueue q;
  constexpr int kPer = 5000;
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t)
    producers.emplace_back([&q, t] {
      for (int i = 0; i < kPer; ++i) {
        IoBuffer* b = new IoBuffer(4);
        b->SetStreamIndex(t);
        b->SetTimestamp(i);
        q.Push(b);
      }
    });
  int got = 0;
  int64_t last[4] = {-1, -1, -1, -1};
  while (got < 4 * kPer) {
    (void)q.Size();
    IoBuffer* b = q.Pop();
    if (!b) continue;
    EXPECT_GT(b->GetTimestamp(), last[b->GetStreamIndex()]);  // per-producer order kept
    last[b->GetStreamIndex()] = b->GetTimestamp();
    delete b;
    ++got;
  }
  for (auto& t : producers) t.join();
  EXPECT_EQ(q.Size(), 0);
}
