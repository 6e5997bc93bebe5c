#pragma once
// What the forward and record task dialogs hold, check and store.
#include <array>
#include <functional>
#include <string>

#include "console/logic/FormChecks.h"
#include "console/logic/Prompt.h"
#include "core/RowRecords.h"

class ForwardTaskEditor {
 public:
  // Edit mode reads the task's row; the task keeps its own live item.
  void Load(bool editMode, int liveId, int taskId);
  // true once the row is stored (taskId is then the row's id).
  bool Submit(IPrompt& prompt);
  ForwardTaskInfo BuildRow() const;

  // Which controls the delay settings leave enabled.
  bool DelayEditEnabled() const { return delayEnabled; }
  bool CacheChoiceEnabled() const { return delayEnabled; }
  bool SliceEditEnabled() const { return delayEnabled && bufferType == 1; }

  bool editMode = false;
  int liveId = 0;
  int taskId = 0;
  std::string loadedUrl;
  std::string forwardUrl;
  bool delayEnabled = false;
  long long delaySeconds = 20;
  int bufferType = 0;  // 0 memory, 1 slice files
  long long sliceSeconds = 10;
};

class RecordTaskEditor {
 public:
  // Told when an edited task stops being scheduled (the recording schedule
  // drops it); by default the live-channel manager's SetScheduleType.
  std::function<void(int taskId, const RecordTaskInfo& row)> scheduleTypeChanged;

  // New tasks take their folder and file type from section RECORD of the
  // settings file at settingsPath.
  void Load(bool editMode, int liveId, int taskId, const std::string& settingsPath);
  bool Submit(IPrompt& prompt);
  RecordTaskInfo BuildRow() const;
  // "1;2;...": the numbers of the ticked days.
  std::string DaysOfWeek() const;

  // The time pickers and weekday boxes work for scheduled tasks only.
  bool ScheduleControlsEnabled() const { return startType == 0; }

  struct Clock {
    int hour = 0, minute = 0, second = 0;
    std::string Text() const;
  };

  bool editMode = false;
  int liveId = 0;
  int taskId = 0;
  int loadedFileType = 0;
  std::string loadedFolder;
  int loadedRecordType = 1;
  std::string path;
  std::string mark;  // stored as the task's name
  int fileType = 0;  // 0 ASF, 1 FLV, 2 MP4
  int startType = 0;  // 0 scheduled, 1 manual
  std::array<bool, 7> days{{true, true, true, true, true, true, true}};  // Monday first
  Clock start{0, 0, 0};
  Clock end{23, 59, 59};
  vvforms::Choice fileModes{{"追加", "新文件"}, 1};
  vvforms::Choice folderModes{{"按日期", "单个文件"}, 0};
};
