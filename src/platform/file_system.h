// The file system as the migration sees it: one interface for every file operation the
// engine and its markers make, so that a test can stand between them and the disk and make
// any of them fail (a sync, a read, a rename) at the moment it chooses. The real one calls
// the platform's functions (files.h); SQLite's own file access goes through SQLite.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/wstr.h"

namespace plat {

class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual bool Exists(const WString& path) = 0;
    virtual bool IsDirectory(const WString& path) = 0;
    virtual bool MakeDirectory(const WString& path) = 0;
    virtual bool MoveReplace(const WString& from, const WString& to) = 0;
    virtual MoveOutcome MoveIfUnused(const WString& from, const WString& to,
                                     const FileStamp* unchanged) = 0;
    virtual MoveOutcome SwapIfUnused(const WString& path, const WString& replacement,
                                     const WString& keepAs, const FileStamp* unchanged) = 0;
    virtual bool Remove(const WString& path) = 0;
    virtual bool SyncDirectory(const WString& folder) = 0;
    // Reads a file the program wrote itself (ReadOwnFile): a regular file, its name no link.
    virtual bool ReadFile(const WString& path, std::string& bytes) = 0;
    // Creates or empties the file, writes `bytes` and pushes them through to the disk.
    virtual bool WriteDurably(const WString& path, std::string_view bytes) = 0;
    virtual bool Identity(const WString& path, FileId& id) = 0;
    virtual bool Stamp(const WString& path, FileStamp& stamp) = 0;
    virtual bool CopyOwnership(const WString& from, const WString& to) = 0;
    virtual bool IsLink(const WString& path) = 0;
    virtual ProbeOutcome ProbeNewFile(const WString& path) = 0;
};

// The disk itself.
class RealFileSystem : public FileSystem {
public:
    bool Exists(const WString& path) override;
    bool IsDirectory(const WString& path) override;
    bool MakeDirectory(const WString& path) override;
    bool MoveReplace(const WString& from, const WString& to) override;
    MoveOutcome MoveIfUnused(const WString& from, const WString& to,
                             const FileStamp* unchanged) override;
    MoveOutcome SwapIfUnused(const WString& path, const WString& replacement, const WString& keepAs,
                             const FileStamp* unchanged) override;
    bool Remove(const WString& path) override;
    bool SyncDirectory(const WString& folder) override;
    bool ReadFile(const WString& path, std::string& bytes) override;
    bool WriteDurably(const WString& path, std::string_view bytes) override;
    bool Identity(const WString& path, FileId& id) override;
    bool Stamp(const WString& path, FileStamp& stamp) override;
    bool CopyOwnership(const WString& from, const WString& to) override;
    bool IsLink(const WString& path) override;
    ProbeOutcome ProbeNewFile(const WString& path) override;
};

// The one RealFileSystem of the process.
FileSystem& Disk();

// A text that is the same for two paths exactly when they name one file, whatever their
// spelling ("DB.s3db", ".\DB.s3db", a link, another letter case where the system ignores
// it): the file's identity when it exists, else that of the nearest existing folder on its
// way followed by the rest of the path as the system compares names.
WString IdentityKey(FileSystem& fs, const WString& path);

}  // namespace plat
