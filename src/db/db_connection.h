// One SQLite database file: opened on demand, created when missing, statements run as
// UTF-8. Every operation returns 1 for success and 0 for failure and logs SQLite's error
// text when there is one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/lock.h"
#include "platform/wstr.h"

struct sqlite3;
namespace db {
struct PlainIndex;
}

// Serialises the version-registry operations and trigger creation across the process.
extern plat::CriticalSection g_csDBLock;

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

    // Opens on demand and runs one or more statements; rows are discarded.
    int Execute(const WString& sql);
    // Runs a statement on an open connection only (never opens it). Despite the name the
    // text reaches SQLite as UTF-8: SQLite reads its input as UTF-8, and ANSI bytes would
    // store corrupted names and values.
    int ExecuteAnsi(const WString& sql);
    // Runs a UTF-8 statement on an open connection only; 0 when closed or null.
    int ExecuteRaw(const char* sql);

    // --- Table version registry (table TVERSION: F_TABLENAME -> F_TABLEVERSION) ---
    // Each takes g_csDBLock for its whole run and opens the connection on demand. Names
    // and versions are bound as statement parameters, so any text is stored as given.
    // None creates TVERSION: where it is missing they fail.

    // Reads the version recorded for `table` into `version`, which is left unchanged when
    // there is no row (an SQL NULL gives an empty text). 1 when the query could be run,
    // row or not; 0 for an empty name or a failed query, not logged.
    int GetTableVersion(const WString& table, WString& version);
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
    // logging; names are compared exactly (case-sensitive).
    int TableExists(const WString& table);
    int TriggerExists(const WString& trigger);
    // 1 when `column` occurs anywhere in the stored creation statement of `table`: a plain
    // substring test, so F_NAME is found in a table that has only F_NAME2. Needs an open
    // connection.
    int ColumnExists(const WString& table, const WString& column);
    // ALTER TABLE 'table' ADD 'column' type; `type` follows unchanged and may carry a
    // default or constraint clause. Needs an open connection; failures are not logged.
    int AddColumn(const WString& table, const WString& column, const WString& type);
    // Copies every row of `table`, by column position, into the table of the same name in
    // the database file at `attachPath`, in one transaction. Runs on the connection of the
    // database that holds the rows.
    int CopyTable(const WString& attachPath, const WString& table);
    // The other way round: copies every row of `table` of the database file at
    // `sourcePath` into this connection's table of the same name, by column position, with
    // the AUTOINCREMENT counter, in one transaction; a copy that fails is rolled back
    // whole, leaving the table as it was. Each source file is attached once, as
    // QV_SOURCE<n>, and stays attached for the next copies until DetachSources or Close, so
    // that SQLite reads its schema once. Opens the connection on demand; logs SQLite's text
    // for each failing statement.
    //
    // While sources are attached, no other statement may see them: one that would (a name
    // only a source has, a pragma, ATTACH or DETACH) makes the connection detach them
    // first and prepare it again, so that every statement acts exactly as it would
    // without them.
    int CopyTableFrom(const WString& sourcePath, const WString& table);
    // Rows the last CopyTableFrom carried; 0 after a failed one.
    int CopiedRows() const { return m_nCopiedRows; }
    // Detaches every source file of CopyTableFrom. 1 when none is left attached.
    int DetachSources();
    // Runs the statements of a TABLE item's `sql` as ExecuteAnsi does, except for its last
    // statements when they are plain CREATE INDEX statements on `table` (not UNIQUE, named
    // columns only) that `source` has no index for: those are kept back in `deferred`, in
    // order, for the caller to run with ExecuteAnsi once the rows are in. Every statement
    // run or kept back was prepared first, so a statement that is wrong fails here as it
    // would have. Without a source nothing is kept back.
    int ExecuteDeferringIndexes(const WString& sql, const WString& table, CDBConnection* source,
                                std::vector<WString>& deferred);
    // Attaches the file at `attachPath` as NEW_DB and runs `sql` inside a transaction. 1 when
    // the statement ran and committed. Whatever fails, no transaction stays open and NEW_DB
    // is detached before returning; each failing statement logs SQLite's error text.
    int ExecuteWithAttached(const WString& attachPath, const WString& sql);
    // Runs a complete trigger creation statement under g_csDBLock; logs SQLite's text and a
    // fixed message on failure.
    int CreateTrigger(const WString& sql);

    // Pushes what SQLite has written to the open database file through to the disk, so that
    // it survives a power loss, whatever journalling and syncing the connection was set to
    // use. 1 on success; logs the path on failure.
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

    // Names of the tables of the main database (SQLite's own left out) that hold at least
    // one row, or that cannot be read. 0 when the schema cannot be read.
    int TablesWithRows(std::vector<WString>& tables);

    // Rows changed by the last INSERT, UPDATE or DELETE on this connection (0 when closed).
    int LastChanges() const;

    int IsOpen() const { return m_bOpen; }
    WString GetPath() const { return m_strPath; }

    // The open handle, or null; for the table and version operations of this class.
    sqlite3* Handle() const { return m_pDB.get(); }

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    // A database file attached for CopyTableFrom.
    struct Source {
        WString strPath;
        std::string alias;  // QV_SOURCE<n>
    };
    // While one lives, the statements run are the connection's own and may use the sources.
    class OwnStatements {
    public:
        explicit OwnStatements(CDBConnection& connection)
            : m_connection(connection), m_bWas(connection.m_bOwnStatements) {
            m_connection.m_bOwnStatements = true;
        }
        ~OwnStatements() { m_connection.m_bOwnStatements = m_bWas; }
        OwnStatements(const OwnStatements&) = delete;
        OwnStatements& operator=(const OwnStatements&) = delete;

    private:
        CDBConnection& m_connection;
        bool m_bWas;
    };

    // SQLite's authorizer for this connection: keeps foreign keys off, and keeps the
    // attached sources out of every statement but the connection's own.
    static int Authorize(void* self, int action, const char* arg1, const char* arg2,
                         const char* database, const char* trigger);
    // Runs the statements of `sql` one after another as sqlite3_exec does, stopping at the
    // first failure; with `bLog`, SQLite's text of that failure is logged. A statement that
    // touches the sources is prepared again without them. With `holdTable`, a run of plain
    // CREATE INDEX statements on that table is not run but collected in `held` as long as
    // nothing else follows it: before any other statement the collected ones run.
    int RunStatements(const std::string& sql, bool bLog, const std::string* holdTable = nullptr,
                      std::vector<db::PlainIndex>* held = nullptr);
    // Opens on demand and runs one of the connection's own statements, logging a failure.
    int ExecuteOwn(const std::string& sql);
    // Attaches `path` as a source unless it is one already; its alias in `alias`.
    bool AttachSource(const WString& path, std::string& alias);
    // Attaches `attachPath` as NEW_DB around `body` in a transaction (ExecuteWithAttached,
    // CopyTable).
    template <typename Body>
    int RunAttached(const WString& attachPath, Body body);

    int m_bOpen = 0;
    WString m_strPath;
    std::unique_ptr<sqlite3, Closer> m_pDB;
    std::vector<Source> m_sources;
    int m_nNextSource = 1;
    int m_nCopiedRows = 0;
    bool m_bOwnStatements = false;
    bool m_bTouchedSource = false;
};
