#include "console/logic/TaskEditors.h"

#include <algorithm>
#include <cstdio>

#include "console/logic/SourceEditors.h"
#include "core/DatabaseManager.h"
#include "core/IniFileEx.h"
#include "media/LiveChannelManager.h"

using vvforms::CheckRange;
using vvforms::kDatabaseWriteFailed;

// ---------------------------------------------------------------- forward

void ForwardTaskEditor::Load(bool edit, int live, int task) {
  editMode = edit;
  liveId = live;
  taskId = task;
  if (!editMode) return;
  ForwardTaskInfo row;
  if (!CDatabaseManager::Instance().GetForwardTask(row, task)) return;
  forwardUrl = row.forward_url;
  loadedUrl = row.forward_url;
  delayEnabled = row.buffer_enabled == 1;
  delaySeconds = row.buffer_time;
  sliceSeconds = row.slice_seconds;
  bufferType = row.buffer_type == 1 ? 1 : 0;
  liveId = row.live_id;
}

ForwardTaskInfo ForwardTaskEditor::BuildRow() const {
  ForwardTaskInfo row;
  row.id = taskId;
  row.live_id = liveId;
  row.forward_url = forwardUrl;
  row.buffer_enabled = delayEnabled ? 1 : 0;
  row.buffer_time = static_cast<int>(delaySeconds);
  row.buffer_type = bufferType;
  row.slice_seconds = static_cast<int>(sliceSeconds);
  row.status = 0;
  return row;
}

bool ForwardTaskEditor::Submit(IPrompt& prompt) {
  if (!CheckRange(prompt, delaySeconds, 0, vvforms::kMaxDelaySeconds) ||
      !CheckRange(prompt, sliceSeconds, 0, vvforms::kMaxInt))
    return false;
  if (forwardUrl.empty()) {
    prompt.Message("参数没有填写完整");
    return false;
  }
  if (delayEnabled) {
    if (delaySeconds == 0) {
      prompt.Message("延时时间不正确");
      return false;
    }
    if (delaySeconds > 30 && bufferType == 0) {
      prompt.Message("超过30秒不能使用内存缓存");
      return false;
    }
    if (bufferType == 1 && sliceSeconds < 10) {
      prompt.Message("文件切片时间不能少于10秒");
      return false;
    }
    if (bufferType == 1 && sliceSeconds >= delaySeconds) {
      prompt.Message("文件切片时间必须小于延时时间");
      return false;
    }
  }
  ForwardTaskInfo row = BuildRow();
  CDatabaseManager& db = CDatabaseManager::Instance();
  bool found = false;
  if (db.FindForwardTask(row, found) && found && forwardUrl != loadedUrl) {
    prompt.Message("该地址已经存在");
    return false;
  }
  bool stored;
  if (editMode) {
    stored = db.UpdateForwardTask(row, taskId);
  } else {
    int newId = 0;
    stored = db.InsertForwardTask(row, newId, db.GetLiveType(liveId));
    if (stored) taskId = newId;
  }
  if (!stored) {
    prompt.Message(kDatabaseWriteFailed);
    return false;
  }
  return true;
}

// ----------------------------------------------------------------- record

std::string RecordTaskEditor::Clock::Text() const {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
  return text;
}

namespace {

RecordTaskEditor::Clock ParseClock(const std::string& text, RecordTaskEditor::Clock fallback) {
  int h = 0, m = 0, s = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%d", &h, &m, &s) != 3 || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 ||
      s > 59)
    return fallback;
  return {h, m, s};
}

}  // namespace

void RecordTaskEditor::Load(bool edit, int live, int task, const std::string& settingsPath) {
  editMode = edit;
  liveId = live;
  taskId = task;
  if (!editMode) {
    CIniFileEx ini(settingsPath);
    path = ini.GetString("RECORD", "DEFAULT_PATH", "");
    fileType = ini.GetInt("RECORD", "DEFAULT_FILE_TYPE", 1);
    if (fileType < 0 || fileType > 2) fileType = 1;
    return;
  }
  RecordTaskInfo row;
  if (!CDatabaseManager::Instance().GetRecordTask(row, task)) return;
  loadedFileType = row.fileType;
  loadedFolder = row.saveFolder;
  loadedRecordType = row.recordType;
  fileModes.selected = std::clamp(row.fileMod, 0, 1);
  folderModes.selected = std::clamp(row.direMod, 0, 1);
  path = row.saveFolder;
  mark = row.name;
  fileType = std::clamp(row.fileType, 0, 2);
  startType = row.recordType == 0 ? 0 : 1;
  for (int d = 0; d < 7; ++d) days[d] = row.days_of_week.find(std::to_string(d + 1)) != std::string::npos;
  start = ParseClock(row.startTime, start);
  end = ParseClock(row.endTime, end);
  liveId = row.live_id;
}

std::string RecordTaskEditor::DaysOfWeek() const {
  std::string text;
  for (int d = 0; d < 7; ++d) {
    if (!days[d]) continue;
    if (!text.empty()) text += ";";
    text += std::to_string(d + 1);
  }
  return text;
}

RecordTaskInfo RecordTaskEditor::BuildRow() const {
  RecordTaskInfo row;
  row.id = taskId;
  row.live_id = liveId;
  row.status = 0;
  row.fileType = fileType;
  row.recordType = startType;
  row.saveFolder = path;
  row.name = mark;
  row.fileMod = std::max(fileModes.selected, 0);
  row.direMod = std::max(folderModes.selected, 0);
  row.startTime = start.Text();
  row.endTime = end.Text();
  row.days_of_week = DaysOfWeek();
  return row;
}

bool RecordTaskEditor::Submit(IPrompt& prompt) {
  if (path.empty()) {
    prompt.Message("参数没有填写完整");
    return false;
  }
  // The mark is put in front of file names inside the record folder.
  if (mark.find('/') != std::string::npos || mark.find("..") != std::string::npos) {
    prompt.Message("文件标识不能包含\"/\"或\"..\"");
    return false;
  }
  RecordTaskInfo row = BuildRow();
  if (startType == 0 && !(row.startTime < row.endTime)) {
    prompt.Message("时间设置不正确");
    return false;
  }
  CDatabaseManager& db = CDatabaseManager::Instance();
  bool found = false;
  if (db.FindRecordTask(row, found) && found && !(loadedFileType == fileType && loadedFolder == path)) {
    prompt.Message("该地址已经存在");
    return false;
  }
  bool stored;
  if (editMode) {
    stored = db.UpdateRecordTask(row, taskId);
  } else {
    int newId = 0;
    stored = db.InsertRecordTask(row, newId, db.GetLiveType(liveId));
    if (stored) taskId = newId;
  }
  if (!stored) {
    prompt.Message(kDatabaseWriteFailed);
    return false;
  }
  if (editMode && loadedRecordType == 0 && row.recordType != 0) {
    row.id = taskId;
    if (scheduleTypeChanged)
      scheduleTypeChanged(taskId, row);
    else
      CLiveChannelManager::Instance()->SetScheduleType(static_cast<uint32_t>(taskId), &row);
  }
  return true;
}
