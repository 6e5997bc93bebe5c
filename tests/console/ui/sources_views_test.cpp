// The source tree and task status widgets on the offscreen platform, over
// a real SQLite database and the real engine.
#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "console/ui/KHTitleDlg.h"
#include "console/ui/SourceListView.h"
#include "console/ui/StreamStatuView.h"
#include "tests/console/logic/SourcesWorld.h"

namespace srctest {
namespace {

void Process() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// Answers the next message box with the button of that text, once it shows.
void AnswerNextBox(const QString& text, int triesLeft = 500) {
  QTimer::singleShot(10, [text, triesLeft] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      for (QAbstractButton* b : box->buttons()) {
        if (b->text() == text) {
          b->click();
          return;
        }
      }
    }
    if (triesLeft > 0) AnswerNextBox(text, triesLeft - 1);
  });
}

// Fills the task dialog that opens next (once it shows) and presses OK.
void AnswerNextTaskDialog(std::function<void(QWidget*)> fill, int triesLeft = 500) {
  QTimer::singleShot(10, [fill, triesLeft] {
    QWidget* d = QApplication::activeModalWidget();
    if (d && !qobject_cast<QMessageBox*>(d)) {
      fill(d);
      if (auto* ok = d->findChild<QPushButton*>(QStringLiteral("1"))) ok->click();
      return;
    }
    if (triesLeft > 0) AnswerNextTaskDialog(fill, triesLeft - 1);
  });
}

void SetEdit(QWidget* d, int id, const QString& text) {
  auto* edit = d->findChild<QLineEdit*>(QString::number(id));
  ASSERT_NE(edit, nullptr) << id;
  edit->setText(text);
}

void Move(QWidget* w, const QPoint& p) {
  QMouseEvent e(QEvent::MouseMove, QPointF(p), QPointF(w->mapToGlobal(p)), Qt::NoButton, Qt::NoButton,
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void Click(QWidget* w, const QPoint& p) {
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(p), QPointF(w->mapToGlobal(p)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(p), QPointF(w->mapToGlobal(p)), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

class SourcesViewsTest : public SourcesTest {
 protected:
  void TearDown() override {
    // The views' own worker: its stops are done before the next test.
    vvconsole::ConsoleWorker().WaitIdle();
    Process();
    SourcesTest::TearDown();
  }
};

// The tip shows over the image of a live node only, with its address.
TEST_F(SourcesViewsTest, TipFollowsImageOfLiveNode) {
  int live = AddFile("live", "/nowhere/tip-live.flv");
  LiveStatusInfo l;
  l.id = live;
  l.type = LIVE_TYPE_FILE;
  l.live_url = "rtmp://127.0.0.1/live/tip";
  l.status = 1;
  ASSERT_TRUE(Db().UpdateLiveStatus(l));
  int idle = AddFile("idle", "/nowhere/tip-idle.flv");
  ForgetEngineState();
  CSourceListView view;
  view.resize(300, 400);
  view.show();
  Process();
  QWidget* port = view.Tree()->viewport();
  QTreeWidgetItem* liveItem = view.ItemOf(view.Logic().FindNode(live));
  QTreeWidgetItem* idleItem = view.ItemOf(view.Logic().FindNode(idle));
  QTreeWidgetItem* root = view.ItemOf(view.Logic().Root(LIVE_TYPE_FILE));
  ASSERT_TRUE(liveItem && idleItem && root);
  const QRect hot = view.Tree()->HotStrip(liveItem);
  ASSERT_TRUE(hot.isValid());
  EXPECT_GE(hot.width(), 30);
  Move(port, hot.center());
  EXPECT_TRUE(view.Tip()->isVisible());
  EXPECT_EQ(view.Tip()->Text(), QStringLiteral("rtmp://127.0.0.1/live/tip"));
  // Onto the label: hidden.
  Move(port, QPoint(hot.right() + 40, hot.center().y()));
  EXPECT_FALSE(view.Tip()->isVisible());
  // From the live image straight onto the image of a node that is not live:
  // no tip (and not the last address).
  Move(port, hot.center());
  ASSERT_TRUE(view.Tip()->isVisible());
  Move(port, view.Tree()->HotStrip(idleItem).center());
  EXPECT_FALSE(view.Tip()->isVisible());
  // A root's image: hidden.
  Move(port, hot.center());
  Move(port, view.Tree()->HotStrip(root).center());
  EXPECT_FALSE(view.Tip()->isVisible());
}

// The node a command acts on is the selected one, however it was chosen;
// the task view follows the tree's selection.
TEST_F(SourcesViewsTest, KeyboardSelectionDrivesTaskView) {
  SKIP_UNDER_THREAD_CHECKER();
  int a = AddFile("a", "/nowhere/k-a.flv");
  int b = AddFile("b", "/nowhere/k-b.flv");
  AddForward(b, LIVE_TYPE_FILE, "rtmp://127.0.0.1:1/live/kb");
  ForgetEngineState();
  QWidget top;
  auto* tree = new CSourceListView(&top);
  auto* tasks = new CStreamStatuView(&top);
  // Windows kept under 131072 pixels: larger ones make Qt convert images
  // on its own thread pool, which the thread checker cannot see into.
  tree->setGeometry(0, 0, 200, 250);
  tasks->setGeometry(200, 0, 300, 250);
  top.show();
  Process();
  tree->Tree()->setFocus();
  tree->Tree()->setCurrentItem(tree->ItemOf(tree->Logic().FindNode(a)));
  EXPECT_EQ(tasks->Logic().CurrentLiveId(), a);
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
  QApplication::sendEvent(tree->Tree(), &down);
  Process();
  EXPECT_EQ(tree->SelectedNode(), tree->Logic().FindNode(b));
  EXPECT_EQ(tasks->Logic().CurrentLiveId(), b);
  EXPECT_EQ(tasks->ForwardList()->rowCount(), 1);
  EXPECT_EQ(tasks->ForwardList()->item(0, kFwdAlias)->text(), QStringLiteral("b"));
  // Deleting the selected source: the task view forgets it.
  AnswerNextBox(QStringLiteral("是"));
  AnswerNextBox(QStringLiteral("是"));
  tree->OnDeleteSource();
  Process();
  gone = {b};
  EXPECT_EQ(tree->Logic().FindNode(b), nullptr);
  EXPECT_NE(tasks->Logic().CurrentLiveId(), b);
}

// The rows acted on are the list's selection when the command runs.
TEST_F(SourcesViewsTest, DeleteTakesSelectionAtCommandTime) {
  SKIP_UNDER_THREAD_CHECKER();
  int file = AddFile("f", "/nowhere/sel.flv");
  std::vector<int> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(AddForward(file, LIVE_TYPE_FILE, "rtmp://127.0.0.1:1/l/" + std::to_string(i)));
  CStreamStatuView view;
  view.resize(480, 250);
  view.show();
  view.FillTaskList(file, LIVE_TYPE_FILE);
  Process();
  QTableWidget* list = view.ForwardList();
  ASSERT_EQ(list->rowCount(), 3);
  Click(list->viewport(), list->visualItemRect(list->item(1, 0)).center());  // clicked first
  list->clearSelection();
  list->selectRow(0);
  list->selectionModel()->select(list->model()->index(2, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(view.SelectedRows(), (std::vector<int>{0, 2}));
  AnswerNextBox(QStringLiteral("是"));
  view.OnDeleteTask();
  Process();
  gone = {ids[0], ids[2]};
  ASSERT_EQ(list->rowCount(), 1);
  EXPECT_EQ(list->item(0, kFwdUrl)->text(), QStringLiteral("rtmp://127.0.0.1:1/l/1"));
  EXPECT_EQ(ForwardStatus(ids[1]), 0);
  EXPECT_EQ(ForwardStatus(ids[0]), -1);
  EXPECT_EQ(ForwardStatus(ids[2]), -1);
}

// A task added through the dialog shows its source's alias at once, as a
// fill would: no reselection in the tree is needed. An edit keeps it.
TEST_F(SourcesViewsTest, AddedTaskShowsItsSourceAlias) {
  SKIP_UNDER_THREAD_CHECKER();
  UrlSourceInfo net;
  net.alias = "门口摄像机";
  net.url = "rtsp://127.0.0.1:1/door";
  int netId = 0;
  ASSERT_TRUE(Db().InsertNetSource(net, netId));
  int sub = AddSub("门口-标清", net.url);
  vvtest::TempDir out;
  CStreamStatuView view;
  view.resize(480, 250);
  view.show();
  Process();
  QAbstractButton* add = view.findChild<QAbstractButton*>(QStringLiteral("1126"));
  ASSERT_NE(add, nullptr);

  view.FillTaskList(netId, LIVE_TYPE_NET);
  AnswerNextTaskDialog([](QWidget* d) { SetEdit(d, 1104, QStringLiteral("rtmp://127.0.0.1:1/live/door")); });
  add->click();
  Process();
  QTableWidget* forward = view.ForwardList();
  ASSERT_EQ(forward->rowCount(), 1);
  EXPECT_EQ(forward->item(0, kFwdUrl)->text(), QStringLiteral("rtmp://127.0.0.1:1/live/door"));
  EXPECT_EQ(forward->item(0, kFwdAlias)->text(), QStringLiteral("门口摄像机"));

  view.ShowTaskList(1);
  view.FillTaskList(sub, LIVE_TYPE_SUBSTREAM);
  const QString folder = QString::fromStdString(out.path());
  AnswerNextTaskDialog([folder](QWidget* d) {
    SetEdit(d, 1104, folder);
    auto* manual = d->findChild<QAbstractButton*>(QStringLiteral("1110"));
    ASSERT_NE(manual, nullptr);
    manual->click();
  });
  add->click();
  Process();
  QTableWidget* record = view.RecordList();
  ASSERT_EQ(record->rowCount(), 1);
  EXPECT_EQ(record->item(0, kRecFolder)->text(), folder);
  EXPECT_EQ(record->item(0, kRecAlias)->text(), QStringLiteral("门口-标清"));

  // Edited (the row selected, the dialog answered as it opens): the alias stays.
  record->selectRow(0);
  AnswerNextTaskDialog([](QWidget*) {});
  view.OnEditTask();
  Process();
  ASSERT_EQ(record->rowCount(), 1);
  EXPECT_EQ(record->item(0, kRecAlias)->text(), QStringLiteral("门口-标清"));
  // What a later fill shows is the same.
  view.FillTaskList(sub, LIVE_TYPE_SUBSTREAM);
  Process();
  EXPECT_EQ(record->item(0, kRecAlias)->text(), QStringLiteral("门口-标清"));
}

// The title strip switches the lists; a click between its buttons does
// nothing; a strip without buttons draws and ignores clicks.
TEST_F(SourcesViewsTest, TitleStripSwitchesLists) {
  SKIP_UNDER_THREAD_CHECKER();
  CStreamStatuView view;
  view.resize(480, 250);
  view.show();
  Process();
  CKHTitleMainDlg* strip = view.TitleStrip();
  StripButtons b = strip->Buttons();
  EXPECT_EQ(b.a.left, 15);
  EXPECT_EQ(b.a.top, 5);
  EXPECT_EQ(b.a.right, 100);
  EXPECT_EQ(b.a.bottom, 25);
  EXPECT_EQ(b.b.left, 110);
  EXPECT_EQ(b.b.right, 200);
  EXPECT_TRUE(view.ForwardList()->isVisible());
  Click(strip, QPoint(150, 15));
  Process();
  EXPECT_EQ(view.Logic().Mode(), kRecordList);
  EXPECT_TRUE(view.RecordList()->isVisible());
  EXPECT_FALSE(view.ForwardList()->isVisible());
  Click(strip, QPoint(105, 15));  // between the buttons
  Process();
  EXPECT_EQ(view.Logic().Mode(), kRecordList);
  Click(strip, QPoint(20, 15));
  Process();
  EXPECT_EQ(view.Logic().Mode(), kForwardList);
  EXPECT_TRUE(view.ForwardList()->isVisible());
  view.ShowTaskList(2);
  EXPECT_FALSE(view.ForwardList()->isVisible());
  EXPECT_FALSE(view.RecordList()->isVisible());
  EXPECT_EQ(view.Logic().Mode(), kForwardList);

  CKHTitleBitDlg bare;
  EXPECT_FALSE(bare.SetButtonBitmap(QString(), 2));
  EXPECT_FALSE(bare.SetButtonBitmap(QStringLiteral(":/console/title_buttons.png"), 0));
  bare.resize(300, 37);
  EXPECT_FALSE(bare.grab().isNull());
  CKHTitleMainDlg none(QStringLiteral(":/console/title_buttons.png"), 0);
  int clicks = 0;
  QObject::connect(&none, &CKHTitleMainDlg::ButtonClicked, [&](int) { ++clicks; });
  none.resize(300, 37);
  EXPECT_FALSE(none.grab().isNull());
  Click(&none, QPoint(20, 15));
  Move(&none, QPoint(20, 15));
  EXPECT_EQ(clicks, 0);
}

}  // namespace
}  // namespace srctest
