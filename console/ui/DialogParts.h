#pragma once
// Small builders the console's dialogs share: controls named by their
// control id, combo boxes filled from a choice, and the OK/Cancel row.
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <memory>
#include <string>
#include <utility>

#include "console/logic/FormChecks.h"
#include "console/logic/Prompt.h"

namespace vvconsole {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

template <typename W>
W* Named(W* w, int id) {
  w->setObjectName(QString::number(id));
  return w;
}

inline QSpinBox* MakeSpin(QWidget* parent, int id, int min, int max) {
  QSpinBox* s = Named(new QSpinBox(parent), id);
  s->setRange(min, max);
  s->setButtonSymbols(QAbstractSpinBox::NoButtons);
  s->setMinimumWidth(80);
  return s;
}

// Replaces the items and the selection of a combo box.
inline void FillCombo(QComboBox* combo, const vvforms::Choice& choice) {
  QSignalBlocker block(combo);
  combo->clear();
  for (const std::string& item : choice.items) combo->addItem(Q(item));
  combo->setCurrentIndex(choice.selected);
}

// "确定" (control 1) and "取消" (control 2) wired to accept and reject.
QDialogButtonBox* MakeOkCancel(QDialog* dialog);

// The frame of a dialog over an editor: messages go to the given prompt (a
// message box prompt of its own when none is given); the editor is loaded
// once, before the first show; OK moves the controls into the editor and
// closes only when the editor stores.
class CEditorDlgBase : public QDialog {
  Q_OBJECT

 public:
  ~CEditorDlgBase() override;
  void SetEditMode(bool edit) { editMode_ = edit; }
  // Loads the row and shows the values; runs once, before the first show.
  void InitDialog();

 public slots:
  void accept() override;

 protected:
  CEditorDlgBase(QWidget* parent, IPrompt* prompt);
  void showEvent(QShowEvent* event) override;
  IPrompt& Prompt() { return *prompt_; }
  // Loads the editor and shows its values.
  virtual void LoadEditor() = 0;
  // Moves what the controls show into the editor.
  virtual void ToEditor() = 0;
  // Checks and stores the editor; true when stored.
  virtual bool SubmitEditor() = 0;

  bool editMode_ = false;

 private:
  std::unique_ptr<IPrompt> ownPrompt_;
  IPrompt* prompt_;
  bool initialised_ = false;
};

template <typename E>
class CEditorDlg : public CEditorDlgBase {
 public:
  E& Editor() { return editor_; }

 protected:
  template <typename... Args>
  CEditorDlg(QWidget* parent, IPrompt* prompt, Args&&... editorArgs)
      : CEditorDlgBase(parent, prompt), editor_(std::forward<Args>(editorArgs)...) {}
  bool SubmitEditor() override { return editor_.Submit(Prompt()); }

  E editor_;
};

// Sets the edit mode from the row id (0 creates) and runs the dialog; true
// on OK.
bool ExecEditorDialog(CEditorDlgBase& dlg, int editId);

}  // namespace vvconsole
