// What a database file holds, as dbrtool's rehearsal reports and compares it: its tables
// with their columns and row counts, its indexes, triggers and views. Texts are UTF-8, as
// SQLite gives them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wstr.h"

namespace dbrtool {

struct SchemaColumn {
    std::string name;
    std::string type;  // as declared
    bool bNotNull = false;
    bool bHasDefault = false;
    std::string defaultValue;  // the default's text as written
    int nPrimaryKey = 0;       // position in the primary key, 0 when not part of it
};

struct SchemaTable {
    std::string name;
    std::vector<SchemaColumn> columns;
    int64_t nRows = -1;  // -1: not counted, or the count failed
};

struct SchemaIndex {
    std::string name;
    std::string table;
    bool bUnique = false;
    // Made by SQLite for a UNIQUE or PRIMARY KEY constraint of the table, not by CREATE
    // INDEX: its name is SQLite's, so it is known by what it holds.
    bool bAutomatic = false;
    std::vector<std::string> columns;  // "F_A", "F_B DESC", "<expression>"
    std::string where;                 // a partial index's condition, whitespace normalised
    std::string sql;                   // empty for an automatic index

    // How two schemas know "the same" index: its name, or for an automatic one its kind
    // and columns.
    std::string Key() const;
};

// A trigger or a view.
struct SchemaObject {
    std::string name;
    std::string table;
    std::string sql;
};

struct Schema {
    std::vector<SchemaTable> tables;  // SQLite's own tables (sqlite_*) left out
    std::vector<SchemaIndex> indexes;
    std::vector<SchemaObject> triggers;
    std::vector<SchemaObject> views;
    // The database's version: row TMAIN of its table TVERSION, when it has one.
    bool bHasVersion = false;
    std::string version;

    // By name, as SQLite matches names: ASCII letters without regard to case.
    const SchemaTable* FindTable(std::string_view name) const;
    std::vector<const SchemaIndex*> IndexesOn(std::string_view table) const;
    std::vector<const SchemaObject*> TriggersOn(std::string_view table) const;
};

// Reads the schema of the database file at `path`, opened read-only (it is never written),
// with every table's rows counted when `bCountRows`. False, with SQLite's text in `error`,
// when the file cannot be read as a database.
bool ReadSchema(const WString& path, bool bCountRows, Schema& schema, std::string& error);

// Every difference between a migrated database's schema and the schema a fresh
// installation makes, one line each: tables, columns (name, declared type, NOT NULL,
// default, primary key, order), indexes (columns, uniqueness, partial condition), triggers
// and views (their SQL with whitespace normalised). Empty when they agree.
std::vector<std::string> CompareSchemas(const Schema& migrated, const Schema& fresh);

// SQL with its whitespace normalised: a run of blanks and line ends between two words
// becomes one blank, any other goes ("c >  0 ;" is "c>0"), and so does a final semicolon.
// Quoted texts and names are left as they are.
std::string NormaliseSql(std::string_view sql);

// True when SQLite would take `a` and `b` for the same name.
bool SameName(std::string_view a, std::string_view b);

}  // namespace dbrtool
