#include "engine/watch_vfs.h"

#include <optional>

#include "support/shim_vfs.h"

namespace enginetest {
namespace {

struct State {
    std::string watched;
    sqlite3_int64 limit = -1;
    std::vector<std::string> events;
};
State g_state;

class WatchVfs : public testsupport::ShimVfs {
public:
    WatchVfs() : ShimVfs("watch") {}

    int Open(const char* name, File& file, int flags, int* outFlags) override {
        file.watched =
            (flags & SQLITE_OPEN_MAIN_DB) != 0 && name != nullptr && g_state.watched == name;
        return ShimVfs::Open(name, file, flags, outFlags);
    }
    int Write(File& file, const void* data, int amount, int64_t offset) override {
        if (file.watched) {
            if (g_state.limit >= 0 && offset + amount > g_state.limit) {
                int64_t size = 0;
                FileSize(file, &size);
                if (offset + amount > size) return SQLITE_FULL;
            }
            g_state.events.push_back("write");
        }
        return ShimVfs::Write(file, data, amount, offset);
    }
    int Sync(File& file, int flags) override {
        if (file.watched) g_state.events.push_back("sync");
        return ShimVfs::Sync(file, flags);
    }
};
std::optional<WatchVfs> g_vfs;

}  // namespace

ScopedWatchVfs::ScopedWatchVfs(std::string nativePath) {
    g_state = State();
    sqlite3_vfs* real = g_vfs.emplace().Real();
    // SQLite opens a file under its full name: find out what that is for the watched one.
    std::vector<char> full(static_cast<size_t>(real->mxPathname) + 1);
    g_state.watched = real->xFullPathname(real, nativePath.c_str(), static_cast<int>(full.size()),
                                          full.data()) == SQLITE_OK
                          ? std::string(full.data())
                          : nativePath;
}

ScopedWatchVfs::~ScopedWatchVfs() { g_vfs.reset(); }

void ScopedWatchVfs::LimitSize(sqlite3_int64 bytes) { g_state.limit = bytes; }

void ScopedWatchVfs::Note(const std::string& event) { g_state.events.push_back(event); }

const std::vector<std::string>& ScopedWatchVfs::Events() { return g_state.events; }

}  // namespace enginetest
