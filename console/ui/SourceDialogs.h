#pragma once
// The source and sub-stream dialogs over their editors: capture devices,
// network addresses, media files and sub-streams.
#include <string>

#include "console/logic/SourceEditors.h"
#include "console/ui/DialogParts.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace vvconsole {

class CCheckGroup;

// A source dialog: the source row it edits.
template <typename E>
class CSourceDlg : public CEditorDlg<E> {
 public:
  void SetSourceId(int id) { sourceId_ = id; }

 protected:
  using CEditorDlg<E>::CEditorDlg;

  int sourceId_ = 0;
};

class CCreateDeviceDlg : public CSourceDlg<DeviceSourceEditor> {
  Q_OBJECT

 public:
  // sources: where the devices are listed from (the machine's when omitted).
  explicit CCreateDeviceDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr,
                            CaptureDeviceSources sources = CaptureDeviceSources::System());
  ~CCreateDeviceDlg() override;

 private:
  void LoadEditor() override;
  void ToEditor() override;
  void FromEditor();

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
class CUrlSourceDlg : public CSourceDlg<UrlSourceEditor> {
  Q_OBJECT

 public:
  CUrlSourceDlg(LiveSourceType type, QWidget* parent, IPrompt* prompt);
  ~CUrlSourceDlg() override;

 protected:
  void LoadEditor() override;
  void ToEditor() override;
  void OnBrowse();

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

class SubStreamDlg : public CEditorDlg<SubStreamEditor> {
  Q_OBJECT

 public:
  explicit SubStreamDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr);
  ~SubStreamDlg() override;
  void SetSubStreamId(int id) { id_ = id; }
  void SetSourceUrl(const std::string& url) { sourceUrl_ = url; }
  int GetSubStreamId() const { return editor_.subStreamId; }

 private:
  void LoadEditor() override;
  void ToEditor() override;
  void FromEditor();

  int id_ = 0;
  std::string sourceUrl_;
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
