#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "media/SlicePlayback.h"
#include "tests/media/FlvTestFiles.h"
#include "tests/tools/TestUtil.h"

using flvtest::AacBody;
using flvtest::AvcBody;
using flvtest::BuildFlv;
using flvtest::TagSpec;

namespace {

struct Message {
  int type;
  int64_t timestamp;
  std::vector<uint8_t> bytes;
};

std::vector<Message> PlayAll(const std::string& path, bool synthesize) {
  PlayItem item;
  item.SetKind(1);
  item.SetName(path);
  item.SetSynthesizeMetaData(synthesize);
  MessageInput input(&item);
  std::vector<Message> out;
  while (std::unique_ptr<IoBuffer> m{input.GetNextMessage()}) {
    out.push_back({m->GetType(), m->GetTimestamp(), std::vector<uint8_t>(m->GetData(), m->GetData() + m->GetSize())});
    if (out.size() > 100000) break;
  }
  return out;
}

const std::vector<uint8_t> kScript = {0x02, 0x00, 0x0A, 'o', 'n', 'M', 'e', 't', 'a', 'D', 'a', 't', 'a', 0x05};

TEST(SlicePlayback, MessagesCarryEachTagInFileOrder) {
  vvtest::TempDir dir("vv-slice");
  std::vector<TagSpec> tags = {{18, 0, kScript},
                               {9, 0, AvcBody(true, 0, 0, 12)},
                               {8, 0, AacBody(0, 2)},
                               {9, 40, AvcBody(true, 1, 0, 100)},
                               {8, 0x01000005u, AacBody(1, 30)}};
  std::vector<uint8_t> file = BuildFlv(tags);
  for (const char* name : {"s.flv", "S.FLV", "slice.Flv"}) {
    SCOPED_TRACE(name);
    std::string path = dir.file(name);
    ASSERT_TRUE(flvtest::WriteFileBytes(path, file));
    std::vector<Message> plain = PlayAll(path, false);
    ASSERT_EQ(plain.size(), tags.size());
    for (size_t i = 0; i < tags.size(); ++i) {
      EXPECT_EQ(plain[i].type, tags[i].type);
      EXPECT_EQ(plain[i].timestamp, static_cast<int64_t>(tags[i].timestamp));
      EXPECT_EQ(plain[i].bytes, tags[i].body);
    }
    // With synthesis the first message is the made-up metadata and the
    // file's own script tag is gone.
    std::vector<Message> synth = PlayAll(path, true);
    ASSERT_EQ(synth.size(), tags.size());
    EXPECT_EQ(synth[0].type, 18);
    EXPECT_EQ(synth[0].timestamp, 0);
    EXPECT_NE(synth[0].bytes, kScript);
    for (size_t i = 1; i < tags.size(); ++i) EXPECT_EQ(synth[i].bytes, tags[i].body);
  }
}

TEST(SlicePlayback, NamesWithoutFlvEndingAndMissingFilesGiveNothing) {
  vvtest::TempDir dir("vv-slice");
  std::vector<uint8_t> file = BuildFlv({{9, 0, AvcBody(true, 1, 0, 10)}});
  for (const char* name : {"clip.mp4", "flv", "clip.flv.bak", ""}) {
    SCOPED_TRACE(name);
    std::string path = dir.file(name);
    if (*name) {
      ASSERT_TRUE(flvtest::WriteFileBytes(path, file));
    }
    EXPECT_TRUE(PlayAll(*name ? path : std::string(), false).empty());
  }
  EXPECT_TRUE(PlayAll(dir.file("gone.flv"), true).empty());
}

TEST(SlicePlayback, UnknownTagTypeEndsPlaybackAndStopEndsInput) {
  vvtest::TempDir dir("vv-slice");
  std::string path = dir.file("odd.flv");
  ASSERT_TRUE(flvtest::WriteFileBytes(
      path, BuildFlv({{9, 0, AvcBody(true, 1, 0, 10)}, {15, 10, {1, 2, 3}}, {9, 20, AvcBody(false, 1, 0, 10)}})));
  std::vector<Message> got = PlayAll(path, false);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].type, 9);

  PlayItem item;
  item.SetName(path);
  item.SetSynthesizeMetaData(false);
  MessageInput input(&item);
  std::unique_ptr<IoBuffer> first(input.GetNextMessage());
  ASSERT_NE(first, nullptr);
  input.Stop();
  EXPECT_EQ(input.GetNextMessage(), nullptr);
}

}  // namespace
