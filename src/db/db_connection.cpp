#include "db/db_connection.h"

#include <sqlite3.h>

#include "db/index_statement.h"
#include "db/settle.h"
#include "db/statement.h"
#include "db/transaction.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"

plat::CriticalSection g_csDBLock;

namespace {

WString ErrorMessage(const char16_t* text, int code) {
    return WString(text) + wstr::FromInt(code) + u"]";
}

bool IsSourceAlias(const char* name) {
    return name != nullptr && sqlite3_strnicmp(name, "QV_SOURCE", 9) == 0;
}

bool Is(const char* name, const char* expected) {
    return name != nullptr && sqlite3_stricmp(name, expected) == 0;
}

bool HoldsIndexNamed(const std::vector<db::PlainIndex>& held, const std::string& name) {
    for (const db::PlainIndex& index : held) {
        if (sqlite3_stricmp(index.name.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

// Pragmas a script may give a value or an argument to: those that read, and the few that
// set something of the connection or a number the database keeps for its owner. Every
// other one (journal_mode, synchronous, page_size, auto_vacuum, locking_mode,
// writable_schema, schema_version, encoding, trusted_schema, ...) changes the file, how it
// is written, or what the program relies on.
bool PragmaMaySet(const char* name) {
    static const char* const kAllowed[] = {
        "table_info",      "table_xinfo",        "table_list",         "index_list",
        "index_info",      "index_xinfo",        "foreign_key_list",   "foreign_key_check",
        "integrity_check", "quick_check",        "user_version",       "application_id",
        "cache_size",      "recursive_triggers", "defer_foreign_keys", "case_sensitive_like",
        "collation_list",  "function_list",      "module_list",        "pragma_list",
        "database_list",   "compile_options",    "data_version",       "freelist_count",
        "page_count",      "encoding",
    };
    for (const char* allowed : kAllowed) {
        if (Is(name, allowed)) return !Is(name, "encoding");
    }
    return false;
}

// Pragmas that act even when asked without a value.
bool PragmaActsWhenRead(const char* name) {
    return Is(name, "wal_checkpoint") || Is(name, "incremental_vacuum") || Is(name, "optimize");
}

// Authorizer actions that change the database they name.
bool Writes(int action) {
    switch (action) {
        case SQLITE_READ:
        case SQLITE_SELECT:
        case SQLITE_FUNCTION:
        case SQLITE_RECURSIVE:
        case SQLITE_TRANSACTION:
        case SQLITE_SAVEPOINT:
        case SQLITE_PRAGMA:
            return false;
        default:
            return true;
    }
}

// The first keyword of one statement's text, upper-cased ASCII, past blanks and comments.
std::string FirstKeyword(std::string_view text) {
    size_t i = 0;
    for (;;) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                                   text[i] == '\r' || text[i] == '\f' || text[i] == '\v')) {
            ++i;
        }
        if (text.compare(i, 2, "--") == 0) {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (text.compare(i, 2, "/*") == 0) {
            const size_t end = text.find("*/", i + 2);
            i = end == std::string_view::npos ? text.size() : end + 2;
        } else {
            break;
        }
    }
    std::string word;
    while (i < text.size() && ((text[i] >= 'A' && text[i] <= 'Z') ||
                               (text[i] >= 'a' && text[i] <= 'z') || text[i] == '_')) {
        word.push_back(text[i] >= 'a' && text[i] <= 'z' ? char(text[i] - 'a' + 'A') : text[i]);
        ++i;
    }
    return word;
}

}  // namespace

// Foreign-key actions would delete or rewrite rows while a migration copies tables in the
// script's order and runs its data statements: an ON DELETE CASCADE fired by a data
// statement removes rows of another table, and enforcement refuses the copy of a child
// table whose parent is copied later. So enforcement is off on every connection, and a
// statement that sets the pragma is made a silent no-op here rather than an error:
// sqlite3_db_config alone would not survive a script's own "PRAGMA foreign_keys=ON", and
// refusing the statement would fail an item that is otherwise fine.
//
// A script's statement reaches the database it runs on and nothing else (it may come from
// anyone who could drop a file into the installation folder, and the program may run
// elevated): no file attached or detached, no pragma that changes the file or how it is
// written, nothing written into the file an SQLTWO item attaches as NEW_DB.
//
// The sources of CopyTableFrom are files the copies read from, the user's own databases.
// Attached, they would change what a script's statement means: a name the new file lacks
// would be found in a source ("DROP TABLE IF EXISTS T" would drop the old rows), and
// ANALYZE, REINDEX or an unqualified pragma would act on every file. So any script
// statement that names a source or runs a pragma is refused here and marked;
// RunStatements then detaches the sources and prepares it again, as it would have run
// without them.
int CDBConnection::Authorize(void* self, int action, const char* arg1, const char* arg2,
                             const char* database, const char*) {
    if (action == SQLITE_PRAGMA && Is(arg1, "foreign_keys") && arg2 != nullptr) {
        return SQLITE_IGNORE;
    }
    auto* connection = static_cast<CDBConnection*>(self);
    if (connection->m_origin != db::Origin::kScript) return SQLITE_OK;
    auto refuse = [connection](std::string what) {
        connection->m_refused = std::move(what);
        return SQLITE_DENY;
    };
    if (action == SQLITE_ATTACH) return refuse("ATTACH");
    if (action == SQLITE_DETACH) return refuse("DETACH");
    if (action == SQLITE_PRAGMA && arg1 != nullptr &&
        ((arg2 != nullptr && !PragmaMaySet(arg1)) || PragmaActsWhenRead(arg1))) {
        return refuse(std::string("PRAGMA ") + arg1 + (arg2 != nullptr ? "=" : ""));
    }
    // A pragma given a value for NEW_DB (user_version, application_id) writes its header.
    if (Is(database, "NEW_DB") && (Writes(action) || (action == SQLITE_PRAGMA && arg2))) {
        return refuse("writing NEW_DB");
    }
    if (!connection->m_sources.empty() &&
        (action == SQLITE_PRAGMA || IsSourceAlias(arg1) || IsSourceAlias(database))) {
        connection->m_bTouchedSource = true;
        return SQLITE_DENY;
    }
    return SQLITE_OK;
}

void CDBConnection::LogRefusal() {
    if (m_refused.empty()) return;
    WriteLog(kLogCategory, kLogLevel, u"升级脚本的语句被拒绝: " + FromUtf8(m_refused));
    m_refused.clear();
}

int CDBConnection::RunStatements(std::string_view sql, bool bLog, const std::string* holdTable,
                                 std::vector<db::PlainIndex>* held) {
    sqlite3* db = m_pDB.get();
    if (db == nullptr) return 0;
    // The held statements run before anything that may depend on them.
    auto runHeld = [&] {
        std::vector<db::PlainIndex> pending;
        pending.swap(*held);
        for (const db::PlainIndex& index : pending) {
            if (RunStatements(index.statement, bLog) == 0) return false;
        }
        return true;
    };
    auto fail = [&] {
        m_strLastError = FromUtf8(sqlite3_errmsg(db));
        if (!m_refused.empty()) m_strLastError += u" (" + FromUtf8(m_refused) + u")";
        if (bLog) {
            LogRefusal();
            WriteLog(kLogCategory, kLogLevel, FromUtf8(sqlite3_errmsg(db)));
        }
        m_refused.clear();
        return 0;
    };
    // sqlite3_prepare_v2 reads up to the terminating zero; a view has none.
    const std::string text(sql);
    const char* rest = text.c_str();
    while (*rest != '\0') {
        m_bTouchedSource = false;
        m_refused.clear();
        const char* tail = nullptr;
        db::Statement statement(db, rest, &tail);
        if (statement.PrepareResult() != SQLITE_OK) {
            if (m_bTouchedSource && DetachSources() == 1) continue;
            // It may have failed for want of a held index ("DROP INDEX" of one).
            if (held != nullptr && !held->empty()) {
                if (!runHeld()) return 0;
                continue;
            }
            return fail();
        }
        if (!statement.Prepared()) {  // only blanks or a comment
            rest = tail;
            continue;
        }
        const std::string_view one(rest, static_cast<size_t>(tail - rest));
        if (m_origin == db::Origin::kScript) {
            const std::string keyword = FirstKeyword(one);
            // VACUUM asks the authorizer nothing: it is known by its first word.
            if (keyword == "VACUUM") {
                m_refused = "VACUUM";
                m_strLastError = u"not authorized (VACUUM)";
                if (bLog) LogRefusal();
                m_refused.clear();
                return 0;
            }
            // Inside the transaction that makes an item all or nothing, the item's own
            // BEGIN would fail and its COMMIT would end that transaction half way.
            if ((keyword == "BEGIN" || keyword == "COMMIT" || keyword == "END") &&
                sqlite3_get_autocommit(db) == 0) {
                rest = tail;
                continue;
            }
        }
        if (held != nullptr) {
            db::PlainIndex index;
            if (db::ParsePlainIndex(one, index) &&
                sqlite3_stricmp(index.table.c_str(), holdTable->c_str()) == 0 &&
                !HoldsIndexNamed(*held, index.name)) {
                held->push_back(std::move(index));
                rest = tail;
                continue;
            }
            if (!held->empty()) {
                statement.Finalize();
                if (!runHeld()) return 0;
                continue;
            }
        }
        while (statement.Step() == SQLITE_ROW) {
        }
        const int rc = statement.Finalize();
        if (rc != SQLITE_OK) {
            // Prepared again inside the step (the schema had changed) and refused before it
            // ran anything.
            if (rc == SQLITE_AUTH && m_bTouchedSource && DetachSources() == 1) continue;
            return fail();
        }
        rest = tail;
    }
    return 1;
}

// Part of keeping the sources out of the script's statements (Authorize, RunStatements),
// and of letting go of them before their files are moved.
int CDBConnection::DetachSources() {
    if (!m_pDB) {
        m_sources.clear();
        return 1;
    }
    std::vector<Source> left;
    for (Source& source : m_sources) {
        if (Run("DETACH " + source.alias + ";", db::Origin::kProgram) == 0) {
            left.push_back(std::move(source));
        }
    }
    m_sources.swap(left);
    return m_sources.empty() ? 1 : 0;
}

int CDBConnection::Run(std::string_view sql, db::Origin origin, bool bLog) {
    if (m_bOpen == 0 || !m_pDB) return 0;
    OriginScope scope(*this, origin);
    return RunStatements(sql, bLog);
}

CDBConnection::CDBConnection() = default;

CDBConnection::~CDBConnection() { Close(); }

int CDBConnection::OpenDatabase(WString path) {
    m_strPath = std::move(path);
    if (m_bOpen == 1) Close();
    if (!CompanionsArePlain(m_strPath)) return 0;  // before anything is made
    if (!plat::PathExists(m_strPath) && EnsureDatabaseFile(m_strPath) == 0) {
        WriteLog(kLogCategory, kLogLevel,
                 ErrorMessage(u"数据库文件丢失,并且创建失败,错误码: [", 3));
        return 0;
    }
    if (Open() == 0) {
        WriteLog(kLogCategory, kLogLevel, ErrorMessage(u"连接到数据库失败,错误码: [", 4));
        return 0;
    }
    return 1;
}

int CDBConnection::OpenExisting(WString path) {
    m_strPath = std::move(path);
    Close();
    return OpenWith(SQLITE_OPEN_READWRITE);
}

int CDBConnection::Open() {
    if (m_bOpen == 1 && m_pDB) return 1;
    return OpenWith(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

bool CDBConnection::CompanionsArePlain(const WString& path) {
    WString detail;
    return db::CompanionsArePlainFiles(path, detail) ||
           FailWith(u"数据库的日志文件不是普通文件, 不打开: " + detail) != 0;
}

int CDBConnection::FailWith(WString why) {
    m_strLastError = std::move(why);
    WriteLog(kLogCategory, kLogLevel, m_strLastError);
    return 0;
}

int CDBConnection::OpenWith(int flags) {
    if (!CompanionsArePlain(m_strPath)) {
        m_pDB.reset();
        m_bOpen = 0;
        return 0;
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(plat::PathForSqlite(m_strPath).c_str(), &db, flags | SQLITE_OPEN_URI,
                             nullptr);
    if (rc != SQLITE_OK) {
        m_strLastError = FromUtf8(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);  // sqlite3_open hands out a handle even when it fails
        m_pDB.reset();
        m_bOpen = 0;
        return 0;
    }
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FKEY, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_busy_timeout(db, db::kBusyTimeoutMs);
    sqlite3_set_authorizer(db, &CDBConnection::Authorize, this);
    m_pDB.reset(db);
    m_bOpen = 1;
    return 1;
}

int CDBConnection::Close() {
    m_pDB.reset();
    m_bOpen = 0;
    m_sources.clear();  // detached with the connection
    return 1;
}

int CDBConnection::EnsureDatabaseFile(const WString& path) {
    return plat::PathExists(path) ? 1 : CreateDatabaseFile(path);
}

int CDBConnection::CreateDatabaseFile(const WString& path) {
    // A path without a folder, or whose only "\\" is its first character, makes nothing.
    const WString folder = plat::FolderOf(path);
    if (folder.empty()) return 0;
    if (DirectoryExists(folder) == 0) MakeDirectory(folder);
    plat::File file;
    return file.Open(path, plat::File::Mode::kCreateTruncate) ? 1 : 0;
}

int CDBConnection::DirectoryExists(const WString& path) { return plat::IsDirectory(path) ? 1 : 0; }

int CDBConnection::MakeDirectory(const WString& path) { return plat::MakeDirectory(path) ? 1 : 0; }

int CDBConnection::Execute(const WString& sql) {
    if (Open() == 0) return 0;
    return Run(ToUtf8(sql), db::Origin::kScript);
}

int CDBConnection::ExecuteAnsi(const WString& sql) { return Run(ToUtf8(sql), db::Origin::kScript); }

int CDBConnection::ExecuteRaw(const char* sql) {
    if (sql == nullptr) return 0;
    return Run(sql, db::Origin::kScript);
}

int CDBConnection::ExecuteWhole(const WString& sql) {
    if (Open() == 0) return 0;
    db::Savepoint item(*this, "QV_ITEM");
    if (!item.Active() || Run(ToUtf8(sql), db::Origin::kScript) == 0) return 0;
    return item.Release() ? 1 : 0;
}

int CDBConnection::UseEncodingOf(CDBConnection& other) {
    if (Open() == 0 || other.Open() == 0) return 0;
    auto encodingOf = [](sqlite3* db) {
        db::Statement query(db, "PRAGMA main.encoding;");
        const char* text = query.Step() == SQLITE_ROW ? query.ColumnText(0) : nullptr;
        return std::string(text != nullptr ? text : "");
    };
    const std::string wanted = encodingOf(other.Handle());
    if (wanted != "UTF-8" && wanted != "UTF-16le" && wanted != "UTF-16be") return 0;
    if (wanted == encodingOf(Handle())) return 1;
    if (Run("PRAGMA main.encoding = '" + wanted + "';", db::Origin::kProgram) == 0) {
        return 0;
    }
    return encodingOf(Handle()) == wanted ? 1 : 0;
}

int CDBConnection::SyncToDisk() {
    if (!m_pDB) return 0;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(m_pDB.get(), "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        file == nullptr || file->pMethods == nullptr) {
        return 0;
    }
    if (file->pMethods->xSync(file, SQLITE_SYNC_FULL) == SQLITE_OK) return 1;
    WriteLog(kLogCategory, kLogLevel, u"数据库文件无法写入磁盘: " + m_strPath);
    return 0;
}

int CDBConnection::UseDurableCommits() {
    if (!m_pDB) return 0;
    std::string mode;
    {
        db::Statement query(m_pDB.get(), "PRAGMA main.journal_mode;");
        if (query.Step() == SQLITE_ROW && query.ColumnText(0) != nullptr)
            mode = query.ColumnText(0);
    }
    // Without a journal on disk a commit cut off half way leaves pages of both states; with
    // a write-ahead log, commits live in a second file until a checkpoint. Leaving such a
    // mode for DELETE copies everything into the database file itself.
    if (sqlite3_stricmp(mode.c_str(), "delete") != 0 &&
        sqlite3_stricmp(mode.c_str(), "truncate") != 0 &&
        sqlite3_stricmp(mode.c_str(), "persist") != 0 &&
        Run("PRAGMA main.journal_mode=DELETE;", db::Origin::kProgram) == 0) {
        return 0;
    }
    return Run("PRAGMA main.synchronous=FULL;", db::Origin::kProgram);
}

int CDBConnection::DeferSyncs() {
    return Run("PRAGMA main.synchronous=OFF;", db::Origin::kProgram);
}

namespace db {

Transaction::Transaction(CDBConnection& connection) : m_connection(connection) {
    m_bActive = m_connection.Run("BEGIN TRANSACTION;", Origin::kProgram) == 1;
}

Transaction::~Transaction() { Rollback(); }

bool Transaction::Commit() {
    if (!m_bActive) return false;
    if (m_connection.Run("COMMIT TRANSACTION;", Origin::kProgram) == 1) {
        m_bActive = false;
        return true;
    }
    // A refused COMMIT (a deferred constraint, a busy file) leaves the transaction open.
    Rollback();
    return false;
}

void Transaction::Rollback() {
    if (!m_bActive) return;
    m_bActive = false;
    if (m_connection.Handle() != nullptr && sqlite3_get_autocommit(m_connection.Handle()) == 0) {
        m_connection.Run("ROLLBACK TRANSACTION;", Origin::kProgram);
    }
}

Savepoint::Savepoint(CDBConnection& connection, std::string name)
    : m_connection(connection), m_name(std::move(name)) {
    m_bActive = m_connection.Run("SAVEPOINT " + m_name + ";", Origin::kProgram) == 1;
}

Savepoint::~Savepoint() { Rollback(); }

bool Savepoint::Release() {
    if (!m_bActive) return false;
    if (m_connection.Run("RELEASE " + m_name + ";", Origin::kProgram) == 1) {
        m_bActive = false;
        return true;
    }
    Rollback();
    return false;
}

void Savepoint::Rollback() {
    if (!m_bActive) return;
    m_bActive = false;
    // ROLLBACK TO undoes the work and keeps the savepoint; RELEASE then ends it (and the
    // transaction it opened, when it was the outermost).
    m_connection.Run("ROLLBACK TO " + m_name + "; RELEASE " + m_name + ";", Origin::kProgram);
}

}  // namespace db
