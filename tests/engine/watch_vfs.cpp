#include "engine/watch_vfs.h"

#include <cstring>

namespace enginetest {
namespace {

struct State {
    sqlite3_vfs vfs{};
    sqlite3_vfs* real = nullptr;
    std::string watched;
    sqlite3_int64 limit = -1;
    std::vector<std::string> events;
};
State g_state;

// Our file: the real one follows it in the same allocation.
struct WatchFile {
    sqlite3_file base;
    bool watched;
    sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

WatchFile* Of(sqlite3_file* file) { return reinterpret_cast<WatchFile*>(file); }
sqlite3_file* Real(sqlite3_file* file) { return Of(file)->Real(); }

int Close(sqlite3_file* file) { return Real(file)->pMethods->xClose(Real(file)); }
int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
    return Real(file)->pMethods->xRead(Real(file), data, amount, offset);
}
int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    if (Of(file)->watched) {
        if (g_state.limit >= 0 && offset + amount > g_state.limit) {
            sqlite3_int64 size = 0;
            Real(file)->pMethods->xFileSize(Real(file), &size);
            if (offset + amount > size) return SQLITE_FULL;
        }
        g_state.events.push_back("write");
    }
    return Real(file)->pMethods->xWrite(Real(file), data, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    return Real(file)->pMethods->xTruncate(Real(file), size);
}
int Sync(sqlite3_file* file, int flags) {
    if (Of(file)->watched) g_state.events.push_back("sync");
    return Real(file)->pMethods->xSync(Real(file), flags);
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    return Real(file)->pMethods->xFileSize(Real(file), size);
}
int Lock(sqlite3_file* file, int level) { return Real(file)->pMethods->xLock(Real(file), level); }
int Unlock(sqlite3_file* file, int level) {
    return Real(file)->pMethods->xUnlock(Real(file), level);
}
int CheckReservedLock(sqlite3_file* file, int* out) {
    return Real(file)->pMethods->xCheckReservedLock(Real(file), out);
}
int FileControl(sqlite3_file* file, int op, void* arg) {
    return Real(file)->pMethods->xFileControl(Real(file), op, arg);
}
int SectorSize(sqlite3_file* file) { return Real(file)->pMethods->xSectorSize(Real(file)); }
int DeviceCharacteristics(sqlite3_file* file) {
    return Real(file)->pMethods->xDeviceCharacteristics(Real(file));
}
int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
    return Real(file)->pMethods->xShmMap(Real(file), region, size, extend, out);
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
    return Real(file)->pMethods->xShmLock(Real(file), offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) { Real(file)->pMethods->xShmBarrier(Real(file)); }
int ShmUnmap(sqlite3_file* file, int deleteFlag) {
    return Real(file)->pMethods->xShmUnmap(Real(file), deleteFlag);
}

const sqlite3_io_methods kMethods = {
    2,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    ShmMap,
    ShmLock,
    ShmBarrier,
    ShmUnmap,
    nullptr,
    nullptr,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    WatchFile* ours = Of(file);
    ours->base.pMethods = nullptr;
    ours->watched =
        (flags & SQLITE_OPEN_MAIN_DB) != 0 && name != nullptr && g_state.watched == name;
    int rc = g_state.real->xOpen(g_state.real, name, ours->Real(), flags, outFlags);
    if (ours->Real()->pMethods != nullptr) ours->base.pMethods = &kMethods;
    return rc;
}
int Delete(sqlite3_vfs*, const char* name, int syncDir) {
    return g_state.real->xDelete(g_state.real, name, syncDir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
    return g_state.real->xAccess(g_state.real, name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return g_state.real->xFullPathname(g_state.real, name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_state.real->xDlOpen(g_state.real, name); }
void DlError(sqlite3_vfs*, int size, char* out) { g_state.real->xDlError(g_state.real, size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* name))(void) {
    return g_state.real->xDlSym(g_state.real, handle, name);
}
void DlClose(sqlite3_vfs*, void* handle) { g_state.real->xDlClose(g_state.real, handle); }
int Randomness(sqlite3_vfs*, int size, char* out) {
    return g_state.real->xRandomness(g_state.real, size, out);
}
int Sleep(sqlite3_vfs*, int micros) { return g_state.real->xSleep(g_state.real, micros); }
int CurrentTime(sqlite3_vfs*, double* out) { return g_state.real->xCurrentTime(g_state.real, out); }
int GetLastError(sqlite3_vfs*, int size, char* out) {
    return g_state.real->xGetLastError ? g_state.real->xGetLastError(g_state.real, size, out) : 0;
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
    return g_state.real->xCurrentTimeInt64(g_state.real, out);
}

}  // namespace

ScopedWatchVfs::ScopedWatchVfs(std::string nativePath) {
    g_state = State();
    g_state.real = sqlite3_vfs_find(nullptr);
    sqlite3_vfs& vfs = g_state.vfs;
    vfs.iVersion = 2;
    vfs.szOsFile = static_cast<int>(sizeof(WatchFile)) + g_state.real->szOsFile;
    vfs.mxPathname = g_state.real->mxPathname;
    vfs.zName = "watch";
    vfs.xOpen = Open;
    vfs.xDelete = Delete;
    vfs.xAccess = Access;
    vfs.xFullPathname = FullPathname;
    vfs.xDlOpen = DlOpen;
    vfs.xDlError = DlError;
    vfs.xDlSym = DlSym;
    vfs.xDlClose = DlClose;
    vfs.xRandomness = Randomness;
    vfs.xSleep = Sleep;
    vfs.xCurrentTime = CurrentTime;
    vfs.xGetLastError = GetLastError;
    vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    // SQLite opens a file under its full name: find out what that is for the watched one.
    std::vector<char> full(static_cast<size_t>(g_state.real->mxPathname) + 1);
    g_state.watched =
        g_state.real->xFullPathname(g_state.real, nativePath.c_str(), static_cast<int>(full.size()),
                                    full.data()) == SQLITE_OK
            ? std::string(full.data())
            : nativePath;
    sqlite3_vfs_register(&vfs, 1);
}

ScopedWatchVfs::~ScopedWatchVfs() {
    sqlite3_vfs_unregister(&g_state.vfs);
    sqlite3_vfs_register(g_state.real, 1);
}

void ScopedWatchVfs::LimitSize(sqlite3_int64 bytes) { g_state.limit = bytes; }

void ScopedWatchVfs::Note(const std::string& event) { g_state.events.push_back(event); }

const std::vector<std::string>& ScopedWatchVfs::Events() { return g_state.events; }

}  // namespace enginetest
