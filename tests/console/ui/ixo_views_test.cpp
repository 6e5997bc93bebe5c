// The Ixo pull and transfer views offscreen: columns, the once-a-second
// rebuild from their row source, and the list filling the view.
#include <gtest/gtest.h>

#include "tests/console/ui/ShowQuietly.h"

#include <QApplication>
#include <QHeaderView>
#include <QResizeEvent>
#include <QTableWidget>

#include "console/ui/ConsoleWindows.h"
#include "console/ui/IxoStreamViews.h"
#include "tests/tools/TestUtil.h"

using namespace vvconsole;

namespace {
QStringList Headers(QTableWidget* t) {
  QStringList out;
  for (int i = 0; i < t->columnCount(); ++i) out << t->horizontalHeaderItem(i)->text();
  return out;
}
QStringList RowText(QTableWidget* t, int r) {
  QStringList out;
  for (int c = 0; c < t->columnCount(); ++c) out << (t->item(r, c) ? t->item(r, c)->text() : QString());
  return out;
}
}  // namespace

TEST(IxoViews, ColumnsAndIds) {
  struct Case {
    CIxoListView* view;
    const char* id;
    QStringList headers;
    std::vector<int> widths;
  } cases[] = {
      {new CIxoPullStreamView(nullptr, [] { return std::vector<ixoview::Row>(); }), "1099",
       {"序号", "拉流URL", "码率(B/S)", "状态"}, {50, 250, 100, 100}},
      {new CIxoTransferStreamView(nullptr, [] { return std::vector<ixoview::Row>(); }), "1100",
       {"序号", "传输码率(B/S)", "分辨率", "帧率", "转换码率"}, {50, 150, 150, 150, 150}},
  };
  for (Case& c : cases) {
    EXPECT_EQ(c.view->objectName(), QString::fromLatin1(c.id));
    QTableWidget* list = c.view->List();
    EXPECT_EQ(list->objectName(), QStringLiteral("1136"));
    EXPECT_EQ(Headers(list), c.headers);
    for (size_t i = 0; i < c.widths.size(); ++i) EXPECT_EQ(list->columnWidth(static_cast<int>(i)), c.widths[i]);
    EXPECT_TRUE(list->showGrid());
    EXPECT_TRUE(list->horizontalHeader()->sectionsMovable());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    // Not shown: painting a list hands work to Qt's raster threads.
    QResizeEvent resize(QSize(640, 300), c.view->size());
    QApplication::sendEvent(c.view, &resize);
    EXPECT_EQ(list->geometry(), QRect(0, 0, 640, 300));
    delete c.view;
  }
}

// Every tick rebuilds the whole list from the source: rows that went are
// gone, new ones show.
TEST(IxoViews, TimerRebuildsFromTheRowSource) {
  std::vector<std::vector<ixoview::Row>> ticks = {
      {{"1", "rtsp://cam/1", "64KB/S", "正在拉流"}, {"2", "rtsp://cam/1", "0KB/S", "拉流失败"}},
      {{"1", "rtsp://cam/2", "0KB/S", "拉流失败"}},
      {},
  };
  size_t tick = 0;
  int calls = 0;
  CIxoPullStreamView view(nullptr, [&] {
    ++calls;
    return ticks[std::min(tick, ticks.size() - 1)];
  });
  EXPECT_EQ(view.List()->rowCount(), 0);
  for (tick = 0; tick < ticks.size(); ++tick) {
    int before = calls;
    ASSERT_TRUE(vvtest::WaitFor(
        [&] {
          QApplication::processEvents();
          return calls > before;
        },
        std::chrono::seconds(20)));
    const auto& want = ticks[tick];
    ASSERT_EQ(view.List()->rowCount(), static_cast<int>(want.size()));
    for (size_t r = 0; r < want.size(); ++r) {
      QStringList w;
      for (const auto& s : want[r]) w << QString::fromStdString(s);
      EXPECT_EQ(RowText(view.List(), static_cast<int>(r)), w);
    }
  }
}

TEST(IxoViews, EntryPointsBuildTheViews) {
  QWidget parent;
  QWidget* pull = CreateIxoPullStreamView(&parent);
  QWidget* transfer = CreateIxoTransferStreamView(&parent);
  EXPECT_NE(qobject_cast<CIxoPullStreamView*>(pull), nullptr);
  EXPECT_NE(qobject_cast<CIxoTransferStreamView*>(transfer), nullptr);
  EXPECT_EQ(pull->parent(), &parent);
  // From the engine with nothing running: empty lists.
  static_cast<CIxoListView*>(pull)->Rebuild();
  static_cast<CIxoListView*>(transfer)->Rebuild();
  EXPECT_EQ(static_cast<CIxoListView*>(pull)->List()->rowCount(), 0);
  EXPECT_EQ(static_cast<CIxoListView*>(transfer)->List()->rowCount(), 0);
}
