#include "db/db_connection.h"

#include <gtest/gtest.h>

#include <string>

#include "db/db_test_fixture.h"
#include "db/settle.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/file_conditions.h"
#include "support/temp_dir.h"

namespace {

class DbConnectionTest : public DbTestFixture {
protected:
    std::string Log() { return ReadFileBytes(m_dir.Sub(u"test.log")); }
    std::string Ansi(const WString& text) { return *ToAnsi(text); }

    // Counts rows through a connection of its own; -1 when the query fails.
    int CountRows(const WString& path, const char* sql) {
        const std::string count = Query(path, sql);
        if (count.empty() || count.find_first_not_of("0123456789") != std::string::npos) return -1;
        return std::stoi(count);
    }
};

TEST_F(DbConnectionTest, OpenDatabaseCreatesAMissingFileAndOneFolderLevel) {
    CDBConnection db;
    EXPECT_EQ(db.IsOpen(), 0);
    const WString path = m_dir.Sub(u"DB.s3db");
    ASSERT_EQ(db.OpenDatabase(path), 1);
    EXPECT_EQ(db.IsOpen(), 1);
    EXPECT_EQ(db.GetPath(), path);
    EXPECT_EQ(plat::FileSize(path), 0);  // empty until SQLite writes

    CDBConnection nested;
    const WString inFolder = m_dir.Sub(u"用户\\DB.s3db");
    ASSERT_EQ(nested.OpenDatabase(inFolder), 1);  // the missing folder is made first
    EXPECT_TRUE(plat::IsDirectory(m_dir.Sub(u"用户")));
    EXPECT_EQ(Log(), "");
}

TEST_F(DbConnectionTest, OpenDatabaseLogsCode3WhenTheFileCannotBeCreated) {
    const std::string code3 = Ansi(u"数据库文件丢失,并且创建失败,错误码: [3]") + "\r\n";
    CDBConnection db;
    EXPECT_EQ(db.OpenDatabase(u"DB.s3db.missing-here"), 0);      // no folder part
    EXPECT_EQ(db.OpenDatabase(u"\\DB.s3db.missing-here"), 0);    // only a leading backslash
    EXPECT_EQ(db.OpenDatabase(m_dir.Sub(u"a\\b\\DB.s3db")), 0);  // two levels missing
    EXPECT_FALSE(plat::PathExists(m_dir.Sub(u"a\\b")));
    EXPECT_EQ(db.IsOpen(), 0);
    std::string log = Log();
    size_t first = log.find(code3);
    ASSERT_NE(first, std::string::npos) << log;
    size_t second = log.find(code3, first + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(log.find(code3, second + 1), std::string::npos);
}

TEST_F(DbConnectionTest, OpenDatabaseLogsCode4WhenTheFileCannotBeOpened) {
    CDBConnection db;
    plat::MakeDirectory(m_dir.Sub(u"folder"));
    EXPECT_EQ(db.OpenDatabase(m_dir.Sub(u"folder")), 0);
    EXPECT_EQ(db.IsOpen(), 0);
    EXPECT_NE(Log().find(Ansi(u"连接到数据库失败,错误码: [4]") + "\r\n"), std::string::npos);
}

TEST_F(DbConnectionTest, OpenKeepsAnOpenConnectionAndOpenDatabaseReopens) {
    CDBConnection db;
    ASSERT_EQ(db.OpenDatabase(m_dir.Sub(u"a.s3db")), 1);
    // A temporary table lives exactly as long as its connection.
    ASSERT_EQ(db.Execute(u"CREATE TEMP TABLE t(x);"), 1);
    EXPECT_EQ(db.Open(), 1);
    EXPECT_EQ(db.Execute(u"INSERT INTO t VALUES(1);"), 1);
    ASSERT_EQ(db.OpenDatabase(m_dir.Sub(u"a.s3db")), 1);
    EXPECT_EQ(db.Execute(u"INSERT INTO t VALUES(1);"), 0);  // a new connection: t is gone
    EXPECT_NE(Log().find("no such table: t"), std::string::npos);
    EXPECT_EQ(db.Close(), 1);
    EXPECT_EQ(db.Close(), 1);
}

TEST_F(DbConnectionTest, ExecuteOpensOnDemandButExecuteRawNever) {
    const WString path = m_dir.Sub(u"b.s3db");
    CDBConnection db;
    ASSERT_EQ(db.OpenDatabase(path), 1);
    db.Close();
    EXPECT_EQ(db.ExecuteRaw("CREATE TABLE t(x);"), 0);
    EXPECT_EQ(db.ExecuteAnsi(u"CREATE TABLE t(x);"), 0);
    EXPECT_EQ(db.IsOpen(), 0);
    EXPECT_EQ(Log(), "");  // refusals on a closed object are silent
    EXPECT_EQ(db.Execute(u"CREATE TABLE t(x); INSERT INTO t VALUES(1);"), 1);
    EXPECT_EQ(db.IsOpen(), 1);
    EXPECT_EQ(db.ExecuteRaw(nullptr), 0);
    EXPECT_EQ(db.Execute(u""), 1);
    EXPECT_EQ(CountRows(path, "SELECT count(*) FROM t"), 1);
}

TEST_F(DbConnectionTest, FailedStatementsLogSqlitesTextAndStopAtTheFailure) {
    CDBConnection db;
    ASSERT_EQ(db.OpenDatabase(m_dir.Sub(u"c.s3db")), 1);
    EXPECT_EQ(
        db.Execute(u"CREATE TABLE t(x); INSERT INTO nope VALUES(1); INSERT INTO t VALUES(2);"), 0);
    EXPECT_NE(Log().find("  no such table: nope\r\n"), std::string::npos);
    EXPECT_EQ(CountRows(m_dir.Sub(u"c.s3db"), "SELECT count(*) FROM t"), 0);
}

TEST_F(DbConnectionTest, EveryStatementReachesSqliteAsUtf8) {
    // A table made through ExecuteAnsi must be found by statements that go through Execute,
    // and its name must be stored as real UTF-8.
    const WString path = m_dir.Sub(u"d.s3db");
    CDBConnection db;
    ASSERT_EQ(db.OpenDatabase(path), 1);
    ASSERT_EQ(db.ExecuteAnsi(u"CREATE TABLE 用户(名字 TEXT DEFAULT '无名');"), 1);
    ASSERT_EQ(db.Execute(u"INSERT INTO 用户 DEFAULT VALUES;"), 1);
    EXPECT_EQ(CountRows(path,
                        "SELECT count(*) FROM \xE7\x94\xA8\xE6\x88\xB7 WHERE "
                        "\xE5\x90\x8D\xE5\xAD\x97 = '\xE6\x97\xA0\xE5\x90\x8D'"),
              1);
}

TEST_F(DbConnectionTest, StatementsOfAnyLengthRunWhole) {
    WString sql = u"CREATE TABLE wide(id INTEGER";
    for (int i = 0; i < 400; ++i)
        sql += u", column_number_" + wstr::FromInt(i) + u" TEXT";
    sql += u");";
    ASSERT_GT(sql.size(), 8000u);
    CDBConnection db;
    ASSERT_EQ(db.OpenDatabase(m_dir.Sub(u"e.s3db")), 1);
    EXPECT_EQ(db.ExecuteAnsi(sql), 1);
    EXPECT_EQ(CountRows(m_dir.Sub(u"e.s3db"), "SELECT count(*) FROM pragma_table_info('wide')"),
              401);
}

TEST_F(DbConnectionTest, PathsWithApostrophesAndChineseOpen) {
    CDBConnection db;
    const WString path = m_dir.Sub(u"O'Brien 数据.s3db");
    ASSERT_EQ(db.OpenDatabase(path), 1);
    EXPECT_EQ(db.Execute(u"CREATE TABLE t(x);"), 1);
    EXPECT_GT(plat::FileSize(path), 0);
}

TEST_F(DbConnectionTest, NothingOpensBesideACompanionThatIsNoPlainFile) {
    // At the name of each companion SQLite writes: a link to a file of value, a pipe (which
    // would keep SQLite waiting), a folder.
    const WString path = m_dir.Sub(u"DB.s3db");
    const WString other = m_dir.Sub(u"other.s3db");
    for (const WString& file : {path, other}) {
        CDBConnection made;
        ASSERT_EQ(made.OpenDatabase(file), 1);
        ASSERT_EQ(made.ExecuteRaw("CREATE TABLE T(x); INSERT INTO T VALUES(1);"), 1);
    }
    const std::string before = ReadFileBytes(path);
    const WString target = m_dir.Sub(u"precious.txt");
    WriteFileBytes(target, "precious");
    enum Kind { kLink, kPipe, kFolder };
    int tried = 0;
    for (const char16_t* suffix : {u"-journal", u"-wal", u"-shm"}) {
        for (Kind kind : {kLink, kPipe, kFolder}) {
            const WString companion = path + suffix;
            const bool made = kind == kLink   ? MakeLink(target, companion)
                              : kind == kPipe ? MakePipe(companion)
                                              : plat::MakeDirectory(companion);
            if (!made) continue;  // no links or pipes here
            ++tried;
            CDBConnection db;
            EXPECT_EQ(db.OpenExisting(path), 0) << tried;
            EXPECT_NE(db.LastError().find(companion), WString::npos) << ToUtf8(db.LastError());
            EXPECT_EQ(db.OpenDatabase(path), 0);
            CDBConnection attaching;
            ASSERT_EQ(attaching.OpenExisting(other), 1);
            EXPECT_EQ(
                attaching.ExecuteWithAttached(path, u"INSERT INTO main.T SELECT x FROM NEW_DB.T;"),
                0);
            WString detail;
            EXPECT_EQ(db::SettleDatabaseFile(path, detail), db::FileRest::kForeign);
            EXPECT_EQ(detail.find(companion), 0u);
            EXPECT_EQ(ReadFileBytes(path), before);
            EXPECT_EQ(ReadFileBytes(target), "precious");
            ASSERT_TRUE(plat::RemoveTree(companion));
        }
    }
    EXPECT_GE(tried, 3);
    EXPECT_NE(Log().find(Ansi(u"数据库的日志文件不是普通文件")), std::string::npos);
    // The same calls succeed once the names are free.
    CDBConnection attaching;
    ASSERT_EQ(attaching.OpenExisting(other), 1);
    EXPECT_EQ(attaching.ExecuteWithAttached(path, u"INSERT INTO main.T SELECT x FROM NEW_DB.T;"),
              1);
    CDBConnection db;
    EXPECT_EQ(db.OpenExisting(path), 1);
}

}  // namespace
