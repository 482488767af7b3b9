// A VFS placed in front of SQLite's default one that watches one database file: it records
// every write and sync SQLite makes to it, in one sequence with the events a test notes
// itself, and can refuse to let the file grow past a size, as a full disk would.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace enginetest {

class ScopedWatchVfs {
public:
    // Installs the VFS as SQLite's default; connections opened from now on use it.
    // `nativePath` is the watched file as SQLite names it (plat::PathForSqlite).
    explicit ScopedWatchVfs(std::string nativePath);
    // Restores the previous default.
    ~ScopedWatchVfs();
    ScopedWatchVfs(const ScopedWatchVfs&) = delete;
    ScopedWatchVfs& operator=(const ScopedWatchVfs&) = delete;

    // From now on a write that would make the watched file larger than `bytes` fails with
    // SQLITE_FULL; -1 lifts the limit.
    static void LimitSize(sqlite3_int64 bytes);
    // Adds an event of the test's own to the sequence.
    static void Note(const std::string& event);
    // "write" and "sync" for the watched file, and the noted events, in order.
    static const std::vector<std::string>& Events();
};

}  // namespace enginetest
