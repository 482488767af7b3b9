#include "engine/data_files.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

using engine::CollectDataFiles;
using Names = std::vector<WString>;

TEST(CollectDataFilesTest, KeepsExistingFilesInListOrder) {
    ScopedTempDir dir;
    WriteFileBytes(dir.Sub(u"b.s3db"), "x");
    WriteFileBytes(dir.Sub(u"c.s3db"), "x");
    WriteFileBytes(dir.Sub(u"O'Brien 数据.s3db"), "x");
    ASSERT_TRUE(plat::MakeDirectory(dir.Sub(u"sub")));

    EXPECT_EQ(CollectDataFiles(u"a.s3db,b.s3db", dir.path()), (Names{u"b.s3db"}));
    EXPECT_EQ(CollectDataFiles(u"c.s3db,b.s3db", dir.path()), (Names{u"c.s3db", u"b.s3db"}));
    EXPECT_EQ(CollectDataFiles(u"O'Brien 数据.s3db", dir.path()), (Names{u"O'Brien 数据.s3db"}));
    // Folders are not data files; names are taken as written, blanks included.
    EXPECT_EQ(CollectDataFiles(u"sub,b.s3db", dir.path()), (Names{u"b.s3db"}));
    EXPECT_EQ(CollectDataFiles(u" b.s3db", dir.path()), Names{});
}

TEST(CollectDataFilesTest, EmptyNamesAndFolders) {
    ScopedTempDir dir;
    WriteFileBytes(dir.Sub(u"b.s3db"), "x");
    // Every comma separates: the empty names between and around are never kept.
    EXPECT_EQ(CollectDataFiles(u",b.s3db,,", dir.path()), (Names{u"b.s3db"}));
    EXPECT_EQ(CollectDataFiles(u"", dir.path()), Names{});
    EXPECT_EQ(CollectDataFiles(u",", dir.path()), Names{});
    EXPECT_EQ(CollectDataFiles(u"b.s3db", dir.Sub(u"missing")), Names{});
}

}  // namespace
