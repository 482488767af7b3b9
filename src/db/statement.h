// The owners of SQLite's handles: a prepared statement with its values bound as
// parameters, finalized by its owner, and a connection closed by its owner. Statements
// take names and values as parameters, never pasted into their SQL: a name or version with
// an apostrophe is then just text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "platform/wstr.h"

struct sqlite3;
struct sqlite3_stmt;

namespace db {

struct ConnectionCloser {
    void operator()(sqlite3* db) const;
};
// An open connection; closing it is its owner's going away.
using UniqueConnection = std::unique_ptr<sqlite3, ConnectionCloser>;

class Statement {
public:
    // Prepares the UTF-8 text `sql` on `db`; Prepared() tells whether that worked.
    Statement(sqlite3* db, const std::string& sql);
    // Prepares the first statement of the zero-terminated `sql`; `tail` receives where the
    // next one begins. SQLite's result is PrepareResult(): OK with nothing prepared means
    // the text held only blanks or comments.
    Statement(sqlite3* db, const char* sql, const char** tail);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Prepared() const { return m_stmt != nullptr; }
    int PrepareResult() const { return m_nPrepared; }
    // Binds `text` as UTF-8 to the parameter numbered `index` (from 1); the statement
    // keeps its own copy. False when the statement is not prepared or SQLite refuses.
    bool Bind(int index, WStringView text);
    // One step: SQLite's result code (SQLITE_ROW, SQLITE_DONE or an error).
    int Step();
    // Column `index` of the current row as UTF-8 text; null for an SQL NULL.
    const char* ColumnText(int index);
    int64_t ColumnInt64(int index);
    // Finalizes now and returns SQLite's result: an error a step met, or one of a
    // statement prepared again inside the step (the schema had changed).
    int Finalize();

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* stmt) const;
    };
    std::unique_ptr<sqlite3_stmt, Finalizer> m_stmt;
    int m_nPrepared = 0;
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
