#include "console/ui/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace vvconsole {

static QString Title() { return QStringLiteral("Velvanet"); }

void ShowMessage(QWidget* parent, const std::string& text) {
  QMessageBox box(QMessageBox::Information, Title(), QString::fromStdString(text),
                  QMessageBox::NoButton, parent);
  box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
  box.exec();
}

bool AskYesNo(QWidget* parent, const std::string& text) {
  QMessageBox box(QMessageBox::Question, Title(), QString::fromStdString(text),
                  QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

}  // namespace vvconsole
