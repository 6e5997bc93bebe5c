#include "console/ui/DialogParts.h"

#include <QPushButton>

#include "console/ui/MessageBox.h"

namespace vvconsole {

QDialogButtonBox* MakeOkCancel(QDialog* dialog) {
  auto* box = new QDialogButtonBox(dialog);
  QPushButton* ok = box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  ok->setObjectName(QStringLiteral("1"));
  cancel->setObjectName(QStringLiteral("2"));
  ok->setDefault(true);
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

CEditorDlgBase::CEditorDlgBase(QWidget* parent, IPrompt* prompt) : QDialog(parent), prompt_(prompt) {
  if (!prompt_) {
    ownPrompt_ = std::make_unique<MessageBoxPrompt>(this);
    prompt_ = ownPrompt_.get();
  }
}

CEditorDlgBase::~CEditorDlgBase() = default;

void CEditorDlgBase::InitDialog() {
  if (initialised_) return;
  initialised_ = true;
  LoadEditor();
}

void CEditorDlgBase::showEvent(QShowEvent* event) {
  InitDialog();
  QDialog::showEvent(event);
}

void CEditorDlgBase::accept() {
  ToEditor();
  if (SubmitEditor()) QDialog::accept();
}

bool ExecEditorDialog(CEditorDlgBase& dlg, int editId) {
  dlg.SetEditMode(editId != 0);
  return dlg.exec() == QDialog::Accepted;
}

}  // namespace vvconsole
