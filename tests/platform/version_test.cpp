#include "platform/version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/pe_version.h"
#include "support/temp_dir.h"

namespace {

WString DataFile(const char* name) {
    return plat::FromNativePath(FromUtf8(std::string(QUORVEL_TEST_DATA_DIR) + "/pe/" + name));
}

// The value at `subBlock` of the file's version block, or "<none>".
WString ValueOf(const WString& path, const WString& subBlock) {
    std::vector<uint8_t> block{1, 2};
    if (!plat::ReadFileVersionBlock(path, block)) {
        EXPECT_TRUE(block.empty());
        return u"<no block>";
    }
    WString value = u"stale";
    if (!plat::QueryVersionValue(block, subBlock, value)) {
        EXPECT_TRUE(value.empty());
        return u"<none>";
    }
    return value;
}

const WString kFileVersion = u"\\StringFileInfo\\080403A8\\FileVersion";
const WString kProductVersion = u"\\StringFileInfo\\080403A8\\ProductVersion";

TEST(VersionTest, ReadsExecutables) {
    EXPECT_EQ(ValueOf(DataFile("vennic-8.0.0V1203.exe"), kFileVersion), u"8.0.0V1203");
    EXPECT_EQ(ValueOf(DataFile("vennic-8.0.0V1203.exe"), kProductVersion), u"8.0.0");
    EXPECT_EQ(ValueOf(DataFile("vennic-chinese.exe"), kProductVersion), u"8.1.0 正式版");
    EXPECT_EQ(ValueOf(DataFile("vennic-040904B0.exe"), kFileVersion), u"<none>");
    EXPECT_EQ(ValueOf(DataFile("vennic-040904B0.exe"), u"\\StringFileInfo\\040904B0\\FileVersion"),
              u"9.1.0V77");
    EXPECT_EQ(ValueOf(DataFile("vennic-no-version.exe"), kFileVersion), u"<no block>");
    // Two version resources, English first: the Chinese one is read, as on a Chinese
    // Windows.
    EXPECT_EQ(ValueOf(DataFile("vennic-two-languages.exe"), kFileVersion), u"8.1.0V2105");
    EXPECT_EQ(ValueOf(DataFile("vennic-two-languages.exe"), kProductVersion), u"8.1.0");

    // Paths with Chinese folder names reach the file.
    ScopedTempDir dir;
    ASSERT_TRUE(plat::MakeDirectory(dir.Sub(u"维尼克")));
    WriteFileBytes(dir.Sub(u"维尼克\\vennic.exe"),
                   ReadFileBytes(DataFile("vennic-8.0.0V1203.exe")));
    EXPECT_EQ(ValueOf(dir.Sub(u"维尼克\\vennic.exe"), kProductVersion), u"8.0.0");
}

TEST(VersionTest, FilesThatAreNoExecutables) {
    ScopedTempDir dir;
    EXPECT_EQ(ValueOf(dir.Sub(u"missing.exe"), kFileVersion), u"<no block>");
    EXPECT_EQ(ValueOf(dir.path(), kFileVersion), u"<no block>");  // a folder
    EXPECT_EQ(ValueOf(u"", kFileVersion), u"<no block>");
    WriteFileBytes(dir.Sub(u"empty.exe"), "");
    EXPECT_EQ(ValueOf(dir.Sub(u"empty.exe"), kFileVersion), u"<no block>");
    WriteFileBytes(dir.Sub(u"text.exe"), "MZ this is only text\r\n");
    EXPECT_EQ(ValueOf(dir.Sub(u"text.exe"), kFileVersion), u"<no block>");
    WString value = u"stale";
    EXPECT_FALSE(plat::QueryVersionValue({}, kProductVersion, value));
    EXPECT_TRUE(value.empty());

    // Truncated copies on disk: the block is there only when the file holds all of it.
    const std::string good = ReadFileBytes(DataFile("vennic-8.0.0V1203.exe"));
    std::vector<uint8_t> full;
    ASSERT_TRUE(plat::ReadFileVersionBlock(DataFile("vennic-8.0.0V1203.exe"), full));
    const size_t blockEnd = good.find(std::string(full.begin(), full.end())) + full.size();
    ASSERT_LT(blockEnd, good.size());
    for (size_t n : {size_t{1}, size_t{63}, size_t{64}, size_t{0x100}, size_t{0x400},
                     blockEnd - full.size(), blockEnd - 1, blockEnd, good.size() - 1}) {
        const WString path = dir.Sub(u"cut.exe");
        WriteFileBytes(path, good.substr(0, n));
        const WString value = ValueOf(path, kProductVersion);
#ifdef _WIN32
        // Windows' loader maps the image before it looks for the block and may refuse a
        // file cut after the block as well.
        if (n >= blockEnd && value == u"<no block>") continue;
#endif
        EXPECT_EQ(value, n >= blockEnd ? u"8.0.0" : u"<no block>") << n;
    }
}

#ifdef _WIN32
// The project's reader (pe_version.h, what the Linux build uses) against the system's
// GetFileVersionInfoW and VerQueryValueW, which this build's ReadFileVersionBlock and
// QueryVersionValue are, on every file of a corpus: the test clients, executables with
// version resources in several languages, and the images of the system folder (hundreds
// of files from another toolchain). Same block, and the same text for every value of
// every string table in it.

// The string values of a well-formed block: StringFileInfo, each table, each value; as
// sub-block paths. Narrow blocks (16-bit images) have 8-bit keys and no wType.
std::vector<WString> StringValuePaths(const std::vector<uint8_t>& block) {
    auto le16 = [&](size_t at) { return static_cast<size_t>(block[at] | block[at + 1] << 8); };
    const bool narrow = block.size() > 4 && block[4] >= 0x20;
    const size_t header = narrow ? 4 : 6, unit = narrow ? 1 : 2;
    struct Node {
        size_t begin, end, children;
        WString key;
    };
    auto parse = [&](size_t at, size_t limit, Node& node) {
        if (at + header > limit || le16(at) < header || at + le16(at) > limit) return false;
        node.begin = at;
        node.end = at + le16(at);
        node.key.clear();
        size_t p = at + header;
        for (; p + unit <= node.end && (narrow ? block[p] : le16(p)) != 0; p += unit)
            node.key.push_back(static_cast<char16_t>(narrow ? block[p] : le16(p)));
        const size_t value = (p + unit + 3) & ~size_t{3};
        const size_t width = !narrow && le16(at + 4) == 1 ? 2 : 1;
        node.children = (value + le16(at + 2) * width + 3) & ~size_t{3};
        return p + unit <= node.end;
    };
    auto children = [&](const Node& parent) {
        std::vector<Node> found;
        Node child;
        for (size_t at = parent.children; parse(at, parent.end, child);
             at = (child.end + 3) & ~size_t{3}) {
            found.push_back(child);
        }
        return found;
    };
    std::vector<WString> paths;
    Node root;
    if (!parse(0, block.size(), root)) return paths;
    for (const Node& info : children(root)) {
        if (info.key != u"StringFileInfo") continue;
        for (const Node& table : children(info)) {
            for (const Node& value : children(table))
                paths.push_back(u"\\StringFileInfo\\" + table.key + u"\\" + value.key);
        }
    }
    return paths;
}

bool IsNeImage(const WString& path) {
    plat::File file;
    uint8_t header[64], signature[2];
    if (!file.Open(path, plat::File::Mode::kRead) || file.Read(header, 64) != 64) return false;
    const uint32_t offset = header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 |
                            static_cast<uint32_t>(header[0x3F]) << 24;
    return header[0] == 'M' && header[1] == 'Z' && file.Seek(offset) &&
           file.Read(signature, 2) == 2 && signature[0] == 'N' && signature[1] == 'E';
}

bool ProjectReader(const WString& path, std::vector<uint8_t>& block) {
    plat::File file;
    if (!file.Open(path, plat::File::Mode::kRead) || !file.SeekToEnd()) return false;
    const int64_t size = file.Position();
    plat::pe::ReadAt read = [&file](uint64_t offset, size_t n, uint8_t* out) {
        if (!file.Seek(static_cast<int64_t>(offset))) return false;
        return file.Read(out, n) == static_cast<long long>(n);
    };
    return size > 0 && plat::pe::ExtractVersionBlock(static_cast<uint64_t>(size), read, block);
}

TEST(VersionTest, TheProjectsReaderReadsWhatWindowsReads) {
    std::vector<WString> folders = {DataFile("")};
#ifdef QUORVEL_PE_LANGUAGES_DIR
    folders.push_back(plat::FromNativePath(FromUtf8(QUORVEL_PE_LANGUAGES_DIR)));
#endif
    const char* systemRoot = std::getenv("SystemRoot");
    ASSERT_NE(systemRoot, nullptr);
    folders.push_back(FromUtf8(systemRoot) + u"\\system32");
    folders.push_back(FromUtf8(systemRoot));

    int files = 0, blocks = 0, values = 0, chinese = 0, sixteenBit = 0;
    for (WString folder : folders) {
        while (!folder.empty() && folder.back() == u'\\')
            folder.pop_back();
        for (const plat::FoundFile& found : plat::FindFiles(folder + u"\\*")) {
            if (found.directory) continue;
            const WString path = folder + u"\\" + found.name;
            SCOPED_TRACE(ToUtf8(path));
            ++files;
            std::vector<uint8_t> system, ours;
            const bool systemRead = plat::ReadFileVersionBlock(path, system);
            if (IsNeImage(path)) ++sixteenBit;
            ASSERT_EQ(ProjectReader(path, ours), systemRead);
            if (!systemRead) continue;
            ++blocks;
            // The system's copy holds the whole resource and room for its own use after it.
            ASSERT_LE(ours.size(), system.size());
            ASSERT_TRUE(std::equal(ours.begin(), ours.end(), system.begin()));
            for (const WString& subBlock : StringValuePaths(ours)) {
                WString systemValue = u"<none>", ourValue = u"<none>";
                const bool systemFound = plat::QueryVersionValue(system, subBlock, systemValue);
                EXPECT_EQ(plat::pe::FindVersionString(ours.data(), ours.size(), subBlock, ourValue),
                          systemFound)
                    << ToUtf8(subBlock);
                EXPECT_EQ(ourValue, systemValue) << ToUtf8(subBlock);
                ++values;
                if (subBlock.find(u"080403A8") != WString::npos) ++chinese;
            }
        }
    }
    // The corpus is what it should be: the folders were there and full.
    EXPECT_GT(files, 500);
    EXPECT_GT(blocks, 200);
    EXPECT_GT(chinese, 5);
    EXPECT_GT(sixteenBit, 10);  // Wine's placeholders of the old 16-bit system files
    std::printf("%d files (%d 16-bit ones), %d version blocks, %d values compared\n", files,
                sixteenBit, blocks, values);
}
#endif

}  // namespace
