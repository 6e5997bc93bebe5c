#pragma once
// The source tree of the console without its widget: three roots (device,
// network and file sources), the sources under them, each source's
// sub-streams under the source. It restores the running state at start-up
// and carries the tree's commands: start and stop live publishing, edit,
// delete and add sub-stream. The widget mirrors the nodes through
// ISourceTreeObserver and hands in the node a command acts on.
#include <memory>
#include <string>
#include <vector>

#include "console/logic/OrderedWorker.h"
#include "console/logic/Prompt.h"
#include "core/RowRecords.h"

// Images of the tree, in the order of the image list.
enum SourceTreeImage {
  kImageDeviceIdle = 0,  // device root; device source not live
  kImageNetIdle = 1,     // network root; network source not live
  kImageFileIdle = 2,    // file root; file source not live
  kImageSourceLive = 3,  // any source that is live
  kImageSubLive = 4,     // sub-stream that is live
  kImageSubIdle = 5,     // sub-stream not live
};

struct SourceNode {
  int id = 0;                           // the row id; 0 for a root
  LiveSourceType type = LIVE_TYPE_NONE;  // the root's type for roots and sources, 4 for sub-streams
  std::string label;
  int image = 0;
  bool expanded = false;
  SourceNode* parent = nullptr;
  std::vector<std::unique_ptr<SourceNode>> children;

  bool IsRoot() const { return parent == nullptr; }
  bool IsSubStream() const { return parent && parent->parent; }
  bool IsSource() const { return parent && !parent->parent; }
};

class ISourceTreeObserver {
 public:
  virtual ~ISourceTreeObserver() = default;
  virtual void NodeInserted(SourceNode* node) = 0;  // appended last under its parent
  virtual void NodeChanged(SourceNode* node) = 0;   // label, image or expansion
  virtual void NodeRemoved(SourceNode* node) = 0;   // before the node and its children go
};

// What a source dialog reports.
struct SourceEditResult {
  bool ok = false;
  int id = 0;
  std::string alias;
  std::string url;
};

// The dialogs the tree opens; each writes its own row.
class ISourceTreeDialogs {
 public:
  virtual ~ISourceTreeDialogs() = default;
  virtual SourceEditResult RunSourceDialog(LiveSourceType type, int editId) = 0;
  virtual SourceEditResult RunSubStreamDialog(int editId, const std::string& sourceUrl) = 0;
};

// Told when the tree's selection changes and when a live item is gone.
class ITaskListLink {
 public:
  virtual ~ITaskListLink() = default;
  virtual void FillTaskList(int liveId, LiveSourceType type) = 0;
  virtual void ForgetLive(int liveId) = 0;
};

// The context menu of a node.
struct SourceMenu {
  enum Kind { kNone, kAddDialog, kSourceMenu, kSubStreamMenu } kind = kNone;
  LiveSourceType addType = LIVE_TYPE_NONE;  // kAddDialog: the root's type
  bool startLiveEnabled = false;
  bool stopLiveEnabled = false;
};

class CSourceTreeLogic {
 public:
  CSourceTreeLogic(IPrompt& prompt, ISourceTreeDialogs& dialogs, COrderedWorker& worker);
  CSourceTreeLogic(const CSourceTreeLogic&) = delete;
  CSourceTreeLogic& operator=(const CSourceTreeLogic&) = delete;

  void SetObserver(ISourceTreeObserver* observer) { observer_ = observer; }
  void SetTaskList(ITaskListLink* link) { taskList_ = link; }

  // Start-up: builds the three roots from the database and restores the
  // running state (the live maps and a start request for every row whose
  // status is non-zero).
  void Restore();

  // After a source dialog stored a new row.
  SourceNode* AddSourceItem(LiveSourceType type, const std::string& label, int id);

  // Commands; node is the selected node (null: nothing).
  void StartLive(SourceNode* node);
  void StopLive(SourceNode* node);
  void EditSource(SourceNode* node);
  void AddSubStream(SourceNode* node);
  void DeleteSource(SourceNode* node);
  SourceMenu ContextMenu(SourceNode* node);
  // A root chosen on a right-click: its add dialog; the node is added unless
  // the dialog added it already.
  void RunAddDialog(LiveSourceType type);
  void SelectionChanged(SourceNode* node);
  // The live address shown in the tip for the node of that id; "" when the
  // node is not live.
  std::string TipText(int id);

  SourceNode* Root(LiveSourceType type);
  const std::vector<std::unique_ptr<SourceNode>>& Roots() const { return roots_; }
  SourceNode* FindNode(int id);

 private:
  SourceNode* Insert(SourceNode* parent, const std::string& label, int image, int id, LiveSourceType type);
  void Remove(SourceNode* node);
  void SetImage(SourceNode* node, int image);
  void Expand(SourceNode* node);
  void RestoreLiveItem(int id, LiveSourceType type, int status);
  void RestoreTasks(int liveId, LiveSourceType type);
  bool ReadSourceUrl(const SourceNode* node, std::string& url);
  // Deletes the row of a task (and its schedule entry) and queues its stop.
  bool DeleteForward(int taskId);
  bool DeleteRecord(int taskId);
  void QueueStop(int id, int kind);
  void QueuePost(int id, int kind);
  static int IdleImage(const SourceNode* node);
  static int LiveImage(const SourceNode* node);

  IPrompt& prompt_;
  ISourceTreeDialogs& dialogs_;
  COrderedWorker& worker_;
  ISourceTreeObserver* observer_ = nullptr;
  ITaskListLink* taskList_ = nullptr;
  std::vector<std::unique_ptr<SourceNode>> roots_;
  CAliveToken alive_;
};
