#include <gtest/gtest.h>

#include "console/logic/SourceEditors.h"
#include "core/DatabaseManager.h"
#include "tests/console/logic/EditorFixture.h"
#include "tests/tools/FakeCaptureDevices.h"

using vvtest::RecordingPrompt;

namespace {

CDatabaseManager& Db() { return CDatabaseManager::Instance(); }

class UrlSourceTest : public vvtest::EditorTest, public testing::WithParamInterface<LiveSourceType> {
 protected:
  int Add(const std::string& alias, const std::string& url) {
    UrlSourceEditor e(GetParam());
    e.Load(false, 0);
    e.alias = alias;
    e.url = url;
    RecordingPrompt p;
    EXPECT_TRUE(e.Submit(p)) << p.Last();
    return e.sourceId;
  }
  bool Read(int id, UrlSourceInfo& row) {
    return GetParam() == LIVE_TYPE_NET ? Db().GetNetSource(row, id) : Db().GetFileSource(row, id);
  }
  const char* Table() const { return GetParam() == LIVE_TYPE_NET ? "NetSource_info" : "FileSource_info"; }
};

}  // namespace

// The checks in their order, each refusal with its message and nothing stored.
TEST_P(UrlSourceTest, ChecksInOrder) {
  Add("甲", "udp://@234.4.5.6:9000");
  struct Case {
    const char* alias;
    const char* url;
    const char* message;
  } cases[] = {
      {"", "", "请填写别名"},
      {"", "rtsp://192.168.2.2:554", "请填写别名"},
      {"乙", "", "请输入源地址"},
      {"乙", "udp://@234.4.5.6:9000", "该地址已经存在"},
  };
  for (const Case& c : cases) {
    UrlSourceEditor e(GetParam());
    e.Load(false, 0);
    e.alias = c.alias;
    e.url = c.url;
    RecordingPrompt p;
    EXPECT_FALSE(e.Submit(p)) << c.alias << " " << c.url;
    EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.alias << " " << c.url;
  }
  std::deque<UrlSourceInfo*> all;
  GetParam() == LIVE_TYPE_NET ? Db().GetAllNetSources(all) : Db().GetAllFileSources(all);
  EXPECT_EQ(all.size(), 1u);
  for (auto* r : all) delete r;
}

// Two rows may share an alias; an edit that keeps its address passes the
// duplicate check and keeps the row's state and live address; the new row's
// id is registered with its type.
TEST_P(UrlSourceTest, AddAndEdit) {
  int a = Add("同名", "rtmp://192.168.2.2/live/live1");
  int b = Add("同名", "rtmp://192.168.2.2/live/live2");
  ASSERT_NE(a, b);
  EXPECT_EQ(Db().GetLiveType(b), GetParam());
  Sql(std::string("update ") + Table() + " set status=1, live_url='rtmp://127.0.0.1/live/x' where id=" +
      std::to_string(b));

  UrlSourceEditor e(GetParam());
  e.Load(true, b);
  EXPECT_EQ(e.alias, "同名");
  EXPECT_EQ(e.url, "rtmp://192.168.2.2/live/live2");
  e.alias = "改名";
  RecordingPrompt p;
  ASSERT_TRUE(e.Submit(p)) << p.Last();
  UrlSourceInfo row;
  ASSERT_TRUE(Read(b, row));
  EXPECT_EQ(row.alias, "改名");
  EXPECT_EQ(row.status, 1);
  EXPECT_EQ(row.live_url, "rtmp://127.0.0.1/live/x");

  UrlSourceEditor clash(GetParam());
  clash.Load(true, b);
  clash.url = "rtmp://192.168.2.2/live/live1";
  EXPECT_FALSE(clash.Submit(p));
  EXPECT_EQ(p.Last(), "该地址已经存在");

  // A row that cannot be read leaves the fields empty.
  UrlSourceEditor missing(GetParam());
  missing.Load(true, 99);
  EXPECT_EQ(missing.alias, "");
  EXPECT_EQ(missing.url, "");
}

// Sub-streams hang on their source's url: the url cannot change under them.
TEST_P(UrlSourceTest, UrlChangeRefusedWhileSubStreamsUseIt) {
  int id = Add("源", "mms://192.168.2.2/live2");
  SubStreamInfo sub;
  sub.alias = "子";
  sub.url = "mms://192.168.2.2/live2";
  int subId = 0;
  ASSERT_TRUE(Db().InsertSubStream(sub, subId));
  UrlSourceEditor e(GetParam());
  e.Load(true, id);
  e.url = "mms://192.168.2.2/live3";
  RecordingPrompt p;
  EXPECT_FALSE(e.Submit(p));
  EXPECT_EQ(p.messages, std::vector<std::string>{vvforms::kUrlHasSubStreams});
  UrlSourceInfo row;
  ASSERT_TRUE(Read(id, row));
  EXPECT_EQ(row.url, "mms://192.168.2.2/live2");
  // The alias alone may still change.
  e.url = "mms://192.168.2.2/live2";
  e.alias = "源2";
  EXPECT_TRUE(e.Submit(p));
}

// A write the database refuses keeps the dialog open with a message.
TEST_P(UrlSourceTest, FailedWriteIsReported) {
  int id = Add("源", "http://192.168.2.2/a.flv");
  Sql(std::string("create trigger no_insert before insert on ") + Table() +
      " begin select raise(abort, 'refused'); end");
  Sql(std::string("create trigger no_update before update on ") + Table() +
      " begin select raise(abort, 'refused'); end");
  UrlSourceEditor add(GetParam());
  add.Load(false, 0);
  add.alias = "新";
  add.url = "http://192.168.2.2/b.flv";
  RecordingPrompt p;
  EXPECT_FALSE(add.Submit(p));
  EXPECT_EQ(p.Last(), vvforms::kDatabaseWriteFailed);
  EXPECT_EQ(add.sourceId, 0);
  UrlSourceEditor edit(GetParam());
  edit.Load(true, id);
  edit.alias = "改";
  EXPECT_FALSE(edit.Submit(p));
  EXPECT_EQ(p.messages.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, UrlSourceTest, testing::Values(LIVE_TYPE_NET, LIVE_TYPE_FILE),
                         [](const testing::TestParamInfo<LiveSourceType>& i) {
                           return i.param == LIVE_TYPE_NET ? std::string("Net") : std::string("File");
                         });

// ------------------------------------------------------------ sub-streams

class SubStreamEditorTest : public vvtest::EditorTest {};

TEST_F(SubStreamEditorTest, Checks) {
  struct Case {
    const char* alias;
    bool video, audio;
    int bitRate, frameRate, gop;
    const char* message;
  } cases[] = {
      {"", true, true, 300, 25, 50, "请填写别名"},
      {"子", false, false, 300, 25, 50, "视频和音频至少选其一"},
      {"子", true, false, 0, 25, 50, "请输入一个介于 1 和 2147483647 之间的整数。"},
      {"子", true, false, 300, -1, 50, "请输入一个介于 1 和 2147483647 之间的整数。"},
      {"子", true, false, 300, 25, 0, "请输入一个介于 1 和 2147483647 之间的整数。"},
  };
  for (const Case& c : cases) {
    SubStreamEditor e;
    e.Load(false, 0, "udp://@234.4.5.6:9000");
    e.alias = c.alias;
    e.useVideo = c.video;
    e.useAudio = c.audio;
    e.bitRate = c.bitRate;
    e.frameRate = c.frameRate;
    e.gop = c.gop;
    RecordingPrompt p;
    EXPECT_FALSE(e.Submit(p));
    EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.alias;
  }
}

// Audio only keeps the video columns at their defaults; "1080x720" is 1080 by 720.
TEST_F(SubStreamEditorTest, StoredRows) {
  SubStreamEditor audio;
  audio.Load(false, 0, "rtsp://192.168.2.2:554");
  EXPECT_EQ(audio.subStreamId, -1);
  audio.alias = "音频";
  audio.useAudio = true;
  audio.sampleRates.selected = 1;
  audio.channels = 0;
  RecordingPrompt p;
  ASSERT_TRUE(audio.Submit(p)) << p.Last();
  SubStreamInfo row;
  ASSERT_TRUE(Db().GetSubStream(row, audio.subStreamId));
  EXPECT_EQ(Db().GetLiveType(audio.subStreamId), LIVE_TYPE_SUBSTREAM);
  EXPECT_FALSE(row.useVideo);
  EXPECT_EQ(row.vFormat, "");
  EXPECT_EQ(row.width, 0);
  EXPECT_EQ(row.vBitRate, 0);
  EXPECT_TRUE(row.useAudio);
  EXPECT_EQ(row.aFormat, "AAC");
  EXPECT_EQ(row.sampleRate, "44100");
  EXPECT_EQ(row.aBitRate, 64);
  EXPECT_EQ(row.aChannel, 0);
  EXPECT_EQ(row.url, "rtsp://192.168.2.2:554");

  SubStreamEditor video;
  video.Load(false, 0, "rtsp://192.168.2.2:554");
  video.alias = "视频";
  video.useVideo = true;
  video.sizes.selected = 1;
  ASSERT_TRUE(video.Submit(p));
  ASSERT_TRUE(Db().GetSubStream(row, video.subStreamId));
  EXPECT_EQ(row.width, 1080);
  EXPECT_EQ(row.height, 720);
  EXPECT_EQ(row.vFormat, "H264");
  EXPECT_EQ(row.vColor, "YUVJ420P");
  EXPECT_EQ(row.vBitRate, 300);
  EXPECT_EQ(row.frameRate, 25);
  EXPECT_EQ(row.gop, 50);
  EXPECT_FALSE(row.useAudio);
  EXPECT_EQ(row.aBitRate, 0);
}

// Stored texts are matched after trimming; an audio bit rate off the list
// opens with 64; editing a running sub-stream keeps its state and live url.
TEST_F(SubStreamEditorTest, EditReselectsAndKeepsRunningState) {
  Sql("insert into SubStream_info (alias,url,useVideo,vFormat,vColor,width,height,frameRate,gop,vBitRate,"
      "useAudio,aFormat,sampleRate,aBitRate,aChannel,status,live_url) values ('旧','udp://@1.2.3.4:5',1,"
      "'  H264  ',' YUVJ420P',400,300,15,30,800,1,'AAC ',' 32000',80,1,1,'rtmp://127.0.0.1/live/s')");
  int id = 300000001;
  SubStreamEditor e;
  e.Load(true, id, "");
  EXPECT_EQ(e.alias, "旧");
  EXPECT_EQ(e.videoCodecs.selected, 0);
  EXPECT_EQ(e.sizes.SelectedText(), "400x300");
  EXPECT_EQ(e.sampleRates.SelectedText(), "32000");
  EXPECT_EQ(e.audioBitRates.SelectedText(), "64");
  EXPECT_EQ(e.bitRate, 800);
  EXPECT_EQ(e.frameRate, 15);
  EXPECT_EQ(e.gop, 30);
  EXPECT_TRUE(e.useVideo);
  EXPECT_TRUE(e.useAudio);
  EXPECT_EQ(e.sourceUrl, "udp://@1.2.3.4:5");
  RecordingPrompt p;
  ASSERT_TRUE(e.Submit(p)) << p.Last();
  SubStreamInfo row;
  ASSERT_TRUE(Db().GetSubStream(row, id));
  EXPECT_EQ(row.aBitRate, 64);
  EXPECT_EQ(row.vFormat, "H264");
  EXPECT_EQ(row.status, 1);
  EXPECT_EQ(row.live_url, "rtmp://127.0.0.1/live/s");
  EXPECT_EQ(row.url, "udp://@1.2.3.4:5");
}

// --------------------------------------------------------- device sources

namespace {

class DeviceEditorTest : public vvtest::EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    asound_ = std::make_unique<vvtest::TempDir>("vvasound");
    vvtest::WriteAsound(asound_->path(), {{0, "PCH", "HDA Intel PCH", true},
                                          {1, "C920", "HD Pro Webcam C920", true},
                                          {2, "C920_1", "HD Pro Webcam C920", true}});
    mixer_.cards[0] = {{"Master", false}, {"Capture", true}, {"Front Mic Boost", true}, {"Mic", true}};
    mixer_.cards[1] = {{"Mic", true}};
    // card 2's mixer cannot be opened
    audio_ = std::make_unique<CAudioDeviceList>(asound_->path(), &mixer_);
    vvtest::FakeVideoNode cam;
    cam.path = "/dev/video0";
    cam.card = "HD Pro Webcam C920";
    vvtest::FakeVideoNode::Format f;
    f.discrete = {{640, 480}, {1920, 1080}, {1280, 720}, {640, 480}};
    cam.formats = {f};
    vvtest::FakeVideoNode meta = cam;
    meta.path = "/dev/video1";
    meta.caps = V4L2_CAP_META_CAPTURE;
    vvtest::FakeVideoNode second = cam;
    second.path = "/dev/video2";
    second.formats[0].discrete = {{320, 240}};
    video_.nodes = {cam, meta, second};
  }
  CaptureDeviceSources Sources() { return {&video_, audio_.get()}; }

  vvtest::FakeV4l2Io video_;
  vvtest::FakeMixerIo mixer_;
  std::unique_ptr<vvtest::TempDir> asound_;
  std::unique_ptr<CAudioDeviceList> audio_;
};

}  // namespace

TEST_F(DeviceEditorTest, ListsDevicesSizesAndLines) {
  DeviceSourceEditor e(Sources());
  e.Load(false, 0);
  EXPECT_EQ(e.videoDevices.items,
            (std::vector<std::string>{"1. HD Pro Webcam C920", "2. HD Pro Webcam C920 #2"}));
  EXPECT_EQ(e.videoDevices.selected, -1);
  EXPECT_EQ(e.audioDevices.items,
            (std::vector<std::string>{"HDA Intel PCH", "HD Pro Webcam C920", "HD Pro Webcam C920 #2"}));
  EXPECT_FALSE(e.useVideo);
  EXPECT_FALSE(e.useAudio);
  EXPECT_EQ(e.sampleRates.SelectedText(), "48000");
  EXPECT_EQ(e.audioBitRates.SelectedText(), "64");
  EXPECT_EQ(e.volume, 50);
  EXPECT_EQ(e.channels, 1);
  EXPECT_EQ(e.gop, 50);
  EXPECT_EQ(e.bitRate, 200);
  EXPECT_EQ(e.frameRate, 25);

  e.SelectVideoDevice(0);
  // Sorted as text, each size once.
  EXPECT_EQ(e.sizes.items, (std::vector<std::string>{"1280x720", "1920x1080", "640x480"}));
  EXPECT_EQ(e.sizes.selected, 0);
  e.SelectAudioDevice(0);
  EXPECT_EQ(e.lines.items, (std::vector<std::string>{"Front Mic Boost", "Mic"}));
  EXPECT_EQ(e.lines.selected, 0);
  e.SelectAudioDevice(2);  // its mixer cannot be opened
  EXPECT_TRUE(e.lines.items.empty());
  EXPECT_EQ(e.lines.selected, -1);
}

TEST_F(DeviceEditorTest, ChecksInOrder) {
  struct Case {
    const char* name;
    const char* alias;
    bool video, audio;
    int videoSel, audioSel;
    int frame, gop, bps;
    const char* message;
  } cases[] = {
      {"frame below range", "设备", true, false, 0, -1, 1, 50, 200, "请输入一个介于 2 和 10000 之间的整数。"},
      {"frame above range", "", true, false, 0, -1, 10001, 50, 200, "请输入一个介于 2 和 10000 之间的整数。"},
      {"gop zero", "设备", true, false, 0, -1, 25, 0, 200, "请输入一个介于 1 和 2147483647 之间的整数。"},
      {"bit rate negative", "设备", true, false, 0, -1, 25, 50, -5, "请输入一个介于 1 和 2147483647 之间的整数。"},
      {"no alias", "", true, true, 0, 0, 25, 50, 200, "请填写别名"},
      {"nothing ticked", "设备", false, false, 0, 0, 25, 50, 200, "视频设备和音频设备至少选其一"},
      {"no video device", "设备", true, false, -1, 0, 25, 50, 200, "没选择设备!"},
      {"no audio device", "设备", false, true, 0, -1, 25, 50, 200, "没选择设备!"},
  };
  for (const Case& c : cases) {
    DeviceSourceEditor e(Sources());
    e.Load(false, 0);
    e.alias = c.alias;
    e.useVideo = c.video;
    e.useAudio = c.audio;
    if (c.videoSel >= 0) e.SelectVideoDevice(c.videoSel);
    if (c.audioSel >= 0) e.SelectAudioDevice(c.audioSel);
    e.frameRate = c.frame;
    e.gop = c.gop;
    e.bitRate = c.bps;
    RecordingPrompt p;
    EXPECT_FALSE(e.Submit(p)) << c.name;
    EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.name;
  }
  // A machine without video devices: ticking video gives "没选择设备!".
  vvtest::FakeV4l2Io none;
  DeviceSourceEditor empty({&none, audio_.get()});
  empty.Load(false, 0);
  EXPECT_TRUE(empty.videoDevices.items.empty());
  empty.alias = "无";
  empty.useVideo = true;
  RecordingPrompt p;
  EXPECT_FALSE(empty.Submit(p));
  EXPECT_EQ(p.Last(), "没选择设备!");
}

// The row stored names the devices so that the engine's lookups find the
// very node and card the operator picked.
TEST_F(DeviceEditorTest, StoredNamesOpenThePickedDevices) {
  DeviceSourceEditor e(Sources());
  e.Load(false, 0);
  e.alias = "第二台";
  e.useVideo = true;
  e.useAudio = true;
  e.SelectVideoDevice(1);
  e.SelectAudioDevice(2);
  e.volume = 70;
  e.channels = 0;
  e.sampleRates.selected = 2;
  e.audioBitRates.selected = 3;
  RecordingPrompt p;
  ASSERT_TRUE(e.Submit(p)) << p.Last();
  DeviceSourceInfo row;
  ASSERT_TRUE(Db().GetDeviceSource(row, e.sourceId));
  EXPECT_EQ(Db().GetLiveType(e.sourceId), LIVE_TYPE_DEVICE);
  EXPECT_EQ(row.videoName, " HD Pro Webcam C920 #2");
  EXPECT_EQ(row.url, row.videoName);
  EXPECT_EQ(e.url, row.url);
  EXPECT_EQ(row.use_video, 1);
  EXPECT_EQ(row.width, 320);
  EXPECT_EQ(row.height, 240);
  EXPECT_EQ(row.gop, 50);
  EXPECT_EQ(row.bps, 200);
  EXPECT_EQ(row.frameRate, 25);
  EXPECT_EQ(row.use_audio, 1);
  EXPECT_EQ(row.audioName, "HD Pro Webcam C920 #2");
  EXPECT_EQ(row.audio_line, "");
  EXPECT_EQ(row.audio_volumn, 70);
  EXPECT_EQ(row.sampleRate, "32000");
  EXPECT_EQ(row.audio_br, 128);
  EXPECT_EQ(row.audio_stereo, 0);
  EXPECT_EQ(row.status, 0);
  // What the engine does with the row: trimmed names through the same lookups.
  EXPECT_EQ(vvplatform::FindVideoCaptureNode(video_, vvforms::Trim(row.videoName)), "/dev/video2");
  EXPECT_EQ(vvplatform::FindAlsaCaptureDevice(asound_->path(), vvforms::Trim(row.audioName)), "hw:2");

  // Audio only: the audio device is the url; the first line is taken.
  DeviceSourceEditor audio(Sources());
  audio.Load(false, 0);
  audio.alias = "麦克风";
  audio.useAudio = true;
  audio.SelectAudioDevice(0);
  ASSERT_TRUE(audio.Submit(p)) << p.Last();
  ASSERT_TRUE(Db().GetDeviceSource(row, audio.sourceId));
  EXPECT_EQ(row.url, "HDA Intel PCH");
  EXPECT_EQ(row.audio_line, "Front Mic Boost");
  EXPECT_EQ(row.use_video, 0);
  EXPECT_EQ(row.videoName, "");
  EXPECT_EQ(row.width, 0);
  EXPECT_EQ(vvplatform::FindAlsaCaptureDevice(asound_->path(), vvforms::Trim(row.audioName)), "hw:0");

  // The same device again is refused.
  DeviceSourceEditor again(Sources());
  again.Load(false, 0);
  again.alias = "又一个";
  again.useVideo = true;
  again.SelectVideoDevice(1);
  EXPECT_FALSE(again.Submit(p));
  EXPECT_EQ(p.Last(), "该设备已经存在");
}

// Editing reselects the stored entries; a sample rate off the list stays
// unselected and is stored empty; a running source keeps state and live url;
// the device cannot change under its sub-streams.
TEST_F(DeviceEditorTest, Edit) {
  Sql("insert into DeviceSource_info (alias,url,status,use_video,videoName,width,height,gop,bps,frameRate,"
      "use_audio,audioName,audio_line,audio_volumn,sampleRate,audio_br,audio_stereo,live_url) values "
      "('摄像头',' HD Pro Webcam C920',1,1,' HD Pro Webcam C920',1280,720,30,900,15,1,'HDA Intel PCH',' Mic ',"
      "80,'22050',96,1,'rtmp://127.0.0.1/live/cam')");
  DeviceSourceEditor e(Sources());
  e.Load(true, 1);
  EXPECT_EQ(e.alias, "摄像头");
  EXPECT_EQ(e.loadedUrl, " HD Pro Webcam C920");
  EXPECT_EQ(e.videoDevices.selected, 0);
  EXPECT_EQ(e.sizes.SelectedText(), "1280x720");
  EXPECT_EQ(e.audioDevices.selected, 0);
  EXPECT_EQ(e.lines.SelectedText(), "Mic");
  EXPECT_EQ(e.sampleRates.selected, -1);
  EXPECT_EQ(e.audioBitRates.SelectedText(), "96");
  EXPECT_EQ(e.volume, 80);
  EXPECT_EQ(e.bitRate, 900);
  EXPECT_EQ(e.frameRate, 15);
  EXPECT_EQ(e.gop, 30);
  EXPECT_TRUE(e.useVideo);
  EXPECT_TRUE(e.useAudio);
  e.alias = "摄像头2";
  RecordingPrompt p;
  ASSERT_TRUE(e.Submit(p)) << p.Last();
  DeviceSourceInfo row;
  ASSERT_TRUE(Db().GetDeviceSource(row, 1));
  EXPECT_EQ(row.alias, "摄像头2");
  EXPECT_EQ(row.sampleRate, "");
  EXPECT_EQ(row.status, 1);
  EXPECT_EQ(row.live_url, "rtmp://127.0.0.1/live/cam");

  SubStreamInfo sub;
  sub.url = row.url;
  int subId = 0;
  ASSERT_TRUE(Db().InsertSubStream(sub, subId));
  DeviceSourceEditor move(Sources());
  move.Load(true, 1);
  move.SelectVideoDevice(1);
  EXPECT_FALSE(move.Submit(p));
  EXPECT_EQ(p.Last(), vvforms::kUrlHasSubStreams);
}

// Microphone lines: capture elements whose name holds "Mic", in mixer order;
// an open mixer keeps its lines; a mixer that cannot open says so.
TEST_F(DeviceEditorTest, MixerAndDeviceList) {
  CAudioInputDevice* pch = audio_->Find("HDA Intel PCH");
  ASSERT_NE(pch, nullptr);
  CMixer* m = pch->OpenMixer();
  EXPECT_EQ(m->GetLines(), (std::vector<std::string>{"Front Mic Boost", "Mic"}));
  int calls = mixer_.calls;
  m->Open();
  EXPECT_EQ(mixer_.calls, calls);
  m->Close();
  EXPECT_TRUE(m->GetLines().empty());
  CAudioInputDevice* broken = audio_->Find("HD Pro Webcam C920 #2");
  ASSERT_NE(broken, nullptr);
  try {
    broken->OpenMixer();
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Can't open Mixer Device.");
  }
  EXPECT_EQ(audio_->Find(""), nullptr);
  EXPECT_EQ(audio_->Find("USB Mic"), nullptr);
  // A longer name that starts with a device's name finds it.
  EXPECT_EQ(audio_->Find("HDA Intel PCH (analog)"), pch);
  // The list is read once: a card plugged in later is not seen.
  vvtest::WriteAsound(asound_->path(), {{0, "PCH", "HDA Intel PCH", true}, {5, "USB", "USB Mic", true}});
  EXPECT_EQ(audio_->Find("USB Mic"), nullptr);
}
