#include <gtest/gtest.h>

#include "engine/migration_fixture.h"

namespace {

using Strings = std::vector<std::string>;

TEST_F(MigrationTest, MigratesADatabaseAndCarriesEveryRow) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    script.Item(1, u"ALTER", u"TUSER,F_NICK", u"TEXT DEFAULT '无'");
    script.Item(1, u"TRIGGER", u"TR_USER_DEL",
                u"CREATE TRIGGER TR_USER_DEL AFTER DELETE ON TUSER BEGIN SELECT 1; END;");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TUSER ORDER BY F_ID"),
              (Strings{"1|张三|无", "2|O'Brien|无", "3|<null>|无"}));
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TVERSION WHERE F_TABLENAME='TMAIN'"), "1");
    EXPECT_EQ(Value(u"DB.s3db", "SELECT name FROM sqlite_master WHERE type='trigger'"),
              "TR_USER_DEL");
    EXPECT_FALSE(Exists(u"DB.s3db.tmp"));
    EXPECT_TRUE(LogHas(u"rename to tmp"));
    EXPECT_TRUE(s_messages.empty());
    // A silent run records the script's update time before touching any database.
    EXPECT_NE(ReadFileBytes(At(u"configure\\update.xml")).find("2026-12-08 10:00:00"),
              std::string::npos);
}

TEST_F(MigrationTest, AFailedCopyKeepsTheSetAsideFileAndReportsFailure) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    script.Item(1, u"TABLE", u"TVERSION",
                u"CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);");
    // One column fewer than the old table: the rows cannot be carried by position.
    script.Item(1, u"TABLE", u"TUSER", u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "0");
    EXPECT_FALSE(Exists(u"DB.s3db.tmp"));
    const WString kept = u"DB.s3db.20261208103000.bak";
    ASSERT_TRUE(Exists(kept));
    EXPECT_EQ(probe::Value(At(kept), "SELECT count(*) FROM TUSER"), "3");
    EXPECT_TRUE(LogHas(u"CopyTableToFile Failed! :TUSER \n"));
    EXPECT_TRUE(LogHas(kept));
}

TEST_F(MigrationTest, AMalformedScriptIsRefusedBeforeAnythingIsTouched) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    // An item whose BEGIN tag is missing: the items after it would be lost.
    script.Line(u"<DBNAME:DBN1>").Line(u"<NAME:TABLE>").Line(u"TLOST").Line(u"<END>");
    WriteScript(script);
    m_process.m_bInteractive = 1;

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(s_messages, (std::vector<WString>{u"升级脚本格式错误！"}));
    EXPECT_FALSE(Exists(u"DB.s3db.tmp"));
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.1");
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    // The bad item starts on line 21 of the script: 8 header lines, two items of 6 lines.
    EXPECT_TRUE(LogHas(u"第21行")) << ToUtf8(Log());
}

}  // namespace
