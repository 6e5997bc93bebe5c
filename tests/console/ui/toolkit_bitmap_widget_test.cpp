// The bitmap strip drawing and the bitmap button's frames, commands and
// forwarded mouse messages, on real widgets.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <vector>

#include "console/ui/toolkit/BitmapStrip.h"
#include "tests/console/ui/ToolkitEvents.h"
#include "tests/tools/TestUtil.h"

using vvconsole::CBitmapStrip;
using vvconsole::CBitWnd;

namespace {

const QColor kFrameColours[] = {Qt::red, Qt::green, Qt::blue};

// A strip of `frames` frames of 20 x 10, each a colour of its own.
QImage ThreeColourStrip(int frames = 3, bool vertical = false) {
  QImage img(vertical ? 10 : 20 * frames, vertical ? 20 * frames : 10, QImage::Format_RGB32);
  QPainter p(&img);
  for (int i = 0; i < frames; ++i) {
    p.fillRect(vertical ? QRect(0, 20 * i, 10, 20) : QRect(20 * i, 0, 20, 10), kFrameColours[i]);
  }
  return img;
}

QColor PixelOf(QWidget& w, QPoint at) { return w.grab().toImage().pixelColor(at); }

TEST(BitmapStripWidgetTest, DrawsFramesAndRefusesMissingOnes) {
  CBitmapStrip strip(ThreeColourStrip(), 20, 10);
  ASSERT_EQ(strip.FrameCount(), 3);
  QImage target(60, 20, QImage::Format_RGB32);
  target.fill(Qt::white);
  {
    QPainter p(&target);
    EXPECT_TRUE(strip.DrawFrame(&p, 1));
    const QPoint at(30, 5);
    EXPECT_TRUE(strip.DrawFrame(&p, 2, false, &at));
    EXPECT_FALSE(strip.DrawFrame(&p, 3));
    EXPECT_FALSE(strip.DrawFrame(&p, -1));
    EXPECT_FALSE(strip.DrawFrame(nullptr, 0));
  }
  EXPECT_EQ(target.pixelColor(5, 5), QColor(Qt::green));
  EXPECT_EQ(target.pixelColor(35, 10), QColor(Qt::blue));
  EXPECT_EQ(target.pixelColor(25, 2), QColor(Qt::white));  // between the two
  EXPECT_EQ(target.pixelColor(55, 18), QColor(Qt::white));

  // The whole bitmap, centred in a larger box.
  target.fill(Qt::white);
  {
    QPainter p(&target);
    EXPECT_TRUE(strip.Draw(&p, QRect(0, 0, 60, 20), QPoint(), false, true));
  }
  EXPECT_EQ(target.pixelColor(0, 4), QColor(Qt::white));  // 5 rows above it
  EXPECT_EQ(target.pixelColor(0, 5), QColor(Qt::red));
  EXPECT_EQ(target.pixelColor(59, 14), QColor(Qt::blue));
  EXPECT_EQ(target.pixelColor(59, 15), QColor(Qt::white));
}

TEST(BitmapStripWidgetTest, FailedLoadHasNoFramesAndDrawsNothing) {
  vvtest::TempDir dir("vvstrip");
  CBitmapStrip missing(QString::fromStdString(dir.file("none.png")), 0, 0);
  EXPECT_EQ(missing.FrameCount(), 0);
  QImage target(10, 10, QImage::Format_RGB32);
  QPainter p(&target);
  EXPECT_FALSE(missing.DrawFrame(&p, 0));
  EXPECT_FALSE(missing.Draw(&p, 0, 0));
  EXPECT_FALSE(missing.HitTest(QPoint(0, 0)));
}

TEST(BitmapStripWidgetTest, CopyModeTakesFramesOfAnotherStrip) {
  CBitmapStrip mine(ThreeColourStrip(), 20, 10, 1);
  QImage grey(60, 10, QImage::Format_RGB32);
  grey.fill(Qt::gray);
  CBitmapStrip other(grey, 20, 10);
  ASSERT_TRUE(mine.CopyFrameFrom(other, 1));
  EXPECT_EQ(mine.CopyBitmap().pixelColor(25, 5), QColor(Qt::gray));
  EXPECT_EQ(mine.CopyBitmap().pixelColor(5, 5), QColor(Qt::red));
  EXPECT_EQ(mine.Bitmap().pixelColor(25, 5), QColor(Qt::green));  // the bitmap stays
  // Draw shows the copy.
  QImage target(60, 10, QImage::Format_RGB32);
  {
    QPainter p(&target);
    mine.Draw(&p, 0, 0);
  }
  EXPECT_EQ(target.pixelColor(25, 5), QColor(Qt::gray));
  mine.ResetCopy();
  EXPECT_EQ(mine.CopyBitmap().pixelColor(25, 5), QColor(Qt::green));
  CBitmapStrip plain(ThreeColourStrip(), 20, 10);
  EXPECT_FALSE(plain.CopyFrameFrom(other, 1));  // no copy to write into
  EXPECT_FALSE(mine.CopyFrameFrom(other, 3));
}

TEST(BitWndTest, LoadsAStripFromAFileAndPaintsEachState) {
  vvtest::TempDir dir("vvbitwnd");
  const QString file = QString::fromStdString(dir.file("strip.png"));
  ASSERT_TRUE(ThreeColourStrip().save(file));
  QWidget parent;
  parent.resize(100, 50);
  auto* b = new CBitWnd(1201, &parent);
  ASSERT_TRUE(b->LoadStrip(file, 20, 0));
  EXPECT_EQ(b->size(), QSize(20, 10));
  EXPECT_EQ(b->objectName(), "1201");
  parent.show();

  std::vector<int> commands;
  QObject::connect(b, &CBitWnd::command, [&](int id, CBitWnd* w) {
    EXPECT_EQ(w, b);
    commands.push_back(id);
  });
  EXPECT_EQ(PixelOf(*b, {5, 5}), QColor(Qt::red));
  vvtoolkit::Move(b, {5, 5});
  EXPECT_EQ(b->Frame(), 1);
  EXPECT_EQ(PixelOf(*b, {5, 5}), QColor(Qt::green));
  vvtoolkit::Press(b, {5, 5});
  EXPECT_EQ(b->Frame(), 2);
  EXPECT_EQ(PixelOf(*b, {5, 5}), QColor(Qt::blue));
  EXPECT_TRUE(commands.empty());  // the command waits for the release
  vvtoolkit::Release(b, {5, 5});
  EXPECT_EQ(commands, std::vector<int>{1201});
  EXPECT_EQ(b->Frame(), 1);
  vvtoolkit::Leave(b);
  EXPECT_EQ(b->Frame(), 0);
  // The right button is no click.
  vvtoolkit::Mouse(b, QEvent::MouseButtonPress, {5, 5}, Qt::RightButton);
  vvtoolkit::Mouse(b, QEvent::MouseButtonRelease, {5, 5}, Qt::RightButton);
  EXPECT_EQ(commands.size(), 1u);
}

TEST(BitWndTest, ToggleChecksOnThePressAndNotifyOnPress) {
  QWidget parent;
  auto* b = new CBitWnd(7, &parent);
  b->LoadStrip(ThreeColourStrip(), 20, 10);
  b->SetToggle(true);
  b->SetNotifyOnPress(true);
  parent.show();
  int commands = 0;
  bool checkedAtCommand = false;
  QObject::connect(b, &CBitWnd::command, [&] {
    ++commands;
    checkedAtCommand = b->GetCheck();
  });
  vvtoolkit::Move(b, {1, 1});
  vvtoolkit::Press(b, {1, 1});
  EXPECT_EQ(commands, 1);
  EXPECT_TRUE(checkedAtCommand);
  vvtoolkit::Release(b, {1, 1});
  EXPECT_EQ(commands, 1);
  vvtoolkit::Leave(b);
  EXPECT_EQ(b->Frame(), 2);  // checked keeps frame 2 outside
  EXPECT_EQ(PixelOf(*b, {5, 5}), QColor(Qt::blue));
}

// Records the mouse messages a bitmap button passes on.
class Recorder : public QWidget {
 public:
  struct Seen {
    QEvent::Type type;
    QPoint pos;
  };
  std::vector<Seen> seen;

 protected:
  void mouseMoveEvent(QMouseEvent* e) override { seen.push_back({e->type(), e->position().toPoint()}); }
  void mousePressEvent(QMouseEvent* e) override { seen.push_back({e->type(), e->position().toPoint()}); }
  void mouseReleaseEvent(QMouseEvent* e) override { seen.push_back({e->type(), e->position().toPoint()}); }
};

TEST(BitWndTest, ForwardsMouseMessagesInTheParentsCoordinates) {
  Recorder parent;
  parent.setMouseTracking(true);  // Qt hands moves without a button only to such widgets
  parent.resize(200, 100);
  auto* b = new CBitWnd(3, &parent);
  b->LoadStrip(ThreeColourStrip(), 20, 10);
  b->move(40, 30);
  parent.show();
  vvtoolkit::Move(b, {2, 3});
  EXPECT_TRUE(parent.seen.empty());  // only when asked
  b->SetForwardMouse(true);
  vvtoolkit::Move(b, {2, 3});
  vvtoolkit::Click(b, {4, 5});
  ASSERT_EQ(parent.seen.size(), 3u);
  EXPECT_EQ(parent.seen[0].type, QEvent::MouseMove);
  EXPECT_EQ(parent.seen[0].pos, QPoint(42, 33));
  EXPECT_EQ(parent.seen[1].type, QEvent::MouseButtonPress);
  EXPECT_EQ(parent.seen[2].type, QEvent::MouseButtonRelease);
  EXPECT_EQ(parent.seen[2].pos, QPoint(44, 35));
}

TEST(BitWndTest, StripOwnershipAndNoStrip) {
  CBitmapStrip mine(ThreeColourStrip(2), 20, 10);
  {
    QWidget parent;
    auto* b = new CBitWnd(9, &parent);
    parent.show();
    // Without a strip: nothing to paint, hover changes nothing.
    vvtoolkit::Move(b, {0, 0});
    EXPECT_EQ(b->Frame(), 0);
    b->grab();
    ASSERT_TRUE(b->LoadStrip(ThreeColourStrip(), 20, 10));
    EXPECT_TRUE(b->OwnsStrip());
    b->SetStrip(&mine);  // frees the loaded strip
    EXPECT_FALSE(b->OwnsStrip());
    EXPECT_EQ(b->Strip(), &mine);
    b->SetToggle(true);
    b->SetCheck(true);
    EXPECT_EQ(b->Frame(), 0);  // a two-frame strip has no checked frame
    EXPECT_EQ(PixelOf(*b, {5, 5}), QColor(Qt::red));
    EXPECT_FALSE(b->LoadStrip(QStringLiteral("/nonexistent/strip.png"), 20, 10));
    vvtoolkit::Move(b, {0, 0});
    b->grab();
    b->SetStrip(&mine);
  }
  // The button went away without freeing the caller's strip.
  EXPECT_EQ(mine.FrameCount(), 2);
  QImage target(20, 10, QImage::Format_RGB32);
  QPainter p(&target);
  EXPECT_TRUE(mine.DrawFrame(&p, 1));
}

}  // namespace
