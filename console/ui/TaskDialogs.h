#pragma once
// The forward task and record task dialogs over their editors. The caller
// sets the live id, the task id and the mode, runs the dialog, and reads the
// stored task's id after OK.
#include "console/logic/TaskEditors.h"
#include "console/ui/DialogParts.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

namespace vvconsole {

// A task dialog: the live it belongs to and the task row it edits.
template <typename E>
class CTaskDlg : public CEditorDlg<E> {
 public:
  void SetLiveId(int id) { liveId_ = id; }
  void SetTaskId(int id) { taskId_ = id; }
  int GetTaskId() const { return this->editor_.taskId; }

 protected:
  using CEditorDlg<E>::CEditorDlg;

  int liveId_ = 0;
  int taskId_ = 0;
};

class CForwardTaskDlg : public CTaskDlg<ForwardTaskEditor> {
  Q_OBJECT

 public:
  // prompt: where messages go (message boxes when null).
  explicit CForwardTaskDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr);
  ~CForwardTaskDlg() override;

 private:
  void LoadEditor() override;
  void ToEditor() override;
  void FromEditor();
  void UpdateEnabled();

  QLineEdit* url_;
  QCheckBox* delay_;
  QSpinBox* seconds_;
  QRadioButton* memory_;
  QRadioButton* file_;
  QSpinBox* slice_;
};

class CRecordTaskDlg : public CTaskDlg<RecordTaskEditor> {
  Q_OBJECT

 public:
  explicit CRecordTaskDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr);
  ~CRecordTaskDlg() override;

 private:
  void LoadEditor() override;
  void ToEditor() override;
  void FromEditor();
  void UpdateEnabled();
  void OnBrowse();

  QLineEdit* path_;
  QLineEdit* mark_;
  QButtonGroup* fileType_;
  QButtonGroup* startType_;
  QCheckBox* days_[7];
  QTimeEdit* start_;
  QTimeEdit* end_;
  QComboBox* fileMode_;
  QComboBox* folderMode_;
};

}  // namespace vvconsole
