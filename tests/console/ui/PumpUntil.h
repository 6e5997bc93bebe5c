#pragma once
// Runs the test thread's events (it is the window thread) until a
// condition holds or the time is up.
#include <QApplication>
#include <chrono>
#include <functional>

#include "tests/tools/TestUtil.h"

namespace vvuitest {
inline bool PumpUntil(const std::function<bool()>& cond,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  return vvtest::WaitFor(
      [&] {
        QApplication::processEvents();
        return cond();
      },
      timeout);
}
}  // namespace vvuitest
