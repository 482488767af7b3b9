#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "db/db_connection.h"
#include "db/db_test_fixture.h"
#include "db/statement.h"

namespace {

const std::string kTriggerFailed936 =
    "\xB4\xB4\xBD\xA8\xB4\xA5\xB7\xA2\xC6\xF7ON_TBL_TLMGROUP_DELETE_TRIGGER"
    "\xBC\xC7\xC2\xBC\xCA\xA7\xB0\xDC";

class TableOpsTest : public DbTestFixture {
protected:
    void SetUp() override {
        DbTestFixture::SetUp();
        m_path = m_dir.Sub(u"DB.s3db");
        ASSERT_EQ(m_db.OpenDatabase(m_path), 1);
    }

    // State of the connection under test itself: databases attached (main included, temp
    // not), transaction open. Asked through the C interface, which no authorizer stands in.
    int Attached(CDBConnection& db) {
        int count = 0;
        for (int i = 0; sqlite3_db_name(db.Handle(), i) != nullptr; ++i) {
            if (i != 1) ++count;  // 1 is temp
        }
        return count;
    }
    static bool InTransaction(CDBConnection& db) {
        return sqlite3_get_autocommit(db.Handle()) == 0;
    }

    WString m_path;
    CDBConnection m_db;
};

TEST_F(TableOpsTest, TableAndTriggerExistence) {
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE T_USER(F_ID);"
                           u"CREATE TABLE 用户表(名字);"
                           u"CREATE TABLE \"O'Brien\"(x);"
                           u"CREATE TRIGGER TR_USER AFTER INSERT ON T_USER BEGIN SELECT 1; END;"),
              1);
    EXPECT_EQ(m_db.TableExists(u"T_USER"), 1);
    EXPECT_EQ(m_db.TableExists(u"t_user"), 1);  // one name to SQLite, whatever the case
    EXPECT_EQ(m_db.TableExists(u"用户表"), 1);
    EXPECT_EQ(m_db.TableExists(u"O'Brien"), 1);
    EXPECT_EQ(m_db.TableExists(u"TR_USER"), 0);  // a trigger is not a table
    EXPECT_EQ(m_db.TableExists(u"T_NONE"), 0);
    EXPECT_EQ(m_db.TriggerExists(u"TR_USER"), 1);
    EXPECT_EQ(m_db.TriggerExists(u"tr_user"), 1);
    EXPECT_EQ(m_db.TriggerExists(u"T_USER"), 0);

    // A name longer than any fixed statement buffer.
    const WString longName = u"T" + WString(700, u'长');
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE " + longName + u"(x);"), 1);
    EXPECT_EQ(m_db.TableExists(longName), 1);
    EXPECT_EQ(m_db.TableExists(longName + u"x"), 0);

    // A closed object answers 0 and stays closed, although its path is set.
    m_db.Close();
    EXPECT_EQ(m_db.TableExists(u"T_USER"), 0);
    EXPECT_EQ(m_db.TriggerExists(u"TR_USER"), 0);
    EXPECT_EQ(m_db.IsOpen(), 0);
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(TableOpsTest, ColumnExistsLooksAtTheColumns) {
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE T(F_ID INTEGER, F_NAME2 TEXT DEFAULT 'F_READ', 名字 TEXT,"
                           u" F_G GENERATED ALWAYS AS (F_ID + 1) VIRTUAL);"),
              1);
    EXPECT_EQ(m_db.ColumnExists(u"T", u"F_NAME2"), 1);
    // Words of the definition that are no column: part of a longer name, a default, a type.
    EXPECT_EQ(m_db.ColumnExists(u"T", u"F_NAME"), 0);
    EXPECT_EQ(m_db.ColumnExists(u"T", u"F_READ"), 0);
    EXPECT_EQ(m_db.ColumnExists(u"T", u"TEXT"), 0);
    EXPECT_EQ(m_db.ColumnExists(u"T", u"名字"), 1);
    EXPECT_EQ(m_db.ColumnExists(u"t", u"f_id"), 1);  // names as SQLite compares them
    EXPECT_EQ(m_db.ColumnExists(u"T", u"F_G"), 1);
    EXPECT_EQ(m_db.ColumnExists(u"T", u"F_OTHER"), 0);
    EXPECT_EQ(m_db.ColumnExists(u"MISSING", u"F_ID"), 0);

    // A creation statement longer than any fixed buffer, the column at its end.
    WString sql = u"CREATE TABLE \"O'Wide\"(id INTEGER";
    for (int i = 0; i < 200; ++i)
        sql += u", column_number_" + wstr::FromInt(i) + u" TEXT";
    sql += u", F_LAST TEXT);";
    ASSERT_GT(sql.size(), 4000u);
    ASSERT_EQ(m_db.Execute(sql), 1);
    EXPECT_EQ(m_db.ColumnExists(u"O'Wide", u"F_LAST"), 1);

    m_db.Close();
    EXPECT_EQ(m_db.ColumnExists(u"T", u"F_ID"), 0);  // needs an open connection
    EXPECT_EQ(m_db.IsOpen(), 0);
}

TEST_F(TableOpsTest, AddColumn) {
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE T(F_ID); INSERT INTO T VALUES(1);"
                           u"CREATE TABLE \"O'Brien\"(x); CREATE TABLE 用户表(x);"),
              1);
    // The type text follows unchanged, default clause included.
    ASSERT_EQ(m_db.AddColumn(u"T", u"F_NEW", u"TEXT DEFAULT '无'"), 1);
    EXPECT_EQ(Query(m_path, "SELECT F_NEW FROM T"), Utf8(u"无"));
    EXPECT_NE(Query(m_path, "SELECT sql FROM sqlite_master WHERE name='T'")
                  .find(Utf8(u"'F_NEW' TEXT DEFAULT '无'")),
              std::string::npos);

    // Quotes in names, Chinese names, and a type longer than any fixed buffer.
    EXPECT_EQ(m_db.AddColumn(u"O'Brien", u"it's", u"TEXT"), 1);
    EXPECT_EQ(Query(m_path,
                    "SELECT count(*) FROM pragma_table_info('O''Brien') "
                    "WHERE name='it''s'"),
              "1");
    const WString longDefault = u"TEXT DEFAULT '" + WString(1500, u'长') + u"'";
    EXPECT_EQ(m_db.AddColumn(u"用户表", u"备注", longDefault), 1);
    EXPECT_EQ(Query(m_path, Utf8(u"SELECT count(*) FROM pragma_table_info('用户表') "
                                 u"WHERE name='备注'")),
              "1");

    // Refusals: silent in the log.
    EXPECT_EQ(m_db.AddColumn(u"T", u"F_NEW", u"TEXT"), 0);  // duplicate column
    EXPECT_EQ(m_db.AddColumn(u"MISSING", u"F", u"TEXT"), 0);
    m_db.Close();
    EXPECT_EQ(m_db.AddColumn(u"T", u"F_MORE", u"TEXT"), 0);
    EXPECT_EQ(m_db.IsOpen(), 0);
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(TableOpsTest, CopyTableFromAttachesEachSourceOnce) {
    // A source in a folder with an apostrophe and Chinese in its name.
    ASSERT_TRUE(plat::MakeDirectory(m_dir.Sub(u"O'Brien 的数据")));
    const WString first = m_dir.Sub(u"O'Brien 的数据\\old.s3db");
    const WString second = m_dir.Sub(u"extra.s3db");
    Run(first,
        "CREATE TABLE T_USER(F_ID, F_NAME); INSERT INTO T_USER VALUES(1, 'a'), (2, '张三');"
        "CREATE TABLE \"it's\"(x); INSERT INTO \"it's\" VALUES(8);"
        "CREATE TABLE T_AUTO(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X);"
        "INSERT INTO T_AUTO(F_X) VALUES(1),(2),(3),(4); DELETE FROM T_AUTO WHERE F_ID > 2;"
        "CREATE TABLE T_LOW(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X);"
        "INSERT INTO T_LOW VALUES(9, 'x'); UPDATE sqlite_sequence SET seq = 3 WHERE name = "
        "'T_LOW';");
    Run(second,
        "CREATE TABLE " + Utf8(u"用户表") + "(x); INSERT INTO " + Utf8(u"用户表") + " VALUES(9);");
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE T_USER(F_ID, F_NAME); CREATE TABLE \"it's\"(x);"
                           u"CREATE TABLE 用户表(x);"
                           u"CREATE TABLE T_AUTO(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X);"
                           u"CREATE TABLE T_LOW(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X);"),
              1);

    EXPECT_EQ(m_db.CopyTableFrom(first, u"T_USER"), 1);
    EXPECT_EQ(m_db.CopiedRows(), 2);
    EXPECT_EQ(Attached(m_db), 2);
    EXPECT_EQ(m_db.CopyTableFrom(first, u"it's"), 1);
    EXPECT_EQ(Attached(m_db), 2);  // the same source stays attached
    EXPECT_EQ(m_db.CopyTableFrom(second, u"用户表"), 1);
    EXPECT_EQ(Attached(m_db), 3);
    EXPECT_EQ(Query(m_path, "SELECT group_concat(F_ID || F_NAME, ',') FROM T_USER"),
              Utf8(u"1a,2张三"));
    EXPECT_EQ(Query(m_path, "SELECT x FROM \"it's\""), "8");
    EXPECT_EQ(Query(m_path, "SELECT x FROM " + Utf8(u"用户表")), "9");

    // The AUTOINCREMENT counter comes along and is never lowered; the row count is the
    // copy's, not that of the counter's statements.
    EXPECT_EQ(m_db.CopyTableFrom(first, u"T_AUTO"), 1);
    EXPECT_EQ(m_db.CopiedRows(), 2);
    EXPECT_EQ(Query(m_path, "SELECT seq FROM sqlite_sequence WHERE name='T_AUTO'"), "4");
    EXPECT_EQ(m_db.CopyTableFrom(first, u"T_LOW"), 1);
    EXPECT_EQ(Query(m_path, "SELECT seq FROM sqlite_sequence WHERE name='T_LOW'"), "9");
    EXPECT_TRUE(LogMessages().empty());

    EXPECT_EQ(m_db.DetachSources(), 1);
    EXPECT_EQ(Attached(m_db), 1);
    Run(m_path, "DELETE FROM T_USER;");
    EXPECT_EQ(m_db.CopyTableFrom(first, u"T_USER"), 1);
    EXPECT_EQ(Attached(m_db), 2);
    // Closing detaches too; the next copy opens the connection and attaches again.
    m_db.Close();
    Run(m_path, "DELETE FROM T_USER;");
    EXPECT_EQ(m_db.CopyTableFrom(first, u"T_USER"), 1);
    EXPECT_EQ(Attached(m_db), 2);
    EXPECT_EQ(Query(m_path, "SELECT count(*) FROM T_USER"), "2");
}

TEST_F(TableOpsTest, ACopyThatFailsLeavesTheTableAsItWas) {
    const WString source = m_dir.Sub(u"old.s3db");
    Run(source,
        "CREATE TABLE T_NARROW(F_ID, F_EXTRA); INSERT INTO T_NARROW VALUES(1, 2);"
        "CREATE TABLE T(x); INSERT INTO T VALUES(5);");
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE T_NARROW(F_ID); INSERT INTO T_NARROW VALUES(0);"
                           u"CREATE TABLE T(x); CREATE TABLE T_MISSING(x);"),
              1);

    // A different number of columns.
    EXPECT_EQ(m_db.CopyTableFrom(source, u"T_NARROW"), 0);
    EXPECT_EQ(m_db.CopiedRows(), 0);
    EXPECT_EQ(Query(m_path, "SELECT group_concat(F_ID) FROM T_NARROW"), "0");
    EXPECT_FALSE(InTransaction(m_db));
    std::vector<std::string> log = LogMessages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(FromAnsi(log[0]), u"表T_NARROW的新定义有 1 列, 原表有 2 列, 数据无法按位置复制");

    // A table the source does not have.
    EXPECT_EQ(m_db.CopyTableFrom(source, u"T_MISSING"), 0);
    EXPECT_FALSE(InTransaction(m_db));

    // A refused COMMIT (a reader holds the file): rolled back, nothing stays open.
    {
        sqlite3* reader = nullptr;
        ASSERT_EQ(sqlite3_open(plat::PathForSqlite(m_path).c_str(), &reader), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM T;", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        EXPECT_EQ(m_db.CopyTableFrom(source, u"T"), 0);
        EXPECT_FALSE(InTransaction(m_db));
        sqlite3_close(reader);
    }
    EXPECT_EQ(Query(m_path, "SELECT count(*) FROM T"), "0");
    EXPECT_EQ(LogMessages().back(), "database is locked");

    // A source that cannot be attached.
    const size_t before = LogMessages().size();
    EXPECT_EQ(m_db.CopyTableFrom(m_dir.Sub(u"no\\such\\folder.s3db"), u"T"), 0);
    EXPECT_EQ(LogMessages().size(), before + 1);
    EXPECT_EQ(Attached(m_db), 2);

    // The connection copies again afterwards.
    EXPECT_EQ(m_db.CopyTableFrom(source, u"T"), 1);
    EXPECT_EQ(Query(m_path, "SELECT x FROM T"), "5");
}

TEST_F(TableOpsTest, AttachedSourcesStayOutOfEveryOtherStatement) {
    const WString source = m_dir.Sub(u"old.s3db");
    Run(source,
        "CREATE TABLE T(x); INSERT INTO T VALUES(5);"
        "CREATE TABLE S_ONLY(x); INSERT INTO S_ONLY VALUES('old'); CREATE INDEX I_S ON "
        "S_ONLY(x);");
    const WString other = m_dir.Sub(u"other.s3db");
    Run(other, "CREATE TABLE O(x); INSERT INTO O VALUES(7);");
    const std::string before = ReadFileBytes(source);
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE T(x); CREATE TABLE T_NEW(x);"), 1);
    auto copy = [&] {
        Run(m_path, "DELETE FROM T;");
        ASSERT_EQ(m_db.CopyTableFrom(source, u"T"), 1);
        ASSERT_EQ(Attached(m_db), 2);
    };

    // Statements on the new file alone, and those with NEW_DB, leave the source attached.
    copy();
    EXPECT_EQ(m_db.Execute(u"INSERT INTO T_NEW SELECT x FROM main.T; SELECT * FROM T_NEW;"), 1);
    EXPECT_EQ(m_db.ExecuteWithAttached(other, u"INSERT INTO T_NEW SELECT x FROM NEW_DB.O;"), 1);
    EXPECT_EQ(m_db.Execute(u"PRAGMA foreign_keys=ON;"), 1);
    EXPECT_EQ(Attached(m_db), 2);
    EXPECT_EQ(Query(m_path, "SELECT group_concat(x) FROM T_NEW"), "5,7");

    // Statements that would reach the source run as if it were not there.
    copy();
    EXPECT_EQ(m_db.Execute(u"DROP TABLE IF EXISTS S_ONLY;"), 1);
    EXPECT_EQ(Attached(m_db), 1);
    copy();
    EXPECT_EQ(m_db.Execute(u"INSERT INTO T_NEW VALUES(1); DELETE FROM S_ONLY;"), 0);
    EXPECT_EQ(LogMessages().back(), "no such table: S_ONLY");
    EXPECT_EQ(Query(m_path, "SELECT count(*) FROM T_NEW WHERE x = 1"), "1");  // ran once
    copy();
    EXPECT_EQ(m_db.AddColumn(u"S_ONLY", u"F_NEW", u"TEXT"), 0);
    copy();
    EXPECT_EQ(m_db.ExecuteAnsi(u"ANALYZE; REINDEX; DROP INDEX IF EXISTS I_S;"), 1);
    copy();
    EXPECT_EQ(m_db.ExecuteWithAttached(other, u"UPDATE S_ONLY SET x = 'new';"), 0);
    EXPECT_FALSE(InTransaction(m_db));
    copy();
    EXPECT_EQ(m_db.Execute(u"PRAGMA table_info(T_NEW);"), 1);

    // The source file was never written.
    m_db.Close();
    EXPECT_EQ(ReadFileBytes(source), before);
    EXPECT_EQ(Query(source, "PRAGMA journal_mode"), "delete");
}

TEST_F(TableOpsTest, IndexesTheSourceLacksWaitForTheRows) {
    const WString source = m_dir.Sub(u"old.s3db");
    Run(source,
        "CREATE TABLE T(a, b, c); CREATE INDEX I_A ON T(a); CREATE INDEX I_C ON T(c);"
        "INSERT INTO T VALUES(1, 2, 3);");
    std::vector<WString> deferred{u"left over"};
    auto schema = [&] {
        std::string names;
        db::Statement query(m_db.Handle(), "SELECT name FROM sqlite_master ORDER BY rowid");
        while (query.Step() == SQLITE_ROW)
            names += std::string(query.ColumnText(0)) + " ";
        return names;
    };
    auto reset = [&] {
        m_db.Close();
        ASSERT_TRUE(plat::RemoveFile(m_path));
        ASSERT_EQ(m_db.OpenDatabase(m_path), 1);
    };

    // An index the source has runs; from the first it lacks on, they wait, in order.
    EXPECT_EQ(m_db.ExecuteDeferringIndexes(u"CREATE TABLE T(a, b, c); CREATE INDEX I_A ON T(a);"
                                           u"CREATE INDEX I_B ON T(b) ; CREATE INDEX I_C ON "
                                           u"T(c)",
                                           u"T", source, deferred),
              1);
    EXPECT_EQ(deferred, (std::vector<WString>{u"CREATE INDEX I_B ON T(b) ;",
                                              u" CREATE INDEX "
                                              u"I_C ON T(c)"}));
    EXPECT_EQ(schema(), "T I_A ");
    for (const WString& statement : deferred)
        EXPECT_EQ(m_db.ExecuteAnsi(statement), 1);
    EXPECT_EQ(schema(), "T I_A I_B I_C ");
    EXPECT_TRUE(LogMessages().empty());

    // Nothing waits: without a source; UNIQUE; an index of another table; one followed by
    // another statement; a partial index.
    const std::pair<const char16_t*, const char*> kept[] = {
        {u"CREATE TABLE T(a); CREATE UNIQUE INDEX U ON T(a);", "T U "},
        {u"CREATE TABLE X(a); CREATE TABLE T(a); CREATE INDEX IX ON X(a);", "X T IX "},
        {u"CREATE TABLE T(a); CREATE INDEX I ON T(a); CREATE TABLE Y(b);", "T I Y "},
        {u"CREATE TABLE T(a); CREATE INDEX I ON T(a) WHERE a > 0;", "T I "},
    };
    for (const auto& [sql, names] : kept) {
        reset();
        EXPECT_EQ(m_db.ExecuteDeferringIndexes(sql, u"T", source, deferred), 1);
        EXPECT_TRUE(deferred.empty()) << Utf8(sql);
        EXPECT_EQ(schema(), names);
    }
    reset();
    EXPECT_EQ(m_db.ExecuteDeferringIndexes(u"CREATE TABLE T(a); CREATE INDEX I ON T(a);", u"T",
                                           WString(), deferred),
              1);
    EXPECT_TRUE(deferred.empty());

    // Statements after a waiting index that need it find it made.
    reset();
    EXPECT_EQ(m_db.ExecuteDeferringIndexes(u"CREATE TABLE T(a); CREATE INDEX I ON T(a);"
                                           u"DROP INDEX I; CREATE INDEX I ON T(a);",
                                           u"T", source, deferred),
              1);
    EXPECT_EQ(deferred, std::vector<WString>{u" CREATE INDEX I ON T(a);"});
    EXPECT_EQ(schema(), "T ");

    // A failure stops where it would have stopped: what came before it was made, nothing
    // after it, and nothing waits.
    reset();
    EXPECT_EQ(m_db.ExecuteDeferringIndexes(u"CREATE TABLE T(a, b); CREATE INDEX I1 ON T(a);"
                                           u"CREATE INDEX I2 ON T(nosuch); CREATE TABLE Z(x);",
                                           u"T", source, deferred),
              0);
    EXPECT_TRUE(deferred.empty());
    EXPECT_EQ(schema(), "T I1 ");
    EXPECT_EQ(LogMessages().back(), "no such column: nosuch");
    reset();
    EXPECT_EQ(m_db.ExecuteDeferringIndexes(u"CREATE TABLE T(a, b); CREATE INDEX I ON T(a);"
                                           u"CREATE INDEX i ON T(b);",
                                           u"T", source, deferred),
              0);
    EXPECT_EQ(schema(), "T I ");
    EXPECT_EQ(LogMessages().back(), "index i already exists");

    m_db.Close();
    EXPECT_EQ(m_db.ExecuteDeferringIndexes(u"CREATE TABLE Q(a);", u"Q", source, deferred), 0);
    EXPECT_EQ(m_db.IsOpen(), 0);  // never opens
}

TEST_F(TableOpsTest, DurableCommitsAndSyncs) {
    for (const char* mode : {"OFF", "MEMORY", "WAL", "TRUNCATE"}) {
        ASSERT_EQ(m_db.Run(std::string("PRAGMA synchronous=OFF; PRAGMA journal_mode=") + mode + ";",
                           db::Origin::kProgram),
                  1);
        EXPECT_EQ(m_db.UseDurableCommits(), 1) << mode;
        db::Statement journal(m_db.Handle(), "PRAGMA journal_mode;");
        ASSERT_EQ(journal.Step(), SQLITE_ROW);
        // A journal on disk, in the database's own file: a write-ahead log is left.
        EXPECT_STREQ(journal.ColumnText(0),
                     std::string(mode) == "TRUNCATE" ? "truncate" : "delete");
        db::Statement sync(m_db.Handle(), "PRAGMA synchronous;");
        ASSERT_EQ(sync.Step(), SQLITE_ROW);
        EXPECT_STREQ(sync.ColumnText(0), "2") << mode;
        EXPECT_EQ(m_db.SyncToDisk(), 1);
    }
    EXPECT_FALSE(plat::PathExists(m_path + u"-wal"));

    // Syncs deferred on the main file only, and made durable again.
    const WString other = m_dir.Sub(u"other.s3db");
    ASSERT_EQ(m_db.Run(Utf8(u"ATTACH '" + db::QuoteSingle(plat::ToNativePath(other)) +
                            u"' AS OTHER; PRAGMA OTHER.synchronous=NORMAL;"),
                       db::Origin::kProgram),
              1);
    EXPECT_EQ(m_db.DeferSyncs(), 1);
    EXPECT_EQ(Query(m_path, "PRAGMA main.synchronous"), "2");  // a setting of the connection
    auto setting = [&](const char* sql) {
        db::Statement query(m_db.Handle(), sql);
        return query.Step() == SQLITE_ROW ? std::string(query.ColumnText(0)) : "<error>";
    };
    EXPECT_EQ(setting("PRAGMA main.synchronous;"), "0");
    EXPECT_EQ(setting("PRAGMA OTHER.synchronous;"), "1");
    EXPECT_EQ(m_db.UseDurableCommits(), 1);
    EXPECT_EQ(setting("PRAGMA main.synchronous;"), "2");

    m_db.Close();
    EXPECT_EQ(m_db.SyncToDisk(), 0);
    EXPECT_EQ(m_db.UseDurableCommits(), 0);
    EXPECT_EQ(m_db.DeferSyncs(), 0);
}

TEST_F(TableOpsTest, ForeignKeysStayOffWhateverAStatementAsks) {
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE P(id INTEGER PRIMARY KEY);"
                           u"CREATE TABLE C(p REFERENCES P(id) ON DELETE CASCADE);"
                           u"INSERT INTO P VALUES(1); INSERT INTO C VALUES(1), (2);"),
              1);
    // The pragma is accepted and does nothing; reading it is still allowed.
    EXPECT_EQ(m_db.Execute(u"PRAGMA foreign_keys=ON; PRAGMA main.foreign_keys = 1;"), 1);
    EXPECT_EQ(m_db.Execute(u"DELETE FROM P;"), 1);
    EXPECT_EQ(Query(m_path, "SELECT count(*) FROM C"), "2");
    m_db.Close();
    ASSERT_EQ(m_db.Open(), 1);
    db::Statement query(m_db.Handle(), "PRAGMA foreign_keys;");
    ASSERT_EQ(query.Step(), SQLITE_ROW);
    EXPECT_STREQ(query.ColumnText(0), "0");
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(TableOpsTest, ExecuteWithAttachedLeavesNothingOpenOnAnyPath) {
    const WString other = m_dir.Sub(u"other.s3db");
    Run(other, "CREATE TABLE T(x); INSERT INTO T VALUES(5);");
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE T(x);"), 1);

    // Success: the statement sees both files.
    EXPECT_EQ(m_db.ExecuteWithAttached(other, u"INSERT INTO main.T SELECT x FROM NEW_DB.T;"), 1);
    EXPECT_EQ(Query(m_path, "SELECT x FROM T"), "5");
    EXPECT_EQ(Attached(m_db), 1);

    // A failing statement: rolled back by SQLite, committed around, detached.
    EXPECT_EQ(m_db.ExecuteWithAttached(other, u"INSERT INTO NEW_DB.MISSING VALUES(1);"), 0);
    EXPECT_EQ(Attached(m_db), 1);
    EXPECT_FALSE(InTransaction(m_db));
    EXPECT_EQ(LogMessages(), (std::vector<std::string>{"no such table: NEW_DB.MISSING"}));

    // A refused COMMIT (a reader of the file holds its lock) leaves neither the transaction
    // nor NEW_DB.
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE C(p);"), 1);
    {
        sqlite3* reader = nullptr;
        ASSERT_EQ(sqlite3_open(plat::PathForSqlite(m_path).c_str(), &reader), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM C;", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        EXPECT_EQ(m_db.ExecuteWithAttached(other, u"INSERT INTO C VALUES(99);"), 0);
        sqlite3_close(reader);
    }
    EXPECT_FALSE(InTransaction(m_db));
    EXPECT_EQ(Attached(m_db), 1);
    EXPECT_EQ(Query(m_path, "SELECT count(*) FROM C"), "0");
    EXPECT_EQ(LogMessages().back(), "database is locked");

    // A failing ATTACH attaches nothing and runs nothing.
    const size_t before = LogMessages().size();
    EXPECT_EQ(
        m_db.ExecuteWithAttached(m_dir.Sub(u"no\\such\\folder.s3db"), u"INSERT INTO T VALUES(6);"),
        0);
    EXPECT_EQ(Attached(m_db), 1);
    EXPECT_FALSE(InTransaction(m_db));
    EXPECT_EQ(Query(m_path, "SELECT count(*) FROM T"), "1");
    EXPECT_EQ(LogMessages().size(), before + 1);

    // Opens on demand.
    m_db.Close();
    EXPECT_EQ(m_db.ExecuteWithAttached(other, u"INSERT INTO T SELECT x FROM NEW_DB.T;"), 1);
    EXPECT_EQ(Query(m_path, "SELECT count(*) FROM T"), "2");
}

TEST_F(TableOpsTest, AScriptsStatementReachesItsOwnDatabaseOnly) {
    const WString other = m_dir.Sub(u"other.s3db");
    Run(other, "CREATE TABLE O(x); INSERT INTO O VALUES(7);");
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE TUSER(a); CREATE TABLE TGROUP(b);"
                           u"INSERT INTO TUSER VALUES(1);"),
              1);
    m_db.Close();
    const std::string mine = ReadFileBytes(m_path);
    const std::string others = ReadFileBytes(other);
    const std::string outside = Utf8(plat::ToNativePath(m_dir.Sub(u"copy.db")));
    const std::pair<std::u16string, const char*> refused[] = {
        {u"VACUUM INTO '" + FromUtf8(outside) + u"';", "VACUUM"},
        {u" /* a comment */ vacuum;", "VACUUM"},
        {u"ATTACH '" + FromUtf8(outside) + u"' AS X; CREATE TABLE X.T(a);", "ATTACH"},
        {u"DETACH main;", "DETACH"},
        {u"PRAGMA writable_schema=ON; UPDATE sqlite_master SET sql='CREATE TABLE "
         u"TUSER(garbage' WHERE name='TGROUP';",
         "PRAGMA writable_schema="},
        {u"PRAGMA journal_mode=WAL;", "PRAGMA journal_mode="},
        {u"PRAGMA main.synchronous=OFF;", "PRAGMA synchronous="},
        {u"PRAGMA page_size=512;", "PRAGMA page_size="},
        {u"PRAGMA auto_vacuum=FULL;", "PRAGMA auto_vacuum="},
        {u"PRAGMA locking_mode=EXCLUSIVE;", "PRAGMA locking_mode="},
        {u"PRAGMA schema_version=1;", "PRAGMA schema_version="},
        {u"PRAGMA trusted_schema=ON;", "PRAGMA trusted_schema="},
        {u"PRAGMA wal_checkpoint;", "PRAGMA wal_checkpoint"},
    };
    for (const auto& [sql, what] : refused) {
        EXPECT_EQ(m_db.ExecuteWhole(sql), 0) << Utf8(sql);
        EXPECT_NE(FromAnsi(ReadFileBytes(m_dir.Sub(u"test.log")))
                      .find(u"升级脚本的语句被拒绝: " + FromUtf8(what)),
                  WString::npos)
            << what;
    }
    EXPECT_EQ(m_db.ExecuteWithAttached(other, u"INSERT INTO NEW_DB.O VALUES(8);"), 0);
    EXPECT_EQ(m_db.ExecuteWithAttached(other, u"DELETE FROM NEW_DB.O;"), 0);
    EXPECT_EQ(m_db.ExecuteWithAttached(other, u"PRAGMA NEW_DB.user_version=7;"), 0);
    EXPECT_EQ(m_db.Execute(u"SELECT load_extension('x');"), 0);
    m_db.Close();
    EXPECT_EQ(ReadFileBytes(m_path), mine);
    EXPECT_EQ(ReadFileBytes(other), others);
    EXPECT_EQ(Query(m_path, "PRAGMA integrity_check"), "ok");
    EXPECT_FALSE(plat::PathExists(m_dir.Sub(u"copy.db")));

    // Reading pragmas, and the ones that set only the connection, run; NEW_DB is read.
    EXPECT_EQ(m_db.Execute(u"PRAGMA table_info(TUSER); PRAGMA index_list(TUSER);"
                           u"PRAGMA cache_size=100; PRAGMA journal_mode;"),
              1);
    EXPECT_EQ(m_db.ExecuteWithAttached(other, u"INSERT INTO TUSER SELECT x FROM NEW_DB.O;"), 1);
    EXPECT_EQ(Query(m_path, "SELECT group_concat(a) FROM TUSER"), "1,7");
}

TEST_F(TableOpsTest, CreateTrigger) {
    ASSERT_EQ(m_db.Execute(u"CREATE TABLE T(x); CREATE TABLE L(x);"), 1);
    m_db.Close();  // opens on demand
    EXPECT_EQ(m_db.CreateTrigger(u"CREATE TRIGGER TR AFTER INSERT ON T BEGIN "
                                 u"INSERT INTO L VALUES(new.x); END;"),
              1);
    EXPECT_EQ(m_db.TriggerExists(u"TR"), 1);

    // Longer than any fixed buffer.
    WString body;
    for (int i = 0; i < 300; ++i)
        body += u"INSERT INTO L VALUES(" + wstr::FromInt(i) + u");";
    ASSERT_GT(body.size(), 2048u);
    EXPECT_EQ(
        m_db.CreateTrigger(u"CREATE TRIGGER 长触发器 AFTER DELETE ON T BEGIN " + body + u" END;"),
        1);
    EXPECT_EQ(m_db.TriggerExists(u"长触发器"), 1);
    EXPECT_TRUE(LogMessages().empty());

    // An invalid statement: SQLite's text, then the fixed message.
    EXPECT_EQ(m_db.CreateTrigger(u"CREATE TRIGGER BAD AFTER INSERT ON MISSING BEGIN SELECT 1; "
                                 u"END;"),
              0);
    EXPECT_EQ(LogMessages(),
              (std::vector<std::string>{"no such table: main.MISSING", kTriggerFailed936}));

    // It waits while another holder has g_csDBLock.
    std::atomic<bool> done{false};
    g_csDBLock.Enter();
    std::thread worker([&] {
        m_db.CreateTrigger(u"CREATE TRIGGER TR2 AFTER UPDATE ON T BEGIN SELECT 1; END;");
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done);
    g_csDBLock.Leave();
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(m_db.TriggerExists(u"TR2"), 1);
}

}  // namespace
