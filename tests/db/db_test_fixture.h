// Shared by the database tests: a temporary folder with its own log file, code page 936,
// and a second, independent SQLite connection to look at what the code under test wrote.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/temp_dir.h"

class DbTestFixture : public ::testing::Test {
protected:
    void SetUp() override {
        plat::SetAnsiCodePageForTesting(936);
        ResetLogForTesting();
        ASSERT_TRUE(OpenLogFile(m_dir.Sub(u"test.log")));
    }
    void TearDown() override {
        ResetLogForTesting();
        plat::SetAnsiCodePageForTesting(0);
    }

    // The messages of the log, without their date and thread headers.
    std::vector<std::string> LogMessages() {
        std::vector<std::string> messages;
        const std::string log = ReadFileBytes(m_dir.Sub(u"test.log"));
        size_t start = 0;
        while (start < log.size()) {
            size_t end = log.find("\r\n", start);
            if (end == std::string::npos) end = log.size();
            const std::string line = log.substr(start, end - start);
            // "yyyy-mm-dd hh:mm:ss  ThreadId:0Xdddddddd  message"
            size_t blanks = line.find("  ", line.find("ThreadId:0X"));
            messages.push_back(blanks == std::string::npos ? line : line.substr(blanks + 2));
            start = end + 2;
        }
        return messages;
    }

    // First column of the first row of `sql` on the file at `path`, through a connection of
    // the test's own; "<no row>" when there is none, "<null>" for an SQL NULL.
    static std::string Query(const WString& path, const std::string& sql) {
        sqlite3* db = nullptr;
        std::string result = "<error>";
        if (sqlite3_open(plat::PathForSqlite(path).c_str(), &db) == SQLITE_OK) {
            sqlite3_stmt* stmt = nullptr;
            if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
                int rc = sqlite3_step(stmt);
                if (rc == SQLITE_ROW) {
                    const unsigned char* text = sqlite3_column_text(stmt, 0);
                    result = text == nullptr ? "<null>" : reinterpret_cast<const char*>(text);
                } else if (rc == SQLITE_DONE) {
                    result = "<no row>";
                }
            }
            sqlite3_finalize(stmt);
        }
        sqlite3_close(db);
        return result;
    }

    // Runs statements on the file at `path` through the test's own connection.
    static void Run(const WString& path, const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(plat::PathForSqlite(path).c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
        std::string text = error == nullptr ? "" : error;
        sqlite3_free(error);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK) << text;
    }

    static std::string Utf8(const WString& text) { return ToUtf8(text); }

    ScopedTempDir m_dir;
};
