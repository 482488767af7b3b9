// Version blocks as they may come: any bytes, looked up under the paths the program and
// others use. Values must come from inside the block, and a failed lookup must say so.
#include <cstdlib>
#include <vector>

#include "platform/pe_version.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact copy, so that the address sanitizer sees any read past the end.
    const std::vector<uint8_t> block(data, data + size);
    for (const char16_t* path :
         {u"\\StringFileInfo\\080403A8\\FileVersion", u"\\StringFileInfo\\080403A8\\ProductVersion",
          u"\\StringFileInfo\\040904B0\\FileVersion", u"\\VarFileInfo\\Translation",
          u"\\StringFileInfo", u"A\\B\\C\\D\\E\\F", u"\\", u""}) {
        WString value = u"stale";
        if (plat::pe::FindVersionString(block.data(), block.size(), path, value)) {
            // At least one byte of the block per character: two in a wide block, one in
            // the narrow block of a 16-bit image.
            Check(value.size() < block.size());
            for (char16_t c : value)
                Check(c != 0);
        } else {
            Check(value.empty());
        }
    }
    return 0;
}
