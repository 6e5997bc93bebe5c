#include "console/logic/SourceTree.h"

#include <deque>
#include <memory>

#include "console/logic/LiveList.h"
#include "console/logic/SourceLabel.h"
#include "core/DatabaseManager.h"
#include "media/LiveChannelManager.h"

namespace {

CDatabaseManager& Db() { return CDatabaseManager::Instance(); }

const char* RootLabel(LiveSourceType type) {
  switch (type) {
    case LIVE_TYPE_DEVICE: return "设备源";
    case LIVE_TYPE_NET: return "网络源";
    default: return "文件源";
  }
}

template <class T>
void FreeAll(std::deque<T*>& list) {
  for (T* p : list) delete p;
  list.clear();
}

// The rows of one source table, read as (id, alias, url, status).
struct SourceRow {
  int id;
  std::string alias;
  std::string url;
  int status;
};

std::vector<SourceRow> ReadSources(LiveSourceType type) {
  std::vector<SourceRow> rows;
  if (type == LIVE_TYPE_DEVICE) {
    std::deque<DeviceSourceInfo*> list;
    Db().GetAllDeviceSources(list);
    for (DeviceSourceInfo* s : list) rows.push_back({s->id, s->alias, s->url, s->status});
    FreeAll(list);
  } else {
    std::deque<UrlSourceInfo*> list;
    if (type == LIVE_TYPE_NET) Db().GetAllNetSources(list);
    else Db().GetAllFileSources(list);
    for (UrlSourceInfo* s : list) rows.push_back({s->id, s->alias, s->url, s->status});
    FreeAll(list);
  }
  return rows;
}

std::vector<SourceRow> ReadSubStreams(const std::string& url) {
  std::vector<SourceRow> rows;
  std::deque<SubStreamInfo*> list;
  Db().GetSubStreamByUrl(list, url);
  for (SubStreamInfo* s : list) rows.push_back({s->id, s->alias, s->url, s->status});
  FreeAll(list);
  return rows;
}

std::vector<int> ForwardTaskIds(int liveId) {
  std::deque<ForwardTaskInfo*> list;
  Db().GetForwardTasksOfLive(list, liveId, LIVE_TYPE_NONE);
  std::vector<int> ids;
  for (ForwardTaskInfo* t : list) ids.push_back(t->id);
  FreeAll(list);
  return ids;
}

std::vector<int> RecordTaskIds(int liveId) {
  std::deque<RecordTaskInfo*> list;
  Db().GetRecordTasksOfLive(list, liveId, LIVE_TYPE_NONE);
  std::vector<int> ids;
  for (RecordTaskInfo* t : list) ids.push_back(t->id);
  FreeAll(list);
  return ids;
}

}  // namespace

CSourceTreeLogic::CSourceTreeLogic(IPrompt& prompt, ISourceTreeDialogs& dialogs, COrderedWorker& worker)
    : prompt_(prompt), dialogs_(dialogs), worker_(worker) {}

int CSourceTreeLogic::IdleImage(const SourceNode* node) {
  if (node->IsSubStream()) return kImageSubIdle;
  switch (node->type) {
    case LIVE_TYPE_DEVICE: return kImageDeviceIdle;
    case LIVE_TYPE_NET: return kImageNetIdle;
    default: return kImageFileIdle;
  }
}

int CSourceTreeLogic::LiveImage(const SourceNode* node) {
  return node->IsSubStream() ? kImageSubLive : kImageSourceLive;
}

SourceNode* CSourceTreeLogic::Insert(SourceNode* parent, const std::string& label, int image, int id,
                                     LiveSourceType type) {
  auto node = std::make_unique<SourceNode>();
  node->id = id;
  node->type = type;
  node->label = label;
  node->image = image;
  node->parent = parent;
  SourceNode* raw = node.get();
  if (parent) parent->children.push_back(std::move(node));
  else roots_.push_back(std::move(node));
  if (observer_) observer_->NodeInserted(raw);
  return raw;
}

void CSourceTreeLogic::Remove(SourceNode* node) {
  if (!node) return;
  if (observer_) observer_->NodeRemoved(node);
  auto& list = node->parent ? node->parent->children : roots_;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->get() == node) {
      list.erase(it);
      return;
    }
  }
}

void CSourceTreeLogic::SetImage(SourceNode* node, int image) {
  node->image = image;
  if (observer_) observer_->NodeChanged(node);
}

void CSourceTreeLogic::Expand(SourceNode* node) {
  node->expanded = true;
  if (observer_) observer_->NodeChanged(node);
}

SourceNode* CSourceTreeLogic::Root(LiveSourceType type) {
  for (auto& r : roots_) {
    if (r->type == type) return r.get();
  }
  return nullptr;
}

SourceNode* CSourceTreeLogic::FindNode(int id) {
  if (id == 0) return nullptr;
  for (auto& root : roots_) {
    for (auto& source : root->children) {
      if (source->id == id) return source.get();
      for (auto& sub : source->children) {
        if (sub->id == id) return sub.get();
      }
    }
  }
  return nullptr;
}

// ------------------------------------------------------------------ restore

void CSourceTreeLogic::RestoreLiveItem(int id, LiveSourceType type, int status) {
  if (status != 0) {
    CLiveChannelManager::Instance()->PostRequest(new TaskRequest(static_cast<uint32_t>(id), TASK_LIVE, 1));
  }
  Db().AddLiveItem(id, type, status);
}

void CSourceTreeLogic::RestoreTasks(int liveId, LiveSourceType type) {
  std::deque<ForwardTaskInfo*> forwards;
  Db().GetForwardTasksOfLive(forwards, liveId, type);
  for (ForwardTaskInfo* t : forwards) {
    if (t->status != 0) {
      CLiveChannelManager::Instance()->PostRequest(new TaskRequest(static_cast<uint32_t>(t->id), TASK_FORWARD, 1));
    }
    Db().AddLiveItem(t->id, type, t->status);
  }
  FreeAll(forwards);
  std::deque<RecordTaskInfo*> records;
  Db().GetRecordTasksOfLive(records, liveId, type);
  for (RecordTaskInfo* t : records) {
    if (t->status != 0) {
      CLiveChannelManager::Instance()->PostRequest(new TaskRequest(static_cast<uint32_t>(t->id), TASK_RECORD, 1));
    }
    Db().AddLiveItem(t->id, type, t->status);
  }
  FreeAll(records);
}

void CSourceTreeLogic::Restore() {
  for (LiveSourceType type : {LIVE_TYPE_DEVICE, LIVE_TYPE_NET, LIVE_TYPE_FILE}) {
    SourceNode* root = Insert(nullptr, RootLabel(type), type - 1, 0, type);
    for (const SourceRow& row : ReadSources(type)) {
      SourceNode* node = Insert(root, MakeSourceLabel(row.alias, row.url),
                                row.status != 0 ? kImageSourceLive : type - 1, row.id, type);
      RestoreLiveItem(row.id, type, row.status);
      RestoreTasks(row.id, type);
      for (const SourceRow& sub : ReadSubStreams(row.url)) {
        Insert(node, MakeSourceLabel(sub.alias, sub.url), sub.status != 0 ? kImageSubLive : kImageSubIdle, sub.id,
               LIVE_TYPE_SUBSTREAM);
        RestoreLiveItem(sub.id, LIVE_TYPE_SUBSTREAM, sub.status);
        RestoreTasks(sub.id, LIVE_TYPE_SUBSTREAM);
      }
    }
    Expand(root);
  }
}

SourceNode* CSourceTreeLogic::AddSourceItem(LiveSourceType type, const std::string& label, int id) {
  SourceNode* root = Root(type);
  if (!root) return nullptr;
  SourceNode* node = Insert(root, label, type - 1, id, type);
  Expand(root);
  return node;
}

// ----------------------------------------------------------------- commands

void CSourceTreeLogic::QueuePost(int id, int kind) {
  worker_.Run([id, kind] {
    CLiveChannelManager::Instance()->PostRequest(
        new TaskRequest(static_cast<uint32_t>(id), static_cast<uint32_t>(kind), 1));
  });
}

void CSourceTreeLogic::QueueStop(int id, int kind) {
  // A start still waiting in the manager would run the task again after the
  // stop: it goes first.
  worker_.Run([id, kind] {
    CLiveChannelManager* manager = CLiveChannelManager::Instance();
    manager->RemoveRequest(static_cast<uint32_t>(id));
    manager->StopTask(static_cast<uint32_t>(id), static_cast<uint32_t>(kind), 0);
  });
}

void CSourceTreeLogic::StartLive(SourceNode* node) {
  if (!node || node->IsRoot()) return;
  if (!prompt_.Ask("确定直播吗？")) return;
  const int id = node->id;
  const int port = LocalLivePort();
  auto liveUrl = std::make_shared<std::string>();
  std::weak_ptr<bool> alive = alive_.Watch();
  worker_.Run([liveUrl, port] { *liveUrl = ListLiveInfos(port); },
              [this, alive, id, liveUrl] {
                if (alive.expired()) return;
                SourceNode* n = FindNode(id);
                if (!n) return;  // deleted while the query ran
                LiveStatusInfo info;
                info.id = id;
                info.type = n->type;
                info.live_url = *liveUrl;
                info.status = 1;
                if (info.live_url.empty()) {
                  prompt_.Message("直播服务器没有开启");
                  return;
                }
                if (Db().GetLiveObject(id) == 1) {
                  prompt_.Message("该频道正在直播");
                  return;
                }
                if (!Db().UpdateLiveStatus(info)) return;
                Db().SetLiveObject(id, 1);
                QueuePost(id, TASK_LIVE);
                SetImage(n, LiveImage(n));
              });
}

void CSourceTreeLogic::StopLive(SourceNode* node) {
  if (!node) return;
  if (!prompt_.Ask("确定停止直播吗？")) return;
  if (node->IsRoot()) return;
  const int id = node->id;
  LiveStatusInfo info;
  info.id = id;
  info.type = node->type;
  info.status = 0;
  if (!Db().UpdateLiveStatus(info)) return;
  Db().SetLiveObject(id, 0);
  QueueStop(id, TASK_LIVE);
  std::weak_ptr<bool> alive = alive_.Watch();
  worker_.Run({}, [this, alive, id] {
    if (alive.expired()) return;
    SourceNode* n = FindNode(id);
    // Only when no start came meanwhile.
    if (n && Db().GetLiveObject(id) == 0) SetImage(n, IdleImage(n));
  });
}

void CSourceTreeLogic::EditSource(SourceNode* node) {
  if (!node || node->IsRoot()) return;
  const int id = node->id;
  SourceEditResult r = node->IsSubStream() ? dialogs_.RunSubStreamDialog(id, std::string())
                                           : dialogs_.RunSourceDialog(node->type, id);
  if (!r.ok) return;
  SourceNode* n = FindNode(id);  // still the same node after the modal dialog
  if (!n) return;
  n->label = MakeSourceLabel(r.alias, r.url);
  if (observer_) observer_->NodeChanged(n);
}

bool CSourceTreeLogic::ReadSourceUrl(const SourceNode* node, std::string& url) {
  if (node->type == LIVE_TYPE_DEVICE) {
    DeviceSourceInfo d;
    if (!Db().GetDeviceSource(d, node->id)) return false;
    url = d.url;
    return true;
  }
  UrlSourceInfo u;
  bool ok = node->type == LIVE_TYPE_NET ? Db().GetNetSource(u, node->id) : Db().GetFileSource(u, node->id);
  if (ok) url = u.url;
  return ok;
}

void CSourceTreeLogic::AddSubStream(SourceNode* node) {
  if (!node || !node->IsSource()) return;
  const int id = node->id;
  std::string url;
  if (!ReadSourceUrl(node, url)) return;
  SourceEditResult r = dialogs_.RunSubStreamDialog(0, url);
  if (!r.ok) return;
  SourceNode* source = FindNode(id);
  if (!source) return;
  Insert(source, MakeSourceLabel(r.alias, r.url), kImageSubIdle, r.id, LIVE_TYPE_SUBSTREAM);
  Expand(source->parent);
  Expand(source);
}

bool CSourceTreeLogic::DeleteForward(int taskId) {
  if (!Db().DeleteForwardTask(taskId)) return false;
  QueueStop(taskId, TASK_FORWARD);
  return true;
}

bool CSourceTreeLogic::DeleteRecord(int taskId) {
  if (!Db().DeleteRecordTask(taskId)) return false;
  CLiveChannelManager::Instance()->RemoveSchedule(static_cast<uint32_t>(taskId));
  QueueStop(taskId, TASK_RECORD);
  return true;
}

void CSourceTreeLogic::DeleteSource(SourceNode* node) {
  if (!node || node->IsRoot()) return;
  const int id = node->id;
  const LiveSourceType type = node->type;
  if (node->IsSource()) {
    std::string url;
    std::vector<SourceRow> subs;
    if (ReadSourceUrl(node, url)) subs = ReadSubStreams(url);
    if (!subs.empty()) {
      if (!prompt_.Ask("请先删除所有子码流及其所有任务吗？")) return;
      for (const SourceRow& s : subs) {
        for (int t : ForwardTaskIds(s.id)) DeleteForward(t);
        for (int t : RecordTaskIds(s.id)) DeleteRecord(t);
        bool live = Db().GetLiveObject(s.id) == 1;
        if (Db().DeleteLiveItem(s.id, LIVE_TYPE_SUBSTREAM)) {
          if (live) QueueStop(s.id, TASK_LIVE);
          if (SourceNode* n = FindNode(s.id)) Remove(n);
          if (taskList_) taskList_->ForgetLive(s.id);
        }
      }
    }
  }
  if (!prompt_.Ask("确定删除吗？")) return;
  std::vector<int> forwards = ForwardTaskIds(id);
  if (!forwards.empty()) {
    if (!prompt_.Ask("该频道的转发将被删除")) return;
    for (int t : forwards) DeleteForward(t);
  }
  std::vector<int> records = RecordTaskIds(id);
  if (!records.empty()) {
    if (!prompt_.Ask("该频道的录像将被删除")) return;
    for (int t : records) DeleteRecord(t);
  }
  bool stopLive = false;
  if (Db().GetLiveObject(id) == 1) {
    if (!prompt_.Ask("该频道的直播将被删除")) return;
    stopLive = true;
  }
  if (!Db().DeleteLiveItem(id, type)) return;
  if (stopLive) QueueStop(id, TASK_LIVE);
  if (SourceNode* n = FindNode(id)) Remove(n);
  if (taskList_) taskList_->ForgetLive(id);
}

SourceMenu CSourceTreeLogic::ContextMenu(SourceNode* node) {
  SourceMenu menu;
  if (!node) return menu;
  if (node->IsRoot()) {
    menu.kind = SourceMenu::kAddDialog;
    menu.addType = node->type;
    return menu;
  }
  menu.kind = node->IsSource() ? SourceMenu::kSourceMenu : SourceMenu::kSubStreamMenu;
  bool running = Db().GetLiveObject(node->id) == 1;
  menu.startLiveEnabled = !running;
  menu.stopLiveEnabled = running;
  return menu;
}

void CSourceTreeLogic::RunAddDialog(LiveSourceType type) {
  SourceEditResult r = dialogs_.RunSourceDialog(type, 0);
  // The dialog puts its node in through the tree's add operations; one that
  // did not still gets it.
  if (r.ok && r.id != 0 && !FindNode(r.id)) AddSourceItem(type, MakeSourceLabel(r.alias, r.url), r.id);
}

void CSourceTreeLogic::SelectionChanged(SourceNode* node) {
  if (!node || !taskList_) return;
  if (node->IsRoot()) taskList_->FillTaskList(0, node->type);
  else taskList_->FillTaskList(node->id, node->type);
}

std::string CSourceTreeLogic::TipText(int id) {
  if (Db().GetLiveObject(id) == 0) return "";
  SourceNode* node = FindNode(id);
  LiveSourceType type = node ? node->type : Db().GetLiveType(id);
  switch (type) {
    case LIVE_TYPE_DEVICE: {
      DeviceSourceInfo d;
      return Db().GetDeviceSource(d, id) ? d.live_url : "";
    }
    case LIVE_TYPE_NET:
    case LIVE_TYPE_FILE: {
      UrlSourceInfo u;
      bool ok = type == LIVE_TYPE_NET ? Db().GetNetSource(u, id) : Db().GetFileSource(u, id);
      return ok ? u.live_url : "";
    }
    case LIVE_TYPE_SUBSTREAM: {
      SubStreamInfo s;
      return Db().GetSubStream(s, id) ? s.live_url : "";
    }
    default: return "";
  }
}
