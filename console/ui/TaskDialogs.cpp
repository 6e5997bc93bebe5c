#include "console/ui/TaskDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "console/ui/ConsoleWindows.h"
#include "console/ui/DialogParts.h"
#include "core/DatabaseManager.h"
#include "core/Paths.h"

namespace vvconsole {

// ------------------------------------------------------------- forward task

CForwardTaskDlg::CForwardTaskDlg(QWidget* parent, IPrompt* prompt) : CTaskDlg(parent, prompt) {
  setObjectName(QStringLiteral("204"));
  setWindowTitle(QStringLiteral("编辑转发任务"));
  auto* grid = new QGridLayout;
  url_ = Named(new QLineEdit(this), 1104);
  url_->setMinimumWidth(360);
  delay_ = Named(new QCheckBox(QStringLiteral("开启延时："), this), 1130);
  seconds_ = MakeSpin(this, 1091, 0, static_cast<int>(vvforms::kMaxDelaySeconds));
  memory_ = Named(new QRadioButton(QStringLiteral("使用内存缓存"), this), 1132);
  file_ = Named(new QRadioButton(QStringLiteral("使用文件缓存"), this), 1007);
  auto* cache = new QButtonGroup(this);
  cache->addButton(memory_, 0);
  cache->addButton(file_, 1);
  slice_ = MakeSpin(this, 1133, 0, vvforms::kMaxInt);

  grid->addWidget(new QLabel(QStringLiteral("转发URL："), this), 0, 0);
  grid->addWidget(url_, 0, 1, 1, 3);
  grid->addWidget(delay_, 1, 0);
  auto* secondsRow = new QHBoxLayout;
  secondsRow->addWidget(seconds_);
  secondsRow->addWidget(new QLabel(QStringLiteral("秒"), this));
  secondsRow->addStretch();
  grid->addLayout(secondsRow, 1, 1, 1, 3);
  auto* cacheRow = new QHBoxLayout;
  cacheRow->addWidget(memory_);
  cacheRow->addWidget(file_);
  cacheRow->addStretch();
  grid->addLayout(cacheRow, 2, 1, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("分片大小："), this), 3, 0);
  auto* sliceRow = new QHBoxLayout;
  sliceRow->addWidget(slice_);
  sliceRow->addWidget(new QLabel(QStringLiteral("秒"), this));
  sliceRow->addStretch();
  grid->addLayout(sliceRow, 3, 1, 1, 3);

  auto* top = new QVBoxLayout(this);
  top->addLayout(grid);
  top->addWidget(MakeOkCancel(this));

  connect(delay_, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
  connect(memory_, &QRadioButton::toggled, this, [this] { UpdateEnabled(); });
  connect(file_, &QRadioButton::toggled, this, [this] { UpdateEnabled(); });
}

CForwardTaskDlg::~CForwardTaskDlg() = default;

void CForwardTaskDlg::LoadEditor() {
  editor_.Load(editMode_, liveId_, taskId_);
  FromEditor();
}

void CForwardTaskDlg::ToEditor() {
  seconds_->interpretText();
  slice_->interpretText();
  editor_.forwardUrl = S(url_->text());
  editor_.delayEnabled = delay_->isChecked();
  editor_.delaySeconds = seconds_->value();
  editor_.bufferType = file_->isChecked() ? 1 : 0;
  editor_.sliceSeconds = slice_->value();
}

void CForwardTaskDlg::FromEditor() {
  url_->setText(Q(editor_.forwardUrl));
  delay_->setChecked(editor_.delayEnabled);
  seconds_->setValue(static_cast<int>(editor_.delaySeconds));
  (editor_.bufferType == 1 ? file_ : memory_)->setChecked(true);
  slice_->setValue(static_cast<int>(editor_.sliceSeconds));
  UpdateEnabled();
}

void CForwardTaskDlg::UpdateEnabled() {
  // What the controls show now (the editor takes them on OK).
  ForwardTaskEditor shown;
  shown.delayEnabled = delay_->isChecked();
  shown.bufferType = file_->isChecked() ? 1 : 0;
  seconds_->setEnabled(shown.DelayEditEnabled());
  memory_->setEnabled(shown.CacheChoiceEnabled());
  file_->setEnabled(shown.CacheChoiceEnabled());
  slice_->setEnabled(shown.SliceEditEnabled());
}

// -------------------------------------------------------------- record task

CRecordTaskDlg::CRecordTaskDlg(QWidget* parent, IPrompt* prompt) : CTaskDlg(parent, prompt) {
  setObjectName(QStringLiteral("206"));
  setWindowTitle(QStringLiteral("编辑录像任务"));

  path_ = Named(new QLineEdit(this), 1104);
  path_->setMinimumWidth(320);
  auto* browse = Named(new QPushButton(QStringLiteral("..."), this), 1106);
  browse->setFixedWidth(32);
  mark_ = Named(new QLineEdit(this), 1091);

  auto* typeBox = new QGroupBox(QStringLiteral("文件格式"), this);
  auto* typeRow = new QHBoxLayout(typeBox);
  fileType_ = new QButtonGroup(this);
  const std::pair<int, const char*> types[] = {{1111, "ASF"}, {1009, "FLV"}, {1010, "MP4"}};
  for (int i = 0; i < 3; ++i) {
    auto* r = Named(new QRadioButton(QString::fromUtf8(types[i].second), typeBox), types[i].first);
    fileType_->addButton(r, i);
    typeRow->addWidget(r);
  }
  auto* startBox = new QGroupBox(QStringLiteral("启动类型"), this);
  auto* startRow = new QHBoxLayout(startBox);
  startType_ = new QButtonGroup(this);
  auto* scheduled = Named(new QRadioButton(QStringLiteral("定时"), startBox), 1109);
  auto* manual = Named(new QRadioButton(QStringLiteral("手动"), startBox), 1110);
  startType_->addButton(scheduled, 0);
  startType_->addButton(manual, 1);
  startRow->addWidget(scheduled);
  startRow->addWidget(manual);

  const char* dayNames[7] = {"星期一", "星期二", "星期三", "星期四", "星期五", "星期六", "星期日"};
  auto* dayRow = new QGridLayout;
  for (int d = 0; d < 7; ++d) {
    days_[d] = Named(new QCheckBox(QString::fromUtf8(dayNames[d]), this), 1044 + d);
    dayRow->addWidget(days_[d], d / 4, d % 4);
  }
  start_ = Named(new QTimeEdit(this), 1042);
  end_ = Named(new QTimeEdit(this), 1043);
  start_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  end_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  fileMode_ = Named(new QComboBox(this), 1161);
  folderMode_ = Named(new QComboBox(this), 1162);

  auto* grid = new QGridLayout;
  int row = 0;
  grid->addWidget(new QLabel(QStringLiteral("录像路径："), this), row, 0);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(path_);
  pathRow->addWidget(browse);
  grid->addLayout(pathRow, row++, 1, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("文件标识："), this), row, 0);
  grid->addWidget(mark_, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("(在文件名前加标识为防止重名)"), this), row++, 2, 1, 2);
  grid->addWidget(typeBox, row, 0, 1, 2);
  grid->addWidget(startBox, row++, 2, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("日期："), this), row, 0, Qt::AlignTop);
  grid->addLayout(dayRow, row++, 1, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("开始时间："), this), row, 0);
  grid->addWidget(start_, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("结束时间："), this), row, 2);
  grid->addWidget(end_, row++, 3);
  grid->addWidget(new QLabel(QStringLiteral("文件方式："), this), row, 0);
  grid->addWidget(fileMode_, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("目录方式："), this), row, 2);
  grid->addWidget(folderMode_, row++, 3);

  auto* top = new QVBoxLayout(this);
  top->addLayout(grid);
  top->addWidget(MakeOkCancel(this));

  connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(startType_, &QButtonGroup::idToggled, this, [this] { UpdateEnabled(); });
}

CRecordTaskDlg::~CRecordTaskDlg() = default;

void CRecordTaskDlg::LoadEditor() {
  editor_.Load(editMode_, liveId_, taskId_, GetConfigPath());
  FromEditor();
}

void CRecordTaskDlg::ToEditor() {
  editor_.path = S(path_->text());
  editor_.mark = S(mark_->text());
  editor_.fileType = std::max(fileType_->checkedId(), 0);
  editor_.startType = startType_->checkedId() == 1 ? 1 : 0;
  for (int d = 0; d < 7; ++d) editor_.days[d] = days_[d]->isChecked();
  QTime s = start_->time(), e = end_->time();
  editor_.start = {s.hour(), s.minute(), s.second()};
  editor_.end = {e.hour(), e.minute(), e.second()};
  editor_.fileModes.selected = fileMode_->currentIndex();
  editor_.folderModes.selected = folderMode_->currentIndex();
}

void CRecordTaskDlg::FromEditor() {
  path_->setText(Q(editor_.path));
  mark_->setText(Q(editor_.mark));
  if (QAbstractButton* b = fileType_->button(editor_.fileType)) b->setChecked(true);
  startType_->button(editor_.startType)->setChecked(true);
  for (int d = 0; d < 7; ++d) days_[d]->setChecked(editor_.days[d]);
  start_->setTime(QTime(editor_.start.hour, editor_.start.minute, editor_.start.second));
  end_->setTime(QTime(editor_.end.hour, editor_.end.minute, editor_.end.second));
  FillCombo(fileMode_, editor_.fileModes);
  FillCombo(folderMode_, editor_.folderModes);
  UpdateEnabled();
}

void CRecordTaskDlg::UpdateEnabled() {
  RecordTaskEditor shown;
  shown.startType = startType_->checkedId() == 1 ? 1 : 0;
  bool on = shown.ScheduleControlsEnabled();
  start_->setEnabled(on);
  end_->setEnabled(on);
  for (QCheckBox* d : days_) d->setEnabled(on);
}

void CRecordTaskDlg::OnBrowse() {
  QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("文件夹"), path_->text(),
                                                     QFileDialog::ShowDirsOnly);
  if (folder.isEmpty()) return;
  ToEditor();
  editor_.path = S(folder);
  FromEditor();
}

// ------------------------------------------------------------ entry points

namespace {

// Runs a task dialog over the live; on OK hands back the stored task's id
// and its address.
template <typename Dlg, typename E>
DialogResult RunTaskDialog(QWidget* parent, int editId, int liveId, std::string E::*url) {
  Dlg dlg(parent);
  dlg.SetLiveId(liveId);
  dlg.SetTaskId(editId);
  DialogResult result;
  if (!ExecEditorDialog(dlg, editId)) return result;
  result.ok = true;
  result.id = dlg.GetTaskId();
  result.url = dlg.Editor().*url;
  return result;
}

}  // namespace

DialogResult RunForwardTaskDialog(QWidget* parent, int editId, int liveId) {
  return RunTaskDialog<CForwardTaskDlg>(parent, editId, liveId, &ForwardTaskEditor::forwardUrl);
}

DialogResult RunRecordTaskDialog(QWidget* parent, int editId, int liveId) {
  return RunTaskDialog<CRecordTaskDlg>(parent, editId, liveId, &RecordTaskEditor::path);
}

}  // namespace vvconsole
