// How the rows reach the new file: copied on the new file's own connection with the old
// files attached, indexes the old file lacks made after the rows, the file synced once at
// the end. None of it may change what a migration leaves behind.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

#include "db/db_connection.h"
#include "db/statement.h"
#include "engine/migration_fixture.h"
#include "engine/migration_marker.h"
#include "engine/watch_vfs.h"

namespace {

using enginetest::ScopedWatchVfs;

class CopyTest : public MigrationTest {
protected:
    CDBConnection& NewDb(int n) { return *m_process.m_mapDatabases.at(n)->pDb; }

    // The schema in the order SQLite keeps it, without the page numbers.
    Strings Schema(WStringView relative) {
        return Rows(relative, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY rowid");
    }
};

TEST_F(CopyTest, TheNewFileHoldsWhatTheStatementsGiveInTheirOrder) {
    const std::string old =
        "CREATE TABLE TA(F_ID INTEGER PRIMARY KEY, F_NAME TEXT, F_GROUP INTEGER);"
        "CREATE INDEX IA_NAME ON TA(F_NAME);"
        "CREATE TABLE TB(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X TEXT, F_Y TEXT);"
        "CREATE INDEX IB_OLD ON TB(F_Y);"
        "CREATE TABLE TC(F_ID INTEGER, F_CODE TEXT);"
        "CREATE TABLE TD(F_ID INTEGER, F_FLAG INTEGER);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<300) "
        "INSERT INTO TA SELECT i, '名' || (i % 17), i % 5 FROM n;"
        "INSERT INTO TB(F_X, F_Y) SELECT F_NAME, F_GROUP FROM TA;"
        "DELETE FROM TB WHERE F_ID > 290;"
        "INSERT INTO TC SELECT F_ID, 'c' || F_ID FROM TA;"
        "INSERT INTO TD SELECT F_ID, F_ID % 2 FROM TA;";
    MakeDb(u"DB.s3db", VersionedDb("8.0.0.1", old));
    const WString bodies[] = {
        // An index the old file has, then one it lacks.
        u"CREATE TABLE TA(F_ID INTEGER PRIMARY KEY, F_NAME TEXT, F_GROUP INTEGER);"
        u"CREATE INDEX IA_NAME ON TA(F_NAME); CREATE INDEX IA_GROUP ON TA(F_GROUP DESC) ;",
        // A new index before an old one; no semicolon at the end.
        u"CREATE TABLE TB(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X TEXT, F_Y TEXT); "
        u"CREATE INDEX [IB NEW] ON TB(F_X COLLATE NOCASE) /* new */; "
        u"CREATE INDEX IB_OLD ON TB(F_Y) /* as before */",
        // UNIQUE, then a trigger after the index.
        u"CREATE TABLE TC(F_ID INTEGER, F_CODE TEXT); CREATE UNIQUE INDEX IC ON TC(F_CODE);"
        u"CREATE INDEX IC2 ON TC(F_ID); CREATE TRIGGER TRC AFTER DELETE ON TC BEGIN SELECT 1; "
        u"END;",
        // A partial index.
        u"CREATE TABLE TD(F_ID INTEGER, F_FLAG INTEGER);"
        u"CREATE INDEX ID_FLAG ON TD(F_ID) WHERE F_FLAG = 1;",
    };
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    const WString names[] = {u"TA", u"TB", u"TC", u"TD"};
    for (int i = 0; i < 4; ++i)
        script.Item(1, u"TABLE", names[i], bodies[i]);
    WriteScript(script);

    // The same statements, each item's on its own, in a file of the test's own; the rows
    // copied the plain way.
    MakeDb(u"old.s3db", VersionedDb("8.0.0.1", old));
    const std::string attach =
        "ATTACH '" + ToUtf8(plat::ToNativePath(At(u"old.s3db"))) + "' AS OLD; ";
    MakeDb(u"expected.s3db", "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);");
    MakeDb(u"expected.s3db", attach + "INSERT INTO TVERSION SELECT * FROM OLD.TVERSION;");
    for (int i = 0; i < 4; ++i) {
        const std::string table = ToUtf8(names[i]);
        MakeDb(u"expected.s3db", ToUtf8(bodies[i]));
        MakeDb(u"expected.s3db",
               attach + "INSERT INTO " + table + " SELECT * FROM OLD." + table + ";");
    }
    MakeDb(u"expected.s3db", attach +
                                 "UPDATE sqlite_sequence SET seq = (SELECT seq FROM "
                                 "OLD.sqlite_sequence) WHERE name = 'TB';"
                                 "UPDATE TVERSION SET F_TABLEVERSION = '8.0.0.2';");

    EXPECT_EQ(Migrate(), 1) << ToUtf8(Log());

    EXPECT_EQ(Schema(u"DB.s3db"), Schema(u"expected.s3db"));
    for (const char* table : {"TVERSION", "TA", "TB", "TC", "TD", "sqlite_sequence"}) {
        const std::string all = std::string("SELECT * FROM ") + table + " ORDER BY rowid";
        EXPECT_EQ(Rows(u"DB.s3db", all), Rows(u"expected.s3db", all)) << table;
    }
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TA"), "300");
    EXPECT_EQ(Value(u"DB.s3db", "PRAGMA integrity_check"), "ok");
    // The new file was closed, with its journal, before it took the path.
    EXPECT_EQ(NewDb(1).IsOpen(), 0);
    EXPECT_EQ(Value(u"DB.s3db", "PRAGMA journal_mode"), "delete");
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(CopyTest, ScriptStatementsNeverReachTheSetAsideFile) {
    std::string more;
    for (int i = 0; i < 6; ++i) {
        more += "CREATE TABLE TM" + std::to_string(i) + "(F_X TEXT); INSERT INTO TM" +
                std::to_string(i) + " VALUES('more');";
    }
    MakeDb(u"DB.s3db", VersionedDb("8.0.0.1", more + "CREATE TABLE TOLD(F_X TEXT);"
                                                     "INSERT INTO TOLD VALUES('old row');"
                                                     "CREATE INDEX IOLD ON TOLD(F_X);"));
    // TOLD is made last; the statements before it name it all the same. Each comes right
    // after a copy, which attaches the old file to the new one.
    const WString statements[] = {
        u"DROP TABLE IF EXISTS TOLD;",       u"ANALYZE; REINDEX;",
        u"UPDATE TOLD SET F_X = 'changed';", u"PRAGMA journal_mode=WAL;",
        u"DROP INDEX IF EXISTS IOLD;",
    };
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    for (int i = 0; i < 5; ++i) {
        const WString table = u"TM" + wstr::FromInt(i);
        script.Item(1, u"TABLE", table, u"CREATE TABLE " + table + u"(F_X TEXT);");
        script.Item(1, u"SQLONE", u"8.0.0.2", statements[i]);
    }
    script.Item(1, u"TABLE", u"TM5", u"CREATE TABLE TM5(F_X TEXT);");
    script.Item(1, u"TABLE", u"TOLD", u"CREATE TABLE TOLD(F_X TEXT);");
    script.Item(1, u"ALTER", u"TOLD,F_NEW", u"TEXT");
    WriteScript(script);

    // The old file takes no part in the statements: had any of them written to it, its
    // new file could not have replaced it.
    EXPECT_EQ(Migrate(), 1) << ToUtf8(Log());

    // Each statement did what it does on the new file alone, and the old rows came across
    // as they were.
    EXPECT_TRUE(LogHas(u"no such table: TOLD")) << ToUtf8(Log());
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TM" + std::to_string(i)), Strings{"more"});
    }
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM sqlite_stat1 WHERE tbl='TOLD'"), "0");
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TOLD"), Strings{"old row|<null>"});
    EXPECT_EQ(Value(u"DB.s3db", "PRAGMA journal_mode"), "delete");
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

// Before a file is moved or deleted: the paths of it that a new file still has attached.
WStrings StillAttached(CDBProcess& process, FaultyDisk::Op op, const WString& path) {
    WStrings found;
    if (op != FaultyDisk::Op::kMove && op != FaultyDisk::Op::kRemove) return found;
    const std::string native = plat::PathForSqlite(path);
    for (auto& [n, pEntry] : process.m_mapDatabases) {
        if (!pEntry || !pEntry->pDb || pEntry->pDb->Handle() == nullptr) continue;
        db::Statement query(pEntry->pDb->Handle(),
                            "SELECT file FROM pragma_database_list WHERE name <> 'main'");
        while (query.Step() == SQLITE_ROW) {
            if (query.ColumnText(0) != nullptr && native == query.ColumnText(0))
                found.push_back(path);
        }
    }
    return found;
}

TEST_F(CopyTest, SourcesAreDetachedBeforeAnyFileIsRenamedOrDeleted) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1") +
                           "CREATE TABLE TNARROW(F_A, F_B);"
                           "INSERT INTO TNARROW VALUES(1, 2);");
    MakeDb(u"VUserDat", VersionedDb("8.0.0.1",
                                    "CREATE TABLE TCONTACT(F_ID, F_NAME);"
                                    "INSERT INTO TCONTACT VALUES(1,'李四');"));
    MakeDb(u"extra.s3db",
           "CREATE TABLE TSETTING(F_KEY, F_VALUE);"
           "INSERT INTO TSETTING VALUES('skin','蓝');");
    ScriptText script;
    script.Head(u"8.0.0", u"extra.s3db")
        .Count(3)
        .Database(1, u"DB.s3db", u"8.0.0.2")
        .Database(2, u"New.s3db", u"8.0.0.2")
        .Database(3, u"VUserDat", u"8.0.0.2");
    UserTables(script, 1);
    // One column fewer: the copy fails and DB.s3db stays as it was.
    script.Item(1, u"TABLE", u"TNARROW", u"CREATE TABLE TNARROW(F_A);");
    VersionTable(script, 2);
    script.Item(2, u"TABLE", u"TUSER", u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME);");
    script.Item(2, u"TABLE", u"TCONTACT", u"CREATE TABLE TCONTACT(F_ID, F_NAME);");
    script.Item(2, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY, F_VALUE);");
    VersionTable(script, 3);
    script.Item(3, u"TABLE", u"TCONTACT", u"CREATE TABLE TCONTACT(F_ID, F_NAME);");
    WriteScript(script);
    WStrings stillAttached;
    m_disk.Watch([&](FaultyDisk::Op op, const WString& path) {
        for (const WString& attached : StillAttached(m_process, op, path))
            stillAttached.push_back(attached);
    });

    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(stillAttached, WStrings{});
    EXPECT_EQ(Rows(u"New.s3db", "SELECT * FROM TCONTACT"), Strings{"1|李四"});
    EXPECT_EQ(Rows(u"New.s3db", "SELECT * FROM TSETTING"), Strings{"skin|蓝"});
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    // While DB.s3db waits, so do the files it may read.
    EXPECT_EQ(Files(u"VUserDat*"), (WStrings{u"VUserDat", u"VUserDat.migrating", u"VUserDat.tmp"}));
    EXPECT_TRUE(Exists(u"extra.s3db"));
    for (int n : {1, 2, 3})
        EXPECT_EQ(NewDb(n).IsOpen(), 0);
}

TEST_F(CopyTest, TheNewFileIsSyncedOnceItIsBuiltAndBeforeItIsCalledComplete) {
    std::string old;
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    for (int i = 0; i < 20; ++i) {
        const std::string table = "T" + std::to_string(i);
        old += "CREATE TABLE " + table + "(F_ID INTEGER PRIMARY KEY, F_X TEXT);INSERT INTO " +
               table + " VALUES(1, 'a'), (2, 'b');";
        script.Item(1, u"TABLE", FromUtf8(table),
                    FromUtf8("CREATE TABLE " + table + "(F_ID INTEGER PRIMARY KEY, F_X TEXT);"));
    }
    MakeDb(u"DB.s3db", VersionedDb("8.0.0.1", old));
    WriteScript(script);
    ScopedWatchVfs vfs(plat::PathForSqlite(At(u"DB.s3db.new")));
    // Noted in the watched sequence: the marker replaced by one that says "built".
    m_disk.Watch([](FaultyDisk::Op op, const WString& path) {
        std::string text;
        if (op == FaultyDisk::Op::kMove && wstr::Contains(path, u".migrating.new") &&
            plat::ReadWholeFile(path, text) && text.find("\nbuilt") != std::string::npos) {
            ScopedWatchVfs::Note("complete");
        }
    });

    EXPECT_EQ(Migrate(), 1);

    const Strings& events = ScopedWatchVfs::Events();
    const auto complete = std::find(events.begin(), events.end(), "complete");
    ASSERT_NE(complete, events.end());
    // Some forty commits built the file; it was synced at its end only, and after its last
    // write, before the marker said it was complete.
    EXPECT_GT(std::count(events.begin(), complete, "write"), 40);
    EXPECT_LE(std::count(events.begin(), complete, "sync"), 3);
    const auto lastWrite = std::find(std::make_reverse_iterator(complete), events.rend(), "write");
    ASSERT_NE(lastWrite, events.rend());
    EXPECT_NE(std::find(lastWrite.base(), complete, "sync"), complete);
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM T19"), "2");
}

TEST_F(CopyTest, AnIndexMadeAfterTheRowsThatFailsLeavesTheDatabaseAsItWas) {
    // Rows of some 3000 bytes: an index on them takes as much room again as the table.
    MakeDb(u"DB.s3db", VersionedDb("8.0.0.1",
                                   "CREATE TABLE TBIG(F_ID INTEGER PRIMARY KEY, F_TEXT TEXT);"
                                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM "
                                   "n WHERE i<300) INSERT INTO TBIG SELECT i, i || "
                                   "printf('%.3000c', '.') FROM n;"));
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    script.Item(1, u"TABLE", u"TBIG",
                u"CREATE TABLE TBIG(F_ID INTEGER PRIMARY KEY, F_TEXT TEXT);"
                u"CREATE INDEX IBIG ON TBIG(F_TEXT);");
    WriteScript(script);
    const std::string old = Bytes(u"DB.s3db");
    // Room for the rows, not for the index as well.
    ScopedWatchVfs vfs(plat::PathForSqlite(At(u"DB.s3db.new")));
    ScopedWatchVfs::LimitSize(plat::FileSize(At(u"DB.s3db")) + 256 * 1024);

    EXPECT_EQ(Migrate(), 0);

    ScopedWatchVfs::LimitSize(-1);
    EXPECT_TRUE(LogHas(u"database or disk is full")) << ToUtf8(Log());
    EXPECT_FALSE(LogHas(u"CopyTableToFile Failed!"));
    EXPECT_EQ(Bytes(u"DB.s3db"), old);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(CopyTest, TheProgressLineCountsTheCopiedRows) {
    MakeDb(u"DB.s3db",
           VersionedDb("8.0.0.1",
                       "CREATE TABLE TAUTO(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X TEXT);"
                       "INSERT INTO TAUTO(F_X) VALUES('a'),('b'),('c'),('d');"
                       "DELETE FROM TAUTO WHERE F_ID = 4;"));
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    script.Item(1, u"TABLE", u"TAUTO",
                u"CREATE TABLE TAUTO(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X TEXT);");
    WriteScript(script);
    WStrings lines;
    m_process.SetProgress([&](const WString& line) { lines.push_back(line); });

    EXPECT_EQ(Migrate(), 1);

    // The counter's carry runs after the rows; the line still counts the rows.
    EXPECT_NE(std::find(lines.begin(), lines.end(), u"  表 TAUTO: 3 行"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), u"  表 TVERSION: 1 行"), lines.end());
    EXPECT_EQ(Value(u"DB.s3db", "SELECT seq FROM sqlite_sequence WHERE name='TAUTO'"), "4");
}

}  // namespace
