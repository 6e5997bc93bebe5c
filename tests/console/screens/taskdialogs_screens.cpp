// The source, sub-stream and task dialogs, each editing a plausible row.
#include <memory>

#include "console/ui/SourceDialogs.h"
#include "console/ui/TaskDialogs.h"
#include "core/DatabaseManager.h"
#include "tests/console/screens/Screens.h"
#include "tests/tools/FakeCaptureDevices.h"
#include "tests/tools/TestUtil.h"

namespace {

CDatabaseManager& Db() { return CDatabaseManager::Instance(); }

int NetSource() {
  static int id = 0;
  if (!id) {
    UrlSourceInfo row;
    row.alias = "演播室一";
    row.url = "rtmp://192.168.2.2/live/live1";
    Db().InsertNetSource(row, id);
  }
  return id;
}

// A machine with two cameras of one model and two sound cards.
struct FakeMachine {
  vvtest::FakeV4l2Io video;
  vvtest::FakeMixerIo mixer;
  vvtest::TempDir asound{"vvscreens-asound"};
  std::unique_ptr<CAudioDeviceList> audio;
  FakeMachine() {
    vvtest::FakeVideoNode cam;
    cam.path = "/dev/video0";
    cam.card = "HD Pro Webcam C920";
    vvtest::FakeVideoNode::Format f;
    f.discrete = {{640, 480}, {1280, 720}, {1920, 1080}, {800, 600}};
    cam.formats = {f};
    vvtest::FakeVideoNode second = cam;
    second.path = "/dev/video2";
    video.nodes = {cam, second};
    vvtest::WriteAsound(asound.path(), {{0, "PCH", "HDA Intel PCH", true}, {1, "C920", "HD Pro Webcam C920", true}});
    mixer.cards[0] = {{"Capture", true}, {"Front Mic Boost", true}, {"Rear Mic", true}};
    mixer.cards[1] = {{"Mic", true}};
    audio = std::make_unique<CAudioDeviceList>(asound.path(), &mixer);
  }
};

FakeMachine& Machine() {
  static FakeMachine m;
  return m;
}

}  // namespace

VV_SCREEN("task_forward") {
  ForwardTaskInfo row;
  row.live_id = NetSource();
  row.forward_url = "rtmp://127.0.0.1/live/delayed";
  row.buffer_enabled = 1;
  row.buffer_time = 120;
  row.buffer_type = 1;
  row.slice_seconds = 20;
  int id = 0;
  Db().InsertForwardTask(row, id, LIVE_TYPE_NET);
  auto* dlg = new vvconsole::CForwardTaskDlg;
  dlg->SetLiveId(row.live_id);
  dlg->SetTaskId(id);
  dlg->SetEditMode(true);
  dlg->InitDialog();
  return dlg;
}

VV_SCREEN("task_forward_new") {
  auto* dlg = new vvconsole::CForwardTaskDlg;
  dlg->SetLiveId(NetSource());
  dlg->InitDialog();
  return dlg;
}

VV_SCREEN("task_record") {
  RecordTaskInfo row;
  row.live_id = NetSource();
  row.name = "晚间新闻";
  row.fileType = 2;
  row.recordType = 0;
  row.saveFolder = "/srv/录像/新闻";
  row.startTime = "19:00:00";
  row.endTime = "19:30:00";
  row.days_of_week = "1;2;3;4;5";
  row.fileMod = 1;
  row.direMod = 0;
  int id = 0;
  Db().InsertRecordTask(row, id, LIVE_TYPE_NET);
  auto* dlg = new vvconsole::CRecordTaskDlg;
  dlg->SetLiveId(row.live_id);
  dlg->SetTaskId(id);
  dlg->SetEditMode(true);
  dlg->InitDialog();
  return dlg;
}

VV_SCREEN("source_substream") {
  SubStreamInfo row;
  row.alias = "手机流";
  row.url = "rtmp://192.168.2.2/live/live1";
  row.useVideo = true;
  row.vFormat = "H264";
  row.vColor = "YUVJ420P";
  row.width = 400;
  row.height = 300;
  row.vBitRate = 300;
  row.frameRate = 15;
  row.gop = 30;
  row.useAudio = true;
  row.aFormat = "AAC";
  row.sampleRate = "44100";
  row.aBitRate = 32;
  row.aChannel = 0;
  int id = 0;
  Db().InsertSubStream(row, id);
  auto* dlg = new vvconsole::SubStreamDlg;
  dlg->SetEditMode(true);
  dlg->SetSubStreamId(id);
  dlg->InitDialog();
  return dlg;
}

VV_SCREEN("source_substream_new") {
  auto* dlg = new vvconsole::SubStreamDlg;
  dlg->SetSourceUrl("rtmp://192.168.2.2/live/live1");
  dlg->InitDialog();
  return dlg;
}

VV_SCREEN("source_device") {
  DeviceSourceInfo row;
  row.alias = "会议室摄像头";
  row.url = " HD Pro Webcam C920 #2";
  row.use_video = 1;
  row.videoName = row.url;
  row.width = 1280;
  row.height = 720;
  row.gop = 50;
  row.bps = 800;
  row.frameRate = 25;
  row.use_audio = 1;
  row.audioName = "HDA Intel PCH";
  row.audio_line = "Rear Mic";
  row.audio_volumn = 70;
  row.sampleRate = "44100";
  row.audio_br = 96;
  row.audio_stereo = 1;
  int id = 0;
  Db().InsertDeviceSource(row, id);
  auto* dlg = new vvconsole::CCreateDeviceDlg(nullptr, nullptr, {&Machine().video, Machine().audio.get()});
  dlg->SetEditMode(true);
  dlg->SetSourceId(id);
  dlg->InitDialog();
  return dlg;
}

VV_SCREEN("source_device_new") {
  auto* dlg = new vvconsole::CCreateDeviceDlg(nullptr, nullptr, {&Machine().video, Machine().audio.get()});
  dlg->InitDialog();
  return dlg;
}

VV_SCREEN("source_net") {
  auto* dlg = new vvconsole::CCreateNetUrlDlg;
  dlg->SetEditMode(true);
  dlg->SetSourceId(NetSource());
  dlg->InitDialog();
  return dlg;
}

VV_SCREEN("source_file") {
  UrlSourceInfo row;
  row.alias = "宣传片";
  row.url = "/srv/media/宣传片2026.mp4";
  int id = 0;
  Db().InsertFileSource(row, id);
  auto* dlg = new vvconsole::CCreateFileDlg;
  dlg->SetEditMode(true);
  dlg->SetSourceId(id);
  dlg->InitDialog();
  return dlg;
}
