// The source, sub-stream and task dialogs offscreen: controls filled as an
// operator would, OK pressed, and what they said and stored.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>

#include "console/ui/CheckGroup.h"
#include "console/ui/ConsoleWindows.h"
#include "console/ui/SourceDialogs.h"
#include "console/ui/TaskDialogs.h"
#include "tests/console/logic/EditorFixture.h"
#include "tests/tools/FakeCaptureDevices.h"

using vvtest::RecordingPrompt;

namespace {

CDatabaseManager& Db() { return CDatabaseManager::Instance(); }

template <typename W = QWidget>
W* Find(QWidget* dialog, int id) {
  W* w = dialog->findChild<W*>(QString::number(id));
  EXPECT_NE(w, nullptr) << id;
  return w;
}

void SetText(QWidget* d, int id, const char* text) { Find<QLineEdit>(d, id)->setText(QString::fromUtf8(text)); }
void SetSpin(QWidget* d, int id, int value) {
  QSpinBox* s = Find<QSpinBox>(d, id);
  s->setValue(value);
}
void Tick(QWidget* d, int id, bool on) {
  QAbstractButton* b = Find<QAbstractButton>(d, id);
  if (b->isChecked() != on) b->click();
}
// Ticks or unticks a check group by clicking its box.
void TickGroup(QWidget* d, int id, bool on) {
  auto* g = Find<vvconsole::CCheckGroup>(d, id);
  if ((g->GetCheck() != 0) != on) g->CheckBox()->click();
}
void PressOk(QDialog* d) { Find<QPushButton>(d, 1)->click(); }

class DialogTest : public vvtest::EditorTest {};

}  // namespace

// ------------------------------------------------------------ forward task

TEST_F(DialogTest, ForwardTaskChecks) {
  struct Case {
    const char* url;
    bool delay;
    int seconds;
    bool file;
    int slice;
    const char* message;  // "" = stored
  } cases[] = {
      {"", false, 20, false, 10, "参数没有填写完整"},
      {"rtmp://127.0.0.1/live/a", true, 0, false, 10, "延时时间不正确"},
      {"rtmp://127.0.0.1/live/b", true, 31, false, 10, "超过30秒不能使用内存缓存"},
      {"rtmp://127.0.0.1/live/c", true, 20, true, 20, "文件切片时间必须小于延时时间"},
      {"rtmp://127.0.0.1/live/d", true, 20, true, 9, "文件切片时间不能少于10秒"},
      {"rtmp://127.0.0.1/live/e", true, 30, false, 10, ""},
      {"rtmp://127.0.0.1/live/f", false, 0, false, 10, ""},
      {"rtmp://127.0.0.1/live/e", false, 20, false, 10, "该地址已经存在"},
  };
  for (const Case& c : cases) {
    RecordingPrompt p;
    vvconsole::CForwardTaskDlg dlg(nullptr, &p);
    dlg.SetLiveId(5);
    dlg.InitDialog();
    SetText(&dlg, 1104, c.url);
    Tick(&dlg, 1130, c.delay);
    SetSpin(&dlg, 1091, c.seconds);
    if (c.delay) Tick(&dlg, c.file ? 1007 : 1132, true);
    SetSpin(&dlg, 1133, c.slice);
    PressOk(&dlg);
    if (*c.message) {
      EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.url;
      EXPECT_NE(dlg.result(), QDialog::Accepted) << c.url;
      continue;
    }
    EXPECT_TRUE(p.messages.empty()) << c.url << ": " << p.Last();
    ASSERT_EQ(dlg.result(), QDialog::Accepted) << c.url;
    ForwardTaskInfo row;
    ASSERT_TRUE(Db().GetForwardTask(row, dlg.GetTaskId()));
    EXPECT_EQ(row.forward_url, c.url);
    EXPECT_EQ(row.buffer_enabled, c.delay ? 1 : 0);
    EXPECT_EQ(row.buffer_time, c.seconds);
  }
}

// The delay box and the cache choice switch the edits; a stored task opens
// with its values.
TEST_F(DialogTest, ForwardTaskControls) {
  ForwardTaskInfo row;
  row.live_id = 5;
  row.forward_url = "rtmp://127.0.0.1/live/x";
  row.buffer_enabled = 1;
  row.buffer_time = 90;
  row.buffer_type = 1;
  row.slice_seconds = 15;
  int id = 0;
  ASSERT_TRUE(Db().InsertForwardTask(row, id, 0));
  RecordingPrompt p;
  vvconsole::CForwardTaskDlg dlg(nullptr, &p);
  dlg.SetTaskId(id);
  dlg.SetEditMode(true);
  dlg.InitDialog();
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("编辑转发任务"));
  EXPECT_EQ(Find<QLineEdit>(&dlg, 1104)->text(), QStringLiteral("rtmp://127.0.0.1/live/x"));
  EXPECT_EQ(Find<QSpinBox>(&dlg, 1091)->value(), 90);
  EXPECT_TRUE(Find<QRadioButton>(&dlg, 1007)->isChecked());
  EXPECT_TRUE(Find<QSpinBox>(&dlg, 1133)->isEnabled());
  Tick(&dlg, 1132, true);
  EXPECT_FALSE(Find<QSpinBox>(&dlg, 1133)->isEnabled());
  Tick(&dlg, 1130, false);
  for (int c : {1091, 1132, 1007, 1133}) EXPECT_FALSE(Find(&dlg, c)->isEnabled()) << c;
  Tick(&dlg, 1130, true);
  for (int c : {1091, 1132, 1007}) EXPECT_TRUE(Find(&dlg, c)->isEnabled()) << c;
  // The delay may be 0 in its box (the check above catches it); slice
  // seconds too.
  EXPECT_EQ(Find<QSpinBox>(&dlg, 1091)->minimum(), 0);
  EXPECT_EQ(Find<QSpinBox>(&dlg, 1091)->maximum(), 1000000000);
}

// -------------------------------------------------------------- record task

TEST_F(DialogTest, RecordTaskChecks) {
  struct Case {
    const char* path;
    const char* mark;
    bool manual;
    QTime start, end;
    const char* message;
  } cases[] = {
      {"", "", false, QTime(0, 0, 0), QTime(23, 59, 59), "参数没有填写完整"},
      {"/srv/a", "../x", false, QTime(0, 0, 0), QTime(23, 59, 59), "文件标识不能包含\"/\"或\"..\""},
      {"/srv/a", "x", false, QTime(8, 0, 0), QTime(8, 0, 0), "时间设置不正确"},
      {"/srv/a", "x", true, QTime(8, 0, 0), QTime(8, 0, 0), ""},
      {"/srv/a", "y", false, QTime(8, 0, 0), QTime(9, 0, 0), "该地址已经存在"},
  };
  for (const Case& c : cases) {
    RecordingPrompt p;
    vvconsole::CRecordTaskDlg dlg(nullptr, &p);
    dlg.SetLiveId(5);
    dlg.InitDialog();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("编辑录像任务"));
    SetText(&dlg, 1104, c.path);
    SetText(&dlg, 1091, c.mark);
    Tick(&dlg, c.manual ? 1110 : 1109, true);
    EXPECT_EQ(Find(&dlg, 1042)->isEnabled(), !c.manual);
    EXPECT_EQ(Find(&dlg, 1050)->isEnabled(), !c.manual);
    Find<QTimeEdit>(&dlg, 1042)->setTime(c.start);
    Find<QTimeEdit>(&dlg, 1043)->setTime(c.end);
    PressOk(&dlg);
    if (*c.message) {
      EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.path << c.mark;
      continue;
    }
    ASSERT_EQ(dlg.result(), QDialog::Accepted) << p.Last();
  }
}

// Saturday and Sunday only are stored as 6;7 and come back as those boxes.
TEST_F(DialogTest, RecordTaskWeekdaysRoundTrip) {
  RecordingPrompt p;
  vvconsole::CRecordTaskDlg add(nullptr, &p);
  add.SetLiveId(5);
  add.InitDialog();
  SetText(&add, 1104, "/srv/weekend");
  for (int id = 1044; id <= 1050; ++id) Tick(&add, id, id >= 1049);
  Find<QComboBox>(&add, 1161)->setCurrentIndex(0);
  PressOk(&add);
  ASSERT_EQ(add.result(), QDialog::Accepted) << p.Last();
  RecordTaskInfo row;
  ASSERT_TRUE(Db().GetRecordTask(row, add.GetTaskId()));
  EXPECT_EQ(row.days_of_week, "6;7");
  EXPECT_EQ(row.fileMod, 0);

  vvconsole::CRecordTaskDlg edit(nullptr, &p);
  edit.SetTaskId(add.GetTaskId());
  edit.SetEditMode(true);
  edit.InitDialog();
  for (int id = 1044; id <= 1050; ++id) EXPECT_EQ(Find<QCheckBox>(&edit, id)->isChecked(), id >= 1049) << id;
  EXPECT_EQ(Find<QComboBox>(&edit, 1161)->currentText(), QStringLiteral("追加"));
  EXPECT_EQ(Find<QComboBox>(&edit, 1162)->currentText(), QStringLiteral("按日期"));
}

// --------------------------------------------------------------- sub-stream

TEST_F(DialogTest, SubStreamChecks) {
  struct Case {
    const char* alias;
    bool video, audio;
    const char* message;
  } cases[] = {
      {"", true, false, "请填写别名"},
      {"子码流", false, false, "视频和音频至少选其一"},
      {"子码流", true, false, ""},
  };
  for (const Case& c : cases) {
    RecordingPrompt p;
    vvconsole::SubStreamDlg dlg(nullptr, &p);
    dlg.SetSourceUrl("udp://@234.4.5.6:9000");
    dlg.InitDialog();
    EXPECT_EQ(Find<vvconsole::CCheckGroup>(&dlg, 1063)->GetCheck(), 0);
    EXPECT_FALSE(Find(&dlg, 1048)->isEnabled());
    SetText(&dlg, 1105, c.alias);
    TickGroup(&dlg, 1063, c.video);
    TickGroup(&dlg, 1061, c.audio);
    EXPECT_EQ(Find(&dlg, 1048)->isEnabled(), c.video);
    EXPECT_EQ(Find(&dlg, 1057)->isEnabled(), c.audio);
    Find<QComboBox>(&dlg, 1048)->setCurrentIndex(1);
    PressOk(&dlg);
    if (*c.message) {
      EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.alias;
      continue;
    }
    ASSERT_EQ(dlg.result(), QDialog::Accepted) << p.Last();
    SubStreamInfo row;
    ASSERT_TRUE(Db().GetSubStream(row, dlg.GetSubStreamId()));
    EXPECT_EQ(row.width, 1080);
    EXPECT_EQ(row.height, 720);
    EXPECT_EQ(row.url, "udp://@234.4.5.6:9000");
  }
}

// Rate boxes take no value below 1 (frame field of the device: 2).
TEST_F(DialogTest, RateBoxesRefuseNonPositive) {
  vvconsole::SubStreamDlg sub;
  vvtest::FakeV4l2Io none;
  vvtest::FakeMixerIo mixer;
  CAudioDeviceList audio("/nonexistent", &mixer);
  vvconsole::CCreateDeviceDlg device(nullptr, nullptr, {&none, &audio});
  struct Case {
    QWidget* dlg;
    int id;
    int min;
  } cases[] = {{&sub, 1052, 1}, {&sub, 1053, 1}, {&sub, 1064, 1},
               {&device, 1052, 1}, {&device, 1064, 1}, {&device, 1053, 2}};
  for (const Case& c : cases) {
    QSpinBox* s = Find<QSpinBox>(c.dlg, c.id);
    s->setValue(50);
    s->findChild<QLineEdit*>()->setText("0");
    s->interpretText();
    EXPECT_EQ(s->value(), 50) << c.id;
    s->setValue(-3);
    EXPECT_EQ(s->value(), c.min) << c.id;
  }
}

// ------------------------------------------------------------ device source

namespace {

struct Devices {
  vvtest::FakeV4l2Io video;
  vvtest::FakeMixerIo mixer;
  vvtest::TempDir asound{"vvasound"};
  std::unique_ptr<CAudioDeviceList> audio;
  Devices() {
    vvtest::FakeVideoNode cam;
    cam.path = "/dev/video0";
    cam.card = "USB2.0 Camera";
    vvtest::FakeVideoNode::Format f;
    f.discrete = {{640, 480}, {1280, 720}};
    cam.formats = {f};
    video.nodes = {cam};
    vvtest::WriteAsound(asound.path(), {{0, "PCH", "HDA Intel PCH", true}});
    mixer.cards[0] = {{"Mic", true}, {"Line", true}};
    audio = std::make_unique<CAudioDeviceList>(asound.path(), &mixer);
  }
};

}  // namespace

TEST_F(DialogTest, DeviceSourceChecks) {
  Devices devices;
  struct Case {
    const char* alias;
    bool video, audio;
    int videoIndex, audioIndex;
    const char* message;
  } cases[] = {
      {"", true, false, 0, -1, "请填写别名"},
      {"设备", false, false, 0, 0, "视频设备和音频设备至少选其一"},
      {"设备", true, false, -1, -1, "没选择设备!"},
      {"设备", false, true, -1, -1, "没选择设备!"},
      {"设备", true, true, 0, 0, ""},
      {"设备二", true, false, 0, -1, "该设备已经存在"},
  };
  for (const Case& c : cases) {
    RecordingPrompt p;
    vvconsole::CCreateDeviceDlg dlg(nullptr, &p, {&devices.video, devices.audio.get()});
    dlg.InitDialog();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("创建通用设备"));
    SetText(&dlg, 1105, c.alias);
    TickGroup(&dlg, 1063, c.video);
    TickGroup(&dlg, 1061, c.audio);
    Find<QComboBox>(&dlg, 1047)->setCurrentIndex(c.videoIndex);
    Find<QComboBox>(&dlg, 1054)->setCurrentIndex(c.audioIndex);
    PressOk(&dlg);
    if (*c.message) {
      EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.alias;
      continue;
    }
    ASSERT_EQ(dlg.result(), QDialog::Accepted) << p.Last();
    // The size list followed the device; the line list the audio device.
    EXPECT_EQ(Find<QComboBox>(&dlg, 1048)->currentText(), QStringLiteral("1280x720"));
    EXPECT_EQ(Find<QComboBox>(&dlg, 1055)->currentText(), QStringLiteral("Mic"));
    DeviceSourceInfo row;
    ASSERT_TRUE(Db().GetDeviceSource(row, dlg.Editor().sourceId));
    EXPECT_EQ(row.url, " USB2.0 Camera");
    EXPECT_EQ(row.width, 1280);
    EXPECT_EQ(row.audioName, "HDA Intel PCH");
    EXPECT_EQ(row.audio_line, "Mic");
    EXPECT_EQ(row.sampleRate, "48000");
    EXPECT_EQ(row.audio_br, 64);
    EXPECT_EQ(row.audio_volumn, 50);
    EXPECT_EQ(row.audio_stereo, 1);
  }
}

// ------------------------------------------------- network and file sources

namespace {

struct RecordingTree : vvconsole::ISourceTree {
  std::vector<std::pair<std::string, int>> net, file, device;
  void AddDeviceSourceItem(const std::string& label, int id) override { device.emplace_back(label, id); }
  void AddNetSourceItem(const std::string& label, int id) override { net.emplace_back(label, id); }
  void AddFileSourceItem(const std::string& label, int id) override { file.emplace_back(label, id); }
};

// Fills the modal dialog that opens next and presses OK or Cancel.
void AnswerNextDialog(const char* alias, const char* url, bool ok) {
  QTimer::singleShot(0, [=] {
    QWidget* d = QApplication::activeModalWidget();
    ASSERT_NE(d, nullptr);
    SetText(d, 1105, alias);
    SetText(d, 1104, url);
    Find<QPushButton>(d, ok ? 1 : 2)->click();
  });
}

}  // namespace

TEST_F(DialogTest, UrlSourceChecks) {
  struct Case {
    bool net;
    const char* alias;
    const char* url;
    const char* message;
  } cases[] = {
      {true, "", "udp://@234.4.5.6:9000", "请填写别名"},
      {true, "组播", "", "请输入源地址"},
      {true, "组播", "udp://@234.4.5.6:9000", ""},
      {true, "组播2", "udp://@234.4.5.6:9000", "该地址已经存在"},
      {false, "", "/srv/a.mp4", "请填写别名"},
      {false, "片", "", "请输入源地址"},
      {false, "片", "udp://@234.4.5.6:9000", ""},  // file rows are checked among files
      {false, "片2", "udp://@234.4.5.6:9000", "该地址已经存在"},
  };
  for (const Case& c : cases) {
    RecordingPrompt p;
    std::unique_ptr<vvconsole::CUrlSourceDlg> dlg;
    if (c.net)
      dlg = std::make_unique<vvconsole::CCreateNetUrlDlg>(nullptr, &p);
    else
      dlg = std::make_unique<vvconsole::CCreateFileDlg>(nullptr, &p);
    dlg->InitDialog();
    SetText(dlg.get(), 1105, c.alias);
    SetText(dlg.get(), 1104, c.url);
    PressOk(dlg.get());
    if (*c.message) {
      EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.alias;
      continue;
    }
    EXPECT_EQ(dlg->result(), QDialog::Accepted) << p.Last();
  }
}

// Added through the entry points, a source lands in the tree with its label
// and id; a cancelled dialog adds nothing; an edit leaves the tree alone.
TEST_F(DialogTest, EntryPointsAddToTheTree) {
  RecordingTree tree;
  vvconsole::SetSourceTree(&tree);
  AnswerNextDialog("主]播", "rtmp://192.168.2.2/live/live1", true);
  vvconsole::DialogResult net = vvconsole::RunNetSourceDialog(nullptr, 0);
  ASSERT_TRUE(net.ok);
  EXPECT_EQ(net.alias, "主]播");
  EXPECT_EQ(net.url, "rtmp://192.168.2.2/live/live1");
  ASSERT_EQ(tree.net.size(), 1u);
  EXPECT_EQ(tree.net[0].first, "[主]播]rtmp://192.168.2.2/live/live1");
  EXPECT_EQ(tree.net[0].second, net.id);

  AnswerNextDialog("片", "/srv/a.mp4", false);
  EXPECT_FALSE(vvconsole::RunFileSourceDialog(nullptr, 0).ok);
  EXPECT_TRUE(tree.file.empty());

  AnswerNextDialog("改名", "rtmp://192.168.2.2/live/live1", true);
  vvconsole::DialogResult edit = vvconsole::RunNetSourceDialog(nullptr, net.id);
  EXPECT_TRUE(edit.ok);
  EXPECT_EQ(edit.id, net.id);
  EXPECT_EQ(tree.net.size(), 1u);
  vvconsole::SetSourceTree(nullptr);

  // Without a tree the row is still stored.
  AnswerNextDialog("片", "/srv/a.mp4", true);
  vvconsole::DialogResult file = vvconsole::RunFileSourceDialog(nullptr, 0);
  ASSERT_TRUE(file.ok);
  UrlSourceInfo row;
  EXPECT_TRUE(Db().GetFileSource(row, file.id));
}
