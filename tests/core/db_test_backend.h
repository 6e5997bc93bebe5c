#pragma once
// The two database backends the database tests run against: a fresh SQLite
// file made from the shipped schema by the sqlite3 client, and a private
// MariaDB server (one per test process) with the schema loaded afresh.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/ADODataBase.h"
#include "tests/tools/MariaDbServer.h"
#include "tests/tools/TestUtil.h"

namespace vvtest {

enum class DbKind { SQLite, MariaDB };

inline std::string DbKindName(const testing::TestParamInfo<DbKind>& info) {
  return info.param == DbKind::SQLite ? "SQLite" : "MariaDB";
}

// One server for the whole test process; stopped when the process ends.
inline MariaDbServer& SharedMariaDb() {
  static std::unique_ptr<MariaDbServer> server;
  static std::string error;
  if (!server) {
    server = std::make_unique<MariaDbServer>();
    if (!server->Start(&error)) ADD_FAILURE() << error;
  }
  return *server;
}

inline std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

class DbTest : public testing::TestWithParam<DbKind> {
 protected:
  void SetUp() override {
    if (GetParam() == DbKind::SQLite) {
      dir_ = std::make_unique<TempDir>("vvdb");
      file_ = dir_->file("velvanet.db");
      CommandResult r = vvtest::Run("sqlite3 " + ShellQuote(file_) + " < " +
                                ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_sqlite.sql"),
                            true);
      ASSERT_EQ(r.status, 0) << r.output;
      ASSERT_TRUE(db_.OpenAccess(file_));
    } else {
      MariaDbServer& s = SharedMariaDb();
      ASSERT_TRUE(s.Running()) << s.ErrorLog();
      std::string error;
      ASSERT_TRUE(s.ResetSchema(&error)) << error;
      ASSERT_TRUE(db_.OpenMySql(s.server(), MariaDbServer::database(), MariaDbServer::user(),
                                MariaDbServer::password()));
    }
  }

  // Runs SQL with the backend's own command-line client: one line per row,
  // columns separated by tabs, no header.
  std::string Cli(const std::string& sql) {
    CommandResult r;
    if (GetParam() == DbKind::SQLite)
      r = vvtest::Run("sqlite3 -batch -noheader -separator '\t' " + ShellQuote(file_) + " " + ShellQuote(sql) +
              " </dev/null");
    else
      r = SharedMariaDb().Sql(sql);
    EXPECT_EQ(r.status, 0) << sql;
    return Trim(r.output);
  }

  CADODataBase db_;
  std::unique_ptr<TempDir> dir_;
  std::string file_;
};

}  // namespace vvtest
