// Files and folders, in the program's own path form.
//
// Paths inside the program use "\" as the separator, as on Windows: the program builds
// them by appending texts such as "\ReData.log" to a folder held without a trailing
// backslash. On other systems this layer maps "\" to "/" on the way to the system and
// back on the way in (ToNativePath, FromNativePath); nothing else needs to know.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wstr.h"

namespace plat {

// The system's form of a program path, and back. Identity on Windows. Elsewhere a name
// may hold what no Windows name can: a backslash, or bytes that are not UTF-8. Such a
// name is never reinterpreted (a backslash is no separator): each such byte is kept in the
// program's path as the lone surrogate U+DC00 + byte, which no text holds, and given back
// on the way out, so that the path still reaches its file (HasForeignBytes tells).
WString ToNativePath(WStringView path);
WString FromNativePath(WStringView path);
// A path as the system hands it over in bytes (a command line, a terminal's input): on
// Windows read as UTF-8; elsewhere every byte kept as above.
WString PathFromNativeBytes(std::string_view bytes);
// Whether a program path holds bytes of a name that a Windows path could not hold (kept
// as above). Always false on Windows.
bool HasForeignBytes(WStringView path);
// The path as the user should see it in a message: the system's form, with a kept byte
// shown as \xNN.
WString DisplayPath(WStringView path);
// The path as SQLite's open and ATTACH take it: the system's form, in UTF-8 (kept bytes
// as they were).
std::string PathForSqlite(WStringView path);

bool PathExists(const WString& path);     // a file or a folder (PathFileExistsW)
bool IsDirectory(const WString& path);    // an existing folder (PathIsDirectoryW)
bool MakeDirectory(const WString& path);  // one level; fails when the parent is missing
// Moves a file, replacing an existing target (MoveFileExW with MOVEFILE_REPLACE_EXISTING).
bool MoveReplace(const WString& from, const WString& to);
// What the file system knows a file by, whatever path names it: the device and inode on
// POSIX systems, the volume serial number and file index on Windows. Two paths name one
// file exactly when their identities are equal.
struct FileId {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileId& other) const {
        return volume == other.volume && index == other.index;
    }
    bool operator!=(const FileId& other) const { return !(*this == other); }
};
// The identity of the file or folder at `path`; false when nothing is there or the system
// cannot tell.
bool IdentityOf(const WString& path, FileId& id);

// What shows that a file was written since: its identity, its size and the time of its
// last change, as exactly as the system keeps it.
struct FileStamp {
    FileId id;
    int64_t size = -1;
    int64_t modified = 0;
    int64_t changed = 0;  // where the system keeps a change time apart (POSIX ctime)
    bool operator==(const FileStamp& other) const {
        return id == other.id && size == other.size && modified == other.modified &&
               changed == other.changed;
    }
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};
bool StampOf(const WString& path, FileStamp& stamp);

// Moves a file only when nothing exists at `to`, no process (this one included) has the
// file open, and, with `unchanged`, the file still has that stamp: a database that a
// client holds would otherwise go on receiving its writes under the new name, and one it
// wrote since the stamp was taken holds rows the caller has not read. On Windows the file
// is opened without any sharing, which fails while another handle has it open and keeps
// new openers out until the move is done; on Linux a write lease does the same. Where
// that proof cannot be had (a lease refused for another reason than another opener, such
// as a file of another user) the answer is kUnverified and nothing is moved.
enum class MoveOutcome {
    kMoved,
    kInUse,       // another handle has the file open
    kUnverified,  // whether another handle has it open cannot be known
    kChanged,     // the file is not the one `unchanged` describes any more
    kFailed,      // the move itself failed (nothing at `from`, something at `to`, ...)
};
MoveOutcome MoveIfUnused(const WString& from, const WString& to,
                         const FileStamp* unchanged = nullptr);
// Gives `path` to `replacement` in one step, under the same conditions on the file that is
// at `path` now; that file stays as `keepAs` (which must not exist). There is no instant
// in which the path names no file: a client that opens it meanwhile finds the old file or
// the new one, never an empty place where it would make a fresh database. Built from a
// hard link and a replacing rename; where the file system has no hard links it is two
// moves and that instant exists. On Windows the file is released between the check and the
// replace (Windows replaces no open file): one opened in between makes it kInUse. kFailed
// with a file at `keepAs` means the old file has left and `replacement` did not follow.
MoveOutcome SwapIfUnused(const WString& path, const WString& replacement, const WString& keepAs,
                         const FileStamp* unchanged = nullptr);
// True where the file system compares names without regard to case and ignores trailing
// dots and blanks (Windows).
bool NamesIgnoreCase();

// Gives the file `to` the access mode of the file `from`, and its owner and group where
// the process may set them. Windows files inherit their folder's permissions: nothing to do.
bool CopyOwnership(const WString& from, const WString& to);
bool RemoveFile(const WString& path);
// What stands at `path` itself, a link not followed: a symbolic link (on Windows any
// reparse point, a junction too) is kLink whatever it leads to, or whether it leads anywhere.
enum class EntryKind { kNone, kRegular, kFolder, kLink, kOther /* a pipe, a device, ... */ };
EntryKind EntryAt(const WString& path);
inline bool IsLink(const WString& path) { return EntryAt(path) == EntryKind::kLink; }
// Whether a new file can be made at `path`, told by making one there and removing it: only
// where nothing has the name yet (never through a link), and what is removed is that very
// file, never one that took the name meanwhile.
enum class ProbeOutcome {
    kCreated,
    kNameTaken,  // something has the name already; it is left as it is
    kFailed,     // the folder takes no new file (or is missing)
};
ProbeOutcome ProbeNewFile(const WString& path);
// Size in bytes of an existing file; -1 when it cannot be read.
int64_t FileSize(const WString& path);
// Flushes a folder's entries to disk, so that a rename or a new file inside it survives a
// power loss. Does nothing where the system offers no such call.
bool SyncDirectory(const WString& folder);

struct FoundFile {
    WString name;  // bare name, as the system spells it
    bool directory = false;
    // A file of data that reading cannot block on or run out of memory on: not a folder,
    // a pipe, a device or a socket (on Linux through symbolic links: a link to a regular
    // file is one, a link to /dev/zero is not).
    bool regular = false;
    bool hidden = false;  // elsewhere than Windows: the name begins with "."
    bool system = false;  // elsewhere than Windows: never
};

// Entries of a folder whose own names match a wildcard pattern (a full program path whose
// last piece may hold * and ?, such as folder + "\*.dbr"; wstr::MatchesWildcard), in the
// order the system yields them. On Windows the system's search also matches 8.3 short
// names ("old.dbr_bak" is "OLD~1.DBR"): such entries are left out. "." and ".." are
// included when they match, as FindFirstFileW yields them.
std::vector<FoundFile> FindFiles(const WString& pattern);

// Full path of the running executable (GetModuleFileNameW).
WString ExecutablePath();
// The user's local application-data folder (CSIDL_LOCAL_APPDATA; elsewhere
// $XDG_DATA_HOME, else ~/.local/share). False when there is none.
bool LocalAppDataFolder(WString& folder);

// A new, empty folder with a unique name under the system's temporary folder.
// Empty on failure. RemoveTree deletes a folder with everything in it.
WString MakeTempFolder(const WString& prefix);
bool RemoveTree(const WString& path);

// An open file, closed by its destructor. Open modes are those the program needs.
class File {
public:
    enum class Mode {
        kRead,            // read only, shared for reading; fails when missing
        kReadRegular,     // the same, only for a regular file: a pipe, a device or a folder
                          // is refused without waiting on it
        kReadOwn,         // the same, and never through a link at its name: a file the
                          // program wrote itself, in a folder others may write
        kAppend,          // write, shared for reading; created when missing; starts at the end
        kCreateTruncate,  // write; created, or emptied when present
        kCreateNew,       // write; fails when the file exists already
    };

    File();
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool Open(const WString& path, Mode mode);
    bool IsOpen() const;
    void Close();

    // Writes all bytes; false when the system wrote fewer.
    bool Write(const void* data, size_t size);
    bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
    // Reads up to `size` bytes; returns how many were read (0 at the end), -1 on error.
    long long Read(void* data, size_t size);
    bool Seek(int64_t offset);  // from the start of the file
    bool SeekToEnd();
    int64_t Position() const;
    // Pushes written data through to the disk (FlushFileBuffers / fsync).
    bool Sync();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Why the calling thread's last failed file or folder operation failed: the system call,
// the path (both paths of a move) and the system's reason, as in
// "unlink(/data/DB.s3db): Permission denied" or "DeleteFileW(C:\data\DB.s3db): 拒绝访问。".
// Every operation of this header, and so of file_system.h, records it when the system
// refuses it; a successful one leaves it alone. Empty before any failure.
WString LastFailure();
// Forgets the last failure, so that the next LastFailure() speaks of what fails after.
void ClearLastFailure();

// How WriteFileThrough ended.
enum class WriteOutcome {
    kWritten,
    kReadOnly,  // a file without write permission (on Linux: to anybody, root included)
    kFolder,
    kNoReader,  // a named pipe that nobody reads: writing would wait for ever
    kFailed,    // anything else (no such folder, a full disk, ...)
};
// Writes `bytes` as the whole content of what the user named `path`: through symbolic
// links (the link stays, the file it leads to changes). A regular file, or a new one, is
// replaced at once: a temporary file beside it (with the old file's permissions) is moved
// over it when complete, so that a failure leaves it as it was. Anything else that takes
// writes (a device such as /dev/null, a pipe with a reader) is written in place and never
// replaced by a file. Refused: a read-only file, a folder, a pipe nobody reads.
WriteOutcome WriteFileThrough(const WString& path, std::string_view bytes);
// Reads all of standard input (a pipe, a file, a terminal up to its end).
bool ReadStandardInput(std::string& bytes);

// Reads a whole file; false when it cannot be opened or read. A pipe or a device is read
// to its end.
bool ReadWholeFile(const WString& path, std::string& bytes);
// The same for a regular file only (File::Mode::kReadRegular): what comes from a folder the
// user does not watch (a script, a client) must not hang the program or fill its memory.
bool ReadRegularFile(const WString& path, std::string& bytes);
// The same for a file the program wrote itself (File::Mode::kReadOwn): a link someone put at
// its name is refused, not followed.
bool ReadOwnFile(const WString& path, std::string& bytes);

// The form in which SQLite opens or attaches the file at `path` as a URI ("file:..." with
// everything that could be read as URI syntax escaped), followed by "?mode=" and `mode`:
// "rw" opens an existing file and never creates one, "ro" opens it read-only.
std::string SqliteUri(WStringView path, const char* mode);

// An exclusive lock on a file that exists only while it is held: the file is made when the
// lock is taken and removed when it is let go (or, on Windows, when the process ends). The
// system releases the lock when the process ends, however it ends; a file left by a killed
// process is simply taken. Two locks on one file exclude each other within one process too.
class FileLock {
public:
    FileLock();
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    enum class Result {
        kTaken,
        kHeld,         // another holder has it
        kUnavailable,  // the file cannot be made or opened (a folder nobody may write)
    };
    // Creates the file when missing and takes the lock without waiting.
    Result TryLock(const WString& path);
    void Unlock();
    bool IsLocked() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace plat
