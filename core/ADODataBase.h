#pragma once
// The program's one database connection and the result sets opened on it.
// Two backends sit behind the same classes: an embedded SQLite file and a
// MariaDB server. Every provider error becomes a false/-1/empty result plus a
// kept diagnostic text; nothing throws.
//
// One connection serves the console, the manager's request and schedule
// threads and the Ixo handlers at once, and neither a MariaDB handle nor the
// last-insert id is safe to share, so every statement and every result fetch
// runs under one lock inside CADODataBase. A result set fetches all its rows
// when it opens; walking it afterwards touches no connection.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;
struct st_mysql;

// One cell of a fetched row, typed as the provider handed it back.
struct DbValue {
    // Bool holds -1 for true and 0 for false, as a database boolean reads.
    enum Kind { Null, Int16, Int32, Int64, Bool, Double, Text, DateTime, Blob };
    Kind kind = Null;
    int64_t i = 0;
    double d = 0.0;
    std::string s;  // text, date-time text ("%Y-%m-%d %H:%M:%S") or bytes
};

// A fully fetched result: column names (plain and table-qualified) and rows.
struct DbResult {
    std::vector<std::string> names;   // column names as the provider gave them
    std::vector<std::string> tables;  // table (or alias) of each column, may be empty
    // Where each column is stored, for writing a changed row back: the
    // column's own name, its table and that table's database (schema), all
    // empty for a computed column.
    std::vector<std::string> origins;
    std::vector<std::string> originTables;
    std::vector<std::string> originDbs;
    std::vector<std::vector<DbValue>> rows;
};

class CADODataBase {
public:
    enum Backend { NONE, SQLITE, MARIADB };

    CADODataBase();
    ~CADODataBase();
    CADODataBase(const CADODataBase&) = delete;
    CADODataBase& operator=(const CADODataBase&) = delete;

    // Opens the embedded database file; a missing or unreadable file fails
    // (an empty database is never created here).
    bool OpenAccess(const std::string& path);
    // server is "host", "host:port" or the path of a unix socket.
    bool OpenMySql(const std::string& server, const std::string& database,
                   const std::string& user, const std::string& password);
    // Key=value pairs separated by ';': "Data Source=<file>" for the embedded
    // file, or "server=..;DB=..;User ID=..;Password=.." for a server.
    bool Open(const std::string& connectionString);

    bool Execute(const std::string& statement);
    // Runs an insert and hands back the id the backend assigned to the new
    // row, taken under the same lock as the insert.
    bool ExecuteInsert(const std::string& statement, int& newId);
    bool IsOpen();
    void Close();

    bool BeginTrans();
    bool CommitTrans();
    bool RollbackTrans();

    // Text placed between the single quotes of a statement, escaped the way
    // this backend reads it. Values without quotes, backslashes or NULs come
    // back unchanged.
    std::string EscapeText(const std::string& text);

    Backend GetBackend() const { return backend_; }
    std::string GetLastError();
    std::string GetConnectionString();

    // Runs a query and fetches all its rows (used by CADORecordset). On
    // failure fills code, meaning, source and description.
    struct ErrorInfo {
        long code = 0;
        std::string meaning, source, description;
    };
    bool Query(const std::string& statement, DbResult& result, ErrorInfo& error);
    // Runs an insert, update or delete for CADORecordset: the error goes to
    // the caller rather than to this connection's last error, and changed is
    // the number of rows the statement matched. newId as for ExecuteInsert.
    bool Write(const std::string& statement, int* newId, long& changed, ErrorInfo& error);

private:
    bool OpenSqliteLocked(const std::string& path);
    bool OpenMariaLocked();
    void CloseLocked();
    bool ExecuteLocked(const std::string& statement, int* newId, ErrorInfo& error);
    bool RunSqlite(const std::string& statement, DbResult* result, int* newId, ErrorInfo& error);
    bool RunMaria(const std::string& statement, DbResult* result, int* newId, ErrorInfo& error);
    bool RunMariaOnce(const std::string& statement, DbResult* result, int* newId,
                      ErrorInfo& error);
    bool MariaLooksDead();
    void MariaError(ErrorInfo& error);
    void StoreError(const ErrorInfo& error);

    std::mutex lock_;
    std::atomic<Backend> backend_{NONE};  // read without the lock by GetBackend
    sqlite3* sqlite_ = nullptr;
    st_mysql* mysql_ = nullptr;
    std::string host_, socket_, database_, user_, password_;
    unsigned int port_ = 0;
    bool outage_ = false;  // the server connection broke and is not back yet
    // The server reads backslashes literally (sql_mode NO_BACKSLASH_ESCAPES),
    // as last seen on a live connection; escaping follows it while none is open.
    bool noBackslashEscapes_ = false;
    std::string connectionString_;
    std::string lastError_;
};

class CADORecordset {
public:
    enum { openQuery = 1, openTable = 2, openStoredProc = 3 };
    enum { searchForward = 1, searchBackward = -1 };

    explicit CADORecordset(CADODataBase* db);
    ~CADORecordset();
    CADORecordset(const CADORecordset&) = delete;
    CADORecordset& operator=(const CADORecordset&) = delete;

    bool Open(const std::string& statement, int option = openQuery);
    bool IsOpen() const { return open_; }
    void Close();
    bool Requery();

    long GetRecordCount();
    int GetFieldCount() const { return open_ ? static_cast<int>(result_.names.size()) : 0; }
    long GetAbsolutePosition() const;  // 1-based; -1 when there is no current row
    bool IsEof() const;
    bool IsBof() const;
    bool MoveFirst();
    bool MoveNext();
    bool MovePrevious();
    bool MoveLast();
    bool Move(long rows);

    bool GetFieldValueInt(const std::string& field, int& value);
    bool GetFieldValueString(const std::string& field, std::string& value);
    bool GetFieldValueLong(const std::string& field, long& value);
    bool GetFieldValueDouble(const std::string& field, double& value);
    bool GetFieldValueInt(int index, int& value);
    bool GetFieldValueString(int index, std::string& value);
    bool GetFieldValueLong(int index, long& value);
    bool GetFieldValueDouble(int index, double& value);
    // Date-times are calendar fields as stored, with no time zone applied;
    // a null reads as all-zero fields.
    bool GetFieldValueDateTime(const std::string& field, std::tm& value);
    bool GetFieldValueDateTime(int index, std::tm& value);

    // Setting a field starts an edit of the current row; Update writes it,
    // and so does leaving the row by a move, a find or a bookmark.
    bool SetFieldValueString(const std::string& field, const std::string& value);
    bool SetFieldValueInt(const std::string& field, int value);
    bool SetFieldValueLong(const std::string& field, long value);
    bool SetFieldValueDouble(const std::string& field, double value);
    bool SetFieldValueDateTime(const std::string& field, const std::tm& value);
    bool SetFieldValueString(int index, const std::string& value);
    bool SetFieldValueInt(int index, int value);
    bool SetFieldValueLong(int index, long value);
    bool SetFieldValueDouble(int index, double value);
    bool SetFieldValueDateTime(int index, const std::tm& value);

    // Rows are written back only for a plain selection from one table that
    // includes its id column; other results are read-only.
    bool AddNew();
    bool Update();
    bool Delete();  // deletes the current row in the database at once

    // Criteria are "field op value" with op one of = <> < > <= >= LIKE; text
    // values in single quotes, '*' or '%' as wildcards of LIKE. The search
    // starts at the current row; when nothing matches the position is past
    // the end (forward) or before the start (backward).
    bool Find(const std::string& criteria, int direction = searchForward);
    bool FindNext();  // the kept criteria and direction, from the next row on

    bool GetBookmark();  // keeps the current row
    bool SetBookmark();  // returns to the kept row

    std::string GetQuery() const { return query_; }
    std::string GetLastError() const { return lastError_; }

private:
    const DbValue* Cell(int index, const std::string& what);
    int FieldIndex(const std::string& field);
    void Fail(long code, const std::string& meaning, const std::string& source,
              const std::string& description);
    bool SetCell(int index, const std::string& what, DbValue value);
    bool LeaveRow();
    void DropEdit();
    bool WriteTarget(std::string& table, int& idColumn);
    bool Literal(const DbValue& v, std::string& out);
    std::string QuoteName(const std::string& name) const;
    bool Search(long from);

    enum EditMode { editNone, editInProgress, editAdd };

    CADODataBase* db_;
    std::string lastError_;
    std::string query_;
    bool open_ = false;
    DbResult result_;
    long pos_ = 0;
    int option_ = openQuery;
    std::string statement_;  // as run: a table's name becomes a selection
    std::vector<std::string> lookupNames_;  // lower-cased names fields are found by

    int searchDirection_ = searchForward;
    std::string criteria_;
    long bookmark_ = 0;  // key of the kept row, 0 for none
    // Every row has a key that stays with it while rows are added and
    // deleted, so a bookmark never lands on another row.
    std::vector<long> rowKeys_;
    long nextKey_ = 1;
    // After a delete, pos_ already names the row that followed the deleted
    // one; the next MoveNext only clears this.
    bool deletedCurrent_ = false;
    EditMode editMode_ = editNone;
    std::vector<DbValue> original_;  // the row before its edit began
    std::vector<bool> dirty_;
    long addedFrom_ = 0;  // position before AddNew
};
