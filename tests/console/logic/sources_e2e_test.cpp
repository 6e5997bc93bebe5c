// The operator's road end to end: a file source added to the tree, a
// forward task added and started in the task view, the stream arriving at
// nginx-rtmp; then a restart (fresh engine state and live maps, a new tree
// and task view over the same database) finds the task running again.
#include <algorithm>
#include <sstream>

#include "console/logic/SourceLabel.h"
#include "console/logic/SourceTree.h"
#include "console/logic/TaskStatus.h"
#include "tests/console/logic/SourcesWorld.h"
#include "tests/tools/NginxRtmp.h"

namespace srctest {
namespace {

class NoSourceDialogs : public ISourceTreeDialogs {
 public:
  SourceEditResult RunSourceDialog(LiveSourceType, int) override { return {}; }
  SourceEditResult RunSubStreamDialog(int, const std::string&) override { return {}; }
};

class ForwardDialog : public ITaskDialogs {
 public:
  explicit ForwardDialog(std::string url) : url(std::move(url)) {}
  int RunTaskDialog(int kind, int editId, int liveId) override {
    if (kind != kForwardList || editId != 0) return 0;
    ForwardTaskInfo t;
    t.live_id = liveId;
    t.forward_url = url;
    int id = 0;
    EXPECT_TRUE(Db().InsertForwardTask(t, id, Db().GetLiveType(liveId)));
    return id;
  }
  std::string url;
};

struct Link : ITaskListLink {
  explicit Link(CTaskStatusLogic& t) : tasks(t) {}
  void FillTaskList(int liveId, LiveSourceType type) override { tasks.FillTaskList(liveId, type); }
  void ForgetLive(int liveId) override { tasks.ForgetLive(liveId); }
  CTaskStatusLogic& tasks;
};

// The console as the program builds it at start-up.
struct Console {
  Console(IPrompt& prompt, ITaskDialogs& taskDialogs, COrderedWorker& worker)
      : tasks(prompt, taskDialogs, worker), link(tasks), tree(prompt, sourceDialogs, worker) {
    tree.SetTaskList(&link);
    tree.Restore();
  }
  NoSourceDialogs sourceDialogs;
  CTaskStatusLogic tasks;
  Link link;
  CSourceTreeLogic tree;
};

// What a player of the stream sees: its codecs in name order, "" when
// nothing plays.
std::string Probe(const std::string& url) {
  vvtest::CommandResult r =
      vvtest::Run("timeout 20 ffprobe -v error -rw_timeout 10000000 -show_entries stream=codec_name -of csv=p=0 " +
                  vvtest::ShellQuote(url));
  std::vector<std::string> codecs;
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) codecs.push_back(line);
  }
  std::sort(codecs.begin(), codecs.end());
  std::string joined;
  for (const std::string& c : codecs) joined += (joined.empty() ? "" : ",") + c;
  return joined;
}

bool Forwarding(CTaskStatusLogic& tasks) {
  tasks.Refresh();
  const TaskRow& row = tasks.Rows(kForwardList).at(0);
  return row.cells[kFwdState] == "正在转发" && row.cells[kFwdRate] != "0KB/S";
}

using SourcesEndToEndTest = SourcesTest;

TEST_F(SourcesEndToEndTest, ForwardTaskReachesNginxAndIsRestoredAfterRestart) {
  ASSERT_TRUE(vvtest::NginxRtmp::Available());
  vvtest::NginxRtmp nginx;
  ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
  const std::string target = nginx.Url("e2e");
  ForwardDialog dialog(target);
  int file = 0;
  int task = 0;
  {
    Console console(prompt, dialog, worker);
    // The file source dialog stores its row and puts the node in.
    UrlSourceInfo s;
    s.alias = "片源";
    s.url = TheWorld().input;
    ASSERT_TRUE(Db().InsertFileSource(s, file));
    SourceNode* node = console.tree.AddSourceItem(LIVE_TYPE_FILE, MakeSourceLabel(s.alias, s.url), file);
    ASSERT_NE(node, nullptr);
    console.tree.SelectionChanged(node);
    console.tasks.AddTask();
    ASSERT_EQ(console.tasks.Rows(kForwardList).size(), 1u);
    task = console.tasks.Rows(kForwardList)[0].taskId;
    console.tasks.StartTasks({0});
    Settle();
    EXPECT_EQ(ForwardStatus(task), 1);
    ASSERT_TRUE(vvtest::WaitFor([&] { return Forwarding(console.tasks); }, 20s))
        << Engine().FindItem(task, TASK_FORWARD).message;
    EXPECT_EQ(Probe(target), "aac,h264");
  }

  // Restart: the engine and the live maps start empty, the rows stay.
  ForgetEngineState();
  ASSERT_EQ(Engine().FindItem(task, TASK_FORWARD).state, 0);
  ASSERT_EQ(Engine().SourceCount(), 0);
  ASSERT_EQ(Db().GetLiveType(task), LIVE_TYPE_NONE);
  Console console(prompt, dialog, worker);
  EXPECT_EQ(Db().GetLiveType(task), LIVE_TYPE_FILE);
  EXPECT_EQ(Db().GetLiveObject(task), 1);
  console.tree.SelectionChanged(console.tree.FindNode(file));
  ASSERT_EQ(console.tasks.Rows(kForwardList).size(), 1u);
  ASSERT_TRUE(vvtest::WaitFor([&] { return Forwarding(console.tasks); }, 20s))
      << Engine().FindItem(task, TASK_FORWARD).message;
  EXPECT_EQ(Probe(target), "aac,h264");
  // The operator stops it; the next start-up leaves it alone.
  console.tasks.StopTasks({0});
  Settle();
  EXPECT_EQ(ForwardStatus(task), 0);
  EXPECT_EQ(Engine().FindItem(task, TASK_FORWARD).state, 0);
  ForgetEngineState();
  Console again(prompt, dialog, worker);
  EXPECT_FALSE(Engine().HasPendingRequests());
  EXPECT_EQ(Db().GetLiveObject(task), 0);
}

}  // namespace
}  // namespace srctest
