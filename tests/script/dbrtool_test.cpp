#include "dbrtool/dbrtool.h"
#include "dbrtool/schema.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "engine/db_process.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "script/crypt_file.h"
#include "script_helpers.h"
#include "support/sqlite_probe.h"

namespace {

class DbrToolTest : public ::testing::Test {
protected:
    void SetUp() override { plat::SetAnsiCodePageForTesting(936); }
    void TearDown() override { plat::SetAnsiCodePageForTesting(0); }

    int Run(std::vector<WString> args) {
        m_out.str("");
        m_err.str("");
        return dbrtool::Run(args, m_out, m_err);
    }
    // Encodes UTF-8 `text` into script.dbr through a text file.
    int EncodeText(const std::string& text) {
        WriteFileBytes(m_dir.Sub(u"in.txt"), text);
        return Run({u"encode", m_dir.Sub(u"in.txt"), Script()});
    }
    WString Script() const { return m_dir.Sub(u"script.dbr"); }
    bool OutHas(const std::string& part) const {
        return m_out.str().find(part) != std::string::npos;
    }
    bool ErrHas(const std::string& part) const {
        return m_err.str().find(part) != std::string::npos;
    }

    ScopedTempDir m_dir;
    std::ostringstream m_out;
    std::ostringstream m_err;
};

const char kExample[] =
    "HEAD\n"
    "UPDATETIME=2012-05-01 10:00:00\n"
    "MAIN=8.0.0\n"
    "DATABASEFILE=import.s3db\n"
    "DBNCOUNT=2\n"
    "DBN1=DB.s3db\n"
    "MAINDBVER1=8.0.0.1\n"
    "DBNPATH1=\n"
    "DBN2=用户.s3db\n"
    "MAINDBVER2=8.0.0.2\n"
    "DBNPATH2=用户\\数据\n"
    "<DBNAME:DBN1>\n"
    "<NAME:TABLE>\n"
    "TVERSION\n"
    "<BEGIN>\n"
    "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);\n"
    "<END>\n"
    "<DBNAME:DBN2>\n"
    "<NAME:TABLE>\n"
    "TVERSION\n"
    "<BEGIN>\n"
    "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);\n"
    "<END>\n"
    "<DBNAME:DBN1>\n"
    "<NAME:TABLE>\n"
    "TUSER\n"
    "<BEGIN>\n"
    "CREATE TABLE TUSER (F_ID INTEGER PRIMARY KEY, \n"
    "F_NAME TEXT DEFAULT '用户');\n"
    "<END>\n"
    "<DBNAME:DBN1>\n"
    "<NAME:ALTER>\n"
    "TUSER,F_NICK\n"
    "<BEGIN>\n"
    "TEXT\n"
    "<END>\n"
    "<DBNAME:DBN2>\n"
    "<NAME:SQLTWO>\n"
    "8.0.0.2,DBN1\n"
    "<BEGIN>\n"
    "INSERT INTO T SELECT * FROM NEW_DB.T;\n"
    "<END>\n";

TEST_F(DbrToolTest, EncodeAndDecodeRoundTrip) {
    for (const std::string& text :
         {std::string("HEAD\nMAIN=8.0.0\n\n <x>\t\"q\"\n"), std::string(kExample)}) {
        ASSERT_EQ(EncodeText(text), dbrtool::kExitOk) << m_err.str();
        EXPECT_TRUE(OutHas("wrote"));
        const std::string bytes = ReadFileBytes(Script());
        EXPECT_EQ(bytes.size() % 2, 0u);
        EXPECT_NE(bytes.compare(0, 2, "\xFF\xFE"), 0);  // no byte order mark
        ASSERT_EQ(Run({u"decode", Script()}), dbrtool::kExitOk) << m_err.str();
        EXPECT_EQ(m_out.str(), text);
    }

    // Windows habits in the input: a UTF-8 byte order mark and CR LF line ends. The
    // script gets neither, and a last line without a line feed gets one.
    ASSERT_EQ(EncodeText("\xEF\xBB\xBFHEAD\r\nMAIN=8.0.0\r\nDBN1=数据"), dbrtool::kExitOk);
    ASSERT_EQ(Run({u"decode", Script()}), dbrtool::kExitOk);
    EXPECT_EQ(m_out.str(), "HEAD\nMAIN=8.0.0\nDBN1=数据\n");
}

// Line ends of any editor: LF, CR LF and a lone CR (old Mac) all end a line.
TEST_F(DbrToolTest, EveryKindOfLineEndEndsALine) {
    ASSERT_EQ(EncodeText("HEAD\rMAIN=8.0.0\r\rDBN1=a\r\nDBN2=b\n\r\nlast"), dbrtool::kExitOk)
        << m_err.str();
    EXPECT_TRUE(OutHas(": 7 lines")) << m_out.str();
    ASSERT_EQ(Run({u"decode", Script()}), dbrtool::kExitOk);
    EXPECT_EQ(m_out.str(), "HEAD\nMAIN=8.0.0\n\nDBN1=a\nDBN2=b\n\nlast\n");
}

// What check prints from a script reaches a terminal: control characters are shown, not
// sent (ESC [2J would clear the screen, ESC ]0; retitle the window).
TEST_F(DbrToolTest, CheckShowsControlCharactersEscaped) {
    ASSERT_EQ(EncodeText("HEAD\nMAIN=8\x1B[2J\nDATABASEFILE=a\x07\x7F\n"
                         "DBNCOUNT=1\nDBN1=x\tb\n<\x1B]0;t>\n"),
              dbrtool::kExitOk);
    Run({u"check", Script()});
    EXPECT_TRUE(OutHas("(MAIN): \"8\\x1B[2J\"")) << m_out.str();
    EXPECT_TRUE(OutHas("(DATABASEFILE): \"a\\x07\\x7F\"")) << m_out.str();
    EXPECT_TRUE(OutHas("file \"x\\tb\"")) << m_out.str();
    EXPECT_TRUE(OutHas("the tag <\\x1B]0;t>")) << m_out.str();
    for (char c : m_out.str() + m_err.str()) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte >= 0x20 || c == '\n') << "control byte " << static_cast<int>(byte);
        EXPECT_NE(byte, 0x7F);
    }
}

TEST_F(DbrToolTest, EncodeRefusesLinesThatWouldNotReadBack) {
    ASSERT_EQ(EncodeText("HEAD\nMAIN=8.0.0\n"), dbrtool::kExitOk);
    const std::string before = ReadFileBytes(Script());

    EXPECT_EQ(EncodeText("HEAD\nMAIN=8.0.0\nDBN1=簟.db\n"), dbrtool::kExitFailed);
    EXPECT_TRUE(ErrHas("in.txt:3:")) << m_err.str();
    EXPECT_TRUE(ErrHas("簟 (U+7C1F)")) << m_err.str();
    EXPECT_TRUE(ErrHas("code page 936"));
    EXPECT_TRUE(ErrHas("nothing written"));
    EXPECT_EQ(ReadFileBytes(Script()), before);  // the old script is untouched

    EXPECT_EQ(EncodeText("HEAD\nok\nbad \xC3\x28 utf-8\n"), dbrtool::kExitFailed);
    EXPECT_TRUE(ErrHas("in.txt:3: not valid UTF-8")) << m_err.str();
    EXPECT_EQ(ReadFileBytes(Script()), before);

    const WString fresh = m_dir.Sub(u"fresh.dbr");
    EXPECT_EQ(Run({u"encode", m_dir.Sub(u"in.txt"), fresh}), dbrtool::kExitFailed);
    EXPECT_FALSE(plat::PathExists(fresh));

    EXPECT_EQ(EncodeText("\xEF\xBB\xBF"), dbrtool::kExitFailed);
    EXPECT_TRUE(ErrHas("holds no line"));
    WriteFileBytes(m_dir.Sub(u"in.txt"), "HEAD\n");
    EXPECT_EQ(Run({u"encode", m_dir.Sub(u"in.txt"), m_dir.Sub(u"no\\such\\out.dbr")}),
              dbrtool::kExitFailed);
    // With the system's reason: no folder for the new file beside it.
    EXPECT_TRUE(ErrHas("cannot be written (")) << m_err.str();
    EXPECT_TRUE(ErrHas("out.dbr.writing0): ")) << m_err.str();
}

TEST_F(DbrToolTest, BadInputGetsAMessageAndAFailure) {
    WriteFileBytes(m_dir.Sub(u"empty.dbr"), "");
    WriteFileBytes(m_dir.Sub(u"odd.dbr"), "abc");
    WriteFileBytes(m_dir.Sub(u"utf8bom.dbr"), "\xEF\xBB\xBFHEAD\n");
    WriteFileBytes(m_dir.Sub(u"big.dbr"), std::string("\xFE\xFF\0H", 4));
    WriteFileBytes(m_dir.Sub(u"eight.dbr"), "HEAD\nMAIN=8\n");
    plat::MakeDirectory(m_dir.Sub(u"folder.dbr"));
    const std::pair<const char16_t*, const char*> cases[] = {
        {u"missing.dbr", "no such file"},
        {u"folder.dbr", "is a folder"},
        {u"empty.dbr", "is empty"},
        {u"odd.dbr", "odd number of bytes (3)"},
        {u"utf8bom.dbr", "UTF-8 byte order mark"},
        {u"big.dbr", "big-endian"},
        {u"eight.dbr", "8-bit text"},
    };
    for (auto [name, message] : cases) {
        for (const char16_t* command : {u"decode", u"check"}) {
            EXPECT_EQ(Run({command, m_dir.Sub(name)}), dbrtool::kExitFailed) << message;
            EXPECT_TRUE(ErrHas(message)) << m_err.str();
            EXPECT_EQ(m_out.str(), "");
        }
    }
    EXPECT_EQ(Run({u"encode", m_dir.Sub(u"missing.txt"), Script()}), dbrtool::kExitFailed);
    EXPECT_TRUE(ErrHas("no such file"));
    EXPECT_EQ(Run({u"encode", m_dir.Sub(u"folder.dbr"), Script()}), dbrtool::kExitFailed);
    EXPECT_EQ(Run({u"encode", m_dir.Sub(u"empty.dbr"), Script()}), dbrtool::kExitFailed);
    EXPECT_FALSE(plat::PathExists(Script()));
}

TEST_F(DbrToolTest, UsageAndHelp) {
    EXPECT_EQ(Run({}), dbrtool::kExitUsage);
    EXPECT_TRUE(ErrHas("Usage"));
    EXPECT_EQ(Run({u"--help"}), dbrtool::kExitOk);
    for (const char* part : {"dbrtool decode FILE.dbr", "dbrtool encode IN.txt OUT.dbr",
                             "dbrtool check [--strict] FILE.dbr", "Example: dbrtool check",
                             "dbrtool verify SCRIPT.dbr INSTALLATION...", "--expect FOLDER",
                             "--client VERSION", "--json", "Example: dbrtool verify"}) {
        EXPECT_TRUE(OutHas(part)) << part;
    }
    EXPECT_EQ(Run({u"frobnicate"}), dbrtool::kExitUsage);
    EXPECT_TRUE(ErrHas("unknown command"));
    EXPECT_EQ(Run({u"decode"}), dbrtool::kExitUsage);
    EXPECT_EQ(Run({u"encode", u"a.txt"}), dbrtool::kExitUsage);
    EXPECT_TRUE(ErrHas("wrong number of arguments"));
    EXPECT_EQ(Run({u"check", u"a", u"b"}), dbrtool::kExitUsage);
    EXPECT_EQ(Run({u"verify", u"a.dbr"}), dbrtool::kExitUsage);
    EXPECT_TRUE(ErrHas("at least one installation folder"));
    EXPECT_EQ(Run({u"verify", u"a.dbr", u"x", u"--colour"}), dbrtool::kExitUsage);
    EXPECT_TRUE(ErrHas("unknown option --colour"));
    EXPECT_EQ(Run({u"verify", u"a.dbr", u"x", u"--client"}), dbrtool::kExitUsage);
    EXPECT_EQ(Run({u"verify", u"a.dbr", u"x", u"--expect", m_dir.Sub(u"none")}),
              dbrtool::kExitUsage);
    EXPECT_TRUE(ErrHas("not a folder"));
}

TEST_F(DbrToolTest, CheckSummarisesAWellFormedScript) {
    ASSERT_EQ(EncodeText(kExample), dbrtool::kExitOk);
    ASSERT_EQ(Run({u"check", Script()}), dbrtool::kExitOk) << m_out.str();
    for (const char* part : {
             "client version required (MAIN): \"8.0.0\"",
             "data files (DATABASEFILE): \"import.s3db\"",
             "databases (DBNCOUNT=2): 2",
             "DBN1: file \"DB.s3db\", target version \"8.0.0.1\", sub-folder \"\"",
             "DBN2: file \"用户.s3db\", target version \"8.0.0.2\", sub-folder \"用户\\数据\"",
             "items: 5",
             "DBN1: TABLE 2, ALTER 1",
             "DBN2: TABLE 1, SQLTWO 1",
             "OK: 5 items, 0 warnings",
         }) {
        EXPECT_TRUE(OutHas(part)) << part << "\n" << m_out.str();
    }
    EXPECT_EQ(m_out.str().find("warning:"), std::string::npos) << m_out.str();
    EXPECT_EQ(Run({u"check", u"--strict", Script()}), dbrtool::kExitOk) << m_out.str();
}

TEST_F(DbrToolTest, CheckWarnsAboutTrapsAndStrictFailsOnThem) {
    WriteScript(Script(), FromUtf8("MAIN=7.0\n"                                   // 1: before HEAD
                                   "HEAD\n"                                       // 2
                                   "MAINDBVER1=8.2.01\n"                          // 3
                                   "MAIN=8.0.0\n"                                 // 4
                                   "DATABASEFILE=Db.s3db,x.s3db,x.s3db,y\r\n"     // 5
                                   "DBNCOUNT=3\n"                                 // 6
                                   "DBN1=DB.s3db\n"                               // 7
                                   "DBNPATH1=\n"                                  // 8
                                   "DBN2=db.S3DB\n"                               // 9: case only
                                   "MAINDBVER2=8.0.0.1\n"                         // 10
                                   "DBN5=z.s3db\n"                                // 11: past count
                                   "<DBNAME:DBN3>\n"                              // 12: unlisted
                                   "<NAME:ALTER>\nTUSER\n<BEGIN>\nTEXT\n<END>\n"  // 13-17
                                   "<DBNAME:DBN1>\n"                              // 18
                                   "<NAME:TABLE>\nTUSER\n<BEGIN>\n"               // 19-21
                                   "CREATE TABLE TUSERS(F_ID);\n<END>\n"          // 22-23
                                   "<DBNAME:DBN1>\n"                              // 24
                                   "<NAME:ALTER>\nTGROUP,F_X\n<BEGIN>\nTEXT\n<END>\n"  // 25-29
                                   "<DBNAME:DBN1>\n"                                   // 30
                                   "<NAME:SQLONE>\n8.1\n<BEGIN>\n"                     // 31-33
                                   "DELETE FROM TUSERS;\n<END>\n"                      // 34-35
                                   "<END>\n"                                           // 36
                                   " <X>\n"));                                         // 37

    ASSERT_EQ(Run({u"check", Script()}), dbrtool::kExitOk) << m_out.str();
    for (const char* part : {
             "warning: line 1: header key MAIN stands before the HEAD line (line 2)",
             "warning: line 3: the MAIN reader takes this MAINDBVER line",
             "client version required (MAIN): \"8.2.01\"",
             "warning: MAINDBVER1 \"8.2.01\" is not plain numbers and dots: versions are "
             "compared part by part as numbers, so it counts as 8.2.1",
             "DATABASEFILE value \"Db.s3db,x.s3db,x.s3db,y\\r\" ends in a carriage return",
             "warning: DATABASEFILE names \"Db.s3db\", the file of DBN1",
             "warning: DATABASEFILE names \"x.s3db\" twice",
             "warning: DBN1 and DBN2 differ only in letter case",
             "DBNCOUNT is 3 but there is no DBN3 line",
             "warning: line 11: DBN5 lies beyond DBNCOUNT=3",
             "warning: line 12: item 1: database number 3 is not in the header's list",
             "warning: line 12: item 1: ALTER item text \"TUSER\" has no comma",
             "warning: line 18: TABLE TUSER: its statement makes no table TUSER",
             "warning: line 24: ALTER TGROUP,F_X fails on every new file of DBN1: no such table",
             "warning: line 30: SQLONE 8.1: the version has 2 parts and MAINDBVER1 \"8.2.01\" 3",
             "warning: DBN2 (db.S3DB) has no items",
             "warning: DBN1 (DB.s3db) gets no TVERSION table from its items",
             "warning: line 36: the tag <END> stands outside any item",
             "warning: line 37: a blank before \"<\" makes this a text line",
             "OK: 4 items, ",
         }) {
        EXPECT_TRUE(OutHas(part)) << part << "\n" << m_out.str();
    }
    EXPECT_EQ(Run({u"check", u"--strict", Script()}), dbrtool::kExitFailed);
    EXPECT_TRUE(OutHas("FAILED (--strict): 4 items, ")) << m_out.str();
    EXPECT_FALSE(OutHas("OK:"));

    // Items run on new files in the script's order: an ALTER before its table fails, and
    // a version past the database's runs again next time. The reader drops double quotes.
    ASSERT_EQ(EncodeText("HEAD\nMAIN=8.0.0\nDATABASEFILE=x\nDBNCOUNT=1\nDBN1=a.db\n"
                         "MAINDBVER1=8.0.0.1\nDBNPATH1=\n"
                         "<DBNAME:DBN1>\n<NAME:ALTER>\nT,F_B\n<BEGIN>\nTEXT\n<END>\n"
                         "<DBNAME:DBN1>\n<NAME:TABLE>\nTVERSION\n<BEGIN>\n"
                         "CREATE TABLE TVERSION(F_TABLENAME, F_TABLEVERSION);\n<END>\n"
                         "<DBNAME:DBN1>\n<NAME:TABLE>\nT\n<BEGIN>\nCREATE TABLE T(a);\n<END>\n"
                         "<DBNAME:DBN1>\n<NAME:TRIGGER>\nTR\n<BEGIN>\n"
                         "CREATE TRIGGER TR AFTER INSERT ON T2 BEGIN SELECT 1; END;\n<END>\n"
                         "<DBNAME:DBN1>\n<NAME:SQLONE>\n8.0.0.2\n<BEGIN>\n"
                         "UPDATE T SET a='say \"hi\"';\n"
                         "<END>\n"),
              dbrtool::kExitOk);
    EXPECT_EQ(Run({u"check", u"--strict", Script()}), dbrtool::kExitFailed);
    for (const char* part : {
             "warning: line 8: ALTER T,F_B fails on every new file of DBN1: no such table",
             "warning: line 26: TRIGGER TR fails on every new file of DBN1: no such table",
             "warning: line 32: SQLONE 8.0.0.2 is past MAINDBVER1 \"8.0.0.1\": it runs again",
             "warning: line 36: item 5: the migration removes the double quotes (\") of this "
             "line",
             "FAILED (--strict): 5 items, 4 warnings",
         }) {
        EXPECT_TRUE(OutHas(part)) << part << "\n" << m_out.str();
    }
}

// The migration's refusals, script by script: check fails exactly where a run refuses the
// script before touching anything.
TEST_F(DbrToolTest, CheckRefusesWhatTheMigrationRefuses) {
    struct Case {
        const char* dbnPath;
        const char* dbn;
        const char* dataFiles;  // null: no DATABASEFILE line
        const char* items;      // after the TVERSION and TUSER items
        bool refused;
    };
    const char* const kMissingBegin = "<DBNAME:DBN1>\n<NAME:TABLE>\nTLOST\n<END>\n";
    const char* const kUnknownKind =
        "<DBNAME:DBN1>\n<NAME:VIEW>\nV\n<BEGIN>\nCREATE VIEW V AS SELECT 1;\n<END>\n";
    const char* const kNoDbName = "<NAME:TABLE>\nTMORE\n<BEGIN>\nCREATE TABLE TMORE(x);\n<END>\n";
    // The first item misses its BEGIN tag and would take the second's body.
    const char* const kSwallows =
        "<DBNAME:DBN1>\n<NAME:TABLE>\nTA\nCREATE TABLE TA(x);\n<END>\n"
        "<DBNAME:DBN1>\n<NAME:TABLE>\nTB\n<BEGIN>\nCREATE TABLE TB(x);\n<END>\n";
    const Case cases[] = {
        {"", "DB.s3db", "extra.s3db", "", false},
        {"data\\chat", "DB.s3db", "extra.s3db", "", false},
        {"a\\..\\b", "DB.s3db", "sub\\x.s3db,y.s3db", "", false},
        {".", "DB.s3db", "", "", false},
        {"", "DB.s3db", "extra.s3db", kMissingBegin, true},
        {"", "DB.s3db", "extra.s3db", kUnknownKind, true},
        {"", "DB.s3db", "extra.s3db", kNoDbName, true},
        {"", "DB.s3db", "extra.s3db", kSwallows, true},
        {"", "DB.s3db", nullptr, "", true},
        {"..", "DB.s3db", "extra.s3db", "", true},
        {"a\\..\\..\\b", "DB.s3db", "extra.s3db", "", true},
        {"\\abs", "DB.s3db", "extra.s3db", "", true},
        {"/abs", "DB.s3db", "extra.s3db", "", true},
        {"C:\\data", "DB.s3db", "extra.s3db", "", true},
        {"C:", "DB.s3db", "extra.s3db", "", true},
        {"\\\\server\\share", "DB.s3db", "extra.s3db", "", true},
        {"", "DB.s3db:stream", "extra.s3db", "", true},
        {"", "..\\DB.s3db", "extra.s3db", "", true},
        {"", "DB.s3db", "..\\extra.s3db", "", true},
        {"", "DB.s3db", "x.s3db,D:\\extra.s3db", "", true},
        {"", "DB.s3db", "\\\\server\\x.s3db", "", true},
    };
    const WString kRefusals[] = {u"升级脚本格式错误！", u"获取数据库名失败！"};
    for (const Case& c : cases) {
        // The same file twice: once as DBN1, once as DBN2 by the case's path.
        for (bool twice : {false, true}) {
            std::string text = "HEAD\nMAIN=8.0.0\n";
            if (c.dataFiles != nullptr) text += "DATABASEFILE=" + std::string(c.dataFiles) + "\n";
            text += twice ? "DBNCOUNT=2\n" : "DBNCOUNT=1\n";
            text += "DBN1=" + std::string(twice ? "DB.s3db" : c.dbn) +
                    "\nMAINDBVER1=8.0.0.1\nDBNPATH1=" + (twice ? "" : c.dbnPath) + "\n";
            if (twice) {
                text += "DBN2=" + std::string(c.dbn) +
                        "\nMAINDBVER2=8.0.0.1\nDBNPATH2=" + c.dbnPath + "\n";
            }
            for (int n = 1; n <= (twice ? 2 : 1); ++n) {
                text += "<DBNAME:DBN" + std::to_string(n) +
                        ">\n<NAME:TABLE>\nTVERSION\n<BEGIN>\n"
                        "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);\n<END>\n";
            }
            text += c.items;
            // Another spelling of DB.s3db in the data folder is the same file twice.
            const bool sameFile = twice && std::string(c.dbn) == "DB.s3db" &&
                                  (std::string(c.dbnPath).empty() || std::string(c.dbnPath) == ".");
            const bool refused = c.refused || sameFile;
            const std::string what = text;

            ScopedTempDir install;
            WriteScript(install.Sub(u"up.dbr"), FromUtf8(text));
            EXPECT_EQ(Run({u"check", install.Sub(u"up.dbr")}),
                      refused ? dbrtool::kExitFailed : dbrtool::kExitOk)
                << what << m_out.str();
            EXPECT_EQ(OutHas("FAILED: the migration refuses this script"), refused) << what;

            CDBProcess process;
            process.m_strInstallDir = install.path();
            process.m_strScriptName = u"up.dbr";
            process.m_bScriptFound = 1;
            process.m_bInteractive = 0;
            const MigrationOutcome outcome = process.Migrate();
            ResetLogForTesting();
            const bool engineRefused =
                outcome.strMessage == kRefusals[0] || outcome.strMessage == kRefusals[1];
            EXPECT_EQ(engineRefused, refused) << what << ToUtf8(outcome.strMessage);
            if (refused) {
                const WString& expected = c.dataFiles == nullptr ? kRefusals[1] : kRefusals[0];
                EXPECT_EQ(outcome.strMessage, expected) << what;
                EXPECT_TRUE(OutHas(ToUtf8(expected))) << what << m_out.str();
            }
        }
    }
}

TEST_F(DbrToolTest, CheckFailsAtAMalformedItemOrAMissingDatabaseFileLine) {
    ASSERT_EQ(EncodeText("HEAD\nDATABASEFILE=a\nDBNCOUNT=1\nDBN1=a\n"
                         "<DBNAME:DBN1>\n<NAME:TABLE>\nT\n<BEGIN>\nX\n<END>\n"
                         "<DBNAME:DBN1>\n<NAME:INDEX>\nI\n<BEGIN>\nX\n<END>\n"
                         "<DBNAME:DBN1>\n<NAME:TABLE>\nU\n<BEGIN>\nX\n<END>\n"),
              dbrtool::kExitOk);
    EXPECT_EQ(Run({u"check", Script()}), dbrtool::kExitFailed);
    EXPECT_TRUE(OutHas("error: item 2 at line 11 (<DBNAME:DBN1>): the NAME tag names none"))
        << m_out.str();
    EXPECT_TRUE(OutHas("items: 1"));
    EXPECT_FALSE(OutHas("OK:"));

    ASSERT_EQ(EncodeText("HEAD\nMAIN=1\n"), dbrtool::kExitOk);
    EXPECT_EQ(Run({u"check", Script()}), dbrtool::kExitFailed);
    EXPECT_TRUE(OutHas("error: no DATABASEFILE line")) << m_out.str();
    EXPECT_TRUE(OutHas("no DBNCOUNT line"));
}

// One line per difference a fresh installation's schema can show, and none for the same
// schema written otherwise.
TEST_F(DbrToolTest, SchemasAreComparedPartByPart) {
    const std::string base =
        "CREATE TABLE T(a INTEGER PRIMARY KEY, b TEXT NOT NULL DEFAULT 'x  y', c REAL);"
        "CREATE UNIQUE INDEX IT ON T(b) WHERE c > 0;"
        "CREATE VIEW V AS SELECT a FROM T;"
        "CREATE TRIGGER TR AFTER INSERT ON T BEGIN UPDATE T SET c = 1; END;";
    const std::string respelled =
        "CREATE TABLE t (A integer PRIMARY KEY,\n b text NOT NULL DEFAULT 'x  y', c REAL);\n"
        "CREATE UNIQUE INDEX it ON t (B) WHERE c>0;\n"
        "CREATE VIEW V AS\n  SELECT a\n  FROM T;\n"
        "CREATE TRIGGER TR AFTER INSERT ON T\nBEGIN\n    UPDATE T SET c = 1;\nEND;";
    auto schemaOf = [&](const std::string& sql) {
        static int n = 0;
        const WString path = m_dir.Sub(u"s" + wstr::FromInt(++n) + u".db");
        std::string error;
        EXPECT_TRUE(probe::Exec(path, sql, &error)) << error;
        dbrtool::Schema schema;
        EXPECT_TRUE(dbrtool::ReadSchema(path, true, schema, error)) << error;
        return schema;
    };
    const dbrtool::Schema fresh = schemaOf(base);
    EXPECT_EQ(dbrtool::CompareSchemas(schemaOf(respelled), fresh), std::vector<std::string>());
    EXPECT_EQ(dbrtool::NormaliseSql("f( 'a  b' ,\"c  d\" ) ;\n"), "f('a  b',\"c  d\")");

    struct Change {
        const char* from;
        const char* to;
        const char* difference;  // the first line of the report
        size_t lines;
    };
    const Change changes[] = {
        {"b TEXT NOT NULL", "b VARCHAR NOT NULL",
         "column b is declared VARCHAR, in the fresh database TEXT", 1},
        {"b TEXT NOT NULL", "b TEXT", "column b is nullable, in the fresh database NOT NULL", 1},
        {"DEFAULT 'x  y'", "DEFAULT 'x y'",
         "column b has the default 'x y', in the fresh database the default 'x  y'", 1},
        // A composite key: c joins it, and SQLite makes an index for it.
        {"a INTEGER PRIMARY KEY, b TEXT NOT NULL DEFAULT 'x  y', c REAL",
         "a INTEGER, b TEXT NOT NULL DEFAULT 'x  y', c REAL, PRIMARY KEY(a, c)",
         "column c is part of the primary key, in the fresh database not part of it", 2},
        {"c REAL);", "c REAL, d);", "column d is not in the fresh database", 1},
        {"a INTEGER PRIMARY KEY, b TEXT NOT NULL DEFAULT 'x  y', c REAL",
         "a INTEGER PRIMARY KEY, c REAL, b TEXT NOT NULL DEFAULT 'x  y'",
         "columns in the order (a, c, b), in the fresh database (a, b, c)", 1},
        {"UNIQUE INDEX IT", "INDEX IT", "index IT on T is not unique, in the fresh database UNIQUE",
         1},
        {"ON T(b) WHERE", "ON T(b, c) WHERE",
         "index IT on T covers (b, c), in the fresh database (b)", 1},
        {"WHERE c > 0", "WHERE c > 1",
         "index IT on T is partial, WHERE c>1, in the fresh database WHERE c>0", 1},
        {"SELECT a FROM", "SELECT a, b FROM",
         "view V is defined as CREATE VIEW V AS SELECT a,b FROM T, in the fresh database", 1},
        {"SET c = 1", "SET c = 2", "trigger TR is defined as", 1},
        {"CREATE VIEW V", "CREATE VIEW W", "view V is missing", 2},
    };
    for (const Change& change : changes) {
        std::string sql = base;
        sql.replace(sql.find(change.from), std::strlen(change.from), change.to);
        const std::vector<std::string> differences = dbrtool::CompareSchemas(schemaOf(sql), fresh);
        ASSERT_EQ(differences.size(), change.lines) << change.difference;
        EXPECT_NE(differences[0].find(change.difference), std::string::npos)
            << differences[0] << "\n"
            << change.difference;
    }
}

}  // namespace
