#include "dbrtool/dbrtool.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/codepage.h"
#include "platform/files.h"
#include "script/crypt_file.h"
#include "script_helpers.h"

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
    "DATABASEFILE=DB.s3db\n"
    "DBNCOUNT=2\n"
    "DBN1=DB.s3db\n"
    "MAINDBVER1=8.0.0.1\n"
    "DBNPATH1=\n"
    "DBN2=用户.s3db\n"
    "MAINDBVER2=8.0.0.2\n"
    "DBNPATH2=用户\\数据\n"
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
                             "dbrtool check FILE.dbr", "Example: dbrtool check"}) {
        EXPECT_TRUE(OutHas(part)) << part;
    }
    EXPECT_EQ(Run({u"frobnicate"}), dbrtool::kExitUsage);
    EXPECT_TRUE(ErrHas("unknown command"));
    EXPECT_EQ(Run({u"decode"}), dbrtool::kExitUsage);
    EXPECT_EQ(Run({u"encode", u"a.txt"}), dbrtool::kExitUsage);
    EXPECT_TRUE(ErrHas("wrong number of arguments"));
    EXPECT_EQ(Run({u"check", u"a", u"b"}), dbrtool::kExitUsage);
}

TEST_F(DbrToolTest, CheckSummarisesAWellFormedScript) {
    ASSERT_EQ(EncodeText(kExample), dbrtool::kExitOk);
    ASSERT_EQ(Run({u"check", Script()}), dbrtool::kExitOk) << m_out.str();
    for (const char* part : {
             "client version required (MAIN): \"8.0.0\"",
             "data files (DATABASEFILE): \"DB.s3db\"",
             "databases (DBNCOUNT=2): 2",
             "DBN1: file \"DB.s3db\", target version \"8.0.0.1\", sub-folder \"\"",
             "DBN2: file \"用户.s3db\", target version \"8.0.0.2\", sub-folder \"用户\\数据\"",
             "items: 3",
             "DBN1: TABLE 1, ALTER 1",
             "DBN2: SQLTWO 1",
             "OK: 3 items, 0 warnings",
         }) {
        EXPECT_TRUE(OutHas(part)) << part << "\n" << m_out.str();
    }
    EXPECT_EQ(m_out.str().find("warning:"), std::string::npos) << m_out.str();
}

TEST_F(DbrToolTest, CheckWarnsAboutTraps) {
    ASSERT_EQ(EncodeText("MAIN=7.0\n"                // 1: before HEAD
                         "HEAD\n"                    // 2
                         "MAINDBVER1=8.0.0.1\n"      // 3: taken by the MAIN reader
                         "MAIN=8.0.0\n"              // 4
                         "DATABASEFILE=DB.s3db\r\n"  // 5: kept as CR LF below
                         "DBNCOUNT=2\n"              // 6
                         "DBN1=DB.s3db\n"            // 7
                         "DBNPATH1=..\\outside\n"    // 8
                         "<DBNAME:DBN3>\n"           // 9: not listed
                         "<NAME:ALTER>\n"            // 10
                         "TUSER\n"                   // 11: no comma
                         "<BEGIN>\n"                 // 12
                         "TEXT\n"                    // 13
                         "<END>\n"                   // 14
                         "<DBNAME:DBN1>\n"           // 15
                         "<NAME:TABLE>\n"            // 16
                         "A\n"                       // 17: no BEGIN
                         "<DBNAME:DBN1>\n"           // 18: swallowed
                         "<NAME:TABLE>\n"            // 19
                         "B\n"                       // 20
                         "<BEGIN>\n"                 // 21
                         " <X>\n"                    // 22: a text line
                         "<END>\n"                   // 23
                         "<NAME:TABLE>\n"            // 24: no DBNAME tag
                         "C\n<BEGIN>\nX\n<END>\n"),
              dbrtool::kExitOk);
    // Encode drops CRs; write the text with its CR LF line as the migration would see it.
    const WString all = FromUtf8(ReadFileBytes(m_dir.Sub(u"in.txt")));
    int badLine = 0;
    ASSERT_TRUE(WriteScriptFile(Script(), all, badLine));

    ASSERT_EQ(Run({u"check", Script()}), dbrtool::kExitOk) << m_out.str();
    for (const char* part : {
             "warning: line 1: header key MAIN stands before the HEAD line (line 2)",
             "warning: line 3: the MAIN reader takes this MAINDBVER line",
             "client version required (MAIN): \"8.0.0.1\"",
             "DATABASEFILE value \"DB.s3db\\r\" ends in a carriage return",
             "DBNCOUNT is 2 but there is no DBN2 line",
             "DBNPATH1 \"..\\outside\" leads outside the data folder",
             "warning: line 9: item 1: database number 3 is not in the header's list",
             "warning: line 9: item 1: ALTER item text \"TUSER\" has no comma",
             "warning: line 18: item 2: this DBNAME tag lies inside the item that begins at "
             "line 15",
             "warning: line 22: a blank before \"<\" makes this a text line",
             "warning: line 24: the tag <NAME:TABLE> stands outside any item",
             "warning: line 28: the tag <END> stands outside any item",
             "OK: 2 items, ",
         }) {
        EXPECT_TRUE(OutHas(part)) << part << "\n" << m_out.str();
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

}  // namespace
