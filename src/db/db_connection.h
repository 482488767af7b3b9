// One SQLite database file: opened on demand, created when missing, statements run as
// UTF-8. Every operation returns 1 for success and 0 for failure and logs SQLite's error
// text when there is one.
//
// Statements come from two places, and every one is run by Run with its origin spelled
// out: the program's own (kProgram: attaching the files rows are read from, transactions,
// copies, pragmas that make a file durable), and the upgrade script's (kScript: table
// bodies, triggers, data statements, column types). A script's statement may change the
// database it runs on and nothing else: it cannot attach or detach a file, VACUUM, write
// an attached file, or set a pragma that changes the file or how it is written; a refused
// statement fails as a failing statement does, and the log names what was refused. Every
// connection runs in SQLite's defensive mode, with untrusted schemas and no extensions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/statement.h"
#include "platform/lock.h"
#include "platform/wstr.h"

struct sqlite3;
namespace db {
struct PlainIndex;
}

// Serialises the version-registry operations and trigger creation across the process.
extern plat::CriticalSection g_csDBLock;

namespace db {

// How long a connection waits for a lock another connection holds (a client committing)
// before it reports the file busy.
inline constexpr int kBusyTimeoutMs = 5000;

enum class Origin {
    kProgram,  // the program's own statement
    kScript,   // a statement of the upgrade script: confined to the database it runs on
};

// What reading a version from TVERSION found.
enum class VersionRead {
    kFound,       // the row is there (an SQL NULL reads as an empty text)
    kNone,        // the database has no TVERSION table, or no row for the name
    kUnreadable,  // the database could not be read: busy past the timeout, locked, damaged
};

}  // namespace db

class CDBConnection {
public:
    CDBConnection();
    ~CDBConnection();
    CDBConnection(const CDBConnection&) = delete;
    CDBConnection& operator=(const CDBConnection&) = delete;

    // Points the object at `path` and opens it, creating an empty file (and the last
    // missing folder level) first when nothing exists there. Always reopens, even when the
    // path is the one already open. Logs "...错误码: [3]" when the file cannot be created
    // and "...错误码: [4]" when it cannot be opened.
    int OpenDatabase(WString path);
    // Points the object at `path` and opens the file that is there; never creates one.
    // 0, silently, when nothing is there or it cannot be opened.
    int OpenExisting(WString path);
    // Opens m_strPath unless already open; silent on failure.
    int Open();
    // Closes the connection if one is open; always 1.
    int Close();

    int EnsureDatabaseFile(const WString& path);
    // Creates the last folder level of `path` if needed, then an empty file. 0 when the
    // path has no folder part or the file cannot be created.
    int CreateDatabaseFile(const WString& path);
    int DirectoryExists(const WString& path);
    int MakeDirectory(const WString& path);

    // The one way statements run: every statement of the UTF-8 text `sql`, in order, up to
    // the first that fails, on the open connection (0 when closed); rows are discarded.
    // With `bLog`, SQLite's text of a failure is logged.
    int Run(std::string_view sql, db::Origin origin, bool bLog = true);
    // A script's statements, opening the connection on demand.
    int Execute(const WString& sql);
    // A script's statements on an open connection only (never opens it). Despite the name
    // the text reaches SQLite as UTF-8: SQLite reads its input as UTF-8, and ANSI bytes
    // would store corrupted names and values.
    int ExecuteAnsi(const WString& sql);
    // A script's UTF-8 statements on an open connection only; 0 when closed or null.
    int ExecuteRaw(const char* sql);
    // A script's data statements, all or nothing: on failure everything they did is undone
    // and SQLite's text logged. Opens on demand.
    int ExecuteWhole(const WString& sql);

    // --- Table version registry (table TVERSION: F_TABLENAME -> F_TABLEVERSION) ---
    // Each takes g_csDBLock for its whole run and opens the connection on demand. Names
    // and versions are bound as statement parameters, so any text is stored as given.
    // None creates TVERSION: where it is missing they fail.

    // Reads the version recorded for `table` into `version`, which is left unchanged when
    // there is no row (an SQL NULL gives an empty text). 1 when the query could be run,
    // row or not; 0 for an empty name or a failed query, not logged.
    int GetTableVersion(const WString& table, WString& version);
    // The same read, telling a database without a version from one that cannot be read.
    db::VersionRead ReadTableVersion(const WString& table, WString& version);
    // Records `version` for `table`, leaving exactly one row for the name: updates a single
    // row, inserts when there is none, replaces duplicates. The lock is taken per step.
    int SetTableVersion(const WString& table, const WString& version);
    // Number of rows recorded for `table`; `count` is left unchanged on failure, which is
    // not logged.
    int CountTableVersions(const WString& table, int& count);
    // The write operations log SQLite's error text and then their own message on failure.
    // DeleteTableVersion refuses an empty name.
    int DeleteTableVersion(const WString& table);
    int UpdateTableVersion(const WString& table, const WString& version);
    int InsertTableVersion(const WString& table, const WString& version);

    // --- Tables, columns and triggers ---
    // The existence tests never open the connection and answer 0 on any failure, without
    // logging. Names are matched as SQLite matches identifiers: ASCII letters without
    // regard to case.
    int TableExists(const WString& table);
    int TriggerExists(const WString& trigger);
    // 1 when `table` has a column named `column`. Needs an open connection.
    int ColumnExists(const WString& table, const WString& column);
    // ALTER TABLE 'table' ADD 'column' type; `type` follows unchanged and may carry a
    // default or constraint clause. Needs an open connection; failures are not logged.
    int AddColumn(const WString& table, const WString& column, const WString& type);
    // Attaches the file at `attachPath` (which must exist; it is never created) as NEW_DB
    // and runs the script's `sql` with it, all or nothing. NEW_DB can be read, not written.
    // 1 when the statements ran and committed; whatever fails, nothing of `sql` stays and
    // NEW_DB is detached; each failing statement logs SQLite's error text.
    int ExecuteWithAttached(const WString& attachPath, const WString& sql);
    // Runs a complete trigger creation statement under g_csDBLock; logs SQLite's text and a
    // fixed message on failure.
    int CreateTrigger(const WString& sql);
    // Names of the tables of the main database that hold rows the user put there, or that
    // cannot be read: SQLite's own tables (sqlite_sequence, sqlite_stat*) and the tables a
    // virtual table keeps for itself are left out. 0 when the schema cannot be read.
    int TablesWithRows(std::vector<WString>& tables);

    // --- Copies from other files (the attached sources) ---
    // Copies every row of `table` of the database file at `sourcePath` (never created)
    // into this connection's table of that name, in one transaction: columns by position,
    // generated columns left for the table to compute, the rowids of a table without an
    // INTEGER PRIMARY KEY and the AUTOINCREMENT counter kept. The copy succeeds only when
    // the table gained exactly as many rows as the source holds; otherwise it is rolled
    // back whole and the shortfall logged. Logs a warning when the new table has the old
    // one's column names in another order. Opens on demand.
    //
    // Each source file is attached once, as QV_SOURCE<n>, and stays attached for the next
    // copies until DetachSources or Close, so that SQLite reads its schema once. While
    // sources are attached, no script statement may see them: one that would (a name only
    // a source has, a pragma) makes the connection detach them first and prepare it again,
    // so that every statement acts exactly as it would without them.
    int CopyTableFrom(const WString& sourcePath, const WString& table);
    // Rows the last CopyTableFrom carried, and rows its source held (-1: not counted).
    int64_t CopiedRows() const { return m_nCopiedRows; }
    int64_t SourceRows() const { return m_nSourceRows; }
    // Detaches every source file of CopyTableFrom. 1 when none is left attached.
    int DetachSources();
    // Runs a TABLE item's `sql` as ExecuteAnsi does, except for its last statements when
    // they are plain CREATE INDEX statements on `table` (not UNIQUE, named columns only)
    // that `source` has no index for: those are kept back in `deferred`, in order, for the
    // caller to run with ExecuteAnsi once the rows are in. Every statement run or kept back
    // was prepared first, so a statement that is wrong fails here as it would have.
    // Without a source nothing is kept back.
    int ExecuteDeferringIndexes(const WString& sql, const WString& table, const WString& sourcePath,
                                std::vector<WString>& deferred);

    // --- Durability ---
    // Pushes what SQLite has written to the open database file through to the disk, so that
    // it survives a power loss, whatever journalling and syncing the connection was set to
    // use. 1 on success; logs the path on failure.
    // Gives this connection's empty file the text encoding of `other`'s (UTF-16 where the
    // client made its database with sqlite3_open16): SQLite attaches only files of one
    // encoding, and the rows are copied with the source attached.
    int UseEncodingOf(CDBConnection& other);
    int SyncToDisk();
    // Makes every later commit on this connection atomic and durable on its own, with
    // everything in the database file itself: a rollback journal on disk (DELETE when the
    // connection had none, kept it in memory or used a write-ahead log) and full syncing.
    // Applies to the main database only.
    int UseDurableCommits();
    // Commits of the main database stop waiting for the disk (synchronous=OFF); a killed
    // process still leaves every commit whole, a power cut may not. For a file that holds
    // no only copy of anything until UseDurableCommits and SyncToDisk finish it.
    int DeferSyncs();

    int IsOpen() const { return m_bOpen; }
    WString GetPath() const { return m_strPath; }
    // SQLite's text of the last statement that failed on this connection (what was
    // refused, for a refused one); empty before any.
    WString LastError() const { return m_strLastError; }

    // The open handle, or null; for the operations of this class and their helpers.
    sqlite3* Handle() const { return m_pDB.get(); }

private:
    // A database file attached for CopyTableFrom.
    struct Source {
        WString strPath;
        std::string alias;  // QV_SOURCE<n>
    };
    // Marks the statements run while it lives as coming from `origin`.
    class OriginScope {
    public:
        OriginScope(CDBConnection& connection, db::Origin origin)
            : m_connection(connection), m_previous(connection.m_origin) {
            m_connection.m_origin = origin;
        }
        ~OriginScope() { m_connection.m_origin = m_previous; }
        OriginScope(const OriginScope&) = delete;
        OriginScope& operator=(const OriginScope&) = delete;

    private:
        CDBConnection& m_connection;
        db::Origin m_previous;
    };

    int OpenWith(int flags);
    // Whether SQLite may open the database at `path`: its companion files are plain files
    // (db::CompanionsArePlainFiles). When not, the reason is logged and kept as the last error.
    bool CompanionsArePlain(const WString& path);
    // Keeps `why` as the last error and logs it; 0, so that an operation can end with it.
    int FailWith(WString why);
    // SQLite's authorizer for this connection: keeps foreign keys off, confines the
    // script's statements, and keeps the attached sources out of them.
    static int Authorize(void* self, int action, const char* arg1, const char* arg2,
                         const char* database, const char* trigger);
    // Run's loop. With `holdTable`, a run of plain CREATE INDEX statements on that table is
    // not run but collected in `held` as long as nothing else follows it: before any other
    // statement the collected ones run.
    int RunStatements(std::string_view sql, bool bLog, const std::string* holdTable = nullptr,
                      std::vector<db::PlainIndex>* held = nullptr);
    // Logs what the authorizer refused for the statement that failed last.
    void LogRefusal();
    // Attaches `path` as a source unless it is one already; its alias in `alias`.
    bool AttachSource(const WString& path, std::string& alias);

    int m_bOpen = 0;
    WString m_strPath;
    db::UniqueConnection m_pDB;
    std::vector<Source> m_sources;
    int m_nNextSource = 1;
    int64_t m_nCopiedRows = 0;
    int64_t m_nSourceRows = -1;
    db::Origin m_origin = db::Origin::kProgram;
    bool m_bTouchedSource = false;
    // What the authorizer refused last ("ATTACH", "PRAGMA journal_mode", ...).
    std::string m_refused;
    WString m_strLastError;
};
