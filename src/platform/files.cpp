// Operations on files that need nothing beyond the File class.
#include "platform/files.h"

#include <atomic>

namespace plat {

namespace {
std::atomic<FileFaultFunction> g_fileFault{nullptr};
}  // namespace

void SetFileFaultForTesting(FileFaultFunction function) { g_fileFault = function; }

bool FileFaultInjected(FileOperation operation, const WString& path) {
    FileFaultFunction fault = g_fileFault.load();
    return fault != nullptr && fault(operation, path);
}

namespace {

bool ReadAll(const WString& path, File::Mode mode, std::string& bytes) {
    bytes.clear();
    File file;
    if (!file.Open(path, mode)) return false;
    char buffer[65536];
    for (;;) {
        long long n = file.Read(buffer, sizeof buffer);
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

bool ReadWholeFile(const WString& path, std::string& bytes) {
    return ReadAll(path, File::Mode::kRead, bytes);
}

bool ReadRegularFile(const WString& path, std::string& bytes) {
    return ReadAll(path, File::Mode::kReadRegular, bytes);
}

}  // namespace plat
