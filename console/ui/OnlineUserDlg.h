#pragma once
// The online users dialog "在线用户管理": a checkable list of connected
// users with two selection boxes that exclude each other. Nothing in the
// system supplies users, so the list stays empty; "断开连接" and "刷新"
// empty it.
#include <QDialog>

class QCheckBox;
class QTableWidget;
class IPrompt;

namespace vvconsole {

class COnlineUserDlg : public QDialog {
  Q_OBJECT

 public:
  // prompt: where the question goes (null: message boxes).
  explicit COnlineUserDlg(QWidget* parent = nullptr, IPrompt* prompt = nullptr);
  ~COnlineUserDlg() override;

  QTableWidget* List() const { return list_; }
  // Rows whose check box is ticked.
  int CheckedRows() const;

  void OnSelectHighlighted();  // 1036
  void OnSelectAll();          // 1037
  void OnDisconnect();         // 1035
  void OnRefresh();            // 1045

 private:
  void CheckAll(bool on);

  IPrompt* prompt_;
  IPrompt* ownPrompt_ = nullptr;
  QTableWidget* list_;
  QCheckBox* selectHighlighted_;
  QCheckBox* selectAll_;
};

}  // namespace vvconsole
