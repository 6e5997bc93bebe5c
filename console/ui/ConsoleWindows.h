#pragma once
// The entry points through which the console's windows reach one another:
// the frame creates the pane views and opens its dialogs through these, the
// source tree and the task view open the source, sub-stream and task dialogs,
// and the source dialogs add their new node to the tree. Each window's own
// classes stay private to its files.
#include <string>

class QWidget;

namespace vvconsole {

// ---- Pane views (the frame's left pane tabs and its right pane). Each is
// created once, as a child of parent, with its control id as objectName.
QWidget* CreateIxoPullStreamView(QWidget* parent);      // "1099"
QWidget* CreateIxoTransferStreamView(QWidget* parent);  // "1100"
QWidget* CreateSourceListView(QWidget* parent);         // "1114", restores the running state
QWidget* CreateStreamStatuView(QWidget* parent);        // "1116"

// ---- Dialogs of the frame (toolbar and tray commands), all modal.
void RunSetupSheet(QWidget* parent);        // "设置"
void RunLogDialog(QWidget* parent);         // "日志列表"
void RunOnlineUserDialog(QWidget* parent);  // "在线用户管理"
// The CPU load panel that the toolbar hosts at its right end.
QWidget* CreateCpuNetInfoDlg(QWidget* parent);

// ---- Source, sub-stream and task dialogs, all modal. editId 0 opens the
// dialog in add mode, any other value edits that row. The dialog checks its
// input and writes its own row; ok is true only when a row was stored.
struct DialogResult {
  bool ok = false;
  int id = 0;           // the row stored (the new id when adding)
  std::string alias;    // the source's or sub-stream's alias as stored
  std::string url;      // the source's url as stored (sub-stream: its source's url)
};
DialogResult RunDeviceSourceDialog(QWidget* parent, int editId);
DialogResult RunNetSourceDialog(QWidget* parent, int editId);
DialogResult RunFileSourceDialog(QWidget* parent, int editId);
// sourceUrl: the url of the source a new sub-stream belongs to (add mode).
DialogResult RunSubStreamDialog(QWidget* parent, int editId, const std::string& sourceUrl);
// liveId: the live item (source or sub-stream) the task belongs to.
DialogResult RunForwardTaskDialog(QWidget* parent, int editId, int liveId);
DialogResult RunRecordTaskDialog(QWidget* parent, int editId, int liveId);

// ---- The source tree, as the source dialogs see it: after a successful add
// the dialog inserts the new node ("[alias]url" label, the row id).
class ISourceTree {
 public:
  virtual ~ISourceTree() = default;
  virtual void AddDeviceSourceItem(const std::string& label, int id) = 0;
  virtual void AddNetSourceItem(const std::string& label, int id) = 0;
  virtual void AddFileSourceItem(const std::string& label, int id) = 0;
};
// The application's source-tree pointer: null until the tree registers itself.
ISourceTree* SourceTree();
void SetSourceTree(ISourceTree* tree);

}  // namespace vvconsole
