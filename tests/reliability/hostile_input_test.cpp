// Inputs from outside that are damaged or made to hurt: scripts of binary garbage, huge
// lines, a 200 MB script, item texts with quotes and semicolons, database numbers out of
// range, client executables that are not PE files. None may crash or hang a run, and none
// may cost a row.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "app/exec_image_version.h"
#include "engine/migration_fixture.h"

namespace {

const Strings kUsers{"1|张三", "2|O'Brien", "3|<null>"};

class HostileInputTest : public MigrationTest {
protected:
    void SetUp() override {
        MigrationTest::SetUp();
        MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
        m_old = Bytes(u"DB.s3db");
    }
    // The user's rows are in the database or, when a run kept it, in its kept copy.
    void ExpectUsersSomewhere() {
        if (Rows(u"DB.s3db", "SELECT F_ID, F_NAME FROM TUSER ORDER BY F_ID") == kUsers) return;
        for (const WString& name : Files(u"DB.s3db.*")) {
            if (probe::Rows(At(name), "SELECT F_ID, F_NAME FROM TUSER ORDER BY F_ID") == kUsers) {
                return;
            }
        }
        std::string files;
        for (const WString& name : Files(u"*"))
            files += ToUtf8(name) + " ";
        ADD_FAILURE() << "the rows of TUSER are nowhere; files: " << files << "\n" << ToUtf8(Log());
    }
    // The usual header and items, as text.
    static ScriptText Usual() {
        ScriptText script;
        script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
        UserTables(script, 1);
        return script;
    }
    // Encodes `text` line by line into the raw bytes of a script file.
    static std::string Encoded(WStringView text) {
        std::string bytes;
        int badLine = 0;
        EXPECT_TRUE(EncodeScript(text, bytes, badLine)) << "line " << badLine;
        return bytes;
    }

    std::string m_old;
};

TEST_F(HostileInputTest, BinaryGarbageNeverCostsARow) {
    std::mt19937 random(20261208);
    const std::string usual = Encoded(Usual().Text());
    int tried = 0;
    for (int round = 0; round < 120; ++round) {
        std::string bytes(random() % 20000, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
        // Every third script starts well and turns into garbage; every third is a good
        // script with bytes flipped here and there.
        if (round % 3 == 1) bytes = usual + bytes;
        if (round % 3 == 2) {
            bytes = usual;
            for (int flip = 0; flip < 8; ++flip)
                bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
        }
        WriteFileBytes(At(u"up.dbr"), bytes);
        SCOPED_TRACE("round " + std::to_string(round));
        const int result = Migrate();
        ++tried;
        ExpectUsersSomewhere();
        if (round % 3 == 0) {
            // Nothing in it reads as a header: the database is not even opened for writing.
            EXPECT_EQ(result, 0);
            EXPECT_EQ(Bytes(u"DB.s3db"), m_old);
        }
        EXPECT_EQ(Files(u"*.tmp"), WStrings{});
        EXPECT_EQ(Files(u"*.migrating"), WStrings{});
        // Start every round from the old database.
        m_process.ClearDatabaseList();
        for (const WString& name : Files(u"DB.s3db*"))
            ASSERT_TRUE(plat::RemoveFile(At(name)));
        WriteFileBytes(At(u"DB.s3db"), m_old);
    }
    std::printf("garbage scripts tried: %d\n", tried);
}

TEST_F(HostileInputTest, HugeLinesRunWhole) {
    const WString longTime(4 << 20, u'9');  // 4 Mi characters in one header line
    WString manyFiles;                      // 100,000 names, none of them there
    for (int i = 0; i < 100000; ++i)
        manyFiles += u"missing" + wstr::FromInt(i) + u".s3db,";
    const WString longName(1 << 20, u'N');         // a table name of 1 Mi characters
    const std::string longDefault(16 << 20, 'd');  // a statement of 16 MiB
    ScriptText script;
    script.Head(u"8.0.0", manyFiles, longTime).Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    script.Item(1, u"TABLE", longName, u"CREATE TABLE [" + longName + u"](F_X);");
    script.Item(1, u"TABLE", u"TBIG",
                u"CREATE TABLE TBIG(F_X TEXT DEFAULT '" + FromUtf8(longDefault) + u"');");
    script.Item(1, u"SQLONE", u"8.0.0.2", u"INSERT INTO TBIG DEFAULT VALUES;");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT F_ID, F_NAME FROM TUSER ORDER BY F_ID"), kUsers);
    EXPECT_EQ(Value(u"DB.s3db", "SELECT length(F_X) FROM TBIG"), std::to_string(16 << 20));
    EXPECT_EQ(Value(u"DB.s3db", "SELECT max(length(name)) FROM sqlite_master"),
              std::to_string(1 << 20));
    EXPECT_EQ(Bytes(u"configure\\update.xml"),
              "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n<updateload>\r\n"
              "\t<LastUpdateTime>" +
                  std::string(4 << 20, '9') + "\r\n</LastUpdateTime>\r\n</updateload>\r\n");
}

TEST_F(HostileInputTest, AScriptOf200MegabytesRunsInReasonableTime) {
    // The usual items, then 100,000 items of 2 KiB each for a database the header does not
    // list: every one is read (twice: once to check the script, once to run it) and skipped.
    const std::string head = Encoded(Usual().Text());
    const WString body = u"INSERT INTO TNONE VALUES('" + WString(1000, u'x') + u"');";
    ScriptText filler;
    filler.Item(7, u"SQLONE", u"8.0.0.2", body);
    const std::string item = Encoded(filler.Text());
    const int64_t items = (200LL << 20) / static_cast<int64_t>(item.size()) + 1;
    {
        plat::File file;
        ASSERT_TRUE(file.Open(At(u"up.dbr"), plat::File::Mode::kCreateTruncate));
        ASSERT_TRUE(file.Write(head));
        std::string chunk;
        for (int i = 0; i < 1000; ++i)
            chunk += item;
        for (int64_t written = 0; written < items; written += 1000)
            ASSERT_TRUE(file.Write(chunk));
    }
    ASSERT_GE(plat::FileSize(At(u"up.dbr")), 200LL << 20);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Migrate(), 1);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT F_ID, F_NAME FROM TUSER ORDER BY F_ID"), kUsers);
    EXPECT_EQ(Version(u"DB.s3db"), "8.0.0.2");
    std::printf("200 MB script (%lld bytes): migrated in %.1f s\n",
                static_cast<long long>(plat::FileSize(At(u"up.dbr"))), seconds);
    m_process.m_scriptFile.Close();  // the script stays open after a run
    ASSERT_TRUE(plat::RemoveFile(At(u"up.dbr")));
}

TEST_F(HostileInputTest, QuotesAndSemicolonsInItemTexts) {
    MakeDb(u"DB.s3db",
           "CREATE TABLE [T;DROP TABLE TUSER;--](F_X TEXT);"
           "INSERT INTO [T;DROP TABLE TUSER;--] VALUES('it''s; here');");
    ScriptText script = Usual();
    script.Item(1, u"TABLE", u"T;DROP TABLE TUSER;--",
                u"CREATE TABLE [T;DROP TABLE TUSER;--](F_X TEXT);");
    // Double quotes vanish from item texts; single quotes and semicolons stay.
    script.Item(1, u"ALTER", u"\"TUSER\",F';DROP TABLE TUSER;--", u"TEXT DEFAULT 'a;b'");
    script.Item(1, u"TRIGGER", u"TR';--",
                u"CREATE TRIGGER [TR';--] AFTER INSERT ON TUSER BEGIN SELECT ';'; END;");
    script.Item(1, u"TABLE", u"TLOG", u"CREATE TABLE TLOG(F_TEXT TEXT);");
    script.Item(1, u"SQLONE", u"8.0.0.2';DROP TABLE TUSER;--",
                u"INSERT INTO TLOG VALUES('a;b''c');");
    script.Item(1, u"SQLTWO", u"8.0.0.2,DBN1",
                u"INSERT INTO TLOG SELECT F_X FROM NEW_DB.[T;DROP TABLE TUSER;--];");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    EXPECT_EQ(Rows(u"DB.s3db", "SELECT F_ID, F_NAME FROM TUSER ORDER BY F_ID"), kUsers);
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM [T;DROP TABLE TUSER;--]"), Strings{"it's; here"});
    EXPECT_EQ(Value(u"DB.s3db", "SELECT [F';DROP TABLE TUSER;--] FROM TUSER LIMIT 1"), "a;b");
    EXPECT_EQ(Value(u"DB.s3db", "SELECT count(*) FROM sqlite_master WHERE name='TR'';--'"), "1");
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT * FROM TLOG ORDER BY F_TEXT"),
              (Strings{"a;b'c", "it's; here"}));
}

TEST_F(HostileInputTest, DatabaseNumbersOutOfRange) {
    ScriptText script = Usual();
    const std::vector<WString> numbers{u"-1",         u"0",           u"2",
                                       u"2147483648", u"-2147483649", u"99999999999999999999",
                                       u"",           u"x",           u" +1x"};
    int n = 0;
    for (const WString& number : numbers) {
        const WString table = u"TBAD" + wstr::FromInt(n++);
        script.Line(u"<DBNAME:DBN" + number + u">").Line(u"<NAME:TABLE>").Line(table);
        script.Line(u"<BEGIN>").Line(u"CREATE TABLE " + table + u"(F_X);").Line(u"<END>");
    }
    // An SQLTWO naming databases that do not exist attaches nothing.
    script.Item(1, u"SQLTWO", u"8.0.0.2,DBN-7", u"CREATE TABLE TREF(F_X);");
    script.Item(1, u"SQLTWO", u"8.0.0.2,DBN99999999999", u"CREATE TABLE TREF(F_X);");
    WriteScript(script);

    EXPECT_EQ(Migrate(), 1);

    // " +1x" reads as 1, as _wtoi would read it: that item is database 1's.
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"),
              (Strings{"TBAD8", "TUSER", "TVERSION"}));
    EXPECT_EQ(Rows(u"DB.s3db", "SELECT F_ID, F_NAME FROM TUSER ORDER BY F_ID"), kUsers);
    EXPECT_EQ(Files(u"*"), (WStrings{u"DB.s3db", u"ReData.log", u"configure", u"up.dbr"}));

    // Counts out of range give no database at all, quickly.
    for (const char16_t* count : {u"-5", u"0", u"99999999999", u"2147483647"}) {
        ScriptText counted;
        counted.Head(u"8.0.0").Line(u"DBNCOUNT=" + WString(count));
        counted.Line(u"DBN1=DB.s3db").Line(u"MAINDBVER1=8.0.0.2");
        UserTables(counted, 1);
        WriteScript(counted);
        m_process.ClearDatabaseList();
        ASSERT_TRUE(plat::RemoveFile(At(u"DB.s3db")));
        WriteFileBytes(At(u"DB.s3db"), m_old);
        const int result = Migrate();
        const bool listed = wstr::ToInt(WString(count)) >= 1;
        EXPECT_EQ(result, listed ? 1 : 0) << ToUtf8(count);
        EXPECT_EQ(Version(u"DB.s3db"), listed ? "8.0.0.2" : "8.0.0.1") << ToUtf8(count);
        ExpectUsersSomewhere();
    }
}

TEST_F(HostileInputTest, ClientExecutablesThatAreNotPeFiles) {
    std::mt19937 random(7);
    std::string noise(1 << 20, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::string pointsOut("MZ", 2);
    pointsOut.resize(64, '\0');
    pointsOut[60] = '\xF0';  // e_lfanew far past the end
    pointsOut[61] = '\xFF';
    pointsOut[62] = '\xFF';
    pointsOut[63] = '\x7F';
    std::string cutPe = pointsOut;
    cutPe[60] = 64;
    cutPe[61] = cutPe[62] = cutPe[63] = 0;
    cutPe += std::string("PE\0\0\x4c\x01\x03\x00", 8);  // a PE signature, then nothing
    const std::vector<std::pair<const char*, std::string>> files{
        {"empty", ""},
        {"text", "this is not a program\r\n"},
        {"mz", "MZ"},
        {"points-out", pointsOut},
        {"cut-pe", cutPe},
        {"noise", noise},
        {"zeros", std::string(16 << 20, '\0')},
        {"script", Bytes(u"DB.s3db")},
    };
    int tried = 0;
    for (const auto& [name, bytes] : files) {
        const WString path = At(u"vennic-" + FromUtf8(name) + u".exe");
        WriteFileBytes(path, bytes);
        CExecImageVersion version(path, u"080403A8");
        EXPECT_EQ(version.IsValid(), 0) << name;
        EXPECT_EQ(version.GetFileVersion(), u"") << name;
        EXPECT_EQ(version.GetProductVersion(), u"") << name;
        ++tried;
    }
    {  // a folder named like the client
        ASSERT_TRUE(plat::MakeDirectory(At(u"vennic.exe")));
        CExecImageVersion version(At(u"vennic.exe"), u"080403A8");
        EXPECT_EQ(version.IsValid(), 0);
        ++tried;
    }
    std::printf("client executables that are not PE files tried: %d\n", tried);
}

}  // namespace
