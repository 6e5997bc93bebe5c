// main() of the widget test suites: one QApplication on the offscreen
// platform (unless the caller chose another), then every test.
#include <QApplication>
#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(console);
  return RUN_ALL_TESTS();
}
