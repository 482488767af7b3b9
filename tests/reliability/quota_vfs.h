// A disk that fills up, at SQLite's level: a VFS placed in front of the default one that
// lets the files it opens grow by `budget` bytes in all, then answers every further
// growth with SQLITE_FULL, as a full disk would. Optionally it also refuses to create any
// file (SQLITE_CANTOPEN) and to write at all, like a folder that cannot be written. It
// works the same on every platform, where mounting a small file system does not.
#pragma once

#include <cstdint>

namespace reliability {

class ScopedQuotaVfs {
public:
    // Installs the VFS as SQLite's default; connections opened from now on use it.
    explicit ScopedQuotaVfs(int64_t budget, bool readOnly = false);
    // Restores the previous default.
    ~ScopedQuotaVfs();
    ScopedQuotaVfs(const ScopedQuotaVfs&) = delete;
    ScopedQuotaVfs& operator=(const ScopedQuotaVfs&) = delete;

    // True once a write was refused.
    static bool Exhausted();
    // Bytes the files have grown by so far.
    static int64_t Used();
    // Lets every file grow from now on: the disk has room again.
    static void Lift();
};

}  // namespace reliability
