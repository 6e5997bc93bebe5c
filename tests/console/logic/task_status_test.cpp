// The task status view's logic: its texts and state table, and its
// commands against a real SQLite database and the real engine.
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "console/logic/TaskStatus.h"
#include "media/RecordClock.h"
#include "tests/console/logic/SourcesWorld.h"

namespace srctest {
namespace {

TEST(TaskTextsTest, DelayModeAndFileTypeTexts) {
  struct DelayCase {
    int enabled, type, seconds;
    const char* text;
  } delays[] = {{0, 0, 20, "不延时"}, {1, 0, 20, "内存方式，延时20秒"}, {1, 1, 300, "文件方式，延时300秒"}};
  for (const DelayCase& c : delays) {
    ForwardTaskInfo t;
    t.buffer_enabled = c.enabled;
    t.buffer_type = c.type;
    t.buffer_time = c.seconds;
    EXPECT_EQ(DelayText(t), c.text);
  }
  RecordTaskInfo r;
  r.recordType = 1;
  EXPECT_EQ(RecordModeText(r), "手动");
  r.recordType = 0;
  r.days_of_week = "1;3;5";
  r.startTime = "08:00:00";
  r.endTime = "09:30:00";
  EXPECT_EQ(RecordModeText(r), "定时:1;3;5(08:00:00-09:30:00)");
  EXPECT_EQ(FileTypeText(0), "ASF");
  EXPECT_EQ(FileTypeText(1), "FLV");
  EXPECT_EQ(FileTypeText(2), "MP4");
  ASSERT_EQ(ForwardColumns().size(), 7u);
  ASSERT_EQ(RecordColumns().size(), 9u);
  EXPECT_STREQ(ForwardColumns()[2].title, "码率(B/S)");
  EXPECT_EQ(ForwardColumns()[3].width, 200);
  EXPECT_STREQ(RecordColumns()[3].title, "已录像大小");
}

TaskStatus State(int state, int rate = 0, const std::string& message = "", int delay = 0, int64_t size = 0) {
  TaskStatus s;
  s.state = state;
  s.rate = rate;
  s.message = message;
  s.delay = delay;
  s.fileSize = size;
  return s;
}

// The refresh's state table, one tick at a time.
TEST(TaskTextsTest, RefreshStateTable) {
  std::vector<std::string> f(7);
  f[kFwdDelay] = "不延时";
  // Connecting: one dot a second, wrapping after five.
  const char* dots[] = {"正在连接.", "正在连接..", "正在连接...", "正在连接....", "正在连接.....", "正在连接."};
  for (const char* expect : dots) {
    ApplyForwardStatus(f, State(1, 55));
    EXPECT_EQ(f[kFwdState], expect);
    EXPECT_EQ(f[kFwdRate], "0KB/S");
  }
  ApplyForwardStatus(f, State(3, 0, "connect failed"));
  EXPECT_EQ(f[kFwdState], "正在连接..");
  EXPECT_EQ(f[kFwdNote], "connect failed");
  ApplyForwardStatus(f, State(2, 312));
  EXPECT_EQ(f[kFwdRate], "312KB/S");
  EXPECT_EQ(f[kFwdState], "正在转发");
  EXPECT_EQ(f[kFwdNote], "");
  // Buffering without a delay leaves the note alone; with one it shows it.
  f[kFwdNote] = "keep";
  ApplyForwardStatus(f, State(4, 0, "", 7500));
  EXPECT_EQ(f[kFwdState], "正在缓冲...");
  EXPECT_EQ(f[kFwdNote], "keep");
  f[kFwdDelay] = "内存方式，延时20秒";
  ApplyForwardStatus(f, State(4, 0, "", 7500));
  EXPECT_EQ(f[kFwdNote], "7秒");
  ApplyForwardStatus(f, State(0));
  EXPECT_EQ(f[kFwdState], "未转发");
  ApplyForwardStatus(f, State(0, 0, "pull stream error"));
  EXPECT_EQ(f[kFwdState], "未转发(pull stream error)");

  std::vector<std::string> r(9);
  for (const char* expect : {"正在缓冲.", "正在缓冲..", "正在缓冲...", "正在缓冲....", "正在缓冲.....", "正在缓冲."}) {
    ApplyRecordStatus(r, State(1, 0, "waiting"));
    EXPECT_EQ(r[kRecState], expect);
  }
  EXPECT_EQ(r[kRecNote], "waiting");
  ApplyRecordStatus(r, State(2, 800, "", 0, 3500000));
  EXPECT_EQ(r[kRecSize], "3417KB");
  EXPECT_EQ(r[kRecRate], "800KB/S");
  EXPECT_EQ(r[kRecState], "正在录像");
  EXPECT_EQ(r[kRecNote], "");
  // Past 2 GiB the size keeps counting up.
  ApplyRecordStatus(r, State(2, 800, "", 0, int64_t(5) << 30));
  EXPECT_EQ(r[kRecSize], "5242880KB");
  std::vector<std::string> before = r;
  ApplyRecordStatus(r, State(3, 1, "x"));
  ApplyRecordStatus(r, State(4, 1, "x"));
  EXPECT_EQ(r, before);
  ApplyRecordStatus(r, State(0, 0, "gone"));
  EXPECT_EQ(r[kRecState], "未录像(gone)");
}

class FakeTaskDialogs : public ITaskDialogs {
 public:
  int RunTaskDialog(int kind, int editId, int liveId) override {
    calls.push_back({kind, editId, liveId});
    return run ? run(kind, editId, liveId) : 0;
  }
  struct Call {
    int kind, editId, liveId;
  };
  std::vector<Call> calls;
  std::function<int(int, int, int)> run;
};

class TaskStatusTest : public SourcesTest {
 protected:
  std::vector<std::string> Column(int list, int column) {
    std::vector<std::string> out;
    for (const TaskRow& r : tasks.Rows(list)) out.push_back(r.cells[static_cast<size_t>(column)]);
    return out;
  }
  std::vector<int> Ids(int list) {
    std::vector<int> out;
    for (const TaskRow& r : tasks.Rows(list)) out.push_back(r.taskId);
    return out;
  }
  // The record file a running task writes.
  std::string RecordFile(const std::string& folder) {
    std::string found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
      if (e.is_regular_file()) found = e.path().string();
    }
    return found;
  }

  FakeTaskDialogs dialogs;
  CTaskStatusLogic tasks{prompt, dialogs, worker};
};

// A root lists the tasks of every source of its kind and of their
// sub-streams, in database order; adding then needs a live item.
TEST_F(TaskStatusTest, FillOfRootListsSourcesAndSubStreams) {
  int a = AddFile("甲", "/nowhere/a.flv");
  int b = AddFile("乙", "/nowhere/b.flv");
  int subA = AddSub("甲-子", "/nowhere/a.flv");
  int net = 0;
  UrlSourceInfo n;
  n.alias = "net";
  n.url = "rtsp://127.0.0.1/n";
  ASSERT_TRUE(Db().InsertNetSource(n, net));
  int t1 = AddForward(a, LIVE_TYPE_FILE, "rtmp://127.0.0.1:1/l/1");
  int t2 = AddForward(b, LIVE_TYPE_FILE, "rtmp://127.0.0.1:1/l/2");
  int t3 = AddForward(subA, LIVE_TYPE_SUBSTREAM, "rtmp://127.0.0.1:1/l/3");
  int t4 = AddForward(a, LIVE_TYPE_FILE, "rtmp://127.0.0.1:1/l/4");
  AddForward(net, LIVE_TYPE_NET, "rtmp://127.0.0.1:1/l/5");
  tasks.FillTaskList(0, LIVE_TYPE_FILE);
  EXPECT_EQ(Ids(kForwardList), (std::vector<int>{t1, t4, t3, t2}));
  EXPECT_EQ(Column(kForwardList, kFwdNo), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(Column(kForwardList, kFwdAlias), (std::vector<std::string>{"甲", "甲", "甲-子", "乙"}));
  EXPECT_EQ(Column(kForwardList, kFwdState), (std::vector<std::string>{"未转发", "未转发", "未转发", "未转发"}));
  EXPECT_EQ(Column(kForwardList, kFwdUrl)[2], "rtmp://127.0.0.1:1/l/3");
  tasks.AddTask();
  EXPECT_EQ(prompt.log, std::vector<std::string>{"msg:请先选择直播通道"});
  EXPECT_TRUE(dialogs.calls.empty());
  tasks.FillTaskList(subA, LIVE_TYPE_SUBSTREAM);
  EXPECT_EQ(Ids(kForwardList), std::vector<int>{t3});
  // The record list is filled only when it is in front.
  tasks.ShowTaskList(1);
  tasks.FillTaskList(a, LIVE_TYPE_FILE);
  EXPECT_TRUE(tasks.Rows(kRecordList).empty());
  EXPECT_EQ(Ids(kForwardList), std::vector<int>{t3});
  tasks.ShowTaskList(2);
  EXPECT_EQ(tasks.Mode(), kRecordList);
}

// Start writes the row and the run word and starts the task; stop undoes
// all three; a start and a stop at once leave the task stopped.
TEST_F(TaskStatusTest, StartAndStopRecordTask) {
  vvtest::TempDir out;
  int file = AddFile("f", TheWorld().input);
  int rec = AddRecord(file, LIVE_TYPE_FILE, out.path(), 1);
  tasks.ShowTaskList(1);
  tasks.FillTaskList(file, LIVE_TYPE_FILE);
  ASSERT_EQ(Ids(kRecordList), std::vector<int>{rec});
  tasks.StartTasks({0});
  Settle();
  EXPECT_EQ(prompt.log, std::vector<std::string>{"ask:确定要开始录像吗?"});
  RecordTaskInfo row;
  ASSERT_TRUE(Db().GetRecordTask(row, rec));
  EXPECT_EQ(row.status, 1);
  EXPECT_EQ(Db().GetLiveObject(rec), 1);
  ASSERT_TRUE(vvtest::WaitFor(
      [&] {
        tasks.Refresh();
        return Column(kRecordList, kRecState)[0] == "正在录像" && Column(kRecordList, kRecSize)[0] != "0KB";
      },
      15s));
  EXPECT_NE(Column(kRecordList, kRecRate)[0], "0KB/S");
  TaskMenu menu = tasks.ContextMenu({0});
  EXPECT_TRUE(menu.show);
  EXPECT_FALSE(menu.startEnabled);
  EXPECT_FALSE(menu.deleteEnabled);
  EXPECT_TRUE(menu.stopEnabled);
  EXPECT_FALSE(tasks.ContextMenu({}).show);
  // Editing a running task is refused.
  prompt.log.clear();
  tasks.EditTask({0});
  EXPECT_EQ(prompt.log, std::vector<std::string>{"msg:正在录像，不能编辑"});

  prompt.log.clear();
  tasks.StopTasks({0});
  Settle();
  EXPECT_EQ(prompt.log, std::vector<std::string>{"ask:确定要停止录像吗?"});
  ASSERT_TRUE(Db().GetRecordTask(row, rec));
  EXPECT_EQ(row.status, 0);
  EXPECT_EQ(Db().GetLiveObject(rec), 0);
  EXPECT_EQ(Engine().FindItem(rec, TASK_RECORD).state, 0);
  EXPECT_EQ(Column(kRecordList, kRecRate)[0], "0KB/S");
  menu = tasks.ContextMenu({0});
  EXPECT_TRUE(menu.startEnabled);
  EXPECT_FALSE(menu.stopEnabled);

  // Start and stop within the manager's second: the start never runs.
  tasks.StartTasks({0});
  tasks.StopTasks({0});
  Settle();
  EXPECT_FALSE(Engine().HasPendingRequests());
  EXPECT_FALSE(vvtest::WaitFor([&] { return Engine().FindItem(rec, TASK_RECORD).state != 0; }, 2500ms));
  ASSERT_TRUE(Db().GetRecordTask(row, rec));
  EXPECT_EQ(row.status, 0);
}

// A source whose camera address cannot be resolved here keeps being tried,
// and its tasks say why in their note column while they wait.
TEST_F(TaskStatusTest, UnresolvableCameraShowsInTheTaskList) {
  FakeLiveServer resolveServer;  // takes each connection, answers nothing
  const int resolvePort = resolveServer.port();
  vvtest::TempDir out;
  UrlSourceInfo cam;
  cam.alias = "门口";
  cam.url = "rtsp://HKadmin@pw@127.0.0.1:" + std::to_string(resolvePort) + "//S1:554/ch1";
  int net = 0;
  ASSERT_TRUE(Db().InsertNetSource(cam, net));
  int fwd = AddForward(net, LIVE_TYPE_NET, "rtmp://127.0.0.1:" + std::to_string(vvtest::FreePort()) + "/l/cam");
  int rec = AddRecord(net, LIVE_TYPE_NET, out.path(), 1);
  const std::string why = "海康IP获取失败(本平台不支持)";

  tasks.FillTaskList(net, LIVE_TYPE_NET);
  ASSERT_EQ(Ids(kForwardList), std::vector<int>{fwd});
  tasks.StartTasks({0});
  Settle();
  bool shown = vvtest::WaitFor(
      [&] {
        tasks.Refresh();
        return Column(kForwardList, kFwdNote)[0] == why;
      },
      20s);
  EXPECT_TRUE(shown) << Column(kForwardList, kFwdNote)[0];
  EXPECT_EQ(Column(kForwardList, kFwdState)[0].rfind("正在连接", 0), 0u) << Column(kForwardList, kFwdState)[0];
  EXPECT_EQ(Column(kForwardList, kFwdRate)[0], "0KB/S");

  tasks.ShowTaskList(1);
  tasks.FillTaskList(net, LIVE_TYPE_NET);
  ASSERT_EQ(Ids(kRecordList), std::vector<int>{rec});
  tasks.StartTasks({0});
  Settle();
  shown = vvtest::WaitFor(
      [&] {
        tasks.Refresh();
        return Column(kRecordList, kRecNote)[0] == why;
      },
      20s);
  EXPECT_TRUE(shown) << Column(kRecordList, kRecNote)[0];
  EXPECT_EQ(Column(kRecordList, kRecState)[0].rfind("正在缓冲", 0), 0u) << Column(kRecordList, kRecState)[0];

  tasks.StopTasks({0});
  tasks.ShowTaskList(0);
  tasks.StopTasks({0});
  Settle();
  EXPECT_EQ(Engine().FindItem(fwd, TASK_FORWARD).state, 0);
  EXPECT_EQ(Engine().FindItem(rec, TASK_RECORD).state, 0);
}

// A record file past 2 GiB shows its true size.
TEST_F(TaskStatusTest, RecordSizePastTwoGigabytes) {
  vvtest::TempDir out;
  int file = AddFile("f", TheWorld().input);
  int rec = AddRecord(file, LIVE_TYPE_FILE, out.path(), 1);
  tasks.ShowTaskList(1);
  tasks.FillTaskList(file, LIVE_TYPE_FILE);
  tasks.StartTasks({0});
  Settle();
  ASSERT_TRUE(vvtest::WaitFor([&] { return Engine().FindItem(rec, TASK_RECORD).state == 2; }, 15s));
  std::string path = RecordFile(out.path());
  ASSERT_FALSE(path.empty());
  // A sparse 3 GiB file in its place takes no room.
  ASSERT_EQ(::truncate(path.c_str(), int64_t(3) << 30), 0);
  ASSERT_TRUE(vvtest::WaitFor(
      [&] {
        tasks.Refresh();
        const std::string size = Column(kRecordList, kRecSize)[0];
        return size.size() > 2 && std::stoll(size) >= (int64_t(3) << 20);
      },
      10s))
      << Column(kRecordList, kRecSize)[0];
  tasks.StopTasks({0});
  Settle();
}

// Stopping a scheduled record task makes it manual, on the schedule too.
TEST_F(TaskStatusTest, StopMakesScheduledTaskManual) {
  vvtest::TempDir out;
  int file = AddFile("f", "/nowhere/s.flv");
  int rec = AddRecord(file, LIVE_TYPE_FILE, out.path(), 0);
  auto* entry = new RecordTaskInfo;
  ASSERT_TRUE(Db().GetRecordTask(*entry, rec));
  Engine().AddSchedule(static_cast<uint32_t>(rec), entry);
  tasks.ShowTaskList(1);
  tasks.FillTaskList(file, LIVE_TYPE_FILE);
  EXPECT_EQ(Column(kRecordList, kRecMode)[0], "定时:0;1;2;3;4;5;6(00:00:00-00:00:02)");
  tasks.StopTasks({0});
  Settle();
  tasks.FillTaskList(file, LIVE_TYPE_FILE);
  EXPECT_EQ(Column(kRecordList, kRecMode)[0], "手动");
  RecordTaskInfo row;
  ASSERT_TRUE(Db().GetRecordTask(row, rec));
  EXPECT_EQ(row.recordType, 1);
  EXPECT_EQ(row.saveFolder, out.path());
  EXPECT_EQ(row.live_id, file);
  // The schedule no longer starts it inside its window.
  Engine().RunSchedulePass(InsideWindow());
  // Whatever was still pending settles; a start from the pass would leave the
  // task running (or pending).
  EXPECT_TRUE(vvtest::WaitFor([&] { return !Engine().HasPendingRequests(); }, 10s));
  EXPECT_EQ(Engine().FindItem(rec, TASK_RECORD).state, 0);

  // Its row gone behind the view: the stop writes no row of zeros.
  ASSERT_TRUE(Db().DeleteRecordTask(rec));
  gone = {rec};
  tasks.StopTasks({0});
  Settle();
  EXPECT_FALSE(Db().GetRecordTask(row, rec));
  EXPECT_EQ(Column(kRecordList, kRecRate)[0], "0KB/S");
}

// Exactly the selected rows are deleted, off the schedule and stopped.
TEST_F(TaskStatusTest, DeleteRemovesExactlySelectedRows) {
  vvtest::TempDir out;
  int file = AddFile("f", "/nowhere/del.flv");
  std::vector<int> ids;
  for (int i = 0; i < 5; ++i) ids.push_back(AddRecord(file, LIVE_TYPE_FILE, out.path(), 0));
  for (int id : ids) {
    auto* entry = new RecordTaskInfo;
    ASSERT_TRUE(Db().GetRecordTask(*entry, id));
    Engine().AddSchedule(static_cast<uint32_t>(id), entry);
  }
  tasks.ShowTaskList(1);
  tasks.FillTaskList(file, LIVE_TYPE_FILE);
  prompt.answers = {false};
  tasks.DeleteTasks({0, 2, 4});
  EXPECT_EQ(Ids(kRecordList).size(), 5u);
  tasks.DeleteTasks({4, 0, 2, 9, -1});
  Settle();
  gone = {ids[0], ids[2], ids[4]};
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"ask:确定删除吗？", "ask:确定删除吗？"}));
  EXPECT_EQ(Ids(kRecordList), (std::vector<int>{ids[1], ids[3]}));
  RecordTaskInfo row;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Db().GetRecordTask(row, ids[static_cast<size_t>(i)]), i % 2 == 1) << i;
  // Only the two kept tasks are still on the schedule.
  Engine().RunSchedulePass(InsideWindow());
  EXPECT_TRUE(vvtest::WaitFor(
      [&] { return Db().GetLiveObject(ids[1]) == 1 && Db().GetLiveObject(ids[3]) == 1; }, 2s));
  for (int i : {0, 2, 4}) {
    EXPECT_EQ(Db().GetLiveType(ids[static_cast<size_t>(i)]), LIVE_TYPE_NONE);
  }
}

// Add and edit go through the task dialog; an edit keeps the task's own
// live item and a scheduled task edited into a manual one leaves the
// schedule.
TEST_F(TaskStatusTest, AddAndEditTasks) {
  vvtest::TempDir out;
  int file = AddFile("f", "/nowhere/ae.flv");
  int other = AddFile("g", "/nowhere/ag.flv");
  tasks.FillTaskList(file, LIVE_TYPE_FILE);
  dialogs.run = [&](int kind, int editId, int liveId) {
    if (kind == kForwardList) {
      ForwardTaskInfo t;
      t.live_id = liveId;
      t.forward_url = "rtmp://127.0.0.1:1/l/new";
      t.buffer_enabled = 1;
      t.buffer_time = 15;
      int id = editId;
      if (editId == 0) EXPECT_TRUE(Db().InsertForwardTask(t, id, LIVE_TYPE_FILE));
      else EXPECT_TRUE(Db().UpdateForwardTask(t, editId));
      return id;
    }
    RecordTaskInfo r;
    r.name = "r";
    r.live_id = liveId;
    r.saveFolder = out.path();
    r.fileType = 2;
    r.recordType = editId == 0 ? 0 : 1;
    r.startTime = "00:00:00";
    r.endTime = "00:00:02";
    r.days_of_week = "0;1;2;3;4;5;6";
    int id = editId;
    if (editId == 0) EXPECT_TRUE(Db().InsertRecordTask(r, id, LIVE_TYPE_FILE));
    else EXPECT_TRUE(Db().UpdateRecordTask(r, editId));
    return id;
  };
  tasks.AddTask();
  ASSERT_EQ(tasks.Rows(kForwardList).size(), 1u);
  const TaskRow& row = tasks.Rows(kForwardList)[0];
  EXPECT_EQ(row.cells[kFwdNo], "1");
  EXPECT_EQ(row.cells[kFwdAlias], "f");
  EXPECT_EQ(row.cells[kFwdRate], "0KB/S");
  EXPECT_EQ(row.cells[kFwdUrl], "rtmp://127.0.0.1:1/l/new");
  EXPECT_EQ(row.cells[kFwdDelay], "内存方式，延时15秒");

  tasks.ShowTaskList(1);
  tasks.FillTaskList(file, LIVE_TYPE_FILE);
  tasks.AddTask();
  ASSERT_EQ(tasks.Rows(kRecordList).size(), 1u);
  const int rec = tasks.Rows(kRecordList)[0].taskId;
  EXPECT_EQ(tasks.Rows(kRecordList)[0].cells[kRecType], "MP4");
  EXPECT_EQ(tasks.Rows(kRecordList)[0].cells[kRecAlias], "f");
  EXPECT_EQ(tasks.Rows(kRecordList)[0].cells[kRecState], "未录像");

  // Edit with the other source chosen in the tree: the task stays with its own.
  AddRecord(other, LIVE_TYPE_FILE, out.path(), 1);
  prompt.log.clear();
  tasks.EditTask({});
  tasks.FillTaskList(0, LIVE_TYPE_FILE);
  ASSERT_EQ(tasks.Rows(kRecordList).size(), 2u);
  tasks.EditTask({0, 1});
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"msg:请先选择编辑任务", "msg:一次只能编辑一个任务"}));
  tasks.FillTaskList(other, LIVE_TYPE_FILE);
  tasks.FillTaskList(0, LIVE_TYPE_FILE);
  dialogs.calls.clear();
  tasks.EditTask({0});
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].editId, rec);
  EXPECT_EQ(dialogs.calls[0].liveId, file);
  RecordTaskInfo stored;
  ASSERT_TRUE(Db().GetRecordTask(stored, rec));
  EXPECT_EQ(stored.live_id, file);
  EXPECT_EQ(tasks.Rows(kRecordList)[0].cells[kRecMode], "手动");
  // Now manual, the schedule leaves it alone.
  Engine().RunSchedulePass(InsideWindow());
  EXPECT_FALSE(Engine().HasPendingRequests());
  EXPECT_EQ(Db().GetLiveObject(rec), 0);
}

}  // namespace
}  // namespace srctest
