#include "support/shim_vfs.h"

#include <sqlite3.h>

namespace testsupport {
namespace {

static_assert(sizeof(sqlite3_int64) == sizeof(int64_t), "file offsets pass through unchanged");

// Our file: the default VFS's own follows it in the same allocation, which SQLite aligns
// for any type; keeping our part a multiple of 8 bytes keeps the real one aligned too.
struct alignas(8) ShimFile {
    sqlite3_file base;
    ShimVfs* owner;
    ShimVfs::File file;
};

ShimFile* Of(sqlite3_file* file) { return reinterpret_cast<ShimFile*>(file); }
sqlite3_file* Real(sqlite3_file* file) { return Of(file)->file.real; }
ShimVfs* Owner(sqlite3_vfs* vfs) { return static_cast<ShimVfs*>(vfs->pAppData); }

int Close(sqlite3_file* file) { return Real(file)->pMethods->xClose(Real(file)); }
int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
    return Real(file)->pMethods->xRead(Real(file), data, amount, offset);
}
int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    return Of(file)->owner->Write(Of(file)->file, data, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    return Of(file)->owner->Truncate(Of(file)->file, size);
}
int Sync(sqlite3_file* file, int flags) { return Of(file)->owner->Sync(Of(file)->file, flags); }
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

int Open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    ShimFile* ours = Of(file);
    ours->base.pMethods = nullptr;
    ours->owner = Owner(vfs);
    ours->file = ShimVfs::File();
    ours->file.real = reinterpret_cast<sqlite3_file*>(ours + 1);
    ours->file.real->pMethods = nullptr;
    int rc = ours->owner->Open(name, ours->file, flags, outFlags);
    if (ours->file.real->pMethods != nullptr) ours->base.pMethods = &kMethods;
    return rc;
}
int Delete(sqlite3_vfs* vfs, const char* name, int syncDir) {
    return Owner(vfs)->Delete(name, syncDir);
}

// The rest go straight to the default VFS.
sqlite3_vfs* RealOf(sqlite3_vfs* vfs) { return Owner(vfs)->Real(); }
int Access(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
    return RealOf(vfs)->xAccess(RealOf(vfs), name, flags, out);
}
int FullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
    return RealOf(vfs)->xFullPathname(RealOf(vfs), name, size, out);
}
void* DlOpen(sqlite3_vfs* vfs, const char* name) { return RealOf(vfs)->xDlOpen(RealOf(vfs), name); }
void DlError(sqlite3_vfs* vfs, int size, char* out) {
    RealOf(vfs)->xDlError(RealOf(vfs), size, out);
}
void (*DlSym(sqlite3_vfs* vfs, void* handle, const char* name))(void) {
    return RealOf(vfs)->xDlSym(RealOf(vfs), handle, name);
}
void DlClose(sqlite3_vfs* vfs, void* handle) { RealOf(vfs)->xDlClose(RealOf(vfs), handle); }
int Randomness(sqlite3_vfs* vfs, int size, char* out) {
    return RealOf(vfs)->xRandomness(RealOf(vfs), size, out);
}
int Sleep(sqlite3_vfs* vfs, int micros) { return RealOf(vfs)->xSleep(RealOf(vfs), micros); }
int CurrentTime(sqlite3_vfs* vfs, double* out) {
    return RealOf(vfs)->xCurrentTime(RealOf(vfs), out);
}
int GetLastError(sqlite3_vfs* vfs, int size, char* out) {
    sqlite3_vfs* real = RealOf(vfs);
    return real->xGetLastError ? real->xGetLastError(real, size, out) : 0;
}
int CurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* out) {
    return RealOf(vfs)->xCurrentTimeInt64(RealOf(vfs), out);
}

}  // namespace

struct ShimVfs::Impl {
    sqlite3_vfs vfs{};
    sqlite3_vfs* real = nullptr;
};

ShimVfs::ShimVfs(const char* name) : m_impl(std::make_unique<Impl>()) {
    sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
    m_impl->real = real;
    sqlite3_vfs& vfs = m_impl->vfs;
    vfs.iVersion = 2;
    vfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + real->szOsFile;
    vfs.mxPathname = real->mxPathname;
    vfs.zName = name;
    vfs.pAppData = this;
    vfs.xOpen = testsupport::Open;
    vfs.xDelete = testsupport::Delete;
    vfs.xAccess = Access;
    vfs.xFullPathname = FullPathname;
    vfs.xDlOpen = DlOpen;
    vfs.xDlError = DlError;
    vfs.xDlSym = DlSym;
    vfs.xDlClose = DlClose;
    vfs.xRandomness = Randomness;
    vfs.xSleep = testsupport::Sleep;
    vfs.xCurrentTime = CurrentTime;
    vfs.xGetLastError = testsupport::GetLastError;
    vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    sqlite3_vfs_register(&vfs, 1);
}

ShimVfs::~ShimVfs() {
    sqlite3_vfs_unregister(&m_impl->vfs);
    sqlite3_vfs_register(m_impl->real, 1);
}

int ShimVfs::Open(const char* name, File& file, int flags, int* outFlags) {
    return Real()->xOpen(Real(), name, file.real, flags, outFlags);
}

int ShimVfs::Delete(const char* name, int syncDir) {
    return Real()->xDelete(Real(), name, syncDir);
}

int ShimVfs::Write(File& file, const void* data, int amount, int64_t offset) {
    return file.real->pMethods->xWrite(file.real, data, amount, offset);
}

int ShimVfs::Truncate(File& file, int64_t size) {
    return file.real->pMethods->xTruncate(file.real, size);
}

int ShimVfs::Sync(File& file, int flags) { return file.real->pMethods->xSync(file.real, flags); }

sqlite3_vfs* ShimVfs::Real() const { return m_impl->real; }

int ShimVfs::FileSize(File& file, int64_t* size) {
    sqlite3_int64 value = 0;
    int rc = file.real->pMethods->xFileSize(file.real, &value);
    *size = value;
    return rc;
}

}  // namespace testsupport
