#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "db/db_connection.h"
#include "db/db_test_fixture.h"

namespace {

// Code page 936 bytes of the registry's failure messages.
const std::string kDeleteFailed936 = "\xC9\xBE\xB3\xFD\xB6\xE0\xD3\xE0\xB0\xE6\xB1\xBE\xBA\xC5";
const std::string kUpdateFailed936 = "\xB8\xFC\xD0\xC2\xB0\xE6\xB1\xBE\xBA\xC5\xCA\xA7\xB0\xDC";

class TableVersionTest : public DbTestFixture {
protected:
    void SetUp() override {
        DbTestFixture::SetUp();
        m_path = m_dir.Sub(u"DB.s3db");
        Run(m_path, "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);");
        ASSERT_EQ(m_db.OpenDatabase(m_path), 1);
    }

    std::string Rows(const std::string& name) {
        return Query(m_path, "SELECT count(*) FROM TVERSION WHERE F_TABLENAME='" + name + "'");
    }
    std::string Version(const std::string& name) {
        return Query(m_path,
                     "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='" + name + "'");
    }

    WString m_path;
    CDBConnection m_db;
};

TEST_F(TableVersionTest, SetInsertsUpdatesAndReplacesDuplicates) {
    // No row: the read succeeds and leaves the caller's value; the first Set inserts.
    WString version = u"preset";
    EXPECT_EQ(m_db.GetTableVersion(u"TMAIN", version), 1);
    EXPECT_EQ(version, u"preset");
    int count = -1;
    EXPECT_EQ(m_db.CountTableVersions(u"TMAIN", count), 1);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(m_db.SetTableVersion(u"TMAIN", u"8.0.1"), 1);
    EXPECT_EQ(Rows("TMAIN"), "1");
    EXPECT_EQ(m_db.GetTableVersion(u"TMAIN", version), 1);
    EXPECT_EQ(version, u"8.0.1");

    // One row: updated in place.
    const std::string rowid = Query(m_path, "SELECT rowid FROM TVERSION");
    ASSERT_EQ(m_db.SetTableVersion(u"TMAIN", u"8.0.2"), 1);
    EXPECT_EQ(Rows("TMAIN"), "1");
    EXPECT_EQ(Query(m_path, "SELECT rowid FROM TVERSION WHERE F_TABLEVERSION='8.0.2'"), rowid);

    // Three rows: all go, one comes back; other names are left alone.
    Run(m_path, "INSERT INTO TVERSION VALUES('T','1'),('T','2'),('T','3'),('OTHER','5');");
    EXPECT_EQ(m_db.CountTableVersions(u"T", count), 1);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(m_db.SetTableVersion(u"T", u"4"), 1);
    EXPECT_EQ(Rows("T"), "1");
    EXPECT_EQ(Version("T"), "4");
    EXPECT_EQ(Version("OTHER"), "5");
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(TableVersionTest, AFailedDeleteOfDuplicatesInsertsNothing) {
    Run(m_path,
        "INSERT INTO TVERSION VALUES('T','1'),('T','2'),('T','3');"
        "CREATE TRIGGER keep BEFORE DELETE ON TVERSION BEGIN SELECT RAISE(ABORT,'kept'); END;");
    EXPECT_EQ(m_db.SetTableVersion(u"T", u"4"), 0);
    EXPECT_EQ(Rows("T"), "3");
    EXPECT_EQ(Query(m_path, "SELECT count(*) FROM TVERSION WHERE F_TABLEVERSION='4'"), "0");
    EXPECT_EQ(LogMessages(), (std::vector<std::string>{"kept", kDeleteFailed936}));
}

TEST_F(TableVersionTest, NullVersionReadsAsEmpty) {
    Run(m_path, "INSERT INTO TVERSION VALUES('TMAIN', NULL);");
    WString version = u"preset";
    EXPECT_EQ(m_db.GetTableVersion(u"TMAIN", version), 1);
    EXPECT_EQ(version, u"");
}

TEST_F(TableVersionTest, EmptyNames) {
    Run(m_path, "INSERT INTO TVERSION VALUES('', 'x');");
    WString version = u"preset";
    EXPECT_EQ(m_db.GetTableVersion(u"", version), 0);
    EXPECT_EQ(version, u"preset");
    EXPECT_EQ(m_db.DeleteTableVersion(u""), 0);
    EXPECT_EQ(Rows(""), "1");
    // The others run with the empty name.
    int count = 0;
    EXPECT_EQ(m_db.CountTableVersions(u"", count), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(m_db.UpdateTableVersion(u"", u"y"), 1);
    EXPECT_EQ(Version(""), "y");
    EXPECT_EQ(m_db.InsertTableVersion(u"", u"z"), 1);
    EXPECT_EQ(Rows(""), "2");
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(TableVersionTest, AnyTextIsRecordedAsGiven) {
    // Apostrophes in names and versions are text, not SQL.
    ASSERT_EQ(m_db.SetTableVersion(u"O'Brien", u"8.0'1"), 1);
    ASSERT_EQ(m_db.SetTableVersion(u"O'Brien", u"8.0'2"), 1);
    EXPECT_EQ(Rows("O''Brien"), "1");
    WString version;
    EXPECT_EQ(m_db.GetTableVersion(u"O'Brien", version), 1);
    EXPECT_EQ(version, u"8.0'2");
    EXPECT_EQ(m_db.DeleteTableVersion(u"O'Brien"), 1);
    EXPECT_EQ(Rows("O''Brien"), "0");
    // An injection attempt is only a name.
    ASSERT_EQ(m_db.SetTableVersion(u"x' OR '1'='1", u"1"), 1);
    Run(m_path, "INSERT INTO TVERSION VALUES('TMAIN','7');");
    EXPECT_EQ(m_db.DeleteTableVersion(u"x' OR '1'='1"), 1);
    EXPECT_EQ(Version("TMAIN"), "7");

    // Chinese names are stored as UTF-8.
    ASSERT_EQ(m_db.SetTableVersion(u"用户表", u"版本一"), 1);
    EXPECT_EQ(Version(Utf8(u"用户表")), Utf8(u"版本一"));

    // Long texts, far beyond any statement buffer, go in and come out whole.
    WString longName(3000, u'名');
    WString longVersion;
    for (int i = 0; i < 2000; ++i)
        longVersion += wstr::FromInt(i) + u".";
    ASSERT_GT(longVersion.size(), 5120u);
    ASSERT_EQ(m_db.SetTableVersion(longName, longVersion), 1);
    ASSERT_EQ(m_db.SetTableVersion(longName, longVersion + u"9"), 1);
    EXPECT_EQ(m_db.GetTableVersion(longName, version), 1);
    EXPECT_EQ(version, longVersion + u"9");
    int count = 0;
    EXPECT_EQ(m_db.CountTableVersions(longName, count), 1);
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(TableVersionTest, WithoutTheTableReadsFailSilentlyAndWritesLogTwice) {
    const WString bare = m_dir.Sub(u"bare.s3db");
    CDBConnection db;
    ASSERT_EQ(db.OpenDatabase(bare), 1);
    WString version = u"preset";
    EXPECT_EQ(db.GetTableVersion(u"TMAIN", version), 0);
    EXPECT_EQ(version, u"preset");
    int count = 42;
    EXPECT_EQ(db.CountTableVersions(u"TMAIN", count), 0);
    EXPECT_EQ(count, 42);
    EXPECT_TRUE(LogMessages().empty());

    EXPECT_EQ(db.SetTableVersion(u"TMAIN", u"8.0"), 0);
    EXPECT_EQ(LogMessages(),
              (std::vector<std::string>{"no such table: TVERSION", kUpdateFailed936}));
    EXPECT_EQ(Query(bare, "SELECT count(*) FROM sqlite_master"), "0");  // nothing created
}

TEST_F(TableVersionTest, FailureMessagesKeepTheirEncodings) {
    // Under a code page other than 936 the update's message follows the code page, while
    // the insert and delete messages stay fixed 936 bytes.
    plat::SetAnsiCodePageForTesting(65001);
    Run(m_path,
        "INSERT INTO TVERSION VALUES('ONE','1');"
        "CREATE TRIGGER u BEFORE UPDATE ON TVERSION BEGIN SELECT RAISE(ABORT,'no update'); END;"
        "CREATE TRIGGER i BEFORE INSERT ON TVERSION BEGIN SELECT RAISE(ABORT,'no insert'); END;"
        "CREATE TRIGGER d BEFORE DELETE ON TVERSION BEGIN SELECT RAISE(ABORT,'no delete'); END;");
    EXPECT_EQ(m_db.SetTableVersion(u"ONE", u"2"), 0);
    EXPECT_EQ(m_db.SetTableVersion(u"NEW", u"2"), 0);
    EXPECT_EQ(m_db.DeleteTableVersion(u"ONE"), 0);
    EXPECT_EQ(LogMessages(),
              (std::vector<std::string>{"no update", Utf8(u"更新版本号失败"), "no insert",
                                        kUpdateFailed936, "no delete", kDeleteFailed936}));
    EXPECT_EQ(Version("ONE"), "1");
}

TEST_F(TableVersionTest, AConnectionThatCannotOpenFailsEverythingSilently) {
    plat::MakeDirectory(m_dir.Sub(u"folder"));
    CDBConnection db;
    ASSERT_EQ(db.OpenDatabase(m_dir.Sub(u"folder")), 0);  // logs its own code 4 line
    const size_t before = LogMessages().size();
    WString version;
    int count = 0;
    EXPECT_EQ(db.GetTableVersion(u"TMAIN", version), 0);
    EXPECT_EQ(db.CountTableVersions(u"TMAIN", count), 0);
    EXPECT_EQ(db.SetTableVersion(u"TMAIN", u"1"), 0);
    EXPECT_EQ(db.DeleteTableVersion(u"TMAIN"), 0);
    EXPECT_EQ(db.UpdateTableVersion(u"TMAIN", u"1"), 0);
    EXPECT_EQ(db.InsertTableVersion(u"TMAIN", u"1"), 0);
    EXPECT_EQ(LogMessages().size(), before);
}

TEST_F(TableVersionTest, OperationsOpenOnDemand) {
    m_db.Close();
    ASSERT_EQ(m_db.SetTableVersion(u"TMAIN", u"3"), 1);
    EXPECT_EQ(m_db.IsOpen(), 1);
    m_db.Close();
    WString version;
    EXPECT_EQ(m_db.GetTableVersion(u"TMAIN", version), 1);
    EXPECT_EQ(version, u"3");
}

TEST_F(TableVersionTest, OperationsWaitForTheSharedLock) {
    // While another holder has g_csDBLock, no registry operation may run.
    Run(m_path, "INSERT INTO TVERSION VALUES('T','1');");
    const std::vector<std::function<void()>> operations = {
        [&] { m_db.InsertTableVersion(u"T", u"1"); },
        [&] { m_db.UpdateTableVersion(u"T", u"2"); },
        [&] { m_db.DeleteTableVersion(u"T"); },
        [&] {
            int count = 0;
            m_db.CountTableVersions(u"T", count);
        },
        [&] {
            WString version;
            m_db.GetTableVersion(u"T", version);
        },
        [&] { m_db.SetTableVersion(u"T", u"3"); },
    };
    for (size_t i = 0; i < operations.size(); ++i) {
        std::atomic<bool> done{false};
        g_csDBLock.Enter();
        std::thread worker([&] {
            operations[i]();
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        EXPECT_FALSE(done) << "operation " << i;
        g_csDBLock.Leave();
        worker.join();
        EXPECT_TRUE(done);
    }
    EXPECT_EQ(Version("T"), "3");
}

}  // namespace
