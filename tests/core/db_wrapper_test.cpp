// CADODataBase and CADORecordset on both backends.
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/ADODataBase.h"
#include "core/Log.h"
#include "tests/core/db_test_backend.h"

using namespace vvtest;

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

std::string HexOf(const std::string& s) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class DbWrapperTest : public DbTest {};

TEST_P(DbWrapperTest, SelectionWithLeadingBlanksOpensWhateverTheOption) {
  ASSERT_TRUE(db_.Execute("insert into NetSource_info (url,alias) values ('rtmp://a/b','x')"));
  // Option 2 would open a table name and 3 a procedure; a selection is a
  // selection whatever is asked for.
  for (int option : {1, 2, 3, 7}) {
    CADORecordset rs(&db_);
    ASSERT_TRUE(rs.Open(" \t\n  SELECT url from NetSource_info", option)) << option << rs.GetLastError();
    EXPECT_EQ(rs.GetRecordCount(), 1);
    std::string url;
    EXPECT_TRUE(rs.GetFieldValueString("url", url));
    EXPECT_EQ(url, "rtmp://a/b");
    EXPECT_EQ(rs.GetQuery(), "SELECT url from NetSource_info");
  }
  CADORecordset other(&db_);
  EXPECT_FALSE(other.Open("NetSource_info", 7));
}

TEST_P(DbWrapperTest, EmptyTableIsAtItsEndAtOnce) {
  CADORecordset rs(&db_);
  ASSERT_TRUE(rs.Open("select * from forward_task"));
  EXPECT_EQ(rs.GetRecordCount(), 0);
  EXPECT_TRUE(rs.IsEof());
  EXPECT_TRUE(rs.IsOpen());
  rs.Close();
  EXPECT_FALSE(rs.IsOpen());
  EXPECT_EQ(rs.GetRecordCount(), -1);
  // A closed result set ends any walk over it.
  EXPECT_TRUE(rs.IsEof());
  EXPECT_FALSE(rs.MoveNext());
}

TEST_P(DbWrapperTest, WalkVisitsEveryRowInOrderAndEnds) {
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(db_.Execute("insert into FileSource_info (url,alias) values ('/m/" + std::to_string(i) + "','a')"));
  CADORecordset rs(&db_);
  ASSERT_TRUE(rs.Open("select * from FileSource_info order by id"));
  EXPECT_EQ(rs.GetRecordCount(), 5);
  std::vector<std::string> urls;
  for (rs.MoveFirst(); !rs.IsEof(); rs.MoveNext()) {
    std::string url;
    rs.GetFieldValueString("url", url);
    urls.push_back(url);
    ASSERT_LE(urls.size(), 5u);
  }
  EXPECT_EQ(urls, (std::vector<std::string>{"/m/0", "/m/1", "/m/2", "/m/3", "/m/4"}));
  EXPECT_FALSE(rs.MoveNext());
  ASSERT_TRUE(rs.MoveLast());
  EXPECT_EQ(rs.GetAbsolutePosition(), 5);
  ASSERT_TRUE(rs.Move(-2));
  std::string url;
  rs.GetFieldValueString("url", url);
  EXPECT_EQ(url, "/m/2");
}

struct Conversion {
  const char* expression;
  bool intOk;
  int intValue;
  bool textOk;
  const char* textValue;
};

TEST_P(DbWrapperTest, FieldConversions) {
  const Conversion cases[] = {
      {"70000", true, 70000, true, "70000"},
      {"-2147483648", true, INT32_MIN, true, "-2147483648"},
      {"2147483647", true, INT32_MAX, true, "2147483647"},
      {"null", true, 0, true, ""},
      {"'abc'", false, 0, true, "abc"},
      {"'中文'", false, 0, true, "中文"},
      {"1.5", false, 0, false, ""},
      // Wider than 32 bits: neither getter may truncate it silently.
      {"3000000000", false, 0, false, ""},
  };
  for (const Conversion& c : cases) {
    CADORecordset rs(&db_);
    ASSERT_TRUE(rs.Open(std::string("select ") + c.expression + " as v")) << rs.GetLastError();
    int i = 12345;
    std::string s = "junk";
    EXPECT_EQ(rs.GetFieldValueInt("v", i), c.intOk) << c.expression;
    EXPECT_EQ(i, c.intValue) << c.expression;
    EXPECT_EQ(rs.GetFieldValueString("v", s), c.textOk) << c.expression;
    EXPECT_EQ(s, c.textValue) << c.expression;
  }
}

// The server's date and time types read as text in one form, which the
// integer getter refuses; its boolean reads as a database boolean.
TEST(DbOpenTest, DateTimesAndBooleansOfTheServer) {
  MariaDbServer& s = SharedMariaDb();
  ASSERT_TRUE(s.Running());
  CADODataBase db;
  ASSERT_TRUE(db.OpenMySql(s.server(), "velvanet", "velvanet", MariaDbServer::password()));
  const struct {
    const char* expression;
    const char* text;
  } cases[] = {
      {"cast('2024-02-29 13:45:07' as datetime)", "2024-02-29 13:45:07"},
      {"cast('2024-02-29 13:45:07.250' as datetime(3))", "2024-02-29 13:45:07"},
      {"cast('2024-02-29' as date)", "2024-02-29 00:00:00"},
      {"cast('08:05:09' as time)", "1899-12-30 08:05:09"},
  };
  for (const auto& c : cases) {
    CADORecordset rs(&db);
    ASSERT_TRUE(rs.Open(std::string("select ") + c.expression + " as v")) << rs.GetLastError();
    std::string text;
    EXPECT_TRUE(rs.GetFieldValueString("v", text)) << c.expression;
    EXPECT_EQ(text, c.text);
    int i = 5;
    EXPECT_FALSE(rs.GetFieldValueInt("v", i)) << c.expression;
    EXPECT_EQ(i, 0);
  }
  // The server's boolean, BIT(1): -1 for true, 0 for false, and no text.
  ASSERT_EQ(s.Sql("drop table if exists flags; create table flags (f bit(1)); insert into flags values (1), (0)").status,
            0);
  CADORecordset rs(&db);
  ASSERT_TRUE(rs.Open("select f from flags"));
  for (int want : {-1, 0}) {
    int v = 7;
    EXPECT_TRUE(rs.GetFieldValueInt("f", v));
    EXPECT_EQ(v, want);
    std::string text = "x";
    EXPECT_FALSE(rs.GetFieldValueString("f", text));
    EXPECT_EQ(text, "");
    rs.MoveNext();
  }
  s.Sql("drop table flags");
}

TEST_P(DbWrapperTest, StoredColumnOf70000ReadsBackThroughBothGetters) {
  ASSERT_TRUE(db_.Execute("insert into IXOPull (url, vBitRate) values ('u', 70000)"));
  CADORecordset rs(&db_);
  ASSERT_TRUE(rs.Open("select * from IXOPull"));
  int v = 0;
  std::string s;
  EXPECT_TRUE(rs.GetFieldValueInt("vBitRate", v));
  EXPECT_TRUE(rs.GetFieldValueString("vBitRate", s));
  EXPECT_EQ(v, 70000);
  EXPECT_EQ(s, "70000");
}

TEST_P(DbWrapperTest, MissingFieldFailsWithQueryDiagnostic) {
  ASSERT_TRUE(db_.Execute("insert into NetSource_info (url,alias) values ('u','a')"));
  CADORecordset rs(&db_);
  const std::string query = "select * from NetSource_info";
  ASSERT_TRUE(rs.Open(query));
  int v = 7;
  std::string s = "x";
  EXPECT_FALSE(rs.GetFieldValueInt("no_such_column", v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(StartsWith(rs.GetLastError(), "Query = " + query + "\nCADORecordset Error\n\tCode = "))
      << rs.GetLastError();
  EXPECT_NE(rs.GetLastError().find("\n\tDescription = "), std::string::npos);
  EXPECT_FALSE(rs.GetFieldValueString("no_such_column", s));
  EXPECT_EQ(s, "");
  // The diagnostic stays until the next error: a good read does not clear it.
  std::string before = rs.GetLastError();
  EXPECT_TRUE(rs.GetFieldValueString("url", s));
  EXPECT_EQ(rs.GetLastError(), before);
}

TEST_P(DbWrapperTest, FieldNamesIgnoreCase) {
  ASSERT_TRUE(db_.Execute("insert into forward_task (forward_url, live_id) values ('rtmp://x', 9)"));
  CADORecordset rs(&db_);
  ASSERT_TRUE(rs.Open("select * from forward_task"));
  int liveId = 0;
  std::string url;
  EXPECT_TRUE(rs.GetFieldValueInt("LIVE_ID", liveId));
  EXPECT_TRUE(rs.GetFieldValueString("Forward_Url", url));
  EXPECT_TRUE(rs.GetFieldValueString("FORWARD_TASK.forward_url", url));
  EXPECT_EQ(liveId, 9);
  EXPECT_EQ(url, "rtmp://x");
}

TEST_P(DbWrapperTest, SharedColumnsOfAJoinAreNamedByTable) {
  ASSERT_TRUE(db_.Execute("insert into NetSource_info (url,alias,status) values ('rtmp://in','src',1)"));
  std::string sourceId = Cli("select id from NetSource_info");
  ASSERT_TRUE(db_.Execute("insert into forward_task (forward_url, live_id, status) values ('rtmp://out', " +
                          sourceId + ", 0)"));
  std::string taskId = Cli("select id from forward_task");
  ASSERT_NE(sourceId, taskId);
  CADORecordset rs(&db_);
  ASSERT_TRUE(rs.Open("select * from forward_task, NetSource_info where forward_task.live_id = NetSource_info.id"));
  int id = 0, status = -1, sid = 0, sstatus = -1;
  EXPECT_TRUE(rs.GetFieldValueInt("forward_task.id", id));
  EXPECT_TRUE(rs.GetFieldValueInt("forward_task.status", status));
  EXPECT_TRUE(rs.GetFieldValueInt("NetSource_info.id", sid));
  EXPECT_TRUE(rs.GetFieldValueInt("NetSource_info.status", sstatus));
  EXPECT_EQ(std::to_string(id), taskId);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::to_string(sid), sourceId);
  EXPECT_EQ(sstatus, 1);
  // The bare name is ambiguous and must not quietly pick one of the two.
  EXPECT_FALSE(rs.GetFieldValueInt("id", id));
  std::string alias;
  EXPECT_TRUE(rs.GetFieldValueString("alias", alias));
  EXPECT_EQ(alias, "src");
}

TEST_P(DbWrapperTest, ExecuteFailuresKeepConnectionDiagnostic) {
  EXPECT_FALSE(db_.Execute(""));
  EXPECT_TRUE(StartsWith(db_.GetLastError(), "Connection String = ")) << db_.GetLastError();
  EXPECT_NE(db_.GetLastError().find("\nCADODataBase Error\n\tCode = "), std::string::npos);
  EXPECT_FALSE(db_.Execute("update no_such_table set x=1"));
  EXPECT_NE(db_.GetLastError().find("no_such_table"), std::string::npos) << db_.GetLastError();
  // A second statement smuggled after the first is never run.
  ASSERT_TRUE(db_.Execute("insert into forward_task (forward_url) values ('keep')"));
  EXPECT_FALSE(db_.Execute("delete from NetSource_info where id = 1; delete from forward_task"));
  EXPECT_EQ(Cli("select count(*) from forward_task"), "1");
  EXPECT_TRUE(db_.IsOpen());
}

TEST_P(DbWrapperTest, InsertHandsBackTheNewRowsId) {
  int first = 0, second = 0;
  ASSERT_TRUE(db_.ExecuteInsert("insert into record_task (name) values ('a')", first));
  ASSERT_TRUE(db_.ExecuteInsert("insert into record_task (name) values ('b')", second));
  EXPECT_EQ(Cli("select id from record_task where name='a'"), std::to_string(first));
  EXPECT_EQ(Cli("select id from record_task where name='b'"), std::to_string(second));
  int none = -5;
  EXPECT_FALSE(db_.ExecuteInsert("insert into record_task (nosuch) values (1)", none));
  EXPECT_EQ(none, -5);
}

TEST_P(DbWrapperTest, EscapedTextsRoundTripAndOrdinaryTextsStayAsTheyAre) {
  EXPECT_EQ(db_.EscapeText("rtmp://127.0.0.1/live/a b?x=1&y=%d"), "rtmp://127.0.0.1/live/a b?x=1&y=%d");
  EXPECT_EQ(db_.EscapeText("直播频道"), "直播频道");
  const std::string tricky[] = {"it's", "C:\\video\\new", "a\\'; delete from IXOPull; --", "\\", "'", "''",
                                "双引号\"和'单引号'", "line\nbreak"};
  ASSERT_TRUE(db_.Execute("insert into IXOPull (url) values ('sentinel')"));
  for (const std::string& t : tricky) {
    ASSERT_TRUE(db_.Execute("update IXOPull set vFormat='" + db_.EscapeText(t) + "'")) << t << db_.GetLastError();
    CADORecordset rs(&db_);
    ASSERT_TRUE(rs.Open("select * from IXOPull where vFormat='" + db_.EscapeText(t) + "'"));
    EXPECT_EQ(rs.GetRecordCount(), 1) << t;
    std::string back;
    rs.GetFieldValueString("vFormat", back);
    EXPECT_EQ(back, t);
  }
  EXPECT_EQ(Cli("select url from IXOPull"), "sentinel");
}

INSTANTIATE_TEST_SUITE_P(Backends, DbWrapperTest, testing::Values(DbKind::SQLite, DbKind::MariaDB), DbKindName);

// ---------------------------------------------------------------------------
// Opening

TEST(DbOpenTest, MissingOrForeignFileFailsAndCreatesNothing) {
  TempDir dir("vvdb");
  CADODataBase db;
  const std::string missing = dir.file("velvanet.db");
  EXPECT_FALSE(db.OpenAccess(missing));
  EXPECT_FALSE(db.IsOpen());
  struct stat st;
  EXPECT_NE(stat(missing.c_str(), &st), 0) << "an empty database was created";
  vvtest::Run("echo 'not a database at all, just some text to fill a page' > " + ShellQuote(dir.file("junk.db")));
  EXPECT_FALSE(db.OpenAccess(dir.file("junk.db")));
  EXPECT_FALSE(db.OpenAccess(dir.path()));
  EXPECT_FALSE(db.Execute("select 1"));
}

// The set-up step makes the empty embedded database once and keeps it after.
TEST(DbOpenTest, SetupCreatesTheEmbeddedDatabaseOnce) {
  TempDir dir("vvdb");
  const std::string script = std::string(VV_SOURCE_DIR) + "/scripts/make_db.sh";
  ASSERT_EQ(vvtest::Run("bash " + ShellQuote(script) + " " + ShellQuote(dir.path()), true).status, 0);
  CADODataBase db;
  ASSERT_TRUE(db.OpenAccess(dir.file("velvanet.db")));
  int id = 0;
  ASSERT_TRUE(db.ExecuteInsert("insert into NetSource_info (url,alias) values ('kept','k')", id));
  EXPECT_EQ(id, 100000001);
  db.Close();
  ASSERT_EQ(vvtest::Run("bash " + ShellQuote(script) + " " + ShellQuote(dir.path()), true).status, 0);
  ASSERT_TRUE(db.OpenAccess(dir.file("velvanet.db")));
  CADORecordset rs(&db);
  ASSERT_TRUE(rs.Open("select * from NetSource_info"));
  EXPECT_EQ(rs.GetRecordCount(), 1);
}

// A set-up step whose schema load fails leaves no database behind, so that the
// next run makes a whole one instead of keeping a broken one.
TEST(DbOpenTest, FailedSetupLeavesNoDatabase) {
  TempDir dir("vvdb");
  TempDir bin("vvbin");
  // An sqlite3 that writes part of a file and then fails.
  const std::string fake = bin.file("sqlite3");
  ASSERT_EQ(vvtest::Run("printf '#!/bin/sh\\nfor a; do f=$a; done\\necho partial > \"$f\"\\nexit 1\\n' > " +
                            ShellQuote(fake) + " && chmod +x " + ShellQuote(fake))
                .status,
            0);
  const std::string script = std::string(VV_SOURCE_DIR) + "/scripts/make_db.sh";
  CommandResult r = vvtest::Run("PATH=" + ShellQuote(bin.path()) + ":$PATH bash " + ShellQuote(script) + " " +
                                    ShellQuote(dir.path()),
                                true);
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_EQ(vvtest::Run("ls -A " + ShellQuote(dir.path())).output, "");
  ASSERT_EQ(vvtest::Run("bash " + ShellQuote(script) + " " + ShellQuote(dir.path()), true).status, 0);
  CADODataBase db;
  ASSERT_TRUE(db.OpenAccess(dir.file("velvanet.db")));
  EXPECT_TRUE(db.Execute("delete from IXOPull"));
}

TEST(DbOpenTest, GenericOpenReadsBothKindsOfConnectionString) {
  TempDir dir("vvdb");
  vvtest::Run("sqlite3 " + ShellQuote(dir.file("v.db")) + " < " +
      ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_sqlite.sql"));
  CADODataBase db;
  ASSERT_TRUE(db.Open("Data Source = " + dir.file("v.db")));
  EXPECT_EQ(db.GetBackend(), CADODataBase::SQLITE);
  EXPECT_TRUE(db.Execute("delete from IXOPull"));
  MariaDbServer& s = SharedMariaDb();
  ASSERT_TRUE(s.Running());
  ASSERT_TRUE(db.Open("server=" + s.server() + ";DB=velvanet;User ID=velvanet;Password=" + MariaDbServer::password() +
                      ";"));
  EXPECT_EQ(db.GetBackend(), CADODataBase::MARIADB);
  EXPECT_TRUE(db.Execute("delete from IXOPull"));
  EXPECT_FALSE(db.Open("Data Source = " + dir.file("none.db")));
  EXPECT_TRUE(StartsWith(db.GetLastError(), "Connection String = Data Source = ")) << db.GetLastError();
}

TEST(DbOpenTest, MariaDbBySocketOrPortAndWrongPasswordFails) {
  MariaDbServer& s = SharedMariaDb();
  ASSERT_TRUE(s.Running());
  for (const std::string& server : {s.server(), s.socket()}) {
    CADODataBase db;
    EXPECT_TRUE(db.OpenMySql(server, "velvanet", "velvanet", MariaDbServer::password())) << server;
    EXPECT_TRUE(db.IsOpen());
    CADORecordset rs(&db);
    EXPECT_TRUE(rs.Open("select 1 as one"));
    db.Close();
    EXPECT_FALSE(db.IsOpen());
  }
  CADODataBase db;
  EXPECT_FALSE(db.OpenMySql(s.server(), "velvanet", "velvanet", "wrong"));
  EXPECT_FALSE(db.IsOpen());
  EXPECT_FALSE(db.OpenMySql(s.server(), "no_such_db", "velvanet", MariaDbServer::password()));
}

// A server that reads backslashes literally: quotes are doubled instead, also
// for a statement escaped while the connection was down and run once it is
// back, so a value can never end its quotes early.
TEST(DbOpenTest, ServerWithoutBackslashEscapesGetsQuotesDoubled) {
  MariaDbServer s;
  s.AddServerOption("--sql-mode=NO_BACKSLASH_ESCAPES,STRICT_TRANS_TABLES");
  std::string error;
  ASSERT_TRUE(s.Start(&error)) << error;
  CADODataBase db;
  ASSERT_TRUE(db.OpenMySql(s.server(), "velvanet", "velvanet", MariaDbServer::password()));
  const std::string tricky = "C:\\x\\', 'injected') -- ";
  EXPECT_EQ(db.EscapeText("it's"), "it''s");
  ASSERT_TRUE(db.Execute("insert into NetSource_info (url,alias) values ('" + db.EscapeText(tricky) + "','live')"))
      << db.GetLastError();

  s.Kill();
  EXPECT_FALSE(db.Execute("delete from IXOPull"));  // the reopen fails while the server is away
  const std::string escapedWhileDown = db.EscapeText(tricky);
  ASSERT_TRUE(s.Restart(&error)) << error;
  ASSERT_TRUE(db.Execute("insert into NetSource_info (url,alias) values ('" + escapedWhileDown + "','down')"))
      << db.GetLastError();
  EXPECT_EQ(Trim(s.Sql("select concat(hex(url), '/', alias) from NetSource_info order by id").output),
            HexOf(tricky) + "/live\n" + HexOf(tricky) + "/down");
}

// A server that dies fails every statement promptly; once it is back the
// connection is reopened (with a WARN line) and nothing is stored twice.
TEST(DbOpenTest, KilledServerFailsPromptlyAndConnectionComesBack) {
  TempDir logDir("vvlog");
  SetLogFileName(logDir.file("Velvanet.log"));
  MariaDbServer s;
  std::string error;
  ASSERT_TRUE(s.Start(&error)) << error;
  CADODataBase db;
  ASSERT_TRUE(db.OpenMySql(s.server(), "velvanet", "velvanet", MariaDbServer::password()));
  int id = 0;
  ASSERT_TRUE(db.ExecuteInsert("insert into IXOPull (url) values ('before')", id));

  s.Kill();
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(db.Execute("insert into IXOPull (url) values ('while down')"));
  CADORecordset rs(&db);
  EXPECT_FALSE(rs.Open("select * from IXOPull"));
  EXPECT_TRUE(StartsWith(rs.GetLastError(), "Query = select * from IXOPull\n"));
  EXPECT_EQ(rs.GetRecordCount(), -1);
  EXPECT_TRUE(rs.IsEof());
  // Far below the client's 30 s read time-out: the failure comes from the
  // refused reconnect, not from waiting on a dead socket.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  ASSERT_TRUE(s.Restart(&error)) << error;
  int after = 0;
  EXPECT_TRUE(db.ExecuteInsert("insert into IXOPull (url) values ('after')", after)) << db.GetLastError();
  EXPECT_GT(after, id);
  EXPECT_EQ(Trim(s.Sql("select url from IXOPull order by id").output), "before\nafter");

  // Dropped by the server while idle (as a timeout or restart does): the
  // next statement runs on a new connection, exactly once.
  CommandResult killed = s.Sql("select concat('kill ', id) from information_schema.processlist where user='velvanet'");
  ASSERT_FALSE(Trim(killed.output).empty());
  s.Sql(Trim(killed.output));
  ASSERT_TRUE(WaitFor([&] { return Trim(s.Sql("select count(*) from information_schema.processlist where user='velvanet'").output) == "0"; },
                      std::chrono::seconds(30), std::chrono::milliseconds(50)));
  int third = 0;
  EXPECT_TRUE(db.ExecuteInsert("insert into IXOPull (url) values ('third')", third)) << db.GetLastError();
  EXPECT_EQ(Trim(s.Sql("select count(*) from IXOPull where url='third'").output), "1");

  // Cut off while the server is working on an insert: the statement fails
  // and is not sent again on the new connection. The insert sleeps long
  // enough that the kill lands while it runs however slow the machine is;
  // had it been sent again, ExecuteInsert would wait out the sleep and succeed.
  bool slowOk = true;
  std::thread slow([&] {
    int ignored = 0;
    slowOk = db.ExecuteInsert("insert into IXOPull (url) select concat('slow', sleep(20))", ignored);
  });
  ASSERT_TRUE(WaitFor([&] {
    return !Trim(s.Sql("select id from information_schema.processlist where user='velvanet' and info like 'insert%'")
                     .output)
                .empty();
  }, std::chrono::seconds(30), std::chrono::milliseconds(50)));
  CommandResult victim = s.Sql("select id from information_schema.processlist where user='velvanet'");
  s.Sql("kill connection " + Trim(victim.output));
  slow.join();
  EXPECT_FALSE(slowOk);
  int fourth = 0;
  EXPECT_TRUE(db.ExecuteInsert("insert into IXOPull (url) values ('fourth')", fourth)) << db.GetLastError();
  // The killed statement is gone from the server before its rows are counted.
  EXPECT_TRUE(WaitFor([&] {
    return Trim(s.Sql("select count(*) from information_schema.processlist where info like 'insert%slow%'").output) == "0";
  }, std::chrono::seconds(30), std::chrono::milliseconds(50)));
  EXPECT_EQ(Trim(s.Sql("select count(*) from IXOPull where url like 'slow%'").output), "0");
  s.Stop();
  std::string log = ReadFileText(logDir.file("Velvanet.log"));
  SetLogFileName("");
  EXPECT_NE(log.find("[WARN]: database connection"), std::string::npos) << log;
}

}  // namespace
