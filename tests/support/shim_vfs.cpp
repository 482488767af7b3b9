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

// Calls `Method` of the real file or VFS with the same arguments; its parameters come
// from the slot it fills.
template <auto Method, typename... Args>
auto Pass(sqlite3_file* file, Args... args) {
    return (Real(file)->pMethods->*Method)(Real(file), args...);
}
template <auto Method, typename... Args>
auto PassVfs(sqlite3_vfs* vfs, Args... args) {
    sqlite3_vfs* real = Owner(vfs)->Real();
    return (real->*Method)(real, args...);
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    return Of(file)->owner->Write(Of(file)->file, data, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    return Of(file)->owner->Truncate(Of(file)->file, size);
}
int Sync(sqlite3_file* file, int flags) { return Of(file)->owner->Sync(Of(file)->file, flags); }

// Version 2: no memory-mapped reads, which would bypass nothing here but need two more
// methods.
using Io = sqlite3_io_methods;
const sqlite3_io_methods kMethods = {2,
                                     Pass<&Io::xClose>,
                                     Pass<&Io::xRead>,
                                     Write,
                                     Truncate,
                                     Sync,
                                     Pass<&Io::xFileSize>,
                                     Pass<&Io::xLock>,
                                     Pass<&Io::xUnlock>,
                                     Pass<&Io::xCheckReservedLock>,
                                     Pass<&Io::xFileControl>,
                                     Pass<&Io::xSectorSize>,
                                     Pass<&Io::xDeviceCharacteristics>,
                                     Pass<&Io::xShmMap>,
                                     Pass<&Io::xShmLock>,
                                     Pass<&Io::xShmBarrier>,
                                     Pass<&Io::xShmUnmap>,
                                     nullptr,
                                     nullptr};

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

int GetLastError(sqlite3_vfs* vfs, int size, char* out) {
    sqlite3_vfs* real = Owner(vfs)->Real();
    return real->xGetLastError ? real->xGetLastError(real, size, out) : 0;
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
    vfs.xAccess = PassVfs<&sqlite3_vfs::xAccess>;
    vfs.xFullPathname = PassVfs<&sqlite3_vfs::xFullPathname>;
    vfs.xDlOpen = PassVfs<&sqlite3_vfs::xDlOpen>;
    vfs.xDlError = PassVfs<&sqlite3_vfs::xDlError>;
    vfs.xDlSym = PassVfs<&sqlite3_vfs::xDlSym>;
    vfs.xDlClose = PassVfs<&sqlite3_vfs::xDlClose>;
    vfs.xRandomness = PassVfs<&sqlite3_vfs::xRandomness>;
    vfs.xSleep = PassVfs<&sqlite3_vfs::xSleep>;
    vfs.xCurrentTime = PassVfs<&sqlite3_vfs::xCurrentTime>;
    vfs.xGetLastError = GetLastError;
    vfs.xCurrentTimeInt64 = PassVfs<&sqlite3_vfs::xCurrentTimeInt64>;
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
