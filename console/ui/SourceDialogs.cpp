#include "console/ui/SourceDialogs.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "console/logic/SourceLabel.h"
#include "console/ui/CheckGroup.h"
#include "console/ui/ConsoleWindows.h"
#include "console/ui/DialogParts.h"

namespace vvconsole {

namespace {

QLabel* Label(QWidget* parent, const char* text) { return new QLabel(QString::fromUtf8(text), parent); }

// A control followed by its unit.
QHBoxLayout* WithUnit(QWidget* control, QWidget* parent, const char* unit) {
  auto* row = new QHBoxLayout;
  row->addWidget(control, 1);
  row->addWidget(Label(parent, unit));
  return row;
}

}  // namespace

// ------------------------------------------------------------ device source

CCreateDeviceDlg::CCreateDeviceDlg(QWidget* parent, IPrompt* prompt, CaptureDeviceSources sources)
    : CSourceDlg(parent, prompt, sources) {
  setObjectName(QStringLiteral("164"));
  setWindowTitle(QStringLiteral("创建通用设备"));
  alias_ = Named(new QLineEdit(this), 1105);

  videoGroup_ = Named(new CCheckGroup(QStringLiteral("视频设备选项"), this), 1063);
  videoDevice_ = Named(new QComboBox(videoGroup_), 1047);
  videoDevice_->setMinimumWidth(260);
  size_ = Named(new QComboBox(videoGroup_), 1048);
  gop_ = MakeSpin(videoGroup_, 1064, 1, vvforms::kMaxInt);
  bitRate_ = MakeSpin(videoGroup_, 1052, 1, vvforms::kMaxInt);
  frame_ = MakeSpin(videoGroup_, 1053, vvforms::kMinFrameField, vvforms::kMaxFrameField);
  auto* vg = new QGridLayout(videoGroup_);
  vg->addWidget(Label(videoGroup_, "选择设备："), 0, 0);
  vg->addWidget(videoDevice_, 0, 1, 1, 3);
  vg->addWidget(Label(videoGroup_, "输出大小："), 1, 0);
  vg->addWidget(size_, 1, 1);
  vg->addWidget(Label(videoGroup_, "GOP："), 1, 2);
  vg->addWidget(gop_, 1, 3);
  vg->addWidget(Label(videoGroup_, "码率："), 2, 0);
  vg->addLayout(WithUnit(bitRate_, videoGroup_, "kbps"), 2, 1);
  vg->addLayout(WithUnit(frame_, videoGroup_, "帧插入一个关键帧"), 2, 2, 1, 2);
  for (int id : {1047, 1048, 1052, 1053, 1064}) videoGroup_->AddControl(id);

  audioGroup_ = Named(new CCheckGroup(QStringLiteral("音频选项"), this), 1061);
  audioDevice_ = Named(new QComboBox(audioGroup_), 1054);
  audioDevice_->setMinimumWidth(260);
  line_ = Named(new QComboBox(audioGroup_), 1055);
  sampleRate_ = Named(new QComboBox(audioGroup_), 1056);
  audioBitRate_ = Named(new QComboBox(audioGroup_), 1057);
  volume_ = Named(new QSlider(Qt::Horizontal, audioGroup_), 1058);
  volume_->setRange(0, 100);
  mono_ = Named(new QRadioButton(QStringLiteral("单声道"), audioGroup_), 1059);
  stereo_ = Named(new QRadioButton(QStringLiteral("立体声"), audioGroup_), 1060);
  auto* channels = new QButtonGroup(this);
  channels->addButton(mono_, 0);
  channels->addButton(stereo_, 1);
  auto* ag = new QGridLayout(audioGroup_);
  ag->addWidget(Label(audioGroup_, "设备："), 0, 0);
  ag->addWidget(audioDevice_, 0, 1, 1, 3);
  ag->addWidget(Label(audioGroup_, "输入线路："), 1, 0);
  ag->addWidget(line_, 1, 1, 1, 3);
  ag->addWidget(Label(audioGroup_, "采样率："), 2, 0);
  ag->addLayout(WithUnit(sampleRate_, audioGroup_, "Hz"), 2, 1);
  ag->addWidget(Label(audioGroup_, "音频码流："), 2, 2);
  ag->addLayout(WithUnit(audioBitRate_, audioGroup_, "Kbps"), 2, 3);
  ag->addWidget(Label(audioGroup_, "音量："), 3, 0);
  ag->addWidget(volume_, 3, 1);
  auto* channelRow = new QHBoxLayout;
  channelRow->addWidget(mono_);
  channelRow->addWidget(stereo_);
  ag->addLayout(channelRow, 3, 2, 1, 2);
  for (int id : {1054, 1055, 1056, 1057, 1058, 1059, 1060}) audioGroup_->AddControl(id);

  auto* aliasRow = new QHBoxLayout;
  aliasRow->addWidget(Label(this, "别名:"));
  aliasRow->addWidget(alias_, 1);
  auto* top = new QVBoxLayout(this);
  top->addLayout(aliasRow);
  top->addWidget(videoGroup_);
  top->addWidget(audioGroup_);
  top->addWidget(MakeOkCancel(this));

  connect(videoDevice_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int i) {
    editor_.SelectVideoDevice(i);
    FillCombo(size_, editor_.sizes);
  });
  connect(audioDevice_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int i) {
    editor_.SelectAudioDevice(i);
    FillCombo(line_, editor_.lines);
  });
}

CCreateDeviceDlg::~CCreateDeviceDlg() = default;

void CCreateDeviceDlg::LoadEditor() {
  editor_.Load(editMode_, sourceId_);
  FromEditor();
}

void CCreateDeviceDlg::FromEditor() {
  alias_->setText(Q(editor_.alias));
  FillCombo(videoDevice_, editor_.videoDevices);
  FillCombo(size_, editor_.sizes);
  gop_->setValue(editor_.gop);
  bitRate_->setValue(editor_.bitRate);
  frame_->setValue(editor_.frameRate);
  FillCombo(audioDevice_, editor_.audioDevices);
  FillCombo(line_, editor_.lines);
  FillCombo(sampleRate_, editor_.sampleRates);
  FillCombo(audioBitRate_, editor_.audioBitRates);
  volume_->setValue(editor_.volume);
  (editor_.channels ? stereo_ : mono_)->setChecked(true);
  videoGroup_->SetCheck(editor_.useVideo ? 1 : 0);
  audioGroup_->SetCheck(editor_.useAudio ? 1 : 0);
}

void CCreateDeviceDlg::ToEditor() {
  for (QSpinBox* s : {gop_, bitRate_, frame_}) s->interpretText();
  editor_.alias = S(alias_->text());
  editor_.useVideo = videoGroup_->GetCheck() != 0;
  editor_.useAudio = audioGroup_->GetCheck() != 0;
  editor_.videoDevices.selected = videoDevice_->currentIndex();
  editor_.sizes.selected = size_->currentIndex();
  editor_.gop = gop_->value();
  editor_.bitRate = bitRate_->value();
  editor_.frameRate = frame_->value();
  editor_.audioDevices.selected = audioDevice_->currentIndex();
  editor_.lines.selected = line_->currentIndex();
  editor_.sampleRates.selected = sampleRate_->currentIndex();
  editor_.audioBitRates.selected = audioBitRate_->currentIndex();
  editor_.volume = volume_->value();
  editor_.channels = stereo_->isChecked() ? 1 : 0;
}

// --------------------------------------------------- network and file source

CUrlSourceDlg::CUrlSourceDlg(LiveSourceType type, QWidget* parent, IPrompt* prompt)
    : CSourceDlg(parent, prompt, type) {
  bool net = type == LIVE_TYPE_NET;
  setObjectName(net ? QStringLiteral("196") : QStringLiteral("110"));
  setWindowTitle(net ? QStringLiteral("请输入网络URL") : QStringLiteral("文件源"));
  alias_ = Named(new QLineEdit(this), 1105);
  url_ = Named(new QLineEdit(this), 1104);
  url_->setMinimumWidth(380);
  auto* grid = new QGridLayout;
  grid->addWidget(Label(this, "别名:"), 0, 0);
  grid->addWidget(alias_, 0, 1, 1, 2);
  if (net) {
    grid->addWidget(Label(this, "网络URL:"), 1, 0);
    grid->addWidget(url_, 1, 1, 1, 2);
    int row = 2;
    for (const char* example :
         {"udp://@234.4.5.6:9000", "rtsp://192.168.2.2:554", "rtmp://192.168.2.2/live/live1",
          "mms://192.168.2.2/live2", "http://192.168.2.2/media/live.flv",
          "rtsp://HKadmin@12345@192.168.2.3:7071//DS-2CD2310-I20150101:554"}) {
      QLabel* l = Label(this, example);
      l->setTextInteractionFlags(Qt::TextSelectableByMouse);
      grid->addWidget(l, row++, 1, 1, 2);
    }
  } else {
    auto* browse = Named(new QPushButton(QStringLiteral("..."), this), 1106);
    browse->setFixedWidth(32);
    grid->addWidget(Label(this, "文件路径："), 1, 0);
    grid->addWidget(url_, 1, 1);
    grid->addWidget(browse, 1, 2);
    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
  }
  auto* top = new QVBoxLayout(this);
  top->addLayout(grid);
  top->addWidget(MakeOkCancel(this));
}

CUrlSourceDlg::~CUrlSourceDlg() = default;

void CUrlSourceDlg::LoadEditor() {
  editor_.Load(editMode_, sourceId_);
  alias_->setText(Q(editor_.alias));
  url_->setText(Q(editor_.url));
}

void CUrlSourceDlg::OnBrowse() {
  QString file = QFileDialog::getOpenFileName(this);
  if (!file.isEmpty()) url_->setText(file);
}

void CUrlSourceDlg::ToEditor() {
  editor_.alias = S(alias_->text());
  editor_.url = S(url_->text());
}

// --------------------------------------------------------------- sub-stream

SubStreamDlg::SubStreamDlg(QWidget* parent, IPrompt* prompt) : CEditorDlg(parent, prompt) {
  setObjectName(QStringLiteral("109"));
  setWindowTitle(QStringLiteral("子码流"));
  alias_ = Named(new QLineEdit(this), 1105);

  videoGroup_ = Named(new CCheckGroup(QStringLiteral("视频"), this), 1063);
  videoCodec_ = Named(new QComboBox(videoGroup_), 1049);
  color_ = Named(new QComboBox(videoGroup_), 1050);
  size_ = Named(new QComboBox(videoGroup_), 1048);
  bitRate_ = MakeSpin(videoGroup_, 1052, 1, vvforms::kMaxInt);
  gop_ = MakeSpin(videoGroup_, 1064, 1, vvforms::kMaxInt);
  frameRate_ = MakeSpin(videoGroup_, 1053, 1, vvforms::kMaxInt);
  auto* vg = new QGridLayout(videoGroup_);
  vg->addWidget(Label(videoGroup_, "压缩格式："), 0, 0);
  vg->addWidget(videoCodec_, 0, 1);
  vg->addWidget(Label(videoGroup_, "颜色空间："), 0, 2);
  vg->addWidget(color_, 0, 3);
  vg->addWidget(Label(videoGroup_, "图像大小："), 1, 0);
  vg->addWidget(size_, 1, 1);
  vg->addWidget(Label(videoGroup_, "码率大小："), 1, 2);
  vg->addLayout(WithUnit(bitRate_, videoGroup_, "kbps"), 1, 3);
  vg->addWidget(Label(videoGroup_, "GOP："), 2, 0);
  vg->addWidget(gop_, 2, 1);
  vg->addWidget(Label(videoGroup_, "帧率："), 2, 2);
  vg->addWidget(frameRate_, 2, 3);
  for (int id : {1049, 1050, 1048, 1052, 1064, 1053}) videoGroup_->AddControl(id);

  audioGroup_ = Named(new CCheckGroup(QStringLiteral("音频"), this), 1061);
  audioCodec_ = Named(new QComboBox(audioGroup_), 1051);
  sampleRate_ = Named(new QComboBox(audioGroup_), 1056);
  audioBitRate_ = Named(new QComboBox(audioGroup_), 1057);
  mono_ = Named(new QRadioButton(QStringLiteral("单声道"), audioGroup_), 1059);
  stereo_ = Named(new QRadioButton(QStringLiteral("立体声"), audioGroup_), 1060);
  auto* channels = new QButtonGroup(this);
  channels->addButton(mono_, 0);
  channels->addButton(stereo_, 1);
  auto* ag = new QGridLayout(audioGroup_);
  ag->addWidget(Label(audioGroup_, "压缩格式："), 0, 0);
  ag->addWidget(audioCodec_, 0, 1);
  ag->addWidget(Label(audioGroup_, "采样率："), 0, 2);
  ag->addLayout(WithUnit(sampleRate_, audioGroup_, "Hz"), 0, 3);
  ag->addWidget(Label(audioGroup_, "码流："), 1, 0);
  ag->addLayout(WithUnit(audioBitRate_, audioGroup_, "Kbps"), 1, 1);
  ag->addWidget(Label(audioGroup_, "声道："), 1, 2);
  auto* channelRow = new QHBoxLayout;
  channelRow->addWidget(mono_);
  channelRow->addWidget(stereo_);
  ag->addLayout(channelRow, 1, 3);
  for (int id : {1051, 1056, 1057, 1059, 1060}) audioGroup_->AddControl(id);

  auto* aliasRow = new QHBoxLayout;
  aliasRow->addWidget(Label(this, "别名:"));
  aliasRow->addWidget(alias_, 1);
  auto* top = new QVBoxLayout(this);
  top->addLayout(aliasRow);
  top->addWidget(videoGroup_);
  top->addWidget(audioGroup_);
  top->addWidget(MakeOkCancel(this));
}

SubStreamDlg::~SubStreamDlg() = default;

void SubStreamDlg::LoadEditor() {
  editor_.Load(editMode_, id_, sourceUrl_);
  FromEditor();
}

void SubStreamDlg::FromEditor() {
  alias_->setText(Q(editor_.alias));
  FillCombo(videoCodec_, editor_.videoCodecs);
  FillCombo(color_, editor_.colorSpaces);
  FillCombo(size_, editor_.sizes);
  bitRate_->setValue(editor_.bitRate);
  gop_->setValue(editor_.gop);
  frameRate_->setValue(editor_.frameRate);
  FillCombo(audioCodec_, editor_.audioCodecs);
  FillCombo(sampleRate_, editor_.sampleRates);
  FillCombo(audioBitRate_, editor_.audioBitRates);
  (editor_.channels ? stereo_ : mono_)->setChecked(true);
  videoGroup_->SetCheck(editor_.useVideo ? 1 : 0);
  audioGroup_->SetCheck(editor_.useAudio ? 1 : 0);
}

void SubStreamDlg::ToEditor() {
  for (QSpinBox* s : {bitRate_, gop_, frameRate_}) s->interpretText();
  editor_.alias = S(alias_->text());
  editor_.useVideo = videoGroup_->GetCheck() != 0;
  editor_.useAudio = audioGroup_->GetCheck() != 0;
  editor_.videoCodecs.selected = videoCodec_->currentIndex();
  editor_.colorSpaces.selected = color_->currentIndex();
  editor_.sizes.selected = size_->currentIndex();
  editor_.bitRate = bitRate_->value();
  editor_.gop = gop_->value();
  editor_.frameRate = frameRate_->value();
  editor_.audioCodecs.selected = audioCodec_->currentIndex();
  editor_.sampleRates.selected = sampleRate_->currentIndex();
  editor_.audioBitRates.selected = audioBitRate_->currentIndex();
  editor_.channels = stereo_->isChecked() ? 1 : 0;
}

// ------------------------------------------------------------ entry points

DialogResult RunDeviceSourceDialog(QWidget* parent, int editId) {
  CCreateDeviceDlg dlg(parent);
  dlg.SetSourceId(editId);
  DialogResult result;
  if (!ExecEditorDialog(dlg, editId)) return result;
  const DeviceSourceEditor& e = dlg.Editor();
  result = {true, e.sourceId, e.alias, e.url};
  if (editId == 0)
    if (ISourceTree* tree = SourceTree()) tree->AddDeviceSourceItem(MakeSourceLabel(e.alias, e.url), e.sourceId);
  return result;
}

static DialogResult RunUrlSourceDialog(CUrlSourceDlg& dlg, int editId) {
  dlg.SetSourceId(editId);
  DialogResult result;
  if (!ExecEditorDialog(dlg, editId)) return result;
  const UrlSourceEditor& e = dlg.Editor();
  result = {true, e.sourceId, e.alias, e.url};
  if (editId == 0) {
    if (ISourceTree* tree = SourceTree()) {
      std::string label = MakeSourceLabel(e.alias, e.url);
      if (e.Type() == LIVE_TYPE_NET)
        tree->AddNetSourceItem(label, e.sourceId);
      else
        tree->AddFileSourceItem(label, e.sourceId);
    }
  }
  return result;
}

DialogResult RunNetSourceDialog(QWidget* parent, int editId) {
  CCreateNetUrlDlg dlg(parent);
  return RunUrlSourceDialog(dlg, editId);
}

DialogResult RunFileSourceDialog(QWidget* parent, int editId) {
  CCreateFileDlg dlg(parent);
  return RunUrlSourceDialog(dlg, editId);
}

DialogResult RunSubStreamDialog(QWidget* parent, int editId, const std::string& sourceUrl) {
  SubStreamDlg dlg(parent);
  dlg.SetSubStreamId(editId);
  dlg.SetSourceUrl(sourceUrl);
  if (!ExecEditorDialog(dlg, editId)) return {};
  const SubStreamEditor& e = dlg.Editor();
  return {true, e.subStreamId, e.alias, e.sourceUrl};
}

}  // namespace vvconsole
