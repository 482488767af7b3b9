#include "dbrtool/schema.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <memory>

#include "platform/files.h"

namespace dbrtool {
namespace {

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

std::string Text(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

std::string Quoted(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted.push_back(c);
        if (c == '"') quoted.push_back('"');
    }
    return quoted + "\"";
}

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

// Runs `sql` and hands every row to `row`; false, with SQLite's text, when it fails.
template <typename RowFunction>
bool Query(sqlite3* db, const std::string& sql, std::string& error, RowFunction row) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    Statement statement(raw);
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW)
        row(statement.get());
    if (rc != SQLITE_DONE) {
        error = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
bool IsWordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// The end of the quoted text that starts at `at` (one past its closing quote).
size_t SkipQuoted(std::string_view sql, size_t at) {
    const char close = sql[at] == '[' ? ']' : sql[at];
    size_t end = at + 1;
    while (end < sql.size()) {
        if (sql[end] == close) {
            // A doubled quote stands for itself.
            if (close != ']' && end + 1 < sql.size() && sql[end + 1] == close) {
                end += 2;
                continue;
            }
            return end + 1;
        }
        ++end;
    }
    return end;
}

bool StartsQuote(char c) { return c == '\'' || c == '"' || c == '`' || c == '['; }

// The condition of a partial index: what follows the WHERE of its statement that stands
// outside quotes and parentheses.
std::string WhereClause(std::string_view sql) {
    int depth = 0;
    for (size_t at = 0; at < sql.size();) {
        const char c = sql[at];
        if (StartsQuote(c)) {
            at = SkipQuoted(sql, at);
            continue;
        }
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (depth == 0 && (at == 0 || !IsWordChar(sql[at - 1])) && at + 5 <= sql.size() &&
            Upper(sql.substr(at, 5)) == "WHERE" &&
            (at + 5 == sql.size() || !IsWordChar(sql[at + 5]))) {
            return NormaliseSql(sql.substr(at + 5));
        }
        ++at;
    }
    return std::string();
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += ", ";
        text += part;
    }
    return "(" + text + ")";
}

std::vector<std::string> ColumnNames(const SchemaTable& table) {
    std::vector<std::string> names;
    for (const SchemaColumn& column : table.columns)
        names.push_back(column.name);
    return names;
}

std::string Described(const SchemaColumn& column) {
    std::string text = column.type.empty() ? "(no type)" : column.type;
    if (column.bNotNull) text += " NOT NULL";
    if (column.bHasDefault) text += " DEFAULT " + column.defaultValue;
    if (column.nPrimaryKey != 0) text += " PRIMARY KEY";
    return text;
}

void CompareColumns(const SchemaTable& here, const SchemaTable& fresh,
                    std::vector<std::string>& differences) {
    const std::string where = "table " + here.name + ": ";
    for (const SchemaColumn& column : fresh.columns) {
        auto found =
            std::find_if(here.columns.begin(), here.columns.end(),
                         [&](const SchemaColumn& c) { return SameName(c.name, column.name); });
        if (found == here.columns.end()) {
            differences.push_back(where + "column " + column.name +
                                  " is missing (the fresh database has it: " + Described(column) +
                                  ")");
            continue;
        }
        const SchemaColumn& mine = *found;
        if (Upper(NormaliseSql(mine.type)) != Upper(NormaliseSql(column.type))) {
            differences.push_back(where + "column " + column.name + " is declared " +
                                  (mine.type.empty() ? "without a type" : mine.type) +
                                  ", in the fresh database " +
                                  (column.type.empty() ? "without a type" : column.type));
        }
        if (mine.bNotNull != column.bNotNull) {
            differences.push_back(where + "column " + column.name + " is " +
                                  (mine.bNotNull ? "NOT NULL" : "nullable") +
                                  ", in the fresh database " +
                                  (column.bNotNull ? "NOT NULL" : "nullable"));
        }
        if (mine.bHasDefault != column.bHasDefault ||
            NormaliseSql(mine.defaultValue) != NormaliseSql(column.defaultValue)) {
            differences.push_back(
                where + "column " + column.name + " has " +
                (mine.bHasDefault ? "the default " + mine.defaultValue : "no default") +
                ", in the fresh database " +
                (column.bHasDefault ? "the default " + column.defaultValue : "no default"));
        }
        if (mine.nPrimaryKey != column.nPrimaryKey) {
            differences.push_back(where + "column " + column.name + " is " +
                                  (mine.nPrimaryKey != 0 ? "" : "not ") +
                                  "part of the primary key, in the fresh database " +
                                  (column.nPrimaryKey != 0 ? "" : "not ") + "part of it");
        }
    }
    for (const SchemaColumn& column : here.columns) {
        auto found =
            std::find_if(fresh.columns.begin(), fresh.columns.end(),
                         [&](const SchemaColumn& c) { return SameName(c.name, column.name); });
        if (found == fresh.columns.end()) {
            differences.push_back(where + "column " + column.name +
                                  " is not in the fresh database (" + Described(column) + ")");
        }
    }
    // Rows are copied by position: the next release's TABLE item can match only one order.
    std::vector<std::string> mine = ColumnNames(here);
    std::vector<std::string> theirs = ColumnNames(fresh);
    auto upper = [](std::vector<std::string>& names) {
        for (std::string& name : names)
            name = Upper(name);
    };
    upper(mine);
    upper(theirs);
    std::vector<std::string> mineSorted = mine;
    std::vector<std::string> theirsSorted = theirs;
    std::sort(mineSorted.begin(), mineSorted.end());
    std::sort(theirsSorted.begin(), theirsSorted.end());
    if (mine != theirs && mineSorted == theirsSorted) {
        differences.push_back(where + "columns in the order " + Joined(ColumnNames(here)) +
                              ", in the fresh database " + Joined(ColumnNames(fresh)));
    }
}

void CompareIndexes(const Schema& migrated, const Schema& fresh,
                    std::vector<std::string>& differences) {
    auto find = [](const Schema& schema, const SchemaIndex& index) -> const SchemaIndex* {
        for (const SchemaIndex& other : schema.indexes) {
            if (SameName(other.table, index.table) && Upper(other.Key()) == Upper(index.Key())) {
                return &other;
            }
        }
        return nullptr;
    };
    for (const SchemaIndex& index : fresh.indexes) {
        const std::string what = "index " + index.Key() + " on " + index.table;
        const SchemaIndex* mine = find(migrated, index);
        if (mine == nullptr) {
            differences.push_back(what + " is missing (the fresh database has it: " +
                                  (index.sql.empty() ? Joined(index.columns) : index.sql) + ")");
            continue;
        }
        if (mine->bUnique != index.bUnique) {
            differences.push_back(what + " is " + (mine->bUnique ? "UNIQUE" : "not unique") +
                                  ", in the fresh database " +
                                  (index.bUnique ? "UNIQUE" : "not unique"));
        }
        std::vector<std::string> a = mine->columns;
        std::vector<std::string> b = index.columns;
        for (std::string& column : a)
            column = Upper(column);
        for (std::string& column : b)
            column = Upper(column);
        if (a != b) {
            differences.push_back(what + " covers " + Joined(mine->columns) +
                                  ", in the fresh database " + Joined(index.columns));
        }
        if (mine->where != index.where) {
            differences.push_back(
                what +
                (mine->where.empty() ? " is not partial" : " is partial, WHERE " + mine->where) +
                ", in the fresh database " +
                (index.where.empty() ? "not partial" : "WHERE " + index.where));
        }
        // Columns that are expressions are told apart by the statement alone.
        const bool expressions = std::find(b.begin(), b.end(), "<EXPRESSION>") != b.end() ||
                                 std::find(b.begin(), b.end(), "<EXPRESSION> DESC") != b.end();
        if (expressions && a == b && mine->where == index.where &&
            NormaliseSql(mine->sql) != NormaliseSql(index.sql)) {
            differences.push_back(what + " is defined as " + NormaliseSql(mine->sql) +
                                  ", in the fresh database " + NormaliseSql(index.sql));
        }
    }
    for (const SchemaIndex& index : migrated.indexes) {
        if (find(fresh, index) == nullptr) {
            differences.push_back("index " + index.Key() + " on " + index.table +
                                  " is not in the fresh database (" +
                                  (index.sql.empty() ? Joined(index.columns) : index.sql) + ")");
        }
    }
}

void CompareObjects(const char* kind, const std::vector<SchemaObject>& migrated,
                    const std::vector<SchemaObject>& fresh, std::vector<std::string>& differences) {
    auto find = [](const std::vector<SchemaObject>& list, const std::string& name) {
        return std::find_if(list.begin(), list.end(),
                            [&](const SchemaObject& o) { return SameName(o.name, name); });
    };
    for (const SchemaObject& object : fresh) {
        auto mine = find(migrated, object.name);
        if (mine == migrated.end()) {
            differences.push_back(
                std::string(kind) + " " + object.name +
                " is missing (the fresh database has it: " + NormaliseSql(object.sql) + ")");
        } else if (NormaliseSql(mine->sql) != NormaliseSql(object.sql)) {
            differences.push_back(std::string(kind) + " " + object.name + " is defined as " +
                                  NormaliseSql(mine->sql) + ", in the fresh database " +
                                  NormaliseSql(object.sql));
        }
    }
    for (const SchemaObject& object : migrated) {
        if (find(fresh, object.name) == fresh.end()) {
            differences.push_back(std::string(kind) + " " + object.name +
                                  " is not in the fresh database (" + NormaliseSql(object.sql) +
                                  ")");
        }
    }
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) { return Upper(a) == Upper(b); }

std::string SchemaIndex::Key() const {
    if (!bAutomatic) return name;
    return std::string(bUnique ? "UNIQUE" : "KEY") + Joined(columns);
}

const SchemaTable* Schema::FindTable(std::string_view name) const {
    for (const SchemaTable& table : tables) {
        if (SameName(table.name, name)) return &table;
    }
    return nullptr;
}

std::vector<const SchemaIndex*> Schema::IndexesOn(std::string_view table) const {
    std::vector<const SchemaIndex*> found;
    for (const SchemaIndex& index : indexes) {
        if (SameName(index.table, table)) found.push_back(&index);
    }
    return found;
}

std::vector<const SchemaObject*> Schema::TriggersOn(std::string_view table) const {
    std::vector<const SchemaObject*> found;
    for (const SchemaObject& trigger : triggers) {
        if (SameName(trigger.table, table)) found.push_back(&trigger);
    }
    return found;
}

std::string NormaliseSql(std::string_view sql) {
    std::string out;
    bool blank = false;
    for (size_t at = 0; at < sql.size();) {
        const char c = sql[at];
        if (IsBlank(c)) {
            blank = true;
            ++at;
            continue;
        }
        // A blank matters only between two words ("AS SELECT"), not beside an operator,
        // a parenthesis or a quote ("c > 0" is "c>0").
        if (blank && !out.empty() && IsWordChar(out.back()) && IsWordChar(c)) out.push_back(' ');
        blank = false;
        if (StartsQuote(c)) {
            const size_t end = SkipQuoted(sql, at);
            out.append(sql.substr(at, end - at));
            at = end;
            continue;
        }
        out.push_back(c);
        ++at;
    }
    while (!out.empty() && (out.back() == ';' || out.back() == ' '))
        out.pop_back();
    return out;
}

bool ReadSchema(const WString& path, bool bCountRows, Schema& schema, std::string& error) {
    schema = Schema();
    error.clear();
    // Read-only and immutable: nothing is written, no journal or lock file is made.
    const std::string uri = plat::SqliteUri(path, "ro") + "&immutable=1";
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) {
        error = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
        return false;
    }
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);

    struct Entry {
        std::string type, name, table, sql;
    };
    std::vector<Entry> entries;
    if (!Query(raw, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name;", error,
               [&](sqlite3_stmt* s) {
                   entries.push_back({Text(s, 0), Text(s, 1), Text(s, 2), Text(s, 3)});
               })) {
        return false;
    }
    for (const Entry& entry : entries) {
        if (entry.type == "trigger")
            schema.triggers.push_back({entry.name, entry.table, entry.sql});
        if (entry.type == "view") schema.views.push_back({entry.name, entry.table, entry.sql});
        if (entry.type != "table" || Upper(entry.name).rfind("SQLITE_", 0) == 0) continue;
        SchemaTable table;
        table.name = entry.name;
        // table_xinfo: generated columns too; hidden 1 marks a virtual table's own.
        if (!Query(raw, "PRAGMA main.table_xinfo(" + Quoted(entry.name) + ");", error,
                   [&](sqlite3_stmt* s) {
                       if (sqlite3_column_int(s, 6) == 1) return;
                       SchemaColumn column;
                       column.name = Text(s, 1);
                       column.type = Text(s, 2);
                       column.bNotNull = sqlite3_column_int(s, 3) != 0;
                       column.bHasDefault = sqlite3_column_type(s, 4) != SQLITE_NULL;
                       column.defaultValue = Text(s, 4);
                       column.nPrimaryKey = sqlite3_column_int(s, 5);
                       table.columns.push_back(std::move(column));
                   })) {
            return false;
        }
        if (bCountRows) {
            std::string ignored;
            Query(raw, "SELECT count(*) FROM main." + Quoted(entry.name) + ";", ignored,
                  [&](sqlite3_stmt* s) { table.nRows = sqlite3_column_int64(s, 0); });
        }
        std::vector<SchemaIndex> indexes;
        if (!Query(raw, "PRAGMA main.index_list(" + Quoted(entry.name) + ");", error,
                   [&](sqlite3_stmt* s) {
                       SchemaIndex index;
                       index.name = Text(s, 1);
                       index.table = entry.name;
                       index.bUnique = sqlite3_column_int(s, 2) != 0;
                       index.bAutomatic = Text(s, 3) != "c";
                       indexes.push_back(std::move(index));
                   })) {
            return false;
        }
        for (SchemaIndex& index : indexes) {
            if (!Query(raw, "PRAGMA main.index_xinfo(" + Quoted(index.name) + ");", error,
                       [&](sqlite3_stmt* s) {
                           if (sqlite3_column_int(s, 5) == 0) return;  // not a key column
                           std::string column = sqlite3_column_int(s, 1) == -2
                                                    ? std::string("<expression>")
                                                    : Text(s, 2);
                           if (sqlite3_column_int(s, 3) != 0) column += " DESC";
                           const std::string collation = Text(s, 4);
                           if (!collation.empty() && Upper(collation) != "BINARY") {
                               column += " COLLATE " + collation;
                           }
                           index.columns.push_back(std::move(column));
                       })) {
                return false;
            }
            for (const Entry& other : entries) {
                if (other.type == "index" && other.name == index.name) index.sql = other.sql;
            }
            index.where = WhereClause(index.sql);
            schema.indexes.push_back(std::move(index));
        }
        schema.tables.push_back(std::move(table));
    }
    if (schema.FindTable("TVERSION") != nullptr) {
        std::string ignored;
        Query(raw, "SELECT F_TABLEVERSION FROM main.TVERSION WHERE F_TABLENAME='TMAIN';", ignored,
              [&](sqlite3_stmt* s) {
                  schema.bHasVersion = true;
                  schema.version = Text(s, 0);
              });
    }
    return true;
}

std::vector<std::string> CompareSchemas(const Schema& migrated, const Schema& fresh) {
    std::vector<std::string> differences;
    for (const SchemaTable& table : fresh.tables) {
        const SchemaTable* mine = migrated.FindTable(table.name);
        if (mine == nullptr) {
            differences.push_back("table " + table.name +
                                  " is missing (the fresh database has it)");
        } else {
            CompareColumns(*mine, table, differences);
        }
    }
    for (const SchemaTable& table : migrated.tables) {
        if (fresh.FindTable(table.name) == nullptr) {
            differences.push_back("table " + table.name + " is not in the fresh database");
        }
    }
    // Indexes of a table that is missing on one side are that table's difference.
    Schema a = migrated;
    Schema b = fresh;
    auto keep = [](Schema& schema, const Schema& other) {
        schema.indexes.erase(std::remove_if(schema.indexes.begin(), schema.indexes.end(),
                                            [&](const SchemaIndex& index) {
                                                return other.FindTable(index.table) == nullptr;
                                            }),
                             schema.indexes.end());
    };
    keep(a, fresh);
    keep(b, migrated);
    CompareIndexes(a, b, differences);
    CompareObjects("trigger", migrated.triggers, fresh.triggers, differences);
    CompareObjects("view", migrated.views, fresh.views, differences);
    return differences;
}

}  // namespace dbrtool
