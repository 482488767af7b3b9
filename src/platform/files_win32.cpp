// Files and folders through the Win32 API. Program paths are Windows paths already.
#include <windows.h>

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/files_backend.h"
#include "platform/paths.h"
#include "platform/util_win32.h"

namespace plat {
namespace {

using win32::FromWide;
using win32::Wide;

struct CloseHandleCloser {
    void operator()(void* handle) const { CloseHandle(handle); }
};
struct FindCloseCloser {
    void operator()(void* handle) const { FindClose(handle); }
};
using FileHandle = win32::UniqueHandle<CloseHandleCloser>;
using FindHandle = win32::UniqueHandle<FindCloseCloser>;

// Records that `call` failed on `paths` with the system's `error` (GetLastError, read by the
// caller before anything could change it). False, so that an operation can end with it.
bool Fail(const char* call, std::initializer_list<WStringView> paths, DWORD error) {
    backend::RecordFailure(call, paths, backend::ErrorText(error));
    SetLastError(error);  // callers may still look at it
    return false;
}

WString FoundName(const WIN32_FIND_DATAW& data) {
    return FromWide(data.cFileName, wcsnlen(data.cFileName, MAX_PATH));
}

bool IsDots(const WString& name) { return name == u"." || name == u".."; }

// Deletes one folder's contents, then the folder. A link to a folder is removed as the
// link alone: what it points to is not ours.
bool RemoveFolder(const WString& folder) {
    bool ok = true;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(Wide(folder + u"\\*"), &data));
    if (find) {
        do {
            WString name = FoundName(data);
            if (IsDots(name)) continue;
            WString path = folder + u"\\" + name;
            const DWORD attributes = data.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                ok = RemoveFolder(path) && ok;
                continue;
            }
            if (attributes & FILE_ATTRIBUTE_READONLY) {
                SetFileAttributesW(Wide(path), attributes & ~FILE_ATTRIBUTE_READONLY);
            }
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                ok = (RemoveDirectoryW(Wide(path)) ||
                      Fail("RemoveDirectoryW", {path}, GetLastError())) &&
                     ok;
            } else {
                ok = (DeleteFileW(Wide(path)) || Fail("DeleteFileW", {path}, GetLastError())) && ok;
            }
        } while (FindNextFileW(find.Get(), &data));
    }
    find.Reset();
    return (RemoveDirectoryW(Wide(folder)) || Fail("RemoveDirectoryW", {folder}, GetLastError())) &&
           ok;
}

}  // namespace

WString ToNativePath(WStringView path) { return WString(path); }

WString FromNativePath(WStringView path) { return WString(path); }

WString PathFromNativeBytes(std::string_view bytes) { return FromUtf8(bytes); }

// Windows' names are UTF-16 already: nothing is kept apart.
bool HasForeignBytes(WStringView /*path*/) { return false; }

// SQLite's Windows layer takes UTF-8 file names and opens them with the W functions.
std::string PathForSqlite(WStringView path) { return ToUtf8(path); }

bool PathExists(const WString& path) { return !path.empty() && PathFileExistsW(Wide(path)); }

bool IsDirectory(const WString& path) {
    return !path.empty() && PathIsDirectoryW(Wide(path)) != FALSE;
}

bool MakeDirectory(const WString& path) {
    if (path.empty()) return Fail("CreateDirectoryW", {path}, ERROR_PATH_NOT_FOUND);
    return CreateDirectoryW(Wide(path), nullptr) ||
           Fail("CreateDirectoryW", {path}, GetLastError());
}

// Write-through: the move is on the disk when the call returns, as SyncDirectory makes it
// elsewhere.
bool MoveReplace(const WString& from, const WString& to) {
    return MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
           Fail("MoveFileExW", {from, to}, GetLastError());
}

namespace {

FileStamp StampFrom(const BY_HANDLE_FILE_INFORMATION& info) {
    FileStamp stamp;
    stamp.id.volume = info.dwVolumeSerialNumber;
    stamp.id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp.size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.modified = (static_cast<int64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                     info.ftLastWriteTime.dwLowDateTime;
    return stamp;
}

// Asks the file system about the file or folder itself through a handle that needs no
// access, so that nobody's sharing stands in the way.
bool InformationOf(const WString& path, BY_HANDLE_FILE_INFORMATION& info) {
    if (path.empty()) return Fail("CreateFileW", {path}, ERROR_PATH_NOT_FOUND);
    FileHandle file(CreateFileW(Wide(path), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return Fail("CreateFileW", {path}, GetLastError());
    return GetFileInformationByHandle(file.Get(), &info) ||
           Fail("GetFileInformationByHandle", {path}, GetLastError());
}

}  // namespace

bool IdentityOf(const WString& path, FileId& id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!InformationOf(path, info)) return false;
    id = StampFrom(info).id;
    return true;
}

bool StampOf(const WString& path, FileStamp& stamp) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!InformationOf(path, info)) return false;
    stamp = StampFrom(info);
    return true;
}

// Opened for deletion and shared with nobody, the file cannot be open anywhere else, and
// nobody can open it until the handle is closed: the rename goes through that handle.
namespace {

MoveOutcome OpenFailure(const WString& path) {
    const DWORD error = GetLastError();
    Fail("CreateFileW", {path}, error);
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? MoveOutcome::kInUse
                                                                             : MoveOutcome::kFailed;
}

MoveOutcome CheckStamp(HANDLE file, const FileStamp* unchanged) {
    BY_HANDLE_FILE_INFORMATION info;
    if (unchanged != nullptr &&
        (!GetFileInformationByHandle(file, &info) || StampFrom(info) != *unchanged)) {
        return MoveOutcome::kChanged;
    }
    return MoveOutcome::kMoved;
}

// Renames the open file, never over another one.
bool RenameOpenFile(HANDLE file, const WString& from, const WString& to) {
    const std::wstring target(Wide(to));
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    if (!SetFileInformationByHandle(file, FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()))) {
        return Fail("SetFileInformationByHandle", {from, to}, GetLastError());
    }
    FlushFileBuffers(file);
    return true;
}

bool SameFile(HANDLE file, const WString& path) {
    BY_HANDLE_FILE_INFORMATION held;
    BY_HANDLE_FILE_INFORMATION named;
    FileHandle other(CreateFileW(Wide(path), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return other && GetFileInformationByHandle(file, &held) &&
           GetFileInformationByHandle(other.Get(), &named) &&
           held.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
           held.nFileIndexHigh == named.nFileIndexHigh && held.nFileIndexLow == named.nFileIndexLow;
}

}  // namespace

MoveOutcome MoveIfUnused(const WString& from, const WString& to, const FileStamp* unchanged) {
    FileHandle file(CreateFileW(Wide(from), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return OpenFailure(from);
    const MoveOutcome outcome = CheckStamp(file.Get(), unchanged);
    if (outcome != MoveOutcome::kMoved) return outcome;
    return RenameOpenFile(file.Get(), from, to) ? MoveOutcome::kMoved : MoveOutcome::kFailed;
}

MoveOutcome SwapIfUnused(const WString& path, const WString& replacement, const WString& keepAs,
                         const FileStamp* unchanged) {
    {
        // Held exclusively while it is checked and given its second name.
        FileHandle file(CreateFileW(Wide(path), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return OpenFailure(path);
        const MoveOutcome outcome = CheckStamp(file.Get(), unchanged);
        if (outcome != MoveOutcome::kMoved) return outcome;
        if (!CreateHardLinkW(Wide(keepAs), Wide(path), nullptr)) {
            // No hard links here (FAT): the old file leaves first, and for that moment
            // the path names no file.
            Fail("CreateHardLinkW", {keepAs, path}, GetLastError());
            if (!RenameOpenFile(file.Get(), path, keepAs)) return MoveOutcome::kFailed;
            file.Reset();
            if (!MoveFileExW(Wide(replacement), Wide(path), MOVEFILE_WRITE_THROUGH)) {
                Fail("MoveFileExW", {replacement, path}, GetLastError());
                return MoveOutcome::kFailed;
            }
            return MoveOutcome::kMoved;
        }
        if (!SameFile(file.Get(), keepAs)) {
            DeleteFileW(Wide(keepAs));
            return MoveOutcome::kChanged;
        }
    }
    // Windows replaces no file that anyone holds open, ourselves included: the handle is
    // gone, and a client that opened the file in between makes the replace fail, which
    // then changes nothing.
    if (MoveFileExW(Wide(replacement), Wide(path),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return MoveOutcome::kMoved;
    }
    const DWORD error = GetLastError();
    Fail("MoveFileExW", {replacement, path}, error);
    if (!DeleteFileW(Wide(keepAs))) {
        Fail("DeleteFileW", {keepAs}, GetLastError());
        return MoveOutcome::kFailed;
    }
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                   error == ERROR_LOCK_VIOLATION
               ? MoveOutcome::kInUse
               : MoveOutcome::kFailed;
}

bool NamesIgnoreCase() { return true; }

bool CopyOwnership(const WString&, const WString&) { return true; }

struct FileLock::Impl {
    FileHandle file;
};

FileLock::FileLock() = default;
FileLock::~FileLock() { Unlock(); }

FileLock::Result FileLock::TryLock(const WString& path) {
    Unlock();
    // The system removes the file when its last handle is closed.
    FileHandle file(CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
                                nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        Fail("CreateFileW", {path}, error);
        // A file about to go with its holder's last handle cannot be opened meanwhile.
        return error == ERROR_ACCESS_DENIED && PathExists(path) ? Result::kHeld
                                                                : Result::kUnavailable;
    }
    // The system drops the lock with the handle, when the process ends at the latest.
    OVERLAPPED at = {};
    if (!LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &at)) {
        Fail("LockFileEx", {path}, GetLastError());
        return Result::kHeld;
    }
    m_impl = std::make_unique<Impl>();
    m_impl->file = std::move(file);
    return Result::kTaken;
}

void FileLock::Unlock() { m_impl.reset(); }

bool FileLock::IsLocked() const { return m_impl != nullptr; }

bool RemoveFile(const WString& path) {
    return DeleteFileW(Wide(path)) || Fail("DeleteFileW", {path}, GetLastError());
}

EntryKind EntryAt(const WString& path) {
    const DWORD attributes =
        path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kNone;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::kLink;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::kFolder;
    return (attributes & FILE_ATTRIBUTE_DEVICE) ? EntryKind::kOther : EntryKind::kRegular;
}

ProbeOutcome ProbeNewFile(const WString& path) {
    // CREATE_NEW refuses an existing name; a link is refused beforehand, so that no
    // reading of how CreateFileW treats one at a new file's name matters.
    if (EntryAt(path) != EntryKind::kNone) {
        backend::RecordFailure("CreateFileW", {path}, u"the name is taken");
        return ProbeOutcome::kNameTaken;
    }
    // The system removes the file when its handle closes: the file made here and no other,
    // whatever took its name meanwhile.
    FileHandle file(CreateFileW(Wide(path), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
                                nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        Fail("CreateFileW", {path}, error);
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? ProbeOutcome::kNameTaken
                   : ProbeOutcome::kFailed;
    }
    return ProbeOutcome::kCreated;
}

int64_t FileSize(const WString& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) {
        Fail("GetFileAttributesExW", {path}, GetLastError());
        return -1;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// NTFS journals its folder entries, and MoveReplace writes through: there is nothing to
// flush. True for an existing folder, as elsewhere.
bool SyncDirectory(const WString& folder) { return IsDirectory(folder); }

std::vector<FoundFile> FindFiles(const WString& pattern) {
    std::vector<FoundFile> found;
    const WString wildcard = NameOf(pattern);
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(Wide(pattern), &data));
    if (!find) {
        // No entry matching is no failure.
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) Fail("FindFirstFileW", {pattern}, error);
        return found;
    }
    do {
        FoundFile file;
        file.name = FoundName(data);
        // The system matched the short name too: "x.dbr_bak" is found for "*.dbr".
        if (!wstr::MatchesWildcard(file.name, wildcard)) continue;
        file.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        file.regular = !file.directory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
        file.hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
        file.system = (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
        found.push_back(std::move(file));
    } while (FindNextFileW(find.Get(), &data));
    return found;
}

namespace {

// The file a path leads to through symbolic links: the final path of the file when it
// exists, else the path itself.
WString FollowLinks(const WString& path) {
    FileHandle handle(CreateFileW(Wide(path), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return path;
    wchar_t buffer[32768];
    const DWORD n = GetFinalPathNameByHandleW(handle.Get(), buffer, 32768, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= 32768) return path;
    WString final = FromWide(buffer, n);
    if (final.compare(0, 8, u"\\\\?\\UNC\\") == 0) return u"\\\\" + final.substr(8);
    if (final.compare(0, 4, u"\\\\?\\") == 0) return final.substr(4);
    return final;
}

bool WriteAll(void* handle, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk =
            bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);  // nothing written, and the system said nothing
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

WriteOutcome WriteFileThrough(const WString& path, std::string_view bytes) {
    const WString target = FollowLinks(path);
    const DWORD attributes = GetFileAttributesW(Wide(target));
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return WriteOutcome::kFolder;
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) return WriteOutcome::kReadOnly;
    if (exists) {
        // A device (NUL, CON) or a pipe opened by name is written where it is.
        FileHandle handle(CreateFileW(Wide(target), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle && GetFileType(handle.Get()) != FILE_TYPE_DISK) {
            if (WriteAll(handle.Get(), bytes)) return WriteOutcome::kWritten;
            Fail("WriteFile", {target}, GetLastError());
            return WriteOutcome::kFailed;
        }
    }
    File file;
    WString temporary;
    for (int attempt = 0; attempt < 100 && !file.IsOpen(); ++attempt) {
        temporary = target + u".writing" + wstr::FromInt(attempt);
        if (!file.Open(temporary, File::Mode::kCreateNew) && GetLastError() != ERROR_FILE_EXISTS) {
            return WriteOutcome::kFailed;
        }
    }
    if (!file.IsOpen()) return WriteOutcome::kFailed;
    const bool written = file.Write(bytes) && file.Sync();
    file.Close();
    if (written && MoveReplace(temporary, target)) return WriteOutcome::kWritten;
    RemoveFile(temporary);
    return WriteOutcome::kFailed;
}

bool ReadStandardInput(std::string& bytes) {
    bytes.clear();
    void* input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &read, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE) return true;  // the writer has finished
            return Fail("ReadFile", {u"standard input"}, error);
        }
        if (read == 0) return true;
        bytes.append(buffer, read);
    }
}

WString ExecutablePath() {
    // The path may be longer than MAX_PATH; a full buffer means it was cut.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return WString();
        if (n < buffer.size()) return FromWide(buffer.data(), n);
        if (buffer.size() >= 32768) return WString();
        buffer.resize(buffer.size() * 2);
    }
}

bool LocalAppDataFolder(WString& folder) {
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_LOCAL_APPDATA, FALSE)) return false;
    folder = FromWide(buffer, wcsnlen(buffer, MAX_PATH));
    return !folder.empty();
}

WString MakeTempFolder(const WString& prefix) {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) {
        Fail("GetTempPathW", {}, n == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW);
        return WString();
    }
    WString base = FromWide(buffer, n);
    while (!base.empty() && base.back() == u'\\')
        base.pop_back();
    // Several test programs make folders at once: the process id and a counter keep the
    // names apart, the tick count keeps them apart from folders a crash left behind.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        WString path = base + u"\\" + prefix + u"-" + wstr::FromInt(GetCurrentProcessId()) + u"-" +
                       wstr::FromInt(GetTickCount() % 100000) + u"-" + wstr::FromInt(counter++);
        if (CreateDirectoryW(Wide(path), nullptr)) return path;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS || attempt == 99) {
            Fail("CreateDirectoryW", {path}, error);
            return WString();
        }
    }
    return WString();
}

bool RemoveTree(const WString& path) {
    DWORD attributes = GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return Fail("GetFileAttributesW", {path}, GetLastError());
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return DeleteFileW(Wide(path)) || Fail("DeleteFileW", {path}, GetLastError());
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return RemoveDirectoryW(Wide(path)) || Fail("RemoveDirectoryW", {path}, GetLastError());
    }
    return RemoveFolder(path);
}

struct File::Impl {
    FileHandle handle;
    WString path;
};

File::File() = default;
File::~File() { Close(); }
File::File(File&& other) noexcept = default;
File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_impl = std::move(other.m_impl);
    }
    return *this;
}

bool File::Open(const WString& path, Mode mode) {
    Close();
    DWORD access = GENERIC_WRITE;
    // Readers let others read and write: a log file is read while its writer holds it.
    DWORD share = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
        case Mode::kRead:
        case Mode::kReadRegular:
        case Mode::kReadOwn:
            access = GENERIC_READ;
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            disposition = OPEN_EXISTING;
            break;
        case Mode::kAppend:
            // Appending access alone: every write lands at the end, wherever the pointer is.
            access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
            disposition = OPEN_ALWAYS;
            break;
        case Mode::kCreateTruncate:
            disposition = CREATE_ALWAYS;
            break;
        case Mode::kCreateNew:
            disposition = CREATE_NEW;
            break;
    }
    // What the program writes, or reads back as its own, is a file of its own, never one a
    // link someone put at its name leads to (the program may run elevated).
    const DWORD attributes = GetFileAttributesW(Wide(path));
    if (mode != Mode::kRead && mode != Mode::kReadRegular &&
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        backend::RecordFailure("CreateFileW", {path}, u"a link, not a file");
        return false;
    }
    FileHandle handle(CreateFileW(Wide(path), access, share, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return Fail("CreateFileW", {path}, GetLastError());
    // A console, a pipe or a device opened by name is no file on a disk.
    if (mode != Mode::kRead && GetFileType(handle.Get()) != FILE_TYPE_DISK) {
        backend::RecordFailure("CreateFileW", {path}, u"not a regular file");
        return false;
    }
    m_impl = std::make_unique<Impl>();
    m_impl->handle = std::move(handle);
    m_impl->path = path;
    if (mode == Mode::kAppend) SeekToEnd();
    return true;
}

bool File::IsOpen() const { return m_impl != nullptr && m_impl->handle.IsValid(); }

void File::Close() { m_impl.reset(); }

bool File::Write(const void* data, size_t size) {
    if (!IsOpen()) return false;
    return WriteAll(m_impl->handle.Get(), std::string_view(static_cast<const char*>(data), size)) ||
           Fail("WriteFile", {m_impl->path}, GetLastError());
}

long long File::Read(void* data, size_t size) {
    if (!IsOpen()) return -1;
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD read = 0;
    if (!ReadFile(m_impl->handle.Get(), data, chunk, &read, nullptr)) {
        Fail("ReadFile", {m_impl->path}, GetLastError());
        return -1;
    }
    return read;
}

namespace {
// SetFilePointer with both halves of a 64-bit offset; -1 on failure.
int64_t MovePointer(void* handle, int64_t offset, DWORD method) {
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(handle, static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
    return (static_cast<int64_t>(high) << 32) | low;
}
}  // namespace

bool File::Seek(int64_t offset) {
    if (!IsOpen() || offset < 0) return false;
    return MovePointer(m_impl->handle.Get(), offset, FILE_BEGIN) == offset ||
           Fail("SetFilePointer", {m_impl->path}, GetLastError());
}

bool File::SeekToEnd() {
    return IsOpen() && (MovePointer(m_impl->handle.Get(), 0, FILE_END) >= 0 ||
                        Fail("SetFilePointer", {m_impl->path}, GetLastError()));
}

int64_t File::Position() const {
    return IsOpen() ? MovePointer(m_impl->handle.Get(), 0, FILE_CURRENT) : -1;
}

bool File::Sync() {
    return IsOpen() && (FlushFileBuffers(m_impl->handle.Get()) ||
                        Fail("FlushFileBuffers", {m_impl->path}, GetLastError()));
}

WString backend::ErrorText(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::unique_ptr<wchar_t, decltype(&LocalFree)> owned(text, &LocalFree);
    if (n == 0) return u"error " + wstr::FromInt(static_cast<long long>(error));
    WString reason = FromWide(text, n);
    // The system ends its texts with a line break.
    while (!reason.empty() &&
           (reason.back() == u'\r' || reason.back() == u'\n' || reason.back() == u' '))
        reason.pop_back();
    return reason;
}

}  // namespace plat
