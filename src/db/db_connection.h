// One SQLite database file: opened on demand, created when missing, statements run as
// UTF-8. Every operation returns 1 for success and 0 for failure and logs SQLite's error
// text when there is one.
#pragma once

#include <memory>

#include "platform/lock.h"
#include "platform/wstr.h"

struct sqlite3;

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

    int IsOpen() const { return m_bOpen; }
    WString GetPath() const { return m_strPath; }

    // The open handle, or null; for the table and version operations of this class.
    sqlite3* Handle() const { return m_pDB.get(); }

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };

    int m_bOpen = 0;
    WString m_strPath;
    std::unique_ptr<sqlite3, Closer> m_pDB;
};
