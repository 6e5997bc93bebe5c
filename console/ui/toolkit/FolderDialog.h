#pragma once
// The folder chooser (CFolderDialog): a modal folder browser with a title,
// an optional root folder, an optional folder selected at start and browse
// flags: a tree of folders from the root down. Subclasses react to
// the browser through the FolderChooser hooks (OnInitialized,
// OnSelChanged, OnValidateFailed) and command it while a hook runs.
#include <QPointer>
#include <QString>

#include "console/logic/toolkit/FolderChooserModel.h"

class QWidget;

namespace vvconsole {

class CFolderDialog : public FolderChooser {
 public:
  // A null start folder selects nothing at start.
  CFolderDialog(const QString& title, const QString& startFolder = QString(),
                QWidget* parent = nullptr, unsigned flags = kBifReturnOnlyFsDirs);

  // kFolderIdOk (1), kFolderNoPath (-1) or kFolderIdCancel (2).
  int DoModal();
  QString FolderPath() const { return QString::fromStdString(GetFolderPath()); }
  bool SetRootFolder(const QString& path);  // a null path removes the root

 protected:
  void ErrorBeep() override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace vvconsole
