// What a migration must keep besides the rows: a database is never parted from its
// journal or write-ahead log, never moved while another connection holds it, keeps its
// AUTOINCREMENT counters, and no foreign-key action deletes a row on the way.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <thread>

#include "db/statement.h"
#include "engine/migration_fixture.h"
#include "engine/migration_marker.h"

namespace {

// A connection of the test's own, standing for the client: closed when it goes.
class Client {
public:
    explicit Client(const WString& path) {
        sqlite3* db = nullptr;
        if (sqlite3_open(plat::PathForSqlite(path).c_str(), &db) != SQLITE_OK) {
            sqlite3_close(db);
            db = nullptr;
        }
        m_db.reset(db);
    }
    // Runs `sql`; SQLite's error text, empty on success.
    std::string Run(const char* sql) {
        char* error = nullptr;
        int rc = sqlite3_exec(m_db.get(), sql, nullptr, nullptr, &error);
        std::string text = rc == SQLITE_OK ? "" : (error ? error : "error");
        sqlite3_free(error);
        return text;
    }
    void Close() { m_db.reset(); }

private:
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close(db); }
    };
    std::unique_ptr<sqlite3, Closer> m_db;
};

class IntegrityTest : public MigrationTest {
protected:
    // DB.s3db at 8.0.0.1 with 400 rows of some 200 bytes each: many pages.
    void MakeBigDb() {
        MakeDb(u"DB.s3db", VersionedDb("8.0.0.1",
                                       "CREATE TABLE TBIG(F_ID INTEGER PRIMARY KEY, F_TEXT TEXT);"
                                       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM "
                                       "n WHERE i<400) INSERT INTO TBIG SELECT i, 'row ' || i || "
                                       "printf('%.200c', '.') FROM n;"));
    }
    void WriteBigScript() {
        ScriptText script;
        script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
        VersionTable(script, 1);
        script.Item(1, u"TABLE", u"TBIG",
                    u"CREATE TABLE TBIG(F_ID INTEGER PRIMARY KEY, F_TEXT TEXT);");
        WriteScript(script);
    }
    std::string BigDigest(WStringView relative) {
        return Value(relative,
                     "SELECT count(*) || ':' || sum(length(F_TEXT)) || ':' || "
                     "sum(F_TEXT LIKE 'row %') FROM TBIG");
    }
    // Copies the database and its companions as they are this instant, the way a power cut
    // would leave them, to `relative`.
    void Snapshot(WStringView from, WStringView relative) {
        WriteFileBytes(At(relative), Bytes(from));
        for (const char16_t* suffix : {u"-journal", u"-wal"}) {
            if (Exists(WString(from) + suffix)) {
                WriteFileBytes(At(WString(relative) + suffix), Bytes(WString(from) + suffix));
            }
        }
    }
};

TEST_F(IntegrityTest, AHotJournalIsPlayedBackBeforeTheSetAside) {
    MakeBigDb();
    const std::string before = BigDigest(u"DB.s3db");
    ASSERT_TRUE(plat::MoveReplace(At(u"DB.s3db"), At(u"client.s3db")));
    {
        // The client dies inside a transaction whose pages already reached the file.
        Client client(At(u"client.s3db"));
        ASSERT_EQ(client.Run("PRAGMA cache_size=10; BEGIN; UPDATE TBIG SET F_TEXT='changed';"), "");
        Snapshot(u"client.s3db", u"DB.s3db");
        client.Run("ROLLBACK;");
    }
    ASSERT_TRUE(Exists(u"DB.s3db-journal"));
    ASSERT_NE(Bytes(u"DB.s3db"), Bytes(u"client.s3db"));  // the crash left changed pages
    WriteBigScript();

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(BigDigest(u"DB.s3db"), before);
    EXPECT_EQ(Value(u"DB.s3db", "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(IntegrityTest, AHalfBuiltFileIsPutAsideWithItsJournalPlayedBack) {
    // A run was cut off inside a transaction on its new file: beside the set-aside copy
    // lie the half-built file and its hot journal.
    MakeBigDb();
    const std::string before = BigDigest(u"DB.s3db");
    ASSERT_TRUE(plat::MoveReplace(At(u"DB.s3db"), At(u"DB.s3db.tmp")));
    MakeDb(u"built.s3db",
           "CREATE TABLE TBIG(F_ID INTEGER PRIMARY KEY, F_TEXT TEXT);"
           "ATTACH '" +
               ToUtf8(plat::ToNativePath(At(u"DB.s3db.tmp"))) +
               "' AS OLD; INSERT INTO TBIG SELECT * FROM OLD.TBIG;");
    {
        Client run(At(u"built.s3db"));
        ASSERT_EQ(run.Run("PRAGMA cache_size=10; BEGIN; UPDATE TBIG SET F_TEXT='changed';"), "");
        Snapshot(u"built.s3db", u"DB.s3db");
        run.Run("ROLLBACK;");
    }
    ASSERT_TRUE(Exists(u"DB.s3db-journal"));
    ASSERT_TRUE(WriteMarker(plat::Disk(), At(u"DB.s3db"), u"8.0.0.2", true));
    WriteBigScript();

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(BigDigest(u"DB.s3db"), before);
    EXPECT_EQ(Value(u"DB.s3db", "PRAGMA integrity_check"), "ok");
    // The half-built file went aside whole: its own transaction undone first.
    const WString partial = u"DB.s3db.20261208103000.partial";
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", partial}));
    EXPECT_EQ(probe::Value(At(partial), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(probe::Value(At(partial), "SELECT count(*) FROM TBIG WHERE F_TEXT='changed'"), "0");
}

TEST_F(IntegrityTest, AWriteAheadLogIsCheckpointedBeforeTheSetAside) {
    MakeBigDb();
    ASSERT_TRUE(plat::MoveReplace(At(u"DB.s3db"), At(u"client.s3db")));
    {
        // Commits that live only in the log when the client dies.
        Client client(At(u"client.s3db"));
        ASSERT_EQ(client.Run("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                             "INSERT INTO TBIG SELECT F_ID + 1000, F_TEXT FROM TBIG;"),
                  "");
        Snapshot(u"client.s3db", u"DB.s3db");
    }
    ASSERT_TRUE(Exists(u"DB.s3db-wal"));
    WriteBigScript();

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TBIG"), "800");
    EXPECT_EQ(Value(u"DB.s3db", "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(IntegrityTest, JournalsLeftByPersistAndTruncateModesAreRemovedBySqlite) {
    MakeBigDb();
    {
        Client client(At(u"DB.s3db"));
        ASSERT_EQ(client.Run("PRAGMA journal_mode=PERSIST; DELETE FROM TBIG WHERE F_ID > 300;"),
                  "");
    }
    ASSERT_GT(plat::FileSize(At(u"DB.s3db-journal")), 0);
    WriteBigScript();

    EXPECT_EQ(Migrate(), 1);
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TBIG"), "300");
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});

    // An emptied journal of TRUNCATE mode.
    m_process.ClearDatabaseList();
    ASSERT_TRUE(plat::RemoveFile(At(u"DB.s3db")));
    MakeBigDb();
    WriteFileBytes(At(u"DB.s3db-journal"), "");
    EXPECT_EQ(Migrate(), 1);
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TBIG"), "400");
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(IntegrityTest, ADatabaseAnotherConnectionHoldsIsLeftAlone) {
    MakeBigDb();
    WriteBigScript();
    {
        // A writer inside its transaction: SQLite answers busy.
        Client client(At(u"DB.s3db"));
        ASSERT_EQ(client.Run("BEGIN IMMEDIATE; DELETE FROM TBIG WHERE F_ID = 1;"), "");
        const std::string old = Bytes(u"DB.s3db");
        EXPECT_EQ(Migrate(), 0);
        EXPECT_EQ(Bytes(u"DB.s3db"), old);
        EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", u"DB.s3db-journal"}));
        EXPECT_TRUE(LogHas(u"数据库正被其他程序使用, 不迁移: " + At(u"DB.s3db")));
        ASSERT_EQ(client.Run("ROLLBACK;"), "");
    }
    {
        // A client that merely has the file open holds no lock, but would go on writing
        // into the file under its new name.
        Client client(At(u"DB.s3db"));
        ASSERT_EQ(client.Run("SELECT count(*) FROM TBIG;"), "");
        const std::string old = Bytes(u"DB.s3db");
        EXPECT_EQ(Migrate(), 0);
        EXPECT_EQ(Bytes(u"DB.s3db"), old);
        EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
        EXPECT_TRUE(LogHas(u"数据库正被其他程序打开, 不替换: " + At(u"DB.s3db")));
    }
    {
        // A client in WAL mode keeps its log while it has the file open.
        Client client(At(u"DB.s3db"));
        ASSERT_EQ(client.Run("PRAGMA journal_mode=WAL; DELETE FROM TBIG WHERE F_ID = 400;"), "");
        EXPECT_EQ(Migrate(), 0);
        EXPECT_TRUE(Exists(u"DB.s3db-wal"));
        EXPECT_FALSE(Exists(u"DB.s3db.tmp"));
        EXPECT_FALSE(Exists(u"DB.s3db.migrating"));
        EXPECT_TRUE(LogHas(u"数据库的日志文件未能合并, 不迁移: " + At(u"DB.s3db-wal")));
    }
    // Once the client is gone the database migrates, with the client's last commit.
    EXPECT_EQ(Migrate(), 1);
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TBIG"), "399");
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

// A client committing as it exits holds its database for a moment: that is no reason to
// call the database versionless and build it again.
TEST_F(IntegrityTest, ADatabaseBusyForAMomentIsWaitedFor) {
    MakeBigDb();
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    script.Item(1, u"TABLE", u"TBIG", u"CREATE TABLE TBIG(F_ID INTEGER PRIMARY KEY, F_TEXT TEXT);");
    script.Item(1, u"SQLONE", u"8.0.0.2", u"UPDATE TBIG SET F_TEXT = 'overwritten';");
    WriteScript(script);
    ASSERT_EQ(Migrate(), 1);
    ASSERT_TRUE(probe::Exec(At(u"DB.s3db"), "UPDATE TBIG SET F_TEXT = 'the user''s' WHERE F_ID = 1;"));
    const std::string migrated = Bytes(u"DB.s3db");

    Client client(At(u"DB.s3db"));
    ASSERT_EQ(client.Run("BEGIN EXCLUSIVE; SELECT count(*) FROM TBIG;"), "");
    std::thread commit([&client] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        client.Run("COMMIT;");
    });
    m_process.ClearDatabaseList();
    EXPECT_EQ(Migrate(), 0);
    commit.join();

    EXPECT_TRUE(m_outcome.bUpToDate);
    EXPECT_EQ(Bytes(u"DB.s3db"), migrated);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(IntegrityTest, ADatabaseLeftAloneKeepsTheFilesItsRowsComeFrom) {
    MakeDb(u"DB.s3db", VersionedDb("8.0.0.1"));
    MakeDb(u"vuserdat", VersionedDb("8.0.0.1",
                                    "CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);"
                                    "INSERT INTO TCONTACT VALUES(1,'李四'),(2,'王五');"));
    MakeDb(u"extra.s3db",
           "CREATE TABLE TSETTING(F_KEY TEXT);"
           "INSERT INTO TSETTING VALUES('skin');");
    // DB.s3db takes the contacts vuserdat no longer keeps, and the settings of the extra
    // file; vuserdat migrates first.
    ScriptText script;
    script.Head(u"8.0.0").Count(2).Database(1, u"vuserdat", u"8.0.0.2");
    script.Database(2, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    VersionTable(script, 2);
    script.Item(2, u"TABLE", u"TCONTACT", u"CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);");
    script.Item(2, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT);");
    WriteScript(script);
    {
        Client client(At(u"DB.s3db"));
        ASSERT_EQ(client.Run("BEGIN IMMEDIATE; INSERT INTO TVERSION VALUES('x','1');"), "");
        EXPECT_EQ(Migrate(), 0);
        client.Run("ROLLBACK;");
    }
    // vuserdat's contacts would be nowhere but in its old file: it waits for DB.s3db, as
    // the extra file does.
    EXPECT_EQ(Version(u"vuserdat"), "8.0.0.1");
    EXPECT_EQ(Files(u"vuserdat*"), WStrings{u"vuserdat"});
    EXPECT_TRUE(Exists(u"extra.s3db"));
    EXPECT_TRUE(LogHas(u"表TCONTACT的数据没有迁移到新数据库: " + At(u"vuserdat")));

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TCONTACT ORDER BY F_ID"),
              (Strings{"1|李四", "2|王五"}));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TSETTING"), Strings{"skin"});
    EXPECT_EQ(Files(u"vuserdat*"), WStrings{u"vuserdat"});
    EXPECT_FALSE(Exists(u"extra.s3db"));
}

TEST_F(IntegrityTest, AutoincrementCountersAreCarried) {
    MakeDb(u"DB.s3db",
           VersionedDb("8.0.0.1",
                       "CREATE TABLE TAUTO(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X TEXT);"
                       "INSERT INTO TAUTO(F_X) VALUES('a'),('b'),('c'),('d'),('e');"
                       "DELETE FROM TAUTO WHERE F_ID > 3;"
                       "CREATE TABLE TEMPTIED(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X TEXT);"
                       "INSERT INTO TEMPTIED(F_X) VALUES('a'),('b'),('c'),('d'),('e'),('f'),('g');"
                       "DELETE FROM TEMPTIED;"
                       "CREATE TABLE TPLAIN(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X TEXT);"
                       "INSERT INTO TPLAIN(F_X) VALUES('a'),('b');"
                       "DELETE FROM TPLAIN WHERE F_ID = 2;"));
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    script.Item(1, u"TABLE", u"TAUTO",
                u"CREATE TABLE TAUTO(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_X TEXT);");
    script.Item(1, u"TABLE", u"TEMPTIED",
                u"CREATE TABLE TEMPTIED(F_ID INTEGER PRIMARY KEY autoincrement, F_X TEXT);");
    // No longer AUTOINCREMENT: SQLite keeps no counter for it.
    script.Item(1, u"TABLE", u"TPLAIN",
                u"CREATE TABLE TPLAIN(F_ID INTEGER PRIMARY KEY, F_X TEXT);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM sqlite_sequence ORDER BY name"),
              (Strings{"TAUTO|5", "TEMPTIED|7"}));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT count(*) FROM TAUTO"), Strings{"3"});
    // No id is issued twice.
    ASSERT_TRUE(probe::Exec(At(u"DB.s3db"),
                            "INSERT INTO TAUTO(F_X) VALUES('new'); INSERT INTO TEMPTIED(F_X) "
                            "VALUES('new');"));
    EXPECT_EQ(Value(u"DB.s3db", "SELECT max(F_ID) FROM TAUTO"), "6");
    EXPECT_EQ(Value(u"DB.s3db", "SELECT max(F_ID) FROM TEMPTIED"), "8");
}

TEST_F(IntegrityTest, ForeignKeyActionsNeverFire) {
    MakeDb(u"DB.s3db", VersionedDb("8.0.0.1",
                                   "CREATE TABLE TGROUP(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);"
                                   "INSERT INTO TGROUP VALUES(1,'friends'),(2,'work');"
                                   "CREATE TABLE TMEMBER(F_ID INTEGER, F_GROUP INTEGER);"
                                   "INSERT INTO TMEMBER VALUES(1,1),(2,1),(3,2),(4,9);"));
    const char16_t kMember[] =
        u"CREATE TABLE TMEMBER(F_ID INTEGER, F_GROUP INTEGER REFERENCES TGROUP(F_ID) ON DELETE "
        u"CASCADE);";
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    // The script turns enforcement on, then creates the child table before its parent
    // (whose rows are not there yet) and deletes a group.
    script.Item(1, u"TABLE", u"TMEMBER", WString(u"PRAGMA foreign_keys=ON;") + kMember);
    script.Item(1, u"TABLE", u"TGROUP",
                u"CREATE TABLE TGROUP(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
    script.Item(1, u"SQLONE", u"8.0.0.2",
                u"PRAGMA foreign_keys=1; DELETE FROM TGROUP WHERE F_ID=1;");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TMEMBER ORDER BY F_ID"),
              (Strings{"1|1", "2|1", "3|2", "4|9"}));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT F_ID FROM TGROUP"), Strings{"2"});
}

}  // namespace
