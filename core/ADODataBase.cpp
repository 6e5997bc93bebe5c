#include "core/ADODataBase.h"

#include <mariadb/errmsg.h>
#include <mariadb/mysql.h>
#include <poll.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
                            database_.c_str(), port_, socket_.empty() ? nullptr : socket_.c_str(),
                            // An update counts the rows it matched, not only
                            // those it changed, as a row written back expects.
                            CLIENT_FOUND_ROWS)) {
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
            const char* origin = sqlite3_column_origin_name(st, i);
            const char* schema = sqlite3_column_database_name(st, i);
            result->names.push_back(name ? name : "");
            result->tables.push_back(table ? table : "");
            result->origins.push_back(origin ? origin : "");
            result->originTables.push_back(origin && table ? table : "");
            result->originDbs.push_back(origin && schema ? schema : "");
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
                bool stored = fields[i].org_name && *fields[i].org_name && fields[i].org_table &&
                              *fields[i].org_table;
                result->origins.push_back(stored ? fields[i].org_name : "");
                result->originTables.push_back(stored ? fields[i].org_table : "");
                result->originDbs.push_back(stored && fields[i].db ? fields[i].db : "");
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

bool CADODataBase::Write(const std::string& statement, int* newId, long& changed, ErrorInfo& error) {
    std::lock_guard<std::mutex> g(lock_);
    changed = 0;
    if (!ExecuteLocked(statement, newId, error)) return false;
    // A statement that succeeded left its connection in place, so the count
    // read here is this statement's.
    if (backend_ == SQLITE && sqlite_) {
        changed = sqlite3_changes(sqlite_);
    } else if (mysql_) {
        my_ulonglong n = mysql_affected_rows(mysql_);
        changed = n == static_cast<my_ulonglong>(-1) ? 0 : static_cast<long>(n);
    }
    return true;
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
    rowKeys_.clear();
    bookmark_ = 0;
    deletedCurrent_ = false;
    editMode_ = editNone;
    original_.clear();
    dirty_.clear();
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
    rowKeys_.clear();
    for (size_t i = 0; i < result_.rows.size(); ++i) rowKeys_.push_back(nextKey_++);
    option_ = option;
    statement_ = sql;
    open_ = true;
    pos_ = 0;
    return true;
}

// The same command again: a table opened by its name is still a table.
bool CADORecordset::Requery() { return Open(std::string(), option_); }

long CADORecordset::GetRecordCount() {
    if (!open_) {
        Fail(kErrObjectClosed, "Operation is not allowed when the object is closed.", "CADORecordset",
             "the result set is not open");
        return -1;
    }
    return static_cast<long>(result_.rows.size());
}

long CADORecordset::GetAbsolutePosition() const {
    if (!open_ || deletedCurrent_ || pos_ < 0 || pos_ >= static_cast<long>(result_.rows.size())) return -1;
    return pos_ + 1;
}

// A closed result set is at its end, so that no walk over it can go on for ever.
bool CADORecordset::IsEof() const { return !open_ || pos_ >= static_cast<long>(result_.rows.size()); }
bool CADORecordset::IsBof() const { return !open_ || pos_ < 0 || result_.rows.empty(); }

namespace {
const char kNoCurrentMeaning[] = "Either BOF or EOF is True, or the current record has been deleted.";
const char kClosedMeaning[] = "Operation is not allowed when the object is closed.";
const char kArgumentMeaning[] =
    "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
// The codes ADO raises when a row cannot be written back.
constexpr long kErrRowNotFound = 0x80040E38L;
constexpr long kErrNotUpdatable = 0x800A0CB3L;
}  // namespace

// Leaving a row that is being edited or added writes it first, as a client
// cursor does; a write that fails leaves the move undone.
bool CADORecordset::LeaveRow() {
    if (editMode_ == editNone) return true;
    return Update();
}

bool CADORecordset::MoveFirst() {
    if (!open_ || !LeaveRow()) return false;
    deletedCurrent_ = false;
    pos_ = 0;
    return true;
}

bool CADORecordset::MoveNext() {
    if (!open_ || !LeaveRow()) return false;
    if (deletedCurrent_) {
        deletedCurrent_ = false;
        return true;
    }
    if (pos_ >= static_cast<long>(result_.rows.size())) {
        Fail(kErrNoCurrentRecord, kNoCurrentMeaning, "CADORecordset", "move past the last row");
        return false;
    }
    ++pos_;
    return true;
}

bool CADORecordset::MovePrevious() {
    if (!open_ || !LeaveRow()) return false;
    deletedCurrent_ = false;
    if (pos_ < 0) {
        Fail(kErrNoCurrentRecord, kNoCurrentMeaning, "CADORecordset", "move before the first row");
        return false;
    }
    --pos_;
    return true;
}

bool CADORecordset::MoveLast() {
    if (!open_ || !LeaveRow()) return false;
    deletedCurrent_ = false;
    pos_ = static_cast<long>(result_.rows.size()) - 1;
    if (pos_ < 0) pos_ = 0;
    return true;
}

bool CADORecordset::Move(long rows) {
    if (!open_ || !LeaveRow()) return false;
    long n = static_cast<long>(result_.rows.size());
    // After a delete the position already stands one row further on.
    if (deletedCurrent_ && rows > 0) --rows;
    deletedCurrent_ = false;
    long target = pos_ + std::max(-n - 1, std::min(n + 1, rows));
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
    if (deletedCurrent_ || pos_ < 0 || pos_ >= static_cast<long>(result_.rows.size())) {
        Fail(kErrNoCurrentRecord, kNoCurrentMeaning, "CADORecordset",
             deletedCurrent_ ? "the current row was deleted" : "no current row to read " + what + " from");
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

// The one date-time form of this wrapper, "%Y-%m-%d %H:%M:%S", and nothing else.
bool ValidCalendar(const std::tm& t) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = t.tm_year + 1900;
    if (year < 1 || year > 9999 || t.tm_mon < 0 || t.tm_mon > 11) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int inMonth = days[t.tm_mon] + (t.tm_mon == 1 && leap ? 1 : 0);
    return t.tm_mday >= 1 && t.tm_mday <= inMonth && t.tm_hour >= 0 && t.tm_hour <= 23 && t.tm_min >= 0 &&
           t.tm_min <= 59 && t.tm_sec >= 0 && t.tm_sec <= 59;
}

bool ParseDateTime(const std::string& text, std::tm& value) {
    static const char shape[] = "dddd-dd-dd dd:dd:dd";
    if (text.size() != sizeof(shape) - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
    }
    auto num = [&](size_t at, size_t len) { return std::atoi(text.substr(at, len).c_str()); };
    std::tm t{};
    t.tm_year = num(0, 4) - 1900;
    t.tm_mon = num(5, 2) - 1;
    t.tm_mday = num(8, 2);
    t.tm_hour = num(11, 2);
    t.tm_min = num(14, 2);
    t.tm_sec = num(17, 2);
    if (!ValidCalendar(t)) return false;
    std::tm full = t;
    timegm(&full);  // fills the week and year days; UTC, so no zone moves the fields
    value = t;
    value.tm_wday = full.tm_wday;
    value.tm_yday = full.tm_yday;
    return true;
}

bool ToDateTime(const DbValue& v, std::tm& value) {
    switch (v.kind) {
        case DbValue::Null: return true;
        // The embedded file keeps date-times as text in the same form.
        case DbValue::DateTime: case DbValue::Text: return ParseDateTime(v.s, value);
        default: return false;
    }
}

bool MakeText(const std::string& value, DbValue& v) {
    v.kind = DbValue::Text;
    v.s = value;
    return true;
}

bool MakeInt(int value, DbValue& v) {
    v.kind = DbValue::Int32;
    v.i = value;
    return true;
}

bool MakeLong(long value, DbValue& v) {
    v.i = value;
    v.kind = IntegerKind(v.i, false);
    return true;
}

bool MakeDouble(double value, DbValue& v) {
    if (!std::isfinite(value)) return false;  // no database stores these as numbers
    v.kind = DbValue::Double;
    v.d = value;
    return true;
}

bool MakeDateTime(const std::tm& value, DbValue& v) {
    if (!ValidCalendar(value)) return false;
    char text[96];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", value.tm_year + 1900, value.tm_mon + 1,
                  value.tm_mday, value.tm_hour, value.tm_min, value.tm_sec);
    v.kind = DbValue::DateTime;
    v.s = text;
    return true;
}

std::string DoubleText(double d) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof(buf), d);  // shortest exact form, whatever the locale
    return std::string(buf, r.ptr);
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
VV_GETTERS(GetFieldValueDateTime, std::tm, ToDateTime)
#undef VV_GETTERS

#define VV_SETTERS(Setter, Type, Make)                                                  \
    bool CADORecordset::Setter(int index, Type value) {                                 \
        DbValue v;                                                                      \
        if (!Make(value, v)) {                                                          \
            Fail(kErrInvalidArgument, kArgumentMeaning, "CADORecordset",                \
                 "not a value field #" + std::to_string(index) + " can hold");          \
            return false;                                                               \
        }                                                                               \
        return SetCell(index, "#" + std::to_string(index), std::move(v));               \
    }                                                                                   \
    bool CADORecordset::Setter(const std::string& field, Type value) {                  \
        DbValue v;                                                                      \
        if (!Make(value, v)) {                                                          \
            Fail(kErrInvalidArgument, kArgumentMeaning, "CADORecordset",                \
                 "not a value field " + field + " can hold");                           \
            return false;                                                               \
        }                                                                               \
        return SetCell(open_ ? FieldIndex(field) : 0, field, std::move(v));             \
    }

VV_SETTERS(SetFieldValueString, const std::string&, MakeText)
VV_SETTERS(SetFieldValueInt, int, MakeInt)
VV_SETTERS(SetFieldValueLong, long, MakeLong)
VV_SETTERS(SetFieldValueDouble, double, MakeDouble)
VV_SETTERS(SetFieldValueDateTime, const std::tm&, MakeDateTime)
#undef VV_SETTERS

bool CADORecordset::SetCell(int index, const std::string& what, DbValue value) {
    if (!Cell(index, what)) return false;
    std::vector<DbValue>& row = result_.rows[static_cast<size_t>(pos_)];
    if (editMode_ == editNone) {
        original_ = row;
        dirty_.assign(row.size(), false);
        editMode_ = editInProgress;
    }
    row[static_cast<size_t>(index)] = std::move(value);
    dirty_[static_cast<size_t>(index)] = true;
    return true;
}

// A write that did not reach the database leaves the row as it was read, so
// what the result set shows is always what the database holds.
void CADORecordset::DropEdit() {
    if (editMode_ == editAdd) {
        if (pos_ >= 0 && pos_ < static_cast<long>(result_.rows.size())) {
            result_.rows.erase(result_.rows.begin() + pos_);
            rowKeys_.erase(rowKeys_.begin() + pos_);
        }
        pos_ = std::min(addedFrom_, static_cast<long>(result_.rows.size()));
    } else if (editMode_ == editInProgress && pos_ >= 0 && pos_ < static_cast<long>(result_.rows.size())) {
        result_.rows[static_cast<size_t>(pos_)] = original_;
    }
    editMode_ = editNone;
    original_.clear();
    dirty_.clear();
}

namespace {

struct Token {
    std::string text;  // lower-cased unless a quoted name
    bool quotedName;
    int depth;
};

std::vector<Token> Tokens(const std::string& q, bool backslashEscapes) {
    std::vector<Token> out;
    int depth = 0;
    auto wordChar = [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; };
    size_t i = 0;
    while (i < q.size()) {
        unsigned char c = static_cast<unsigned char>(q[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (c == '-' && i + 1 < q.size() && q[i + 1] == '-') {
            while (i < q.size() && q[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < q.size() && q[i + 1] == '*') {
            size_t e = q.find("*/", i + 2);
            i = e == std::string::npos ? q.size() : e + 2;
        } else if (c == '\'') {
            for (++i; i < q.size(); ++i) {
                if (backslashEscapes && q[i] == '\\') {
                    ++i;
                } else if (q[i] == '\'') {
                    if (i + 1 < q.size() && q[i + 1] == '\'') ++i;
                    else break;
                }
            }
            ++i;
            out.push_back({"'", false, depth});
        } else if (c == '"' || c == '`' || c == '[') {
            char close = c == '[' ? ']' : static_cast<char>(c);
            std::string name;
            for (++i; i < q.size(); ++i) {
                if (q[i] == close) {
                    if (close != ']' && i + 1 < q.size() && q[i + 1] == close) ++i;
                    else break;
                }
                name += q[i];
            }
            ++i;
            out.push_back({name, true, depth});
        } else if (wordChar(c)) {
            size_t b = i;
            while (i < q.size() && wordChar(static_cast<unsigned char>(q[i]))) ++i;
            out.push_back({Lower(q.substr(b, i - b)), false, depth});
        } else if (c == '(') {
            out.push_back({"(", false, depth++});
            ++i;
        } else if (c == ')') {
            out.push_back({")", false, --depth});
            ++i;
        } else {
            out.push_back({std::string(1, static_cast<char>(c)), false, depth});
            ++i;
        }
    }
    return out;
}

// True for "select ... from <table> [[as] alias] [where ...] [order by ...]
// [limit ...]": the rows are rows of that one table and can be written back.
bool SingleTableSelection(const std::string& query, bool backslashEscapes) {
    std::vector<Token> top;
    for (Token& t : Tokens(query, backslashEscapes))
        if (t.depth == 0) top.push_back(std::move(t));
    static const char* const refused[] = {"join", "union", "intersect", "except", "group", "having", "distinct"};
    size_t from = 0;
    int froms = 0;
    for (size_t k = 0; k < top.size(); ++k) {
        if (top[k].quotedName) continue;
        for (const char* r : refused)
            if (top[k].text == r) return false;
        if (top[k].text == "from") {
            ++froms;
            from = k;
        }
    }
    if (froms != 1 || top.empty() || top[0].quotedName || top[0].text != "select") return false;
    auto keyword = [&](size_t k, const char* w) { return k < top.size() && !top[k].quotedName && top[k].text == w; };
    auto name = [&](size_t k) {
        if (k >= top.size()) return false;
        if (top[k].quotedName) return true;
        unsigned char c = static_cast<unsigned char>(top[k].text[0]);
        return (std::isalpha(c) || c == '_' || c >= 0x80) && top[k].text != "where" && top[k].text != "order" &&
               top[k].text != "limit" && top[k].text != "as";
    };
    auto end = [&](size_t k) {
        return k >= top.size() || keyword(k, ";") || keyword(k, "where") || keyword(k, "order") || keyword(k, "limit");
    };
    size_t k = from + 1;
    if (!name(k++)) return false;
    if (keyword(k, ".")) {
        if (!name(++k)) return false;
        ++k;
    }
    if (end(k)) return true;
    if (keyword(k, "as")) ++k;
    if (!name(k++)) return false;
    return end(k);
}

}  // namespace

std::string CADORecordset::QuoteName(const std::string& name) const {
    char q = db_ && db_->GetBackend() == CADODataBase::MARIADB ? '`' : '"';
    std::string out(1, q);
    for (char c : name) {
        out += c;
        if (c == q) out += q;
    }
    return out + q;
}

bool CADORecordset::WriteTarget(std::string& table, int& idColumn) {
    auto refuse = [&](const std::string& why) {
        Fail(kErrNotUpdatable,
             "Current Recordset does not support updating. This may be a limitation of the provider, or of the "
             "selected locktype.",
             "CADORecordset", why);
        return false;
    };
    bool maria = db_ && db_->GetBackend() == CADODataBase::MARIADB;
    if (!SingleTableSelection(statement_, maria))
        return refuse("rows of this query cannot be written back: it is not a plain selection from one table");
    std::string name, schema;
    idColumn = -1;
    for (size_t i = 0; i < result_.names.size(); ++i) {
        if (result_.originTables[i].empty()) continue;
        if (name.empty()) {
            name = result_.originTables[i];
            schema = result_.originDbs[i];
        } else if (result_.originTables[i] != name || result_.originDbs[i] != schema) {
            return refuse("rows of this query cannot be written back: its columns come from more than one table");
        }
        if (idColumn < 0 && Lower(result_.origins[i]) == "id") idColumn = static_cast<int>(i);
    }
    if (name.empty()) return refuse("rows of this query cannot be written back: no column is stored in a table");
    if (idColumn < 0)
        return refuse("rows of this query cannot be written back: it does not select the id column of " + name);
    table = (schema.empty() ? std::string() : QuoteName(schema) + ".") + QuoteName(name);
    return true;
}

bool CADORecordset::Literal(const DbValue& v, std::string& out) {
    switch (v.kind) {
        case DbValue::Null: out = "NULL"; return true;
        case DbValue::Bool: out = v.i ? "1" : "0"; return true;
        case DbValue::Int16: case DbValue::Int32: case DbValue::Int64: out = std::to_string(v.i); return true;
        case DbValue::Double:
            if (!std::isfinite(v.d)) return false;
            out = DoubleText(v.d);
            return true;
        case DbValue::Text: case DbValue::DateTime:
            // The embedded database would end the text at a NUL.
            if (db_->GetBackend() != CADODataBase::MARIADB && v.s.find('\0') != std::string::npos) return false;
            out = "'" + db_->EscapeText(v.s) + "'";
            return true;
        case DbValue::Blob: {
            static const char digits[] = "0123456789ABCDEF";
            out = "X'";
            for (unsigned char c : v.s) {
                out += digits[c >> 4];
                out += digits[c & 15];
            }
            out += "'";
            return true;
        }
    }
    return false;
}

bool CADORecordset::AddNew() {
    if (!open_) {
        Fail(kErrObjectClosed, kClosedMeaning, "CADORecordset", "the result set is not open");
        return false;
    }
    if (!LeaveRow()) return false;
    std::string table;
    int idColumn;
    if (!WriteTarget(table, idColumn)) return false;
    addedFrom_ = pos_;
    deletedCurrent_ = false;
    result_.rows.emplace_back(result_.names.size());
    rowKeys_.push_back(nextKey_++);
    pos_ = static_cast<long>(result_.rows.size()) - 1;
    editMode_ = editAdd;
    original_.clear();
    dirty_.assign(result_.names.size(), false);
    return true;
}

bool CADORecordset::Update() {
    if (!open_) {
        Fail(kErrObjectClosed, kClosedMeaning, "CADORecordset", "the result set is not open");
        return false;
    }
    if (editMode_ == editNone) return true;
    std::string table;
    int idColumn;
    if (!WriteTarget(table, idColumn)) {
        DropEdit();
        return false;
    }
    std::vector<DbValue>& row = result_.rows[static_cast<size_t>(pos_)];
    std::vector<std::string> columns, values;
    for (size_t i = 0; i < row.size(); ++i) {
        if (!dirty_[i]) continue;
        std::string literal;
        if (result_.origins[i].empty() || !Literal(row[i], literal)) {
            Fail(kErrInvalidArgument, kArgumentMeaning, "CADORecordset",
                 "field " + result_.names[i] + " cannot be written back: " +
                     (result_.origins[i].empty() ? "it is computed, not stored" : "its value cannot be stored"));
            DropEdit();
            return false;
        }
        columns.push_back(QuoteName(result_.origins[i]));
        values.push_back(literal);
    }
    std::string statement;
    if (editMode_ == editAdd) {
        if (columns.empty()) {
            statement = "insert into " + table +
                        (db_->GetBackend() == CADODataBase::MARIADB ? " () values ()" : " default values");
        } else {
            std::string names, literals;
            for (size_t i = 0; i < columns.size(); ++i) {
                names += (i ? "," : "") + columns[i];
                literals += (i ? "," : "") + values[i];
            }
            statement = "insert into " + table + " (" + names + ") values (" + literals + ")";
        }
    } else {
        if (columns.empty()) {
            DropEdit();
            return true;
        }
        std::string key;
        if (original_[static_cast<size_t>(idColumn)].kind == DbValue::Null ||
            !Literal(original_[static_cast<size_t>(idColumn)], key)) {
            Fail(kErrRowNotFound, "Row cannot be located for updating.", "CADORecordset", "the row has no id");
            DropEdit();
            return false;
        }
        statement = "update " + table + " set ";
        for (size_t i = 0; i < columns.size(); ++i) statement += (i ? ", " : "") + columns[i] + " = " + values[i];
        statement += " where " + QuoteName(result_.origins[static_cast<size_t>(idColumn)]) + " = " + key;
    }
    CADODataBase::ErrorInfo e;
    int newId = 0;
    long changed = 0;
    bool adding = editMode_ == editAdd;
    if (!db_->Write(statement, adding ? &newId : nullptr, changed, e)) {
        Fail(e.code, e.meaning, e.source, e.description);
        DropEdit();
        return false;
    }
    if (changed != 1) {
        Fail(kErrRowNotFound, "Row cannot be located for updating.", "CADORecordset",
             "the row is no longer in table " + table);
        DropEdit();
        return false;
    }
    if (adding) {
        row[static_cast<size_t>(idColumn)].kind = DbValue::Int32;
        row[static_cast<size_t>(idColumn)].i = newId;
    }
    editMode_ = editNone;
    original_.clear();
    dirty_.clear();
    return true;
}

bool CADORecordset::Delete() {
    if (!open_) {
        Fail(kErrObjectClosed, kClosedMeaning, "CADORecordset", "the result set is not open");
        return false;
    }
    if (editMode_ == editAdd) {  // the new row was never stored
        DropEdit();
        return true;
    }
    if (!Cell(0, "#0")) return false;
    DropEdit();  // the row goes, with any change not yet written
    std::string table, key;
    int idColumn;
    if (!WriteTarget(table, idColumn)) return false;
    const DbValue& id = result_.rows[static_cast<size_t>(pos_)][static_cast<size_t>(idColumn)];
    if (id.kind == DbValue::Null || !Literal(id, key)) {
        Fail(kErrRowNotFound, "Row cannot be located for updating.", "CADORecordset", "the row has no id");
        return false;
    }
    CADODataBase::ErrorInfo e;
    long changed = 0;
    if (!db_->Write("delete from " + table + " where " +
                        QuoteName(result_.origins[static_cast<size_t>(idColumn)]) + " = " + key,
                    nullptr, changed, e)) {
        Fail(e.code, e.meaning, e.source, e.description);
        return false;
    }
    if (changed != 1) {
        Fail(kErrRowNotFound, "Row cannot be located for updating.", "CADORecordset",
             "the row is no longer in table " + table);
        return false;
    }
    result_.rows.erase(result_.rows.begin() + pos_);
    rowKeys_.erase(rowKeys_.begin() + pos_);
    deletedCurrent_ = true;
    return true;
}

bool CADORecordset::GetBookmark() {
    if (!Cell(0, "#0")) return false;
    bookmark_ = rowKeys_[static_cast<size_t>(pos_)];
    return true;
}

bool CADORecordset::SetBookmark() {
    if (!open_) {
        Fail(kErrObjectClosed, kClosedMeaning, "CADORecordset", "the result set is not open");
        return false;
    }
    if (bookmark_ == 0) {
        Fail(kErrInvalidArgument, kArgumentMeaning, "CADORecordset", "no bookmark is kept");
        return false;
    }
    if (!LeaveRow()) return false;
    auto at = std::find(rowKeys_.begin(), rowKeys_.end(), bookmark_);
    if (at == rowKeys_.end()) {
        Fail(kErrNoCurrentRecord, kNoCurrentMeaning, "CADORecordset", "the bookmarked row was deleted");
        return false;
    }
    pos_ = at - rowKeys_.begin();
    deletedCurrent_ = false;
    return true;
}

namespace {

enum class CriteriaOp { Eq, Ne, Lt, Gt, Le, Ge, Like };

struct Criterion {
    std::string field;
    CriteriaOp op = CriteriaOp::Eq;
    std::string value;
    bool quoted = false;  // a text ('...') or date (#...#) value
};

bool ParseCriterion(const std::string& c, Criterion& out) {
    size_t i = 0;
    auto blanks = [&] {
        while (i < c.size() && std::isspace(static_cast<unsigned char>(c[i]))) ++i;
    };
    blanks();
    if (i < c.size() && c[i] == '[') {
        size_t e = c.find(']', i);
        if (e == std::string::npos) return false;
        out.field = c.substr(i + 1, e - i - 1);
        i = e + 1;
    } else {
        size_t b = i;
        while (i < c.size() && (std::isalnum(static_cast<unsigned char>(c[i])) || c[i] == '_' || c[i] == '.' ||
                                static_cast<unsigned char>(c[i]) >= 0x80))
            ++i;
        out.field = c.substr(b, i - b);
    }
    if (out.field.empty()) return false;
    blanks();
    static const struct {
        const char* text;
        CriteriaOp op;
    } ops[] = {{"<>", CriteriaOp::Ne}, {"<=", CriteriaOp::Le}, {">=", CriteriaOp::Ge}, {"=", CriteriaOp::Eq},
               {"<", CriteriaOp::Lt},  {">", CriteriaOp::Gt},  {"like", CriteriaOp::Like}};
    bool found = false;
    for (const auto& o : ops) {
        size_t n = std::strlen(o.text);
        if (Lower(c.substr(i, n)) != o.text) continue;
        if (o.op == CriteriaOp::Like && i + n < c.size() && !std::isspace(static_cast<unsigned char>(c[i + n])) &&
            c[i + n] != '\'')
            continue;
        out.op = o.op;
        i += n;
        found = true;
        break;
    }
    if (!found) return false;
    blanks();
    if (i < c.size() && (c[i] == '\'' || c[i] == '#')) {
        char close = c[i];
        out.quoted = true;
        bool closed = false;
        for (++i; i < c.size(); ++i) {
            if (c[i] == close) {
                if (close == '\'' && i + 1 < c.size() && c[i + 1] == '\'') {
                    out.value += '\'';
                    ++i;
                    continue;
                }
                closed = true;
                ++i;
                break;
            }
            out.value += c[i];
        }
        if (!closed) return false;
    } else {
        size_t b = i;
        while (i < c.size() && !std::isspace(static_cast<unsigned char>(c[i]))) ++i;
        out.value = c.substr(b, i - b);
        if (out.value.empty()) return false;
    }
    blanks();
    if (i != c.size()) return false;
    return out.op != CriteriaOp::Like || out.quoted;
}

bool ParseNumber(const std::string& text, bool& integral, int64_t& i, double& d) {
    const char* b = text.data();
    const char* e = b + text.size();
    if (b != e && *b == '+') ++b;
    if (b == e) return false;
    auto ri = std::from_chars(b, e, i);
    if (ri.ec == std::errc() && ri.ptr == e) {
        integral = true;
        d = static_cast<double>(i);
        return true;
    }
    auto rd = std::from_chars(b, e, d);
    if (rd.ec != std::errc() || rd.ptr != e || !std::isfinite(d)) return false;
    integral = false;
    return true;
}

// '*' and '%' stand for any run of characters; letters match in any case.
bool Like(const std::string& text, const std::string& pattern) {
    size_t t = 0, p = 0, starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                             std::tolower(static_cast<unsigned char>(text[t]))) {
            ++p;
            ++t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) ++p;
    return p == pattern.size();
}

bool Matches(const DbValue& v, const Criterion& c) {
    int order = 0;
    switch (v.kind) {
        case DbValue::Null: case DbValue::Blob: return false;  // a null equals nothing, as in SQL
        case DbValue::Int16: case DbValue::Int32: case DbValue::Int64: case DbValue::Bool: case DbValue::Double: {
            if (c.op == CriteriaOp::Like)
                return Like(v.kind == DbValue::Double ? DoubleText(v.d) : std::to_string(v.i), c.value);
            bool integral;
            int64_t i;
            double d;
            if (!ParseNumber(c.value, integral, i, d)) return false;
            if (v.kind != DbValue::Double && integral) {
                order = v.i < i ? -1 : v.i > i ? 1 : 0;
            } else {
                double mine = v.kind == DbValue::Double ? v.d : static_cast<double>(v.i);
                order = mine < d ? -1 : mine > d ? 1 : 0;
            }
            break;
        }
        case DbValue::Text: case DbValue::DateTime: {
            if (c.op == CriteriaOp::Like) return Like(v.s, c.value);
            if (c.quoted) {
                int r = Lower(v.s).compare(Lower(c.value));
                order = r < 0 ? -1 : r > 0 ? 1 : 0;
                break;
            }
            bool integral, mineIntegral;
            int64_t i, mineI;
            double d, mineD;
            if (!ParseNumber(c.value, integral, i, d) || !ParseNumber(v.s, mineIntegral, mineI, mineD)) return false;
            order = mineD < d ? -1 : mineD > d ? 1 : 0;
            if (integral && mineIntegral) order = mineI < i ? -1 : mineI > i ? 1 : 0;
            break;
        }
    }
    switch (c.op) {
        case CriteriaOp::Eq: return order == 0;
        case CriteriaOp::Ne: return order != 0;
        case CriteriaOp::Lt: return order < 0;
        case CriteriaOp::Gt: return order > 0;
        case CriteriaOp::Le: return order <= 0;
        case CriteriaOp::Ge: return order >= 0;
        case CriteriaOp::Like: return false;
    }
    return false;
}

}  // namespace

bool CADORecordset::Search(long from) {
    Criterion c;
    if (!ParseCriterion(criteria_, c)) {
        Fail(kErrInvalidArgument, kArgumentMeaning, "CADORecordset", "criteria not understood: " + criteria_);
        return false;
    }
    int field = FieldIndex(c.field);
    if (field < 0) {
        Fail(kErrItemNotFound,
             "Item cannot be found in the collection corresponding to the requested name or ordinal.",
             "CADORecordset", "no field " + c.field);
        return false;
    }
    if (!LeaveRow()) return false;
    long n = static_cast<long>(result_.rows.size());
    deletedCurrent_ = false;
    for (long k = from; k >= 0 && k < n; k += searchDirection_) {
        if (Matches(result_.rows[static_cast<size_t>(k)][static_cast<size_t>(field)], c)) {
            pos_ = k;
            return true;
        }
    }
    pos_ = searchDirection_ > 0 ? n : -1;
    return false;
}

bool CADORecordset::Find(const std::string& criteria, int direction) {
    if (!open_) {
        Fail(kErrObjectClosed, kClosedMeaning, "CADORecordset", "the result set is not open");
        return false;
    }
    if (direction != searchForward && direction != searchBackward) {
        Fail(kErrInvalidArgument, kArgumentMeaning, "CADORecordset", "search direction must be 1 or -1");
        return false;
    }
    criteria_ = criteria;
    searchDirection_ = direction;
    long n = static_cast<long>(result_.rows.size());
    long from;
    if (deletedCurrent_) from = direction > 0 ? pos_ : pos_ - 1;
    else from = direction > 0 ? std::max(pos_, 0L) : std::min(pos_, n - 1);
    return Search(from);
}

bool CADORecordset::FindNext() {
    if (!open_) {
        Fail(kErrObjectClosed, kClosedMeaning, "CADORecordset", "the result set is not open");
        return false;
    }
    if (criteria_.empty()) {
        Fail(kErrInvalidArgument, kArgumentMeaning, "CADORecordset", "no criteria are kept");
        return false;
    }
    long from = deletedCurrent_ ? (searchDirection_ > 0 ? pos_ : pos_ - 1) : pos_ + searchDirection_;
    return Search(from);
}

