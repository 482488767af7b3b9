// Migration runs that go wrong: whatever fails, no row the user had may be lost, and a run
// that left rows behind must not report success.
#include <gtest/gtest.h>

#include <functional>

#include "engine/migration_fixture.h"

namespace {

// Every way a new file can come out without some of the old rows: the database stays
// exactly as it was, with nothing beside it, the run reports failure, and the log says why.
TEST_F(MigrationTest, ABuildThatWouldLoseRowsLeavesTheDatabaseAsItWas) {
    struct Case {
        const char* what;
        std::string extraSql;  // run on the old database after OldUserDb
        std::function<void(ScriptText&)> items;
        const char16_t* logged;
        std::function<void()> fault = nullptr;
    };
    const Case cases[] = {
        {"a table statement that fails", "",
         [](ScriptText& s) {
             VersionTable(s, 1);
             s.Item(1, u"TABLE", u"TUSER", u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME");
         },
         u"表TUSER的数据没有迁移到新数据库"},
        {"a table with a column fewer", "",
         [](ScriptText& s) {
             VersionTable(s, 1);
             s.Item(1, u"TABLE", u"TUSER", u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY);");
         },
         u"CopyTableToFile Failed! :TUSER \n"},
        {"a table the release forgot", "CREATE TABLE TNOTES(F_TEXT); INSERT INTO TNOTES VALUES(1);",
         [](ScriptText& s) { UserTables(s, 1); }, u"表TNOTES的数据没有迁移到新数据库"},
        {"a damaged item (a database the header does not list)",
         "CREATE TABLE TNOTES(F_TEXT); INSERT INTO TNOTES VALUES(1);",
         [](ScriptText& s) {
             UserTables(s, 1);
             s.Item(2, u"TABLE", u"TNOTES", u"CREATE TABLE TNOTES(F_TEXT);");
         },
         u"表TNOTES的数据没有迁移到新数据库"},
        {"a definition that replaces rows",
         "CREATE TABLE TACC(F_ACCOUNT TEXT); INSERT INTO TACC VALUES('a'),('a'),('b');",
         [](ScriptText& s) {
             UserTables(s, 1);
             s.Item(1, u"TABLE", u"TACC",
                    u"CREATE TABLE TACC(F_ACCOUNT TEXT UNIQUE ON CONFLICT REPLACE);");
         },
         u"表TACC的数据复制不完整: 原表 3 行, 新表得到 2 行, 缺少 1 行"},
        {"a definition that ignores rows",
         "CREATE TABLE TACC(F_ACCOUNT TEXT); INSERT INTO TACC VALUES('a'),('a'),('b');",
         [](ScriptText& s) {
             UserTables(s, 1);
             s.Item(1, u"TABLE", u"TACC",
                    u"CREATE TABLE TACC(F_ACCOUNT TEXT, UNIQUE(F_ACCOUNT) ON CONFLICT IGNORE);");
         },
         u"表TACC的数据复制不完整"},
        {"a definition that replaces NULLs with its default",
         "CREATE TABLE TACC(F_ACCOUNT TEXT); INSERT INTO TACC VALUES('a'),(NULL);",
         [](ScriptText& s) {
             UserTables(s, 1);
             s.Item(1, u"TABLE", u"TACC",
                    u"CREATE TABLE TACC(F_ACCOUNT TEXT NOT NULL ON CONFLICT REPLACE DEFAULT '');");
         },
         u"表TACC的新定义不允许空值, 原表有 1 行的值为空"},
        {"a new type that would change values ('007' becoming 7)",
         "CREATE TABLE TACC(F_CODE TEXT, F_N INTEGER); INSERT INTO TACC VALUES('5', 1),"
         "('007', 2), ('x', 9007199254740993);",
         [](ScriptText& s) {
             UserTables(s, 1);
             s.Item(1, u"TABLE", u"TACC", u"CREATE TABLE TACC(F_CODE INTEGER, F_N REAL);");
         },
         u"表TACC的新定义改变了列的类型, 原表有 2 行的值会被改变"},
        {"a REAL read back from text with 15 digits",
         "CREATE TABLE TACC(F_X REAL); INSERT INTO TACC VALUES(0.5), (0.1 + 0.2);",
         [](ScriptText& s) {
             UserTables(s, 1);
             s.Item(1, u"TABLE", u"TACC", u"CREATE TABLE TACC(F_X TEXT);");
         },
         u"表TACC的新定义改变了列的类型, 原表有 1 行的值会被改变"},
        {"NULLs that would become rowids",
         "CREATE TABLE TACC(F_ID INTEGER, F_X); INSERT INTO TACC VALUES(NULL, 'a'), (7, 'b');",
         [](ScriptText& s) {
             UserTables(s, 1);
             s.Item(1, u"TABLE", u"TACC", u"CREATE TABLE TACC(F_ID INTEGER PRIMARY KEY, F_X);");
         },
         u"表TACC的新定义以 INTEGER PRIMARY KEY 为行号, 原表有 1 行的值为空"},
        {"a version that cannot be recorded (no TVERSION table)", "DROP TABLE TVERSION;",
         [](ScriptText& s) {
             s.Item(1, u"TABLE", u"TUSER",
                    u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
         },
         u"新数据库的版本号无法写入"},
        // One that gets as far as being created empty is as good as none.
        {"a new file that cannot be made", "", [](ScriptText& s) { UserTables(s, 1); },
         u"无法创建新数据库, 数据库保持原样",
         [this] { m_disk.Fail(FaultyDisk::Op::kWrite, At(u"DB.s3db.new")); }},
        {"a new file whose completion cannot be recorded", "",
         [](ScriptText& s) { UserTables(s, 1); }, u"新数据库未能写入磁盘",
         [this] { m_disk.Fail(FaultyDisk::Op::kWrite, At(u"DB.s3db.migrating.new"), 2); }},
        {"a new file whose folder cannot be synced", "", [](ScriptText& s) { UserTables(s, 1); },
         u"新数据库未能写入磁盘", [this] { m_disk.Fail(FaultyDisk::Op::kSync, m_dir.path(), 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_process.ClearDatabaseList();
        for (const WString& name : Files(u"DB.s3db*"))
            ASSERT_TRUE(plat::RemoveFile(At(name)));
        ResetLogForTesting();
        plat::RemoveFile(At(u"log\\ReData.log"));
        plat::RemoveFile(At(u"ReData.log"));
        MakeDb(u"DB.s3db", OldUserDb("8.0.0.1") + c.extraSql);
        const std::string old = Bytes(u"DB.s3db");
        ScriptText script;
        script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
        c.items(script);
        WriteScript(script);
        if (c.fault) c.fault();

        EXPECT_EQ(Migrate(), 0);

        m_disk.Heal();
        EXPECT_EQ(Bytes(u"DB.s3db"), old);
        EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
        EXPECT_TRUE(LogHas(c.logged)) << ToUtf8(Log());
        EXPECT_TRUE(LogHas(u"数据库保持原样: " + At(u"DB.s3db")));
    }
}

// What the ledger counts: SQLite's own tables and those a virtual table keeps for itself
// carry nothing of the user's; an empty table left out costs nothing; a table is the same
// table whatever the case of the letters the script names it with.
TEST_F(MigrationTest, WhatCountsAsCarried) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1") +
                           "CREATE TABLE TEMPTY(F_X);"
                           "CREATE TABLE TAUTO(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X);"
                           "INSERT INTO TAUTO(F_X) VALUES('a');"
                           "CREATE INDEX I_AUTO ON TAUTO(F_X); ANALYZE;"
                           "CREATE VIRTUAL TABLE TSEARCH USING fts5(F_TEXT);"
                           "INSERT INTO TSEARCH(rowid, F_TEXT) VALUES(42, 'hello world');");
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    script.Item(1, u"TABLE", u"TUser",
                u"CREATE TABLE TUser(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
    script.Item(1, u"TABLE", u"tauto",
                u"CREATE TABLE tauto(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X NOT NULL);");
    script.Item(1, u"TABLE", u"TSEARCH", u"CREATE VIRTUAL TABLE TSEARCH USING fts5(F_TEXT);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1) << ToUtf8(Log());

    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Value(u"DB.s3db", "SELECT seq FROM sqlite_sequence"), "1");
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT rowid FROM TSEARCH WHERE TSEARCH MATCH 'hello'"),
              Strings{"42"});
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
}

TEST_F(MigrationTest, ADatabaseThatCannotTakeItsNewFileStaysAndTheOthersWaitForIt) {
    MakeTwoUserDbs();
    const std::string old = Bytes(u"DB.s3db");
    // DB.s3db cannot be moved aside when its new file is ready.
    m_disk.Fail(FaultyDisk::Op::kMove, At(u"DB.s3db"));

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Bytes(u"DB.s3db"), old);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    EXPECT_EQ(Version(u"Other.s3db"), "8.0.0.2");
    // Other.s3db keeps its old file and marker until DB.s3db, which may read them, is done.
    EXPECT_EQ(Files(u"Other.s3db*"),
              (WStrings{u"Other.s3db", u"Other.s3db.migrating", u"Other.s3db.tmp"}));

    m_disk.Heal();
    m_process.ClearDatabaseList();
    EXPECT_EQ(Migrate(), 1);
    EXPECT_EQ(Files(u"*.s3db*"), (WStrings{u"DB.s3db", u"Other.s3db"}));
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
}

TEST_F(MigrationTest, RowsThatMoveToAnotherDatabaseMoveWholeOrNotAtAll) {
    // vuserdat's contacts move to New.s3db, whose table has a column more: neither file
    // may take its path, or the contacts would be in neither.
    MakeDb(u"vuserdat", VersionedDb("8.0.0.1",
                                    "CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);"
                                    "INSERT INTO TCONTACT VALUES(1,'李四');"));
    MakeDb(u"extra.s3db",
           "CREATE TABLE TSETTING(F_KEY TEXT, F_VALUE TEXT);"
           "INSERT INTO TSETTING VALUES('skin','蓝');");
    const std::string vuserdat = Bytes(u"vuserdat");
    const std::string extra = Bytes(u"extra.s3db");
    ScriptText script;
    script.Head(u"8.0.0").Count(2).Database(1, u"vuserdat", u"8.0.0.2");
    script.Database(2, u"New.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    VersionTable(script, 2);
    script.Item(2, u"TABLE", u"TCONTACT", u"CREATE TABLE TCONTACT(F_ID, F_NAME, F_GROUP);");
    script.Item(2, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT, F_VALUE TEXT);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Bytes(u"vuserdat"), vuserdat);
    EXPECT_EQ(Bytes(u"extra.s3db"), extra);
    EXPECT_EQ(Files(u"*.s3db*"), WStrings{u"extra.s3db"});
    EXPECT_EQ(Files(u"vuserdat*"), WStrings{u"vuserdat"});

    // Mended, both move and the extra file, all of it carried, goes.
    ScriptText mended;
    mended.Head(u"8.0.0").Count(2).Database(1, u"vuserdat", u"8.0.0.2");
    mended.Database(2, u"New.s3db", u"8.0.0.2");
    VersionTable(mended, 1);
    VersionTable(mended, 2);
    mended.Item(2, u"TABLE", u"TCONTACT", u"CREATE TABLE TCONTACT(F_ID, F_NAME);");
    mended.Item(2, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT, F_VALUE TEXT);");
    WriteScript(mended);
    m_process.ClearDatabaseList();
    EXPECT_EQ(Migrate(), 1) << ToUtf8(Log());
    EXPECT_EQ(Rows(u"New.s3db", "SELECT * FROM TCONTACT"), Strings{"1|李四"});
    EXPECT_EQ(Value(u"vuserdat", "SELECT count(*) FROM sqlite_master WHERE name='TCONTACT'"), "0");
    EXPECT_FALSE(Exists(u"extra.s3db"));
}

TEST_F(MigrationTest, TheExtraFileStaysWhileItHoldsRowsNoItemTook) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    // TUSER comes from the database's own file; TLEFT no item takes.
    MakeDb(u"extra.s3db",
           "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);"
           "INSERT INTO TUSER VALUES(9, 'imported');"
           "CREATE TABLE TLEFT(F_X); INSERT INTO TLEFT VALUES('left');");
    const std::string extra = Bytes(u"extra.s3db");
    WriteUserTablesScript();

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Bytes(u"extra.s3db"), extra);
    EXPECT_TRUE(LogHas(u"数据文件中表TLEFT的数据没有迁移, 数据文件保留: " + At(u"extra.s3db")));
}

// The client may write the extra file while the run reads it: those rows were never read.
TEST_F(MigrationTest, AnExtraFileWrittenDuringTheRunIsKept) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    MakeDb(u"extra.s3db",
           "CREATE TABLE TSETTING(F_KEY TEXT); INSERT INTO TSETTING VALUES('skin');");
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    script.Item(1, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT);");
    WriteScript(script);
    bool written = false;
    // As the new database takes its path.
    m_disk.Watch([&](FaultyDisk::Op op, const WString& path) {
        if (op == FaultyDisk::Op::kMove && path == At(u"DB.s3db") && !written) {
            written = true;
            MakeDb(u"extra.s3db", "INSERT INTO TSETTING VALUES('meanwhile');");
        }
    });

    EXPECT_EQ(Migrate(), 1) << ToUtf8(Log());

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TSETTING"), Strings{"skin"});
    EXPECT_EQ(Rows(u"extra.s3db", "SELECT * FROM TSETTING"), (Strings{"skin", "meanwhile"}));
    EXPECT_TRUE(LogHas(u"数据文件在迁移期间被使用或修改, 保留: " + At(u"extra.s3db")));
}

// Or between a run that read it and the run that finishes after it.
TEST_F(MigrationTest, AnExtraFileWrittenBetweenRunsIsKept) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    MakeDb(u"Chat.s3db",
           OldUserDb("8.0.0.1") + "CREATE TABLE TNOTES(F_X); INSERT INTO TNOTES VALUES(1);");
    MakeDb(u"extra.s3db",
           "CREATE TABLE TSETTING(F_KEY TEXT); INSERT INTO TSETTING VALUES('skin');");
    auto script = [this](bool bWithNotes) {
        ScriptText text;
        text.Head(u"8.0.0").Count(2).Database(1, u"DB.s3db", u"8.0.0.2");
        text.Database(2, u"Chat.s3db", u"8.0.0.2");
        UserTables(text, 1);
        UserTables(text, 2);
        text.Item(1, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT);");
        if (bWithNotes) text.Item(2, u"TABLE", u"TNOTES", u"CREATE TABLE TNOTES(F_X);");
        WriteScript(text);
    };
    script(false);  // Chat.s3db stays behind: the extra file waits for it
    EXPECT_EQ(Migrate(), 0);
    MakeDb(u"extra.s3db", "INSERT INTO TSETTING VALUES('meanwhile');");
    script(true);
    m_process.ClearDatabaseList();

    EXPECT_EQ(Migrate(), 1) << ToUtf8(Log());

    EXPECT_EQ(Rows(u"extra.s3db", "SELECT * FROM TSETTING"), (Strings{"skin", "meanwhile"}));
    EXPECT_TRUE(LogHas(u"数据文件在上次迁移读取后被修改, 保留: " + At(u"extra.s3db")));
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

// Whether two names are one file is the file system's to say, not the texts'.
TEST_F(MigrationTest, ADataFileSpelledAnotherWayIsStillTheDatabase) {
    std::vector<const char16_t*> spellings{u"./DB.s3db", u".\\DB.s3db", u"sub\\..\\DB.s3db"};
#ifdef _WIN32
    // Windows names one file without regard to case, trailing dots and blanks.
    spellings.insert(spellings.end(), {u"db.S3DB", u"DB.s3db.", u"DB.s3db "});
#endif
    for (const char16_t* spelling : spellings) {
        SCOPED_TRACE(ToUtf8(spelling));
        m_process.ClearDatabaseList();
        for (const WString& name : Files(u"DB.s3db*"))
            ASSERT_TRUE(plat::RemoveFile(At(name)));
        plat::MakeDirectory(At(u"sub"));
        MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
        ScriptText script;
        script.Head(u"8.0.0", spelling).Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
        UserTables(script, 1);
        WriteScript(script);

        EXPECT_EQ(Migrate(), 1);

        EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
        EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
        EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    }
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

    // Its version cannot be read: it is left as it is, not rebuilt as one without.
    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    EXPECT_EQ(Bytes(u"DB.s3db"), garbage);
    EXPECT_EQ(Bytes(u"extra.s3db"), garbage);
    EXPECT_TRUE(LogHas(u"数据库的版本号无法读取, 不迁移: " + At(u"DB.s3db")));
}

TEST_F(MigrationTest, AScriptThatListsOneFileTwiceIsRefused) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    const std::string old = Bytes(u"DB.s3db");
    ASSERT_TRUE(plat::MakeDirectory(At(u"sub")));
    // The same file by another spelling; on Windows another letter case is one more.
    for (const char16_t* path : {u"\\", u".", u"sub\\.."}) {
        ScriptText script;
        script.Head(u"8.0.0").Count(2).Database(1, u"DB.s3db", u"8.0.0.2");
        script.Database(2, u"DB.s3db", u"8.0.0.3", path);
        UserTables(script, 1);
        UserTables(script, 2);
        WriteScript(script);
        EXPECT_EQ(Migrate(), 0) << ToUtf8(path);
        EXPECT_EQ(m_outcome.strMessage, u"升级脚本格式错误！");
        EXPECT_EQ(Bytes(u"DB.s3db"), old);
        EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    }
}

}  // namespace
