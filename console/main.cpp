// The Velvanet console program.
#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(console);
  return 0;
}
