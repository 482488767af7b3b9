// Schema operations of a migration: existence tests, column addition, trigger creation,
// and the list of tables that hold the user's rows.
#include <sqlite3.h>

#include <string>

#include "db/db_connection.h"
#include "db/statement.h"
#include "log/log.h"
#include "platform/codepage.h"

namespace {

// Written as fixed code page 936 bytes whatever trigger failed; readers of the log look for
// exactly these bytes.
constexpr const char kTriggerFailed936[] =  // 创建触发器ON_TBL_TLMGROUP_DELETE_TRIGGER记录失败
    "\xB4\xB4\xBD\xA8\xB4\xA5\xB7\xA2\xC6\xF7ON_TBL_TLMGROUP_DELETE_TRIGGER"
    "\xBC\xC7\xC2\xBC\xCA\xA7\xB0\xDC";

// 1 when the query with `name` bound yields a row; any failure answers 0.
int QueryHasRow(sqlite3* db, const std::string& sql, const WString& name) {
    if (db == nullptr) return 0;
    db::Statement query(db, sql);
    if (!query.Bind(1, name)) return 0;
    return query.Step() == SQLITE_ROW ? 1 : 0;
}

}  // namespace

// SQLite matches identifiers without regard to the case of ASCII letters: TUser and TUSER
// are one table to it, so they are one table here.
int CDBConnection::TableExists(const WString& table) {
    return QueryHasRow(Handle(),
                       "select * from sqlite_master where type='table' and name = ? "
                       "COLLATE NOCASE;",
                       table);
}

int CDBConnection::TriggerExists(const WString& trigger) {
    return QueryHasRow(Handle(),
                       "select * from sqlite_master where type='trigger' and name = ? "
                       "COLLATE NOCASE;",
                       trigger);
}

// The table's columns by name, generated ones included: a word in the table's definition
// (a longer column's name, a type, a default) is no column.
int CDBConnection::ColumnExists(const WString& table, const WString& column) {
    if (m_bOpen == 0 || Handle() == nullptr) return 0;
    db::Statement query(Handle(),
                        "SELECT 1 FROM pragma_table_xinfo(?1, 'main') WHERE name=?2 COLLATE "
                        "NOCASE;");
    if (!query.Bind(1, table) || !query.Bind(2, column)) return 0;
    return query.Step() == SQLITE_ROW ? 1 : 0;
}

int CDBConnection::AddColumn(const WString& table, const WString& column, const WString& type) {
    if (m_bOpen == 0 || Handle() == nullptr) return 0;
    const WString sql = u"ALTER TABLE '" + db::QuoteSingle(table) + u"' ADD '" +
                        db::QuoteSingle(column) + u"' " + type + u";";
    // The caller counts a refused column as a failed step; SQLite's text is not logged.
    return Run(ToUtf8(sql), db::Origin::kScript, false);
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
        // Virtual tables keep their contents in shadow tables of their own, which SQLite
        // marks; a copy of the virtual table carries them.
        db::Statement query(Handle(),
                            "SELECT name FROM pragma_table_list WHERE schema='main' AND "
                            "type IN ('table', 'virtual') AND name NOT LIKE 'sqlite\\_%' "
                            "ESCAPE '\\';");
        int rc = SQLITE_ERROR;
        if (query.Prepared()) {
            while ((rc = query.Step()) == SQLITE_ROW)
                names.push_back(FromUtf8(query.ColumnText(0)));
        }
        if (rc != SQLITE_DONE) {
            // A schema SQLite cannot fully read (a virtual table of an unknown module): every
            // table that is not SQLite's own counts.
            names.clear();
            db::Statement plain(Handle(),
                                "SELECT name FROM main.sqlite_master WHERE type='table' AND "
                                "name NOT LIKE 'sqlite\\_%' ESCAPE '\\';");
            if (!plain.Prepared()) return 0;
            while ((rc = plain.Step()) == SQLITE_ROW)
                names.push_back(FromUtf8(plain.ColumnText(0)));
            if (rc != SQLITE_DONE) return 0;
        }
    }
    for (const WString& name : names) {
        db::Statement rows(
            Handle(), ToUtf8(u"SELECT 1 FROM main." + db::QuoteIdentifier(name) + u" LIMIT 1;"));
        const int rc = rows.Step();
        // A table that cannot be read counts as holding rows: nobody can say it does not.
        if (rc != SQLITE_DONE) tables.push_back(name);
    }
    return 1;
}
