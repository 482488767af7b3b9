// A VFS placed in front of SQLite's default one that passes every call through to it. A
// test derives from it and overrides the few calls it wants to watch or refuse, calling
// the base version to let one through. While an object lives it is SQLite's default VFS,
// so the connections opened meanwhile use it; one at a time.
#pragma once

#include <cstdint>
#include <memory>

struct sqlite3_file;
struct sqlite3_vfs;

namespace testsupport {

class ShimVfs {
public:
    // One open file as the overridable calls see it.
    struct File {
        sqlite3_file* real = nullptr;  // the default VFS's own file
        bool watched = false;          // the subclass's mark, set in Open
    };

    ShimVfs(const ShimVfs&) = delete;
    ShimVfs& operator=(const ShimVfs&) = delete;
    // Restores the previous default.
    virtual ~ShimVfs();

    // The calls a subclass may take over; each of these passes through to the default VFS.
    // Open fills `file.real`; the file counts as open when SQLite's does.
    virtual int Open(const char* name, File& file, int flags, int* outFlags);
    virtual int Delete(const char* name, int syncDir);
    virtual int Write(File& file, const void* data, int amount, int64_t offset);
    virtual int Truncate(File& file, int64_t size);
    virtual int Sync(File& file, int flags);

    // The VFS this one stands in front of.
    sqlite3_vfs* Real() const;

protected:
    // Installs the VFS under `name` as SQLite's default.
    explicit ShimVfs(const char* name);

    // The file's present size in `size`; SQLite's result code.
    static int FileSize(File& file, int64_t* size);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace testsupport
