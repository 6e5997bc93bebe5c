#pragma once
// Shows a widget for a test without putting it on the screen: it gets its
// show and resize events, but no paint pass runs. Painting hands work to Qt's
// raster worker threads, whose hand-offs the thread sanitizer cannot see in
// the uninstrumented Qt libraries; tests that look at pixels grab() instead.
#include <QWidget>

namespace vvuitest {
inline void ShowQuietly(QWidget* w) {
  w->setAttribute(Qt::WA_DontShowOnScreen);
  w->show();
}
}  // namespace vvuitest
