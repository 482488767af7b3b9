#include "platform/file_system.h"

#include "platform/paths.h"

namespace plat {

bool RealFileSystem::Exists(const WString& path) { return PathExists(path); }

bool RealFileSystem::IsDirectory(const WString& path) { return plat::IsDirectory(path); }

bool RealFileSystem::MakeDirectory(const WString& path) { return plat::MakeDirectory(path); }

bool RealFileSystem::MoveReplace(const WString& from, const WString& to) {
    return plat::MoveReplace(from, to);
}

MoveOutcome RealFileSystem::MoveIfUnused(const WString& from, const WString& to,
                                         const FileStamp* unchanged) {
    return plat::MoveIfUnused(from, to, unchanged);
}

MoveOutcome RealFileSystem::SwapIfUnused(const WString& path, const WString& replacement,
                                         const WString& keepAs, const FileStamp* unchanged) {
    return plat::SwapIfUnused(path, replacement, keepAs, unchanged);
}

bool RealFileSystem::Remove(const WString& path) { return RemoveFile(path); }

bool RealFileSystem::SyncDirectory(const WString& folder) { return plat::SyncDirectory(folder); }

bool RealFileSystem::ReadFile(const WString& path, std::string& bytes) {
    return ReadOwnFile(path, bytes);
}

bool RealFileSystem::WriteDurably(const WString& path, std::string_view bytes) {
    File file;
    return file.Open(path, File::Mode::kCreateTruncate) && file.Write(bytes) && file.Sync();
}

bool RealFileSystem::Identity(const WString& path, FileId& id) { return IdentityOf(path, id); }

bool RealFileSystem::Stamp(const WString& path, FileStamp& stamp) { return StampOf(path, stamp); }

bool RealFileSystem::CopyOwnership(const WString& from, const WString& to) {
    return plat::CopyOwnership(from, to);
}

bool RealFileSystem::IsLink(const WString& path) { return plat::IsLink(path); }

ProbeOutcome RealFileSystem::ProbeNewFile(const WString& path) { return plat::ProbeNewFile(path); }

WString IdentityKey(FileSystem& fs, const WString& path) {
    FileId id;
    if (fs.Identity(path, id)) {
        return wstr::FromInt(static_cast<long long>(id.volume)) + u":" +
               wstr::FromInt(static_cast<long long>(id.index));
    }
    const WString given = NameOf(path);
    WString name = given;
    if (NamesIgnoreCase()) {
        while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
            name.pop_back();
        name = wstr::ToUpper(name);
    }
    // A bare name is known by itself alone.
    if (path.find(u'\\') == WString::npos) return u"?\\" + name;
    // "." and an empty piece name the folder itself, ".." the one above.
    const WString parent = FolderOf(path);
    if (given == u".." && parent.find(u'\\') != WString::npos) {
        return IdentityKey(fs, FolderOf(parent));
    }
    const WString folder = IdentityKey(fs, parent);
    if (name.empty() || name == u".") return folder;
    return folder + u"\\" + name;
}

FileSystem& Disk() {
    static RealFileSystem disk;
    return disk;
}

}  // namespace plat
