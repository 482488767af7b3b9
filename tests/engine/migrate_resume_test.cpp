// Runs that find what an interrupted run left: a marker beside a database tells which of
// the files at hand holds its complete rows. Each test builds one state a crash can leave
// and checks that the next run loses nothing and leaves no marker or ".tmp" behind.
#include <gtest/gtest.h>

#include "engine/migration_fixture.h"
#include "engine/migration_marker.h"
#include "support/file_conditions.h"

namespace {

constexpr char16_t kPartial[] = u"DB.s3db.20261208103000.partial";

class ResumeTest : public MigrationTest {
protected:
    // The usual script: DB.s3db with TVERSION and TUSER, at 8.0.0.2, and one data statement
    // that must run exactly once per migration.
    void WriteUserScript() {
        ScriptText script;
        script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
        UserTables(script, 1);
        script.Item(1, u"TABLE", u"TLOG", u"CREATE TABLE TLOG(F_TEXT TEXT);");
        script.Item(1, u"SQLONE", u"8.0.0.2", u"INSERT INTO TLOG VALUES('upgraded');");
        WriteScript(script);
    }
    // What a run cut off after copying TVERSION, with TUSER created but not yet filled,
    // leaves at the database's path: it looks like an ordinary old database.
    void MakeHalfBuilt(WStringView relative) {
        MakeDb(relative, VersionedDb("8.0.0.1",
                                     "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);"));
    }
    // A marker as a run of the older design wrote it, which built the new file at the
    // database's path after setting the database aside as ".tmp".
    void Mark(WStringView relative, WStringView target, bool hadFile) {
        WriteFileBytes(MarkerPath(At(relative)),
                       "quorvel migration marker\ntarget=" + ToUtf8(target) +
                           "\nsource=" + (hadFile ? "file" : "none") + "\nend\n");
    }
    // A line of the marker as runs of an older design wrote them ("complete", "kept=...").
    void MarkLine(WStringView relative, const std::string& line) {
        const WString path = MarkerPath(At(relative));
        WriteFileBytes(path, ReadFileBytes(path) + line + "\n");
    }
    void ExpectUsersCarried(WStringView relative = u"DB.s3db") {
        EXPECT_EQ(Rows(relative, "SELECT * FROM TUSER ORDER BY F_ID"),
                  (Strings{"1|张三", "2|O'Brien", "3|<null>"}));
        EXPECT_EQ(Version(relative), "8.0.0.2");
    }
};

TEST_F(ResumeTest, AnInterruptedBuildIsBuiltAgainFromTheSetAsideFile) {
    MakeDb(u"DB.s3db.tmp", OldUserDb("8.0.0.1"));
    MakeHalfBuilt(u"DB.s3db");
    const std::string halfBuilt = Bytes(u"DB.s3db");
    Mark(u"DB.s3db", u"8.0.0.2", true);
    WriteUserScript();

    EXPECT_EQ(Migrate(), 1);

    ExpectUsersCarried();
    // The data statement ran once, on rows that came from the complete copy.
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TLOG"), Strings{"upgraded"});
    // The half-built file is kept, not deleted: nobody knows for sure what it holds.
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kPartial}));
    EXPECT_EQ(Bytes(kPartial), halfBuilt);
    EXPECT_TRUE(LogHas(At(kPartial)));

    // Cut off before the new file was made: the set-aside file alone holds the rows.
    m_process.ClearDatabaseList();
    ASSERT_TRUE(plat::RemoveFile(At(u"DB.s3db")));
    ASSERT_TRUE(plat::RemoveFile(At(kPartial)));
    MakeDb(u"DB.s3db.tmp", OldUserDb("8.0.0.1"));
    Mark(u"DB.s3db", u"8.0.0.2", true);
    EXPECT_EQ(Migrate(), 1);
    ExpectUsersCarried();
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(ResumeTest, AFinishedBuildOnlyNeedsItsCleanUp) {
    // The run had built, synced and versioned the new file; since then the client has
    // added a row to it. The set-aside file still holds the old rows.
    MakeDb(u"DB.s3db", VersionedDb("8.0.0.2",
                                   "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);"
                                   "INSERT INTO TUSER VALUES(1,'张三'),(2,'O''Brien'),(3,NULL),"
                                   "(4,'written since');"
                                   "CREATE TABLE TLOG(F_TEXT TEXT);"
                                   "INSERT INTO TLOG VALUES('upgraded');"));
    MakeDb(u"DB.s3db.tmp", OldUserDb("8.0.0.1"));
    Mark(u"DB.s3db", u"8.0.0.2", true);
    MarkLine(u"DB.s3db", "complete");
    const std::string built = Bytes(u"DB.s3db");
    WriteUserScript();

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Bytes(u"DB.s3db"), built);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});

    // The version alone does not say the build was complete (a data statement of the
    // script may have written it early): without "complete" the file is built again.
    m_process.ClearDatabaseList();
    MakeDb(u"DB.s3db.tmp", OldUserDb("8.0.0.1"));
    Mark(u"DB.s3db", u"8.0.0.2", true);
    EXPECT_EQ(Migrate(), 1);
    ExpectUsersCarried();
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM TUSER"), "3");
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kPartial}));
    EXPECT_EQ(Bytes(kPartial), built);

    // Finished for an earlier release, it is still behind the script that cleans up.
    m_process.ClearDatabaseList();
    MakeDb(u"DB.s3db.tmp", OldUserDb("8.0.0.1"));
    Mark(u"DB.s3db", u"8.0.0.2", true);
    MarkLine(u"DB.s3db", "complete");
    ScriptText later;
    later.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.3");
    UserTables(later, 1);
    WriteScript(later);
    EXPECT_EQ(Migrate(), 0);
    EXPECT_TRUE(LogHas(u"数据库DB.s3db上次迁移到 8.0.0.2, 还需迁移到 8.0.0.3"));
}

TEST_F(ResumeTest, CutOffAfterKeepingRowsThatWereNotCarried) {
    // The build was complete on disk and its set-aside file already kept as ".bak"; only
    // the version was missing.
    MakeDb(u"DB.s3db", VersionedDb("8.0.0.1", "CREATE TABLE TLOG(F_TEXT TEXT);"));
    MakeDb(kBak, OldUserDb("8.0.0.1"));
    const std::string kept = Bytes(kBak);
    Mark(u"DB.s3db", u"8.0.0.2", true);
    MarkLine(u"DB.s3db", "kept=" + ToUtf8(At(kBak)));
    WriteUserScript();

    // Rows were left behind, so the run reports failure.
    EXPECT_EQ(Migrate(), 0);

    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kBak}));
    EXPECT_EQ(Bytes(kBak), kept);
    EXPECT_TRUE(LogHas(At(kBak)));
}

TEST_F(ResumeTest, AMarkerWrittenBeforeTheSetAsideChangesNothing) {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    Mark(u"DB.s3db", u"8.0.0.2", true);
    WriteUserScript();

    EXPECT_EQ(Migrate(), 1);

    ExpectUsersCarried();
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});

    // A later script that the database already meets leaves it alone, marker gone.
    m_process.ClearDatabaseList();
    Mark(u"DB.s3db", u"8.0.0.2", true);
    const std::string migrated = Bytes(u"DB.s3db");
    EXPECT_EQ(Migrate(), 0);
    EXPECT_EQ(Bytes(u"DB.s3db"), migrated);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});

    // So does a marker cut off while it was written.
    m_process.ClearDatabaseList();
    ASSERT_TRUE(plat::RemoveFile(At(u"DB.s3db")));
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    WriteFileBytes(At(u"DB.s3db.migrating"), "quorvel migration marker\ntarget=8.0");
    EXPECT_EQ(Migrate(), 1);
    ExpectUsersCarried();
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(ResumeTest, AHalfBuiltFileOfANewDatabaseIsPutAside) {
    MakeDb(u"extra.s3db",
           "CREATE TABLE TSETTING(F_KEY TEXT);"
           "INSERT INTO TSETTING VALUES('skin'),('font');");
    MakeDb(u"New.s3db", "CREATE TABLE TSETTING(F_KEY TEXT);");
    const std::string halfBuilt = Bytes(u"New.s3db");
    Mark(u"New.s3db", u"8.0.0.2", false);
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"New.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    script.Item(1, u"TABLE", u"TSETTING", u"CREATE TABLE TSETTING(F_KEY TEXT);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Rows(u"New.s3db", "SELECT * FROM TSETTING ORDER BY F_KEY"),
              (Strings{"font", "skin"}));
    const WString partial = u"New.s3db.20261208103000.partial";
    EXPECT_EQ(Files(u"New.s3db*"), (WStrings{u"New.s3db", partial}));
    EXPECT_EQ(Bytes(partial), halfBuilt);
    EXPECT_FALSE(Exists(u"extra.s3db"));
}

TEST_F(ResumeTest, ASetAsideFileServesOtherDatabasesUntilTheyAreComplete) {
    // vuserdat was complete when the run was cut off; New.s3db, which takes its contacts,
    // was not. Only vuserdat's set-aside file still holds them.
    MakeDb(u"vuserdat", VersionedDb("8.0.0.2"));
    MakeDb(u"vuserdat.tmp", VersionedDb("8.0.0.1",
                                        "CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);"
                                        "INSERT INTO TCONTACT VALUES(1,'李四'),(2,'王五');"));
    Mark(u"vuserdat", u"8.0.0.2", true);
    MarkLine(u"vuserdat", "complete");
    MakeDb(u"New.s3db", "CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);");
    Mark(u"New.s3db", u"8.0.0.2", false);
    ScriptText script;
    script.Head(u"8.0.0").Count(2).Database(1, u"vuserdat", u"8.0.0.2");
    script.Database(2, u"New.s3db", u"8.0.0.2");
    VersionTable(script, 1);
    VersionTable(script, 2);
    script.Item(2, u"TABLE", u"TCONTACT", u"CREATE TABLE TCONTACT(F_ID INTEGER, F_NAME TEXT);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Rows(u"New.s3db", "SELECT * FROM TCONTACT ORDER BY F_ID"),
              (Strings{"1|李四", "2|王五"}));
    EXPECT_EQ(Files(u"vuserdat*"), WStrings{u"vuserdat"});
    EXPECT_EQ(Files(u"*.migrating"), WStrings{});
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
}

TEST_F(ResumeTest, ACleanUpLeftForLaterChecksForRowsNobodyCarried) {
    // A run completed DB.s3db while another database was left behind, so whether every
    // table of the set-aside file was carried was left for the run that cleans up.
    MakeDb(u"DB.s3db", VersionedDb("8.0.0.2",
                                   "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);"
                                   "INSERT INTO TUSER VALUES(1,'张三'),(2,'O''Brien'),(3,NULL);"
                                   "CREATE TABLE TLOG(F_TEXT TEXT);"));
    MakeDb(u"DB.s3db.tmp", OldUserDb("8.0.0.1") +
                               "CREATE TABLE TNOTES(F_TEXT TEXT);"
                               "INSERT INTO TNOTES VALUES('keep me');");
    Mark(u"DB.s3db", u"8.0.0.2", true);
    MarkLine(u"DB.s3db", "complete unchecked");
    WriteUserScript();

    // TUSER went into the new file when it was built; nobody took TNOTES.
    EXPECT_EQ(Migrate(), 0);
    EXPECT_EQ(Files(u"DB.s3db*"), (WStrings{u"DB.s3db", kBak}));
    EXPECT_EQ(probe::Rows(At(kBak), "SELECT * FROM TNOTES"), Strings{"keep me"});

    // Without TNOTES the set-aside file goes.
    m_process.ClearDatabaseList();
    ASSERT_TRUE(plat::RemoveFile(At(kBak)));
    MakeDb(u"DB.s3db.tmp", OldUserDb("8.0.0.1"));
    Mark(u"DB.s3db", u"8.0.0.2", true);
    MarkLine(u"DB.s3db", "complete unchecked");
    EXPECT_EQ(Migrate(), 1);
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
}

TEST_F(ResumeTest, NoOldFileGoesBeforeEveryDatabaseIsComplete) {
    MakeTwoUserDbs();
    // Other.s3db's new file is never called finished: its second marker write fails.
    m_disk.Fail(FaultyDisk::Op::kWrite, At(u"Other.s3db.migrating.new"), 2);

    const std::string other = Bytes(u"Other.s3db");

    EXPECT_EQ(Migrate(), 0);

    // DB.s3db has its new file, but its old one waits for Other.s3db, which is as it was.
    EXPECT_EQ(Files(u"*.tmp"), WStrings{u"DB.s3db.tmp"});
    EXPECT_EQ(Files(u"*.migrating"), WStrings{u"DB.s3db.migrating"});
    EXPECT_EQ(Bytes(u"Other.s3db"), other);
    EXPECT_TRUE(LogHas(u"有数据库未迁移"));

    m_disk.Heal();
    m_process.ClearDatabaseList();
    EXPECT_EQ(Migrate(), 1);
    ExpectUsersCarried(u"DB.s3db");
    ExpectUsersCarried(u"Other.s3db");
    EXPECT_EQ(Files(u"*.tmp"), WStrings{});
    EXPECT_EQ(Files(u"*.migrating"), WStrings{});
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{u"DB.s3db"});
    EXPECT_EQ(Files(u"Other.s3db*"), WStrings{u"Other.s3db"});
}

TEST_F(ResumeTest, MarkersRoundTrip) {
    plat::FileSystem& fs = m_disk;
    const WString db = At(u"DB.s3db");
    MigrationMarker marker;
    EXPECT_FALSE(ReadMarker(fs, db, marker));
    EXPECT_FALSE(AppendMarkerBuilt(fs, db));  // never makes a marker of its own
    EXPECT_FALSE(Exists(u"DB.s3db.migrating"));

    ASSERT_TRUE(WriteMarker(fs, db, u"8.0.0.2'版本", true));
    ASSERT_TRUE(ReadMarker(fs, db, marker));
    EXPECT_TRUE(marker.bValid);
    EXPECT_EQ(marker.strTargetVersion, u"8.0.0.2'版本");
    EXPECT_TRUE(marker.bHadFile);
    EXPECT_FALSE(marker.bBuilt);
    ASSERT_TRUE(AppendMarkerBuilt(fs, db));
    ASSERT_TRUE(ReadMarker(fs, db, marker));
    EXPECT_TRUE(marker.bBuilt);
    EXPECT_EQ(marker.strTargetVersion, u"8.0.0.2'版本");

    // A line cut off by a crash does not count.
    WriteFileBytes(At(u"DB.s3db.migrating"),
                   "quorvel migration marker\ntarget=1\nsource=none\nend\nbui");
    ASSERT_TRUE(ReadMarker(fs, db, marker));
    EXPECT_TRUE(marker.bValid);
    EXPECT_FALSE(marker.bHadFile);
    EXPECT_FALSE(marker.bBuilt);
    WriteFileBytes(At(u"DB.s3db.migrating"), "quorvel migration marker\ntarget=1\nsource=file\n");
    ASSERT_TRUE(ReadMarker(fs, db, marker));
    EXPECT_FALSE(marker.bValid);

    // A replacement that fails half way leaves the old marker whole.
    ASSERT_TRUE(WriteMarker(fs, db, u"1", false));
    m_disk.Fail(FaultyDisk::Op::kWrite, At(u"DB.s3db.migrating.new"));
    EXPECT_FALSE(WriteMarker(fs, db, u"2", true));
    ASSERT_TRUE(ReadMarker(fs, db, marker));
    EXPECT_TRUE(marker.bValid);
    EXPECT_EQ(marker.strTargetVersion, u"1");
    EXPECT_FALSE(marker.bHadFile);
    m_disk.Heal();

    EXPECT_TRUE(RemoveMarker(fs, db));
    EXPECT_EQ(Files(u"DB.s3db*"), WStrings{});
    EXPECT_TRUE(RemoveMarker(fs, db));
}

TEST_F(ResumeTest, AMarkerIsReadOnlyFromAPlainFile) {
    // A pipe at the marker's name would keep the run waiting; a link would make it act on
    // what someone else wrote, wherever. Either is a marker that says nothing.
    plat::FileSystem& fs = m_disk;
    const WString db = At(u"DB.s3db");
    const WString elsewhere = At(u"elsewhere.migrating");
    WriteFileBytes(elsewhere, "quorvel migration marker\ntarget=1\nsource=none\nend\n");
    for (bool link : {true, false}) {
        if (!(link ? MakeLink(elsewhere, MarkerPath(db)) : MakePipe(MarkerPath(db)))) continue;
        MigrationMarker marker;
        ASSERT_TRUE(ReadMarker(fs, db, marker));
        EXPECT_FALSE(marker.bValid);
        EXPECT_FALSE(AppendMarkerBuilt(fs, db));
        ASSERT_TRUE(plat::RemoveFile(MarkerPath(db)));
    }
    EXPECT_EQ(ReadFileBytes(elsewhere), "quorvel migration marker\ntarget=1\nsource=none\nend\n");
}

}  // namespace
