#include "support/sqlite_probe.h"

#include <sqlite3.h>

#include "platform/files.h"

namespace probe {
namespace {

struct Connection {
    sqlite3* db = nullptr;
    explicit Connection(const WString& path) {
        if (sqlite3_open(plat::PathForSqlite(path).c_str(), &db) != SQLITE_OK) {
            sqlite3_close(db);
            db = nullptr;
        }
    }
    ~Connection() { sqlite3_close(db); }
};

}  // namespace

bool Exec(const WString& path, const std::string& sql, std::string* error) {
    Connection c(path);
    if (c.db == nullptr) {
        if (error) *error = "cannot open";
        return false;
    }
    char* text = nullptr;
    int rc = sqlite3_exec(c.db, sql.c_str(), nullptr, nullptr, &text);
    if (error) *error = text ? text : "";
    sqlite3_free(text);
    return rc == SQLITE_OK;
}

std::vector<std::string> Rows(const WString& path, const std::string& sql) {
    Connection c(path);
    if (c.db == nullptr) return {"<error: cannot open>"};
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(c.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        std::string message = std::string("<error: ") + sqlite3_errmsg(c.db) + ">";
        sqlite3_finalize(stmt);
        return {message};
    }
    std::vector<std::string> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            if (i > 0) row += "|";
            const unsigned char* text = sqlite3_column_text(stmt, i);
            row += text ? reinterpret_cast<const char*>(text) : "<null>";
        }
        rows.push_back(row);
    }
    if (rc != SQLITE_DONE) rows.push_back(std::string("<error: ") + sqlite3_errmsg(c.db) + ">");
    sqlite3_finalize(stmt);
    return rows;
}

std::string Value(const WString& path, const std::string& sql) {
    std::vector<std::string> rows = Rows(path, sql);
    if (rows.empty()) return "<no row>";
    return rows.front().substr(0, rows.front().find('|'));
}

}  // namespace probe
