#include "db/db_connection.h"

#include <sqlite3.h>

#include "db/index_statement.h"
#include "db/statement.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"

plat::CriticalSection g_csDBLock;

namespace {

// Runs `sql` and logs SQLite's error text, as SQLite gave it, when it fails.
int RunLogged(sqlite3* db, const char* sql) {
    char* error = nullptr;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) WriteLog(kLogCategory, kLogLevel, error);
    if (error != nullptr) sqlite3_free(error);
    return rc == SQLITE_OK ? 1 : 0;
}

WString ErrorMessage(const char16_t* text, int code) {
    return WString(text) + wstr::FromInt(code) + u"]";
}

bool IsSourceAlias(const char* name) {
    return name != nullptr && sqlite3_strnicmp(name, "QV_SOURCE", 9) == 0;
}

struct Finalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, Finalizer>;

bool HoldsIndexNamed(const std::vector<db::PlainIndex>& held, const std::string& name) {
    for (const db::PlainIndex& index : held) {
        if (sqlite3_stricmp(index.name.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

}  // namespace

// Foreign-key actions would delete or rewrite rows while a migration copies tables in the
// script's order and runs its data statements: an ON DELETE CASCADE fired by a data
// statement removes rows of another table, and enforcement refuses the copy of a child
// table whose parent is copied later. So enforcement is off on every connection, and a
// statement of a script that sets the pragma is made a silent no-op here rather than an
// error: sqlite3_db_config alone would not survive a script's own "PRAGMA foreign_keys=ON",
// and refusing the statement would fail a table or data item that is otherwise fine.
//
// The sources of CopyTableFrom are files the copies read from, often the only complete copy
// of the user's rows. Attached, they would change what a script's statement means: a name
// the new file lacks would be found in a source ("DROP TABLE IF EXISTS T" would drop the
// old rows), and ANALYZE, REINDEX or an unqualified journal_mode would act on every file.
// So any statement but the connection's own that names a source, sets a pragma, or
// attaches or detaches is refused here and marked; RunStatements then detaches the sources
// and prepares it again, as it would have run without them.
int CDBConnection::Authorize(void* self, int action, const char* arg1, const char* arg2,
                             const char* database, const char*) {
    if (action == SQLITE_PRAGMA && arg1 != nullptr && arg2 != nullptr &&
        sqlite3_stricmp(arg1, "foreign_keys") == 0) {
        return SQLITE_IGNORE;
    }
    auto* connection = static_cast<CDBConnection*>(self);
    if (connection->m_sources.empty() || connection->m_bOwnStatements) return SQLITE_OK;
    if (action == SQLITE_PRAGMA || action == SQLITE_ATTACH || action == SQLITE_DETACH ||
        IsSourceAlias(arg1) || IsSourceAlias(database)) {
        connection->m_bTouchedSource = true;
        return SQLITE_DENY;
    }
    return SQLITE_OK;
}

int CDBConnection::RunStatements(const std::string& sql, bool bLog, const std::string* holdTable,
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
        if (bLog) WriteLog(kLogCategory, kLogLevel, sqlite3_errmsg(db));
        return 0;
    };
    const char* rest = sql.c_str();
    while (*rest != '\0') {
        m_bTouchedSource = false;
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        int rc = sqlite3_prepare_v2(db, rest, -1, &raw, &tail);
        StatementPtr statement(raw);
        if (rc != SQLITE_OK) {
            if (m_bTouchedSource && DetachSources() == 1) continue;
            // It may have failed for want of a held index ("DROP INDEX" of one).
            if (held != nullptr && !held->empty()) {
                if (!runHeld()) return 0;
                continue;
            }
            return fail();
        }
        if (!statement) {  // only blanks or a comment
            rest = tail;
            continue;
        }
        if (held != nullptr) {
            db::PlainIndex index;
            if (db::ParsePlainIndex(std::string_view(rest, static_cast<size_t>(tail - rest)),
                                    index) &&
                sqlite3_stricmp(index.table.c_str(), holdTable->c_str()) == 0 &&
                !HoldsIndexNamed(*held, index.name)) {
                held->push_back(std::move(index));
                rest = tail;
                continue;
            }
            if (!held->empty()) {
                statement.reset();
                if (!runHeld()) return 0;
                continue;
            }
        }
        while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        }
        rc = sqlite3_finalize(statement.release());
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

int CDBConnection::ExecuteOwn(const std::string& sql) {
    if (Open() == 0) return 0;
    OwnStatements own(*this);
    return RunStatements(sql, true);
}

void CDBConnection::Closer::operator()(sqlite3* db) const { sqlite3_close(db); }

CDBConnection::CDBConnection() = default;

CDBConnection::~CDBConnection() { Close(); }

int CDBConnection::OpenDatabase(WString path) {
    m_strPath = std::move(path);
    if (m_bOpen == 1) Close();
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

int CDBConnection::Open() {
    if (m_bOpen == 1 && m_pDB) return 1;
    sqlite3* db = nullptr;
    int rc = sqlite3_open(plat::PathForSqlite(m_strPath).c_str(), &db);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);  // sqlite3_open hands out a handle even when it fails
        m_pDB.reset();
        m_bOpen = 0;
        return 0;
    }
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FKEY, 0, nullptr);
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
    size_t cut = path.rfind(u'\\');
    if (cut == WString::npos || cut == 0) return 0;
    WString folder = path.substr(0, cut);
    if (DirectoryExists(folder) == 0) MakeDirectory(folder);
    plat::File file;
    return file.Open(path, plat::File::Mode::kCreateTruncate) ? 1 : 0;
}

int CDBConnection::DirectoryExists(const WString& path) { return plat::IsDirectory(path) ? 1 : 0; }

int CDBConnection::MakeDirectory(const WString& path) { return plat::MakeDirectory(path) ? 1 : 0; }

int CDBConnection::Execute(const WString& sql) {
    if (Open() == 0) return 0;
    return RunStatements(ToUtf8(sql), true);
}

int CDBConnection::ExecuteAnsi(const WString& sql) {
    if (m_bOpen == 0) return 0;
    return ExecuteRaw(ToUtf8(sql).c_str());
}

int CDBConnection::ExecuteRaw(const char* sql) {
    if (m_bOpen == 0 || !m_pDB || sql == nullptr) return 0;
    return RunStatements(sql, true);
}

int CDBConnection::LastChanges() const { return m_pDB ? sqlite3_changes(m_pDB.get()) : 0; }

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
    OwnStatements own(*this);
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
        RunLogged(m_pDB.get(), "PRAGMA main.journal_mode=DELETE;") == 0) {
        return 0;
    }
    return RunLogged(m_pDB.get(), "PRAGMA main.synchronous=FULL;");
}

int CDBConnection::DeferSyncs() {
    if (!m_pDB) return 0;
    OwnStatements own(*this);
    return RunLogged(m_pDB.get(), "PRAGMA main.synchronous=OFF;");
}
