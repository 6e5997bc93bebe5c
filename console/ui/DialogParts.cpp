#include "console/ui/DialogParts.h"

#include <QDialog>
#include <QPushButton>

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

}  // namespace vvconsole
