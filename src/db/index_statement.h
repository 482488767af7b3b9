// Recognising the CREATE INDEX statements that a table copy can do without until its rows
// are in.
//
// SQLite copies a table as raw records only when every index of the target has a match in
// the source; one new index makes it insert row by row and update the index as it goes.
// An index of the plainest kind (not UNIQUE, named columns only) cannot make the copy fail
// and cannot fail on the rows it is built from, so building it after the copy gives the
// same table and the same index.
#pragma once

#include <string>
#include <string_view>

namespace db {

struct PlainIndex {
    std::string statement;  // the statement as given, UTF-8
    std::string name;       // the index name, unquoted
    std::string table;      // the table name, unquoted
    std::string storedSql;  // the text SQLite keeps for the index in sqlite_master
};

// True when `statement` (one statement, as sqlite3_prepare_v2 delimits it: up to and
// including its ";", or to the end of the text) reads
//     CREATE INDEX [IF NOT EXISTS] [main.]name ON table(column [COLLATE name] [ASC|DESC], ...)
// with nothing else but blanks and comments; `index` then receives its parts. Anything
// else (UNIQUE, an expression, a WHERE clause, another schema, a name written as a string)
// answers false. The statement is not checked for being valid SQL: SQLite has prepared it.
bool ParsePlainIndex(std::string_view statement, PlainIndex& index);

}  // namespace db
