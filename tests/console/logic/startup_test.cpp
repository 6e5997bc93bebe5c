// Start-up against a real SQLite file (and a real MariaDB server): the log
// and crash folder first, the instance lock, the database chosen by
// DB_OPTION, AUTO_FORWARD applied before the frame is built, then the frame
// shown and the engines started, in that order.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "console/logic/Startup.h"
#include "core/DatabaseManager.h"
#include "core/IniFileEx.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "tests/tools/MariaDbServer.h"
#include "tests/tools/TestUtil.h"

using vvconsole::ConsoleStartup;
using vvconsole::StartupResult;
using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

struct RecordingPrompt : IPrompt {
  std::vector<std::string> messages;
  void Message(const std::string& text) override { messages.push_back(text); }
  bool Ask(const std::string& text) override {
    messages.push_back("?" + text);
    return false;
  }
};

// Records the calls and what the database held when the frame was built.
struct RecordingHost : vvconsole::IStartupHost {
  std::function<std::string()> readStatuses;
  std::vector<std::string> calls;
  std::string statusesAtFrame;
  bool frameOk = true;
  bool CreateFrame() override {
    calls.push_back("frame");
    if (readStatuses) statusesAtFrame = readStatuses();
    return frameOk;
  }
  void ShowFrame() override { calls.push_back("show"); }
  void StartEngines() override { calls.push_back("engines"); }
};

class StartupTest : public testing::Test {
 protected:
  void SetUp() override {
    SetAppDir(dir_.path());
    vvtest::CommandResult r = vvtest::Run("mkdir -p " + ShellQuote(dir_.file("conf")) + " && sqlite3 " +
                                              ShellQuote(dir_.file("velvanet.db")) + " < " +
                                              ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_sqlite.sql"),
                                          true);
    ASSERT_EQ(r.status, 0) << r.output;
    host_.readStatuses = [this] { return Sql("select group_concat(status) from (select status from forward_task order by id)"); };
  }
  void TearDown() override {
    CDatabaseManager::Instance().SetDatabase(nullptr);
    SetAppDir("");
  }
  std::string Sql(const std::string& sql) {
    vvtest::CommandResult r = vvtest::Run("sqlite3 -batch -noheader " + ShellQuote(dir_.file("velvanet.db")) + " " +
                                          ShellQuote(sql) + " </dev/null");
    std::string out = r.output;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  void WriteIni(const std::string& text) { std::ofstream(dir_.file("conf/system.ini")) << text; }

  TempDir dir_{"vv-startup"};
  RecordingPrompt prompt_;
  RecordingHost host_;
};

}  // namespace

TEST_F(StartupTest, LogLineAndDumpFolderComeFirst) {
  vvconsole::BeginProgram();
  std::string log = vvtest::ReadFileText(dir_.file("Velvanet.log"));
  std::string firstLine = log.substr(0, log.find('\n'));
  EXPECT_NE(firstLine.find(" [DEBUG]: Velvanet start"), std::string::npos) << log;
  struct stat st;
  EXPECT_EQ(stat(dir_.file("dump").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(GetLogFileName(), dir_.file("Velvanet.log"));
  SetLogFileName("");
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) signal(sig, SIG_DFL);
}

TEST_F(StartupTest, AutoForwardMarksEveryForwardTaskBeforeTheFrame) {
  struct Case {
    const char* ini;
    const char* statusesAtFrame;
  } cases[] = {
      {"[START_OPTION]\nAUTO_FORWARD=1\n", "1,1,1"},
      {"[START_OPTION]\nAUTO_FORWARD=0\n", "0,1,0"},
      {"[DBCONF]\nDB_OPTION=0\n", "0,1,0"},  // key missing
      {"", "0,1,0"},                         // no settings at all: defaults
  };
  for (const Case& c : cases) {
    Sql("delete from forward_task; insert into forward_task(forward_url, live_id, status) values "
        "('rtmp://a', 1, 0), ('rtmp://b', 1, 1), ('rtmp://c', 2, 0)");
    WriteIni(c.ini);
    RecordingHost host;
    host.readStatuses = host_.readStatuses;
    RecordingPrompt prompt;
    {
      ConsoleStartup startup;
      ASSERT_EQ(startup.Run(prompt, host, dir_.file("velvanet.lock")), StartupResult::kStarted) << c.ini;
      // The embedded file beside the program is the one in use.
      EXPECT_EQ(CDatabaseManager::Instance().GetDatabase(), &startup.Database());
      CDatabaseManager::Instance().SetDatabase(nullptr);
    }
    EXPECT_EQ(host.statusesAtFrame, c.statusesAtFrame) << c.ini;
    EXPECT_EQ(host.calls, (std::vector<std::string>{"frame", "show", "engines"})) << c.ini;
    EXPECT_TRUE(prompt.messages.empty());
  }
}

TEST_F(StartupTest, SecondCopyIsRefusedWithoutTouchingTheDatabase) {
  SingleInstanceLock first;
  ASSERT_EQ(first.Acquire(dir_.file("velvanet.lock")), SingleInstanceLock::kAcquired);
  WriteIni("[START_OPTION]\nAUTO_FORWARD=1\n");
  Sql("insert into forward_task(forward_url, live_id, status) values ('rtmp://a', 1, 0)");
  ConsoleStartup second;
  EXPECT_EQ(second.Run(prompt_, host_, dir_.file("velvanet.lock")), StartupResult::kAlreadyRunning);
  EXPECT_EQ(prompt_.messages, (std::vector<std::string>{"应用程序已经在运行"}));
  EXPECT_TRUE(host_.calls.empty());
  EXPECT_EQ(CDatabaseManager::Instance().GetDatabase(), nullptr);
  EXPECT_EQ(Sql("select status from forward_task"), "0");
  // Once the first copy is gone, the next start goes ahead.
  first.Release();
  ConsoleStartup third;
  EXPECT_EQ(third.Run(prompt_, host_, dir_.file("velvanet.lock")), StartupResult::kStarted);
}

TEST_F(StartupTest, DatabaseThatCannotBeOpenedStopsBeforeAnyWindow) {
  const std::string closedPort = std::to_string(vvtest::FreePort());
  struct Case {
    const char* what;
    std::string ini;
    bool removeFile;
  } cases[] = {
      {"embedded file missing", "", true},
      {"server unreachable", "[DBCONF]\nDB_OPTION=2\nDB_IP=127.0.0.1:" + closedPort + "\n", false},
      {"server unreachable, option 1", "[DBCONF]\nDB_OPTION=1\nDB_IP=127.0.0.1:" + closedPort + "\n", false},
  };
  for (const Case& c : cases) {
    if (c.removeFile) vvtest::Run("mv " + ShellQuote(dir_.file("velvanet.db")) + " " + ShellQuote(dir_.file("aside.db")));
    WriteIni(c.ini);
    RecordingPrompt prompt;
    RecordingHost host;
    ConsoleStartup startup;
    EXPECT_EQ(startup.Run(prompt, host, dir_.file("velvanet.lock")), StartupResult::kDatabaseFailed) << c.what;
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"连接数据库失败!"})) << c.what;
    EXPECT_TRUE(host.calls.empty()) << c.what;
    EXPECT_EQ(CDatabaseManager::Instance().GetDatabase(), nullptr);
    // The embedded database is never made up as an empty file.
    struct stat st;
    if (c.removeFile) {
      EXPECT_NE(stat(dir_.file("velvanet.db").c_str(), &st), 0);
      vvtest::Run("mv " + ShellQuote(dir_.file("aside.db")) + " " + ShellQuote(dir_.file("velvanet.db")));
    }
  }
}

TEST_F(StartupTest, FrameThatCannotBeBuiltEndsStartUp) {
  host_.frameOk = false;
  ConsoleStartup startup;
  EXPECT_EQ(startup.Run(prompt_, host_, dir_.file("velvanet.lock")), StartupResult::kFrameFailed);
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"frame"}));
}

TEST_F(StartupTest, DatabaseKeysAndTheirDefaults) {
  WriteIni("");
  vvconsole::DatabaseChoice d = vvconsole::ReadDatabaseChoice(CIniFileEx(GetConfigPath()));
  EXPECT_EQ(d.option, 0);
  EXPECT_EQ(d.server, "127.0.0.1");
  EXPECT_EQ(d.name, "velvanet");
  EXPECT_EQ(d.user, "");
  EXPECT_EQ(d.password, "");
  EXPECT_EQ(vvconsole::EmbeddedDatabasePath(), dir_.file("velvanet.db"));
  WriteIni("[DBCONF]\nDB_OPTION=2\nDB_IP=10.0.0.9\nDB_NAME=live\nDB_USERNAME=op\nDB_PASSWORD=pw\n");
  d = vvconsole::ReadDatabaseChoice(CIniFileEx(GetConfigPath()));
  EXPECT_EQ(d.option, 2);
  EXPECT_EQ(d.server, "10.0.0.9");
  EXPECT_EQ(d.name, "live");
  EXPECT_EQ(d.user, "op");
  EXPECT_EQ(d.password, "pw");
}

TEST_F(StartupTest, NonZeroOptionUsesTheMariaDbServer) {
  vvtest::MariaDbServer server;
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  server.Sql("insert into forward_task(forward_url, live_id, status) values ('rtmp://a', 1, 0), ('rtmp://b', 1, 0)");
  WriteIni("[DBCONF]\nDB_OPTION=2\nDB_IP=" + server.server() + "\nDB_NAME=" + server.database() +
           "\nDB_USERNAME=" + server.user() + "\nDB_PASSWORD=" + server.password() +
           "\n[START_OPTION]\nAUTO_FORWARD=1\n");
  // The embedded file is not what is opened: take it away.
  vvtest::Run("rm " + ShellQuote(dir_.file("velvanet.db")));
  host_.readStatuses = [&] {
    std::string out = server.Sql("select group_concat(status order by id) from forward_task").output;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  };
  ConsoleStartup startup;
  ASSERT_EQ(startup.Run(prompt_, host_, dir_.file("velvanet.lock")), StartupResult::kStarted) << prompt_.messages.size();
  EXPECT_EQ(host_.statusesAtFrame, "1,1");
  CDatabaseManager::Instance().SetDatabase(nullptr);
}
