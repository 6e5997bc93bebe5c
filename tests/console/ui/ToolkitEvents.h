#pragma once
// Mouse and key events sent straight to widgets, for the toolkit controls'
// widget tests on the offscreen platform.
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace vvtoolkit {

inline void Mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons buttons =
      type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : Qt::MouseButtons(button);
  QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)),
                type == QEvent::MouseMove ? Qt::NoButton : button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
inline void Press(QWidget* w, QPoint p) { Mouse(w, QEvent::MouseButtonPress, p); }
inline void Release(QWidget* w, QPoint p) { Mouse(w, QEvent::MouseButtonRelease, p); }
inline void Move(QWidget* w, QPoint p, bool held = false) {
  Mouse(w, QEvent::MouseMove, p, held ? Qt::LeftButton : Qt::NoButton);
}
inline void Click(QWidget* w, QPoint p) {
  Press(w, p);
  Release(w, p);
}
inline void Key(QWidget* w, int key) {
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(w, &down);
  QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(w, &up);
}
inline void Leave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QApplication::sendEvent(w, &e);
}

// Runs act on the first modal widget of the given kind that opens (polling
// the event loop of whatever modal run is going on), within ~20 s.
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, act, tries] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(w);
      return;
    }
    if (++*tries > 1000) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(20);
}

}  // namespace vvtoolkit
