// CADODataBase and CADORecordset on both backends.
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <ctime>
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

// A table with every kind of value the setters write.
class DbRecordsetTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(db_.Execute(
        GetParam() == DbKind::SQLite
            ? "create table rs_item (id integer primary key autoincrement, name text not null default '', "
              "n integer not null default 0, big integer not null default 0, ratio real, at text)"
            : "create table rs_item (id int not null auto_increment primary key, name varchar(255) not null "
              "default '', n int not null default 0, big bigint not null default 0, ratio double, at datetime)"))
        << db_.GetLastError();
  }

  static std::tm Time(int y, int mo, int d, int h, int mi, int s) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return t;
  }

  static std::string Name(CADORecordset& rs) {
    std::string name;
    EXPECT_TRUE(rs.GetFieldValueString("name", name)) << rs.GetLastError();
    return name;
  }
};

TEST_P(DbRecordsetTest, NavigationBookmarksAndFind) {
  const char* names[] = {"alpha", "beta", "Gamma", "delta", "beta", "o'k"};
  for (int i = 0; i < 6; ++i)
    ASSERT_TRUE(db_.Execute("insert into rs_item (name, n, ratio) values ('" + db_.EscapeText(names[i]) + "', " +
                            std::to_string((i + 1) * 10) + ", " + std::to_string(i) + ".5)"));
  CADORecordset rs(&db_);
  ASSERT_TRUE(rs.Open("select * from rs_item order by id")) << rs.GetLastError();
  EXPECT_EQ(rs.GetFieldCount(), 6);

  ASSERT_TRUE(rs.MoveLast());
  EXPECT_EQ(rs.GetAbsolutePosition(), 6);
  ASSERT_TRUE(rs.MovePrevious());
  EXPECT_EQ(rs.GetAbsolutePosition(), 5);
  ASSERT_TRUE(rs.GetBookmark());
  ASSERT_TRUE(rs.MoveFirst());
  ASSERT_TRUE(rs.Move(2));
  EXPECT_EQ(Name(rs), "Gamma");
  ASSERT_TRUE(rs.SetBookmark());
  EXPECT_EQ(rs.GetAbsolutePosition(), 5);
  int n = 0;
  EXPECT_TRUE(rs.GetFieldValueInt(2, n));
  EXPECT_EQ(n, 50);

  // Position found (1-based) from the first row (forward) or the last (backward); 0 for none.
  const struct {
    const char* criteria;
    int direction;
    long found;
  } cases[] = {
      {"name = 'beta'", 1, 2},       {"name = 'beta'", -1, 5},       {"n > 35", 1, 4},
      {"n >= 40", 1, 4},             {"n < 20", 1, 1},               {"n <= 20", -1, 2},
      {"n <> 10", 1, 2},             {"name <> 'o''k'", -1, 5},      {"ratio > 2.5", 1, 4},
      {"name LIKE 'gam*'", 1, 3},    {"name like '%LT%'", 1, 4},     {"name = 'o''k'", 1, 6},
      {"[name] = 'GAMMA'", 1, 3},    {"  n=60  ", 1, 6},             {"n = 70", 1, 0},
      {"name LIKE 'x*'", -1, 0},     {"name > 'c'", 1, 3},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.direction > 0 ? rs.MoveFirst() : rs.MoveLast());
    EXPECT_EQ(rs.Find(c.criteria, c.direction), c.found != 0) << c.criteria;
    if (c.found) {
      EXPECT_EQ(rs.GetAbsolutePosition(), c.found) << c.criteria;
    } else {
      EXPECT_TRUE(c.direction > 0 ? rs.IsEof() : rs.IsBof()) << c.criteria;
    }
  }

  // The kept criteria and direction go on from the row after the current one.
  ASSERT_TRUE(rs.MoveFirst());
  ASSERT_TRUE(rs.Find("name = 'beta'"));
  ASSERT_TRUE(rs.FindNext());
  EXPECT_EQ(rs.GetAbsolutePosition(), 5);
  EXPECT_FALSE(rs.FindNext());
  EXPECT_TRUE(rs.IsEof());
  ASSERT_TRUE(rs.MoveLast());
  ASSERT_TRUE(rs.Find("name = 'beta'", CADORecordset::searchBackward));
  EXPECT_EQ(rs.GetAbsolutePosition(), 5);
  ASSERT_TRUE(rs.FindNext());
  EXPECT_EQ(rs.GetAbsolutePosition(), 2);

  // Criteria that cannot be read fail without moving.
  for (const char* bad : {"nosuch = 1", "name == 'x'", "name LIKE 5", "name = 'open", "= 3", ""}) {
    ASSERT_TRUE(rs.MoveFirst());
    ASSERT_TRUE(rs.Move(3));
    EXPECT_FALSE(rs.Find(bad)) << bad;
    EXPECT_EQ(rs.GetAbsolutePosition(), 4) << bad;
    EXPECT_TRUE(StartsWith(rs.GetLastError(), "Query = select * from rs_item order by id\n")) << bad;
  }
  EXPECT_FALSE(rs.Find("n = 1", 0));

  // Running the query again sees rows stored since, and forgets the bookmark.
  ASSERT_TRUE(db_.Execute("insert into rs_item (name) values ('late')"));
  ASSERT_TRUE(rs.Requery());
  EXPECT_EQ(rs.GetRecordCount(), 7);
  EXPECT_FALSE(rs.SetBookmark());
  EXPECT_TRUE(rs.Find("name = 'late'"));
}

TEST_P(DbRecordsetTest, WrittenRowsReadBackThroughAFreshQuery) {
  // Quotes, a backslash and UTF-8 must reach the database as they are.
  const std::string awkward = "it's a \\ 'test' 中文";
  const std::tm when = Time(2024, 2, 29, 13, 45, 7);
  {
    CADORecordset rs(&db_);
    ASSERT_TRUE(rs.Open("select id, name, n, big, ratio, at from rs_item order by id")) << rs.GetLastError();
    ASSERT_TRUE(rs.AddNew()) << rs.GetLastError();
    EXPECT_TRUE(rs.SetFieldValueString("name", awkward));
    EXPECT_TRUE(rs.SetFieldValueInt("n", -7));
    EXPECT_TRUE(rs.SetFieldValueLong("big", 5000000000L));
    EXPECT_TRUE(rs.SetFieldValueDouble("ratio", 0.1));
    EXPECT_TRUE(rs.SetFieldValueDateTime("at", when));
    ASSERT_TRUE(rs.Update()) << rs.GetLastError();
    int id = 0;
    EXPECT_TRUE(rs.GetFieldValueInt("id", id));
    EXPECT_GT(id, 0);

    ASSERT_TRUE(rs.AddNew());
    EXPECT_TRUE(rs.SetFieldValueString(1, "second"));
    EXPECT_TRUE(rs.SetFieldValueInt(2, 2));
    EXPECT_TRUE(rs.SetFieldValueLong(3, -1L));
    EXPECT_TRUE(rs.SetFieldValueDouble(4, -2.25));
    EXPECT_TRUE(rs.SetFieldValueDateTime(5, Time(1999, 12, 31, 23, 59, 59)));
    // Moving off a new row stores it, as a client cursor does.
    ASSERT_TRUE(rs.MoveFirst()) << rs.GetLastError();
    EXPECT_EQ(rs.GetRecordCount(), 2);
    // Values no column can hold are refused before they reach the row.
    EXPECT_FALSE(rs.SetFieldValueDateTime("at", Time(2023, 2, 29, 0, 0, 0)));
    EXPECT_FALSE(rs.SetFieldValueDouble("ratio", std::nan("")));
    EXPECT_FALSE(rs.SetFieldValueInt("nosuch", 1));
  }
  EXPECT_EQ(Cli("select count(*) from rs_item"), "2");

  CADORecordset rs(&db_);
  ASSERT_TRUE(rs.Open("select * from rs_item order by id")) << rs.GetLastError();
  ASSERT_EQ(rs.GetRecordCount(), 2);
  std::string text;
  int n = 0;
  long big = 0;
  double ratio = 0;
  std::tm at{};
  EXPECT_EQ(Name(rs), awkward);
  EXPECT_TRUE(rs.GetFieldValueInt("n", n));
  EXPECT_EQ(n, -7);
  EXPECT_TRUE(rs.GetFieldValueLong("big", big));
  EXPECT_EQ(big, 5000000000L);
  EXPECT_TRUE(rs.GetFieldValueDouble("ratio", ratio));
  EXPECT_EQ(ratio, 0.1);
  EXPECT_TRUE(rs.GetFieldValueString("at", text));
  EXPECT_EQ(text, "2024-02-29 13:45:07");
  ASSERT_TRUE(rs.GetFieldValueDateTime("at", at));
  EXPECT_EQ(std::vector<int>({at.tm_year, at.tm_mon, at.tm_mday, at.tm_hour, at.tm_min, at.tm_sec, at.tm_wday}),
            std::vector<int>({124, 1, 29, 13, 45, 7, 4}));
  // Text that is no date-time is not one.
  EXPECT_FALSE(rs.GetFieldValueDateTime("name", at));

  ASSERT_TRUE(rs.MoveNext());
  EXPECT_TRUE(rs.GetFieldValueString(1, text));
  EXPECT_EQ(text, "second");
  EXPECT_TRUE(rs.GetFieldValueInt(2, n));
  EXPECT_EQ(n, 2);
  EXPECT_TRUE(rs.GetFieldValueLong(3, big));
  EXPECT_EQ(big, -1L);
  EXPECT_TRUE(rs.GetFieldValueDouble(4, ratio));
  EXPECT_EQ(ratio, -2.25);
  EXPECT_TRUE(rs.GetFieldValueDateTime(5, at));
  EXPECT_EQ(at.tm_year, 99);
  EXPECT_EQ(at.tm_sec, 59);

  // Change both rows, one by Update and one by moving off it, then delete the first.
  ASSERT_TRUE(rs.SetFieldValueString("name", "renamed"));
  ASSERT_TRUE(rs.Update()) << rs.GetLastError();
  ASSERT_TRUE(rs.MoveFirst());
  ASSERT_TRUE(rs.SetFieldValueInt("n", 99));
  ASSERT_TRUE(rs.MoveLast()) << rs.GetLastError();
  EXPECT_EQ(Cli("select n, name from rs_item order by id"), "99\t" + awkward + "\n2\trenamed");

  ASSERT_TRUE(rs.MoveFirst());
  ASSERT_TRUE(rs.Delete()) << rs.GetLastError();
  EXPECT_EQ(rs.GetRecordCount(), 1);
  EXPECT_FALSE(rs.GetFieldValueInt("n", n));  // the deleted row is gone
  ASSERT_TRUE(rs.MoveNext());
  EXPECT_EQ(Name(rs), "renamed");
  ASSERT_TRUE(rs.MoveNext());
  EXPECT_TRUE(rs.IsEof());

  CADORecordset fresh(&db_);
  ASSERT_TRUE(fresh.Open("select id, name from rs_item"));
  ASSERT_EQ(fresh.GetRecordCount(), 1);
  EXPECT_EQ(Name(fresh), "renamed");
  // A null date-time reads as all-zero fields.
  ASSERT_TRUE(db_.Execute("update rs_item set at = null"));
  ASSERT_TRUE(fresh.Open("select at from rs_item"));
  at.tm_year = 5;
  EXPECT_TRUE(fresh.GetFieldValueDateTime(0, at));
  EXPECT_EQ(at.tm_year, 0);
}

TEST_P(DbRecordsetTest, WritesThatCannotBeMappedFailAndChangeNothing) {
  ASSERT_TRUE(db_.Execute("insert into FileSource_info (url, alias) values ('/f/1', 'same')"));
  ASSERT_TRUE(db_.Execute("insert into FileSource_info (url, alias) values ('/f/2', 'other')"));
  ASSERT_TRUE(db_.Execute("insert into NetSource_info (url, alias) values ('rtmp://n/1', 'same')"));
  const std::string before = Cli("select id, url, alias from FileSource_info order by id");
  const char* queries[] = {
      "select f.id, f.url, n.alias from FileSource_info f join NetSource_info n on n.alias = f.alias",
      "select f.id, f.url from FileSource_info f, NetSource_info n where n.alias = f.alias",
      "select a.id, b.url from FileSource_info a inner join FileSource_info b on b.id <> a.id",
      "select url, alias from FileSource_info order by id",
      "select max(id) as id, 'x' as url from FileSource_info",
      "select distinct id, url from FileSource_info",
      "select id, url from FileSource_info union select id, url from NetSource_info",
  };
  for (const char* q : queries) {
    CADORecordset rs(&db_);
    ASSERT_TRUE(rs.Open(q)) << q << rs.GetLastError();
    const long rows = rs.GetRecordCount();
    ASSERT_GE(rows, 1) << q;
    std::string url;
    ASSERT_TRUE(rs.GetFieldValueString(1, url)) << q;
    EXPECT_TRUE(rs.SetFieldValueString(1, "/changed")) << q;
    EXPECT_FALSE(rs.Update()) << q;
    EXPECT_TRUE(StartsWith(rs.GetLastError(), std::string("Query = ") + q + "\nCADORecordset Error\n")) << q;
    EXPECT_NE(rs.GetLastError().find("cannot be written back"), std::string::npos) << rs.GetLastError();
    // The row shows what the database still holds.
    std::string after;
    EXPECT_TRUE(rs.GetFieldValueString(1, after));
    EXPECT_EQ(after, url) << q;
    EXPECT_FALSE(rs.Delete()) << q;
    EXPECT_FALSE(rs.AddNew()) << q;
    EXPECT_EQ(rs.GetRecordCount(), rows) << q;
    EXPECT_TRUE(rs.MoveNext()) << q;
  }
  EXPECT_EQ(Cli("select id, url, alias from FileSource_info order by id"), before);

  // A table opened by its name is a plain selection from it, also when run again.
  {
    CADORecordset table(&db_);
    ASSERT_TRUE(table.Open("FileSource_info", CADORecordset::openTable)) << table.GetLastError();
    ASSERT_TRUE(table.AddNew()) << table.GetLastError();
    ASSERT_TRUE(table.SetFieldValueString("url", "/f/3"));
    ASSERT_TRUE(table.Update()) << table.GetLastError();
    ASSERT_TRUE(table.Requery()) << table.GetLastError();
    EXPECT_EQ(table.GetRecordCount(), 3);
    EXPECT_TRUE(table.Find("url = '/f/3'"));
    ASSERT_TRUE(table.Delete()) << table.GetLastError();
  }
  EXPECT_EQ(Cli("select id, url, alias from FileSource_info order by id"), before);

  // A row deleted behind the result set's back is not found again.
  CADORecordset rs(&db_);
  ASSERT_TRUE(rs.Open("select * from FileSource_info order by id"));
  ASSERT_TRUE(db_.Execute("delete from FileSource_info where url = '/f/1'"));
  ASSERT_TRUE(rs.SetFieldValueString("alias", "gone"));
  EXPECT_FALSE(rs.Update());
  EXPECT_NE(rs.GetLastError().find("Row cannot be located for updating."), std::string::npos) << rs.GetLastError();
  EXPECT_FALSE(rs.Delete());
  EXPECT_EQ(Cli("select url, alias from FileSource_info"), "/f/2\tother");
}

INSTANTIATE_TEST_SUITE_P(Backends, DbRecordsetTest, testing::Values(DbKind::SQLite, DbKind::MariaDB), DbKindName);

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
