// A realistic installation migrated on a disk that fills up, in a folder that cannot be
// written, and with a set-aside file left by an old run: whatever happens, no row is lost,
// a run that could not finish says so in its result and its log, and the next run with
// room to work completes what is missing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "reliability/installation.h"
#include "reliability/quota_vfs.h"
#include "support/temp_dir.h"

namespace {

using reliability::Strictness;

class IoFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::SetAnsiCodePageForTesting(936);
        ResetLogForTesting();
    }
    void TearDown() override {
        ResetLogForTesting();
        plat::SetAnsiCodePageForTesting(0);
    }

    // A new installation in a folder of its own below the test's folder.
    WString Install(const std::string& name) {
        const WString folder = m_dir.Sub(FromUtf8(name));
        std::string error;
        EXPECT_TRUE(plat::MakeDirectory(folder));
        EXPECT_TRUE(reliability::MakeInstallation(folder, m_expected, error)) << error;
        return folder;
    }
    std::string Check(const WString& folder, Strictness strictness) {
        std::vector<std::string> problems;
        reliability::CheckInstallation(folder, m_expected, strictness, problems);
        std::string text;
        for (const std::string& problem : problems)
            text += problem + "\n";
        return text;
    }
    // The migration log of `folder`, from code page 936.
    static std::string Log(const WString& folder) {
        std::string bytes = ReadFileBytes(folder + u"\\ReData.log");
        return ToUtf8(FromAnsi(bytes));
    }

    // Our own writes (markers, the update record, the new files) meet the same full disk
    // as SQLite's.
    struct FullDisk : plat::RealFileSystem {
        bool WriteDurably(const WString& path, std::string_view bytes) override {
            return !reliability::ScopedQuotaVfs::Exhausted() &&
                   RealFileSystem::WriteDurably(path, bytes);
        }
    };
    // Nothing below the data folder can be made, changed, moved or removed.
    struct Unwritable : plat::RealFileSystem {
        bool MakeDirectory(const WString&) override { return false; }
        bool MoveReplace(const WString&, const WString&) override { return false; }
        plat::MoveOutcome MoveIfUnused(const WString&, const WString&,
                                       const plat::FileStamp*) override {
            return plat::MoveOutcome::kFailed;
        }
        plat::MoveOutcome SwapIfUnused(const WString&, const WString&, const WString&,
                                       const plat::FileStamp*) override {
            return plat::MoveOutcome::kFailed;
        }
        bool Remove(const WString&) override { return false; }
        bool WriteDurably(const WString&, std::string_view) override { return false; }
    };

    ScopedTempDir m_dir;
    std::string m_expected;
};

TEST_F(IoFaultTest, ADiskThatFillsUpLosesNothing) {
    // What a whole run needs, measured on a disk with room.
    int64_t needed = 0;
    {
        const WString folder = Install("measure");
        reliability::ScopedQuotaVfs vfs(INT64_MAX / 2);
        ASSERT_EQ(reliability::RunMigration(folder), 1);
        needed = reliability::ScopedQuotaVfs::Used();
        EXPECT_EQ(Check(folder, Strictness::kMigrated), "");
    }
    ASSERT_GT(needed, 0);

    int failed = 0;
    int partial = 0;
    for (int step = 0; step <= 20; ++step) {
        const int64_t budget = needed * step / 20;
        SCOPED_TRACE("budget " + std::to_string(budget) + " of " + std::to_string(needed));
        const WString folder = Install("full" + std::to_string(step));
        int result = 0;
        bool exhausted = false;
        {
            reliability::ScopedQuotaVfs vfs(budget);
            FullDisk disk;
            result = reliability::RunMigration(folder, &disk);
            exhausted = reliability::ScopedQuotaVfs::Exhausted();
        }
        EXPECT_EQ(Check(folder, Strictness::kNothingLost), "");
        if (exhausted) {
            ++failed;
            EXPECT_EQ(result, 0);
            const std::string log = Log(folder);
            EXPECT_NE(log.find("database or disk is full"), std::string::npos) << log;
        } else {
            EXPECT_EQ(result, 1);
        }

        // Room again: the next run completes what the first could not. Rows a finished
        // run could not carry would wait in a ".bak" file; the files the full disk left
        // half built are kept as ".partial".
        reliability::RunMigration(folder);
        if (reliability::CountKeptFiles(folder, u".bak") == 0) {
            EXPECT_EQ(Check(folder, Strictness::kMigrated), "");
        } else {
            EXPECT_EQ(Check(folder, Strictness::kNothingLost), "");
        }
        if (reliability::CountKeptFiles(folder, u".partial") != 0) ++partial;
    }
    EXPECT_EQ(failed, 20);  // every budget below the whole need ran out
    std::printf(
        "disk full: 21 budgets from 0 to %lld bytes, %d ran out; %d next runs kept a "
        ".partial\n",
        static_cast<long long>(needed), failed, partial);
}

TEST_F(IoFaultTest, AFolderThatCannotBeWrittenIsLeftAsItWas) {
    const WString folder = Install("readonly");
    const std::vector<std::string> files{"vuserdat", "data\\DB.s3db", "extra.s3db"};
    std::vector<std::string> before;
    for (const std::string& name : files)
        before.push_back(ReadFileBytes(folder + u"\\" + FromUtf8(name)));
    {
        reliability::ScopedQuotaVfs vfs(0, true);
        Unwritable disk;
        EXPECT_EQ(reliability::RunMigration(folder, &disk), 0);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(ReadFileBytes(folder + u"\\" + FromUtf8(files[i])), before[i]) << files[i];
    }
    const std::string log = Log(folder);
    EXPECT_NE(log.find("无法写入迁移标记"), std::string::npos) << log;
    std::vector<plat::FoundFile> found = plat::FindFiles(folder + u"\\*");
    for (const plat::FoundFile& file : found) {
        EXPECT_TRUE(file.name == u"." || file.name == u".." || file.name == u"vuserdat" ||
                    file.name == u"data" || file.name == u"extra.s3db" || file.name == u"up.dbr" ||
                    file.name == u"ReData.log")
            << ToUtf8(file.name);
    }

    // Writable again: the run migrates as usual.
    EXPECT_EQ(reliability::RunMigration(folder), 1);
    EXPECT_EQ(Check(folder, Strictness::kMigrated), "");
}

TEST_F(IoFaultTest, ASetAsideFileOfAnOldRunIsKept) {
    const WString folder = Install("leftover");
    // An old program's run stopped after its set-aside; the user went on with a copy.
    WriteFileBytes(folder + u"\\vuserdat.tmp", ReadFileBytes(folder + u"\\vuserdat"));

    EXPECT_EQ(reliability::RunMigration(folder), 0);

    EXPECT_EQ(Check(folder, Strictness::kMigrated), "");
    EXPECT_EQ(reliability::CountKeptFiles(folder), 1);
    EXPECT_NE(Log(folder).find("上次迁移留下的文件保留为"), std::string::npos);
}

}  // namespace
