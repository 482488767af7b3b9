// Executables as they may come: any bytes. The reader must never read outside the image,
// and whatever block it finds must be one that its root node describes exactly.
#include <cstdlib>
#include <vector>

#include "platform/pe_version.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A reader that refuses to serve a range outside the image would hide a missing check
    // in the parser; this one stops the run instead.
    plat::pe::ReadAt read = [data, size](uint64_t offset, size_t n, uint8_t* out) {
        Check(offset <= size && n <= size - offset);
        for (size_t i = 0; i < n; ++i)
            out[i] = data[offset + i];
        return true;
    };
    std::vector<uint8_t> block{0};
    const bool found = plat::pe::ExtractVersionBlock(size, read, block);
    if (!found) {
        Check(block.empty());
        return 0;
    }
    Check(block.size() >= 6 && block.size() <= plat::pe::kMaxVersionBlock);
    Check((block[0] | block[1] << 8) == static_cast<int>(block.size()));

    for (const char16_t* path :
         {u"\\StringFileInfo\\080403A8\\FileVersion", u"\\StringFileInfo\\080403A8\\ProductVersion",
          u"\\StringFileInfo\\040904B0\\ProductVersion"}) {
        WString value;
        if (plat::pe::FindVersionString(block.data(), block.size(), path, value)) {
            // At least one byte of the block per character: two in a wide block, one in
            // the narrow block of a 16-bit image.
            Check(value.size() < block.size());
        } else {
            Check(value.empty());
        }
    }
    return 0;
}
