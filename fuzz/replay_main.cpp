// Runs a fuzz target over files, without libFuzzer: the builds without Clang use it to
// replay the committed corpora as ordinary tests, under their own sanitizers.
//
//   <target>_replay FILE_OR_FOLDER...
//
// Exits with 1 when no input was found, so a misplaced corpus cannot pass unnoticed.
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const WString& path) {
    std::string bytes;
    if (!plat::ReadWholeFile(path, bytes)) {
        std::fprintf(stderr, "cannot read %s\n", ToUtf8(path).c_str());
        return 0;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const WString path = plat::FromNativePath(FromUtf8(argv[i]));
        if (!plat::IsDirectory(path)) {
            count += RunFile(path);
            continue;
        }
        for (const plat::FoundFile& file : plat::FindFiles(path + u"\\*")) {
            if (!file.directory) count += RunFile(path + u"\\" + file.name);
        }
    }
    std::printf("%d inputs run\n", count);
    return count > 0 ? 0 : 1;
}
