#include "core/ADODataBase.h"

#include <mariadb/errmsg.h>
#include <mariadb/mysql.h>
#include <poll.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/Log.h"

namespace {

// The codes ADO itself raises for these conditions, so that diagnostics read
// the same whichever backend is behind the connection.
constexpr long kErrObjectClosed = 0x800A0E78L;
constexpr long kErrItemNotFound = 0x800A0CC1L;
constexpr long kErrNoCurrentRecord = 0x800A0BCDL;
constexpr long kErrInvalidArgument = 0x800A0BB9L;

constexpr int kMariaConnectTimeoutSec = 5;
// A server that stops answering (not merely one that goes away) must not hang
// the calling thread for ever.
constexpr int kMariaIoTimeoutSec = 30;
constexpr int kSqliteBusyTimeoutMs = 5000;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string FormatError(const char* title, const CADODataBase::ErrorInfo& e) {
    char head[64];
    std::snprintf(head, sizeof(head), "%s Error\n\tCode = %08lx\n\tCode meaning = ", title,
                  static_cast<unsigned long>(e.code) & 0xffffffffUL);
    return std::string(head) + e.meaning + "\n\tSource = " + e.source + "\n\tDescription = " +
           e.description + "\n";
}

CADODataBase::ErrorInfo MakeError(long code, const char* meaning, const char* source,
                                  const std::string& description) {
    CADODataBase::ErrorInfo e;
    e.code = code;
    e.meaning = meaning;
    e.source = source;
    e.description = description;
    return e;
}

bool OnlySeparators(const char* p) {
    for (; p && *p; ++p) {
        if (!std::isspace(static_cast<unsigned char>(*p)) && *p != ';') return false;
    }
    return true;
}

void SplitServer(const std::string& server, std::string& host, unsigned int& port,
                 std::string& socket) {
    host.clear();
    socket.clear();
    port = 0;
    if (!server.empty() && server[0] == '/') {
        socket = server;
        host = "localhost";
        return;
    }
    size_t colon = server.rfind(':');
    if (colon != std::string::npos && server.find(':') == colon && colon + 1 < server.size()) {
        char* end = nullptr;
        unsigned long p = std::strtoul(server.c_str() + colon + 1, &end, 10);
        if (end && *end == '\0' && p > 0 && p < 65536) {
            host = server.substr(0, colon);
            port = static_cast<unsigned int>(p);
            return;
        }
    }
    host = server;
}

bool MariaNoBackslashEscapes(MYSQL* m) {
    unsigned int status = 0;
    if (mariadb_get_infov(m, MARIADB_CONNECTION_SERVER_STATUS, &status) != 0) return false;
    return (status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) != 0;
}

// A date-time reads as "%Y-%m-%d %H:%M:%S" whatever its column type: a date
// at midnight, a time of day on the zero date 1899-12-30, no fractions.
std::string DateTimeText(enum_field_types type, std::string text) {
    size_t dot = text.find('.');
    if (dot != std::string::npos) text.erase(dot);
    if (type == MYSQL_TYPE_DATE) return text + " 00:00:00";
    if (type == MYSQL_TYPE_TIME && text.size() == 8 && text[0] != '-' && text.compare(0, 2, "24") < 0)
        return "1899-12-30 " + text;
    return text;
}

DbValue::Kind IntegerKind(int64_t v, bool small) {
    if (v < INT32_MIN || v > INT32_MAX) return DbValue::Int64;
    return small ? DbValue::Int16 : DbValue::Int32;
}

}  // namespace

// ---------------------------------------------------------------------------
// CADODataBase

CADODataBase::CADODataBase() = default;

CADODataBase::~CADODataBase() {
    std::lock_guard<std::mutex> g(lock_);
    CloseLocked();
}

void CADODataBase::CloseLocked() {
    if (sqlite_) {
        sqlite3_close_v2(sqlite_);
        sqlite_ = nullptr;
    }
    if (mysql_) {
        mysql_close(mysql_);
        mysql_ = nullptr;
    }
    backend_ = NONE;
}

void CADODataBase::Close() {
    std::lock_guard<std::mutex> g(lock_);
    CloseLocked();
}

bool CADODataBase::IsOpen() {
    std::lock_guard<std::mutex> g(lock_);
    return (backend_ == SQLITE && sqlite_) || (backend_ == MARIADB && mysql_);
}

std::string CADODataBase::GetLastError() {
    std::lock_guard<std::mutex> g(lock_);
    return lastError_;
}

std::string CADODataBase::GetConnectionString() {
    std::lock_guard<std::mutex> g(lock_);
    return connectionString_;
}

void CADODataBase::StoreError(const ErrorInfo& error) {
    lastError_ = "Connection String = " + connectionString_ + "\n" + FormatError("CADODataBase", error);
}

bool CADODataBase::OpenSqliteLocked(const std::string& path) {
    CloseLocked();
    sqlite3* db = nullptr;
    // No SQLITE_OPEN_CREATE: a missing file is an error, never a new empty database.
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, kSqliteBusyTimeoutMs);
        // Opening is lazy; reading the catalogue proves the file is a database.
        rc = sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        LogError("cannot open database file %s: %s", path.c_str(),
                 db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        if (db) sqlite3_close_v2(db);
        return false;
    }
    sqlite_ = db;
    backend_ = SQLITE;
    return true;
}

bool CADODataBase::OpenAccess(const std::string& path) {
    std::lock_guard<std::mutex> g(lock_);
    return OpenSqliteLocked(path);
}

bool CADODataBase::OpenMariaLocked() {
    if (mysql_) {
        mysql_close(mysql_);
        mysql_ = nullptr;
    }
    MYSQL* m = mysql_init(nullptr);
    if (!m) return false;
    unsigned int connectTimeout = kMariaConnectTimeoutSec, ioTimeout = kMariaIoTimeoutSec;
    mysql_options(m, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_options(m, MYSQL_OPT_READ_TIMEOUT, &ioTimeout);
    mysql_options(m, MYSQL_OPT_WRITE_TIMEOUT, &ioTimeout);
    mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    // Reconnecting is ours to do: the client's own would resend statements.
    my_bool off = 0;
    mysql_options(m, MYSQL_OPT_RECONNECT, &off);
    if (!mysql_real_connect(m, host_.empty() ? nullptr : host_.c_str(), user_.c_str(), password_.c_str(),
                            database_.c_str(), port_, socket_.empty() ? nullptr : socket_.c_str(), 0)) {
        if (!outage_)
            LogError("cannot connect to database %s on %s: %s", database_.c_str(),
                     socket_.empty() ? host_.c_str() : socket_.c_str(), mysql_error(m));
        mysql_close(m);
        return false;
    }
    mysql_ = m;
    noBackslashEscapes_ = MariaNoBackslashEscapes(m);
    return true;
}

bool CADODataBase::OpenMySql(const std::string& server, const std::string& database,
                             const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> g(lock_);
    CloseLocked();
    outage_ = false;
    SplitServer(server, host_, port_, socket_);
    database_ = database;
    user_ = user;
    password_ = password;
    if (!OpenMariaLocked()) return false;
    backend_ = MARIADB;
    return true;
}

bool CADODataBase::Open(const std::string& connectionString) {
    std::lock_guard<std::mutex> g(lock_);
    CloseLocked();
    outage_ = false;
    if (!connectionString.empty()) connectionString_ = connectionString;
    std::string dataSource, server, db, user, password;
    size_t start = 0;
    while (start <= connectionString_.size()) {
        size_t end = connectionString_.find(';', start);
        if (end == std::string::npos) end = connectionString_.size();
        std::string item = connectionString_.substr(start, end - start);
        size_t eq = item.find('=');
        if (eq != std::string::npos) {
            auto trim = [](std::string s) {
                size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
                return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
            };
            std::string key = Lower(trim(item.substr(0, eq)));
            std::string val = trim(item.substr(eq + 1));
            if (key == "data source") dataSource = val;
            else if (key == "server") server = val;
            else if (key == "db" || key == "database") db = val;
            else if (key == "user id" || key == "uid" || key == "user") user = val;
            else if (key == "password" || key == "pwd") password = val;
        }
        start = end + 1;
    }
    bool ok = false;
    if (!server.empty()) {
        SplitServer(server, host_, port_, socket_);
        database_ = db;
        user_ = user;
        password_ = password;
        ok = OpenMariaLocked();
        if (ok) backend_ = MARIADB;
    } else if (!dataSource.empty()) {
        ok = OpenSqliteLocked(dataSource);
    }
    if (!ok) {
        StoreError(MakeError(kErrInvalidArgument, "The connection cannot be opened.", "CADODataBase",
                             "cannot open the database named by the connection string"));
    }
    return ok;
}

std::string CADODataBase::EscapeText(const std::string& text) {
    std::lock_guard<std::mutex> g(lock_);
    if (backend_ == MARIADB) {
        if (text.find_first_of(std::string("'\"\\\n\r\x1a\0", 8)) == std::string::npos) return text;
        std::string out(text.size() * 2 + 1, '\0');
        unsigned long n;
        if (mysql_) {
            noBackslashEscapes_ = MariaNoBackslashEscapes(mysql_);
            n = mysql_real_escape_string(mysql_, &out[0], text.data(), text.size());
        } else if (noBackslashEscapes_) {
            // Without a live handle, escape as the server last read texts: a
            // backslash is an ordinary character there, only a quote is special.
            n = 0;
            for (char c : text) {
                out[n++] = c;
                if (c == '\'') out[n++] = '\'';
            }
        } else {
            n = 0;
            for (char c : text) {
                switch (c) {
                    case '\0': out[n++] = '\\'; out[n++] = '0'; break;
                    case '\n': out[n++] = '\\'; out[n++] = 'n'; break;
                    case '\r': out[n++] = '\\'; out[n++] = 'r'; break;
                    case '\x1a': out[n++] = '\\'; out[n++] = 'Z'; break;
                    case '\'': case '"': case '\\': out[n++] = '\\'; out[n++] = c; break;
                    default: out[n++] = c;
                }
            }
        }
        out.resize(n);
        return out;
    }
    // SQLite (and a closed connection): a quote is doubled, nothing else is special.
    if (text.find('\'') == std::string::npos) return text;
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

bool CADODataBase::RunSqlite(const std::string& statement, DbResult* result, int* newId,
                             ErrorInfo& error) {
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(sqlite_, statement.c_str(), static_cast<int>(statement.size()), &st, &tail);
    auto fail = [&](int code, const std::string& description) {
        error = MakeError(code, sqlite3_errstr(code), "SQLite", description);
        if (st) sqlite3_finalize(st);
        return false;
    };
    if (rc != SQLITE_OK) return fail(sqlite3_extended_errcode(sqlite_), sqlite3_errmsg(sqlite_));
    if (!st) return fail(SQLITE_MISUSE, "empty statement");
    // One statement per call: a second one after a ';' is refused, not run.
    if (!OnlySeparators(tail)) return fail(SQLITE_MISUSE, "more than one statement");
    if (result) {
        int n = sqlite3_column_count(st);
        for (int i = 0; i < n; ++i) {
            const char* name = sqlite3_column_name(st, i);
            const char* table = sqlite3_column_table_name(st, i);
            result->names.push_back(name ? name : "");
            result->tables.push_back(table ? table : "");
        }
    }
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (!result) continue;
        int n = sqlite3_column_count(st);
        std::vector<DbValue> row(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            DbValue& v = row[static_cast<size_t>(i)];
            switch (sqlite3_column_type(st, i)) {
                case SQLITE_INTEGER:
                    v.i = sqlite3_column_int64(st, i);
                    v.kind = IntegerKind(v.i, false);
                    break;
                case SQLITE_FLOAT:
                    v.kind = DbValue::Double;
                    v.d = sqlite3_column_double(st, i);
                    break;
                case SQLITE_TEXT: {
                    v.kind = DbValue::Text;
                    const unsigned char* t = sqlite3_column_text(st, i);
                    v.s.assign(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(st, i)));
                    break;
                }
                case SQLITE_BLOB: {
                    v.kind = DbValue::Blob;
                    const void* b = sqlite3_column_blob(st, i);
                    if (b) v.s.assign(static_cast<const char*>(b), static_cast<size_t>(sqlite3_column_bytes(st, i)));
                    break;
                }
                default:
                    v.kind = DbValue::Null;
            }
        }
        result->rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) return fail(sqlite3_extended_errcode(sqlite_), sqlite3_errmsg(sqlite_));
    sqlite3_finalize(st);
    if (newId) {
        sqlite3_int64 id = sqlite3_last_insert_rowid(sqlite_);
        if (sqlite3_changes(sqlite_) < 1 || id <= 0 || id > INT_MAX) {
            error = MakeError(SQLITE_MISMATCH, sqlite3_errstr(SQLITE_MISMATCH), "SQLite",
                              "the insert stored no row with a 32-bit id");
            return false;
        }
        *newId = static_cast<int>(id);
    }
    return true;
}

void CADODataBase::MariaError(ErrorInfo& error) {
    error.code = static_cast<long>(mysql_errno(mysql_));
    error.meaning = std::string("SQLSTATE ") + mysql_sqlstate(mysql_);
    error.source = "MariaDB";
    error.description = mysql_error(mysql_);
}

bool CADODataBase::MariaLooksDead() {
    // Between statements the server sends nothing unless it is closing the
    // connection (shut down, killed, timed out), so anything to read, or a
    // hang-up, means the next statement would be lost.
    pollfd p{};
    p.fd = static_cast<int>(mysql_get_socket(mysql_));
    if (p.fd < 0) return true;
    p.events = POLLIN | POLLRDHUP;
    int n = poll(&p, 1, 0);
    return n != 0 && (n < 0 || (p.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)));
}

bool CADODataBase::RunMariaOnce(const std::string& statement, DbResult* result, int* newId,
                                ErrorInfo& error) {
    if (mysql_real_query(mysql_, statement.data(), statement.size()) != 0) {
        MariaError(error);
        return false;
    }
    if (mysql_field_count(mysql_) > 0) {
        MYSQL_RES* res = mysql_store_result(mysql_);
        if (!res) {
            MariaError(error);
            return false;
        }
        if (result) {
            unsigned int n = mysql_num_fields(res);
            MYSQL_FIELD* fields = mysql_fetch_fields(res);
            for (unsigned int i = 0; i < n; ++i) {
                result->names.push_back(fields[i].name ? fields[i].name : "");
                result->tables.push_back(fields[i].table ? fields[i].table : "");
            }
            while (MYSQL_ROW r = mysql_fetch_row(res)) {
                unsigned long* len = mysql_fetch_lengths(res);
                std::vector<DbValue> row(n);
                for (unsigned int i = 0; i < n; ++i) {
                    DbValue& v = row[i];
                    if (!r[i]) continue;  // NULL
                    std::string text(r[i], len[i]);
                    switch (fields[i].type) {
                        case MYSQL_TYPE_TINY: case MYSQL_TYPE_SHORT: case MYSQL_TYPE_YEAR:
                            v.i = std::strtoll(text.c_str(), nullptr, 10);
                            v.kind = IntegerKind(v.i, true);
                            break;
                        case MYSQL_TYPE_LONG: case MYSQL_TYPE_INT24: case MYSQL_TYPE_LONGLONG: {
                            if (fields[i].flags & UNSIGNED_FLAG) {
                                unsigned long long u = std::strtoull(text.c_str(), nullptr, 10);
                                v.i = u > static_cast<unsigned long long>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(u);
                            } else {
                                v.i = std::strtoll(text.c_str(), nullptr, 10);
                            }
                            v.kind = IntegerKind(v.i, false);
                            break;
                        }
                        case MYSQL_TYPE_FLOAT: case MYSQL_TYPE_DOUBLE: case MYSQL_TYPE_DECIMAL:
                        case MYSQL_TYPE_NEWDECIMAL:
                            v.kind = DbValue::Double;
                            v.d = std::strtod(text.c_str(), nullptr);
                            break;
                        case MYSQL_TYPE_DATE: case MYSQL_TYPE_DATETIME: case MYSQL_TYPE_TIMESTAMP:
                        case MYSQL_TYPE_TIME:
                            v.kind = DbValue::DateTime;
                            v.s = DateTimeText(fields[i].type, std::move(text));
                            break;
                        case MYSQL_TYPE_BIT:
                            if (fields[i].length == 1) {  // BIT(1), the server's boolean
                                v.kind = DbValue::Bool;
                                v.i = text.find_first_not_of('\0') != std::string::npos ? -1 : 0;
                                break;
                            }
                            v.kind = DbValue::Blob;
                            v.s = std::move(text);
                            break;
                        case MYSQL_TYPE_GEOMETRY:
                            v.kind = DbValue::Blob;
                            v.s = std::move(text);
                            break;
                        default:
                            v.kind = fields[i].charsetnr == 63 ? DbValue::Blob : DbValue::Text;
                            v.s = std::move(text);
                    }
                }
                result->rows.push_back(std::move(row));
            }
        }
        mysql_free_result(res);
    }
    if (newId) {
        my_ulonglong id = mysql_insert_id(mysql_);
        my_ulonglong changed = mysql_affected_rows(mysql_);
        if (changed == 0 || changed == static_cast<my_ulonglong>(-1) || id == 0 || id > INT_MAX) {
            error = MakeError(0, "SQLSTATE HY000", "MariaDB", "the insert stored no row with a 32-bit id");
            return false;
        }
        *newId = static_cast<int>(id);
    }
    return true;
}

bool CADODataBase::RunMaria(const std::string& statement, DbResult* result, int* newId,
                            ErrorInfo& error) {
    if (!mysql_ || MariaLooksDead()) {
        // Nothing of this statement has reached the server yet, so it is safe
        // to run it on a fresh connection.
        // One WARN per outage, not one per statement while the server is away.
        if (!outage_)
            LogWarn("database connection to %s was dropped; reopening it",
                    socket_.empty() ? host_.c_str() : socket_.c_str());
        outage_ = true;
        if (!OpenMariaLocked()) {
            error = MakeError(CR_SERVER_GONE_ERROR, "SQLSTATE HY000", "MariaDB",
                              "the connection was dropped and could not be reopened");
            return false;
        }
    }
    if (RunMariaOnce(statement, result, newId, error)) {
        if (outage_) LogInfo("database connection reopened");
        outage_ = false;
        return true;
    }
    unsigned int code = mysql_errno(mysql_);
    if (code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST) {
        // The statement may have run before the connection broke: never
        // resend it (an insert would be stored twice). Reopen for the next one.
        if (!outage_)
            LogWarn("database connection to %s was lost during a statement; reopening it",
                    socket_.empty() ? host_.c_str() : socket_.c_str());
        outage_ = true;
        OpenMariaLocked();
    }
    if (result) *result = DbResult();
    return false;
}

bool CADODataBase::ExecuteLocked(const std::string& statement, int* newId, ErrorInfo& error) {
    if (backend_ == SQLITE && sqlite_) return RunSqlite(statement, nullptr, newId, error);
    if (backend_ == MARIADB) {
        if (statement.find_first_not_of(" \t\r\n") == std::string::npos) {
            error = MakeError(1065, "SQLSTATE 42000", "MariaDB", "Query was empty");
            return false;
        }
        return RunMaria(statement, nullptr, newId, error);
    }
    error = MakeError(kErrObjectClosed, "Operation is not allowed when the object is closed.",
                      "CADODataBase", "the connection is not open");
    return false;
}

bool CADODataBase::Execute(const std::string& statement) {
    std::lock_guard<std::mutex> g(lock_);
    ErrorInfo e;
    if (ExecuteLocked(statement, nullptr, e)) return true;
    StoreError(e);
    return false;
}

bool CADODataBase::ExecuteInsert(const std::string& statement, int& newId) {
    std::lock_guard<std::mutex> g(lock_);
    ErrorInfo e;
    int id = 0;
    if (ExecuteLocked(statement, &id, e)) {
        newId = id;
        return true;
    }
    StoreError(e);
    return false;
}

bool CADODataBase::Query(const std::string& statement, DbResult& result, ErrorInfo& error) {
    std::lock_guard<std::mutex> g(lock_);
    result = DbResult();
    if (backend_ == SQLITE && sqlite_) {
        if (RunSqlite(statement, &result, nullptr, error)) return true;
        result = DbResult();
        return false;
    }
    if (backend_ == MARIADB) return RunMaria(statement, &result, nullptr, error);
    error = MakeError(kErrObjectClosed, "Operation is not allowed when the object is closed.",
                      "CADORecordset", "the connection is not open");
    return false;
}

bool CADODataBase::BeginTrans() { return Execute("BEGIN"); }
bool CADODataBase::CommitTrans() { return Execute("COMMIT"); }
bool CADODataBase::RollbackTrans() { return Execute("ROLLBACK"); }

// ---------------------------------------------------------------------------
// CADORecordset

CADORecordset::CADORecordset(CADODataBase* db) : db_(db) {}

CADORecordset::~CADORecordset() {
    Close();
    query_.clear();
}

void CADORecordset::Close() {
    open_ = false;
    result_ = DbResult();
    lookupNames_.clear();
    pos_ = 0;
}

void CADORecordset::Fail(long code, const std::string& meaning, const std::string& source,
                         const std::string& description) {
    lastError_ = "Query = " + query_ + "\n" +
                 FormatError("CADORecordset", MakeError(code, meaning.c_str(), source.c_str(), description));
}

bool CADORecordset::Open(const std::string& statement, int option) {
    if (open_) Close();
    if (!statement.empty()) query_ = statement;
    size_t first = 0;
    while (first < query_.size() && std::isspace(static_cast<unsigned char>(query_[first]))) ++first;
    query_.erase(0, first);
    bool selection = query_.size() >= 7 && Lower(query_.substr(0, 7)) == "select ";
    std::string sql;
    if (selection || option == openQuery) {
        sql = query_;
    } else if (option == openTable) {
        sql = "select * from " + query_;
    } else if (option == openStoredProc) {
        if (!db_ || db_->GetBackend() != CADODataBase::MARIADB) {
            Fail(kErrInvalidArgument, "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.",
                 "CADORecordset", "stored procedures need a database server");
            return false;
        }
        sql = "call " + query_;
    } else {
        return false;
    }
    if (!db_) {
        Fail(kErrObjectClosed, "Operation is not allowed when the object is closed.", "CADORecordset",
             "no connection");
        return false;
    }
    CADODataBase::ErrorInfo e;
    if (!db_->Query(sql, result_, e)) {
        result_ = DbResult();
        Fail(e.code, e.meaning, e.source, e.description);
        return false;
    }
    // A name shared by two columns (the id and status of a joined task and
    // source) is only found as table.column; every column answers to that form.
    lookupNames_.clear();
    for (size_t i = 0; i < result_.names.size(); ++i) lookupNames_.push_back(Lower(result_.names[i]));
    open_ = true;
    pos_ = 0;
    return true;
}

bool CADORecordset::Requery() { return Open(std::string(), openQuery); }

long CADORecordset::GetRecordCount() {
    if (!open_) {
        Fail(kErrObjectClosed, "Operation is not allowed when the object is closed.", "CADORecordset",
             "the result set is not open");
        return -1;
    }
    return static_cast<long>(result_.rows.size());
}

long CADORecordset::GetAbsolutePosition() const {
    if (!open_ || pos_ < 0 || pos_ >= static_cast<long>(result_.rows.size())) return -1;
    return pos_ + 1;
}

// A closed result set is at its end, so that no walk over it can go on for ever.
bool CADORecordset::IsEof() const { return !open_ || pos_ >= static_cast<long>(result_.rows.size()); }
bool CADORecordset::IsBof() const { return !open_ || pos_ < 0 || result_.rows.empty(); }

bool CADORecordset::MoveFirst() {
    if (!open_) return false;
    pos_ = 0;
    return true;
}

bool CADORecordset::MoveNext() {
    if (!open_) return false;
    if (pos_ >= static_cast<long>(result_.rows.size())) {
        Fail(kErrNoCurrentRecord, "Either BOF or EOF is True, or the current record has been deleted.",
             "CADORecordset", "move past the last row");
        return false;
    }
    ++pos_;
    return true;
}

bool CADORecordset::MovePrevious() {
    if (!open_) return false;
    if (pos_ < 0) {
        Fail(kErrNoCurrentRecord, "Either BOF or EOF is True, or the current record has been deleted.",
             "CADORecordset", "move before the first row");
        return false;
    }
    --pos_;
    return true;
}

bool CADORecordset::MoveLast() {
    if (!open_) return false;
    pos_ = static_cast<long>(result_.rows.size()) - 1;
    if (pos_ < 0) pos_ = 0;
    return true;
}

bool CADORecordset::Move(long rows) {
    if (!open_) return false;
    long n = static_cast<long>(result_.rows.size());
    long target = pos_ + rows;
    pos_ = std::max(-1L, std::min(n, target));
    return true;
}

int CADORecordset::FieldIndex(const std::string& field) {
    std::string want = Lower(field);
    int plain = -1, plainCount = 0;
    for (size_t i = 0; i < lookupNames_.size(); ++i) {
        if (!result_.tables[i].empty() && Lower(result_.tables[i]) + "." + lookupNames_[i] == want)
            return static_cast<int>(i);
        if (lookupNames_[i] == want) {
            if (plain < 0) plain = static_cast<int>(i);
            ++plainCount;
        }
    }
    return plainCount == 1 ? plain : -1;
}

const DbValue* CADORecordset::Cell(int index, const std::string& what) {
    if (!open_) {
        Fail(kErrObjectClosed, "Operation is not allowed when the object is closed.", "CADORecordset",
             "the result set is not open");
        return nullptr;
    }
    if (index < 0 || index >= static_cast<int>(result_.names.size())) {
        Fail(kErrItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal.",
             "CADORecordset", "no field " + what);
        return nullptr;
    }
    if (pos_ < 0 || pos_ >= static_cast<long>(result_.rows.size())) {
        Fail(kErrNoCurrentRecord, "Either BOF or EOF is True, or the current record has been deleted.",
             "CADORecordset", "no current row to read " + what + " from");
        return nullptr;
    }
    return &result_.rows[static_cast<size_t>(pos_)][static_cast<size_t>(index)];
}

namespace {

bool ToInt(const DbValue& v, int& value) {
    switch (v.kind) {
        case DbValue::Null: return true;
        case DbValue::Int16: case DbValue::Int32: case DbValue::Bool: value = static_cast<int>(v.i); return true;
        default: return false;
    }
}

bool ToString(const DbValue& v, std::string& value) {
    switch (v.kind) {
        case DbValue::Null: return true;
        case DbValue::Int32: value = std::to_string(v.i); return true;
        case DbValue::Text: case DbValue::DateTime: value = v.s; return true;
        default: return false;  // a 16-bit integer included, as the reads always did
    }
}

bool ToLong(const DbValue& v, long& value) {
    switch (v.kind) {
        case DbValue::Null: return true;
        case DbValue::Int16: case DbValue::Int32: case DbValue::Int64: case DbValue::Bool:
            value = static_cast<long>(v.i);
            return true;
        default: return false;
    }
}

bool ToDouble(const DbValue& v, double& value) {
    switch (v.kind) {
        case DbValue::Null: return true;
        case DbValue::Int16: case DbValue::Int32: case DbValue::Int64: value = static_cast<double>(v.i); return true;
        case DbValue::Double: value = v.d; return true;
        default: return false;
    }
}

}  // namespace

#define VV_GETTERS(Getter, Type, Convert)                                        \
    bool CADORecordset::Getter(int index, Type& value) {                         \
        value = Type();                                                          \
        const DbValue* v = Cell(index, "#" + std::to_string(index));             \
        if (!v || Convert(*v, value)) return v != nullptr;                       \
        value = Type();                                                          \
        return false;                                                            \
    }                                                                            \
    bool CADORecordset::Getter(const std::string& field, Type& value) {          \
        value = Type();                                                          \
        const DbValue* v = Cell(open_ ? FieldIndex(field) : 0, field);           \
        if (!v || Convert(*v, value)) return v != nullptr;                       \
        value = Type();                                                          \
        return false;                                                            \
    }

VV_GETTERS(GetFieldValueInt, int, ToInt)
VV_GETTERS(GetFieldValueString, std::string, ToString)
VV_GETTERS(GetFieldValueLong, long, ToLong)
VV_GETTERS(GetFieldValueDouble, double, ToDouble)
#undef VV_GETTERS
