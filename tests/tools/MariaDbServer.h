#pragma once
// A private MariaDB server for the tests: its own data folder under /tmp, its
// own unix socket and a port on 127.0.0.1, the Velvanet schema loaded into the
// database "velvanet", reachable by user "velvanet". Stopped and removed when
// the object goes away. Runs unattended (no standard input), as root too.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/tools/TestUtil.h"

namespace vvtest {

class MariaDbServer {
 public:
  MariaDbServer();
  ~MariaDbServer();
  MariaDbServer(const MariaDbServer&) = delete;
  MariaDbServer& operator=(const MariaDbServer&) = delete;

  // An extra mariadbd option (for example "--sql-mode=..."), given before
  // Start and kept for every restart.
  void AddServerOption(const std::string& option) { options_.push_back(option); }
  // Creates the data folder, starts the server and loads the schema. On
  // failure error holds what went wrong (with the server's log).
  bool Start(std::string* error);
  // Shuts the server down cleanly (SIGTERM, SIGKILL if it lingers).
  void Stop();
  // Kills the server at once (SIGKILL), as a crash would.
  void Kill();
  // Starts the server again on the same data, socket and port.
  bool Restart(std::string* error);
  bool Running() const { return pid_ > 0; }

  // Empties the database: drops it and loads the schema again.
  bool ResetSchema(std::string* error);

  // Runs SQL in the database with the mariadb command-line client as the
  // server's administrator; output is tab-separated, raw, without headers.
  CommandResult Sql(const std::string& sql) const;

  const std::string& socket() const { return socket_; }
  int port() const { return port_; }
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
  static std::string database() { return "velvanet"; }
  static std::string user() { return "velvanet"; }
  static std::string password() { return "vv-secret"; }
  std::string ErrorLog() const;

 private:
  bool Launch(std::string* error);
  bool WaitReady(std::string* error);
  void WaitExit(int seconds);

  std::unique_ptr<TempDir> dir_;
  std::vector<std::string> options_;
  std::string data_, socket_, tmp_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace vvtest
