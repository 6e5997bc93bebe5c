#pragma once
// The source and sub-stream dialogs over their editors: capture devices,
// network addresses, media files and sub-streams.
#include <QDialog>
#include <memory>

#include "console/logic/Prompt.h"
#include "console/logic/SourceEditors.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace vvconsole {

class CCheckGroup;

class CCreateDeviceDlg : public QDialog {
  Q_OBJECT

 public:
  // sources: where the devices are listed from (the machine's when omitted).
  explicit CCreateDeviceDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr,
                            CaptureDeviceSources sources = CaptureDeviceSources::System());
  ~CCreateDeviceDlg() override;
  void SetEditMode(bool edit) { editMode_ = edit; }
  void SetSourceId(int id) { sourceId_ = id; }
  void InitDialog();
  DeviceSourceEditor& Editor() { return editor_; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ToEditor();
  void FromEditor();

  std::unique_ptr<IPrompt> ownPrompt_;
  IPrompt* prompt_;
  DeviceSourceEditor editor_;
  bool editMode_ = false;
  int sourceId_ = 0;
  bool initialised_ = false;
  QLineEdit* alias_;
  CCheckGroup* videoGroup_;
  QComboBox* videoDevice_;
  QComboBox* size_;
  QSpinBox* gop_;
  QSpinBox* bitRate_;
  QSpinBox* frame_;
  CCheckGroup* audioGroup_;
  QComboBox* audioDevice_;
  QComboBox* line_;
  QComboBox* sampleRate_;
  QComboBox* audioBitRate_;
  QSlider* volume_;
  QRadioButton* mono_;
  QRadioButton* stereo_;
};

// The network (net true) and the file source dialog.
class CUrlSourceDlg : public QDialog {
  Q_OBJECT

 public:
  CUrlSourceDlg(LiveSourceType type, QWidget* parent, IPrompt* prompt);
  ~CUrlSourceDlg() override;
  void SetEditMode(bool edit) { editMode_ = edit; }
  void SetSourceId(int id) { sourceId_ = id; }
  void InitDialog();
  UrlSourceEditor& Editor() { return editor_; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void OnBrowse();

  std::unique_ptr<IPrompt> ownPrompt_;
  IPrompt* prompt_;
  UrlSourceEditor editor_;
  bool editMode_ = false;
  int sourceId_ = 0;
  bool initialised_ = false;
  QLineEdit* alias_;
  QLineEdit* url_;
};

class CCreateNetUrlDlg : public CUrlSourceDlg {
  Q_OBJECT
 public:
  explicit CCreateNetUrlDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr)
      : CUrlSourceDlg(LIVE_TYPE_NET, parent, prompt) {}
};

class CCreateFileDlg : public CUrlSourceDlg {
  Q_OBJECT
 public:
  explicit CCreateFileDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr)
      : CUrlSourceDlg(LIVE_TYPE_FILE, parent, prompt) {}
};

class SubStreamDlg : public QDialog {
  Q_OBJECT

 public:
  explicit SubStreamDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr);
  ~SubStreamDlg() override;
  void SetEditMode(bool edit) { editMode_ = edit; }
  void SetSubStreamId(int id) { id_ = id; }
  void SetSourceUrl(const std::string& url) { sourceUrl_ = url; }
  int GetSubStreamId() const { return editor_.subStreamId; }
  void InitDialog();
  SubStreamEditor& Editor() { return editor_; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ToEditor();
  void FromEditor();

  std::unique_ptr<IPrompt> ownPrompt_;
  IPrompt* prompt_;
  SubStreamEditor editor_;
  bool editMode_ = false;
  int id_ = 0;
  std::string sourceUrl_;
  bool initialised_ = false;
  QLineEdit* alias_;
  CCheckGroup* videoGroup_;
  QComboBox* videoCodec_;
  QComboBox* color_;
  QComboBox* size_;
  QSpinBox* bitRate_;
  QSpinBox* gop_;
  QSpinBox* frameRate_;
  CCheckGroup* audioGroup_;
  QComboBox* audioCodec_;
  QComboBox* sampleRate_;
  QComboBox* audioBitRate_;
  QRadioButton* mono_;
  QRadioButton* stereo_;
};

}  // namespace vvconsole
