#include "db/index_statement.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace {

// The text SQLite itself keeps for the one index `statement` creates on a table t(a, b).
std::string StoredBySqlite(const std::string& statement) {
    sqlite3* db = nullptr;
    std::string sql = "<error>";
    if (sqlite3_open(":memory:", &db) == SQLITE_OK &&
        sqlite3_exec(db, "CREATE TABLE t(a, b); CREATE TABLE \"o'k\"(a);", nullptr, nullptr,
                     nullptr) == SQLITE_OK &&
        sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
        sqlite3_stmt* query = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE type='index'", -1, &query,
                               nullptr) == SQLITE_OK &&
            sqlite3_step(query) == SQLITE_ROW) {
            sql = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
        }
        sqlite3_finalize(query);
    }
    sqlite3_close(db);
    return sql;
}

TEST(IndexStatementTest, PlainIndexesAndTheTextSqliteKeeps) {
    struct Case {
        std::string statement, name, table;
    };
    const Case cases[] = {
        {"CREATE INDEX i ON t(a);", "i", "t"},
        {"create index IF NOT EXISTS main.\"my \"\"idx\"\"\" on [t] ( a collate nocase desc , "
         "`b` asc ) /* why */ ;",
         "my \"idx\"", "t"},
        {"  -- a comment first\n CREATE INDEX 索引 ON \"o'k\"(a) -- no semicolon", "索引", "o'k"},
        {"CREATE INDEX `x``y` ON t(a,b)\n", "x`y", "t"},
        {"CREATE\tINDEX/**/i2/**/ON/**/t(b DESC);", "i2", "t"},
    };
    for (const Case& c : cases) {
        db::PlainIndex index;
        ASSERT_TRUE(db::ParsePlainIndex(c.statement, index)) << c.statement;
        EXPECT_EQ(index.name, c.name);
        EXPECT_EQ(index.table, c.table);
        EXPECT_EQ(index.statement, c.statement);
        EXPECT_EQ(index.storedSql, StoredBySqlite(c.statement)) << c.statement;
    }
}

TEST(IndexStatementTest, AnythingElseIsNotPlain) {
    for (const char* statement : {
             "CREATE UNIQUE INDEX u ON t(a);",
             "CREATE INDEX e ON t(lower(a));",
             "CREATE INDEX e ON t(a + b);",
             "CREATE INDEX e ON t(a, 1);",
             "CREATE INDEX p ON t(a) WHERE b > 0;",
             "CREATE INDEX temp.i ON t(a);",
             "CREATE INDEX other.i ON t(a);",
             "CREATE INDEX 'i' ON t(a);",
             "CREATE INDEX i ON t('a');",
             "CREATE INDEX i ON t(a b);",
             "CREATE INDEX i ON t(a COLLATE);",
             "CREATE INDEX i ON t(a;",
             "CREATE INDEX i ON t(a); SELECT 1;",
             "CREATE INDEX i ON t(a) junk",
             "CREATE INDEX \"i ON t(a);",
             "CREATE TABLE i(a);",
             "/* CREATE INDEX i ON t(a); */",
             "",
         }) {
        db::PlainIndex index;
        EXPECT_FALSE(db::ParsePlainIndex(statement, index)) << statement;
    }
}

}  // namespace
