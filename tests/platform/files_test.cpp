#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "support/file_conditions.h"
#include "support/temp_dir.h"

namespace {

bool HasName(const std::vector<plat::FoundFile>& files, const WString& name) {
    return std::any_of(files.begin(), files.end(),
                       [&](const plat::FoundFile& f) { return f.name == name; });
}

TEST(FilesTest, FoldersAreCreatedOneLevelAtATime) {
    ScopedTempDir dir;
    EXPECT_TRUE(plat::IsDirectory(dir.path()));
    EXPECT_FALSE(plat::MakeDirectory(dir.Sub(u"a\\b")));  // parent missing
    EXPECT_TRUE(plat::MakeDirectory(dir.Sub(u"a")));
    EXPECT_TRUE(plat::MakeDirectory(dir.Sub(u"a\\b")));
    EXPECT_FALSE(plat::MakeDirectory(dir.Sub(u"a")));  // exists already
    EXPECT_TRUE(plat::PathExists(dir.Sub(u"a\\b")));
    EXPECT_FALSE(plat::PathExists(dir.Sub(u"missing")));
    EXPECT_FALSE(plat::PathExists(u""));
    EXPECT_FALSE(plat::RemoveFile(dir.Sub(u"a")));  // files only
}

TEST(FilesTest, MoveReplacesAndRemoveDeletes) {
    ScopedTempDir dir;
    WriteFileBytes(dir.Sub(u"数据.s3db"), "new");
    WriteFileBytes(dir.Sub(u"数据.s3db.tmp"), "old");
    EXPECT_TRUE(plat::MoveReplace(dir.Sub(u"数据.s3db"), dir.Sub(u"数据.s3db.tmp")));
    EXPECT_FALSE(plat::PathExists(dir.Sub(u"数据.s3db")));
    EXPECT_EQ(ReadFileBytes(dir.Sub(u"数据.s3db.tmp")), "new");
    EXPECT_EQ(plat::FileSize(dir.Sub(u"数据.s3db.tmp")), 3);
    EXPECT_FALSE(plat::MoveReplace(dir.Sub(u"none"), dir.Sub(u"x")));
    EXPECT_TRUE(plat::RemoveFile(dir.Sub(u"数据.s3db.tmp")));
    EXPECT_FALSE(plat::RemoveFile(dir.Sub(u"数据.s3db.tmp")));
    EXPECT_EQ(plat::FileSize(dir.Sub(u"数据.s3db.tmp")), -1);
}

// A client that opens the database while it is replaced must find a file there, old or
// new: an empty path is where SQLite would make a fresh, empty database. The swap refuses a
// file someone holds open or changed, and moves nothing then.
TEST(FilesTest, ASwapNeverLeavesThePathEmpty) {
    ScopedTempDir dir;
    const WString path = dir.Sub(u"数据.s3db");
    const WString fresh = path + u".new";
    const WString kept = path + u".tmp";
    WriteFileBytes(path, "old");
    std::atomic<bool> done{false};
    std::atomic<int> missing{0};
    std::thread client([&] {
        while (!done) {
            if (!plat::PathExists(path)) ++missing;
        }
    });
    int swapped = 0;
    for (int round = 0; round < 2000; ++round) {
        WriteFileBytes(fresh, "new" + std::to_string(round));
        swapped += plat::SwapIfUnused(path, fresh, kept) == plat::MoveOutcome::kMoved;
        plat::RemoveFile(kept);
    }
    done = true;
    client.join();
    EXPECT_EQ(swapped, 2000);
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(ReadFileBytes(path), "new1999");

    WriteFileBytes(fresh, "newer");
    plat::FileStamp stamp;
    ASSERT_TRUE(plat::StampOf(path, stamp));
    WriteFileBytes(kept, "someone's");  // the second name is taken
    EXPECT_EQ(plat::SwapIfUnused(path, fresh, kept, &stamp), plat::MoveOutcome::kFailed);
    plat::RemoveFile(kept);
    WriteFileBytes(path, "written meanwhile!");
    EXPECT_EQ(plat::SwapIfUnused(path, fresh, kept, &stamp), plat::MoveOutcome::kChanged);
    {
        plat::File open;
        ASSERT_TRUE(open.Open(path, plat::File::Mode::kRead));
        EXPECT_EQ(plat::SwapIfUnused(path, fresh, kept), plat::MoveOutcome::kInUse);
    }
    EXPECT_EQ(ReadFileBytes(path), "written meanwhile!");
    EXPECT_EQ(ReadFileBytes(fresh), "newer");
    EXPECT_FALSE(plat::PathExists(kept));
    EXPECT_EQ(plat::SwapIfUnused(path, fresh, kept), plat::MoveOutcome::kMoved);
    EXPECT_EQ(ReadFileBytes(kept), "written meanwhile!");
    EXPECT_EQ(ReadFileBytes(path), "newer");
}

// A refused operation tells why, as the system said it: the call, the path (both paths of a
// move) and the system's reason, which differs with the cause. Per thread.
TEST(FilesTest, AFailureTellsTheCallThePathsAndTheReason) {
    ScopedTempDir dir;
    const WString missing = dir.Sub(u"缺少.s3db");
    const WString folder = dir.Sub(u"目录");
    ASSERT_TRUE(plat::MakeDirectory(folder));
    // What follows "<call>(<paths>): ", which must be there.
    auto reason = [](const char* call, const WString& paths) {
        const WString why = plat::LastFailure();
        const WString start = wstr::FromAscii(call) + u"(" + paths + u"): ";
        EXPECT_EQ(why.substr(0, start.size()), start) << ToUtf8(why);
        return why.size() > start.size() ? why.substr(start.size()) : WString();
    };
#ifdef _WIN32
    const char* const kRemove = "DeleteFileW";
    const char* const kMove = "MoveFileExW";
#else
    const char* const kRemove = "unlink";
    const char* const kMove = "rename";
#endif
    EXPECT_FALSE(plat::RemoveFile(missing));
    const WString notFound = reason(kRemove, plat::DisplayPath(missing));
    EXPECT_FALSE(plat::RemoveFile(folder));
    const WString isFolder = reason(kRemove, plat::DisplayPath(folder));
    EXPECT_FALSE(notFound.empty());
    EXPECT_FALSE(isFolder.empty());
    EXPECT_NE(notFound, isFolder);
#ifndef _WIN32
    EXPECT_EQ(notFound, u"No such file or directory");
#endif

    EXPECT_FALSE(plat::MoveReplace(missing, dir.Sub(u"x")));
    EXPECT_EQ(reason(kMove, plat::DisplayPath(missing) + u", " + plat::DisplayPath(dir.Sub(u"x"))),
              notFound);
    WriteFileBytes(dir.Sub(u"a"), "a");
    EXPECT_TRUE(plat::RemoveFile(dir.Sub(u"a")));  // a success leaves it alone
    EXPECT_EQ(plat::LastFailure().rfind(wstr::FromAscii(kMove), 0), 0u);
    std::thread([] { EXPECT_EQ(plat::LastFailure(), u""); }).join();
}

TEST(FilesTest, FileModes) {
    ScopedTempDir dir;
    const WString path = dir.Sub(u"f.txt");
    plat::File file;
    EXPECT_FALSE(file.Open(path, plat::File::Mode::kRead));   // missing
    ASSERT_TRUE(file.Open(path, plat::File::Mode::kAppend));  // created
    EXPECT_TRUE(file.Write("one"));
    file.Close();
    ASSERT_TRUE(file.Open(path, plat::File::Mode::kAppend));
    EXPECT_TRUE(file.Seek(0));  // appending writes at the end all the same
    EXPECT_TRUE(file.Write("two"));
    EXPECT_TRUE(file.Sync());
    file.Close();
    EXPECT_EQ(ReadFileBytes(path), "onetwo");
    EXPECT_FALSE(file.Open(path, plat::File::Mode::kCreateNew));
    ASSERT_TRUE(file.Open(path, plat::File::Mode::kCreateTruncate));
    file.Close();
    EXPECT_EQ(plat::FileSize(path), 0);
    EXPECT_FALSE(file.Open(dir.path(), plat::File::Mode::kRead));  // a folder is no file
    EXPECT_FALSE(file.Write("x"));

    WriteFileBytes(path, "abcdef");
    ASSERT_TRUE(file.Open(path, plat::File::Mode::kRead));
    char buffer[4];
    EXPECT_TRUE(file.Seek(2));
    EXPECT_EQ(file.Read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "cdef");
    EXPECT_EQ(file.Position(), 6);
    EXPECT_EQ(file.Read(buffer, 4), 0);
}

// The program may run elevated: what it writes under a name must be the file of that name,
// never what a link planted there leads to, and never a pipe it would wait on forever.
TEST(FilesTest, WritersOpenOnlyRegularFilesOfTheirOwnName) {
    ScopedTempDir dir;
    const WString target = dir.Sub(u"elsewhere.txt");
    WriteFileBytes(target, "keep");
    if (!MakeLink(target, dir.Sub(u"link.txt"))) GTEST_SKIP() << "no symbolic links here";
    ASSERT_TRUE(MakePipe(dir.Sub(u"pipe.txt")));
    plat::File file;
    for (auto mode : {plat::File::Mode::kAppend, plat::File::Mode::kCreateTruncate,
                      plat::File::Mode::kCreateNew}) {
        EXPECT_FALSE(file.Open(dir.Sub(u"link.txt"), mode));
        EXPECT_FALSE(file.Open(dir.Sub(u"pipe.txt"), mode));
    }
    // Nor is a pipe moved or swapped: the check would wait on it for a writer.
    WriteFileBytes(dir.Sub(u"new.txt"), "new");
    EXPECT_EQ(plat::MoveIfUnused(dir.Sub(u"pipe.txt"), dir.Sub(u"moved.txt")),
              plat::MoveOutcome::kFailed);
    EXPECT_EQ(plat::SwapIfUnused(dir.Sub(u"pipe.txt"), dir.Sub(u"new.txt"), dir.Sub(u"kept.txt")),
              plat::MoveOutcome::kFailed);
    EXPECT_EQ(ReadFileBytes(target), "keep");
}

TEST(FilesTest, AnOpenLogIsReadableButNotWritableByOthers) {
    ScopedTempDir dir;
    const WString path = dir.Sub(u"ReData.log");
    plat::File writer;
    ASSERT_TRUE(writer.Open(path, plat::File::Mode::kAppend));
    ASSERT_TRUE(writer.Write("line\r\n"));
    // Someone reading the log while the program writes it sees every line written so far.
    EXPECT_EQ(ReadFileBytes(path), "line\r\n");
    plat::File reader;
    ASSERT_TRUE(reader.Open(path, plat::File::Mode::kRead));
    EXPECT_TRUE(writer.Write("more\r\n"));
    EXPECT_EQ(ReadFileBytes(path), "line\r\nmore\r\n");
#ifdef _WIN32
    // Only Windows enforces share modes: no second writer while the first holds the file.
    plat::File second;
    EXPECT_FALSE(second.Open(path, plat::File::Mode::kAppend));
    EXPECT_FALSE(second.Open(path, plat::File::Mode::kCreateTruncate));
    writer.Close();
    EXPECT_TRUE(second.Open(path, plat::File::Mode::kAppend));
#endif
}

TEST(FilesTest, FindFilesMatchesWildcardsAndReportsHiddenFiles) {
    ScopedTempDir dir;
    WriteFileBytes(dir.Sub(u"b.dbr"), "");
    WriteFileBytes(dir.Sub(u"UP.DBR"), "");
    WriteFileBytes(dir.Sub(u"c.txt"), "");
    WriteFileBytes(dir.Sub(u"left.dbr_bak"), "");  // "LEFT~1.DBR" on Windows
    plat::MakeDirectory(dir.Sub(u"d.dbr"));
    auto found = plat::FindFiles(dir.Sub(u"*.dbr"));
    EXPECT_EQ(found.size(), 3u);
    EXPECT_TRUE(HasName(found, u"b.dbr"));
    EXPECT_TRUE(HasName(found, u"UP.DBR"));  // matched without regard to case
    for (const auto& f : found) {
        EXPECT_EQ(f.directory, f.name == u"d.dbr");
        EXPECT_EQ(f.regular, f.name != u"d.dbr");
        EXPECT_FALSE(f.system);
    }
#ifdef _WIN32
    // On Windows hidden and system are attributes, whatever the name.
    WriteFileBytes(dir.Sub(u"h.dbr"), "");
    WriteFileBytes(dir.Sub(u"s.dbr"), "");
    ASSERT_TRUE(SetHiddenSystem(dir.Sub(u"h.dbr"), true, false));
    ASSERT_TRUE(SetHiddenSystem(dir.Sub(u"s.dbr"), false, true));
    found = plat::FindFiles(dir.Sub(u"*.dbr"));
    ASSERT_TRUE(HasName(found, u"h.dbr"));
    ASSERT_TRUE(HasName(found, u"s.dbr"));
    for (const auto& f : found) {
        EXPECT_EQ(f.hidden, f.name == u"h.dbr") << f.name.size();
        EXPECT_EQ(f.system, f.name == u"s.dbr") << f.name.size();
    }
    ASSERT_TRUE(SetHiddenSystem(dir.Sub(u"h.dbr"), false, false));
    for (const auto& f : plat::FindFiles(dir.Sub(u"h.dbr")))
        EXPECT_FALSE(f.hidden);
#else
    // Elsewhere than Windows a leading dot is what hides a file.
    WriteFileBytes(dir.Sub(u".hidden.dbr"), "");
    found = plat::FindFiles(dir.Sub(u"*.dbr"));
    ASSERT_TRUE(HasName(found, u".hidden.dbr"));
    for (const auto& f : found)
        EXPECT_EQ(f.hidden, f.name == u".hidden.dbr");
    EXPECT_FALSE(SetHiddenSystem(dir.Sub(u"b.dbr"), true, true));
#endif
    EXPECT_TRUE(plat::FindFiles(dir.Sub(u"missing\\*.dbr")).empty());
    EXPECT_TRUE(HasName(plat::FindFiles(dir.Sub(u"*")), u"."));
}

TEST(FilesTest, RemoveTreeDeletesNestedFoldersAndEveryKindOfFile) {
    ScopedTempDir dir;
    const WString root = dir.Sub(u"树");
    ASSERT_TRUE(plat::MakeDirectory(root));
    ASSERT_TRUE(plat::MakeDirectory(root + u"\\a"));
    ASSERT_TRUE(plat::MakeDirectory(root + u"\\a\\b"));
    WriteFileBytes(root + u"\\a\\b\\deep.s3db", "x");
    WriteFileBytes(root + u"\\a\\.dot", "x");
    WriteFileBytes(root + u"\\top.txt", "x");
    // Files the system hides or protects go too (an attribute on Windows only).
    SetHiddenSystem(root + u"\\a\\.dot", true, true);
    WriteFileBytes(dir.Sub(u"beside.txt"), "kept");
    EXPECT_TRUE(plat::RemoveTree(root));
    EXPECT_FALSE(plat::PathExists(root));
    EXPECT_EQ(ReadFileBytes(dir.Sub(u"beside.txt")), "kept");
    EXPECT_FALSE(plat::RemoveTree(root));     // nothing left to remove
    WriteFileBytes(dir.Sub(u"single"), "x");  // a file alone is removed as well
    EXPECT_TRUE(plat::RemoveTree(dir.Sub(u"single")));
    EXPECT_FALSE(plat::PathExists(dir.Sub(u"single")));
}

TEST(FilesTest, TemporaryFoldersAreUniqueAndEmpty) {
    WString a = plat::MakeTempFolder(u"quorvel-unique");
    WString b = plat::MakeTempFolder(u"quorvel-unique");
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(plat::IsDirectory(a));
    EXPECT_EQ(a.find(u'/'), WString::npos);
    EXPECT_EQ(plat::FindFiles(a + u"\\*.*").size(), 2u);  // "." and ".." only
    EXPECT_TRUE(plat::RemoveTree(a));
    EXPECT_TRUE(plat::RemoveTree(b));
}

TEST(FilesTest, ProgramPathsUseBackslashes) {
    WString exe = plat::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.find(u'/'), WString::npos);
    EXPECT_NE(exe.rfind(u'\\'), WString::npos);
    EXPECT_TRUE(plat::PathExists(exe));
    EXPECT_EQ(plat::FromNativePath(plat::ToNativePath(u"a\\b\\c")), u"a\\b\\c");
    // Folder and name: split at the last "\", and nothing is lost; a bare name has no folder.
    for (const WString path : {u"C:\\a\\b.db", u"\\b.db", u"b.db", u"a\\", u"", u"a\\\\b"}) {
        const WString folder = plat::FolderOf(path);
        const WString name = plat::NameOf(path);
        EXPECT_EQ(name.find(u'\\'), WString::npos) << ToUtf8(path);
        if (path.find(u'\\') == WString::npos) {
            EXPECT_EQ(folder, u"");
            EXPECT_EQ(name, path);
        } else {
            EXPECT_EQ(folder + u"\\" + name, path);
        }
    }
    WString appData;
    if (plat::LocalAppDataFolder(appData)) {
        EXPECT_FALSE(appData.empty());
    }
#ifdef _WIN32
    // Every Windows profile has one (CSIDL_LOCAL_APPDATA); elsewhere it may not exist yet.
    ASSERT_TRUE(plat::LocalAppDataFolder(appData));
    EXPECT_TRUE(plat::IsDirectory(appData));
#endif
}

#ifndef _WIN32
// A Linux name may hold what no Windows name holds: a backslash, bytes that are not UTF-8.
// Such a name reaches its file again and is never taken for another one.
TEST(FilesTest, LinuxNamesNoWindowsPathHolds) {
    ScopedTempDir dir;
    const std::string folder = ToUtf8(plat::ToNativePath(dir.path()));
    const WString odd = plat::PathFromNativeBytes(folder + "/a\\b\xFF.txt");
    const WString name = WString(u"a") + char16_t(0xDC5C) + u"b" + char16_t(0xDCFF) + u".txt";
    EXPECT_EQ(odd, dir.Sub(name));
    EXPECT_TRUE(plat::HasForeignBytes(odd));
    WriteFileBytes(odd, "x");
    const auto found = plat::FindFiles(dir.Sub(u"*.txt"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, name);
    EXPECT_EQ(ReadFileBytes(dir.Sub(found[0].name)), "x");
    EXPECT_FALSE(plat::PathExists(dir.Sub(u"a\\b\uFFFD.txt")));  // not a folder "a"
    EXPECT_EQ(ToUtf8(plat::DisplayPath(odd)), folder + "/a\\b\\xFF.txt");
    EXPECT_EQ(plat::PathForSqlite(odd), folder + "/a\\b\xFF.txt");
    EXPECT_FALSE(plat::HasForeignBytes(dir.Sub(u"升级 \U0001F600.dbr")));  // text, a pair
    // Only a backslash and bytes from 0x80 are ever kept: no text becomes a "/" or a NUL.
    for (char16_t unit : {char16_t(0xDC2F), char16_t(0xDC00), char16_t(0xDC41)}) {
        EXPECT_FALSE(plat::HasForeignBytes(WString(u"a") + unit));
        EXPECT_EQ(plat::PathForSqlite(WString(u"a") + unit), "a\xEF\xBF\xBD");
    }
}
#endif

}  // namespace
