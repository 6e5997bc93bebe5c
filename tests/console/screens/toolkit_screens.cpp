// The toolkit controls, one shot each: bitmap buttons, the colour picker
// with its popup open, the sortable list, the splitter bars and the folder
// chooser.
#include <QApplication>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "console/ui/toolkit/BitmapStrip.h"
#include "console/ui/toolkit/ColourPicker.h"
#include "console/ui/toolkit/FolderDialog.h"
#include "console/ui/toolkit/SSplitter.h"
#include "console/ui/toolkit/SortListCtrl.h"
#include "tests/console/screens/Screens.h"

using namespace vvconsole;

namespace {

MemorySettingsStore& ShotStore() {
  static MemorySettingsStore store;
  return store;
}

enum class Glyph { Play, Stop, Record };

// Three 36 x 36 frames side by side: normal, under the mouse, pressed.
QImage ButtonStrip(Glyph glyph, QColor tint) {
  const int n = 36;
  QImage img(3 * n, n, QImage::Format_ARGB32_Premultiplied);
  img.fill(QColor(240, 240, 240));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  for (int f = 0; f < 3; ++f) {
    const QRectF box(f * n + 2.5, 2.5, n - 5, n - 5);
    QLinearGradient g(box.topLeft(), box.bottomLeft());
    const QColor top = f == 0 ? QColor(250, 250, 250) : f == 1 ? tint.lighter(170) : tint.darker(110);
    const QColor bottom = f == 0 ? QColor(210, 210, 210) : f == 1 ? tint.lighter(120) : tint.darker(140);
    g.setColorAt(0, f == 2 ? bottom : top);
    g.setColorAt(1, f == 2 ? top : bottom);
    p.setPen(QPen(f == 0 ? QColor(150, 150, 150) : tint.darker(150), 1));
    p.setBrush(g);
    p.drawRoundedRect(box, 5, 5);
    const QPointF c = box.center() + (f == 2 ? QPointF(1, 1) : QPointF());
    p.setPen(Qt::NoPen);
    p.setBrush(f == 2 ? QColor(Qt::white) : tint.darker(160));
    switch (glyph) {
      case Glyph::Play: {
        QPainterPath tri;
        tri.moveTo(c + QPointF(-5, -8));
        tri.lineTo(c + QPointF(9, 0));
        tri.lineTo(c + QPointF(-5, 8));
        tri.closeSubpath();
        p.drawPath(tri);
        break;
      }
      case Glyph::Stop:
        p.drawRect(QRectF(c - QPointF(7, 7), QSizeF(14, 14)));
        break;
      case Glyph::Record:
        p.setBrush(f == 2 ? QColor(Qt::white) : QColor(200, 30, 30));
        p.drawEllipse(c, 8, 8);
        break;
    }
  }
  return img;
}

QLabel* Caption(const QString& text) {
  auto* l = new QLabel(text);
  l->setAlignment(Qt::AlignCenter);
  return l;
}

}  // namespace

VV_SCREEN("toolkit_bitmap_buttons") {
  auto* w = new QWidget;
  w->setWindowTitle(QStringLiteral("位图按钮"));
  auto* grid = new QGridLayout(w);
  const QColor blue(60, 120, 200);
  const Glyph glyphs[] = {Glyph::Play, Glyph::Stop, Glyph::Record};
  const QString names[] = {QStringLiteral("播放"), QStringLiteral("停止"), QStringLiteral("录制")};
  const QString states[] = {QStringLiteral("常态"), QStringLiteral("悬停"), QStringLiteral("按下/选中")};
  for (int s = 0; s < 3; ++s) grid->addWidget(Caption(states[s]), 0, s + 1);
  for (int g = 0; g < 3; ++g) {
    grid->addWidget(new QLabel(names[g]), g + 1, 0);
    for (int s = 0; s < 3; ++s) {
      auto* b = new CBitWnd(1200 + g * 3 + s);
      b->LoadStrip(ButtonStrip(glyphs[g], blue), 36, 36);
      b->SetToggle(true);
      if (s == 1) {
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(b, &move);
      } else if (s == 2) {
        b->SetCheck(true);
      }
      grid->addWidget(b, g + 1, s + 1, Qt::AlignCenter);
    }
  }
  // The whole strip as it is cut into frames.
  auto* strip = new QLabel;
  strip->setPixmap(QPixmap::fromImage(ButtonStrip(Glyph::Play, blue)));
  grid->addWidget(new QLabel(QStringLiteral("位图条(三帧)")), 4, 0);
  grid->addWidget(strip, 4, 1, 1, 3, Qt::AlignLeft);
  w->resize(320, 220);
  return w;
}

VV_SCREEN("toolkit_colour_picker") {
  // The picker with its popup open: the popup is a window of its own, so
  // the shot shows a picture of it below the picker.
  auto* w = new QWidget;
  w->setWindowTitle(QStringLiteral("颜色选择"));
  auto* lay = new QGridLayout(w);
  lay->addWidget(new QLabel(QStringLiteral("背景颜色:")), 0, 0);
  auto* picker = new CColourPicker(1301);
  picker->SetColour(vvconsole::ColourRefToQColor(PopupColourTable()[21].colour));
  lay->addWidget(picker, 0, 1);
  lay->addWidget(new QLabel(QStringLiteral("文字颜色:")), 1, 0);
  auto* automatic = new CColourPicker(1302);
  automatic->SetColour(QColor());
  lay->addWidget(automatic, 1, 1);
  auto* disabled = new CColourPicker(1303);
  disabled->SetColour(QColor(Qt::red));
  disabled->setEnabled(false);
  lay->addWidget(new QLabel(QStringLiteral("已禁用:")), 2, 0);
  lay->addWidget(disabled, 2, 1);
  w->show();
  picker->click();
  auto* popupShot = new QLabel;
  if (CColourPopup* popup = picker->Popup()) {
    QMouseEvent move(QEvent::MouseMove, QPointF(popup->CellRect(13).center()),
                     QPointF(popup->mapToGlobal(popup->CellRect(13).center())), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(popup, &move);
    popupShot->setPixmap(popup->grab());
    popup->close();
  }
  lay->addWidget(new QLabel(QStringLiteral("弹出的颜色表:")), 3, 0, Qt::AlignTop);
  lay->addWidget(popupShot, 3, 1);
  lay->setColumnStretch(2, 1);
  w->resize(360, 300);
  return w;
}

VV_SCREEN("toolkit_sort_list") {
  auto* list = new CSortListCtrl(1401, nullptr, &ShotStore());
  list->setWindowTitle(QStringLiteral("可排序列表"));
  list->SetHeadings(QStringLiteral("名称,140;码率(kbps),90;创建日期,100;地址,220"));
  const QStringList rows[] = {
      {QStringLiteral("体育频道"), "2048", "01/02/2015", "rtmp://127.0.0.1/live/sport"},
      {QStringLiteral("新闻直播"), "800", "31/12/2014", "rtmp://127.0.0.1/live/news"},
      {QStringLiteral("camera 1"), "10000", "15/06/2014", "rtsp://127.0.0.1/cam1"},
      {QStringLiteral("音乐台"), "96", "02/01/2015", "http://127.0.0.1/music.flv"},
      {QStringLiteral("Backup"), "", "", ""},
  };
  for (const auto& r : rows) list->AddItem(r);
  list->Sort(1, false);
  list->resize(580, 200);
  return list;
}

VV_SCREEN("toolkit_splitter") {
  auto* w = new QWidget;
  w->setWindowTitle(QStringLiteral("分割条"));
  w->resize(640, 400);
  auto* outer = new CSSplitter(w, &ShotStore());
  auto* left = new QListWidget;
  left->addItems({QStringLiteral("体育频道"), QStringLiteral("新闻直播"), QStringLiteral("音乐台")});
  auto* inner = new CSSplitter(nullptr, &ShotStore());
  auto* top = new QPlainTextEdit(QStringLiteral("上窗格:任务状态"));
  auto* bottom = new QPlainTextEdit(QStringLiteral("下窗格:日志"));
  inner->Create(2, QRect(0, 0, 400, 400), top, bottom, 2, 60, 60);
  outer->Create(1, QRect(0, 0, 640, 400), left, inner, 1, 80, 200);
  outer->SetSplitterPos(200);
  inner->SetSplitterPos(250);
  // A drag under way, with its tracker.
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(201, 200), QPointF(201, 200), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(outer, &press);
  QMouseEvent move(QEvent::MouseMove, QPointF(300, 200), QPointF(300, 200), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(outer, &move);
  return w;
}

VV_SCREEN("toolkit_folder_chooser") {
  // The chooser is modal: the shot is a picture of it taken while it runs.
  auto* shot = new QLabel;
  shot->setWindowTitle(QStringLiteral("选择文件夹"));
  CFolderDialog dlg(QStringLiteral("选择录制文件的保存目录"),
                    QString::fromStdString(vvscreens::ProgramFolder() + "/conf"), nullptr,
                    kBifStatusText | kBifEditBox);
  dlg.SetRootFolder(QString::fromStdString(vvscreens::ProgramFolder()));
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, shot] {
    if (auto* fd = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      for (int i = 0; i < 20; ++i) QApplication::processEvents();
      shot->setPixmap(fd->grab());
      fd->reject();
    }
  });
  timer->start(50);
  dlg.DoModal();
  return shot;
}
