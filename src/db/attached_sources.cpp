// Reading other database files from a connection: the sources a table's rows are copied
// from (attached once each, as QV_SOURCE<n>, for every copy of a run) and the file an
// SQLTWO item reads as NEW_DB. Attaching never creates a file: a missing source is a
// missing source, not an empty database.
#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "db/db_connection.h"
#include "db/index_statement.h"
#include "db/statement.h"
#include "db/transaction.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

// `text` as an SQL string literal.
std::string QuoteLiteral(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out.push_back(c);
        if (c == '\'') out.push_back(c);
    }
    return out + "'";
}

std::string QuoteName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out.push_back(c);
        if (c == '"') out.push_back(c);
    }
    return out + "\"";
}

// 1 when the query with `name` bound yields a row; any failure answers 0.
int QueryHasRow(sqlite3* db, const std::string& sql, const WString& name) {
    if (db == nullptr) return 0;
    db::Statement query(db, sql);
    if (!query.Bind(1, name)) return 0;
    return query.Step() == SQLITE_ROW ? 1 : 0;
}

// The number the query yields, or -1 when it fails.
int64_t CountRows(sqlite3* db, const std::string& sql) {
    db::Statement query(db, sql);
    return query.Step() == SQLITE_ROW ? query.ColumnInt64(0) : -1;
}

// What a copy needs to know of a table in one of the connection's databases.
struct TableShape {
    bool bFound = false;
    bool bRowid = false;               // it has rowids (not WITHOUT ROWID)
    bool bVirtual = false;             // a virtual table
    bool bFullText = false;            // a full-text table, whose rowids the user's rows refer to
    bool bAliased = false;             // an INTEGER PRIMARY KEY names the rowid
    bool bHidden = false;              // it has generated or hidden columns
    bool bStrict = false;              // a STRICT table: its ANY columns convert nothing
    int nAliasColumn = -1;             // the position of the column that names the rowid
    std::vector<std::string> columns;  // the columns a row is written with, in order
    std::vector<bool> notNull;         // of each of them, whether it is NOT NULL
    std::vector<std::string> types;    // and its declared type
};

TableShape ShapeOf(sqlite3* db, const std::string& schema, const std::string& table) {
    TableShape shape;
    const std::string quotedSchema = QuoteName(schema);
    const std::string literal = QuoteLiteral(table);
    {
        db::Statement list(db, "PRAGMA " + quotedSchema + ".table_list(" + literal + ");");
        if (list.Step() != SQLITE_ROW) return shape;
        const std::string type = list.ColumnText(2) != nullptr ? list.ColumnText(2) : "";
        shape.bFound = true;
        shape.bVirtual = type == "virtual";
        shape.bRowid = list.ColumnText(4) != nullptr && std::string(list.ColumnText(4)) == "0";
        shape.bStrict = list.ColumnText(5) != nullptr && std::string(list.ColumnText(5)) == "1";
    }
    int nPrimary = 0;
    bool bIntegerPrimary = false;
    {
        db::Statement info(db, "PRAGMA " + quotedSchema + ".table_xinfo(" + literal + ");");
        while (info.Step() == SQLITE_ROW) {
            const char* name = info.ColumnText(1);
            const char* type = info.ColumnText(2);
            const int pk = info.ColumnText(5) != nullptr ? std::atoi(info.ColumnText(5)) : 0;
            const int hidden = info.ColumnText(6) != nullptr ? std::atoi(info.ColumnText(6)) : 0;
            if (hidden != 0) {
                shape.bHidden = true;
                continue;
            }
            shape.columns.emplace_back(name != nullptr ? name : "");
            shape.types.emplace_back(type != nullptr ? type : "");
            shape.notNull.push_back(info.ColumnText(3) != nullptr &&
                                    std::string(info.ColumnText(3)) != "0");
            if (pk > 0) {
                ++nPrimary;
                shape.nAliasColumn = static_cast<int>(shape.columns.size()) - 1;
                bIntegerPrimary = type != nullptr && sqlite3_stricmp(type, "INTEGER") == 0;
            }
        }
    }
    // "INTEGER PRIMARY KEY DESC" is the one spelling that makes a separate index instead
    // of naming the rowid: the index is what tells.
    if (shape.bRowid && !shape.bVirtual && nPrimary == 1 && bIntegerPrimary) {
        shape.bAliased = true;
        db::Statement indexes(db, "PRAGMA " + quotedSchema + ".index_list(" + literal + ");");
        while (indexes.Step() == SQLITE_ROW) {
            if (indexes.ColumnText(3) != nullptr && std::string(indexes.ColumnText(3)) == "pk") {
                shape.bAliased = false;
            }
        }
    }
    if (!shape.bAliased) shape.nAliasColumn = -1;
    if (shape.bVirtual) {
        db::Statement sql(db, "SELECT sql FROM " + quotedSchema +
                                  ".sqlite_master WHERE type='table' AND name=" + literal +
                                  " COLLATE NOCASE;");
        if (sql.Step() == SQLITE_ROW && sql.ColumnText(0) != nullptr) {
            std::string text = sql.ColumnText(0);
            for (char& c : text)
                c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
            shape.bFullText = text.find("USING FTS") != std::string::npos;
        }
    }
    return shape;
}

// A name for the rowid that no column of `shape` takes; empty when all three are taken.
std::string RowidName(const TableShape& shape) {
    for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
        bool taken = false;
        for (const std::string& column : shape.columns) {
            if (sqlite3_stricmp(column.c_str(), candidate) == 0) taken = true;
        }
        if (!taken) return candidate;
    }
    return std::string();
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        if (!out.empty()) out += ", ";
        out += QuoteName(name);
    }
    return out;
}

// True when both hold the same names, ignoring ASCII case, but not in the same order.
bool Reordered(const std::vector<std::string>& from, const std::vector<std::string>& to) {
    if (from.size() != to.size()) return false;
    bool same = true;
    for (size_t i = 0; i < from.size(); ++i) {
        if (sqlite3_stricmp(from[i].c_str(), to[i].c_str()) != 0) same = false;
    }
    if (same) return false;
    for (const std::string& name : from) {
        bool found = false;
        for (const std::string& other : to) {
            if (sqlite3_stricmp(name.c_str(), other.c_str()) == 0) found = true;
        }
        if (!found) return false;
    }
    return true;
}

std::string Listed(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        if (!out.empty()) out += ",";
        out += name;
    }
    return out;
}

// Carries the AUTOINCREMENT counter of `table` from the database `from` into the database
// `to` of the same connection, never lowering the one the copied rows gave it. The copy
// alone sets the counter to the largest id it inserted, so ids of rows deleted before the
// migration would be issued again; hence this runs after the rows. Nothing to do when
// `from` keeps no counter for the table or the table in `to` is not AUTOINCREMENT (SQLite
// keeps counters only for such tables, in sqlite_sequence).
bool CarrySequence(sqlite3* db, const std::string& from, const std::string& to,
                   const WString& table) {
    if (QueryHasRow(db,
                    "SELECT 1 FROM " + from +
                        ".sqlite_master WHERE type='table' AND name='sqlite_sequence' "
                        "AND EXISTS (SELECT 1 FROM " +
                        from + ".sqlite_sequence WHERE name=?1 COLLATE NOCASE);",
                    table) == 0) {
        return true;
    }
    if (QueryHasRow(db,
                    "SELECT 1 FROM " + to +
                        ".sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE "
                        "AND sql LIKE '%AUTOINCREMENT%' AND EXISTS (SELECT 1 FROM " +
                        to + ".sqlite_master WHERE type='table' AND name='sqlite_sequence');",
                    table) == 0) {
        return true;
    }
    // The counter is kept under the name the new table was created with.
    return db::ExecuteBound(
               db,
               "UPDATE " + to + ".sqlite_sequence SET seq = max(seq, (SELECT max(seq) FROM " +
                   from + ".sqlite_sequence WHERE name=?1 COLLATE NOCASE)) WHERE name=?1 " +
                   "COLLATE NOCASE;",
               {table}) == 1 &&
           db::ExecuteBound(
               db,
               "INSERT INTO " + to + ".sqlite_sequence(name, seq) SELECT (SELECT name FROM " + to +
                   ".sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE), seq " + "FROM " +
                   from + ".sqlite_sequence WHERE name=?1 COLLATE NOCASE AND NOT " +
                   "EXISTS (SELECT 1 FROM " + to + ".sqlite_sequence WHERE name=?1 COLLATE " +
                   "NOCASE) ORDER BY seq DESC LIMIT 1;",
               {table}) == 1;
}

// Rows of `source` with a NULL in any of `columns`; 0 for none, -1 when the query fails.
int64_t CountNullRows(sqlite3* db, const std::string& source,
                      const std::vector<std::string>& columns) {
    if (columns.empty()) return 0;
    std::string nulls;
    for (const std::string& column : columns)
        nulls += (nulls.empty() ? "" : " OR ") + QuoteName(column) + " IS NULL";
    return CountRows(db, "SELECT count(*) FROM " + source + " WHERE " + nulls + ";");
}

// The affinity SQLite gives a column of this declared type, by its rules: 'I'nteger,
// 'T'ext, 'B'lob (none), 'R'eal, 'N'umeric.
char Affinity(std::string type) {
    for (char& c : type)
        c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    if (type.find("INT") != std::string::npos) return 'I';
    if (type.find("CHAR") != std::string::npos || type.find("CLOB") != std::string::npos ||
        type.find("TEXT") != std::string::npos) {
        return 'T';
    }
    if (type.empty() || type.find("BLOB") != std::string::npos) return 'B';
    if (type.find("REAL") != std::string::npos || type.find("FLOA") != std::string::npos ||
        type.find("DOUB") != std::string::npos) {
        return 'R';
    }
    return 'N';
}

// Whether the value `o`, stored where nothing converts it, arrived unchanged as `n`: the
// same value; an equal number (5 and 5.0); a text the number reads back as, or a whole
// number's text for a whole REAL ('5' and 5.0); a number whose text reads back as exactly
// that number (a REAL's text keeps 15 digits only).
std::string Unchanged(const std::string& o, const std::string& n) {
    std::string sql =
        "(quote(@o) = quote(@n)"
        " OR (typeof(@o) IN ('integer','real') AND typeof(@n) IN ('integer','real') AND @o = @n)"
        " OR (typeof(@o) = 'text' AND typeof(@n) IN ('integer','real') AND (CAST(@n AS TEXT) = @o"
        " OR (CAST(@n AS INTEGER) = @n AND CAST(CAST(@n AS INTEGER) AS TEXT) = @o)))"
        " OR (typeof(@o) IN ('integer','real') AND typeof(@n) = 'text'"
        " AND CAST(@o AS TEXT) = @n AND CAST(@n AS REAL) = @o))";
    for (size_t at; (at = sql.find("@o")) != std::string::npos;)
        sql.replace(at, 2, o);
    for (size_t at; (at = sql.find("@n")) != std::string::npos;)
        sql.replace(at, 2, n);
    return sql;
}

// Rows of `source` with a value that a column of the new table would store other than it
// was read: a new declared type converts by its affinity, and '007' becomes 7, a 20-digit
// number text a rounded REAL, a large integer a REAL without its low digits. A text that
// reads back the same ('5' and 5) and an equal number (5 and 5.0) count as unchanged.
// Each such value is stored twice in a scratch table, once in a column of no affinity and
// once in one of the new column's, and the two compared. -1 when that fails.
int64_t CountConverted(sqlite3* db, const std::string& source, const TableShape& from,
                       const TableShape& to) {
    std::string columns, selected, changed;
    for (size_t i = 0; i < to.columns.size(); ++i) {
        const char affinity = to.bStrict && sqlite3_stricmp(to.types[i].c_str(), "ANY") == 0
                                  ? 'B'
                                  : Affinity(to.types[i]);
        if (affinity == 'B' || affinity == Affinity(from.types[i])) continue;
        const std::string o = "o" + std::to_string(i);
        const std::string n = "n" + std::to_string(i);
        const char* type = affinity == 'I'   ? "INTEGER"
                           : affinity == 'T' ? "TEXT"
                           : affinity == 'R' ? "REAL"
                                             : "NUMERIC";
        columns += (columns.empty() ? "" : ", ") + o + ", " + n + " " + type;
        selected += (selected.empty() ? "" : ", ") + QuoteName(from.columns[i]) + ", " +
                    QuoteName(from.columns[i]);
        changed += (changed.empty() ? "NOT (" : " AND ") + Unchanged(o, n);
    }
    if (columns.empty()) return 0;
    changed += ")";
    const std::string create =
        "DROP TABLE IF EXISTS temp.QV_CONVERTED; CREATE TEMP TABLE "
        "QV_CONVERTED(" +
        columns +
        "); INSERT INTO temp.QV_CONVERTED "
        "SELECT " +
        selected + " FROM " + source + ";";
    int64_t count = -1;
    if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
        count = CountRows(db, "SELECT count(*) FROM temp.QV_CONVERTED WHERE " + changed + ";");
    }
    sqlite3_exec(db, "DROP TABLE IF EXISTS temp.QV_CONVERTED;", nullptr, nullptr, nullptr);
    return count;
}

// The triggers on `table` (in the new file, and temporary ones), as the statements that
// make them again.
struct HeldTrigger {
    std::string schema;
    std::string name;
    std::string sql;
};
std::vector<HeldTrigger> TriggersOn(sqlite3* db, const WString& table) {
    std::vector<HeldTrigger> triggers;
    for (const char* schema : {"main", "temp"}) {
        db::Statement query(db, std::string("SELECT name, sql FROM ") + schema +
                                    ".sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 "
                                    "COLLATE NOCASE;");
        query.Bind(1, table);
        while (query.Step() == SQLITE_ROW) {
            if (query.ColumnText(0) == nullptr || query.ColumnText(1) == nullptr) continue;
            triggers.push_back({schema, query.ColumnText(0), query.ColumnText(1)});
        }
    }
    return triggers;
}

}  // namespace

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
    if (!CompanionsArePlain(path)) return false;
    Source source{path, "QV_SOURCE" + std::to_string(m_nNextSource++)};
    if (Run("ATTACH " + QuoteLiteral(plat::SqliteUri(path, "rw")) + " AS " + source.alias + ";",
            db::Origin::kProgram) == 0) {
        return false;
    }
    alias = source.alias;
    m_sources.push_back(std::move(source));
    return true;
}

int CDBConnection::CopyTableFrom(const WString& sourcePath, const WString& table) {
    m_nCopiedRows = 0;
    m_nSourceRows = -1;
    if (Open() == 0) return 0;
    std::string alias;
    if (!AttachSource(sourcePath, alias)) return 0;
    sqlite3* db = Handle();
    const std::string name = ToUtf8(table);
    const TableShape from = ShapeOf(db, alias, name);
    const TableShape to = ShapeOf(db, "main", name);
    if (!from.bFound || !to.bFound) return FailWith(u"无法读取表的结构: " + table);
    // Rows are copied by position, so the two tables must have as many columns.
    if (from.columns.size() != to.columns.size()) {
        return FailWith(u"表" + table + u"的新定义有 " + wstr::FromInt(to.columns.size()) +
                        u" 列, 原表有 " + wstr::FromInt(from.columns.size()) +
                        u" 列, 数据无法按位置复制");
    }
    if (Reordered(from.columns, to.columns)) {
        WriteLog(kLogCategory, kLogLevel,
                 u"警告: 表" + table + u"的新定义与原表列名相同但顺序不同, 数据按位置复制: " +
                     FromUtf8(Listed(from.columns)) + u" -> " + FromUtf8(Listed(to.columns)));
    }
    // Rows keep their rowids where other rows may refer to them: a table without an
    // INTEGER PRIMARY KEY may have them renumbered by the plain form. The plain form is
    // tried first all the same, because it lets SQLite copy raw records when the two
    // tables agree (keeping the rowids when the new table has an index); whether it kept
    // them shows in the smallest and largest rowids, and if it did not, it is undone and
    // the rowids are given explicitly.
    const std::string source = alias + "." + QuoteName(name);
    const std::string target = "main." + QuoteName(name);
    const bool bKeepRowids = from.bRowid && to.bRowid && !to.bAliased &&
                             (!to.bVirtual || to.bFullText) && !RowidName(from).empty() &&
                             !RowidName(to).empty();
    const std::string plain = "INSERT INTO " + target + " SELECT * FROM " + source + ";";
    const std::string rowidTo = bKeepRowids ? RowidName(to) + ", " : std::string();
    const std::string rowidFrom = bKeepRowids ? RowidName(from) + ", " : std::string();
    const std::string listed = "INSERT INTO " + target + "(" + rowidTo + JoinNames(to.columns) +
                               ") SELECT " + rowidFrom + JoinNames(from.columns) + " FROM " +
                               source + ";";
    // Without a conflict clause that replaces or ignores, a trigger or a virtual table, a
    // row read is a row inserted or the copy fails: the count of inserted rows is the count
    // of rows read. Otherwise both tables are counted.
    const bool bMayDrop = to.bVirtual || QueryHasRow(db,
                                                     "SELECT 1 FROM main.sqlite_master WHERE "
                                                     "tbl_name = ?1 COLLATE NOCASE AND "
                                                     "(type = 'trigger' OR sql LIKE "
                                                     "'%REPLACE%' OR sql LIKE '%IGNORE%');",
                                                     table) == 1;

    db::Transaction transaction(*this);
    if (!transaction.Active()) return 0;
    int64_t before = 0;
    int64_t held = -1;
    if (bMayDrop) {
        before = CountRows(db, "SELECT count(*) FROM " + target + ";");
        held = CountRows(db, "SELECT count(*) FROM " + source + ";");
        if (before < 0 || held < 0) return FailWith(FromUtf8(sqlite3_errmsg(db)));
    }
    // Values that would not arrive as they were read, though every row does: NOT NULL ON
    // CONFLICT REPLACE puts the default in place of a NULL; a NULL given to the column that
    // names the rowid becomes a new rowid; a new declared type converts by its affinity.
    std::vector<std::string> notNull;
    for (size_t i = 0; bMayDrop && i < to.columns.size(); ++i) {
        if (to.notNull[i]) notNull.push_back(from.columns[i]);
    }
    const int64_t nNull = CountNullRows(db, source, notNull);
    if (nNull != 0) {
        return FailWith(nNull < 0 ? FromUtf8(sqlite3_errmsg(db))
                                  : u"表" + table + u"的新定义不允许空值, 原表有 " +
                                        wstr::FromInt(nNull) + u" 行的值为空, 数据无法原样复制");
    }
    const int64_t nNullRowid =
        to.nAliasColumn < 0
            ? 0
            : CountNullRows(db, source, {from.columns[static_cast<size_t>(to.nAliasColumn)]});
    if (nNullRowid != 0) {
        return FailWith(nNullRowid < 0
                            ? FromUtf8(sqlite3_errmsg(db))
                            : u"表" + table + u"的新定义以 INTEGER PRIMARY KEY 为行号, 原表有 " +
                                  wstr::FromInt(nNullRowid) + u" 行的值为空, 数据无法原样复制");
    }
    const int64_t nConverted = to.bVirtual ? 0 : CountConverted(db, source, from, to);
    if (nConverted != 0) {
        return FailWith(nConverted < 0
                            ? FromUtf8(sqlite3_errmsg(db))
                            : u"表" + table + u"的新定义改变了列的类型, 原表有 " +
                                  wstr::FromInt(nConverted) + u" 行的值会被改变, 数据无法原样复制");
    }
    // A trigger the TABLE item made on its table is for the client's rows to come: firing
    // on the copied ones, it would rewrite what was read ("touch the timestamp"). The
    // triggers step aside for the copy and are made again, in the same transaction.
    const std::vector<HeldTrigger> triggers = TriggersOn(db, table);
    for (const HeldTrigger& trigger : triggers) {
        if (Run("DROP TRIGGER " + QuoteName(trigger.schema) + "." + QuoteName(trigger.name) + ";",
                db::Origin::kProgram) == 0) {
            return 0;
        }
    }
    // Rows the TABLE item's own statements put there would make a renumbered copy look
    // like one that kept its rowids.
    bool bPlain =
        !from.bHidden && !to.bHidden &&
        !(bKeepRowids && CountRows(db, "SELECT EXISTS (SELECT 1 FROM " + target + ");") != 0);
    int64_t inserted = 0;
    if (bPlain) {
        db::Savepoint attempt(*this, "QV_COPY");
        if (!attempt.Active() || Run(plain, db::Origin::kProgram) == 0) return 0;
        inserted = sqlite3_changes64(db);
        // Renumbered rows run from 1 to their count: agreeing on both ends, with as many
        // rows, the rowids are the source's own (a zero or negative one shows at the low end).
        const std::string ends = "SELECT (min(" + RowidName(to) + "), max(" + RowidName(to) +
                                 ")) IS (SELECT min(" + RowidName(from) + "), max(" +
                                 RowidName(from) + ") FROM " + source + ") FROM " + target + ";";
        if (bKeepRowids && CountRows(db, ends) != 1) {
            attempt.Rollback();
            bPlain = false;
        } else if (!attempt.Release()) {
            return 0;
        }
    }
    if (!bPlain) {
        if (Run(listed, db::Origin::kProgram) == 0) return 0;
        inserted = sqlite3_changes64(db);
    }
    if (!bMayDrop) held = inserted;
    m_nSourceRows = held;
    const int64_t after =
        bMayDrop ? CountRows(db, "SELECT count(*) FROM " + target + ";") : before + inserted;
    // A definition that replaces or ignores conflicting rows would make the copy succeed
    // with rows missing.
    if (after - before != held) {
        const int64_t got = after < 0 ? 0 : after - before;
        return FailWith(u"表" + table + u"的数据复制不完整: 原表 " + wstr::FromInt(held) +
                        u" 行, 新表得到 " + wstr::FromInt(got) + u" 行, 缺少 " +
                        wstr::FromInt(held - got) + u" 行");
    }
    for (const HeldTrigger& trigger : triggers) {
        // SQLite keeps a temporary trigger's statement without its TEMP.
        const bool bTemp = trigger.schema == "temp" && trigger.sql.compare(0, 7, "CREATE ") == 0;
        const std::string sql = bTemp ? "CREATE TEMP " + trigger.sql.substr(7) : trigger.sql;
        if (Run(sql + ";", db::Origin::kProgram) == 0) return 0;
    }
    if (!CarrySequence(db, alias, "main", table) || !transaction.Commit()) return 0;
    m_nCopiedRows = held;
    return 1;
}

int CDBConnection::ExecuteDeferringIndexes(const WString& sql, const WString& table,
                                           const WString& sourcePath,
                                           std::vector<WString>& deferred) {
    deferred.clear();
    if (m_bOpen == 0 || !m_pDB) return 0;
    std::string alias;
    if (sourcePath.empty() || !AttachSource(sourcePath, alias)) return ExecuteAnsi(sql);
    const std::string holdTable = ToUtf8(table);
    std::vector<db::PlainIndex> held;
    {
        OriginScope scope(*this, db::Origin::kScript);
        if (RunStatements(ToUtf8(sql), true, &holdTable, &held) == 0) return 0;
    }
    // An index the source has as well does not stand in the way of the raw-record copy.
    // From the first one it lacks on, all wait, so that the indexes are still made in the
    // statement's order.
    size_t first = 0;
    while (first < held.size() &&
           QueryHasRow(Handle(),
                       "SELECT 1 FROM " + alias + ".sqlite_master WHERE type='index' AND sql=?1;",
                       FromUtf8(held[first].storedSql)) == 1) {
        ++first;
    }
    for (size_t i = 0; i < first; ++i) {
        if (Run(held[i].statement, db::Origin::kScript) == 0) return 0;
    }
    for (size_t i = first; i < held.size(); ++i)
        deferred.push_back(FromUtf8(held[i].statement));
    return 1;
}

int CDBConnection::ExecuteWithAttached(const WString& attachPath, const WString& sql) {
    if (Open() == 0) return 0;
    // Attaching a missing file would create it: a missing database is a missing one.
    if (!plat::PathExists(attachPath)) {
        WriteLog(kLogCategory, kLogLevel, u"要附加的数据库不存在: " + attachPath);
        return 0;
    }
    if (!CompanionsArePlain(attachPath)) return 0;
    if (Run("ATTACH " + QuoteLiteral(plat::SqliteUri(attachPath, "rw")) + " AS NEW_DB;",
            db::Origin::kProgram) == 0) {
        return 0;
    }
    int result = 0;
    {
        db::Transaction transaction(*this);
        if (transaction.Active() && Run(ToUtf8(sql), db::Origin::kScript) == 1) {
            result = transaction.Commit() ? 1 : 0;
        }
    }
    Run("DETACH NEW_DB;", db::Origin::kProgram);
    return result;
}
