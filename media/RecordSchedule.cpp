#include "media/RecordSchedule.h"

#include <deque>
#include <vector>

#include "core/DatabaseManager.h"
#include "media/LiveChannelManager.h"

bool InRecordWindow(const std::string& startTime, const std::string& endTime, const std::string& daysOfWeek,
                    const LocalTime& now) {
  std::string clock = FormatClockText(now);
  std::string day = std::to_string(now.weekday);
  return startTime <= clock && clock <= endTime && daysOfWeek.find(day) != std::string::npos;
}

// ------------------------------------------------- the manager's schedule

void CLiveChannelManager::AddSchedule(uint32_t id, RecordTaskInfo* record) {
  if (!record) return;
  RecordTaskInfo* surplus = nullptr;
  pthread_mutex_lock(&scheduleMutex);
  auto it = schedule.find(id);
  if (it == schedule.end()) {
    schedule[id] = record;
  } else {
    RecordTaskInfo* stored = it->second;
    stored->url = record->url;
    stored->days_of_week = record->days_of_week;
    stored->endTime = record->endTime;
    stored->startTime = record->startTime;
    stored->fileType = record->fileType;
    stored->recordType = record->recordType;
    stored->saveFolder = record->saveFolder;
    stored->status = record->status;
    surplus = record;
  }
  pthread_mutex_unlock(&scheduleMutex);
  delete surplus;
}

void CLiveChannelManager::SetScheduleType(uint32_t id, const RecordTaskInfo* record) {
  if (!record) return;
  pthread_mutex_lock(&scheduleMutex);
  auto it = schedule.find(id);
  if (it != schedule.end()) it->second->recordType = record->recordType;
  pthread_mutex_unlock(&scheduleMutex);
}

void CLiveChannelManager::RemoveSchedule(uint32_t id) {
  RecordTaskInfo* gone = nullptr;
  pthread_mutex_lock(&scheduleMutex);
  auto it = schedule.find(id);
  if (it != schedule.end()) {
    gone = it->second;
    schedule.erase(it);
  }
  pthread_mutex_unlock(&scheduleMutex);
  delete gone;
}

void* CLiveChannelManager::ScheduleThreadStart(void* self) {
  static_cast<CLiveChannelManager*>(self)->ScheduleThread();
  return nullptr;
}

void CLiveChannelManager::ScheduleThread() {
  CDatabaseManager& db = CDatabaseManager::Instance();
  for (LiveSourceType type : {LIVE_TYPE_DEVICE, LIVE_TYPE_NET, LIVE_TYPE_FILE, LIVE_TYPE_SUBSTREAM}) {
    std::deque<RecordTaskInfo*> tasks;
    db.GetScheduledRecordTasks(tasks, type);
    // An entry the console added or changed since this thread started is
    // newer than the rows just read: a task stopped by hand meanwhile would
    // otherwise become scheduled again.
    for (RecordTaskInfo* task : tasks) {
      pthread_mutex_lock(&scheduleMutex);
      bool known = !schedule.emplace(static_cast<uint32_t>(task->id), task).second;
      pthread_mutex_unlock(&scheduleMutex);
      if (known) delete task;
    }
  }
  while (!stopFlag) {
    RunSchedulePass(RecordClock::Now());
    SleepWhileRunning(1000);
  }
}

void CLiveChannelManager::RunSchedulePass(const LocalTime& now) {
  CDatabaseManager& db = CDatabaseManager::Instance();
  std::vector<uint32_t> toStop;
  pthread_mutex_lock(&scheduleMutex);
  for (auto it = schedule.begin(); it != schedule.end();) {
    RecordTaskInfo* task = it->second;
    if (task->recordType != 0) {
      delete task;
      it = schedule.erase(it);
      continue;
    }
    uint32_t id = it->first;
    bool inside = InRecordWindow(task->startTime, task->endTime, task->days_of_week, now);
    int state = FindItem(id, TASK_RECORD).state;
    if (inside && state == 0) {
      if (db.UpdateTaskStatus(id, TASK_RECORD, 1)) {
        PostRequest(new TaskRequest(id, TASK_RECORD, 1));
        db.SetLiveObject(id, 1);
      }
    } else if (!inside && state != 0) {
      if (db.UpdateTaskStatus(id, TASK_RECORD, 0)) {
        toStop.push_back(id);
        db.SetLiveObject(id, 0);
      }
    }
    ++it;
  }
  pthread_mutex_unlock(&scheduleMutex);
  // Stopping a recording writes its trailer; the console's AddSchedule and
  // RemoveSchedule need not wait for that.
  for (uint32_t id : toStop) StopTask(id, TASK_RECORD, 0);
}
