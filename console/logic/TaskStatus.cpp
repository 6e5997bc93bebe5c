#include "console/logic/TaskStatus.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>

#include "core/DatabaseManager.h"
#include "media/LiveChannelManager.h"

namespace {

CDatabaseManager& Db() { return CDatabaseManager::Instance(); }
CLiveChannelManager& Engine() { return *CLiveChannelManager::Instance(); }

std::string Num(long long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld", v);
  return buf;
}

template <class T>
void FreeAll(std::deque<T*>& list) {
  for (T* p : list) delete p;
  list.clear();
}

const char* const kRateZero = "0KB/S";

// The alias of a live item (source or sub-stream of that type), as a fill
// shows it from the joined source row; "" when there is no such item.
std::string AliasOfLive(int liveId, LiveSourceType type) {
  switch (type) {
    case LIVE_TYPE_DEVICE: {
      DeviceSourceInfo s;
      return Db().GetDeviceSource(s, liveId) ? s.alias : std::string();
    }
    case LIVE_TYPE_NET: {
      UrlSourceInfo s;
      return Db().GetNetSource(s, liveId) ? s.alias : std::string();
    }
    case LIVE_TYPE_FILE: {
      UrlSourceInfo s;
      return Db().GetFileSource(s, liveId) ? s.alias : std::string();
    }
    case LIVE_TYPE_SUBSTREAM: {
      SubStreamInfo s;
      return Db().GetSubStream(s, liveId) ? s.alias : std::string();
    }
    default: return std::string();
  }
}

}  // namespace

const std::vector<TaskColumn>& ForwardColumns() {
  static const std::vector<TaskColumn> columns = {{"序号", 50},         {"别名", 100},  {"码率(B/S)", 100},
                                                  {"转发URL", 200},     {"转发延迟属性", 100},
                                                  {"状态", 100},        {"备注", 100}};
  return columns;
}

const std::vector<TaskColumn>& RecordColumns() {
  static const std::vector<TaskColumn> columns = {
      {"序号", 50},      {"别名", 100},     {"码率(B/S)", 100}, {"已录像大小", 100}, {"文件类型", 100},
      {"录像路径", 100}, {"录像方式", 100}, {"状态", 100},      {"备注", 100}};
  return columns;
}

std::string DelayText(const ForwardTaskInfo& task) {
  if (task.buffer_enabled == 0) return "不延时";
  if (task.buffer_type == 0) return "内存方式，延时" + Num(task.buffer_time) + "秒";
  if (task.buffer_type == 1) return "文件方式，延时" + Num(task.buffer_time) + "秒";
  return "";
}

std::string RecordModeText(const RecordTaskInfo& task) {
  if (task.recordType != 0) return "手动";
  return "定时:" + task.days_of_week + "(" + task.startTime + "-" + task.endTime + ")";
}

std::string FileTypeText(int fileType) {
  switch (fileType) {
    case 0: return "ASF";
    case 1: return "FLV";
    case 2: return "MP4";
    default: return "";
  }
}

std::string NextDotStep(const std::string& current, const std::string& base) {
  for (int dots = 1; dots <= 4; ++dots) {
    if (current == base + std::string(dots, '.')) return base + std::string(dots + 1, '.');
  }
  return base + ".";
}

void ApplyForwardStatus(std::vector<std::string>& c, const TaskStatus& s) {
  if (c.size() < ForwardColumns().size()) c.resize(ForwardColumns().size());
  switch (s.state) {
    case 0: c[kFwdState] = s.message.empty() ? "未转发" : "未转发(" + s.message + ")"; break;
    case 1:
      c[kFwdState] = NextDotStep(c[kFwdState], "正在连接");
      c[kFwdRate] = kRateZero;
      break;
    case 2:
      c[kFwdRate] = Num(s.rate) + "KB/S";
      c[kFwdState] = "正在转发";
      c[kFwdNote] = "";
      break;
    case 3:
      c[kFwdState] = NextDotStep(c[kFwdState], "正在连接");
      c[kFwdNote] = s.message;
      c[kFwdRate] = kRateZero;
      break;
    case 4:
      c[kFwdState] = "正在缓冲...";
      if (c[kFwdDelay].find("内存方式") != std::string::npos || c[kFwdDelay].find("文件方式") != std::string::npos) {
        c[kFwdNote] = Num(s.delay / 1000) + "秒";
      }
      break;
    default: break;
  }
}

void ApplyRecordStatus(std::vector<std::string>& c, const TaskStatus& s) {
  if (c.size() < RecordColumns().size()) c.resize(RecordColumns().size());
  switch (s.state) {
    case 0: c[kRecState] = s.message.empty() ? "未录像" : "未录像(" + s.message + ")"; break;
    case 1:
      c[kRecState] = NextDotStep(c[kRecState], "正在缓冲");
      c[kRecNote] = s.message;
      c[kRecRate] = kRateZero;
      break;
    case 2:
      c[kRecRate] = Num(s.rate) + "KB/S";
      c[kRecSize] = Num(static_cast<long long>(s.fileSize / 1024)) + "KB";
      c[kRecState] = "正在录像";
      c[kRecNote] = "";
      break;
    default: break;
  }
}

CTaskStatusLogic::CTaskStatusLogic(IPrompt& prompt, ITaskDialogs& dialogs, COrderedWorker& worker)
    : prompt_(prompt), dialogs_(dialogs), worker_(worker) {}

void CTaskStatusLogic::Changed(int list) {
  if (observer_) observer_->ListChanged(list);
}

void CTaskStatusLogic::ShowTaskList(int button) {
  if (button == 0) mode_ = kForwardList;
  else if (button == 1) mode_ = kRecordList;
}

std::vector<int> CTaskStatusLogic::Valid(const std::vector<int>& rows) {
  std::vector<int> out;
  const int count = static_cast<int>(Front().size());
  for (int r : rows) {
    if (r >= 0 && r < count) out.push_back(r);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::vector<int> CTaskStatusLogic::SelectedIds(const std::vector<int>& rows) {
  std::vector<int> ids;
  for (int r : Valid(rows)) ids.push_back(Front()[static_cast<size_t>(r)].taskId);
  return ids;
}

TaskRow* CTaskStatusLogic::FindRow(int list, int taskId) {
  auto& rows = list == kRecordList ? records_ : forwards_;
  for (TaskRow& r : rows) {
    if (r.taskId == taskId) return &r;
  }
  return nullptr;
}

std::vector<std::string> CTaskStatusLogic::ForwardCells(const ForwardTaskInfo& t, size_t number, const char* state) {
  std::vector<std::string> c(ForwardColumns().size());
  c[kFwdNo] = Num(static_cast<long long>(number));
  c[kFwdAlias] = t.alias;
  c[kFwdRate] = kRateZero;
  c[kFwdUrl] = t.forward_url;
  c[kFwdDelay] = DelayText(t);
  c[kFwdState] = state;
  return c;
}

std::vector<std::string> CTaskStatusLogic::RecordCells(const RecordTaskInfo& t, size_t number) {
  std::vector<std::string> c(RecordColumns().size());
  c[kRecNo] = Num(static_cast<long long>(number));
  c[kRecAlias] = t.alias;
  c[kRecRate] = kRateZero;
  c[kRecSize] = "0KB";
  c[kRecType] = FileTypeText(t.fileType);
  c[kRecFolder] = t.saveFolder;
  c[kRecMode] = RecordModeText(t);
  c[kRecState] = "未录像";
  return c;
}

std::string CTaskStatusLogic::AliasOf(int liveId) const {
  // The tree told the type of the item it shows; any other item is known
  // to the live maps.
  LiveSourceType type = liveId == currentLiveId_ ? currentLiveType_ : LIVE_TYPE_NONE;
  if (type == LIVE_TYPE_NONE) type = Db().GetLiveType(liveId);
  return AliasOfLive(liveId, type);
}

void CTaskStatusLogic::FillTaskList(int liveId, LiveSourceType type) {
  currentLiveId_ = liveId;
  currentLiveType_ = type;
  if (mode_ != kForwardList && mode_ != kRecordList) return;
  const int list = mode_;
  // The live items whose tasks are listed, in order.
  std::vector<std::pair<int, LiveSourceType>> items;
  if (liveId != 0) {
    items.push_back({liveId, type});
  } else if (type == LIVE_TYPE_DEVICE || type == LIVE_TYPE_NET || type == LIVE_TYPE_FILE) {
    std::vector<std::pair<int, std::string>> sources;
    if (type == LIVE_TYPE_DEVICE) {
      std::deque<DeviceSourceInfo*> all;
      Db().GetAllDeviceSources(all);
      for (DeviceSourceInfo* s : all) sources.push_back({s->id, s->url});
      FreeAll(all);
    } else {
      std::deque<UrlSourceInfo*> all;
      if (type == LIVE_TYPE_NET) Db().GetAllNetSources(all);
      else Db().GetAllFileSources(all);
      for (UrlSourceInfo* s : all) sources.push_back({s->id, s->url});
      FreeAll(all);
    }
    for (const auto& source : sources) {
      items.push_back({source.first, type});
      std::deque<SubStreamInfo*> subs;
      Db().GetSubStreamByUrl(subs, source.second);
      for (SubStreamInfo* s : subs) items.push_back({s->id, LIVE_TYPE_SUBSTREAM});
      FreeAll(subs);
    }
  }
  std::vector<TaskRow>& rows = list == kRecordList ? records_ : forwards_;
  rows.clear();
  for (const auto& item : items) {
    if (list == kForwardList) {
      std::deque<ForwardTaskInfo*> tasks;
      Db().GetForwardTasksOfLive(tasks, item.first, item.second);
      for (ForwardTaskInfo* t : tasks) {
        const char* state =
            Engine().FindItem(static_cast<uint32_t>(t->id), TASK_FORWARD).state == 0 ? "未转发" : "正在转发";
        rows.push_back({t->id, ForwardCells(*t, rows.size() + 1, state)});
      }
      FreeAll(tasks);
    } else {
      std::deque<RecordTaskInfo*> tasks;
      Db().GetRecordTasksOfLive(tasks, item.first, item.second);
      for (RecordTaskInfo* t : tasks) {
        TaskRow row{t->id, RecordCells(*t, rows.size() + 1)};
        if (Engine().FindItem(static_cast<uint32_t>(t->id), TASK_RECORD).state != 0) row.cells[kRecState] = "正在录像";
        rows.push_back(std::move(row));
      }
      FreeAll(tasks);
    }
  }
  Changed(list);
}

void CTaskStatusLogic::ForgetLive(int liveId) {
  if (liveId == 0 || currentLiveId_ != liveId) return;
  currentLiveId_ = 0;
  currentLiveType_ = LIVE_TYPE_NONE;
  // Its tasks are gone with it.
  forwards_.clear();
  records_.clear();
  Changed(kForwardList);
  Changed(kRecordList);
}

void CTaskStatusLogic::Refresh() {
  if (mode_ != kForwardList && mode_ != kRecordList) return;
  for (TaskRow& row : Front()) {
    TaskStatus s = Engine().FindItem(static_cast<uint32_t>(row.taskId), static_cast<uint32_t>(mode_));
    if (mode_ == kForwardList) ApplyForwardStatus(row.cells, s);
    else ApplyRecordStatus(row.cells, s);
  }
  Changed(mode_);
}

void CTaskStatusLogic::StartTasks(const std::vector<int>& selection) {
  const int list = mode_;
  std::vector<int> ids = SelectedIds(selection);
  if (!prompt_.Ask(list == kForwardList ? "确定要开始转发吗?" : "确定要开始录像吗?")) return;
  const int note = list == kForwardList ? int(kFwdNote) : int(kRecNote);
  for (int id : ids) {
    if (Db().GetLiveObject(id) != 0) continue;
    if (Db().UpdateTaskStatus(id, list, 1)) {
      worker_.Run([id, list] {
        Engine().PostRequest(new TaskRequest(static_cast<uint32_t>(id), static_cast<uint32_t>(list), 1));
      });
      Db().SetLiveObject(id, 1);
    }
    if (TaskRow* row = FindRow(list, id)) row->cells[static_cast<size_t>(note)].clear();
  }
  Changed(list);
}

void CTaskStatusLogic::StopTasks(const std::vector<int>& selection) {
  const int list = mode_;
  std::vector<int> ids = SelectedIds(selection);
  if (!prompt_.Ask(list == kForwardList ? "确定要停止转发吗?" : "确定要停止录像吗?")) return;
  const size_t note = list == kForwardList ? size_t(kFwdNote) : size_t(kRecNote);
  std::weak_ptr<bool> alive = alive_.Watch();
  for (int id : ids) {
    if (list == kRecordList) {
      // A scheduled task stopped by hand becomes manual. Without its row
      // there is nothing to rewrite.
      RecordTaskInfo rec;
      if (Db().GetRecordTask(rec, id)) {
        rec.recordType = 1;
        Engine().SetScheduleType(static_cast<uint32_t>(id), &rec);
        Db().UpdateRecordTask(rec, id);
      }
    }
    if (Db().UpdateTaskStatus(id, list, 0)) {
      Db().SetLiveObject(id, 0);
      worker_.Run(
          [id, list] {
            Engine().RemoveRequest(static_cast<uint32_t>(id));
            Engine().StopTask(static_cast<uint32_t>(id), static_cast<uint32_t>(list), 0);
          },
          [this, alive, id, list, note] {
            if (alive.expired()) return;
            if (TaskRow* done = FindRow(list, id)) {
              done->cells[kFwdRate] = kRateZero;
              done->cells[note].clear();
              Changed(list);
            }
          });
    } else if (TaskRow* row = FindRow(list, id)) {
      row->cells[kFwdRate] = kRateZero;
      row->cells[note].clear();
    }
  }
  Changed(list);
}

void CTaskStatusLogic::DeleteTasks(const std::vector<int>& selection) {
  const int list = mode_;
  // Every id is taken before the first row goes.
  std::vector<int> ids = SelectedIds(selection);
  if (!prompt_.Ask("确定删除吗？")) return;
  for (int id : ids) {
    bool deleted = list == kForwardList ? Db().DeleteForwardTask(id) : Db().DeleteRecordTask(id);
    if (!deleted) continue;
    if (list == kRecordList) Engine().RemoveSchedule(static_cast<uint32_t>(id));
    worker_.Run([id, list] {
      Engine().RemoveRequest(static_cast<uint32_t>(id));
      Engine().StopTask(static_cast<uint32_t>(id), static_cast<uint32_t>(list), 0);
    });
    auto& front = Front();
    front.erase(std::remove_if(front.begin(), front.end(), [id](const TaskRow& r) { return r.taskId == id; }),
                front.end());
  }
  Changed(list);
}

void CTaskStatusLogic::AddTask() {
  if (currentLiveId_ == 0) {
    prompt_.Message("请先选择直播通道");
    return;
  }
  const int list = mode_;
  if (list != kForwardList && list != kRecordList) return;
  int id = dialogs_.RunTaskDialog(list, 0, currentLiveId_);
  if (id == 0) return;
  auto& rows = list == kRecordList ? records_ : forwards_;
  if (list == kForwardList) {
    ForwardTaskInfo t;
    if (!Db().GetForwardTask(t, id)) return;
    t.alias = AliasOf(t.live_id);
    rows.push_back({id, ForwardCells(t, rows.size() + 1, "")});
  } else {
    auto rec = std::make_unique<RecordTaskInfo>();
    if (!Db().GetRecordTask(*rec, id)) return;
    rec->alias = AliasOf(rec->live_id);
    rows.push_back({id, RecordCells(*rec, rows.size() + 1)});
    if (rec->recordType == 0) Engine().AddSchedule(static_cast<uint32_t>(id), rec.release());
  }
  Changed(list);
}

void CTaskStatusLogic::EditTask(const std::vector<int>& selection) {
  const int list = mode_;
  std::vector<int> rows = Valid(selection);
  if (rows.empty()) {
    prompt_.Message("请先选择编辑任务");
    return;
  }
  if (rows.size() > 1) {
    prompt_.Message("一次只能编辑一个任务");
    return;
  }
  const int id = Front()[static_cast<size_t>(rows[0])].taskId;
  if (Engine().FindItem(static_cast<uint32_t>(id), static_cast<uint32_t>(list)).state != 0) {
    prompt_.Message(list == kForwardList ? "正在转发，不能编辑" : "正在录像，不能编辑");
    return;
  }
  // The task stays with its own live item, whatever the tree shows.
  int liveId = currentLiveId_;
  int own = 0;
  if (list == kForwardList ? Db().GetForwardTaskLiveId(id, own) : Db().GetRecordTaskLiveId(id, own)) liveId = own;
  if (dialogs_.RunTaskDialog(list, id, liveId) == 0) return;
  TaskRow* row = FindRow(list, id);
  if (list == kForwardList) {
    ForwardTaskInfo t;
    if (!Db().GetForwardTask(t, id) || !row) return;
    std::string alias = AliasOf(t.live_id);
    if (!alias.empty()) row->cells[kFwdAlias] = alias;  // else the fill's stays
    row->cells[kFwdRate] = kRateZero;
    row->cells[kFwdUrl] = t.forward_url;
    row->cells[kFwdDelay] = DelayText(t);
  } else {
    auto rec = std::make_unique<RecordTaskInfo>();
    if (!Db().GetRecordTask(*rec, id)) return;
    if (row) {
      std::string alias = AliasOf(rec->live_id);
      if (!alias.empty()) row->cells[kRecAlias] = alias;
      row->cells[kRecRate] = kRateZero;
      row->cells[kRecSize] = "0KB";
      row->cells[kRecType] = FileTypeText(rec->fileType);
      row->cells[kRecFolder] = rec->saveFolder;
      row->cells[kRecMode] = RecordModeText(*rec);
      row->cells[kRecState] = "未录像";
    }
    if (rec->recordType == 0) Engine().AddSchedule(static_cast<uint32_t>(id), rec.release());
    else Engine().SetScheduleType(static_cast<uint32_t>(id), rec.get());  // off the schedule
  }
  Changed(list);
}

TaskMenu CTaskStatusLogic::ContextMenu(const std::vector<int>& selection) {
  TaskMenu menu;
  std::vector<int> rows = Valid(selection);
  if (rows.empty()) return menu;
  menu.show = true;
  if (rows.size() == 1) {
    bool running = Db().GetLiveObject(Front()[static_cast<size_t>(rows[0])].taskId) != 0;
    menu.startEnabled = !running;
    menu.deleteEnabled = !running;
    menu.stopEnabled = running;
  }
  return menu;
}
