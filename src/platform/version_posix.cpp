// Version blocks without the Windows version library: the executable is read piecewise
// through File, so a large executable costs a few small reads, not its whole size.
#include "platform/files.h"
#include "platform/pe_version.h"
#include "platform/version.h"

namespace plat {

bool ReadFileVersionBlock(const WString& path, std::vector<uint8_t>& block) {
    block.clear();
    // Only regular files: opening a pipe or a device that looks like the executable could
    // block for ever.
    File file;
    if (!file.Open(path, File::Mode::kReadRegular) || !file.SeekToEnd()) return false;
    const int64_t size = file.Position();
    if (size < 0) return false;

    pe::ReadAt read = [&file](uint64_t offset, size_t n, uint8_t* out) {
        if (!file.Seek(static_cast<int64_t>(offset))) return false;
        while (n > 0) {
            long long got = file.Read(out, n);
            if (got <= 0) return false;  // an error, or the file shrank under us
            out += got;
            n -= static_cast<size_t>(got);
        }
        return true;
    };
    return pe::ExtractVersionBlock(static_cast<uint64_t>(size), read, block);
}

bool QueryVersionValue(const std::vector<uint8_t>& block, const WString& subBlock, WString& value) {
    return pe::FindVersionString(block.data(), block.size(), subBlock, value);
}

}  // namespace plat
