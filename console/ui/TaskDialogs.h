#pragma once
// The forward task and record task dialogs over their editors. The caller
// sets the live id, the task id and the mode, runs the dialog, and reads the
// stored task's id after OK.
#include <QDialog>
#include <memory>

#include "console/logic/Prompt.h"
#include "console/logic/TaskEditors.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

namespace vvconsole {

class CForwardTaskDlg : public QDialog {
  Q_OBJECT

 public:
  // prompt: where messages go (message boxes when null).
  explicit CForwardTaskDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr);
  ~CForwardTaskDlg() override;
  void SetLiveId(int id) { liveId_ = id; }
  void SetTaskId(int id) { taskId_ = id; }
  void SetEditMode(bool edit) { editMode_ = edit; }
  int GetTaskId() const { return editor_.taskId; }
  // Loads the row and shows the values; runs once, before the first show.
  void InitDialog();
  ForwardTaskEditor& Editor() { return editor_; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ToEditor();
  void FromEditor();
  void UpdateEnabled();

  std::unique_ptr<IPrompt> ownPrompt_;
  IPrompt* prompt_;
  ForwardTaskEditor editor_;
  int liveId_ = 0;
  int taskId_ = 0;
  bool editMode_ = false;
  bool initialised_ = false;
  QLineEdit* url_;
  QCheckBox* delay_;
  QSpinBox* seconds_;
  QRadioButton* memory_;
  QRadioButton* file_;
  QSpinBox* slice_;
};

class CRecordTaskDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CRecordTaskDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr);
  ~CRecordTaskDlg() override;
  void SetLiveId(int id) { liveId_ = id; }
  void SetTaskId(int id) { taskId_ = id; }
  void SetEditMode(bool edit) { editMode_ = edit; }
  int GetTaskId() const { return editor_.taskId; }
  void InitDialog();
  RecordTaskEditor& Editor() { return editor_; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ToEditor();
  void FromEditor();
  void UpdateEnabled();
  void OnBrowse();

  std::unique_ptr<IPrompt> ownPrompt_;
  IPrompt* prompt_;
  RecordTaskEditor editor_;
  int liveId_ = 0;
  int taskId_ = 0;
  bool editMode_ = false;
  bool initialised_ = false;
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
