#include "platform/pe_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace {

using Bytes = std::vector<uint8_t>;

const WString kFileVersion = u"\\StringFileInfo\\080403A8\\FileVersion";
const WString kProductVersion = u"\\StringFileInfo\\080403A8\\ProductVersion";

void Put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Get32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void AppendText(Bytes& b, WStringView text) {
    for (char16_t c : text) {
        b.push_back(static_cast<uint8_t>(c));
        b.push_back(static_cast<uint8_t>(c >> 8));
    }
}

void PadTo4(Bytes& b) {
    while (b.size() % 4 != 0)
        b.push_back(0);
}

// One node of a version block, laid out as resource compilers do: header, key, padding,
// value, then each child on a 32-bit boundary. wLength covers everything but the padding
// after the last child.
struct VNode {
    explicit VNode(WString k, uint16_t t = 1) : key(std::move(k)), type(t) {}

    WString key;
    uint16_t type;
    Bytes value;
    uint16_t valueLength = 0;
    std::vector<VNode> children;

    Bytes Serialize() const {
        Bytes b(6, 0);
        AppendText(b, key);
        b.push_back(0);
        b.push_back(0);
        PadTo4(b);
        b.insert(b.end(), value.begin(), value.end());
        for (const VNode& child : children) {
            PadTo4(b);
            Bytes c = child.Serialize();
            b.insert(b.end(), c.begin(), c.end());
        }
        Put16(b, 0, static_cast<uint16_t>(b.size()));
        Put16(b, 2, valueLength);
        Put16(b, 4, type);
        return b;
    }
};

VNode Text(WString key, WStringView text) {
    VNode n{std::move(key)};
    AppendText(n.value, text);
    n.value.push_back(0);
    n.value.push_back(0);
    n.valueLength = static_cast<uint16_t>(text.size() + 1);
    return n;
}

VNode Block(WString key, std::vector<VNode> children) {
    VNode n{std::move(key)};
    n.children = std::move(children);
    return n;
}

// VS_VERSION_INFO with its fixed part, one table per entry, and VarFileInfo.
VNode VersionInfo(std::vector<VNode> tables) {
    VNode root{u"VS_VERSION_INFO", 0};
    root.value.assign(52, 0);
    Put32(root.value, 0, 0xFEEF04BD);
    root.valueLength = 52;
    VNode translation{u"Translation", 0};
    translation.value = {0x04, 0x08, 0xA8, 0x03};
    translation.valueLength = 4;
    root.children.push_back(Block(u"StringFileInfo", std::move(tables)));
    root.children.push_back(Block(u"VarFileInfo", {translation}));
    return root;
}

Bytes GoodBlock() {
    return VersionInfo({Block(u"080403A8",
                              {Text(u"CompanyName", u"维尼克"), Text(u"FileVersion", u"8.0.0V1203"),
                               Text(u"ProductVersion", u"8.0.0")})})
        .Serialize();
}

// Offset of the node whose key is `key` (its first occurrence in the block).
size_t NodeAt(const Bytes& block, WStringView key) {
    Bytes pattern;
    AppendText(pattern, key);
    pattern.push_back(0);
    pattern.push_back(0);
    auto at = std::search(block.begin(), block.end(), pattern.begin(), pattern.end());
    EXPECT_NE(at, block.end()) << "no node " << ToUtf8(key);
    return at == block.end() ? 0 : static_cast<size_t>(at - block.begin()) - 6;
}

bool Find(const Bytes& block, const WString& path, WString& value) {
    return plat::pe::FindVersionString(block.data(), block.size(), path, value);
}

WString FindOr(const Bytes& block, const WString& path, const WString& missing = u"<none>") {
    WString value = u"stale";
    bool found = Find(block, path, value);
    if (!found) {
        EXPECT_TRUE(value.empty()) << "a failed lookup must clear the value";
    }
    return found ? value : missing;
}

// Offsets of the fields a test may damage in a built image.
struct PeLayout {
    size_t ntHeaders = 0x40;
    size_t optionalHeader = 0x40 + 24;
    size_t rvaCount = 0;
    size_t resourceDirectory = 0;  // the data directory entry: RVA, size
    size_t sectionTable = 0;
    size_t resources = 0x200;  // file offset of the resource section
    size_t typeDirectory = 0x200;
    size_t typeEntry = 0x200 + 16;
    size_t nameDirectory = 0x200 + 0x18;
    size_t nameEntry = 0x200 + 0x18 + 16;
    size_t languageDirectory = 0x200 + 0x30;
    size_t languageEntry = 0x200 + 0x30 + 16;
    size_t dataEntry = 0x200 + 0x48;
    size_t block = 0x200 + 0x58;
};

constexpr uint32_t kResourceRva = 0x1000;

// A minimal image with one section, ".rsrc", holding a version resource with the given
// block, laid out the way windres and ld lay it out.
Bytes BuildPe(const Bytes& block, bool pe32plus, PeLayout* layout = nullptr) {
    PeLayout l;
    const size_t optionalSize = pe32plus ? 240 : 224;
    l.rvaCount = l.optionalHeader + (pe32plus ? 108 : 92);
    l.resourceDirectory = l.optionalHeader + (pe32plus ? 112 : 96) + 16;
    l.sectionTable = l.optionalHeader + optionalSize;
    const size_t sectionSize = 0x58 + block.size();
    const size_t rawSize = (sectionSize + 0x1FF) & ~size_t{0x1FF};

    Bytes b(l.resources + rawSize, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, static_cast<uint32_t>(l.ntHeaders));
    std::memcpy(&b[l.ntHeaders], "PE\0\0", 4);
    Put16(b, l.ntHeaders + 4, pe32plus ? 0x8664 : 0x14C);
    Put16(b, l.ntHeaders + 6, 1);
    Put16(b, l.ntHeaders + 20, static_cast<uint16_t>(optionalSize));
    Put16(b, l.ntHeaders + 22, 0x0102);
    Put16(b, l.optionalHeader, pe32plus ? 0x20B : 0x10B);
    Put32(b, l.rvaCount, 16);
    Put32(b, l.resourceDirectory, kResourceRva);
    Put32(b, l.resourceDirectory + 4, static_cast<uint32_t>(sectionSize));
    std::memcpy(&b[l.sectionTable], ".rsrc", 5);
    Put32(b, l.sectionTable + 8, static_cast<uint32_t>(sectionSize));
    Put32(b, l.sectionTable + 12, kResourceRva);
    Put32(b, l.sectionTable + 16, static_cast<uint32_t>(rawSize));
    Put32(b, l.sectionTable + 20, static_cast<uint32_t>(l.resources));

    // type 16 -> name 1 -> language 0x804 -> data entry
    Put16(b, l.typeDirectory + 14, 1);
    Put32(b, l.typeEntry, 16);
    Put32(b, l.typeEntry + 4, 0x80000000u | 0x18);
    Put16(b, l.nameDirectory + 14, 1);
    Put32(b, l.nameEntry, 1);
    Put32(b, l.nameEntry + 4, 0x80000000u | 0x30);
    Put16(b, l.languageDirectory + 14, 1);
    Put32(b, l.languageEntry, 0x804);
    Put32(b, l.languageEntry + 4, 0x48);
    Put32(b, l.dataEntry, kResourceRva + 0x58);
    Put32(b, l.dataEntry + 4, static_cast<uint32_t>(block.size()));
    std::copy(block.begin(), block.end(), b.begin() + static_cast<ptrdiff_t>(l.block));
    if (layout != nullptr) *layout = l;
    return b;
}

bool Extract(const Bytes& image, Bytes& block) {
    return plat::pe::ExtractVersionBlock(image.data(), image.size(), block);
}

// The block of a damaged image, or "<no block>" when there is none; the lookup then says
// whether the right block came out.
WString ProductVersionOf(const Bytes& image) {
    Bytes block{1, 2, 3};
    if (!Extract(image, block)) {
        EXPECT_TRUE(block.empty()) << "a failed extraction must clear the block";
        return u"<no block>";
    }
    return FindOr(block, kProductVersion);
}

Bytes ReadTestFile(const char* name) {
    std::string bytes;
    WString path =
        plat::FromNativePath(FromUtf8(std::string(QUORVEL_TEST_DATA_DIR) + "/pe/" + name));
    EXPECT_TRUE(plat::ReadWholeFile(path, bytes)) << name;
    return Bytes(bytes.begin(), bytes.end());
}

TEST(VersionBlockTest, FindsTextsByPath) {
    const Bytes block = GoodBlock();
    EXPECT_EQ(FindOr(block, kFileVersion), u"8.0.0V1203");
    EXPECT_EQ(FindOr(block, kProductVersion), u"8.0.0");
    EXPECT_EQ(FindOr(block, u"\\StringFileInfo\\080403A8\\CompanyName"), u"维尼克");
    // Keys match without regard to case, and empty pieces of the path do not count.
    EXPECT_EQ(FindOr(block, u"\\stringfileinfo\\080403a8\\PRODUCTVERSION"), u"8.0.0");
    EXPECT_EQ(FindOr(block, u"StringFileInfo\\\\080403A8\\ProductVersion\\"), u"8.0.0");

    EXPECT_EQ(FindOr(block, u"\\StringFileInfo\\040904B0\\ProductVersion"), u"<none>");
    EXPECT_EQ(FindOr(block, u"\\StringFileInfo\\080403A8\\Comments"), u"<none>");
    EXPECT_EQ(FindOr(block, u"\\StringFileInfo\\080403A8\\ProductVersio"), u"<none>");
    EXPECT_EQ(FindOr(block, u"\\StringFileInfo\\080403A8\\ProductVersionX"), u"<none>");
    EXPECT_EQ(FindOr(block, u"\\"), u"<none>");  // the root holds no text
    EXPECT_EQ(FindOr(block, u""), u"<none>");
    // A table is found wherever it stands among the others.
    const Bytes two = VersionInfo({Block(u"040904B0", {Text(u"ProductVersion", u"en")}),
                                   Block(u"080403A8", {Text(u"ProductVersion", u"zh")})})
                          .Serialize();
    EXPECT_EQ(FindOr(two, kProductVersion), u"zh");
    EXPECT_EQ(FindOr(two, u"\\StringFileInfo\\040904B0\\ProductVersion"), u"en");

    WString value = u"stale";
    EXPECT_FALSE(plat::pe::FindVersionString(nullptr, 0, kProductVersion, value));
    EXPECT_TRUE(value.empty());
}

TEST(VersionBlockTest, ValueLengths) {
    auto withValue = [](VNode text) {
        return VersionInfo({Block(u"080403A8", {std::move(text)})}).Serialize();
    };
    {  // present but empty
        VNode n{u"ProductVersion"};
        EXPECT_EQ(FindOr(withValue(n), kProductVersion), u"");
    }
    {  // a length in bytes instead of characters reads the same text
        VNode n = Text(u"ProductVersion", u"8.0.0");
        n.valueLength = static_cast<uint16_t>(2 * n.valueLength);
        EXPECT_EQ(FindOr(withValue(n), kProductVersion), u"8.0.0");
    }
    {  // the text ends at its first NUL
        VNode n = Text(u"ProductVersion", WString(u"8.0\0junk", 8));
        EXPECT_EQ(FindOr(withValue(n), kProductVersion), u"8.0");
    }
    {  // the declared length ends the text even without a NUL
        VNode n = Text(u"ProductVersion", u"8.0.0");
        n.valueLength = 3;
        EXPECT_EQ(FindOr(withValue(n), kProductVersion), u"8.0");
    }
    {  // no NUL, and a length far beyond the node: the node's end stops it
        VNode n{u"ProductVersion"};
        AppendText(n.value, u"8.0.0");
        n.valueLength = 0xFFFF;
        Bytes block = withValue(n);
        EXPECT_EQ(FindOr(block, kProductVersion), u"8.0.0");
        // ... and the block's own end, when the node is the last thing in it
        Bytes tight = Text(u"ProductVersion", u"").Serialize();
        tight.resize(tight.size() - 2);
        AppendText(tight, u"xy");
        Put16(tight, 0, static_cast<uint16_t>(tight.size()));
        Put16(tight, 2, 0xFFFF);
        VNode root{u"R", 0};
        Bytes wrapped = root.Serialize();
        wrapped.insert(wrapped.end(), tight.begin(), tight.end());
        Put16(wrapped, 0, static_cast<uint16_t>(wrapped.size()));
        EXPECT_EQ(FindOr(wrapped, u"\\ProductVersion"), u"xy");
    }
}

TEST(VersionBlockTest, MalformedNodesGiveNoValue) {
    const Bytes good = GoodBlock();
    const size_t table = NodeAt(good, u"080403A8");
    const size_t company = NodeAt(good, u"CompanyName");
    ASSERT_EQ(NodeAt(good, u"FileVersion") - company, 0x28u);  // the sibling after it

    {  // every prefix: the root claims more than there is
        for (size_t n = 0; n < good.size(); ++n) {
            Bytes prefix(good.begin(), good.begin() + static_cast<ptrdiff_t>(n));
            EXPECT_EQ(FindOr(prefix, kProductVersion), u"<none>") << n;
        }
    }
    for (uint16_t length : {0, 1, 5}) {  // shorter than a header: no progress possible
        Bytes b = good;
        Put16(b, company, length);
        EXPECT_EQ(FindOr(b, kProductVersion), u"<none>") << length;
        b = good;
        Put16(b, 0, length);
        EXPECT_EQ(FindOr(b, kProductVersion), u"<none>") << length;
    }
    {  // a child longer than its parent
        Bytes b = good;
        Put16(b, table, static_cast<uint16_t>(good.size()));
        EXPECT_EQ(FindOr(b, kProductVersion), u"<none>");
        b = good;
        Put16(b, 0, static_cast<uint16_t>(good.size() + 2));
        EXPECT_EQ(FindOr(b, kProductVersion), u"<none>");
    }
    {  // a key without its NUL inside the node
        Bytes b = VersionInfo({Block(u"080403A8", {Text(u"ProductVersion", u"")})}).Serialize();
        Put16(b, NodeAt(b, u"ProductVersion"), 6 + 2 * 14);  // the key, no room for its NUL
        EXPECT_EQ(FindOr(b, kProductVersion), u"<none>");
        Bytes bare(6, 0);
        AppendText(bare, u"VS_VERSION_INFO");
        Put16(bare, 0, static_cast<uint16_t>(bare.size()));
        EXPECT_EQ(FindOr(bare, u"\\VS_VERSION_INFO"), u"<none>");
    }
    {  // an odd length on a sibling before the wanted value: the next sibling is still
       // found on its 32-bit boundary
        Bytes b = good;
        Put16(b, company, static_cast<uint16_t>(0x28 - 1));
        EXPECT_EQ(FindOr(b, kProductVersion), u"8.0.0");
        Put16(b, company, static_cast<uint16_t>(0x28 - 3));
        EXPECT_EQ(FindOr(b, kProductVersion), u"8.0.0");
    }
    {  // a value that claims to run past its node is cut at the node
        Bytes b = good;
        Put16(b, table + 2, 0xFFFF);  // the table's wValueLength: its children vanish
        EXPECT_EQ(FindOr(b, kProductVersion), u"<none>");
    }
}

TEST(PeImageTest, FindsTheBlockInBothHeaderForms) {
    const Bytes block = GoodBlock();
    for (bool pe32plus : {false, true}) {
        Bytes image = BuildPe(block, pe32plus);
        Bytes found;
        ASSERT_TRUE(Extract(image, found)) << pe32plus;
        EXPECT_EQ(found, block);
        EXPECT_EQ(ProductVersionOf(image), u"8.0.0");
    }
    {  // the resource's size may exceed the block; the block is what its root says
        PeLayout l;
        Bytes image = BuildPe(block, false, &l);
        Put32(image, l.dataEntry + 4, static_cast<uint32_t>(block.size() + 8));
        image.resize(image.size() + 0x200);
        Put32(image, l.sectionTable + 16, Get32(image, l.sectionTable + 16) + 0x200);
        Put32(image, l.sectionTable + 8, 0);  // a VirtualSize of 0 means the raw size
        Bytes found;
        ASSERT_TRUE(Extract(image, found));
        EXPECT_EQ(found, block);
    }
}

TEST(PeImageTest, MadeWithMinGW) {
    struct Case {
        const char* file;
        const char16_t* fileVersion;
        const char16_t* productVersion;
    };
    const Case cases[] = {
        {"vennic-8.0.0V1203.exe", u"8.0.0V1203", u"8.0.0"},
        {"vennic-chinese.exe", u"8.1.0测试版V2001", u"8.1.0 正式版"},
        {"vennic-minimal.exe", u"7.5.0.12", u"7.5.0"},
        {"vennic-040904B0.exe", u"<none>", u"<none>"},
        {"vennic-two-languages.exe", u"8.1.0V2105", u"8.1.0"},
    };
    for (const Case& c : cases) {
        Bytes block;
        ASSERT_TRUE(Extract(ReadTestFile(c.file), block)) << c.file;
        EXPECT_EQ(FindOr(block, kFileVersion), c.fileVersion) << c.file;
        EXPECT_EQ(FindOr(block, kProductVersion), c.productVersion) << c.file;
    }
    Bytes block;
    ASSERT_TRUE(Extract(ReadTestFile("vennic-040904B0.exe"), block));
    EXPECT_EQ(FindOr(block, u"\\StringFileInfo\\040904B0\\FileVersion"), u"9.1.0V77");
    ASSERT_TRUE(Extract(ReadTestFile("vennic-chinese.exe"), block));
    EXPECT_EQ(FindOr(block, u"\\StringFileInfo\\080403A8\\CompanyName"), u"维尼克科技");
    EXPECT_EQ(FindOr(block, u"\\StringFileInfo\\040904B0\\FileVersion"), u"8.1.0V2001");

    block = {1};
    EXPECT_FALSE(Extract(ReadTestFile("vennic-no-version.exe"), block));
    EXPECT_TRUE(block.empty());
}

// Every prefix of a real executable: the block comes out exactly when the file reaches its
// end, and nothing is read beyond a prefix (each prefix is its own allocation, so the
// address sanitizer sees any overrun).
TEST(PeImageTest, EveryTruncation) {
    for (const char* name : {"vennic-8.0.0V1203.exe", "vennic-minimal.exe"}) {
        const Bytes image = ReadTestFile(name);
        Bytes full;
        ASSERT_TRUE(Extract(image, full)) << name;
        auto at = std::search(image.begin(), image.end(), full.begin(), full.end());
        ASSERT_NE(at, image.end());
        const size_t blockEnd = static_cast<size_t>(at - image.begin()) + full.size();
        for (size_t n = 0; n <= image.size(); ++n) {
            const Bytes prefix(image.begin(), image.begin() + static_cast<ptrdiff_t>(n));
            Bytes block;
            const bool found = Extract(prefix, block);
            ASSERT_EQ(found, n >= blockEnd) << name << " cut at " << n;
            if (found) {
                ASSERT_EQ(block, full) << name << " cut at " << n;
            }
        }
    }
}

TEST(PeImageTest, DamagedHeaders) {
    const Bytes block = GoodBlock();
    PeLayout l;
    const Bytes good = BuildPe(block, false, &l);
    ASSERT_EQ(ProductVersionOf(good), u"8.0.0");
    auto damaged = [&](auto change) {
        Bytes image = good;
        change(image);
        return ProductVersionOf(image);
    };

    EXPECT_EQ(damaged([](Bytes& b) { b[1] = 'X'; }), u"<no block>");  // no MZ
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, 0x3C, static_cast<uint32_t>(b.size())); }),
              u"<no block>");  // PE header past the end
    EXPECT_EQ(damaged([](Bytes& b) { Put32(b, 0x3C, 0xFFFFFFFF); }), u"<no block>");
    EXPECT_EQ(damaged([](Bytes& b) { Put32(b, 0x3C, 0); }), u"<no block>");  // "MZ.." is no "PE"
    EXPECT_EQ(damaged([&](Bytes& b) { b[l.ntHeaders + 2] = 1; }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put16(b, l.optionalHeader, 0x107); }), u"<no block>");
    // PE32+ fields read as PE32 or the other way round land in the wrong places
    EXPECT_EQ(damaged([&](Bytes& b) { Put16(b, l.optionalHeader, 0x20B); }), u"<no block>");
    // an optional header just long enough for the resource directory entry, and one
    // byte shorter (the section table follows it in both)
    auto shortOptionalHeader = [&](size_t size) {
        return [&, size](Bytes& b) {
            Put16(b, l.ntHeaders + 20, static_cast<uint16_t>(size));
            std::copy_n(good.begin() + static_cast<ptrdiff_t>(l.sectionTable), 40,
                        b.begin() + static_cast<ptrdiff_t>(l.optionalHeader + size));
        };
    };
    EXPECT_EQ(damaged(shortOptionalHeader(96 + 8 * 3)), u"8.0.0");
    EXPECT_EQ(damaged(shortOptionalHeader(96 + 8 * 3 - 1)), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.rvaCount, 2); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.resourceDirectory, 0); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.resourceDirectory, 0x5000); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.resourceDirectory, 0xFFFFFFF8); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put16(b, l.ntHeaders + 6, 0); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put16(b, l.ntHeaders + 6, 0xFFFF); }), u"<no block>");
    // a section table that starts past the end
    EXPECT_EQ(damaged([&](Bytes& b) { Put16(b, l.ntHeaders + 20, 0xFFFF); }), u"<no block>");
    // sections whose data lies past the end, or whose numbers overflow
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.sectionTable + 20, 0xFFFFFE00); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.sectionTable + 16, 0xFFFFFFFF); }), u"8.0.0");
    EXPECT_EQ(damaged([&](Bytes& b) {
                  Put32(b, l.sectionTable + 16, 0xFFFFFFFF);
                  Put32(b, l.sectionTable + 8, 0xFFFFFFFF);
                  Put32(b, l.sectionTable + 20, 0xFFFFFFF0);
              }),
              u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) {
                  Put32(b, l.sectionTable + 12, 0xFFFFF000);  // RVAs near 4 GB
                  Put32(b, l.resourceDirectory, 0xFFFFF000);
                  Put32(b, l.dataEntry, 0xFFFFF058);
              }),
              u"8.0.0");
    EXPECT_EQ(damaged([&](Bytes& b) {
                  Put32(b, l.sectionTable + 12, 0xFFFFF000);
                  Put32(b, l.resourceDirectory, 0xFFFFF000);
                  Put32(b, l.dataEntry, 0xFFFFFFFE);  // the block would wrap around
              }),
              u"<no block>");
    // the mapped part of the section ends before the block does
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.sectionTable + 8, 0x58 + 8); }), u"<no block>");
}

TEST(PeImageTest, DamagedResourceDirectory) {
    const Bytes block = GoodBlock();
    PeLayout l;
    const Bytes good = BuildPe(block, true, &l);
    ASSERT_EQ(ProductVersionOf(good), u"8.0.0");
    auto damaged = [&](auto change) {
        Bytes image = good;
        change(image);
        return ProductVersionOf(image);
    };
    const uint32_t kDir = 0x80000000u;

    // loops: entries that point back to a directory already visited
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.typeEntry + 4, kDir | 0); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.nameEntry + 4, kDir | 0x18); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.languageEntry + 4, kDir | 0x30); }),
              u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.languageEntry + 4, kDir | 0); }), u"<no block>");
    // a data entry where a directory belongs
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.typeEntry + 4, 0x48); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.nameEntry + 4, 0x48); }), u"<no block>");
    // no version type: another id, or a name string with the same low bits
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.typeEntry, 3); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.typeEntry, kDir | 16); }), u"<no block>");
    // the name is 1 as Windows asks for it, no other; a lone language of any kind will do
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.nameEntry, kDir | 0x10); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.nameEntry, 2); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.languageEntry, 0x409); }), u"8.0.0");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.languageEntry, 0x407); }), u"8.0.0");
    // empty directories, and counts far beyond the section
    EXPECT_EQ(damaged([&](Bytes& b) { Put16(b, l.typeDirectory + 14, 0); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put16(b, l.languageDirectory + 14, 0); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) {
                  Put16(b, l.nameDirectory + 12, 0xFFFF);
                  Put16(b, l.nameDirectory + 14, 0xFFFF);
              }),
              u"<no block>");
    // offsets past the section, and ones that overflow 32 bits
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.typeEntry + 4, kDir | 0x7FFFFFF0); }),
              u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.languageEntry + 4, 0x7FFFFFFF); }), u"<no block>");
    // the data entry: a block outside every section, a size smaller than the block,
    // a root node too short to be one
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.dataEntry, 0x9000); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.dataEntry, 0xFFFFFFFF); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) {
                  Put32(b, l.dataEntry + 4, static_cast<uint32_t>(block.size() - 1));
              }),
              u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.dataEntry + 4, 0); }), u"<no block>");
    EXPECT_EQ(damaged([&](Bytes& b) { Put16(b, l.block, 4); }), u"<no block>");
    // a data entry overlapping the directories: the bytes there are no version block
    EXPECT_EQ(damaged([&](Bytes& b) { Put32(b, l.dataEntry, kResourceRva); }), u"<no block>");
}

// An image whose version resource comes in each of `languages` (ascending, as resource
// compilers sort them), the block of each saying which it is in its ProductVersion.
Bytes BuildPeWithLanguages(const std::vector<uint16_t>& languages) {
    PeLayout l;
    Bytes image = BuildPe(GoodBlock(), false, &l);
    const size_t count = languages.size();
    const size_t dataEntries = 0x30 + 16 + 8 * count;
    Bytes section(dataEntries + 16 * count, 0);
    Put16(section, 14, 1);  // type 16 -> name 1 -> the languages
    Put32(section, 16, 16);
    Put32(section, 20, 0x80000000u | 0x18);
    Put16(section, 0x18 + 14, 1);
    Put32(section, 0x18 + 16, 1);
    Put32(section, 0x18 + 20, 0x80000000u | 0x30);
    Put16(section, 0x30 + 14, static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = 0x30 + 16 + 8 * i;
        const size_t data = dataEntries + 16 * i;
        Put32(section, entry, languages[i]);
        Put32(section, entry + 4, static_cast<uint32_t>(data));
        const Bytes block =
            VersionInfo({Block(u"080403A8",
                               {Text(u"ProductVersion", FromUtf8(std::to_string(languages[i])))})})
                .Serialize();
        PadTo4(section);
        Put32(section, data, kResourceRva + static_cast<uint32_t>(section.size()));
        Put32(section, data + 4, static_cast<uint32_t>(block.size()));
        section.insert(section.end(), block.begin(), block.end());
    }
    const size_t rawSize = (section.size() + 0x1FF) & ~size_t{0x1FF};
    image.resize(l.resources);
    image.insert(image.end(), section.begin(), section.end());
    image.resize(l.resources + rawSize);
    Put32(image, l.resourceDirectory + 4, static_cast<uint32_t>(section.size()));
    Put32(image, l.sectionTable + 8, static_cast<uint32_t>(section.size()));
    Put32(image, l.sectionTable + 16, static_cast<uint32_t>(rawSize));
    return image;
}

// Of several languages the one Windows' loader takes on a Chinese (PRC) system: neutral,
// Chinese (PRC), Chinese, US English, in this order; else the first. Every set of a few
// languages that matter, each of its languages present or not.
TEST(PeImageTest, ChoosesTheLanguageAsAChineseWindowsDoes) {
    const uint16_t candidates[] = {0x0000, 0x0004, 0x0404, 0x0407, 0x0409, 0x0804, 0x0C04};
    const uint16_t preferred[] = {0x0000, 0x0804, 0x0004, 0x0409};
    const int n = static_cast<int>(std::size(candidates));
    for (int mask = 1; mask < (1 << n); ++mask) {
        std::vector<uint16_t> languages;
        for (int i = 0; i < n; ++i) {
            if (mask & (1 << i)) languages.push_back(candidates[i]);
        }
        uint16_t expected = languages.front();
        for (uint16_t language : preferred) {
            if (std::find(languages.begin(), languages.end(), language) != languages.end()) {
                expected = language;
                break;
            }
        }
        ASSERT_EQ(ProductVersionOf(BuildPeWithLanguages(languages)),
                  FromUtf8(std::to_string(expected)))
            << "languages of mask " << mask;
    }
    // A language entry that is a directory where data belongs is passed over.
    Bytes image = BuildPeWithLanguages({0x0409, 0x0804});
    Put32(image, 0x200 + 0x30 + 16 + 8 + 4, 0x80000000u | 0x30);
    EXPECT_EQ(ProductVersionOf(image), u"1033");
}

// A narrow node of a 16-bit image's version block: wLength, wValueLength, an 8-bit key,
// the value, the children, each on a 32-bit boundary.
struct NarrowNode {
    std::string key;
    std::string value;  // text with its NUL, or the fixed part
    std::vector<NarrowNode> children;

    Bytes Serialize() const {
        Bytes b(4, 0);
        b.insert(b.end(), key.begin(), key.end());
        b.push_back(0);
        PadTo4(b);
        b.insert(b.end(), value.begin(), value.end());
        for (const NarrowNode& child : children) {
            PadTo4(b);
            Bytes c = child.Serialize();
            b.insert(b.end(), c.begin(), c.end());
        }
        Put16(b, 0, static_cast<uint16_t>(b.size()));
        Put16(b, 2, static_cast<uint16_t>(value.size()));
        return b;
    }
};

// A 16-bit (NE) image whose resource table holds the version resource `block`.
Bytes BuildNe(const Bytes& block, uint16_t name = 0x8001) {
    Bytes b(0x100, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 0x40);
    b[0x40] = 'N';
    b[0x41] = 'E';
    Put16(b, 0x40 + 0x24, 0x40);       // resource table at 0x80
    Put16(b, 0x40 + 0x26, 0x40 + 24);  // resident names after it
    Put16(b, 0x80, 4);                 // offsets in 16-byte units
    Put16(b, 0x82, 0x8010);            // type 16, one resource
    Put16(b, 0x84, 1);
    Put16(b, 0x8A, 0x10);  // at 0x100
    Put16(b, 0x8C, static_cast<uint16_t>((block.size() + 15) / 16));
    Put16(b, 0x90, name);
    b.insert(b.end(), block.begin(), block.end());
    return b;
}

// 16-bit images carry narrow blocks (8-bit keys, ANSI texts), which Windows reads too.
TEST(PeImageTest, SixteenBitImages) {
    plat::SetAnsiCodePageForTesting(936);
    const NarrowNode root{
        "VS_VERSION_INFO",
        std::string(52, '\0'),
        {NarrowNode{
            "StringFileInfo",
            "",
            {NarrowNode{
                "080403A8",
                "",
                {NarrowNode{"FileVersion", std::string("8.0.0V16\0", 9), {}},
                 NarrowNode{"ProductVersion", std::string("8.0 \xD6\xD0\xCE\xC4\0", 9), {}}}}}}}};
    const Bytes block = root.Serialize();
    Bytes found;
    ASSERT_TRUE(Extract(BuildNe(block), found));
    EXPECT_EQ(found, block);
    EXPECT_EQ(FindOr(found, kFileVersion), u"8.0.0V16");
    EXPECT_EQ(FindOr(found, u"\\stringfileinfo\\080403a8\\productversion"), u"8.0 中文");
    EXPECT_EQ(FindOr(found, u"\\StringFileInfo\\040904B0\\FileVersion"), u"<none>");
    // Only the name 1; a block cut short; every prefix of the image.
    EXPECT_FALSE(Extract(BuildNe(block, 0x8002), found));
    Bytes cut = BuildNe(block);
    Put16(cut, 0x8C, 1);
    EXPECT_FALSE(Extract(cut, found));
    const Bytes image = BuildNe(block);
    for (size_t n = 0; n < 0x100 + block.size(); ++n) {
        ASSERT_FALSE(
            Extract(Bytes(image.begin(), image.begin() + static_cast<ptrdiff_t>(n)), found))
            << n;
    }
    plat::SetAnsiCodePageForTesting(0);
}

TEST(PeImageTest, NotExecutables) {
    Bytes block{1};
    EXPECT_FALSE(Extract(Bytes{}, block));
    EXPECT_TRUE(block.empty());
    EXPECT_FALSE(plat::pe::ExtractVersionBlock(nullptr, 0, block));
    EXPECT_FALSE(Extract(Bytes{'M', 'Z'}, block));
    const std::string text = "[HEADER]\r\nMAIN=8.0.0\r\n";
    EXPECT_FALSE(Extract(Bytes(text.begin(), text.end()), block));
    EXPECT_FALSE(Extract(Bytes(4096, 0), block));
    EXPECT_FALSE(Extract(Bytes(4096, 0xFF), block));

    // A reader that fails (an I/O error) fails the extraction wherever it happens.
    const Bytes image = BuildPe(GoodBlock(), false);
    for (int failAt = 0; failAt < 20; ++failAt) {
        int calls = 0;
        plat::pe::ReadAt read = [&](uint64_t offset, size_t size, uint8_t* out) {
            if (calls++ == failAt) return false;
            std::memcpy(out, image.data() + offset, size);
            return true;
        };
        const bool found = plat::pe::ExtractVersionBlock(image.size(), read, block);
        EXPECT_EQ(found, failAt >= calls) << failAt;
        EXPECT_EQ(block.empty(), !found);
    }
    EXPECT_FALSE(block.empty()) << "the last runs had no failing read and must succeed";
}

}  // namespace
