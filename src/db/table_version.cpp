// The per-table version registry: table TVERSION, one row per table name, "TMAIN" for the
// database as a whole.
#include <sqlite3.h>

#include "db/db_connection.h"
#include "db/statement.h"
#include "log/log.h"
#include "platform/codepage.h"

namespace {

// These two messages have always been written as fixed code page 936 bytes, whatever the
// system's code page; readers of the log look for exactly these bytes.
constexpr const char kDeleteFailed936[] =  // 删除多余版本号
    "\xC9\xBE\xB3\xFD\xB6\xE0\xD3\xE0\xB0\xE6\xB1\xBE\xBA\xC5";
constexpr const char kUpdateFailed936[] =  // 更新版本号失败
    "\xB8\xFC\xD0\xC2\xB0\xE6\xB1\xBE\xBA\xC5\xCA\xA7\xB0\xDC";

}  // namespace

int CDBConnection::CountTableVersions(const WString& table, int& count) {
    plat::ScopedLock lock(g_csDBLock);
    if (Open() == 0) return 0;
    db::Statement query(Handle(), "select count(*) as RowCount from TVERSION where F_TABLENAME=?;");
    if (!query.Bind(1, table)) return 0;
    int rc = query.Step();
    if (rc == SQLITE_DONE) {
        count = 0;
        return 1;
    }
    if (rc != SQLITE_ROW) return 0;
    // Read the way atoi reads: whatever the value is, below 1 means no rows.
    const char* text = query.ColumnText(0);
    int value = text == nullptr ? 0 : wstr::ToInt(std::string_view(text));
    count = value < 1 ? 0 : value;
    return 1;
}

int CDBConnection::GetTableVersion(const WString& table, WString& version) {
    plat::ScopedLock lock(g_csDBLock);
    if (table.empty()) return 0;
    if (Open() == 0) return 0;
    db::Statement query(Handle(), "select F_TABLEVERSION from TVERSION  where F_TABLENAME=?;");
    if (!query.Bind(1, table)) return 0;
    // Only the first row counts; a failing step reads as "no row".
    if (query.Step() == SQLITE_ROW) version = FromUtf8(query.ColumnText(0));
    return 1;
}

db::VersionRead CDBConnection::ReadTableVersion(const WString& table, WString& version) {
    plat::ScopedLock lock(g_csDBLock);
    if (Open() == 0) return db::VersionRead::kUnreadable;
    db::Statement query(Handle(), "select F_TABLEVERSION from TVERSION  where F_TABLENAME=?;");
    if (!query.Prepared()) {
        // The query fails alike for a database without the table and for one SQLite cannot
        // read (busy, locked, damaged): only the schema can tell them apart.
        db::Statement schema(Handle(),
                             "SELECT count(*) FROM main.sqlite_master WHERE type='table' AND "
                             "name='TVERSION' COLLATE NOCASE;");
        if (schema.Step() != SQLITE_ROW || schema.ColumnText(0) == nullptr) {
            m_strLastError = FromUtf8(sqlite3_errmsg(Handle()));
            return db::VersionRead::kUnreadable;
        }
        // A TVERSION without the version columns holds no version either.
        return db::VersionRead::kNone;
    }
    if (!query.Bind(1, table)) return db::VersionRead::kUnreadable;
    switch (query.Step()) {
        case SQLITE_ROW:
            version = FromUtf8(query.ColumnText(0));
            return db::VersionRead::kFound;
        case SQLITE_DONE:
            return db::VersionRead::kNone;
        default:
            m_strLastError = FromUtf8(sqlite3_errmsg(Handle()));
            return db::VersionRead::kUnreadable;
    }
}

int CDBConnection::DeleteTableVersion(const WString& table) {
    plat::ScopedLock lock(g_csDBLock);
    if (table.empty()) return 0;
    if (Open() == 0) return 0;
    if (db::ExecuteBound(Handle(), "delete from TVERSION where F_TABLENAME=?", {table}) == 1) {
        return 1;
    }
    WriteLog(kLogCategory, kLogLevel, kDeleteFailed936);
    return 0;
}

int CDBConnection::UpdateTableVersion(const WString& table, const WString& version) {
    plat::ScopedLock lock(g_csDBLock);
    if (Open() == 0) return 0;
    if (db::ExecuteBound(Handle(), "UPDATE TVERSION SET F_TABLEVERSION=? WHERE F_TABLENAME=?;",
                         {version, table}) == 1) {
        return 1;
    }
    WriteLog(kLogCategory, kLogLevel, u"更新版本号失败");
    return 0;
}

int CDBConnection::InsertTableVersion(const WString& table, const WString& version) {
    plat::ScopedLock lock(g_csDBLock);
    if (Open() == 0) return 0;
    if (db::ExecuteBound(Handle(),
                         "insert into TVERSION(F_TABLENAME, F_TABLEVERSION) values(?, ?);",
                         {table, version}) == 1) {
        return 1;
    }
    WriteLog(kLogCategory, kLogLevel, kUpdateFailed936);
    return 0;
}

int CDBConnection::SetTableVersion(const WString& table, const WString& version) {
    // Each step takes the lock by itself. Two writers racing on one name may both insert;
    // the next call finds the duplicates and replaces them with one row.
    int count = 0;
    if (CountTableVersions(table, count) == 0 || count == 0) {
        return InsertTableVersion(table, version);
    }
    if (count == 1) return UpdateTableVersion(table, version);
    if (DeleteTableVersion(table) == 0) return 0;
    return InsertTableVersion(table, version);
}
