// Writes a PNG of every registered console window: console_screens OUTDIR [NAME...]
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QThread>
#include <cstdio>
#include <memory>

#include "core/DatabaseManager.h"
#include "core/Paths.h"
#include "tests/console/screens/Screens.h"
#include "tests/tools/TestUtil.h"

namespace vvscreens {

std::vector<Shot>& Shots() {
  static std::vector<Shot> shots;
  return shots;
}

static std::string g_folder;
const std::string& ProgramFolder() { return g_folder; }

}  // namespace vvscreens

static void Settle(int ms) {
  for (int i = 0; i < ms / 10; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: console_screens OUTDIR [NAME...]\n");
    return 2;
  }
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(console);
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);

  // A program folder of its own with conf/ and an empty embedded database.
  vvtest::TempDir dir("vvscreens");
  vvscreens::g_folder = dir.path();
  vvtest::Run("mkdir -p " + vvtest::ShellQuote(dir.file("conf")) + " && sqlite3 " +
              vvtest::ShellQuote(dir.file("velvanet.db")) + " < " +
              vvtest::ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_sqlite.sql"));
  SetAppDir(dir.path());
  CADODataBase db;
  if (!db.OpenAccess(dir.file("velvanet.db"))) {
    std::fprintf(stderr, "console_screens: cannot open the scratch database\n");
    return 1;
  }
  CDatabaseManager::Instance().SetDatabase(&db);

  int failures = 0;
  for (const auto& shot : vvscreens::Shots()) {
    if (argc > 2) {
      bool wanted = false;
      for (int i = 2; i < argc; ++i) wanted = wanted || shot.name == argv[i];
      if (!wanted) continue;
    }
    std::unique_ptr<QWidget> w(shot.make());
    if (!w) {
      std::fprintf(stderr, "console_screens: %s built nothing\n", shot.name.c_str());
      ++failures;
      continue;
    }
    w->show();
    w->raise();
    Settle(400);
    const QString file = out + "/" + QString::fromStdString(shot.name) + ".png";
    if (!w->grab().save(file)) {
      std::fprintf(stderr, "console_screens: cannot write %s\n", qPrintable(file));
      ++failures;
    } else {
      std::printf("%s\n", qPrintable(file));
    }
    w->close();
  }
  CDatabaseManager::Instance().SetDatabase(nullptr);
  return failures ? 1 : 0;
}
