// Whole migration runs as users see them: which databases move, where their rows come
// from, which statements run, what the run reports.
#include <gtest/gtest.h>

#include "engine/migration_fixture.h"

namespace {

constexpr char kTables[] = "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name";

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
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
    EXPECT_EQ(Files(u"*.bak"), WStrings{});
    EXPECT_TRUE(LogHas(u"rename to tmp"));
    EXPECT_TRUE(s_messages.empty());
    // A silent run records the script's update time before touching any database.
    EXPECT_NE(Bytes(u"configure\\update.xml").find("2026-12-08 10:00:00"), std::string::npos);
}

TEST_F(MigrationTest, SeveralDatabasesInSubFolders) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    MakeDb(u"data\\user\\Chat.s3db",
           "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);"
           "INSERT INTO TVERSION VALUES('TMAIN','8.0.0.1'),('TMSG','3');"
           "CREATE TABLE TMSG(F_ID INTEGER, F_TEXT TEXT);"
           "INSERT INTO TMSG VALUES(1,'你好'),(2,'bye');");
    ScriptText script;
    script.Head(u"8.0.0")
        .Count(3)
        .Database(1, u"DB.s3db", u"8.0.0.2")
        .Database(2, u"Chat.s3db", u"8.0.0.3", u"data\\user")
        .Database(3, u"Log.s3db", u"8.0.0.4", u"data\\new");
    UserTables(script, 1);
    VersionTable(script, 2);
    script.Item(2, u"TABLE", u"TMSG", u"CREATE TABLE TMSG(F_ID INTEGER, F_TEXT TEXT);");
    script.Item(2, u"ALTER", u"TMSG,F_READ", u"INTEGER DEFAULT 0");
    VersionTable(script, 3);
    script.Item(3, u"TABLE", u"TLOG", u"CREATE TABLE TLOG(F_AT TEXT);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
    // Every row of TVERSION is carried; TMAIN is then moved to the new version.
    EXPECT_EQ(Rows(u"data\\user\\Chat.s3db", "SELECT * FROM TVERSION ORDER BY F_TABLENAME"),
              (Strings{"TMAIN|8.0.0.3", "TMSG|3"}));
    EXPECT_EQ(Rows(u"data\\user\\Chat.s3db", "SELECT * FROM TMSG ORDER BY F_ID"),
              (Strings{"1|你好|0", "2|bye|0"}));
    // A database that did not exist: its two folder levels and the file are made.
    EXPECT_TRUE(plat::IsDirectory(At(u"data\\new")));
    EXPECT_EQ(Rows(u"data\\new\\Log.s3db", kTables), (Strings{"TLOG", "TVERSION"}));
    EXPECT_EQ(Version(u"data\\new\\Log.s3db"), "8.0.0.4");
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
    EXPECT_EQ(Files(u"data\\user\\*.tmp"), WStrings{});
    EXPECT_EQ(Files(u"data\\new\\*"), WStrings{u"Log.s3db"});
}

TEST_F(MigrationTest, RowsComeFromTheOwnFileThenVuserdatThenTheExtraFile) {
    // vuserdat is listed last: every database is set aside before the first table is made.
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    MakeDb(u"VUserDat", VersionedDb("8.0.0.1",
                                    "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);"
                                    "INSERT INTO TUSER VALUES(9,'from vuserdat');"
                                    "CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);"
                                    "INSERT INTO TCONTACT VALUES(1,'李四');"));
    MakeDb(u"extra.s3db",
           "CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);"
           "INSERT INTO TCONTACT VALUES(2,'from extra');"
           "CREATE TABLE TSETTING(F_KEY TEXT, F_VALUE TEXT);"
           "INSERT INTO TSETTING VALUES('skin','蓝');");
    MakeDb(u"second.s3db",
           "CREATE TABLE TSETTING(F_KEY TEXT, F_VALUE TEXT);"
           "INSERT INTO TSETTING VALUES('never','used');");
    const std::string second = Bytes(u"second.s3db");
    ScriptText script;
    // missing.s3db does not exist, so extra.s3db is the first data file; second.s3db is
    // never looked at.
    script.Head(u"8.0.0", u"missing.s3db,extra.s3db,second.s3db")
        .Count(3)
        .Database(1, u"DB.s3db", u"8.0.0.2")
        .Database(2, u"New.s3db", u"8.0.0.2")
        .Database(3, u"VUserDat", u"8.0.0.2");
    UserTables(script, 1);
    VersionTable(script, 2);
    for (int db : {1, 2}) {
        script.Item(db, u"TABLE", u"TUSER",
                    u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
        script.Item(db, u"TABLE", u"TCONTACT",
                    u"CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);");
        script.Item(db, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT, F_VALUE TEXT);");
    }
    // A database that did not exist has no version: every data statement is due for it.
    script.Item(2, u"SQLONE", u"1.0", u"INSERT INTO TSETTING VALUES('created','yes');");
    UserTables(script, 3);
    script.Item(3, u"TABLE", u"TCONTACT", u"CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    // The database's own rows win; the shared vuserdat copy comes next, the extra file last.
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT F_ID FROM TUSER ORDER BY F_ID"), (Strings{"1", "2", "3"}));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TCONTACT"), (Strings{"1|李四"}));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TSETTING"), (Strings{"skin|蓝"}));
    EXPECT_EQ(Rows(u"New.s3db", "SELECT * FROM TUSER"), (Strings{"9|from vuserdat"}));
    EXPECT_EQ(Rows(u"New.s3db", "SELECT * FROM TCONTACT"), (Strings{"1|李四"}));
    EXPECT_EQ(Rows(u"New.s3db", "SELECT * FROM TSETTING ORDER BY F_KEY"),
              (Strings{"created|yes", "skin|蓝"}));
    EXPECT_EQ(Version(u"New.s3db"), "8.0.0.2");
    EXPECT_EQ(Rows(u"VUserDat", "SELECT * FROM TCONTACT"), (Strings{"1|李四"}));
    EXPECT_EQ(Version(u"VUserDat"), "8.0.0.2");
    // The extra file has served, but its TCONTACT rows went nowhere: it stays. The names
    // after it are not touched.
    EXPECT_TRUE(LogHas(u"数据文件中表TCONTACT的数据没有迁移, 数据文件保留: " + At(u"extra.s3db")));
    EXPECT_EQ(Bytes(u"second.s3db"), second);
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
}

TEST_F(MigrationTest, SqlTwoAttachesTheOtherDatabaseOrItsOwnSetAsideFile) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1") +
                           "CREATE TABLE TRETIRED(F_X TEXT);"
                           "INSERT INTO TRETIRED VALUES('a'),('b');");
    MakeDb(u"Chat.s3db", VersionedDb("8.0.0.1",
                                     "CREATE TABLE TMSG(F_ID INTEGER, F_TEXT TEXT);"
                                     "INSERT INTO TMSG VALUES(1,'hi');"));
    MakeDb(u"Conf.s3db", VersionedDb("8.0.0.2",
                                     "CREATE TABLE TCONF(F_KEY TEXT);"
                                     "INSERT INTO TCONF VALUES('k');"));
    const std::string conf = Bytes(u"Conf.s3db");
    ScriptText script;
    script.Head(u"8.0.0")
        .Count(3)
        .Database(1, u"DB.s3db", u"8.0.0.2")
        .Database(2, u"Chat.s3db", u"8.0.0.2")
        .Database(3, u"Conf.s3db", u"8.0.0.2");
    UserTables(script, 1);
    // A table that is to go is carried, then dropped: explicitly.
    script.Item(1, u"TABLE", u"TRETIRED", u"CREATE TABLE TRETIRED(F_X TEXT);");
    script.Item(1, u"SQLONE", u"8.0.0.2", u"DROP TABLE TRETIRED;");
    // Its own number: NEW_DB is its old file, which still has the retired table.
    script.Item(1, u"SQLTWO", u"8.0.0.2,DBN1",
                u"CREATE TABLE TKEPT AS SELECT F_X FROM NEW_DB.TRETIRED;");
    // A database that is not migrated is attached at its own path.
    script.Item(1, u"SQLTWO", u"8.0.0.2,DBN3",
                u"CREATE TABLE TCONFCOPY AS SELECT * FROM NEW_DB.TCONF;");
    // No such database: nothing runs.
    script.Item(1, u"SQLTWO", u"8.0.0.2,DBN9", u"CREATE TABLE TNEVER(F_X);");
    VersionTable(script, 2);
    script.Item(2, u"TABLE", u"TMSG", u"CREATE TABLE TMSG(F_ID INTEGER, F_TEXT TEXT);");
    // Another migrated database: attached through its set-aside file, which has the rows.
    script.Item(2, u"SQLTWO", u"8.0.0.2,DBN1",
                u"INSERT INTO TMSG SELECT 100 + F_ID, F_NAME FROM NEW_DB.TUSER WHERE F_ID < 3;");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TKEPT ORDER BY F_X"), (Strings{"a", "b"}));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TCONFCOPY"), (Strings{"k"}));
    EXPECT_EQ(Rows(u"DB.s3db", kTables), (Strings{"TCONFCOPY", "TKEPT", "TUSER", "TVERSION"}));
    EXPECT_EQ(Rows(u"Chat.s3db", "SELECT * FROM TMSG ORDER BY F_ID"),
              (Strings{"1|hi", "101|张三", "102|O'Brien"}));
    EXPECT_EQ(Bytes(u"Conf.s3db"), conf);
    EXPECT_TRUE(LogHas(u"数据库Conf.s3db版本号已经最新,不需要迁移！"));
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
}

TEST_F(MigrationTest, DataStatementsRunOnlyForDatabasesOlderThanTheirVersion) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    // Without TVERSION the database has no version: every statement is due.
    MakeDb(u"Bare.s3db", "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
    ScriptText script;
    script.Head(u"8.0.0")
        .Count(2)
        .Database(1, u"DB.s3db", u"8.0.0.5")
        .Database(2, u"Bare.s3db", u"8.0.0.5");
    for (int db : {1, 2}) {
        UserTables(script, db);
        script.Item(db, u"TABLE", u"TRAN", u"CREATE TABLE TRAN(F_WHAT TEXT);");
        for (WStringView version : {u"8.0.0.1", u"8.0.0.2", u"8.0.0.0", u"8.1", u"8..0.0.3"}) {
            script.Item(db, u"SQLONE", version,
                        u"INSERT INTO TRAN VALUES('one " + WString(version) + u"');");
        }
        for (WStringView version : {u"8.0.0.1", u"8.0.0.4"}) {
            script.Item(db, u"SQLTWO", WString(version) + u",DBN" + wstr::FromInt(db),
                        u"INSERT INTO TRAN VALUES('two " + WString(version) + u"');");
        }
    }
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    // Equal (8.0.0.1) and older (8.0.0.0) are not due; newer, not comparable (8.1) and
    // 8..0.0.3, which reads as 8.0.0.3, are.
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TRAN"),
              (Strings{"one 8.0.0.2", "one 8.1", "one 8..0.0.3", "two 8.0.0.4"}));
    EXPECT_EQ(Rows(u"Bare.s3db", "SELECT count(*) FROM TRAN"), (Strings{"7"}));
    EXPECT_EQ(Version(u"Bare.s3db"), "8.0.0.5");
}

TEST_F(MigrationTest, VersionsThatAreNotComparableAreMigrated) {
    MakeDb(u"A.s3db", OldUserDb("8.0"));  // script says 8.0.0: part counts differ
    MakeDb(u"B.s3db",
           "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);"
           "INSERT INTO TVERSION VALUES('TUSER','8.0.0');");  // no TMAIN row
    MakeDb(u"C.s3db", OldUserDb("8.0.0"));                    // equal: left alone
    const std::string c = Bytes(u"C.s3db");
    ScriptText script;
    script.Head(u"8.0.0")
        .Count(3)
        .Database(1, u"A.s3db", u"8.0.0")
        .Database(2, u"B.s3db", u"8.0.0")
        .Database(3, u"C.s3db", u"8.0.0");
    for (int db : {1, 2, 3})
        UserTables(script, db);
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Version(u"A.s3db"), "8.0.0");
    EXPECT_EQ(Value(u"A.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Rows(u"B.s3db", "SELECT * FROM TVERSION ORDER BY F_TABLENAME"),
              (Strings{"TMAIN|8.0.0", "TUSER|8.0.0"}));
    EXPECT_EQ(Bytes(u"C.s3db"), c);
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
}

TEST_F(MigrationTest, AnUpToDateInstallationIsLeftAlone) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    WriteUserTablesScript();
    ASSERT_EQ(Migrate(), 1);
    const std::string migrated = Bytes(u"DB.s3db");

    // A second run, silent and then interactive, finds nothing to do: it fails without a
    // message of its own and changes no byte.
    EXPECT_EQ(Migrate(), 0);
    m_process.m_bInteractive = 1;
    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Bytes(u"DB.s3db"), migrated);
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_TRUE(s_messages.empty());
    EXPECT_TRUE(LogHas(u"数据库DB.s3db版本号已经最新,不需要迁移！"));
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
}

TEST_F(MigrationTest, ADatabasePathThatIsAFolderDropsOut) {
    ASSERT_TRUE(plat::MakeDirectory(At(u"DB.s3db")));
    ASSERT_TRUE(plat::MakeDirectory(At(u"DB.s3db\\inside")));
    WriteUserTablesScript();

    EXPECT_EQ(Migrate(), 0);

    EXPECT_TRUE(plat::IsDirectory(At(u"DB.s3db\\inside")));
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    EXPECT_FALSE(LogHas(u"rename to tmp"));
    EXPECT_TRUE(LogHas(u"数据库的路径是一个文件夹, 不迁移: " + At(u"DB.s3db")));
}

TEST_F(MigrationTest, TheClientMustNotBeOlderThanTheScript) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    const std::string old = Bytes(u"DB.s3db");
    ScriptText script;
    script.Head(u"8.0.1.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    WriteScript(script);
    const WString refused = u"主程序版本号不对，迁移失败！";

    // Silent: no box, but the update record is written before the check.
    EXPECT_EQ(Migrate(), 0);
    EXPECT_TRUE(s_messages.empty());
    EXPECT_TRUE(LogHas(refused));
    EXPECT_TRUE(Exists(u"configure\\update.xml"));

    // Interactive: the box, and still nothing touched.
    plat::RemoveFile(At(u"configure\\update.xml"));
    m_process.m_bInteractive = 1;
    EXPECT_EQ(Migrate(), 0);
    EXPECT_EQ(s_messages, WStrings{refused});
    EXPECT_FALSE(Exists(u"configure\\update.xml"));
    EXPECT_EQ(Bytes(u"DB.s3db"), old);
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
}

TEST_F(MigrationTest, ClientVersionsThatCannotBeComparedPass) {
    MakeDb(u"A.s3db", OldUserDb("8.0.0.1"));
    ScriptText script;
    script.Head(u"8.0.1.0").Count(1).Database(1, u"A.s3db", u"8.0.0.2");
    UserTables(script, 1);
    WriteScript(script);
    // No client executable: no sub-version.
    m_process.m_strSubVersion.clear();
    EXPECT_EQ(Migrate(), 1);
    EXPECT_EQ(Version(u"A.s3db"), "8.0.0.2");

    // Three parts against four.
    MakeDb(u"B.s3db", OldUserDb("8.0.0.1"));
    ScriptText second;
    second.Head(u"9.0.0.0").Count(1).Database(1, u"B.s3db", u"8.0.0.2");
    UserTables(second, 1);
    WriteScript(second);
    m_process.m_strSubVersion = u"8.0.0";
    EXPECT_EQ(Migrate(), 1);
    EXPECT_EQ(Version(u"B.s3db"), "8.0.0.2");
    EXPECT_FALSE(LogHas(u"主程序版本号不对"));
}

TEST_F(MigrationTest, AnInteractiveRunMigratesWithoutRecordOrMessage) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    WriteUserTablesScript();
    m_process.m_bInteractive = 1;

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_FALSE(Exists(u"configure"));
    EXPECT_TRUE(s_messages.empty());
}

TEST_F(MigrationTest, RunsThatStopAtTheirChecks) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    const std::string old = Bytes(u"DB.s3db");

    {  // No script known: a box only in interactive runs.
        m_process.m_bScriptFound = 0;
        EXPECT_EQ(Migrate(), 0);
        EXPECT_TRUE(s_messages.empty());
        m_process.m_bInteractive = 1;
        EXPECT_EQ(Migrate(), 0);
        EXPECT_EQ(s_messages, WStrings{u"没有升级脚本"});
        m_process.m_bScriptFound = 1;
        m_process.m_strScriptName.clear();
        EXPECT_EQ(Migrate(), 0);
        EXPECT_EQ(s_messages.size(), 2u);
        m_process.m_strScriptName = u"up.dbr";
        m_process.m_bInteractive = 0;
        s_messages.clear();
    }
    {  // The script file is missing: shown even in a silent run.
        EXPECT_EQ(Migrate(), 0);
        EXPECT_EQ(s_messages, WStrings{u"文件:" + At(u"up.dbr") + u" 不存在!"});
        EXPECT_FALSE(Exists(u"configure"));
        s_messages.clear();
    }
    {  // No DATABASEFILE line.
        ScriptText script;
        script.Line(u"HEAD").Line(u"UPDATETIME=2026").Line(u"MAIN=8.0.0");
        script.Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
        UserTables(script, 1);
        WriteScript(script);
        EXPECT_EQ(Migrate(), 0);
        EXPECT_TRUE(s_messages.empty());
        EXPECT_TRUE(LogHas(u"获取数据库名失败！"));
        m_process.m_bInteractive = 1;
        EXPECT_EQ(Migrate(), 0);
        EXPECT_EQ(s_messages, WStrings{u"获取数据库名失败！"});
    }
    EXPECT_EQ(Bytes(u"DB.s3db"), old);
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
}

TEST_F(MigrationTest, ARunWaitsForAnotherOfTheSameDataFolderThenGivesUp) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    const std::string old = Bytes(u"DB.s3db");
    WriteUserTablesScript();
    plat::FileLock other;
    ASSERT_EQ(other.TryLock(At(u"quorvel.lock")), plat::FileLock::Result::kTaken);
    m_process.SetRunLockWait(300);
    m_process.m_bInteractive = 1;

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(s_messages, WStrings{u"另一个数据迁移正在进行"});
    EXPECT_TRUE(LogHas(u"另一个数据迁移正在进行: " + At(u"quorvel.lock")));
    EXPECT_EQ(Bytes(u"DB.s3db"), old);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});

    // Once the other run is over, the lock and its file are gone with it.
    other.Unlock();
    EXPECT_FALSE(Exists(u"quorvel.lock"));
    EXPECT_EQ(Migrate(), 1);
    EXPECT_FALSE(Exists(u"quorvel.lock"));
}

TEST_F(MigrationTest, AFailedFileOperationIsLoggedWithTheSystemsReason) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    WriteUserTablesScript();
    // A folder where the marker is written first: the write fails, as the system says.
    ASSERT_TRUE(plat::MakeDirectory(At(u"DB.s3db.migrating.new")));

    EXPECT_EQ(Migrate(), 0);

    const WString line = u"无法写入迁移标记, 不迁移此数据库: " + At(u"DB.s3db.migrating") + u" (";
    ASSERT_TRUE(LogHas(line)) << ToUtf8(Log());
    const WString log = Log();
    const WString reason = log.substr(log.find(line) + line.size());
    EXPECT_TRUE(wstr::Contains(reason.substr(0, reason.find(u'\n')),
                               plat::DisplayPath(At(u"DB.s3db.migrating.new"))))
        << ToUtf8(reason);
}

TEST_F(MigrationTest, FailedSchemaStepsFailTheRunButTheRowsAreCarried) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    script.Item(1, u"ALTER", u"TNOSUCH,F_X", u"TEXT");
    script.Item(1, u"TRIGGER", u"TR_BAD",
                u"CREATE TRIGGER TR_BAD AFTER DELETE ON TNOSUCH BEGIN END;");
    script.Item(1, u"ALTER", u"TUSER,F_AGE", u"INTEGER");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 0);

    // The run went on after each failure and finished normally.
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT name FROM pragma_table_info('TUSER')"),
              (Strings{"F_ID", "F_NAME", "F_AGE"}));
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
    EXPECT_TRUE(LogHas(u"创建触发器ON_TBL_TLMGROUP_DELETE_TRIGGER记录失败"));
    // No row was left behind, so nothing is kept.
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(MigrationTest, FailedDataItemsAreUndoneWholeAndLoggedOnly) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    ScriptText script;
    script.Head(u"8.0.0").Count(2).Database(1, u"DB.s3db", u"8.0.0.2");
    script.Database(2, u"Other.s3db", u"8.0.0.2");
    UserTables(script, 1);
    script.Item(1, u"SQLONE", u"8.0.0.2", u"INSERT INTO TNOSUCH VALUES(1);");
    script.Item(1, u"SQLTWO", u"8.0.0.2,DBN2", u"INSERT INTO NEW_DB.TNOSUCH VALUES(1);");
    // Items that fail half way: what they did before the failing statement is undone.
    script.Item(1, u"SQLONE", u"8.0.0.2",
                u"DELETE FROM TUSER; INSERT INTO TUSER SELECT * FROM TUSER_NOSUCH;");
    script.Item(1, u"SQLTWO", u"8.0.0.2,DBN1",
                u"DELETE FROM TUSER; INSERT INTO TUSER SELECT * FROM NEW_DB.TNOSUCH;");
    script.Item(1, u"SQLONE", u"8.0.0.2", u"DELETE FROM TUSER WHERE F_ID = 3;");
    VersionTable(script, 2);
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_TRUE(LogHas(u"DBExecute SQL Failed! :8.0.0.2 \n"));
    EXPECT_TRUE(LogHas(u"DBExecute TWOSQL Failed! :8.0.0.2 \n"));
    EXPECT_TRUE(LogHas(u"no such table: TUSER_NOSUCH"));
    // The script line of each failed item: 11 header lines, items of 6 lines each.
    for (int line : {24, 30, 36, 42})
        EXPECT_TRUE(LogHas(u"升级脚本第" + wstr::FromInt(line) + u"行的项目失败")) << line;
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT F_ID FROM TUSER ORDER BY F_ID"), (Strings{"1", "2"}));
}

// What a copy must carry is exactly what it read: rowids other rows may refer to, values
// the new table's triggers would rewrite, generated columns computed by the new table, the
// old column order when the new definition shuffles it (with a warning); and ALTER adds a
// column a longer name or a default merely mentions.
TEST_F(MigrationTest, CopiesCarryExactlyWhatTheyRead) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1") +
                           "CREATE TABLE TLINK(F_A TEXT, F_B TEXT);"
                           "INSERT INTO TLINK VALUES('a','1'),('b','2'),('c','3'),('d','4');"
                           "DELETE FROM TLINK WHERE F_A IN ('a','c');"
                           "CREATE TABLE TTYPES(F_A TEXT, F_B TEXT);"
                           "INSERT INTO TTYPES VALUES('5', '007');"
                           "CREATE TABLE TNEG(F_A TEXT);"
                           "INSERT INTO TNEG(rowid, F_A) VALUES(-1,'n'),(2,'p');"
                           "CREATE TABLE TGEN(F_X INTEGER, F_Y INTEGER GENERATED ALWAYS AS "
                           "(F_X * 2) VIRTUAL, F_Z TEXT);"
                           "INSERT INTO TGEN(F_X, F_Z) VALUES(1,'one'),(2,'two');"
                           "CREATE TABLE TORDER(F_FIRST TEXT, F_SECOND TEXT);"
                           "INSERT INTO TORDER VALUES('1st','2nd');"
                           "CREATE TABLE TMSG(F_ID INTEGER PRIMARY KEY, F_READTIME TEXT DEFAULT "
                           "'F_READ');"
                           "INSERT INTO TMSG VALUES(1, 'now');");
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    script.Item(1, u"TABLE", u"TLINK", u"CREATE TABLE TLINK(F_A TEXT NOT NULL, F_B TEXT);");
    script.Item(1, u"TABLE", u"TNEG",
                u"CREATE TABLE TNEG(F_A TEXT NOT NULL); CREATE TRIGGER TR_NEG AFTER INSERT ON "
                u"TNEG BEGIN UPDATE TNEG SET F_A = 'touched' WHERE rowid = new.rowid; END;"
                u"CREATE TEMP TRIGGER TR_TEMP AFTER INSERT ON main.TNEG BEGIN SELECT 1; END;");
    script.Item(1, u"TABLE", u"TTYPES", u"CREATE TABLE TTYPES(F_A REAL, F_B ANY) STRICT;");
    script.Item(1, u"TABLE", u"TGEN",
                u"CREATE TABLE TGEN(F_X INTEGER NOT NULL, F_Y INTEGER GENERATED ALWAYS AS "
                u"(F_X * 3) STORED, F_Z TEXT);");
    script.Item(1, u"TABLE", u"TORDER", u"CREATE TABLE TORDER(F_SECOND TEXT, F_FIRST TEXT);");
    script.Item(1, u"TABLE", u"TMSG",
                u"CREATE TABLE TMSG(F_ID INTEGER PRIMARY KEY, F_READTIME TEXT DEFAULT 'F_READ');");
    script.Item(1, u"ALTER", u"TMSG,F_READ", u"INTEGER DEFAULT 1");
    script.Item(1, u"SQLONE", u"8.0.0.2", u"UPDATE TMSG SET F_READ = 0;");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1) << ToUtf8(Log());

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT rowid, * FROM TLINK ORDER BY rowid"),
              (Strings{"2|b|2", "4|d|4"}));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT rowid, * FROM TNEG ORDER BY rowid"),
              (Strings{"-1|n", "2|p"}));
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM sqlite_master WHERE name='TR_NEG'"), "1");
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM sqlite_master WHERE name='TR_TEMP'"), "0");
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT quote(F_A), quote(F_B) FROM TTYPES"), Strings{"5.0|'007'"});
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TGEN ORDER BY F_X"), (Strings{"1|3|one", "2|6|two"}));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT F_SECOND, F_FIRST FROM TORDER"), Strings{"1st|2nd"});
    EXPECT_TRUE(
        LogHas(u"警告: 表TORDER的新定义与原表列名相同但顺序不同, 数据按位置复制: "
               u"F_FIRST,F_SECOND -> F_SECOND,F_FIRST"));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TMSG"), Strings{"1|now|0"});
}

// A client that makes its databases with sqlite3_open16 has them in UTF-16; the new file
// keeps that encoding, or no old file could be attached to copy from.
TEST_F(MigrationTest, AUtf16DatabaseIsMigratedInUtf16) {
    MakeDb(u"DB.s3db", "PRAGMA encoding = 'UTF-16le';" + OldUserDb("8.0.0.1"));
    const Strings users = Rows(u"DB.s3db", "SELECT * FROM TUSER ORDER BY F_ID");
    WriteUserTablesScript();

    EXPECT_EQ(Migrate(), 1) << ToUtf8(Log());

    EXPECT_EQ(Value(u"DB.s3db", "PRAGMA encoding"), "UTF-16le");
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TUSER ORDER BY F_ID"), users);
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
}

}  // namespace
