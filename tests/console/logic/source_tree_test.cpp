// The source tree's logic against a real SQLite database, the real engine
// and a fake local live server.
#include <functional>

#include "console/logic/LiveList.h"
#include "console/logic/SourceTree.h"
#include "console/logic/TaskStatus.h"
#include "media/RecordClock.h"
#include "tests/console/logic/SourcesWorld.h"

namespace srctest {
namespace {

class FakeSourceDialogs : public ISourceTreeDialogs {
 public:
  SourceEditResult RunSourceDialog(LiveSourceType type, int editId) override {
    calls.push_back("source:" + std::to_string(type) + ":" + std::to_string(editId));
    return onSource ? onSource(type, editId) : SourceEditResult{};
  }
  SourceEditResult RunSubStreamDialog(int editId, const std::string& url) override {
    calls.push_back("sub:" + std::to_string(editId) + ":" + url);
    return onSub ? onSub(editId, url) : SourceEditResult{};
  }
  std::function<SourceEditResult(LiveSourceType, int)> onSource;
  std::function<SourceEditResult(int, const std::string&)> onSub;
  std::vector<std::string> calls;
};

class FakeLink : public ITaskListLink {
 public:
  void FillTaskList(int liveId, LiveSourceType type) override { fills.push_back({liveId, type}); }
  void ForgetLive(int liveId) override { forgotten.push_back(liveId); }
  std::vector<std::pair<int, int>> fills;
  std::vector<int> forgotten;
};

// Records what the widget would mirror.
class CountingObserver : public ISourceTreeObserver {
 public:
  void NodeInserted(SourceNode*) override { ++inserted; }
  void NodeChanged(SourceNode*) override { ++changed; }
  void NodeRemoved(SourceNode*) override { ++removed; }
  int inserted = 0, changed = 0, removed = 0;
};

class SourceTreeTest : public SourcesTest {
 protected:
  void SetUp() override {
    SourcesTest::SetUp();
    SetLocalLivePort(live.port());
    tree.SetObserver(&observer);
    tree.SetTaskList(&link);
  }
  void TearDown() override {
    SetLocalLivePort(kLocalLivePort);
    SourcesTest::TearDown();
  }
  std::vector<std::string> Labels(const SourceNode* parent) {
    std::vector<std::string> out;
    for (const auto& c : parent->children) out.push_back(c->label);
    return out;
  }
  std::string LiveListReply(const std::string& json) { return FakeLiveServer::Framed(json); }

  FakeLiveServer live;
  FakeSourceDialogs dialogs;
  FakeLink link;
  CountingObserver observer;
  CSourceTreeLogic tree{prompt, dialogs, worker};
};

// The restore builds the three roots with their sources and sub-streams,
// fills the live maps (tasks with their source's type) and starts exactly
// the rows whose status is set.
TEST_F(SourceTreeTest, RestoreBuildsTreeFillsMapsAndStartsRunningRows) {
  vvtest::TempDir out;
  DeviceSourceInfo d;
  d.alias = "cam";
  d.url = "video=none";
  int device = 0;
  ASSERT_TRUE(Db().InsertDeviceSource(d, device));
  int file = AddFile("文件", TheWorld().input);
  int other = AddFile("other", "/nowhere/other.flv");
  int sub = AddSub("子码流", TheWorld().input);
  int stray = AddSub("stray", "/nowhere/else.flv");  // matches no source
  int fwdOn = AddForward(file, LIVE_TYPE_FILE, "rtmp://127.0.0.1:1/live/a", 0);
  int recOn = AddRecord(file, LIVE_TYPE_FILE, out.path(), 1, 1);
  int subRec = AddRecord(sub, LIVE_TYPE_SUBSTREAM, out.path(), 1, 0);
  // A restart: the inserts' map entries are gone.
  ForgetEngineState();
  tree.Restore();

  ASSERT_EQ(tree.Roots().size(), 3u);
  EXPECT_EQ(tree.Roots()[0]->label, "设备源");
  EXPECT_EQ(tree.Roots()[1]->label, "网络源");
  EXPECT_EQ(tree.Roots()[2]->label, "文件源");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(tree.Roots()[i]->image, i);
    EXPECT_TRUE(tree.Roots()[i]->expanded);
  }
  EXPECT_EQ(Labels(tree.Root(LIVE_TYPE_DEVICE)), std::vector<std::string>{"[cam]video=none"});
  SourceNode* fileRoot = tree.Root(LIVE_TYPE_FILE);
  ASSERT_EQ(fileRoot->children.size(), 2u);
  EXPECT_EQ(fileRoot->children[0]->label, "[文件]" + TheWorld().input);
  EXPECT_EQ(fileRoot->children[0]->image, kImageFileIdle);
  EXPECT_EQ(Labels(fileRoot->children[0].get()), std::vector<std::string>{"[子码流]" + TheWorld().input});
  EXPECT_EQ(fileRoot->children[0]->children[0]->image, kImageSubIdle);
  EXPECT_TRUE(fileRoot->children[1]->children.empty());
  EXPECT_EQ(tree.FindNode(stray), nullptr);
  EXPECT_EQ(observer.inserted, 3 + 3 + 1);

  EXPECT_EQ(Db().GetLiveType(device), LIVE_TYPE_DEVICE);
  EXPECT_EQ(Db().GetLiveType(file), LIVE_TYPE_FILE);
  EXPECT_EQ(Db().GetLiveType(other), LIVE_TYPE_FILE);
  EXPECT_EQ(Db().GetLiveType(sub), LIVE_TYPE_SUBSTREAM);
  EXPECT_EQ(Db().GetLiveType(fwdOn), LIVE_TYPE_FILE);
  EXPECT_EQ(Db().GetLiveType(recOn), LIVE_TYPE_FILE);
  EXPECT_EQ(Db().GetLiveType(subRec), LIVE_TYPE_SUBSTREAM);
  EXPECT_EQ(Db().GetLiveObject(recOn), 1);
  EXPECT_EQ(Db().GetLiveObject(fwdOn), 0);
  EXPECT_EQ(Db().GetLiveType(stray), LIVE_TYPE_NONE);

  // The record task whose status is set runs; nothing else does.
  EXPECT_TRUE(vvtest::WaitFor([&] { return Engine().FindItem(recOn, TASK_RECORD).state != 0; }, 10s));
  EXPECT_EQ(Engine().FindItem(fwdOn, TASK_FORWARD).state, 0);
  EXPECT_EQ(Engine().FindItem(subRec, TASK_RECORD).state, 0);
  EXPECT_TRUE(vvtest::WaitFor([] { return !Engine().HasPendingRequests(); }, 10s));
}

// A live source is shown live after the restart, and its live item is
// asked for before anything else happens.
TEST_F(SourceTreeTest, RestoreShowsLiveSourcesAndSubStreamsLive) {
  int file = AddFile("live", "/nowhere/live.flv", 1);
  int sub = AddSub("sub", "/nowhere/live.flv", 1);
  ForgetEngineState();
  tree.Restore();
  EXPECT_EQ(tree.FindNode(file)->image, kImageSourceLive);
  EXPECT_EQ(tree.FindNode(sub)->image, kImageSubLive);
  EXPECT_EQ(Db().GetLiveObject(file), 1);
  EXPECT_EQ(Db().GetLiveObject(sub), 1);
  EXPECT_TRUE(Engine().HasPendingRequests() || Engine().SourceCount() > 0);
}

// Start live asks the local live server, publishes to its first free
// channel, and refuses when it is down or the channel already runs.
TEST_F(SourceTreeTest, StartLivePublishesToFirstFreeChannel) {
  int file = AddFile("f", "/nowhere/a.flv");
  int sub = AddSub("s", "/nowhere/a.flv");
  ForgetEngineState();
  tree.Restore();
  live.SetReply(LiveListReply(R"([{"id":1,"appName":"live","name":"busy","liveStatus":true},)"
                              R"({"id":2,"appName":"app2","name":"free2","liveStatus":false},)"
                              R"({"id":3,"appName":"app3","name":"free3","liveStatus":false}])"));
  tree.StartLive(tree.FindNode(file));
  Settle();
  EXPECT_EQ(prompt.log, std::vector<std::string>{"ask:确定直播吗？"});
  UrlSourceInfo row;
  ASSERT_TRUE(Db().GetFileSource(row, file));
  EXPECT_EQ(row.live_url, "rtmp://127.0.0.1/app2/free2");
  EXPECT_EQ(row.status, 1);
  EXPECT_EQ(Db().GetLiveObject(file), 1);
  EXPECT_EQ(tree.FindNode(file)->image, kImageSourceLive);
  // What the server received: two frames, the command and an empty body.
  std::string expect = FakeLiveServer::Framed("ListLiveInfos") + std::string(4, '\0');
  EXPECT_EQ(live.Received(), expect);
  EXPECT_EQ(tree.TipText(file), "rtmp://127.0.0.1/app2/free2");

  // Once more on the running source.
  prompt.log.clear();
  tree.StartLive(tree.FindNode(file));
  Settle();
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"ask:确定直播吗？", "msg:该频道正在直播"}));

  // The server down: nothing changes on the sub-stream.
  prompt.log.clear();
  SetLocalLivePort(vvtest::FreePort());
  tree.StartLive(tree.FindNode(sub));
  Settle();
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"ask:确定直播吗？", "msg:直播服务器没有开启"}));
  EXPECT_EQ(Db().GetLiveObject(sub), 0);
  EXPECT_EQ(tree.FindNode(sub)->image, kImageSubIdle);
  EXPECT_EQ(tree.TipText(sub), "");

  // A root does nothing, without a question; No asks nothing further.
  prompt.log.clear();
  tree.StartLive(tree.Root(LIVE_TYPE_FILE));
  tree.StartLive(nullptr);
  EXPECT_TRUE(prompt.log.empty());
  int before = live.Connections();
  SetLocalLivePort(live.port());
  prompt.answers = {false};
  tree.StartLive(tree.FindNode(sub));
  Settle();
  EXPECT_EQ(live.Connections(), before);
}

// Stop live clears the row and the run word, drops a start still waiting
// and turns the image back.
TEST_F(SourceTreeTest, StopLiveClearsRowRunWordAndPendingStart) {
  int sub = AddSub("s", "/nowhere/b.flv");
  int file = AddFile("f", "/nowhere/b.flv");
  ForgetEngineState();
  tree.Restore();
  live.SetReply(LiveListReply(R"([{"id":1,"appName":"live","name":"x","liveStatus":false}])"));
  tree.StartLive(tree.FindNode(sub));
  Settle();
  ASSERT_EQ(tree.FindNode(sub)->image, kImageSubLive);
  // The start may still be waiting in the manager: the stop must win.
  tree.StopLive(tree.FindNode(sub));
  Settle();
  SubStreamInfo row;
  ASSERT_TRUE(Db().GetSubStream(row, sub));
  EXPECT_EQ(row.status, 0);
  EXPECT_EQ(row.live_url, "");
  EXPECT_EQ(Db().GetLiveObject(sub), 0);
  EXPECT_EQ(tree.FindNode(sub)->image, kImageSubIdle);
  EXPECT_FALSE(Engine().HasPendingRequests());
  EXPECT_EQ(Engine().SourceCount(), 0);
  // A root: the question comes, nothing else.
  prompt.log.clear();
  tree.StopLive(tree.Root(LIVE_TYPE_NET));
  EXPECT_EQ(prompt.log, std::vector<std::string>{"ask:确定停止直播吗？"});
  EXPECT_EQ(tree.FindNode(file)->image, kImageFileIdle);
}

// The menu of a node greys start or stop by its run word; a root opens its
// add dialog, and the new node appears once.
TEST_F(SourceTreeTest, ContextMenuAndRootAddDialog) {
  int file = AddFile("f", "/nowhere/c.flv");
  int sub = AddSub("s", "/nowhere/c.flv");
  ForgetEngineState();
  tree.Restore();
  SourceMenu m = tree.ContextMenu(tree.FindNode(file));
  EXPECT_EQ(m.kind, SourceMenu::kSourceMenu);
  EXPECT_TRUE(m.startLiveEnabled);
  EXPECT_FALSE(m.stopLiveEnabled);
  Db().SetLiveObject(sub, 1);
  m = tree.ContextMenu(tree.FindNode(sub));
  EXPECT_EQ(m.kind, SourceMenu::kSubStreamMenu);
  EXPECT_FALSE(m.startLiveEnabled);
  EXPECT_TRUE(m.stopLiveEnabled);
  Db().SetLiveObject(sub, 0);
  EXPECT_EQ(tree.ContextMenu(nullptr).kind, SourceMenu::kNone);
  m = tree.ContextMenu(tree.Root(LIVE_TYPE_NET));
  ASSERT_EQ(m.kind, SourceMenu::kAddDialog);
  EXPECT_EQ(m.addType, LIVE_TYPE_NET);

  // A dialog that adds its node itself, and one that does not.
  int added = 0;
  dialogs.onSource = [&](LiveSourceType type, int) {
    UrlSourceInfo s;
    s.alias = "n";
    s.url = "rtsp://127.0.0.1/n" + std::to_string(added);
    int id = 0;
    EXPECT_TRUE(Db().InsertNetSource(s, id));
    if (added++ == 0) tree.AddSourceItem(type, "[n]" + s.url, id);
    return SourceEditResult{true, id, s.alias, s.url};
  };
  tree.RunAddDialog(m.addType);
  tree.RunAddDialog(m.addType);
  EXPECT_EQ(dialogs.calls, (std::vector<std::string>{"source:2:0", "source:2:0"}));
  EXPECT_EQ(Labels(tree.Root(LIVE_TYPE_NET)),
            (std::vector<std::string>{"[n]rtsp://127.0.0.1/n0", "[n]rtsp://127.0.0.1/n1"}));
  EXPECT_EQ(tree.Root(LIVE_TYPE_NET)->children[0]->image, kImageNetIdle);
}

// A new sub-stream gets its source's url read from the row, never from the
// label (an alias may hold "]"); editing relabels the node.
TEST_F(SourceTreeTest, AddSubStreamReadsUrlByIdAndEditRelabels) {
  int file = AddFile("a]b", "/nowhere/d.flv");
  ForgetEngineState();
  tree.Restore();
  SourceNode* node = tree.FindNode(file);
  ASSERT_EQ(node->label, "[a]b]/nowhere/d.flv");
  int subId = 0;
  dialogs.onSub = [&](int, const std::string& url) {
    subId = AddSub("sd", url);
    return SourceEditResult{true, subId, "sd", url};
  };
  tree.AddSubStream(node);
  EXPECT_EQ(dialogs.calls, std::vector<std::string>{"sub:0:/nowhere/d.flv"});
  SourceNode* sub = tree.FindNode(subId);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->parent, node);
  EXPECT_EQ(sub->label, "[sd]/nowhere/d.flv");
  EXPECT_EQ(sub->image, kImageSubIdle);
  EXPECT_EQ(sub->type, LIVE_TYPE_SUBSTREAM);
  // Only a source takes a sub-stream.
  tree.AddSubStream(sub);
  tree.AddSubStream(tree.Root(LIVE_TYPE_FILE));
  EXPECT_EQ(dialogs.calls.size(), 1u);

  dialogs.onSub = [&](int, const std::string&) { return SourceEditResult{true, subId, "高清", "/nowhere/d.flv"}; };
  dialogs.onSource = [&](LiveSourceType, int) { return SourceEditResult{true, file, "改名", "/nowhere/d.flv"}; };
  tree.EditSource(sub);
  tree.EditSource(node);
  EXPECT_EQ(dialogs.calls[1], "sub:" + std::to_string(subId) + ":");
  EXPECT_EQ(dialogs.calls[2], "source:3:" + std::to_string(file));
  EXPECT_EQ(sub->label, "[高清]/nowhere/d.flv");
  EXPECT_EQ(node->label, "[改名]/nowhere/d.flv");
  // Cancelled: the label stays.
  dialogs.onSource = nullptr;
  tree.EditSource(node);
  EXPECT_EQ(node->label, "[改名]/nowhere/d.flv");
}

// Selecting a node tells the task view which live item to list.
TEST_F(SourceTreeTest, SelectionFillsTaskList) {
  int file = AddFile("f", "/nowhere/e.flv");
  int sub = AddSub("s", "/nowhere/e.flv");
  ForgetEngineState();
  tree.Restore();
  tree.SelectionChanged(tree.Root(LIVE_TYPE_NET));
  tree.SelectionChanged(tree.FindNode(file));
  tree.SelectionChanged(tree.FindNode(sub));
  tree.SelectionChanged(nullptr);
  EXPECT_EQ(link.fills, (std::vector<std::pair<int, int>>{{0, 2}, {file, 3}, {sub, 4}}));
}

struct DeleteWorld {
  int file, sub1, sub2;
  std::vector<int> subTasks;  // forward and record tasks of the sub-streams
  int fwd, rec;
};

// Deleting a source with two sub-streams asks in order, deletes the
// sub-streams with their tasks, then the source's tasks, live item and row;
// the tasks leave the schedule and the task view forgets the items.
TEST_F(SourceTreeTest, DeleteSourceAsksInOrderAndRemovesEverything) {
  vvtest::TempDir out;
  const std::string url = TheWorld().input;
  DeleteWorld w;
  w.file = AddFile("f", url);
  w.sub1 = AddSub("s1", url);
  w.sub2 = AddSub("s2", url);
  for (int s : {w.sub1, w.sub2}) {
    w.subTasks.push_back(AddForward(s, LIVE_TYPE_SUBSTREAM, "rtmp://127.0.0.1:1/live/s"));
    w.subTasks.push_back(AddRecord(s, LIVE_TYPE_SUBSTREAM, out.path(), 0));
  }
  w.fwd = AddForward(w.file, LIVE_TYPE_FILE, "rtmp://127.0.0.1:1/live/f");
  w.rec = AddRecord(w.file, LIVE_TYPE_FILE, out.path(), 0, 1);  // scheduled and running
  ForgetEngineState();
  tree.Restore();
  ASSERT_TRUE(vvtest::WaitFor([&] { return Engine().FindItem(w.rec, TASK_RECORD).state != 0; }, 10s));
  for (int t : {w.subTasks[1], w.subTasks[3], w.rec}) {
    auto* r = new RecordTaskInfo;
    ASSERT_TRUE(Db().GetRecordTask(*r, t));
    Engine().AddSchedule(static_cast<uint32_t>(t), r);
  }
  Db().SetLiveObject(w.file, 1);  // as if live
  tree.DeleteSource(tree.FindNode(w.file));
  Settle();
  gone = {w.file, w.sub1, w.sub2, w.fwd, w.rec};
  gone.insert(gone.end(), w.subTasks.begin(), w.subTasks.end());
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"ask:请先删除所有子码流及其所有任务吗？", "ask:确定删除吗？",
                                                  "ask:该频道的转发将被删除", "ask:该频道的录像将被删除",
                                                  "ask:该频道的直播将被删除"}));
  EXPECT_TRUE(AllIds().empty());
  EXPECT_TRUE(tree.Root(LIVE_TYPE_FILE)->children.empty());
  EXPECT_EQ(link.forgotten, (std::vector<int>{w.sub1, w.sub2, w.file}));
  EXPECT_EQ(Engine().FindItem(w.rec, TASK_RECORD).state, 0);
  EXPECT_EQ(Engine().SourceCount(), 0);
  // Nothing of the deleted tasks is left on the schedule: a pass inside
  // their window starts nothing.
  Engine().RunSchedulePass(InsideWindow());
  EXPECT_FALSE(Engine().HasPendingRequests());
}

// No at "确定删除吗？" keeps the source (its sub-streams are gone already);
// No at the forward question keeps the source and its tasks.
TEST_F(SourceTreeTest, DeleteAnsweredNoKeepsWhatIsLeft) {
  int file = AddFile("f", "/nowhere/g.flv");
  int sub = AddSub("s", "/nowhere/g.flv");
  int fwd = AddForward(file, LIVE_TYPE_FILE, "rtmp://127.0.0.1:1/live/g");
  ForgetEngineState();
  tree.Restore();
  prompt.answers = {true, false};
  tree.DeleteSource(tree.FindNode(file));
  gone = {sub};
  SubStreamInfo s;
  EXPECT_FALSE(Db().GetSubStream(s, sub));
  EXPECT_EQ(tree.FindNode(sub), nullptr);
  ASSERT_NE(tree.FindNode(file), nullptr);
  prompt.log.clear();
  prompt.answers = {true, false};
  tree.DeleteSource(tree.FindNode(file));
  EXPECT_EQ(prompt.log, (std::vector<std::string>{"ask:确定删除吗？", "ask:该频道的转发将被删除"}));
  EXPECT_EQ(ForwardStatus(fwd), 0);
  EXPECT_NE(tree.FindNode(file), nullptr);
  // A sub-stream alone: no sub-stream question.
  int sub2 = AddSub("s2", "/nowhere/g.flv");
  tree.Restore();  // a second tree picks it up; the first stays as it was
  prompt.log.clear();
  prompt.answers.clear();
  tree.DeleteSource(tree.FindNode(sub2));
  gone.push_back(sub2);
  EXPECT_EQ(prompt.log, std::vector<std::string>{"ask:确定删除吗？"});
  EXPECT_EQ(tree.FindNode(sub2), nullptr);
}

class FakeTaskDialogs : public ITaskDialogs {
 public:
  int RunTaskDialog(int, int, int) override {
    ++calls;
    return 0;
  }
  int calls = 0;
};

struct TaskLink : ITaskListLink {
  explicit TaskLink(CTaskStatusLogic& t) : tasks(t) {}
  void FillTaskList(int liveId, LiveSourceType type) override { tasks.FillTaskList(liveId, type); }
  void ForgetLive(int liveId) override { tasks.ForgetLive(liveId); }
  CTaskStatusLogic& tasks;
};

// After its source is deleted the task view adds no task under its id.
TEST_F(SourceTreeTest, TaskViewForgetsDeletedSource) {
  int file = AddFile("f", "/nowhere/h.flv");
  int other = AddFile("o", "/nowhere/o.flv");
  AddForward(file, LIVE_TYPE_FILE, "rtmp://127.0.0.1:1/live/h");
  ForgetEngineState();
  FakeTaskDialogs taskDialogs;
  CTaskStatusLogic tasks(prompt, taskDialogs, worker);
  TaskLink taskLink(tasks);
  tree.SetTaskList(&taskLink);
  tree.Restore();
  tree.SelectionChanged(tree.FindNode(file));
  ASSERT_EQ(tasks.CurrentLiveId(), file);
  ASSERT_EQ(tasks.Rows(kForwardList).size(), 1u);
  tree.DeleteSource(tree.FindNode(file));
  gone = {file};
  EXPECT_EQ(tasks.CurrentLiveId(), 0);
  EXPECT_TRUE(tasks.Rows(kForwardList).empty());
  prompt.log.clear();
  tasks.AddTask();
  EXPECT_EQ(prompt.log, std::vector<std::string>{"msg:请先选择直播通道"});
  EXPECT_EQ(taskDialogs.calls, 0);
  // Deleting another source leaves the chosen one alone.
  tree.SelectionChanged(tree.FindNode(other));
  int third = AddFile("t", "/nowhere/t.flv");
  tree.AddSourceItem(LIVE_TYPE_FILE, "[t]/nowhere/t.flv", third);
  prompt.answers.clear();
  tree.DeleteSource(tree.FindNode(third));
  gone.push_back(third);
  EXPECT_EQ(tasks.CurrentLiveId(), other);
}

// The tip shows a live item's address and nothing for one that is not live.
TEST_F(SourceTreeTest, TipTextOnlyForLiveItems) {
  int file = AddFile("f", "/nowhere/i.flv");
  LiveStatusInfo l;
  l.id = file;
  l.type = LIVE_TYPE_FILE;
  l.live_url = "rtmp://127.0.0.1/live/i";
  l.status = 1;
  ASSERT_TRUE(Db().UpdateLiveStatus(l));
  EXPECT_EQ(tree.TipText(file), "");  // run word 0 until the restore
  ForgetEngineState();
  Engine().RemoveRequest(static_cast<uint32_t>(file));
  tree.Restore();
  EXPECT_EQ(tree.TipText(file), "rtmp://127.0.0.1/live/i");
}

}  // namespace
}  // namespace srctest
