// Schema operations of a migration: existence tests, column addition, trigger creation,
// and statements that run with a second database file attached as NEW_DB.
#include <sqlite3.h>

#include <string>

#include "db/db_connection.h"
#include "db/statement.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

// Written as fixed code page 936 bytes whatever trigger failed; readers of the log look for
// exactly these bytes.
constexpr const char kTriggerFailed936[] =  // 创建触发器ON_TBL_TLMGROUP_DELETE_TRIGGER记录失败
    "\xB4\xB4\xBD\xA8\xB4\xA5\xB7\xA2\xC6\xF7ON_TBL_TLMGROUP_DELETE_TRIGGER"
    "\xBC\xC7\xC2\xBC\xCA\xA7\xB0\xDC";

// 1 when the query with `name` bound yields a row; any failure answers 0.
int QueryHasRow(sqlite3* db, const char* sql, const WString& name) {
    if (db == nullptr) return 0;
    db::Statement query(db, sql);
    if (!query.Bind(1, name)) return 0;
    return query.Step() == SQLITE_ROW ? 1 : 0;
}

// Attaches the file at `attachPath` as NEW_DB, runs `body` inside a transaction, commits
// and detaches. 1 when the body and the commit succeeded. Whatever fails, no transaction
// stays open and NEW_DB is detached before returning.
template <typename Body>
int RunAttached(CDBConnection& db, const WString& attachPath, Body body) {
    // A failed ATTACH attaches nothing, so there is nothing to undo.
    if (db.Execute(u"ATTACH '" + db::QuoteSingle(plat::ToNativePath(attachPath)) +
                   u"' AS NEW_DB;") == 0) {
        return 0;
    }
    int result = 0;
    if (db.Execute(u"BEGIN TRANSACTION;") == 1) {
        // A failed statement has already been undone by SQLite, so committing keeps exactly
        // what ran before it.
        int ran = body();
        int committed = db.Execute(u"COMMIT TRANSACTION;");
        // A refused COMMIT (a deferred constraint, a busy file) leaves the transaction
        // open, and NEW_DB cannot be detached inside it.
        if (db.Handle() != nullptr && sqlite3_get_autocommit(db.Handle()) == 0) {
            db.Execute(u"ROLLBACK TRANSACTION;");
        }
        result = ran == 1 && committed == 1 ? 1 : 0;
    }
    db.Execute(u"DETACH NEW_DB;");
    return result;
}

// Carries the AUTOINCREMENT counter of `table` from main into NEW_DB, never lowering
// the one the copied rows gave it. The copy alone sets the counter to the largest id it
// inserted, so ids of rows deleted before the migration would be issued again. Nothing
// to do when main keeps no counter for the table or NEW_DB's table is not AUTOINCREMENT
// (SQLite keeps counters only for such tables, in sqlite_sequence).
bool CarrySequence(sqlite3* db, const WString& table) {
    if (QueryHasRow(
            db,
            "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name='sqlite_sequence' "
            "AND EXISTS (SELECT 1 FROM main.sqlite_sequence WHERE name=?1);",
            table) == 0) {
        return true;
    }
    if (QueryHasRow(db,
                    "SELECT 1 FROM NEW_DB.sqlite_master WHERE type='table' AND name=?1 "
                    "AND sql LIKE '%AUTOINCREMENT%' AND EXISTS (SELECT 1 FROM "
                    "NEW_DB.sqlite_master WHERE type='table' AND name='sqlite_sequence');",
                    table) == 0) {
        return true;
    }
    return db::ExecuteBound(db,
                            "UPDATE NEW_DB.sqlite_sequence SET seq = max(seq, (SELECT max(seq) "
                            "FROM main.sqlite_sequence WHERE name=?1)) WHERE name=?1;",
                            {table}) == 1 &&
           db::ExecuteBound(db,
                            "INSERT INTO NEW_DB.sqlite_sequence(name, seq) SELECT name, seq "
                            "FROM main.sqlite_sequence WHERE name=?1 AND NOT EXISTS (SELECT 1 "
                            "FROM NEW_DB.sqlite_sequence WHERE name=?1) ORDER BY seq DESC LIMIT 1;",
                            {table}) == 1;
}

}  // namespace

int CDBConnection::TableExists(const WString& table) {
    return QueryHasRow(Handle(), "select * from sqlite_master where type='table' and name = ?;",
                       table);
}

int CDBConnection::TriggerExists(const WString& trigger) {
    return QueryHasRow(Handle(), "select * from sqlite_master where type='trigger' and name = ?;",
                       trigger);
}

int CDBConnection::ColumnExists(const WString& table, const WString& column) {
    if (m_bOpen == 0 || Handle() == nullptr) return 0;
    db::Statement query(Handle(),
                        "select sql from sqlite_master where tbl_name=? and type='table';");
    if (!query.Bind(1, table) || query.Step() != SQLITE_ROW) return 0;
    const char* sql = query.ColumnText(0);
    if (sql == nullptr) return 0;
    return std::string_view(sql).find(ToUtf8(column)) != std::string_view::npos ? 1 : 0;
}

int CDBConnection::AddColumn(const WString& table, const WString& column, const WString& type) {
    if (m_bOpen == 0 || Handle() == nullptr) return 0;
    const WString sql = u"ALTER TABLE '" + db::QuoteSingle(table) + u"' ADD '" +
                        db::QuoteSingle(column) + u"' " + type + u";";
    // The caller counts a refused column as a failed step; SQLite's text is not logged.
    return sqlite3_exec(Handle(), ToUtf8(sql).c_str(), nullptr, nullptr, nullptr) == SQLITE_OK ? 1
                                                                                               : 0;
}

int CDBConnection::CopyTable(const WString& attachPath, const WString& table) {
    // Quoted, so that any table name works; the source is named main so that the rows can
    // only come from this connection's own file.
    const WString name = db::QuoteIdentifier(table);
    const WString insert = u"INSERT INTO NEW_DB." + name + u" SELECT * FROM main." + name + u";";
    return RunAttached(*this, attachPath, [&] {
        return Execute(insert) == 1 && CarrySequence(Handle(), table) ? 1 : 0;
    });
}

int CDBConnection::ExecuteWithAttached(const WString& attachPath, const WString& sql) {
    return RunAttached(*this, attachPath, [&] { return Execute(sql); });
}

int CDBConnection::CreateTrigger(const WString& sql) {
    plat::ScopedLock lock(g_csDBLock);
    if (Open() == 0) return 0;
    if (Execute(sql) == 1) return 1;
    WriteLog(kLogCategory, kLogLevel, kTriggerFailed936);
    return 0;
}

int CDBConnection::TablesWithRows(std::vector<WString>& tables) {
    tables.clear();
    if (Handle() == nullptr) return 0;
    std::vector<WString> names;
    {
        db::Statement query(Handle(),
                            "SELECT name FROM main.sqlite_master WHERE type='table' AND name NOT "
                            "LIKE 'sqlite\\_%' ESCAPE '\\';");
        if (!query.Prepared()) return 0;
        int rc;
        while ((rc = query.Step()) == SQLITE_ROW)
            names.push_back(FromUtf8(query.ColumnText(0)));
        if (rc != SQLITE_DONE) return 0;
    }
    for (const WString& name : names) {
        db::Statement rows(
            Handle(), ToUtf8(u"SELECT 1 FROM main." + db::QuoteIdentifier(name) + u" LIMIT 1;"));
        const int rc = rows.Step();
        // A table that cannot be read counts as holding rows: nobody can say it does not.
        if (rc == SQLITE_ROW || rc != SQLITE_DONE) tables.push_back(name);
    }
    return 1;
}
