#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <fstream>

#include "console/logic/TaskEditors.h"
#include "core/DatabaseManager.h"
#include "media/LiveChannelManager.h"
#include "media/RecordClock.h"
#include "tests/console/logic/EditorFixture.h"

using vvtest::RecordingPrompt;

namespace {

CDatabaseManager& Db() { return CDatabaseManager::Instance(); }

class ForwardEditorTest : public vvtest::EditorTest {
 protected:
  int Add(int liveId, const std::string& url) {
    ForwardTaskEditor e;
    e.Load(false, liveId, 0);
    e.forwardUrl = url;
    RecordingPrompt p;
    EXPECT_TRUE(e.Submit(p)) << p.Last();
    return e.taskId;
  }
};

}  // namespace

TEST_F(ForwardEditorTest, DefaultsAndEnabledControls) {
  ForwardTaskEditor e;
  e.Load(false, 7, 0);
  EXPECT_FALSE(e.delayEnabled);
  EXPECT_EQ(e.delaySeconds, 20);
  EXPECT_EQ(e.bufferType, 0);
  EXPECT_EQ(e.sliceSeconds, 10);
  EXPECT_FALSE(e.DelayEditEnabled());
  EXPECT_FALSE(e.CacheChoiceEnabled());
  EXPECT_FALSE(e.SliceEditEnabled());
  e.delayEnabled = true;
  EXPECT_TRUE(e.DelayEditEnabled());
  EXPECT_TRUE(e.CacheChoiceEnabled());
  EXPECT_FALSE(e.SliceEditEnabled());
  e.bufferType = 1;
  EXPECT_TRUE(e.SliceEditEnabled());
}

TEST_F(ForwardEditorTest, Checks) {
  struct Case {
    const char* url;
    bool delay;
    long long seconds;
    int type;
    long long slice;
    const char* message;  // "" = stored
  } cases[] = {
      {"", false, 20, 0, 10, "参数没有填写完整"},
      {"", true, 0, 0, 10, "参数没有填写完整"},
      {"rtmp://127.0.0.1/live/a", true, 0, 0, 10, "延时时间不正确"},
      {"rtmp://127.0.0.1/live/b", true, 31, 0, 10, "超过30秒不能使用内存缓存"},
      {"rtmp://127.0.0.1/live/c", true, 30, 0, 10, ""},
      {"rtmp://127.0.0.1/live/d", true, 20, 1, 20, "文件切片时间必须小于延时时间"},
      {"rtmp://127.0.0.1/live/e", true, 20, 1, 9, "文件切片时间不能少于10秒"},
      {"rtmp://127.0.0.1/live/f", true, 20, 1, 10, ""},
      {"rtmp://127.0.0.1/live/g", true, 300, 1, 299, ""},
      {"rtmp://127.0.0.1/live/h", false, 0, 0, 0, ""},
      {"rtmp://127.0.0.1/live/i", false, 1000000001, 0, 10, "请输入一个介于 0 和 1000000000 之间的整数。"},
      {"rtmp://127.0.0.1/live/j", true, 20, 1, -1, "请输入一个介于 0 和 2147483647 之间的整数。"},
  };
  for (const Case& c : cases) {
    ForwardTaskEditor e;
    e.Load(false, 7, 0);
    e.forwardUrl = c.url;
    e.delayEnabled = c.delay;
    e.delaySeconds = c.seconds;
    e.bufferType = c.type;
    e.sliceSeconds = c.slice;
    RecordingPrompt p;
    bool stored = e.Submit(p);
    if (*c.message) {
      EXPECT_FALSE(stored) << c.url;
      EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.url;
      continue;
    }
    ASSERT_TRUE(stored) << c.url << ": " << p.Last();
    ForwardTaskInfo row;
    ASSERT_TRUE(Db().GetForwardTask(row, e.taskId));
    EXPECT_EQ(row.forward_url, c.url);
    EXPECT_EQ(row.live_id, 7);
    EXPECT_EQ(row.buffer_enabled, c.delay ? 1 : 0);
    EXPECT_EQ(row.buffer_time, c.seconds);
    EXPECT_EQ(row.buffer_type, c.type);
    EXPECT_EQ(row.slice_seconds, c.slice);
    EXPECT_EQ(row.status, 0);
  }
}

// A task is unique per live item and url; an edit keeps its url and its
// own live item, whatever live item the caller had selected.
TEST_F(ForwardEditorTest, DuplicatesAndEdit) {
  Sql("insert into NetSource_info (url,alias) values ('udp://@1.2.3.4:5','源')");
  Db().AddLiveItem(100000001, LIVE_TYPE_NET, 0);
  int a = Add(100000001, "rtmp://127.0.0.1/live/a");
  int b = Add(100000001, "rtmp://127.0.0.1/live/b");
  EXPECT_EQ(Db().GetLiveType(b), LIVE_TYPE_NET);
  int other = Add(100000002, "rtmp://127.0.0.1/live/a");
  EXPECT_NE(other, a);

  RecordingPrompt p;
  ForwardTaskEditor dup;
  dup.Load(false, 100000001, 0);
  dup.forwardUrl = "rtmp://127.0.0.1/live/a";
  EXPECT_FALSE(dup.Submit(p));
  EXPECT_EQ(p.Last(), "该地址已经存在");

  Sql("update forward_task set status=1 where id=" + std::to_string(b));
  ForwardTaskEditor edit;
  edit.Load(true, 100000002, b);
  EXPECT_EQ(edit.liveId, 100000001);
  EXPECT_EQ(edit.forwardUrl, "rtmp://127.0.0.1/live/b");
  edit.delayEnabled = true;
  edit.delaySeconds = 25;
  ASSERT_TRUE(edit.Submit(p)) << p.Last();
  ForwardTaskInfo row;
  ASSERT_TRUE(Db().GetForwardTask(row, b));
  EXPECT_EQ(row.live_id, 100000001);
  EXPECT_EQ(row.buffer_time, 25);
  EXPECT_EQ(row.status, 0);
  EXPECT_EQ(edit.taskId, b);

  // Renaming it to its sibling's url is refused (checked on its own live item).
  edit.forwardUrl = "rtmp://127.0.0.1/live/a";
  size_t before = p.messages.size();
  EXPECT_FALSE(edit.Submit(p));
  ASSERT_EQ(p.messages.size(), before + 1);
  EXPECT_EQ(p.Last(), "该地址已经存在");

  Sql("create trigger no_update before update on forward_task begin select raise(abort, 'refused'); end");
  edit.forwardUrl = "rtmp://127.0.0.1/live/z";
  EXPECT_FALSE(edit.Submit(p));
  EXPECT_EQ(p.Last(), vvforms::kDatabaseWriteFailed);
}

// ----------------------------------------------------------------- record

namespace {

class RecordEditorTest : public vvtest::EditorTest {
 protected:
  std::string Settings(const std::string& text) {
    std::string path = dir_->file("system.ini");
    std::ofstream(path) << text;
    return path;
  }
  RecordTaskEditor New(int liveId, const std::string& folder, int fileType) {
    RecordTaskEditor e;
    e.Load(false, liveId, 0, Settings(""));
    e.path = folder;
    e.fileType = fileType;
    return e;
  }
};

}  // namespace

TEST_F(RecordEditorTest, DefaultsFromSettings) {
  RecordTaskEditor plain;
  plain.Load(false, 1, 0, Settings("[OTHER]\nA=1\n"));
  EXPECT_EQ(plain.path, "");
  EXPECT_EQ(plain.fileType, 1);
  EXPECT_EQ(plain.startType, 0);
  EXPECT_EQ(plain.start.Text(), "00:00:00");
  EXPECT_EQ(plain.end.Text(), "23:59:59");
  EXPECT_EQ(plain.DaysOfWeek(), "1;2;3;4;5;6;7");
  EXPECT_EQ(plain.fileModes.SelectedText(), "新文件");
  EXPECT_EQ(plain.folderModes.SelectedText(), "按日期");
  EXPECT_TRUE(plain.ScheduleControlsEnabled());
  plain.startType = 1;
  EXPECT_FALSE(plain.ScheduleControlsEnabled());

  RecordTaskEditor set;
  set.Load(false, 1, 0, Settings("[RECORD]\nDEFAULT_PATH=/srv/录像\nDEFAULT_FILE_TYPE=2\n"));
  EXPECT_EQ(set.path, "/srv/录像");
  EXPECT_EQ(set.fileType, 2);
}

TEST_F(RecordEditorTest, Checks) {
  struct Case {
    const char* name;
    const char* path;
    const char* mark;
    int startType;
    RecordTaskEditor::Clock start, end;
    const char* message;
  } cases[] = {
      {"no path", "", "", 0, {0, 0, 0}, {23, 59, 59}, "参数没有填写完整"},
      {"slash in mark", "/srv/rec1", "a/b", 0, {0, 0, 0}, {23, 59, 59}, "文件标识不能包含\"/\"或\"..\""},
      {"dots in mark", "/srv/rec2", "..", 1, {0, 0, 0}, {23, 59, 59}, "文件标识不能包含\"/\"或\"..\""},
      {"equal times", "/srv/rec3", "甲", 0, {8, 0, 0}, {8, 0, 0}, "时间设置不正确"},
      {"across midnight", "/srv/rec4", "甲", 0, {23, 0, 0}, {1, 0, 0}, "时间设置不正确"},
      {"manual ignores times", "/srv/rec5", "a.b", 1, {8, 0, 0}, {8, 0, 0}, ""},
      {"window", "/srv/rec6", "晚间", 0, {20, 0, 0}, {22, 30, 5}, ""},
  };
  for (const Case& c : cases) {
    RecordTaskEditor e = New(9, c.path, 0);
    e.mark = c.mark;
    e.startType = c.startType;
    e.start = c.start;
    e.end = c.end;
    RecordingPrompt p;
    bool stored = e.Submit(p);
    if (*c.message) {
      EXPECT_FALSE(stored) << c.name;
      EXPECT_EQ(p.messages, std::vector<std::string>{c.message}) << c.name;
      continue;
    }
    ASSERT_TRUE(stored) << c.name << ": " << p.Last();
    RecordTaskInfo row;
    ASSERT_TRUE(Db().GetRecordTask(row, e.taskId));
    EXPECT_EQ(row.saveFolder, c.path);
    EXPECT_EQ(row.name, c.mark);
    EXPECT_EQ(row.recordType, c.startType);
    EXPECT_EQ(row.startTime, c.start.Text());
    EXPECT_EQ(row.endTime, c.end.Text());
    EXPECT_EQ(row.fileMod, 1);
    EXPECT_EQ(row.direMod, 0);
    EXPECT_EQ(row.live_id, 9);
  }
}

// Weekdays round-trip; duplicates are per live item, type and folder; an
// edit keeps its own live item.
TEST_F(RecordEditorTest, DaysDuplicatesAndEdit) {
  RecordTaskEditor weekend = New(9, "/srv/rec", 0);
  weekend.days = {false, false, false, false, false, true, true};
  RecordingPrompt p;
  ASSERT_TRUE(weekend.Submit(p)) << p.Last();
  RecordTaskInfo row;
  ASSERT_TRUE(Db().GetRecordTask(row, weekend.taskId));
  EXPECT_EQ(row.days_of_week, "6;7");

  RecordTaskEditor same = New(9, "/srv/rec", 0);
  EXPECT_FALSE(same.Submit(p));
  EXPECT_EQ(p.Last(), "该地址已经存在");
  RecordTaskEditor otherType = New(9, "/srv/rec", 2);
  ASSERT_TRUE(otherType.Submit(p)) << p.Last();
  RecordTaskEditor otherLive = New(10, "/srv/rec", 0);
  ASSERT_TRUE(otherLive.Submit(p)) << p.Last();

  RecordTaskEditor edit;
  edit.Load(true, 10, weekend.taskId, Settings(""));
  EXPECT_EQ(edit.liveId, 9);
  EXPECT_EQ(edit.days, (std::array<bool, 7>{false, false, false, false, false, true, true}));
  EXPECT_EQ(edit.path, "/srv/rec");
  edit.mark = "周末";
  edit.fileModes.selected = 0;
  edit.folderModes.selected = 1;
  ASSERT_TRUE(edit.Submit(p)) << p.Last();
  ASSERT_TRUE(Db().GetRecordTask(row, weekend.taskId));
  EXPECT_EQ(row.name, "周末");
  EXPECT_EQ(row.live_id, 9);
  EXPECT_EQ(row.fileMod, 0);
  EXPECT_EQ(row.direMod, 1);
  // Moving it onto its sibling's type and folder is refused.
  edit.fileType = 2;
  EXPECT_FALSE(edit.Submit(p));
  EXPECT_EQ(p.Last(), "该地址已经存在");
}

// Made manual by an edit, a scheduled task leaves the live-channel
// manager's schedule: a later pass inside its old window starts nothing.
TEST_F(RecordEditorTest, ManualEditLeavesTheSchedule) {
  // A weekday that the real clock is not on for days, so only this test's
  // pass can fall inside the window.
  LocalTime today = RecordClock::Now();
  int weekday = (today.weekday + 2) % 7 + 1;
  RecordTaskEditor e = New(9, "/srv/schedule", 1);
  e.days = {false, false, false, false, false, false, false};
  e.days[weekday - 1] = true;
  e.start = {10, 0, 0};
  e.end = {11, 0, 0};
  RecordingPrompt p;
  ASSERT_TRUE(e.Submit(p)) << p.Last();
  int id = e.taskId;
  CLiveChannelManager* manager = CLiveChannelManager::Instance();
  RecordTaskInfo* scheduled = new RecordTaskInfo();
  ASSERT_TRUE(Db().GetRecordTask(*scheduled, id));
  manager->AddSchedule(static_cast<uint32_t>(id), scheduled);

  RecordTaskEditor edit;
  edit.Load(true, 9, id, Settings(""));
  EXPECT_EQ(edit.loadedRecordType, 0);
  edit.startType = 1;
  ASSERT_TRUE(edit.Submit(p)) << p.Last();

  LocalTime inside = today;
  inside.weekday = weekday;
  inside.hour = 10;
  inside.minute = 30;
  manager->RunSchedulePass(inside);
  RecordTaskInfo row;
  ASSERT_TRUE(Db().GetRecordTask(row, id));
  EXPECT_EQ(row.recordType, 1);
  EXPECT_EQ(row.status, 0);
  EXPECT_FALSE(manager->HasPendingRequests());
  manager->RemoveSchedule(static_cast<uint32_t>(id));
}
