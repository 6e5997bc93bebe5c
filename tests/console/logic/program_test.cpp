// The built program and its shutdown road, in processes of their own: the
// console started from a scratch program folder registers with an Ixo server
// double named in conf/system.ini and closes cleanly on SIGTERM; a recording
// running when the termination signal comes is finished as a playable MP4.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "console/logic/Startup.h"
#include "core/ADODataBase.h"
#include "core/DatabaseManager.h"
#include "core/Paths.h"
#include "media/LiveChannelManager.h"
#include "platform/TerminationSignals.h"
#include "tests/media/RecordMedia.h"
#include "tests/tools/IxoServerDouble.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono_literals;
using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

// The command-line client waits for the program's own writes to finish
// instead of failing at once with "database is locked".
const std::string kSqlite = "sqlite3 -cmd '.timeout 10000' ";

// Waits up to timeout for the child to end; its wait status, or -1.
int WaitChild(pid_t pid, std::chrono::milliseconds timeout) {
  int status = -1;
  bool done = vvtest::WaitFor(
      [&] {
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid) {
          status = st;
          return true;
        }
        return false;
      },
      timeout, 20ms);
  if (!done) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return status;
}

// Starts program with the environment additions; standard output and error
// go to logFile.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env,
            const std::string& logFile, const std::string& cwd) {
  pid_t pid = fork();
  if (pid == 0) {
    for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    FILE* out = freopen(logFile.c_str(), "w", stdout);
    (void)out;
    dup2(fileno(stdout), 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// A program folder with conf/system.ini and a fresh embedded database.
void MakeProgramFolder(const TempDir& dir, const std::string& ini) {
  vvtest::CommandResult r = vvtest::Run("mkdir -p " + ShellQuote(dir.file("conf")) + " && sqlite3 " +
                                            ShellQuote(dir.file("velvanet.db")) + " < " +
                                            ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_sqlite.sql"),
                                        true);
  ASSERT_EQ(r.status, 0) << r.output;
  std::ofstream(dir.file("conf/system.ini")) << ini;
}

}  // namespace

TEST(Program, StartsRegistersWithIxoAndClosesOnSigterm) {
  SKIP_UNDER_THREAD_CHECKER();  // the program paints its window
  const std::string program = std::string(VV_BINARY_DIR) + "/velvanet";
  struct stat st;
  ASSERT_EQ(stat(program.c_str(), &st), 0) << "build the velvanet target first";
  vvtest::IxoServerDouble ixo;
  ASSERT_TRUE(ixo.Start());
  TempDir dir("vv-program");
  MakeProgramFolder(dir, "[IXO_SETUP]\nHOST=127.0.0.1\nPORT=" + std::to_string(ixo.port()) +
                             "\nKEY=\n[START_OPTION]\nAUTO_FORWARD=1\n");
  // The program folder is the executable's: a copy of the program lives in
  // the scratch folder with its settings and database.
  ASSERT_EQ(vvtest::Run("cp " + ShellQuote(program) + " " + ShellQuote(dir.file("velvanet"))).status, 0);
  vvtest::Run(kSqlite + ShellQuote(dir.file("velvanet.db")) +
              " \"insert into forward_task(forward_url, live_id, status) values ('rtmp://127.0.0.1:1/x', 99, 0)\"");

  pid_t pid = Spawn({dir.file("velvanet")},
                    {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", dir.path()}}, dir.file("output.txt"),
                    "/");
  ASSERT_GT(pid, 0);
  // Both engines register: the pull engine and the transfer engine.
  bool registered = ixo.WaitForCount("Register", 2, 60s);
  std::string output = vvtest::ReadFileText(dir.file("output.txt"));
  std::string log = vvtest::ReadFileText(dir.file("Velvanet.log"));
  EXPECT_TRUE(registered) << output << "\n" << log;
  // Start-up wrote its first line into the program folder's log and made
  // the dump folder; AUTO_FORWARD marked the forward task running.
  EXPECT_EQ(log.find("Velvanet start"), log.find(" [DEBUG]: ") + 10) << log;
  EXPECT_EQ(stat(dir.file("dump").c_str(), &st), 0);
  EXPECT_EQ(vvtest::Run(kSqlite + ShellQuote(dir.file("velvanet.db")) + " 'select status from forward_task'").output,
            "1\n");
  EXPECT_EQ(stat(dir.file("velvanet.lock").c_str(), &st), 0);

  ASSERT_EQ(kill(pid, SIGTERM), 0);
  int status = WaitChild(pid, 60s);
  output = vvtest::ReadFileText(dir.file("output.txt"));
  log = vvtest::ReadFileText(dir.file("Velvanet.log"));
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << output << "\n" << log;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_NE(log.find("Velvanet closing"), std::string::npos) << log;
  EXPECT_NE(log.find("Velvanet exit"), std::string::npos) << log;
  // No crash report.
  EXPECT_EQ(vvtest::Run("ls -A " + ShellQuote(dir.file("dump"))).output, "");
  // The status columns stay as they were for the next start.
  EXPECT_EQ(vvtest::Run(kSqlite + ShellQuote(dir.file("velvanet.db")) + " 'select status from forward_task'").output,
            "1\n");
  // The lock went with the process: another start could run now.
  EXPECT_EQ(vvtest::Run("flock -n " + ShellQuote(dir.file("velvanet.lock")) + " true").status, 0);
}

// The child of the next test: records its input into an MP4 until a
// termination signal comes, then takes the console's way out (the Ixo link
// stops, the process exits and the engine ends on the way).
TEST(ShutdownChild, RecordUntilTerminated) {
  const char* folder = std::getenv("VV_SHUTDOWN_FOLDER");
  if (!folder) GTEST_SKIP() << "runs only as the child of ShutdownRoad";
  int fd = InstallTerminationPipe();
  ASSERT_GE(fd, 0);
  SetAppDir(folder);
  static CADODataBase db;  // outlives the engine, which ends at exit
  ASSERT_TRUE(db.OpenAccess(vvconsole::EmbeddedDatabasePath()));
  CDatabaseManager::Instance().SetDatabase(&db);
  UrlSourceInfo source;
  source.url = std::string(folder) + "/input.flv";
  source.alias = "input";
  int liveId = 0, taskId = 0;
  ASSERT_TRUE(CDatabaseManager::Instance().InsertFileSource(source, liveId));
  RecordTaskInfo task;
  task.name = "rec";
  task.live_id = liveId;
  task.fileType = 2;  // MP4
  task.recordType = 1;
  task.saveFolder = std::string(folder) + "/out";
  task.fileMod = 1;
  task.direMod = 1;
  task.status = 1;
  ASSERT_TRUE(CDatabaseManager::Instance().InsertRecordTask(task, taskId, LIVE_TYPE_FILE));
  ASSERT_TRUE(CDatabaseManager::Instance().UpdateTaskStatus(taskId, 2, 1));
  CLiveChannelManager::Instance()->PostRequest(new TaskRequest(static_cast<uint32_t>(taskId), TASK_RECORD, 1));
  struct pollfd p = {fd, POLLIN, 0};
  while (poll(&p, 1, 60000) < 0) {
  }
  ASSERT_EQ(TakeTerminationSignal(fd), SIGTERM);
  vvconsole::StopIxoLink();
  std::exit(0);
}

TEST(ShutdownRoad, RecordingIsFinishedWhenTerminated) {
  TempDir dir("vv-shutdown");
  vvtest::CommandResult r =
      vvtest::Run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                  "sine=frequency=440:sample_rate=44100 -t 60 -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p "
                  "-c:a aac -b:a 64k " +
                      ShellQuote(dir.file("input.flv")),
                  true);
  ASSERT_EQ(r.status, 0) << r.output;
  MakeProgramFolder(dir, "");
  vvtest::Run("mkdir -p " + ShellQuote(dir.file("out")));
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  ASSERT_GT(n, 0);
  self[n] = 0;
  pid_t pid = Spawn({self, "--gtest_filter=ShutdownChild.RecordUntilTerminated"},
                    {{"VV_SHUTDOWN_FOLDER", dir.path()}}, dir.file("child.txt"), dir.path());
  // Wait until the recording has grown for a few seconds.
  std::string file;
  auto started = std::chrono::steady_clock::now();
  bool growing = vvtest::WaitFor(
      [&] {
        std::string name = vvtest::Run("ls " + ShellQuote(dir.file("out"))).output;
        name = name.substr(0, name.find('\n'));
        if (name.empty()) return false;
        file = dir.file("out/" + name);
        struct stat st;
        return stat(file.c_str(), &st) == 0 && st.st_size > 200 * 1024;
      },
      60s, 50ms);
  ASSERT_TRUE(growing) << vvtest::ReadFileText(dir.file("child.txt"));
  std::this_thread::sleep_for(1s);
  double recorded = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  int status = WaitChild(pid, 60s);
  std::string out = vvtest::ReadFileText(dir.file("child.txt"));
  ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << out;
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;
  // ffprobe reads the whole file: both streams, a duration (an MP4 without
  // its index has none), and every frame decodes.
  vvtest::ProbeResult probe = vvtest::ProbeMedia(file);
  ASSERT_TRUE(probe.ok) << file;
  EXPECT_EQ(probe.videoCodec, "h264");
  EXPECT_EQ(probe.audioCodec, "aac");
  EXPECT_GT(probe.duration, 1.0);
  EXPECT_LT(probe.duration, recorded + 5.0);
  EXPECT_EQ(probe.decodeErrors, "");
  // It is an ordinary MP4 by the time the process has ended: one index for
  // the whole file, no fragments left from the writing.
  vvtest::Mp4Layout layout = vvtest::ReadMp4Layout(file);
  EXPECT_TRUE(layout.read);
  EXPECT_FALSE(layout.hasMoof);
  EXPECT_FALSE(layout.hasMvex);
  EXPECT_GT(layout.sampleTableEntries, 25 * probe.duration);
  EXPECT_NE(out.find("record: finished " + file), std::string::npos) << out;
  // The task's status column is as it was: the next start records again.
  EXPECT_EQ(vvtest::Run(kSqlite + ShellQuote(dir.file("velvanet.db")) + " 'select status from record_task'").output,
            "1\n");
}
