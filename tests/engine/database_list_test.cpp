#include "engine/database_list.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "script/script_helpers.h"

namespace {

class DatabaseListTest : public ::testing::Test {
protected:
    void SetUp() override { plat::SetAnsiCodePageForTesting(936); }
    void TearDown() override { plat::SetAnsiCodePageForTesting(0); }

    void Load(WStringView text) {
        WriteScript(m_dir.Sub(u"test.dbr"), text);
        ASSERT_TRUE(m_script.Open(m_dir.Sub(u"test.dbr")));
    }
    void LoadList(const WString& base) {
        DatabaseHeader header;
        ReadDatabaseHeader(m_script, header);
        LoadDatabaseList(header, base, m_list, plat::Disk());
    }
    std::vector<int> Numbers() const {
        std::vector<int> numbers;
        for (const auto& [number, entry] : m_list)
            numbers.push_back(number);
        return numbers;
    }

    ScopedTempDir m_dir;
    CScriptFile m_script;
    DatabaseMap m_list;
};

TEST_F(DatabaseListTest, ThreeCompleteDatabasesInNumberOrder) {
    Load(JoinLines({
        u"HEAD",
        u"DBNCOUNT=3",
        u"DBN3=c.db",
        u"MAINDBVER3=3.0",
        u"DBNPATH3=用户",
        u"DBN1=a.db",
        u"MAINDBVER1=1.0",
        u"DBNPATH1=",
        u"DBN2=b.db",
    }));
    const WString base = m_dir.Sub(u"data");
    LoadList(base);
    ASSERT_EQ(Numbers(), (std::vector<int>{1, 2, 3}));

    const DbEntry& first = *m_list[1];
    EXPECT_EQ(first.bEnabled, 1);
    EXPECT_EQ(first.strDbName, u"a.db");
    EXPECT_EQ(first.strTargetVersion, u"1.0");
    EXPECT_EQ(first.strSubPath, u"");
    EXPECT_EQ(first.strFilePath, base + u"\\a.db");
    EXPECT_TRUE(plat::IsDirectory(base));  // an empty sub-folder still makes the base
    ASSERT_NE(first.pDb, nullptr);
    EXPECT_FALSE(first.pDb->IsOpen());
    EXPECT_EQ(first.pOldDb, nullptr);
    EXPECT_EQ(first.strCurVersion, u"");

    // No MAINDBVER2 and no DBNPATH2: empty version, no folder.
    const DbEntry& second = *m_list[2];
    EXPECT_EQ(second.bEnabled, 1);
    EXPECT_EQ(second.strTargetVersion, u"");
    EXPECT_EQ(second.strFilePath, base + u"\\b.db");

    const DbEntry& third = *m_list[3];
    EXPECT_EQ(third.strFilePath, base + u"\\用户\\c.db");
    EXPECT_TRUE(plat::IsDirectory(base + u"\\用户"));

    // A second load gives the same list with fresh entries (the allocator may well hand
    // out the same address again, so mark the old entry instead of comparing pointers).
    m_list[1]->strCurVersion = u"from the first load";
    LoadList(base);
    ASSERT_EQ(Numbers(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(m_list[3]->strFilePath, base + u"\\用户\\c.db");
    EXPECT_EQ(m_list[1]->strCurVersion, u"");

    ClearDatabaseList(m_list);
    EXPECT_TRUE(m_list.empty());
}

TEST_F(DatabaseListTest, MissingKeysEndTheList) {
    struct Case {
        WString text;
        std::vector<int> numbers;
    };
    const Case cases[] = {
        {JoinLines({u"HEAD", u"DBNCOUNT=2", u"DBN1=a", u"DBN3=c"}), {1}},
        {JoinLines({u"HEAD", u"DBNCOUNT=3", u"DBN2=b", u"DBN3=c"}), {}},
        {JoinLines({u"HEAD", u"DBN1=a"}), {}},
        {JoinLines({u"HEAD", u"DBNCOUNT=", u"DBN1=a"}), {}},
        {JoinLines({u"HEAD", u"DBNCOUNT=x", u"DBN1=a"}), {}},
        {JoinLines({u"HEAD", u"DBNCOUNT=0", u"DBN1=a"}), {}},
        {JoinLines({u"HEAD", u"DBNCOUNT=-1", u"DBN1=a"}), {}},
        {JoinLines({u"HEAD", u"DBNCOUNT= 2x", u"DBN1=a", u"DBN2=b", u"DBN3=c"}), {1, 2}},
        {JoinLines({u"DBNCOUNT=1", u"DBN1=a", u"HEAD"}), {}},
        {JoinLines({u"HEAD", u"DBNCOUNT=99999999999", u"DBN1=a"}), {1}},
    };
    for (const Case& c : cases) {
        Load(c.text);
        m_list[7] = std::make_unique<DbEntry>();  // an earlier run's entry
        LoadList(m_dir.path());
        EXPECT_EQ(Numbers(), c.numbers) << ToUtf8(c.text);
    }
}

TEST_F(DatabaseListTest, HeaderKeysAsWritten) {
    Load(JoinLines(
        {u"HEAD", u"DBNCOUNT=2\r", u"DBN1=a.db", u"DBNPATH1=x", u"DBN2=b.db", u"MAINDBVER2=2.0"}));
    DatabaseHeader header;
    ASSERT_TRUE(ReadDatabaseHeader(m_script, header));
    EXPECT_TRUE(header.bHasCount);
    EXPECT_EQ(header.strCount, u"2\r");
    EXPECT_EQ(header.nCount, 2);
    ASSERT_EQ(header.databases.size(), 2u);
    EXPECT_TRUE(header.databases[0].bHasSubPath);
    EXPECT_FALSE(header.databases[0].bHasTargetVersion);
    EXPECT_FALSE(header.databases[1].bHasSubPath);
    EXPECT_EQ(header.databases[1].strTargetVersion, u"2.0");
    EXPECT_FALSE(plat::PathExists(m_dir.Sub(u"x")));  // reading makes no folder

    m_script.Close();
    EXPECT_FALSE(ReadDatabaseHeader(m_script, header));
    EXPECT_TRUE(header.databases.empty());
}

TEST_F(DatabaseListTest, SubFolders) {
    Load(JoinLines({u"HEAD", u"DBNCOUNT=3", u"DBN1=a.db", u"DBNPATH1=a\\b", u"DBN2=b.db",
                    u"DBNPATH2=blocked\\c", u"DBN3=c.db", u"DBNPATH3=\\d\\\\e\\"}));
    WriteFileBytes(m_dir.Sub(u"blocked"), "a file, not a folder");
    LoadList(m_dir.path());
    ASSERT_EQ(Numbers(), (std::vector<int>{1, 2, 3}));

    EXPECT_EQ(m_list[1]->bEnabled, 1);
    EXPECT_TRUE(plat::IsDirectory(m_dir.Sub(u"a\\b")));
    EXPECT_EQ(m_list[1]->strFilePath, m_dir.Sub(u"a\\b\\a.db"));

    EXPECT_EQ(m_list[2]->bEnabled, 0);  // listed all the same
    EXPECT_EQ(m_list[2]->strFilePath, m_dir.Sub(u"blocked\\c\\b.db"));

    // Empty pieces name the folder just made.
    EXPECT_EQ(m_list[3]->bEnabled, 1);
    EXPECT_TRUE(plat::IsDirectory(m_dir.Sub(u"d\\e")));
}

TEST_F(DatabaseListTest, EnsureFolderPath) {
    const WString base = m_dir.Sub(u"base");
    EXPECT_TRUE(EnsureFolderPath(base, u"", plat::Disk()));
    EXPECT_TRUE(plat::IsDirectory(base));
    EXPECT_TRUE(EnsureFolderPath(base, u"x\\y\\z", plat::Disk()));
    EXPECT_TRUE(plat::IsDirectory(base + u"\\x\\y\\z"));
    EXPECT_TRUE(EnsureFolderPath(base, u"x\\y\\z", plat::Disk()));  // all there already

    EXPECT_FALSE(EnsureFolderPath(m_dir.Sub(u"no\\base"), u"x", plat::Disk()));  // one level only
    EXPECT_FALSE(plat::PathExists(m_dir.Sub(u"no")));

    WriteFileBytes(base + u"\\file", "");
    EXPECT_FALSE(EnsureFolderPath(base, u"file", plat::Disk()));
    EXPECT_FALSE(EnsureFolderPath(base, u"file\\deeper", plat::Disk()));
    // A level that cannot be made after its parent was.
    struct NoDeeper : plat::RealFileSystem {
        bool MakeDirectory(const WString& path) override {
            return !wstr::Contains(path, u"deeper") && RealFileSystem::MakeDirectory(path);
        }
    } noDeeper;
    EXPECT_FALSE(EnsureFolderPath(base, u"new\\deeper\\x", noDeeper));
    EXPECT_TRUE(plat::IsDirectory(base + u"\\new"));
}

}  // namespace
