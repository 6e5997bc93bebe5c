#pragma once
// Small builders the console's dialogs share: controls named by their
// control id, combo boxes filled from a choice, and the OK/Cancel row.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <string>

#include "console/logic/FormChecks.h"

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

}  // namespace vvconsole
