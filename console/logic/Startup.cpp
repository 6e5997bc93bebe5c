#include "console/logic/Startup.h"

#include "console/logic/FrameModel.h"
#include "core/DatabaseManager.h"
#include "core/IniFileEx.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "ixolink/IxoLink.h"
#include "media/LiveChannelManager.h"
#include "platform/CrashHandler.h"

namespace vvconsole {

std::string LogFilePath() { return ProgramDirectory() + "Velvanet.log"; }
std::string DumpFolderPath() { return ProgramDirectory() + "dump/"; }

void BeginProgram() {
  SetLogFileName(LogFilePath());
  LogDebug("Velvanet start");
  InstallCrashHandler(DumpFolderPath());
}

DatabaseChoice ReadDatabaseChoice(const CIniFileEx& ini) {
  DatabaseChoice c;
  c.option = ini.GetInt("DBCONF", "DB_OPTION", 0);
  c.server = ini.GetString("DBCONF", "DB_IP", "127.0.0.1");
  c.name = ini.GetString("DBCONF", "DB_NAME", "velvanet");
  c.user = ini.GetString("DBCONF", "DB_USERNAME", "");
  c.password = ini.GetString("DBCONF", "DB_PASSWORD", "");
  return c;
}

std::string EmbeddedDatabasePath() { return ProgramDirectory() + "velvanet.db"; }

bool OpenDatabase(const DatabaseChoice& choice, CADODataBase& db) {
  if (choice.option == 0) return db.OpenAccess(EmbeddedDatabasePath());
  return db.OpenMySql(choice.server, choice.name, choice.user, choice.password);
}

bool ApplyAutoForward(const CIniFileEx& ini) {
  if (!ini.GetBool("START_OPTION", "AUTO_FORWARD", false)) return false;
  CDatabaseManager::Instance().SetAllForwardTasksStatus();
  return true;
}

StartupResult ConsoleStartup::Run(IPrompt& prompt, IStartupHost& host, const std::string& lockPath) {
  switch (lock_.Acquire(lockPath)) {
    case SingleInstanceLock::kAcquired:
      break;
    case SingleInstanceLock::kHeld:
      prompt.Message(kAlreadyRunning);
      return StartupResult::kAlreadyRunning;
    case SingleInstanceLock::kFailed:
      // No way to tell: this copy runs rather than none.
      LogWarn("cannot use the instance lock %s", lockPath.c_str());
      break;
  }
  CIniFileEx ini(GetConfigPath());
  DatabaseChoice choice = ReadDatabaseChoice(ini);
  if (!OpenDatabase(choice, db_)) {
    LogError("cannot open the database (DB_OPTION %d): %s", choice.option, db_.GetLastError().c_str());
    prompt.Message(kDatabaseFailed);
    return StartupResult::kDatabaseFailed;
  }
  CDatabaseManager::Instance().SetDatabase(&db_);
  if (ApplyAutoForward(ini)) LogInfo("AUTO_FORWARD: every forward task marked running");
  if (!host.CreateFrame()) return StartupResult::kFrameFailed;
  host.ShowFrame();
  host.StartEngines();
  return StartupResult::kStarted;
}

void StartEngines() {
  CLiveChannelManager::Instance();
  IxoLink::Instance().Start();
}

void StopIxoLink() { IxoLink::Instance().Stop(); }

}  // namespace vvconsole
