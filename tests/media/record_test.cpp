// Record files: naming, folders, and what FFmpeg's own tools read back.
#include <gtest/gtest.h>

#include <cmath>

#include "media/RecordFile.h"
#include "tests/media/RecordMedia.h"
#include "tests/tools/TestUtil.h"

using vvtest::ProbeMedia;
using vvtest::SourceMedia;
using vvtest::TempDir;

namespace {

SourceMedia& Media() {
  static TempDir dir("vv-recmedia");
  static SourceMedia media;
  static bool made = vvtest::MakeSourceMedia(dir.path(), 3, media);
  EXPECT_TRUE(made);
  return media;
}

}  // namespace

TEST(RecordNaming, PathsFromTaskSettings) {
  struct Case {
    std::string name;
    int fileType;
    std::string folder;
    int direMod;
    std::string expected;
  } cases[] = {
      {"cam1", 2, "D:\\rec", 0, "D:/rec/2015/3/5/cam1_2015-03-05-08-07-09.mp4"},
      {"", 2, "D:\\rec", 1, "D:/rec/2015-03-05-08-07-09.mp4"},
      {"cam1", 0, "/srv/rec/", 1, "/srv/rec/cam1_2015-03-05-08-07-09.asf"},
      {"cam1", 1, "/srv/rec", 0, "/srv/rec/2015/3/5/cam1_2015-03-05-08-07-09.flv"},
      {"cam1", 3, "/srv/rec", 1, "/srv/rec/"},  // unknown type: no file name
  };
  LocalTime t = RecordClock::Make(2015, 3, 5, 8, 7, 9);
  for (const Case& c : cases) {
    EXPECT_EQ(RecordFolder(c.folder, c.direMod, t) + RecordFileName(c.name, c.fileType, t), c.expected)
        << c.name << " " << c.fileType << " " << c.folder;
  }
}

TEST(RecordNaming, SecondFileInOneSecondGetsItsOwnName) {
  TempDir dir;
  std::string path = dir.file("cam_2015-03-05-08-07-09.flv");
  EXPECT_EQ(UniqueRecordPath(path), path);
  vvtest::Run("touch " + vvtest::ShellQuote(path));
  EXPECT_EQ(UniqueRecordPath(path), dir.file("cam_2015-03-05-08-07-09_1.flv"));
  vvtest::Run("touch " + vvtest::ShellQuote(dir.file("cam_2015-03-05-08-07-09_1.flv")));
  EXPECT_EQ(UniqueRecordPath(path), dir.file("cam_2015-03-05-08-07-09_2.flv"));
}

// Each container, written from the packets a source hands on, reads back
// with H.264 and AAC, the source's duration and no decode error; ADTS
// headers in front of AAC are left out, and a file continued across an input
// restart keeps going forward in time.
TEST(RecordFileTest, ContainersReadBackClean) {
  SourceMedia& media = Media();
  ASSERT_FALSE(media.packets.empty());
  struct Case {
    int fileType;
    bool adts;
    int runs;  // input played this many times into one file
  } cases[] = {{0, false, 1}, {1, false, 1}, {2, false, 1}, {2, true, 1}, {1, true, 1}, {2, false, 2}, {1, false, 2},
               {0, false, 2}};
  TempDir dir;
  int n = 0;
  for (const Case& c : cases) {
    std::string path = dir.file("r" + std::to_string(n++) + RecordFileExtension(c.fileType));
    RecordFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, media.video, media.videoTimeBase, media.audio, media.audioTimeBase, &error)) << error;
    for (int run = 0; run < c.runs; ++run) {
      if (run > 0) file.MarkDiscontinuity();
      for (auto& p : media.packets) {
        if (c.adts && p->GetType() == 2) {
          ASSERT_TRUE(file.WritePacket(*vvtest::WithAdts(*p, media.audio), &error)) << error;
        } else {
          ASSERT_TRUE(file.WritePacket(*p, &error)) << error;
        }
      }
    }
    ASSERT_TRUE(file.Close(&error)) << error;
    vvtest::ProbeResult r = ProbeMedia(path);
    SCOPED_TRACE(path);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.videoCodec, "h264");
    EXPECT_EQ(r.audioCodec, "aac");
    EXPECT_NEAR(r.duration, media.seconds * c.runs, 1.0);
    EXPECT_EQ(r.decodeErrors, "");
  }
}

TEST(RecordFileTest, UncreatableFileGivesTheReason) {
  SourceMedia& media = Media();
  TempDir dir;
  vvtest::Run("touch " + vvtest::ShellQuote(dir.file("plain")));
  RecordFile file;
  std::string error;
  EXPECT_FALSE(file.Open(dir.file("plain/x.mp4"), media.video, media.videoTimeBase, media.audio, media.audioTimeBase,
                         &error));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_NE(error.find("plain/x.mp4"), std::string::npos) << error;
}
