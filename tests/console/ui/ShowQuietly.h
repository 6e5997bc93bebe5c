#pragma once
// Shows a widget for a test without a window on the screen: it gets its
// show and resize events and lays itself out. Tests that need no painting
// at all leave their widget hidden (painting large areas hands work to Qt's
// raster worker threads, whose hand-offs the thread sanitizer cannot see in
// the uninstrumented Qt libraries).
#include <QWidget>

namespace vvuitest {
inline void ShowQuietly(QWidget* w) {
  w->setAttribute(Qt::WA_DontShowOnScreen);
  w->show();
}
}  // namespace vvuitest
