// Schema operations of a migration: existence tests, column addition, trigger creation,
// table copies, and statements that run with a second database file attached as NEW_DB.
#include <sqlite3.h>

#include <string>

#include "db/db_connection.h"
#include "db/index_statement.h"
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
int QueryHasRow(sqlite3* db, const std::string& sql, const WString& name) {
    if (db == nullptr) return 0;
    db::Statement query(db, sql);
    if (!query.Bind(1, name)) return 0;
    return query.Step() == SQLITE_ROW ? 1 : 0;
}

// Carries the AUTOINCREMENT counter of `table` from the database `from` into the database
// `to` of the same connection, never lowering the one the copied rows gave it. The copy
// alone sets the counter to the largest id it inserted (the raw-record copy too), so ids
// of rows deleted before the migration would be issued again; hence this runs after the
// rows. Nothing to do when `from` keeps no counter for the table or the table in `to` is
// not AUTOINCREMENT (SQLite keeps counters only for such tables, in sqlite_sequence).
bool CarrySequence(sqlite3* db, const std::string& from, const std::string& to,
                   const WString& table) {
    if (QueryHasRow(db,
                    "SELECT 1 FROM " + from +
                        ".sqlite_master WHERE type='table' AND name='sqlite_sequence' "
                        "AND EXISTS (SELECT 1 FROM " +
                        from + ".sqlite_sequence WHERE name=?1);",
                    table) == 0) {
        return true;
    }
    if (QueryHasRow(db,
                    "SELECT 1 FROM " + to +
                        ".sqlite_master WHERE type='table' AND name=?1 "
                        "AND sql LIKE '%AUTOINCREMENT%' AND EXISTS (SELECT 1 FROM " +
                        to + ".sqlite_master WHERE type='table' AND name='sqlite_sequence');",
                    table) == 0) {
        return true;
    }
    return db::ExecuteBound(db,
                            "UPDATE " + to + ".sqlite_sequence SET seq = max(seq, (SELECT " +
                                "max(seq) FROM " + from + ".sqlite_sequence WHERE name=?1)) " +
                                "WHERE name=?1;",
                            {table}) == 1 &&
           db::ExecuteBound(db,
                            "INSERT INTO " + to + ".sqlite_sequence(name, seq) SELECT name, " +
                                "seq FROM " + from + ".sqlite_sequence WHERE name=?1 AND NOT " +
                                "EXISTS (SELECT 1 FROM " + to + ".sqlite_sequence WHERE " +
                                "name=?1) ORDER BY seq DESC LIMIT 1;",
                            {table}) == 1;
}

// `text` as an SQL string literal.
std::string QuoteLiteral(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out.push_back(c);
        if (c == '\'') out.push_back(c);
    }
    return out + "'";
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
    return RunStatements(ToUtf8(sql), false);
}

// A failed ATTACH attaches nothing, so there is nothing to undo. A failed statement of the
// body has already been undone by SQLite, so committing keeps exactly what ran before it.
template <typename Body>
int CDBConnection::RunAttached(const WString& attachPath, Body body) {
    if (ExecuteOwn("ATTACH " + QuoteLiteral(plat::PathForSqlite(attachPath)) + " AS NEW_DB;") ==
        0) {
        return 0;
    }
    int result = 0;
    if (ExecuteOwn("BEGIN TRANSACTION;") == 1) {
        int ran = body();
        int committed = ExecuteOwn("COMMIT TRANSACTION;");
        // A refused COMMIT (a deferred constraint, a busy file) leaves the transaction
        // open, and NEW_DB cannot be detached inside it.
        if (Handle() != nullptr && sqlite3_get_autocommit(Handle()) == 0) {
            ExecuteOwn("ROLLBACK TRANSACTION;");
        }
        result = ran == 1 && committed == 1 ? 1 : 0;
    }
    ExecuteOwn("DETACH NEW_DB;");
    return result;
}

int CDBConnection::CopyTable(const WString& attachPath, const WString& table) {
    // Quoted, so that any table name works; the source is named main so that the rows can
    // only come from this connection's own file.
    const WString name = db::QuoteIdentifier(table);
    const WString insert = u"INSERT INTO NEW_DB." + name + u" SELECT * FROM main." + name + u";";
    return RunAttached(attachPath, [&] {
        return Execute(insert) == 1 && CarrySequence(Handle(), "main", "NEW_DB", table) ? 1 : 0;
    });
}

int CDBConnection::ExecuteWithAttached(const WString& attachPath, const WString& sql) {
    return RunAttached(attachPath, [&] { return Execute(sql); });
}

bool CDBConnection::AttachSource(const WString& path, std::string& alias) {
    for (const Source& source : m_sources) {
        if (source.strPath == path) {
            alias = source.alias;
            return true;
        }
    }
    // One attachment stays free for ExecuteWithAttached.
    const size_t limit = static_cast<size_t>(sqlite3_limit(Handle(), SQLITE_LIMIT_ATTACHED, -1));
    if (m_sources.size() + 1 >= limit && DetachSources() == 0) return false;
    Source source{path, "QV_SOURCE" + std::to_string(m_nNextSource++)};
    if (ExecuteOwn("ATTACH " + QuoteLiteral(plat::PathForSqlite(path)) + " AS " + source.alias +
                   ";") == 0) {
        return false;
    }
    alias = source.alias;
    m_sources.push_back(std::move(source));
    return true;
}

int CDBConnection::DetachSources() {
    if (!m_pDB) {
        m_sources.clear();
        return 1;
    }
    std::vector<Source> left;
    for (Source& source : m_sources) {
        if (ExecuteOwn("DETACH " + source.alias + ";") == 0) left.push_back(std::move(source));
    }
    m_sources.swap(left);
    return m_sources.empty() ? 1 : 0;
}

int CDBConnection::CopyTableFrom(const WString& sourcePath, const WString& table) {
    m_nCopiedRows = 0;
    if (Open() == 0) return 0;
    OwnStatements own(*this);
    std::string alias;
    if (!AttachSource(sourcePath, alias) || ExecuteOwn("BEGIN TRANSACTION;") == 0) return 0;
    const std::string name = ToUtf8(db::QuoteIdentifier(table));
    bool ok =
        ExecuteOwn("INSERT INTO main." + name + " SELECT * FROM " + alias + "." + name + ";") == 1;
    const int rows = ok ? sqlite3_changes(Handle()) : 0;
    ok = ok && CarrySequence(Handle(), alias, "main", table) &&
         ExecuteOwn("COMMIT TRANSACTION;") == 1;
    // Whatever failed, the table goes back to what it was: a refused COMMIT leaves the
    // transaction open, a failed statement may have left part of its work in it.
    if (sqlite3_get_autocommit(Handle()) == 0) ExecuteOwn("ROLLBACK TRANSACTION;");
    if (!ok) return 0;
    m_nCopiedRows = rows;
    return 1;
}

int CDBConnection::ExecuteDeferringIndexes(const WString& sql, const WString& table,
                                           CDBConnection* source, std::vector<WString>& deferred) {
    deferred.clear();
    if (m_bOpen == 0 || !m_pDB) return 0;
    if (source == nullptr || source->Handle() == nullptr) return ExecuteAnsi(sql);
    const std::string holdTable = ToUtf8(table);
    std::vector<db::PlainIndex> held;
    if (RunStatements(ToUtf8(sql), true, &holdTable, &held) == 0) return 0;
    // An index the source has as well does not stand in the way of the raw-record copy.
    // From the first one it lacks on, all wait, so that the indexes are still made in the
    // statement's order.
    size_t first = 0;
    while (first < held.size() &&
           QueryHasRow(source->Handle(),
                       "SELECT 1 FROM main.sqlite_master WHERE type='index' AND sql=?1;",
                       FromUtf8(held[first].storedSql)) == 1) {
        ++first;
    }
    for (size_t i = 0; i < first; ++i) {
        if (RunStatements(held[i].statement, true) == 0) return 0;
    }
    for (size_t i = first; i < held.size(); ++i)
        deferred.push_back(FromUtf8(held[i].statement));
    return 1;
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
