#include "script/script_file.h"

#include <gtest/gtest.h>

#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "script_helpers.h"

namespace {

class ScriptFileTest : public ::testing::Test {
protected:
    void SetUp() override { plat::SetAnsiCodePageForTesting(936); }
    void TearDown() override {
        ResetLogForTesting();
        plat::SetAnsiCodePageForTesting(0);
    }

    // Writes `text` as a scrambled script and opens it.
    void Load(WStringView text) {
        WriteScript(m_dir.Sub(u"test.dbr"), text);
        ASSERT_TRUE(m_script.Open(m_dir.Sub(u"test.dbr")));
    }
    WString Header(const WString& key) {
        WString value = u"junk";
        m_script.ReadHeaderValue(key, value);
        return value;
    }

    ScopedTempDir m_dir;
    CScriptFile m_script;
};

const WString kExample = JoinLines({
    u"HEAD",
    u"UPDATETIME=2012-05-01 10:00:00",
    u"MAIN=8.0.0",
    u"DATABASEFILE=DB.s3db",
    u"DBNCOUNT=1",
    u"DBN1=DB.s3db",
    u"MAINDBVER1=8.0.0.1",
    u"DBNPATH1=",
    u"<DBNAME:DBN1>",
    u"<NAME:TABLE>",
    u"TUSER",
    u"<BEGIN>",
    u"CREATE TABLE TUSER (F_ID INTEGER PRIMARY KEY, ",
    u"F_NAME TEXT);",
    u"<END>",
    u"<DBNAME:DBN1>",
    u"<NAME:ALTER>",
    u"TUSER,F_NICK",
    u"<BEGIN>",
    u"TEXT",
    u"<END>",
});

TEST_F(ScriptFileTest, ReadsTheExampleScript) {
    Load(kExample);
    WString value;
    ASSERT_TRUE(m_script.ReadUpdateTime(value));
    EXPECT_EQ(value, u"2012-05-01 10:00:00");
    ASSERT_TRUE(m_script.ReadMain(value));
    EXPECT_EQ(value, u"8.0.0");
    EXPECT_EQ(m_script.GetLineNumber(), 3);
    ASSERT_TRUE(m_script.ReadDatabaseFile(value));
    EXPECT_EQ(value, u"DB.s3db");
    EXPECT_EQ(Header(u"DBNCOUNT"), u"1");
    EXPECT_EQ(Header(u"DBN1"), u"DB.s3db");
    EXPECT_EQ(Header(u"MAINDBVER1"), u"8.0.0.1");
    EXPECT_TRUE(m_script.ReadHeaderValue(u"DBNPATH1", value));
    EXPECT_EQ(value, u"");

    m_script.Rewind();
    ScriptItem item;
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(m_script.GetItemLine(), 9);
    EXPECT_EQ(item.nType, ITEM_TABLE);
    EXPECT_EQ(item.nDbIndex, 1);
    EXPECT_EQ(item.strName, u"TUSER");
    EXPECT_EQ(item.strSql, u"CREATE TABLE TUSER (F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
    EXPECT_EQ(m_script.GetLineNumber(), 15);  // just after the END line

    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(m_script.GetItemLine(), 16);
    EXPECT_EQ(item.nType, ITEM_ALTER);
    EXPECT_EQ(item.strName, u"TUSER");
    EXPECT_EQ(item.strColumn, u"F_NICK");
    EXPECT_EQ(item.strSql, u"TEXT");
    EXPECT_FALSE(m_script.ReadItem(item));
    EXPECT_EQ(m_script.GetItemLine(), 0);  // the end, not a malformed item
    EXPECT_EQ(m_script.GetItemError(), ItemError::kNone);
}

TEST_F(ScriptFileTest, PrefixAndExactKeyRules) {
    Load(JoinLines({
        u"MAIN=before-head",
        u"DBNCOUNT=9",
        u"HEADER",
        u"MAINDBVER1=8.0.0.1",
        u"MAIN=8.0.0",
        u"UPDATETIME = x",
        u"DBN1 =spaced",
        u"DBN10=ten",
        u"dbn1=lower",
        u"DBN1",
        u"DBN1= first\r",
        u"DBN1=second",
        u"DATABASEFILE",
        u"DATABASEFILE=a.db,b.db",
        u"=empty key",
    }));
    WString value;
    // MAINDBVER1 starts with MAIN: the prefix reader takes it, as it comes first.
    ASSERT_TRUE(m_script.ReadMain(value));
    EXPECT_EQ(value, u"8.0.0.1");
    ASSERT_TRUE(m_script.ReadUpdateTime(value));
    EXPECT_EQ(value, u" x");
    ASSERT_TRUE(m_script.ReadDatabaseFile(value));  // a line without "=" is skipped
    EXPECT_EQ(value, u"a.db,b.db");

    EXPECT_FALSE(m_script.ReadHeaderValue(u"DBNCOUNT", value));  // only before HEAD
    EXPECT_EQ(value, u"");
    EXPECT_EQ(Header(u"DBN1"), u" first\r");  // blanks and CR kept; first match wins
    EXPECT_EQ(Header(u"DBN10"), u"ten");
    EXPECT_EQ(Header(u"DBN1 "), u"spaced");
    EXPECT_EQ(Header(u"dbn1"), u"lower");
    EXPECT_EQ(Header(u"DBN"), u"");
    EXPECT_EQ(Header(u"DBN1="), u"");
    EXPECT_EQ(Header(u""), u"empty key");
    EXPECT_EQ(Header(u"MAIN"), u"8.0.0");

    // The position ends where a scan stops: after the matching line, or at the end.
    ASSERT_TRUE(m_script.ReadHeaderValue(u"DBN10", value));
    EXPECT_EQ(m_script.GetLineNumber(), 8);
    ScriptItem item;
    EXPECT_FALSE(m_script.ReadHeaderValue(u"DBN2", value));
    EXPECT_FALSE(m_script.ReadItem(item));  // nothing left to read
}

TEST_F(ScriptFileTest, HeaderNeedsALineStartingWithHead) {
    // A byte order mark stays part of the first line.
    std::string bytes;
    int badLine = 0;
    ASSERT_TRUE(EncodeScript(JoinLines({u"HEAD", u"MAIN=8.0.0", u"DBNCOUNT=1"}), bytes, badLine));
    WriteFileBytes(m_dir.Sub(u"bom.dbr"), Utf16Le(u"\xFEFF") + bytes);
    ASSERT_TRUE(m_script.Open(m_dir.Sub(u"bom.dbr")));
    WString value = u"junk";
    EXPECT_FALSE(m_script.ReadMain(value));
    EXPECT_EQ(value, u"");
    EXPECT_FALSE(m_script.ReadHeaderValue(u"DBNCOUNT", value));

    Load(JoinLines({u"MAIN=8.0.0", u" HEAD", u"DBNCOUNT=1"}));
    EXPECT_FALSE(m_script.ReadMain(value));
    EXPECT_FALSE(m_script.ReadHeaderValue(u"DBNCOUNT", value));
    // Keys may stand anywhere after HEAD, even inside an item.
    Load(JoinLines(
        {u"HEAD", u"<DBNAME:DBN1>", u"<NAME:TABLE>", u"T", u"<BEGIN>", u"MAIN=8", u"<END>"}));
    ASSERT_TRUE(m_script.ReadMain(value));
    EXPECT_EQ(value, u"8");
}

TEST_F(ScriptFileTest, TagLines) {
    EXPECT_TRUE(CScriptFile::IsTagLine(u"<BEGIN>"));
    EXPECT_TRUE(CScriptFile::IsTagLine(u"<a > b"));
    EXPECT_FALSE(CScriptFile::IsTagLine(u" <BEGIN>"));
    EXPECT_FALSE(CScriptFile::IsTagLine(u"<BEGIN"));
    EXPECT_FALSE(CScriptFile::IsTagLine(u""));
    EXPECT_EQ(CScriptFile::StripTag(u"<NAME:TABLE>"), u"NAME:TABLE");
    EXPECT_EQ(CScriptFile::StripTag(u"<END>\r"), u"END>");
    EXPECT_EQ(CScriptFile::StripTag(u"<>"), u"");
    EXPECT_EQ(CScriptFile::StripTag(u"<"), u"");
}

TEST_F(ScriptFileTest, ItemTextAndBody) {
    Load(JoinLines({
        u"HEAD",
        u"<DBNAME:DBN2>",
        u"<X>",
        u"<DBNAME:DBN3>",  // a second DBNAME before NAME: the first counts
        u"<NAME:TRIGGER>",
        u"\"TR_",
        u"USER\"",
        u"<NOTE>",  // skipped before BEGIN
        u"<BEGIN>",
        u"CREATE TRIGGER TR_USER AFTER INSERT ON T ",
        u"<X>",  // dropped from the body
        u" BEGIN UPDATE T SET A='x' WHERE \"B\"=1; ",
        u"<ENDING>",  // holds END: ends the body
        u"<DBNAME: xDBN 12abc>",
        u"<NAME:ALTER SQLONE>",
        u"8.0.0.3",
        u"<BEGIN>",
        u"<END>",
    }));
    ScriptItem item;
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(m_script.GetItemLine(), 2);
    EXPECT_EQ(item.nDbIndex, 2);
    EXPECT_EQ(item.nType, ITEM_TRIGGER);
    EXPECT_EQ(item.strName, u"TR_USER");
    EXPECT_EQ(item.strSql,
              u"CREATE TRIGGER TR_USER AFTER INSERT ON T  BEGIN UPDATE T SET A='x' WHERE B=1; ");
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.nDbIndex, 12);        // lenient: blanks skipped, digits up to the first other
    EXPECT_EQ(item.nType, ITEM_SQLONE);  // the last word found wins
    EXPECT_EQ(item.strVersion, u"8.0.0.3");
    EXPECT_EQ(item.strSql, u"");
    EXPECT_EQ(item.strName, u"");  // cleared, not the trigger's name
}

TEST_F(ScriptFileTest, ItemKindsAndFields) {
    Load(JoinLines({
        u"<DBNAME:DBN1>",
        u"<NAME:TABLE SQLTWO>",
        u"T",
        u"<BEGIN>",
        u"B1",
        u"<END>",
        u"<DBNAME:DBN1>",
        u"<NAME:SQLTWO>",
        u"8.0.0.2,DBN2",
        u"<BEGIN>",
        u"B2",
        u"<END>",
        u"<DBNAME:DBN1>",
        u"<NAME:ALTER>",
        u"TUSER",
        u"<BEGIN>",
        u"TEXT",
        u"<END>",
        u"<DBNAME:DBN1>",
        u"<NAME:SQLTWO>",
        u"8.0.0.4",
        u"<BEGIN>",
        u"B4",
        u"<END>",
        u"<DBNAME:DBN1>",
        u"<NAME:SQLTWO>",
        u"8.0.0.5,3",
        u"<BEGIN>",
        u"B5",
        u"<END>",
        u"<DBNAME:MAIN>",
        u"<NAME:SQLONE>",
        u"v",
        u"<BEGIN>",
        u"B6",
        u"<END>",
    }));
    ScriptItem item;
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.nType, ITEM_TABLE);  // TABLE wins over every other word
    EXPECT_EQ(item.strName, u"T");

    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.nType, ITEM_SQLTWO);
    EXPECT_EQ(item.strVersion, u"8.0.0.2");
    EXPECT_EQ(item.strColumn, u"2");
    EXPECT_EQ(item.nRefDbIndex, 2);
    EXPECT_EQ(item.strSql, u"B2");

    // Without a comma the ALTER has no column: never the previous item's.
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.nType, ITEM_ALTER);
    EXPECT_EQ(item.strName, u"TUSER");
    EXPECT_EQ(item.strColumn, u"");

    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.strVersion, u"8.0.0.4");
    EXPECT_EQ(item.nRefDbIndex, 0);
    EXPECT_EQ(item.strColumn, u"");

    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.strVersion, u"8.0.0.5");
    EXPECT_EQ(item.strColumn, u"3");  // no "DBN": the text as it is, and no number
    EXPECT_EQ(item.nRefDbIndex, 0);

    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.nDbIndex, 0);  // no "DBN" in the tag: no database, not the last one
    EXPECT_FALSE(m_script.ReadItem(item));
    EXPECT_EQ(m_script.GetItemLine(), 0);
}

TEST_F(ScriptFileTest, MissingBeginTakesTheNextItemsBody) {
    Load(JoinLines({
        u"<DBNAME:DBN1>",
        u"<NAME:TABLE>",
        u"A",  // no BEGIN, no END
        u"<DBNAME:DBN2>",
        u"<NAME:TABLE>",
        u"B",
        u"<BEGIN>",
        u"CREATE TABLE B (X);",
        u"<END>",
        u"<DBNAME:DBN1>",
        u"<NAME:TABLE>",
        u"C",
        u"<BEGIN>",
        u"CREATE TABLE C (X);",
        u"<END>",
    }));
    ScriptItem item;
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.strName, u"A");
    EXPECT_EQ(item.nDbIndex, 1);
    EXPECT_EQ(item.strSql, u"CREATE TABLE B (X);");
    EXPECT_EQ(m_script.GetLostItemLine(), 4);  // the reader says which item it swallowed
    ASSERT_TRUE(m_script.ReadItem(item));      // item B is lost
    EXPECT_EQ(item.strName, u"C");
    EXPECT_EQ(m_script.GetItemLine(), 10);
    EXPECT_EQ(m_script.GetLostItemLine(), 0);
}

TEST_F(ScriptFileTest, LostItemsAreReported) {
    // An item without its NAME tag: its DBNAME is passed over for the next one's.
    Load(JoinLines({u"<DBNAME:DBN1>", u"A", u"<DBNAME:DBN2>", u"<NAME:TABLE>", u"B", u"<BEGIN>",
                    u"x", u"<END>"}));
    ScriptItem item;
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.nDbIndex, 1);
    EXPECT_EQ(m_script.GetLostItemLine(), 3);
    // An item without its DBNAME tag, last in the file: the pass ends as if no item were left.
    Load(JoinLines({u"<NAME:TABLE>", u"B", u"<BEGIN>", u"x", u"<END>"}));
    EXPECT_FALSE(m_script.ReadItem(item));
    EXPECT_EQ(m_script.GetItemError(), ItemError::kNone);
    EXPECT_EQ(m_script.GetLostItemLine(), 1);
    // An END tag missing: the body runs into the next item.
    Load(JoinLines({u"<DBNAME:DBN1>", u"<NAME:TABLE>", u"A", u"<BEGIN>", u"x", u"<DBNAME:DBN1>",
                    u"<NAME:TABLE>", u"B", u"<BEGIN>", u"y", u"<END>"}));
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(m_script.GetLostItemLine(), 6);
}

TEST_F(ScriptFileTest, MalformedItemsStopThePassAndTellWhere) {
    struct Case {
        WString text;
        int line;
        ItemError error;
    };
    const WString good = JoinLines(
        {u"<DBNAME:DBN1>", u"<NAME:TABLE>", u"T", u"<BEGIN>", u"CREATE TABLE T (X);", u"<END>"});
    const Case cases[] = {
        // With a good item first, a kind-less item is still refused.
        {good + JoinLines({u"<DBNAME:DBN1>", u"<NAME:VIEW>", u"V", u"<BEGIN>", u"<END>"}), 7,
         ItemError::kNoKind},
        {good + JoinLines({u"<DBNAME:DBN1>", u"text"}), 7, ItemError::kNoNameTag},
        {good + JoinLines({u"<DBNAME:DBN1>", u"<NAME:TABLE>", u"<BEGIN>", u"<END>"}), 7,
         ItemError::kNoText},
        {good + JoinLines({u"<DBNAME:DBN1>", u"<NAME:TABLE>"}), 7, ItemError::kNoText},
        {good + JoinLines({u"", u"<DBNAME:DBN1>", u"<NAME:TABLE>", u"T"}), 8, ItemError::kNoBegin},
        {good + JoinLines({u"<DBNAME:DBN1>", u"<NAME:TABLE>", u"T", u"<BEGIN>", u"X"}), 7,
         ItemError::kNoEnd},
    };
    for (const Case& c : cases) {
        Load(c.text);
        ScriptItem item;
        ASSERT_TRUE(m_script.ReadItem(item));
        EXPECT_EQ(m_script.GetItemLine(), 1);
        EXPECT_EQ(m_script.GetItemError(), ItemError::kNone);
        EXPECT_FALSE(m_script.ReadItem(item));
        EXPECT_EQ(m_script.GetItemLine(), c.line) << ToUtf8(c.text);
        EXPECT_EQ(m_script.GetItemError(), c.error) << ToUtf8(c.text);
        EXPECT_STRNE(DescribeItemError(c.error), "");
    }

    // Without a DBNAME tag the tag reader runs to the end: a NAME tag alone begins no
    // item, and the pass ends as if the items were over.
    Load(good + JoinLines({u"<NAME:TABLE>", u"T", u"<BEGIN>", u"X", u"<END>"}));
    ScriptItem item;
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_FALSE(m_script.ReadItem(item));
    EXPECT_EQ(m_script.GetItemLine(), 0);
}

TEST_F(ScriptFileTest, TextLinesMayStartWithABlankAndHoldChinese) {
    Load(JoinLines({u"<DBNAME:DBN1>", u"<NAME:SQLONE>", u" <not a tag>", u"8.0", u"<BEGIN>",
                    u" <DBNAME:DBN2>", u"INSERT INTO T VALUES('用户');", u"<END>"}));
    ScriptItem item;
    ASSERT_TRUE(m_script.ReadItem(item));
    EXPECT_EQ(item.strVersion, u" <not a tag>8.0");
    EXPECT_EQ(item.strSql, u" <DBNAME:DBN2>INSERT INTO T VALUES('用户');");
}

TEST_F(ScriptFileTest, ItemStepsKeepTheirPositions) {
    Load(JoinLines({u"<NAME:TABLE>", u"A", u"B", u"<BEGIN>", u"X", u"<END>"}));
    WString value = u"keep";
    EXPECT_FALSE(m_script.ReadDbNameTag(value));
    EXPECT_EQ(value, u"keep");  // left alone at the end of the file
    m_script.Rewind();
    ASSERT_TRUE(m_script.ReadNameTag(value));
    EXPECT_EQ(value, u"TABLE");
    WString text;
    ASSERT_TRUE(m_script.ReadItemText(text));
    EXPECT_EQ(text, u"AB");
    const int64_t atBegin = m_script.GetPosition();
    EXPECT_EQ(atBegin, (13 + 2 + 2) * 2);  // the BEGIN line is read again
    text.clear();
    EXPECT_FALSE(m_script.ReadItemText(text));  // a tag line comes first
    EXPECT_EQ(m_script.GetPosition(), atBegin);
    WString body;
    ASSERT_TRUE(m_script.ReadItemBody(body));
    EXPECT_EQ(body, u"X");
    EXPECT_FALSE(m_script.ReadItemBody(body));
}

TEST_F(ScriptFileTest, OpenCloseAndClosedReaders) {
    ResetLogForTesting();
    ASSERT_TRUE(OpenLogFile(m_dir.Sub(u"test.log")));
    Load(kExample);
    const WString path = m_dir.Sub(u"test.dbr");
    EXPECT_EQ(m_script.GetFilePath(), path);

    const WString missing = m_dir.Sub(u"缺少.dbr");
    EXPECT_FALSE(m_script.Open(missing));
    EXPECT_FALSE(plat::PathExists(missing));  // never created
    EXPECT_FALSE(m_script.IsOpen());          // the first script is closed all the same
    EXPECT_EQ(m_script.GetFilePath(), path);
    EXPECT_NE(ReadFileBytes(m_dir.Sub(u"test.log")).find(*ToAnsi(missing)), std::string::npos);

    WString value = u"junk";
    ScriptItem item;
    EXPECT_FALSE(m_script.ReadMain(value));
    EXPECT_EQ(value, u"");
    EXPECT_FALSE(m_script.ReadHeaderValue(u"DBN1", value));
    EXPECT_FALSE(m_script.ReadItem(item));
    EXPECT_FALSE(m_script.ReadItemBody(value));
    m_script.Rewind();  // harmless when closed
    EXPECT_FALSE(m_script.Close());

    ASSERT_TRUE(m_script.Open(path));
    EXPECT_TRUE(m_script.ReadMain(value));
    EXPECT_TRUE(m_script.Close());
    EXPECT_FALSE(m_script.Close());
}

}  // namespace
