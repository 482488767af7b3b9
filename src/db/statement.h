// A prepared SQLite statement with its values bound as parameters, finalized by its
// owner. For the operations of CDBConnection that must not paste names and values into
// their SQL: a name or version with an apostrophe is then just text.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>

#include "platform/wstr.h"

struct sqlite3;
struct sqlite3_stmt;

namespace db {

class Statement {
public:
    // Prepares the UTF-8 text `sql` on `db`; Prepared() tells whether that worked.
    Statement(sqlite3* db, const std::string& sql);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Prepared() const { return m_stmt != nullptr; }
    // Binds `text` as UTF-8 to the parameter numbered `index` (from 1); the statement
    // keeps its own copy. False when the statement is not prepared or SQLite refuses.
    bool Bind(int index, WStringView text);
    // One step: SQLite's result code (SQLITE_ROW, SQLITE_DONE or an error).
    int Step();
    // Column `index` of the current row as UTF-8 text; null for an SQL NULL.
    const char* ColumnText(int index);

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* stmt) const;
    };
    std::unique_ptr<sqlite3_stmt, Finalizer> m_stmt;
};

// Runs `sql` to its end with `values` bound to its parameters in order. On failure logs
// SQLite's error text, as CDBConnection::Execute does, and returns 0; 1 on success.
int ExecuteBound(sqlite3* db, const std::string& sql, std::initializer_list<WStringView> values);

// `text` with every single quote doubled, for a string literal or a quoted identifier
// between single quotes.
WString QuoteSingle(WStringView text);
// `text` between double quotes with every double quote doubled: an identifier whatever
// characters it holds.
WString QuoteIdentifier(WStringView text);

}  // namespace db
