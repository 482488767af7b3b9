#include "reliability/quota_vfs.h"

#include <sqlite3.h>

#include <cstring>

namespace reliability {
namespace {

struct State {
    sqlite3_vfs vfs{};
    sqlite3_vfs* real = nullptr;
    int64_t remaining = 0;
    int64_t used = 0;
    bool unlimited = false;
    bool readOnly = false;
    bool exhausted = false;
};
State g_state;

// Our file: the real one follows it in the same allocation.
struct QuotaFile {
    sqlite3_file base;
    sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

QuotaFile* Of(sqlite3_file* file) { return reinterpret_cast<QuotaFile*>(file); }

int Close(sqlite3_file* file) { return Of(file)->Real()->pMethods->xClose(Of(file)->Real()); }
int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
    return Of(file)->Real()->pMethods->xRead(Of(file)->Real(), data, amount, offset);
}
int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    sqlite3_file* real = Of(file)->Real();
    if (g_state.readOnly) {
        g_state.exhausted = true;
        return SQLITE_READONLY;
    }
    sqlite3_int64 size = 0;
    if (real->pMethods->xFileSize(real, &size) != SQLITE_OK) return SQLITE_IOERR_WRITE;
    const sqlite3_int64 growth = offset + amount - size;
    if (growth > 0 && !g_state.unlimited) {
        if (growth > g_state.remaining) {
            g_state.exhausted = true;
            return SQLITE_FULL;
        }
        g_state.remaining -= growth;
    }
    if (growth > 0) g_state.used += growth;
    return real->pMethods->xWrite(real, data, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    if (g_state.readOnly) return SQLITE_READONLY;
    return Of(file)->Real()->pMethods->xTruncate(Of(file)->Real(), size);
}
int Sync(sqlite3_file* file, int flags) {
    return Of(file)->Real()->pMethods->xSync(Of(file)->Real(), flags);
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    return Of(file)->Real()->pMethods->xFileSize(Of(file)->Real(), size);
}
int Lock(sqlite3_file* file, int level) {
    return Of(file)->Real()->pMethods->xLock(Of(file)->Real(), level);
}
int Unlock(sqlite3_file* file, int level) {
    return Of(file)->Real()->pMethods->xUnlock(Of(file)->Real(), level);
}
int CheckReservedLock(sqlite3_file* file, int* out) {
    return Of(file)->Real()->pMethods->xCheckReservedLock(Of(file)->Real(), out);
}
int FileControl(sqlite3_file* file, int op, void* arg) {
    return Of(file)->Real()->pMethods->xFileControl(Of(file)->Real(), op, arg);
}
int SectorSize(sqlite3_file* file) {
    return Of(file)->Real()->pMethods->xSectorSize(Of(file)->Real());
}
int DeviceCharacteristics(sqlite3_file* file) {
    return Of(file)->Real()->pMethods->xDeviceCharacteristics(Of(file)->Real());
}
int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
    return Of(file)->Real()->pMethods->xShmMap(Of(file)->Real(), region, size, extend, out);
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
    return Of(file)->Real()->pMethods->xShmLock(Of(file)->Real(), offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) { Of(file)->Real()->pMethods->xShmBarrier(Of(file)->Real()); }
int ShmUnmap(sqlite3_file* file, int deleteFlag) {
    return Of(file)->Real()->pMethods->xShmUnmap(Of(file)->Real(), deleteFlag);
}

// Version 2: no memory-mapped reads, which would bypass nothing here but need two more
// methods.
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
    QuotaFile* ours = Of(file);
    ours->base.pMethods = nullptr;
    if (g_state.readOnly && (flags & SQLITE_OPEN_CREATE) != 0) {
        int exists = 0;
        if (name == nullptr ||
            g_state.real->xAccess(g_state.real, name, SQLITE_ACCESS_EXISTS, &exists) != SQLITE_OK ||
            !exists) {
            g_state.exhausted = true;
            return SQLITE_CANTOPEN;
        }
    }
    int rc = g_state.real->xOpen(g_state.real, name, ours->Real(), flags, outFlags);
    if (ours->Real()->pMethods != nullptr) ours->base.pMethods = &kMethods;
    return rc;
}
int Delete(sqlite3_vfs*, const char* name, int syncDir) {
    if (g_state.readOnly) return SQLITE_IOERR_DELETE;
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

ScopedQuotaVfs::ScopedQuotaVfs(int64_t budget, bool readOnly) {
    g_state = State();
    g_state.real = sqlite3_vfs_find(nullptr);
    g_state.remaining = budget;
    g_state.readOnly = readOnly;
    sqlite3_vfs& vfs = g_state.vfs;
    vfs.iVersion = 2;
    vfs.szOsFile = static_cast<int>(sizeof(QuotaFile)) + g_state.real->szOsFile;
    vfs.mxPathname = g_state.real->mxPathname;
    vfs.zName = "quota";
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
    sqlite3_vfs_register(&vfs, 1);
}

ScopedQuotaVfs::~ScopedQuotaVfs() {
    sqlite3_vfs_unregister(&g_state.vfs);
    sqlite3_vfs_register(g_state.real, 1);
}

bool ScopedQuotaVfs::Exhausted() { return g_state.exhausted; }

int64_t ScopedQuotaVfs::Used() { return g_state.used; }

void ScopedQuotaVfs::Lift() {
    g_state.unlimited = true;
    g_state.readOnly = false;
}

}  // namespace reliability
