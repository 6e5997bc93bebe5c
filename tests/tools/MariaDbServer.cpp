#include "tests/tools/MariaDbServer.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace vvtest {

namespace {

// Small, quick settings: the tests store a handful of rows.
const char* const kServerTuning[] = {
    "--innodb-buffer-pool-size=16M",       "--innodb-log-file-size=4M",
    "--innodb-data-file-path=ibdata1:4M:autoextend", "--innodb-flush-log-at-trx-commit=2",
    "--skip-log-bin",                       "--skip-name-resolve",
    "--character-set-server=utf8mb4",       "--collation-server=utf8mb4_general_ci",
    "--max-connections=64",
};

std::string CurrentUser() {
  passwd* pw = getpwuid(geteuid());
  return pw && pw->pw_name ? pw->pw_name : "root";
}

std::string Client(const std::string& socket) {
  return "mariadb --no-defaults --socket=" + ShellQuote(socket) + " -u root";
}

}  // namespace

MariaDbServer::MariaDbServer() = default;

MariaDbServer::~MariaDbServer() { Stop(); }

std::string MariaDbServer::ErrorLog() const {
  return data_.empty() ? std::string() : ReadFileText(dir_->file("error.log"));
}

bool MariaDbServer::Start(std::string* error) {
  dir_ = std::make_unique<TempDir>("vvmdb");
  if (dir_->path().empty()) {
    if (error) *error = "cannot create a temporary folder";
    return false;
  }
  data_ = dir_->file("data");
  socket_ = dir_->file("mysqld.sock");
  // A private tmpdir too: a starting server deletes every temporary table
  // file it finds in its tmpdir, including those of other servers.
  tmp_ = dir_->file("tmp");
  if (mkdir(tmp_.c_str(), 0700) != 0) {
    if (error) *error = "cannot create the server's tmpdir";
    return false;
  }
  std::string install = "mariadb-install-db --no-defaults --datadir=" + ShellQuote(data_) +
                        " --tmpdir=" + ShellQuote(tmp_) +
                        " --auth-root-authentication-method=socket --auth-root-socket-user=" +
                        ShellQuote(CurrentUser()) + " --skip-test-db";
  if (geteuid() == 0) install += " --user=root";
  for (const char* opt : kServerTuning) install += std::string(" ") + opt;
  CommandResult r = Run(install + " </dev/null", true);
  if (r.status != 0) {
    if (error) *error = "mariadb-install-db failed:\n" + r.output;
    return false;
  }
  // A port found free may be taken by the time the server binds it; try a few.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = FreePort();
    if (Launch(error)) break;
    if (attempt == 2) return false;
  }
  std::string setup =
      "CREATE DATABASE velvanet CHARACTER SET utf8mb4;"
      "CREATE USER 'velvanet'@'localhost' IDENTIFIED BY '" + password() + "';"
      "CREATE USER 'velvanet'@'127.0.0.1' IDENTIFIED BY '" + password() + "';"
      "GRANT ALL ON velvanet.* TO 'velvanet'@'localhost';"
      "GRANT ALL ON velvanet.* TO 'velvanet'@'127.0.0.1';";
  r = Run(Client(socket_) + " -e " + ShellQuote(setup) + " </dev/null", true);
  if (r.status != 0) {
    if (error) *error = "creating the database failed:\n" + r.output;
    return false;
  }
  return ResetSchema(error);
}

bool MariaDbServer::ResetSchema(std::string* error) {
  CommandResult r = Run(Client(socket_) + " -e " +
                            ShellQuote("DROP DATABASE IF EXISTS velvanet; CREATE DATABASE velvanet CHARACTER SET utf8mb4;") +
                            " </dev/null && " + Client(socket_) + " velvanet < " +
                            ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_mariadb.sql"),
                        true);
  if (r.status != 0) {
    if (error) *error = "loading the schema failed:\n" + r.output;
    return false;
  }
  return true;
}

bool MariaDbServer::Launch(std::string* error) {
  std::vector<std::string> args = {"mariadbd",
                                   "--no-defaults",
                                   "--datadir=" + data_,
                                   "--tmpdir=" + tmp_,
                                   "--socket=" + socket_,
                                   "--port=" + std::to_string(port_),
                                   "--bind-address=127.0.0.1",
                                   "--pid-file=" + dir_->file("mariadbd.pid"),
                                   "--log-error=" + dir_->file("error.log")};
  if (geteuid() == 0) args.push_back("--user=root");
  for (const char* opt : kServerTuning) args.push_back(opt);
  for (const std::string& opt : options_) args.push_back(opt);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  // Everything the child needs is prepared here: after fork only
  // async-signal-safe calls are allowed.
  const std::string outLog = dir_->file("stdout.log");
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    if (error) *error = "fork failed";
    return false;
  }
  if (pid == 0) {
    // The server must not outlive a test process that dies.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    int out = open(outLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    execvp("mariadbd", argv.data());
    _exit(127);
  }
  pid_ = pid;
  return WaitReady(error);
}

bool MariaDbServer::WaitReady(std::string* error) {
  // Generous: several servers may be starting at once on a loaded machine,
  // and a server that exits is noticed at once anyway.
  bool exited = false;
  bool ready = WaitFor(
      [&] {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
          exited = true;
          return true;
        }
        return Run(Client(socket_) + " -N -e 'select 1' </dev/null 2>/dev/null").status == 0;
      },
      std::chrono::seconds(90), std::chrono::milliseconds(50));
  if (exited || !ready) {
    if (!exited) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    if (error) *error = "mariadbd did not come up:\n" + ErrorLog();
    return false;
  }
  return true;
}

void MariaDbServer::WaitExit(int seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void MariaDbServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  WaitExit(20);
}

void MariaDbServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  WaitExit(5);
}

bool MariaDbServer::Restart(std::string* error) {
  if (pid_ > 0) return true;
  return Launch(error);
}

CommandResult MariaDbServer::Sql(const std::string& sql) const {
  return Run(Client(socket_) + " -N -B -r velvanet -e " + ShellQuote(sql) + " </dev/null", false);
}

}  // namespace vvtest
