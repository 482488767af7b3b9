#include "platform/pe_version.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/codepage.h"

namespace plat {
namespace pe {
namespace {

constexpr uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kDirectoryResource = 2;
constexpr uint32_t kTypeVersion = 16;       // RT_VERSION
constexpr uint32_t kNameVersionInfo = 1;    // VS_VERSION_INFO
constexpr uint32_t kHighBit = 0x80000000u;  // name is a string / entry is a subdirectory

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kLfanewOffset = 0x3C;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kResourceDirectorySize = 16;
constexpr size_t kResourceEntrySize = 8;
constexpr size_t kResourceDataEntrySize = 16;
constexpr size_t kNodeHeaderSize = 6;  // wLength, wValueLength, wType
constexpr uint16_t kNodeTypeText = 1;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

size_t Align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

struct Section {
    uint32_t virtualAddress;
    uint32_t span;  // bytes present both in the file and in the mapped section
    uint32_t rawOffset;
};

struct ResourceEntry {
    uint32_t name;
    uint32_t target;

    bool IsDirectory() const { return (target & kHighBit) != 0; }
};

// One level of the resource tree: the entries named by strings come first, then those
// named by numbers in ascending order.
struct ResourceDirectory {
    std::vector<ResourceEntry> entries;
    size_t namedCount = 0;

    // The entry with the number `id`, looked up as Windows' loader does: by halving among
    // the numbered entries (so an unsorted directory hides what it hides there too), and
    // only when it is a subdirectory exactly when `directory` asks for one.
    const ResourceEntry* FindById(uint32_t id, bool directory) const {
        size_t low = namedCount;
        size_t high = entries.size();
        while (low < high) {
            const size_t middle = low + (high - low) / 2;
            const ResourceEntry& entry = entries[middle];
            // A string name misplaced among the numbers is no number, whatever its low bits.
            const uint32_t number = entry.name;
            if (number == id) return entry.IsDirectory() == directory ? &entry : nullptr;
            if (number > id) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        return nullptr;
    }
    // The first entry of either kind that is (or is not) a subdirectory.
    const ResourceEntry* First(bool directory) const {
        for (const ResourceEntry& entry : entries) {
            if (entry.IsDirectory() == directory) return &entry;
        }
        return nullptr;
    }
};

// The languages the loader tries, in this order, for a resource asked for in no particular
// language (FindResourceW, which GetFileVersionInfoW uses) on a Simplified Chinese
// installation: neutral, the user's and the system's Chinese (PRC), Chinese with a
// neutral sublanguage, then US English; after them the first language there is.
constexpr uint16_t kLanguageOrder[] = {0x0000, 0x0804, 0x0004, 0x0409};

// One PE image, read through its headers. Every read goes through ReadAt after the range
// has been checked against the image size, so a hostile size can neither make a read fail
// late nor make a large buffer be allocated for bytes that are not there.
class Image {
public:
    Image(uint64_t size, const ReadAt& read) : m_size(size), m_read(read) {}

    bool Load();
    bool ReadVersionBlock(std::vector<uint8_t>& block) const;

private:
    bool Read(uint64_t offset, size_t size, uint8_t* out) const {
        return offset <= m_size && size <= m_size - offset && m_read(offset, size, out);
    }
    bool MapRva(uint64_t rva, size_t size, uint64_t& offset) const;
    bool ReadRva(uint64_t rva, size_t size, uint8_t* out) const {
        uint64_t offset;
        return MapRva(rva, size, offset) && Read(offset, size, out);
    }
    bool ReadDirectory(uint32_t offset, ResourceDirectory& directory) const;

    uint64_t m_size;
    const ReadAt& m_read;
    std::vector<Section> m_sections;
    uint32_t m_resourceRva = 0;
};

bool Image::Load() {
    uint8_t dos[kDosHeaderSize];
    if (!Read(0, sizeof dos, dos) || Le16(dos) != kDosMagic) return false;
    const uint64_t ntOffset = Le32(dos + kLfanewOffset);

    uint8_t nt[4 + kCoffHeaderSize + 2];  // signature, COFF header, optional header magic
    if (!Read(ntOffset, sizeof nt, nt) || Le32(nt) != kPeSignature) return false;
    const uint8_t* coff = nt + 4;
    const size_t sectionCount = Le16(coff + 2);
    const size_t optionalSize = Le16(coff + 16);
    const uint64_t optionalOffset = ntOffset + 4 + kCoffHeaderSize;

    // The data directories sit at different places in the two optional header forms.
    size_t countField;
    size_t directories;
    switch (Le16(nt + 4 + kCoffHeaderSize)) {
        case kMagicPe32:
            countField = 92;
            directories = 96;
            break;
        case kMagicPe32Plus:
            countField = 108;
            directories = 112;
            break;
        default:
            return false;
    }
    const size_t resourceField = directories + 8 * kDirectoryResource;
    if (optionalSize < resourceField + 8) return false;
    uint8_t field[8];
    if (!Read(optionalOffset + countField, 4, field) || Le32(field) <= kDirectoryResource) {
        return false;
    }
    if (!Read(optionalOffset + resourceField, 8, field)) return false;
    m_resourceRva = Le32(field);
    if (m_resourceRva == 0) return false;

    const uint64_t tableOffset = optionalOffset + optionalSize;
    const size_t tableSize = sectionCount * kSectionHeaderSize;
    if (sectionCount == 0 || tableOffset > m_size || tableSize > m_size - tableOffset) {
        return false;
    }
    std::vector<uint8_t> table(tableSize);
    if (!Read(tableOffset, tableSize, table.data())) return false;
    m_sections.reserve(sectionCount);
    for (size_t i = 0; i < sectionCount; ++i) {
        const uint8_t* h = table.data() + i * kSectionHeaderSize;
        const uint32_t virtualSize = Le32(h + 8);
        const uint32_t rawSize = Le32(h + 16);
        // Bytes past VirtualSize are not part of the section once mapped; some linkers
        // leave VirtualSize at 0, and then the raw size is all there is.
        const uint32_t span = virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize;
        m_sections.push_back(Section{Le32(h + 12), span, Le32(h + 20)});
    }
    return true;
}

bool Image::MapRva(uint64_t rva, size_t size, uint64_t& offset) const {
    for (const Section& s : m_sections) {
        if (rva >= s.virtualAddress && rva - s.virtualAddress <= s.span &&
            size <= s.span - (rva - s.virtualAddress)) {
            offset = static_cast<uint64_t>(s.rawOffset) + (rva - s.virtualAddress);
            return offset <= m_size && size <= m_size - offset;
        }
    }
    return false;
}

// Reads the entries of the resource directory at `offset` from the start of the resource
// section. An empty directory counts as unreadable: the caller needs an entry from it.
bool Image::ReadDirectory(uint32_t offset, ResourceDirectory& directory) const {
    directory.entries.clear();
    directory.namedCount = 0;
    const uint64_t rva = static_cast<uint64_t>(m_resourceRva) + offset;
    uint8_t header[kResourceDirectorySize];
    if (!ReadRva(rva, sizeof header, header)) return false;
    const size_t named = Le16(header + 12);
    const size_t count = named + Le16(header + 14);
    const size_t bytes = count * kResourceEntrySize;
    uint64_t fileOffset;
    if (count == 0 || !MapRva(rva + kResourceDirectorySize, bytes, fileOffset)) return false;
    std::vector<uint8_t> raw(bytes);
    if (!Read(fileOffset, bytes, raw.data())) return false;
    directory.entries.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = raw.data() + i * kResourceEntrySize;
        directory.entries.push_back(ResourceEntry{Le32(e), Le32(e + 4)});
    }
    directory.namedCount = named;
    return true;
}

// The resource tree has exactly three levels (type, name, language) and each is read once:
// an entry that points back to a directory already visited cannot make this loop. The
// choice at each level is the one GetFileVersionInfoW makes: type 16, name 1, and the
// language by kLanguageOrder.
bool Image::ReadVersionBlock(std::vector<uint8_t>& block) const {
    ResourceDirectory directory;
    if (!ReadDirectory(0, directory)) return false;
    const ResourceEntry* type = directory.FindById(kTypeVersion, true);
    if (type == nullptr) return false;

    if (!ReadDirectory(type->target & ~kHighBit, directory)) return false;
    const ResourceEntry* name = directory.FindById(kNameVersionInfo, true);
    if (name == nullptr) return false;

    if (!ReadDirectory(name->target & ~kHighBit, directory)) return false;
    const ResourceEntry* language = nullptr;
    for (uint16_t id : kLanguageOrder) {
        if ((language = directory.FindById(id, false)) != nullptr) break;
    }
    if (language == nullptr) language = directory.First(false);
    if (language == nullptr) return false;

    uint8_t data[kResourceDataEntrySize];
    if (!ReadRva(static_cast<uint64_t>(m_resourceRva) + language->target, sizeof data, data)) {
        return false;
    }
    const uint32_t blockRva = Le32(data);
    const uint32_t resourceSize = Le32(data + 4);

    // The root node's length is the block's length; it must fit in the resource.
    uint8_t length[2];
    if (!ReadRva(blockRva, sizeof length, length)) return false;
    const size_t blockSize = Le16(length);
    if (blockSize < kNodeHeaderSize || blockSize > resourceSize) return false;
    block.resize(blockSize);
    if (!ReadRva(blockRva, blockSize, block.data())) {
        block.clear();
        return false;
    }
    return true;
}

// One node of a version block: wLength, wValueLength, wType, a NUL-terminated UTF-16 key,
// padding to 32 bits, the value, padding, then the children up to the node's end.
// Offsets are from the start of the block, which is where the 32-bit alignment counts.
// The blocks of 16-bit (NE) images are narrow: no wType, and an 8-bit key and text in the
// ANSI code page.
struct Node {
    size_t end;
    size_t keyBegin;
    size_t keyEnd;  // at the key's NUL
    size_t valueBegin;
    size_t valueLength;  // in characters for text, in bytes otherwise
    size_t childrenBegin;
};

// Windows tells the two forms apart by the first byte after the two lengths: a key's
// first character in a narrow block, wType (0 or 1) in a wide one.
bool IsNarrowBlock(const uint8_t* block, size_t size) { return size > 4 && block[4] >= 0x20; }

// Parses the node at `offset`, which must lie wholly before `limit` (its parent's end).
bool ParseNode(const uint8_t* block, size_t offset, size_t limit, bool narrow, Node& node) {
    const size_t header = narrow ? 4 : kNodeHeaderSize;
    const size_t unit = narrow ? 1 : 2;
    if (offset > limit || limit - offset < header) return false;
    const size_t length = Le16(block + offset);
    if (length < header || length > limit - offset) return false;
    node.end = offset + length;
    node.valueLength = Le16(block + offset + 2);
    const bool text = !narrow && Le16(block + offset + 4) == kNodeTypeText;

    node.keyBegin = offset + header;
    size_t p = node.keyBegin;
    while (p + unit <= node.end && (narrow ? block[p] : Le16(block + p)) != 0)
        p += unit;
    if (p + unit > node.end) return false;  // the key has no terminator inside its node
    node.keyEnd = p;
    node.valueBegin = Align4(p + unit);
    node.childrenBegin = Align4(node.valueBegin + (text ? 2 : 1) * node.valueLength);
    return true;
}

WString NarrowText(const uint8_t* begin, const uint8_t* end) {
    const std::string_view bytes(reinterpret_cast<const char*>(begin),
                                 static_cast<size_t>(end - begin));
    return MultiByteToWide(AnsiCodePage(), bytes).value_or(WString());
}

bool KeyEquals(const uint8_t* block, const Node& node, bool narrow, WStringView key) {
    if (narrow) {
        return wstr::EqualsNoCase(NarrowText(block + node.keyBegin, block + node.keyEnd), key);
    }
    if ((node.keyEnd - node.keyBegin) / 2 != key.size()) return false;
    WString text;
    text.reserve(key.size());
    for (size_t p = node.keyBegin; p < node.keyEnd; p += 2) {
        text.push_back(static_cast<char16_t>(Le16(block + p)));
    }
    return wstr::EqualsNoCase(text, key);
}

// The version block of a 16-bit (NE) image: its resource table lists types, each with its
// resources; the block is the resource of type 16 named 1, at offset << shift.
bool ExtractNeVersionBlock(uint64_t imageSize, const ReadAt& read, uint64_t neOffset,
                           std::vector<uint8_t>& block) {
    auto readChecked = [&](uint64_t offset, size_t size, uint8_t* out) {
        return offset <= imageSize && size <= imageSize - offset && read(offset, size, out);
    };
    constexpr size_t kNeHeaderSize = 0x40;
    constexpr uint16_t kNeTypeVersion = 0x8000 | kTypeVersion;  // numbered: the high bit
    constexpr uint16_t kNeNameVersionInfo = 0x8000 | kNameVersionInfo;
    constexpr size_t kTypeInfoSize = 8;
    constexpr size_t kNameInfoSize = 12;
    uint8_t header[kNeHeaderSize];
    if (!readChecked(neOffset, sizeof header, header)) return false;
    const size_t tableBegin = Le16(header + 0x24);  // resource table
    const size_t tableEnd = Le16(header + 0x26);    // the resident names that follow it
    if (tableEnd <= tableBegin + 2) return false;
    std::vector<uint8_t> table(tableEnd - tableBegin);
    if (!readChecked(neOffset + tableBegin, table.size(), table.data())) return false;
    const unsigned shift = Le16(table.data());
    if (shift > 16) return false;  // offsets and lengths are 16-bit units of 2^shift bytes

    for (size_t at = 2; at + kTypeInfoSize <= table.size();) {
        const uint16_t type = Le16(&table[at]);
        const size_t count = Le16(&table[at + 2]);
        const size_t names = at + kTypeInfoSize;
        if (type == 0 || count > (table.size() - names) / kNameInfoSize) return false;
        if (type != kNeTypeVersion) {
            at = names + count * kNameInfoSize;
            continue;
        }
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* name = &table[names + i * kNameInfoSize];
            if (Le16(name + 6) != kNeNameVersionInfo) continue;
            const uint64_t offset = static_cast<uint64_t>(Le16(name)) << shift;
            const uint64_t length = static_cast<uint64_t>(Le16(name + 2)) << shift;
            uint8_t root[2];
            if (!readChecked(offset, sizeof root, root)) return false;
            const size_t blockSize = Le16(root);
            if (blockSize < kNodeHeaderSize || blockSize > length) return false;
            block.resize(blockSize);
            if (!readChecked(offset, blockSize, block.data()) ||
                !IsNarrowBlock(block.data(), blockSize)) {
                block.clear();
                return false;
            }
            return true;
        }
        return false;
    }
    return false;
}

}  // namespace

bool ExtractVersionBlock(uint64_t imageSize, const ReadAt& read, std::vector<uint8_t>& block) {
    block.clear();
    // A read that fails is an error wherever it happens, this first look included.
    uint8_t dos[kDosHeaderSize];
    uint8_t signature[2];
    if (imageSize < sizeof dos || !read(0, sizeof dos, dos) || Le16(dos) != kDosMagic) {
        return false;
    }
    const uint64_t offset = Le32(dos + kLfanewOffset);
    if (offset > imageSize || 2 > imageSize - offset || !read(offset, 2, signature)) return false;
    if (signature[0] == 'N' && signature[1] == 'E') {
        return ExtractNeVersionBlock(imageSize, read, offset, block);
    }
    Image image(imageSize, read);
    return image.Load() && image.ReadVersionBlock(block);
}

bool ExtractVersionBlock(const uint8_t* data, size_t size, std::vector<uint8_t>& block) {
    ReadAt read = [data, size](uint64_t offset, size_t n, uint8_t* out) {
        if (offset > size || n > size - offset) return false;
        if (n > 0) std::memcpy(out, data + offset, n);
        return true;
    };
    return ExtractVersionBlock(size, read, block);
}

bool FindVersionString(const uint8_t* block, size_t size, WStringView subBlock, WString& value) {
    value.clear();
    if (block == nullptr) return false;
    const bool narrow = IsNarrowBlock(block, size);
    Node node;
    if (!ParseNode(block, 0, size, narrow, node)) return false;

    bool descended = false;
    size_t start = 0;
    while (start <= subBlock.size()) {
        size_t stop = subBlock.find(u'\\', start);
        if (stop == WStringView::npos) stop = subBlock.size();
        const WStringView key = subBlock.substr(start, stop - start);
        start = stop + 1;
        if (key.empty()) continue;

        // Every sibling is at least a header long, so this walk ends within the node.
        bool found = false;
        for (size_t pos = node.childrenBegin; pos < node.end;) {
            Node child;
            if (!ParseNode(block, pos, node.end, narrow, child)) return false;
            if (KeyEquals(block, child, narrow, key)) {
                node = child;
                found = true;
                break;
            }
            pos = Align4(child.end);
        }
        if (!found) return false;
        descended = true;
    }
    if (!descended) return false;

    if (narrow) {
        // ANSI text up to its NUL, as Windows converts it.
        size_t end = node.valueBegin;
        while (end < node.end && block[end] != 0)
            ++end;
        if (node.valueBegin < end) value = NarrowText(block + node.valueBegin, block + end);
        return true;
    }
    // Compilers disagree on whether a text's wValueLength counts characters or bytes; the
    // larger reading, cut at the node's end and at the first NUL, is right for both.
    const size_t limit = std::min(node.end, node.valueBegin + 2 * node.valueLength);
    for (size_t p = node.valueBegin; p + 2 <= limit; p += 2) {
        const char16_t c = static_cast<char16_t>(Le16(block + p));
        if (c == 0) break;
        value.push_back(c);
    }
    return true;
}

}  // namespace pe
}  // namespace plat
