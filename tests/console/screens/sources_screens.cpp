// Shots of the source tree, the task status view and their small windows,
// with rows in the scratch database.
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QSplitter>
#include <QThread>

#include "console/ui/KHTitleDlg.h"
#include "console/ui/SourceListView.h"
#include "console/ui/StreamStatuView.h"
#include "core/DatabaseManager.h"
#include "media/LiveChannelManager.h"
#include "tests/console/screens/Screens.h"

namespace {

struct Rows {
  int file1 = 0, file2 = 0, sub = 0;
};

// Sources, a sub-stream and tasks of every kind, made once.
const Rows& SampleRows() {
  static Rows rows = [] {
    Rows r;
    CDatabaseManager& db = CDatabaseManager::Instance();
    DeviceSourceInfo d;
    d.alias = "演播室摄像机";
    d.url = "video=USB Camera:audio=Built-in Audio";
    int id = 0;
    db.InsertDeviceSource(d, id);
    UrlSourceInfo n;
    n.alias = "新闻频道";
    n.url = "rtsp://127.0.0.1:8554/news";
    db.InsertNetSource(n, id);
    n.alias = "体育频道";
    n.url = "rtmp://127.0.0.1/live/sports";
    db.InsertNetSource(n, id);
    UrlSourceInfo f;
    f.alias = "宣传片";
    f.url = "/srv/media/promo.flv";
    db.InsertFileSource(f, r.file1);
    f.alias = "片头";
    f.url = "/srv/media/opening.mp4";
    db.InsertFileSource(f, r.file2);
    SubStreamInfo s;
    s.alias = "宣传片-标清";
    s.url = "/srv/media/promo.flv";
    s.width = 640;
    s.height = 360;
    db.InsertSubStream(s, r.sub);
    s.alias = "宣传片-手机";
    s.width = 320;
    s.height = 180;
    db.InsertSubStream(s, id);
    // The first file source is shown live (its row says so; its run word
    // comes from the restore).
    LiveStatusInfo live;
    live.id = r.file1;
    live.type = LIVE_TYPE_FILE;
    live.live_url = "rtmp://127.0.0.1/live/promo";
    live.status = 1;
    db.UpdateLiveStatus(live);
    ForwardTaskInfo t;
    t.live_id = r.file1;
    t.forward_url = "rtmp://127.0.0.1:1935/live/promo-a";
    db.InsertForwardTask(t, id, LIVE_TYPE_FILE);
    t.forward_url = "rtmp://127.0.0.1:1935/live/promo-b";
    t.buffer_enabled = 1;
    t.buffer_time = 20;
    db.InsertForwardTask(t, id, LIVE_TYPE_FILE);
    t.live_id = r.sub;
    t.forward_url = "rtmp://127.0.0.1:1935/live/promo-sd";
    t.buffer_type = 1;
    t.buffer_time = 60;
    db.InsertForwardTask(t, id, LIVE_TYPE_SUBSTREAM);
    RecordTaskInfo rec;
    rec.name = "promo";
    rec.live_id = r.file1;
    rec.fileType = 2;
    rec.recordType = 0;
    rec.saveFolder = "/srv/record/promo";
    rec.startTime = "08:00:00";
    rec.endTime = "12:00:00";
    rec.days_of_week = "1;2;3;4;5";
    db.InsertRecordTask(rec, id, LIVE_TYPE_FILE);
    rec.fileType = 1;
    rec.recordType = 1;
    rec.saveFolder = "/srv/record/manual";
    db.InsertRecordTask(rec, id, LIVE_TYPE_FILE);
    return r;
  }();
  return rows;
}

}  // namespace

VV_SCREEN("sources_tree") {
  SampleRows();
  auto* view = new CSourceListView();
  view->resize(360, 420);
  return view;
}

VV_SCREEN("sources_tasks_forward") {
  SampleRows();
  auto* view = new CStreamStatuView();
  view->resize(900, 320);
  view->FillTaskList(0, LIVE_TYPE_FILE);
  view->RefreshStatus();
  view->ForwardList()->selectRow(1);
  return view;
}

VV_SCREEN("sources_tasks_record") {
  const Rows& rows = SampleRows();
  auto* view = new CStreamStatuView();
  view->resize(1000, 320);
  view->ShowTaskList(1);
  view->FillTaskList(rows.file1, LIVE_TYPE_FILE);
  return view;
}

// A camera source whose address cannot be resolved: its running forward
// task says why in its note while the source keeps trying.
VV_SCREEN("sources_tasks_camera") {
  CDatabaseManager& db = CDatabaseManager::Instance();
  UrlSourceInfo cam;
  cam.alias = "门口摄像机";
  cam.url = "rtsp://HKadmin@pw@127.0.0.1:1//S1:554/ch1";  // no resolve server there
  int camId = 0;
  db.InsertNetSource(cam, camId);
  ForwardTaskInfo t;
  t.live_id = camId;
  t.forward_url = "rtmp://127.0.0.1:1/live/door";
  int taskId = 0;
  db.InsertForwardTask(t, taskId, LIVE_TYPE_NET);
  db.GetForwardTask(t, taskId);
  t.id = taskId;
  CLiveChannelManager* engine = CLiveChannelManager::Instance();
  engine->StartTask(TASK_FORWARD, LIVE_TYPE_NET, cam.url, static_cast<uint32_t>(taskId), static_cast<uint32_t>(camId),
                    &t, nullptr);
  QElapsedTimer waited;
  waited.start();
  while (engine->FindItem(static_cast<uint32_t>(taskId), TASK_FORWARD).message.rfind("海康", 0) != 0 &&
         waited.elapsed() < 10000)
    QThread::msleep(50);
  auto* view = new CStreamStatuView();
  view->resize(900, 200);
  view->FillTaskList(camId, LIVE_TYPE_NET);
  view->RefreshStatus();
  // Gone again after the shot: the other shots share the database.
  QObject::connect(view, &QObject::destroyed, [engine, taskId, camId] {
    engine->StopTask(static_cast<uint32_t>(taskId), TASK_FORWARD);
    CDatabaseManager::Instance().DeleteForwardTask(taskId);
    CDatabaseManager::Instance().DeleteLiveItem(camId, LIVE_TYPE_NET);
  });
  return view;
}

VV_SCREEN("sources_pane") {
  const Rows& rows = SampleRows();
  auto* split = new QSplitter();
  auto* tree = new CSourceListView(split);
  auto* tasks = new CStreamStatuView(split);
  split->addWidget(tree);
  split->addWidget(tasks);
  split->setSizes({300, 900});
  split->resize(1200, 420);
  if (QTreeWidgetItem* item = tree->ItemOf(tree->Logic().FindNode(rows.file1))) tree->Tree()->setCurrentItem(item);
  return split;
}

VV_SCREEN("sources_tip") {
  auto* tip = new CTipWnd();
  tip->SetText(QStringLiteral("rtmp://127.0.0.1/live/promo"));
  return tip;
}
