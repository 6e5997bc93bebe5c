#pragma once
// The program's start-up and shutdown, without windows. In order:
//   BeginProgram: the log file Velvanet.log in the program folder, its first
//     line "Velvanet start", the crash handler writing into dump/;
//   ConsoleStartup::Run: the single-instance lock, conf/system.ini, the
//     database by DB_OPTION (SQLite velvanet.db beside the program for 0, a
//     MariaDB server otherwise), AUTO_FORWARD, then the host's frame (whose
//     panes restore what was running), shown, and the engines started.
// The windows are the host's; the questions and messages go through IPrompt.
#include <string>

#include "console/logic/Prompt.h"
#include "core/ADODataBase.h"
#include "platform/SingleInstance.h"

class CIniFileEx;

namespace vvconsole {

// The log and the crash handler: the first things the program does.
void BeginProgram();
std::string LogFilePath();     // ProgramDirectory() + "Velvanet.log"
std::string DumpFolderPath();  // ProgramDirectory() + "dump/"

// Section DBCONF of conf/system.ini.
struct DatabaseChoice {
  int option = 0;                    // DB_OPTION: 0 the embedded file, else a server
  std::string server = "127.0.0.1";  // DB_IP
  std::string name = "velvanet";     // DB_NAME
  std::string user;                  // DB_USERNAME
  std::string password;              // DB_PASSWORD
};
DatabaseChoice ReadDatabaseChoice(const CIniFileEx& ini);
std::string EmbeddedDatabasePath();  // GetAppDir() + "/velvanet.db"
bool OpenDatabase(const DatabaseChoice& choice, CADODataBase& db);

// AUTO_FORWARD of START_OPTION set: every forward task is marked running, so
// that the source tree starts them all. True when it was set.
bool ApplyAutoForward(const CIniFileEx& ini);

// What start-up asks of the windows.
class IStartupHost {
 public:
  virtual ~IStartupHost() = default;
  // Builds the frame and its panes; the panes restore the running state.
  virtual bool CreateFrame() = 0;
  // Shows the frame maximised and gives it its caption.
  virtual void ShowFrame() = 0;
  // The live-channel manager, then the Ixo link (StartEngines below).
  virtual void StartEngines() = 0;
};

enum class StartupResult { kStarted, kAlreadyRunning, kDatabaseFailed, kFrameFailed };

// Holds what start-up opens for the life of the program: the instance lock
// and the database connection (which the engine uses until it has ended, so
// the object must outlive it).
class ConsoleStartup {
 public:
  StartupResult Run(IPrompt& prompt, IStartupHost& host,
                    const std::string& lockPath = SingleInstanceLock::DefaultPath());
  CADODataBase& Database() { return db_; }

 private:
  SingleInstanceLock lock_;
  CADODataBase db_;
};

// The engines of a running console: the live-channel manager (with its
// threads) and the Ixo link's two registrations.
void StartEngines();
// The first half of shutdown: the Ixo link stops (no new pulls or sessions
// arrive). The live-channel manager ends at exit, closing every source and
// output, so recordings are finished as files that play to their end; the
// status columns are left as they are, and the next start restores them.
void StopIxoLink();

}  // namespace vvconsole
