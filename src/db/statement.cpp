#include "db/statement.h"

#include <sqlite3.h>

#include "log/log.h"
#include "platform/codepage.h"

namespace db {

void ConnectionCloser::operator()(sqlite3* db) const { sqlite3_close(db); }

void Statement::Finalizer::operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }

Statement::Statement(sqlite3* db, const std::string& sql) : Statement(db, sql.c_str(), nullptr) {}

Statement::Statement(sqlite3* db, const char* sql, const char** tail) {
    m_nPrepared = SQLITE_MISUSE;
    if (db == nullptr) return;
    sqlite3_stmt* stmt = nullptr;
    m_nPrepared = sqlite3_prepare_v2(db, sql, -1, &stmt, tail);
    m_stmt.reset(stmt);  // null after a failure
}

int64_t Statement::ColumnInt64(int index) {
    return m_stmt ? sqlite3_column_int64(m_stmt.get(), index) : 0;
}

int Statement::Finalize() { return m_stmt ? sqlite3_finalize(m_stmt.release()) : SQLITE_OK; }

bool Statement::Bind(int index, WStringView text) {
    if (!m_stmt) return false;
    std::string utf8 = ToUtf8(text);
    return sqlite3_bind_text64(m_stmt.get(), index, utf8.data(), utf8.size(), SQLITE_TRANSIENT,
                               SQLITE_UTF8) == SQLITE_OK;
}

int Statement::Step() { return m_stmt ? sqlite3_step(m_stmt.get()) : SQLITE_MISUSE; }

const char* Statement::ColumnText(int index) {
    if (!m_stmt) return nullptr;
    return reinterpret_cast<const char*>(sqlite3_column_text(m_stmt.get(), index));
}

int ExecuteBound(sqlite3* db, const std::string& sql, std::initializer_list<WStringView> values) {
    if (db == nullptr) return 0;
    Statement statement(db, sql);
    bool ok = statement.Prepared();
    int index = 1;
    for (WStringView value : values) {
        if (!ok) break;
        ok = statement.Bind(index++, value);
    }
    if (ok) {
        int rc;
        while ((rc = statement.Step()) == SQLITE_ROW) {
        }
        ok = rc == SQLITE_DONE;
    }
    if (!ok) WriteLog(kLogCategory, kLogLevel, FromUtf8(sqlite3_errmsg(db)));
    return ok ? 1 : 0;
}

WString QuoteSingle(WStringView text) { return wstr::ReplaceAll(text, u"'", u"''"); }

WString QuoteIdentifier(WStringView text) {
    return u"\"" + wstr::ReplaceAll(text, u"\"", u"\"\"") + u"\"";
}

}  // namespace db
