// Migration runs that go wrong: whatever fails, no row the user had may be lost, and a run
// that left rows behind must not report success.
#include <gtest/gtest.h>

#include "engine/migration_fixture.h"

namespace {

using plat::FileOperation;

TEST_F(MigrationTest, AFailingTableStatementKeepsTheSetAsideFile) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1") +
                           "CREATE TABLE TOTHER(F_X);"
                           "INSERT INTO TOTHER VALUES('kept');");
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    script.Item(1, u"TABLE", u"TUSER", u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME");
    script.Item(1, u"TABLE", u"TOTHER", u"CREATE TABLE TOTHER(F_X);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 0);

    // The run went on: the other table is there with its rows, the version is recorded.
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TOTHER"), (Strings{"kept"}));
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
    // The rows that had no table to go to are in the kept file, named by the clock.
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kBak}));
    EXPECT_EQ(probe::Rows(At(kBak), "SELECT F_ID FROM TUSER ORDER BY F_ID"),
              (Strings{"1", "2", "3"}));
    EXPECT_EQ(probe::Value(At(kBak), "SELECT F_TABLEVERSION FROM TVERSION"), "8.0.0.1");
    EXPECT_TRUE(LogHas(At(kBak)));
}

TEST_F(MigrationTest, AFailedCopyKeepsTheSetAsideFileUnderANameNoRunReplaces) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    // One column fewer than the old table: the rows cannot be carried by position.
    script.Item(1, u"TABLE", u"TUSER", u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "0");
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kBak}));
    EXPECT_EQ(probe::Value(At(kBak), "SELECT count(*) FROM TUSER"), "3");
    EXPECT_TRUE(LogHas(u"CopyTableToFile Failed! :TUSER \n"));
    EXPECT_TRUE(LogHas(At(kBak)));

    // The same failure again within the same second keeps the second copy beside the first.
    const std::string first = Bytes(kBak);
    m_process.ClearDatabaseList();  // closes the new file the first run left open
    ASSERT_TRUE(plat::RemoveFile(At(u"DB.s3db")));
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1") + "INSERT INTO TUSER VALUES(7,'seven');");
    EXPECT_EQ(Migrate(), 0);
    const WString second = u"DB.s3db.20261208103000-2.bak";
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", second, kBak}));
    EXPECT_EQ(Bytes(kBak), first);
    EXPECT_EQ(probe::Value(At(second), "SELECT count(*) FROM TUSER"), "4");
    EXPECT_TRUE(LogHas(At(second)));
}

TEST_F(MigrationTest, RowsNoTableOfTheScriptTakesAreKept) {
    // A script that leaves a table out, on purpose or because an item of it is damaged
    // (here: it names a database the header does not list).
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1") +
                           "CREATE TABLE TNOTES(F_TEXT TEXT);"
                           "INSERT INTO TNOTES VALUES('keep me');"
                           "CREATE TABLE TEMPTY(F_X);");
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    script.Item(2, u"TABLE", u"TNOTES", u"CREATE TABLE TNOTES(F_TEXT TEXT);");
    WriteScript(script);

    // The run did what the script says; the rows it did not take stay with the old file.
    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kBak}));
    EXPECT_EQ(probe::Rows(At(kBak), "SELECT * FROM TNOTES"), Strings{"keep me"});
    EXPECT_TRUE(LogHas(u"表TNOTES的数据没有迁移到新数据库"));

    // An empty table left out costs nothing: the set-aside file goes.
    m_process.ClearDatabaseList();
    ASSERT_TRUE(plat::RemoveFile(At(u"DB.s3db")));
    ASSERT_TRUE(plat::RemoveFile(At(kBak)));
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1") + "CREATE TABLE TEMPTY(F_X);");
    EXPECT_EQ(Migrate(), 1);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(MigrationTest, AFailedCopyFromVuserdatKeepsVuserdat) {
    MakeDb(u"vuserdat", VersionedDb("8.0.0.1",
                                    "CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);"
                                    "INSERT INTO TCONTACT VALUES(1,'李四');"));
    ScriptText script;
    script.Head(u"8.0.0").Count(2).Database(1, u"vuserdat", u"8.0.0.2");
    script.Database(2, u"New.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    // vuserdat itself no longer keeps its contacts; the new database takes them, but its
    // table has a column more.
    script.Item(2, u"TABLE", u"TCONTACT", u"CREATE TABLE TCONTACT(F_ID, F_NAME, F_GROUP);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Value(u"New.s3db", "SELECT count(*) FROM TCONTACT"), "0");
    const WString kept = u"vuserdat.20261208103000.bak";
    EXPECT_EQ(Files(u"vuserdat*"), (WStrings{u"vuserdat", kept}));
    EXPECT_EQ(probe::Rows(At(kept), "SELECT * FROM TCONTACT"), (Strings{"1|李四"}));
    EXPECT_TRUE(LogHas(At(kept)));
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
}

TEST_F(MigrationTest, AFailedCopyFromTheExtraFileKeepsTheExtraFile) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    MakeDb(u"extra.s3db",
           "CREATE TABLE TSETTING(F_KEY TEXT, F_VALUE TEXT);"
           "INSERT INTO TSETTING VALUES('skin','蓝');");
    const std::string extra = Bytes(u"extra.s3db");
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    script.Item(1, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Bytes(u"extra.s3db"), extra);
    EXPECT_TRUE(LogHas(At(u"extra.s3db")));
    // The database that missed the rows keeps its set-aside file too.
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kBak}));
}

TEST_F(MigrationTest, ADatabaseThatCannotBeCreatedIsMovedBack) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    const std::string old = Bytes(u"DB.s3db");
    WriteUserTablesScript();
    // The attempt gets as far as an empty file.
    FailOn(FileOperation::kCreate, u"DB.s3db", true);

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Bytes(u"DB.s3db"), old);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    EXPECT_TRUE(LogHas(u"已恢复原数据库: " + At(u"DB.s3db")));
}

TEST_F(MigrationTest, ADatabaseThatCannotBeMovedBackFailsTheRun) {
    MakeTwoUserDbs();
    FailOn(FileOperation::kCreate, u"DB.s3db");
    FailOn(FileOperation::kMove, u"DB.s3db.tmp");

    // Other.s3db migrates, but DB.s3db is not where the client looks for it.
    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Version(u"Other.s3db"), "8.0.0.2");
    // The marker stays beside the set-aside file: the next run takes the rows from it.
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db.migrating", u"DB.s3db.tmp"}));
    EXPECT_EQ(probe::Value(At(u"DB.s3db.tmp"), "SELECT count(*) FROM TUSER"), "3");
    EXPECT_TRUE(LogHas(u"原数据库保留在: " + At(u"DB.s3db.tmp")));

    plat::SetFileFaultForTesting(nullptr);
    EXPECT_EQ(Migrate(), 1);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
}

TEST_F(MigrationTest, ApostrophesInFoldersNamesAndVersions) {
    ASSERT_TRUE(plat::MakeDirectory(At(u"O'Brien")));
    m_process.m_strDataDir = At(u"O'Brien");
    MakeDb(u"O'Brien\\Tom's\\DB.s3db", OldUserDb("8.0.0.1") +
                                           "CREATE TABLE [T'Q](F_A TEXT);"
                                           "INSERT INTO [T'Q] VALUES('q');");
    MakeDb(u"O'Brien\\extra.s3db",
           "CREATE TABLE TSETTING(F_KEY TEXT);"
           "INSERT INTO TSETTING VALUES('k');");
    ScriptText script;
    script.Head(u"8.0.0", u"extra.s3db", u"2026-12-08 it's time")
        .Count(2)
        .Database(1, u"DB.s3db", u"8.0.0.2'b", u"Tom's")
        .Database(2, u"Chat.s3db", u"8.0.0.2", u"Tom's");
    UserTables(script, 1);
    script.Item(1, u"TABLE", u"T'Q", u"CREATE TABLE [T'Q](F_A TEXT);");
    script.Item(1, u"ALTER", u"T'Q,F'B", u"TEXT DEFAULT 'x'");
    script.Item(1, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT);");
    VersionTable(script, 2);
    script.Item(2, u"TABLE", u"TUSER",
                u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
    script.Item(2, u"SQLTWO", u"1,DBN1", u"INSERT INTO TUSER SELECT * FROM NEW_DB.TUSER;");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    const WString db = u"O'Brien\\Tom's\\DB.s3db";
    EXPECT_EQ(Value(db, "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Rows(db, "SELECT * FROM [T'Q]"), (Strings{"q|x"}));
    EXPECT_EQ(Rows(db, "SELECT * FROM TSETTING"), (Strings{"k"}));
    EXPECT_EQ(Version(db), "8.0.0.2'b");
    EXPECT_EQ(Value(u"O'Brien\\Tom's\\Chat.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_FALSE(Exists(u"O'Brien\\extra.s3db"));
    EXPECT_EQ(Files(u"O'Brien\\Tom's\\*"), (WStrings{u"Chat.s3db", u"DB.s3db"}));
    EXPECT_NE(Bytes(u"O'Brien\\configure\\update.xml").find("it's time"), std::string::npos);
}

TEST_F(MigrationTest, ADataFileThatIsADatabaseOfTheListIsNeitherUsedNorDeleted) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    MakeDb(u"data\\Chat.s3db", OldUserDb("8.0.0.1"));
    MakeDb(u"extra.s3db",
           "CREATE TABLE TSETTING(F_KEY TEXT);"
           "INSERT INTO TSETTING VALUES('k');");
    ScriptText script;
    // The two databases come first: extra.s3db is the first name that may serve.
    script.Head(u"8.0.0", u"DB.s3db,data\\Chat.s3db,extra.s3db")
        .Count(2)
        .Database(1, u"DB.s3db", u"8.0.0.2")
        .Database(2, u"Chat.s3db", u"8.0.0.2", u"data");
    for (int db : {1, 2}) {
        UserTables(script, db);
        script.Item(db, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT);");
    }
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    for (WStringView db : {u"DB.s3db", u"data\\Chat.s3db"}) {
        EXPECT_EQ(Value(db, "SELECT count(*) FROM TUSER"), "3");
        EXPECT_EQ(Rows(db, "SELECT * FROM TSETTING"), (Strings{"k"}));
        EXPECT_EQ(Version(db), "8.0.0.2");
    }
    EXPECT_FALSE(Exists(u"extra.s3db"));
    EXPECT_TRUE(LogHas(u"DATABASEFILE DB.s3db is a database of the list"));
}

TEST_F(MigrationTest, AMalformedScriptIsRefusedBeforeAnythingIsTouched) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    const std::string old = Bytes(u"DB.s3db");
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    // An item whose BEGIN tag is missing: the items after it would be lost.
    script.Line(u"<DBNAME:DBN1>").Line(u"<NAME:TABLE>").Line(u"TLOST").Line(u"<END>");
    WriteScript(script);
    m_process.m_bInteractive = 1;

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(s_messages, (WStrings{u"升级脚本格式错误！"}));
    EXPECT_EQ(Bytes(u"DB.s3db"), old);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    // The bad item starts on line 21 of the script: 8 header lines, two items of 6 lines.
    EXPECT_TRUE(LogHas(u"第21行")) << ToUtf8(Log());

    // A kind no reader knows is refused the same way, silently in a silent run.
    ScriptText unknown;
    unknown.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    unknown.Item(1, u"TABLE", u"TVERSION", u"CREATE TABLE TVERSION(F_TABLENAME, F_TABLEVERSION);");
    unknown.Item(1, u"VIEW", u"V", u"CREATE VIEW V AS SELECT 1;");
    WriteScript(unknown);
    m_process.m_bInteractive = 0;
    s_messages.clear();
    EXPECT_EQ(Migrate(), 0);
    EXPECT_TRUE(s_messages.empty());
    EXPECT_TRUE(LogHas(u"第15行"));
    EXPECT_EQ(Bytes(u"DB.s3db"), old);
}

TEST_F(MigrationTest, AnItemThatSwallowsTheNextIsRefused) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    const std::string old = Bytes(u"DB.s3db");
    // The first TABLE item misses its BEGIN tag, so the reader would take the TUSER item's
    // body for it and the TUSER table would never be created: its rows would be lost
    // without any statement failing.
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    script.Line(u"<DBNAME:DBN1>").Line(u"<NAME:TABLE>").Line(u"TVERSION");
    script.Line(u"CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);");
    script.Line(u"<END>");
    script.Item(1, u"TABLE", u"TUSER",
                u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 0);
    EXPECT_EQ(Bytes(u"DB.s3db"), old);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    // The swallowed item's DBNAME tag is line 14.
    EXPECT_TRUE(LogHas(u"第14行的项目被前一项目吞没")) << ToUtf8(Log());

    // So is an item without its DBNAME tag, which the item pass would skip.
    ScriptText noDbName;
    noDbName.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(noDbName, 1);
    noDbName.Line(u"<NAME:TABLE>").Line(u"TMORE").Line(u"<BEGIN>").Line(u"CREATE TABLE TMORE(x);");
    noDbName.Line(u"<END>");
    WriteScript(noDbName);
    EXPECT_EQ(Migrate(), 0);
    EXPECT_EQ(Bytes(u"DB.s3db"), old);
    EXPECT_TRUE(LogHas(u"第21行的项目被前一项目吞没")) << ToUtf8(Log());
}

TEST_F(MigrationTest, ALongUpdateTimeIsRecordedWhole) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    WString time = u"2026年12月8日 ";
    while (time.size() < 3000)
        time += u"0123456789";
    ScriptText script;
    script.Head(u"8.0.0", u"extra.s3db", time).Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Bytes(u"configure\\update.xml"),
              "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n<updateload>\r\n"
              "\t<LastUpdateTime>" +
                  *ToAnsi(time) + "\r\n</LastUpdateTime>\r\n</updateload>\r\n");
}

TEST_F(MigrationTest, ASetAsideFileLeftByAnEarlierRunIsKept) {
    // An earlier run stopped half way: DB.s3db is its half-built file, DB.s3db.tmp holds
    // the user's rows.
    MakeDb(u"DB.s3db", "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
    MakeDb(u"DB.s3db.tmp", OldUserDb("8.0.0.1"));
    const std::string earlier = Bytes(u"DB.s3db.tmp");
    WriteUserTablesScript();

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kBak}));
    EXPECT_EQ(Bytes(kBak), earlier);
    EXPECT_TRUE(LogHas(At(kBak)));
}

TEST_F(MigrationTest, AnUnreadableFileIsNeverDeleted) {
    const std::string garbage(4096, 'x');
    WriteFileBytes(At(u"DB.s3db"), garbage);
    WriteFileBytes(At(u"extra.s3db"), garbage);
    WriteUserTablesScript();

    // The database is built new, but what the file held could not be carried.
    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kBak}));
    EXPECT_EQ(Bytes(kBak), garbage);
    EXPECT_EQ(Bytes(u"extra.s3db"), garbage);
}

TEST_F(MigrationTest, TwoDatabasesOfOneFileAreMigratedOnce) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    ScriptText script;
    script.Head(u"8.0.0").Count(2).Database(1, u"DB.s3db", u"8.0.0.2");
    script.Database(2, u"DB.s3db", u"8.0.0.3", u"\\");
    UserTables(script, 1);
    UserTables(script, 2);
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

}  // namespace
