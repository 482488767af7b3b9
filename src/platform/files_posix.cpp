#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/files_backend.h"
#include "platform/paths.h"

namespace plat {
namespace {

// File names on this system are bytes, read as UTF-8 whatever the ANSI code page. A byte
// that is not part of valid UTF-8 is kept as the lone surrogate U+DC00 + byte (valid UTF-8
// never gives one), so that every name the system hands over reaches its file again.
constexpr char16_t kKeptByte = 0xDC00;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Whether the unit at `i` is a kept byte: a backslash, or a byte of 0x80 and above, on its
// own (a low surrogate after a high one is half of a character). No other byte is ever
// kept, so no text can smuggle a "/" or a NUL into a system path this way.
bool IsKeptByte(WStringView text, size_t i) {
    const char16_t c = text[i];
    return (c == kKeptByte + u'\\' || (c >= kKeptByte + 0x80 && c <= kKeptByte + 0xFF)) &&
           (i == 0 || !IsHighSurrogate(text[i - 1]));
}

// The length of the valid UTF-8 sequence at `p` (`n` bytes left), or 0.
size_t Utf8Length(const unsigned char* p, size_t n) {
    const unsigned char b = p[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0) low = 0xA0;   // no overlong forms
        if (b == 0xED) high = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (n < length || p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
    }
    return length;
}

WString DecodeKeepingBytes(std::string_view bytes) {
    WString text;
    text.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < bytes.size();) {
        if (p[i] < 0x80) {
            text.push_back(p[i++]);
            continue;
        }
        const size_t length = Utf8Length(p + i, bytes.size() - i);
        if (length == 0) {
            text.push_back(static_cast<char16_t>(kKeptByte + p[i++]));
            continue;
        }
        text += FromUtf8(bytes.substr(i, length));
        i += length;
    }
    return text;
}

std::string EncodeKeepingBytes(WStringView text) {
    std::string bytes;
    bytes.reserve(text.size());
    size_t start = 0;  // of the run of ordinary text not yet written
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsKeptByte(text, i)) continue;
        bytes += ToUtf8(text.substr(start, i - start));
        bytes.push_back(static_cast<char>(text[i] - kKeptByte));
        start = i + 1;
    }
    bytes += ToUtf8(text.substr(start));
    return bytes;
}

std::string Native(const WString& path) { return EncodeKeepingBytes(ToNativePath(path)); }

WString FromNativeBytes(std::string_view bytes) {
    return FromNativePath(DecodeKeepingBytes(bytes));
}

// Records that `call` failed on `paths` with the system's `error` (errno, read by the caller
// before anything could change it). False, so that an operation can end with it.
bool Fail(const char* call, std::initializer_list<WStringView> paths, int error) {
    backend::RecordFailure(call, paths, backend::ErrorText(static_cast<unsigned long>(error)));
    errno = error;  // callers may still look at it
    return false;
}

int RetryOpen(const char* path, int flags, mode_t mode = 0666) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Renames only when nothing exists at `to`.
bool RenameNoReplace(const WString& from, const WString& to) {
    const std::string source = Native(from);
    const std::string target = Native(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return Fail("renameat2", {from, to}, errno);
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing target too.
    if (::link(source.c_str(), target.c_str()) != 0) return Fail("link", {from, to}, errno);
    ::unlink(source.c_str());
    return true;
}

}  // namespace

// "\" is the program's separator; a backslash of a name is kept as U+DC5C (the kept byte
// 0x5C) on the way in and given back on the way out.
WString ToNativePath(WStringView path) {
    WString native(path);
    for (char16_t& c : native) {
        if (c == u'\\') {
            c = u'/';
        } else if (c == kKeptByte + u'\\') {
            c = u'\\';
        }
    }
    return native;
}

WString FromNativePath(WStringView path) {
    WString program(path);
    for (char16_t& c : program) {
        if (c == u'/') {
            c = u'\\';
        } else if (c == u'\\') {
            c = kKeptByte + u'\\';
        }
    }
    return program;
}

WString PathFromNativeBytes(std::string_view bytes) { return FromNativeBytes(bytes); }

bool HasForeignBytes(WStringView path) {
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsKeptByte(path, i)) return true;
    }
    return false;
}

std::string PathForSqlite(WStringView path) { return EncodeKeepingBytes(ToNativePath(path)); }

bool PathExists(const WString& path) {
    struct stat st;
    return !path.empty() && ::stat(Native(path).c_str(), &st) == 0;
}

bool IsDirectory(const WString& path) {
    struct stat st;
    return !path.empty() && ::stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const WString& path) {
    if (path.empty()) return Fail("mkdir", {path}, ENOENT);
    return ::mkdir(Native(path).c_str(), 0777) == 0 || Fail("mkdir", {path}, errno);
}

bool MoveReplace(const WString& from, const WString& to) {
    return ::rename(Native(from).c_str(), Native(to).c_str()) == 0 ||
           Fail("rename", {from, to}, errno);
}

namespace {

FileStamp StampFrom(const struct stat& st) {
    FileStamp stamp;
    stamp.id.volume = static_cast<uint64_t>(st.st_dev);
    stamp.id.index = static_cast<uint64_t>(st.st_ino);
    stamp.size = static_cast<int64_t>(st.st_size);
    // The change time too: a writer can set the modification time back, not that one.
    stamp.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return stamp;
}

}  // namespace

bool IdentityOf(const WString& path, FileId& id) {
    struct stat st;
    if (::stat(Native(path).c_str(), &st) != 0) return Fail("stat", {path}, errno);
    id = StampFrom(st).id;
    return true;
}

bool StampOf(const WString& path, FileStamp& stamp) {
    struct stat st;
    if (::stat(Native(path).c_str(), &st) != 0) return Fail("stat", {path}, errno);
    stamp = StampFrom(st);
    return true;
}

namespace {

// Holds a write lease on a file for as long as it lives: proof that no other descriptor of
// the file is open anywhere, and that none is opened meanwhile (an opener waits until the
// lease is given back, at the latest after /proc/sys/fs/lease-break-time seconds).
class Lease {
public:
    explicit Lease(const WString& path) : m_path(path) {
        // Not blocking: a pipe put at the name would hold the open until a writer came.
        m_fd = RetryOpen(Native(path).c_str(), O_RDONLY | O_NONBLOCK);
        struct stat st;
        if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(m_fd);
            m_fd = -1;
            errno = EINVAL;
        }
        if (m_fd < 0) {
            Fail("open", {path}, errno);
            m_outcome = MoveOutcome::kFailed;
            return;
        }
        // A process that opens the file while the lease is held makes the kernel signal
        // us, with SIGIO unless told otherwise, and SIGIO's default action ends the
        // process. SIGURG is ignored by default.
        ::fcntl(m_fd, F_SETSIG, SIGURG);
        // Granted only when no other descriptor of the file is open, and only to the
        // file's owner (or a process allowed to lease any file): without it nobody can
        // tell whether a client holds the file.
        if (::fcntl(m_fd, F_SETLEASE, F_WRLCK) != 0) {
            const int error = errno;
            Fail("fcntl(F_SETLEASE)", {path}, error);
            m_outcome =
                error == EAGAIN || error == EBUSY ? MoveOutcome::kInUse : MoveOutcome::kUnverified;
        }
    }
    ~Lease() {
        if (m_fd < 0) return;
        if (m_outcome == MoveOutcome::kMoved) ::fcntl(m_fd, F_SETLEASE, F_UNLCK);
        ::close(m_fd);
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    // kMoved while held and the file is the one `unchanged` describes.
    MoveOutcome Check(const FileStamp* unchanged) const {
        struct stat st;
        if (m_outcome != MoveOutcome::kMoved) return m_outcome;
        if (unchanged != nullptr && (::fstat(m_fd, &st) != 0 || StampFrom(st) != *unchanged)) {
            return MoveOutcome::kChanged;
        }
        return MoveOutcome::kMoved;
    }
    // True when `path` leads to the leased file.
    bool Names(const std::string& path) const {
        struct stat held;
        struct stat named;
        return ::fstat(m_fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
               held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    }

private:
    WString m_path;
    int m_fd = -1;
    MoveOutcome m_outcome = MoveOutcome::kMoved;
};

bool NoHardLinksHere(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EXDEV ||
           error == EMLINK;
}

}  // namespace

MoveOutcome MoveIfUnused(const WString& from, const WString& to, const FileStamp* unchanged) {
    const Lease lease(from);
    const MoveOutcome outcome = lease.Check(unchanged);
    if (outcome != MoveOutcome::kMoved) return outcome;
    return RenameNoReplace(from, to) ? MoveOutcome::kMoved : MoveOutcome::kFailed;
}

MoveOutcome SwapIfUnused(const WString& path, const WString& replacement, const WString& keepAs,
                         const FileStamp* unchanged) {
    const Lease lease(path);
    const MoveOutcome outcome = lease.Check(unchanged);
    if (outcome != MoveOutcome::kMoved) return outcome;
    const std::string native = Native(path);
    const std::string kept = Native(keepAs);
    if (::link(native.c_str(), kept.c_str()) != 0) {
        const int error = errno;
        Fail("link", {path, keepAs}, error);
        if (!NoHardLinksHere(error)) return MoveOutcome::kFailed;
        // A file system without hard links: the old file leaves first, and for that
        // moment the path names no file.
        if (!RenameNoReplace(path, keepAs)) return MoveOutcome::kFailed;
        return RenameNoReplace(replacement, path) ? MoveOutcome::kMoved : MoveOutcome::kFailed;
    }
    // Someone may have put another file at the path since the lease was taken.
    if (!lease.Names(kept)) {
        ::unlink(kept.c_str());
        return MoveOutcome::kChanged;
    }
    if (::rename(Native(replacement).c_str(), native.c_str()) != 0) {
        Fail("rename", {replacement, path}, errno);
        ::unlink(kept.c_str());
        return MoveOutcome::kFailed;
    }
    return MoveOutcome::kMoved;
}

bool NamesIgnoreCase() { return false; }

bool CopyOwnership(const WString& from, const WString& to) {
    struct stat st;
    const std::string target = Native(to);
    if (::stat(Native(from).c_str(), &st) != 0) return Fail("stat", {from}, errno);
    if (::chmod(target.c_str(), st.st_mode & 07777) != 0) return Fail("chmod", {to}, errno);
    // Only a privileged process may give a file away; anyone may keep it as theirs.
    if (::chown(target.c_str(), st.st_uid, st.st_gid) != 0 && errno != EPERM) {
        return Fail("chown", {to}, errno);
    }
    return true;
}

struct FileLock::Impl {
    int fd = -1;
    std::string path;
};

FileLock::FileLock() = default;
FileLock::~FileLock() { Unlock(); }

FileLock::Result FileLock::TryLock(const WString& path) {
    Unlock();
    const std::string native = Native(path);
    // A holder removes the file before it lets go: a lock taken on a file that is no
    // longer at the path (or another one by now) locks nothing, and is taken again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = RetryOpen(native.c_str(), O_RDWR | O_CREAT);
        if (fd < 0) {
            Fail("open", {path}, errno);
            return Result::kUnavailable;
        }
        // flock belongs to the open file: a second open in this process is refused as
        // well, and the lock goes with the last descriptor when the process dies.
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            Fail("flock", {path}, errno);
            ::close(fd);
            return Result::kHeld;
        }
        struct stat held;
        struct stat named;
        if (::fstat(fd, &held) == 0 && ::stat(native.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            m_impl = std::make_unique<Impl>();
            m_impl->fd = fd;
            m_impl->path = native;
            return Result::kTaken;
        }
        ::close(fd);
    }
    return Result::kHeld;
}

void FileLock::Unlock() {
    if (m_impl && m_impl->fd >= 0) {
        ::unlink(m_impl->path.c_str());
        ::close(m_impl->fd);
    }
    m_impl.reset();
}

bool FileLock::IsLocked() const { return m_impl != nullptr; }

bool RemoveFile(const WString& path) {
    // Linux refuses to unlink a folder (EISDIR), as DeleteFileW does.
    return ::unlink(Native(path).c_str()) == 0 || Fail("unlink", {path}, errno);
}

EntryKind EntryAt(const WString& path) {
    struct stat st;
    if (path.empty() || ::lstat(Native(path).c_str(), &st) != 0) return EntryKind::kNone;
    if (S_ISLNK(st.st_mode)) return EntryKind::kLink;
    if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
    return S_ISREG(st.st_mode) ? EntryKind::kRegular : EntryKind::kOther;
}

ProbeOutcome ProbeNewFile(const WString& path) {
    const std::string native = Native(path);
    const int fd = RetryOpen(
        native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) {
        const int error = errno;
        Fail("open", {path}, error);
        return error == EEXIST ? ProbeOutcome::kNameTaken : ProbeOutcome::kFailed;
    }
    // Whoever may write the folder may move the new file away and put another at its name
    // before it is removed: the name is removed only while it still names the file made
    // here, held open so that its inode cannot go to another file meanwhile.
    struct stat made;
    struct stat named;
    if (::fstat(fd, &made) == 0 && ::lstat(native.c_str(), &named) == 0 &&
        made.st_dev == named.st_dev && made.st_ino == named.st_ino) {
        if (::unlink(native.c_str()) != 0) Fail("unlink", {path}, errno);
    }
    ::close(fd);
    return ProbeOutcome::kCreated;
}

int64_t FileSize(const WString& path) {
    struct stat st;
    if (::stat(Native(path).c_str(), &st) != 0) {
        Fail("stat", {path}, errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool SyncDirectory(const WString& folder) {
    int fd = RetryOpen(Native(folder).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return Fail("open", {folder}, errno);
    const bool ok = ::fsync(fd) == 0 || Fail("fsync", {folder}, errno);
    ::close(fd);
    return ok;
}

std::vector<FoundFile> FindFiles(const WString& pattern) {
    std::vector<FoundFile> found;
    // A bare pattern names entries of the working folder.
    WString folder = pattern.find(u'\\') == WString::npos ? WString(u".") : FolderOf(pattern);
    if (folder.empty()) folder = u"\\";  // a pattern in the root folder
    const WString wildcard = NameOf(pattern);
    std::string nativeFolder = Native(folder);

    DIR* dir = ::opendir(nativeFolder.c_str());
    if (dir == nullptr) {
        Fail("opendir", {folder}, errno);
        return found;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        FoundFile file;
        file.name = FromNativePath(DecodeKeepingBytes(entry->d_name));
        if (!wstr::MatchesWildcard(file.name, wildcard)) continue;
        file.hidden = entry->d_name[0] == '.';
        struct stat st;
        std::string full = nativeFolder;
        full.append("/").append(entry->d_name);
        const bool known = ::stat(full.c_str(), &st) == 0;
        file.directory = known && S_ISDIR(st.st_mode);
        file.regular = known && S_ISREG(st.st_mode);
        found.push_back(std::move(file));
    }
    ::closedir(dir);
    return found;
}

namespace {

// The file a path leads to through symbolic links, which may not exist yet (a dangling
// link leads to the file it names). At most 40 links, as the kernel allows.
std::string FollowLinks(std::string path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0) return path;
        target.resize(static_cast<size_t>(n));
        if (target[0] != '/') {
            const size_t slash = path.rfind('/');
            if (slash != std::string::npos) target = path.substr(0, slash + 1) + target;
        }
        path = target;
    }
    return path;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;  // nothing written, and the system said nothing
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

WriteOutcome WriteFileThrough(const WString& path, std::string_view bytes) {
    const std::string target = FollowLinks(Native(path));
    const WString programTarget = FromNativeBytes(target);
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return WriteOutcome::kFolder;
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe: written where it is. Opening a pipe without a reader waits
        // for one; without O_NONBLOCK it would wait for ever.
        const int fd = RetryOpen(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) {
            const int error = errno;
            Fail("open", {programTarget}, error);
            return error == ENXIO ? WriteOutcome::kNoReader : WriteOutcome::kFailed;
        }
        const bool written =
            (::fcntl(fd, F_SETFL, O_WRONLY) == 0 || Fail("fcntl", {programTarget}, errno)) &&
            (WriteAll(fd, bytes) || Fail("write", {programTarget}, errno));
        ::close(fd);
        return written ? WriteOutcome::kWritten : WriteOutcome::kFailed;
    }
    // Root may write anything: a file nobody may write to counts as read-only all the same.
    if (exists && (::access(target.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0)) {
        return WriteOutcome::kReadOnly;
    }

    // A name of our own beside the target, never one that exists already.
    std::string temporary;
    WString programTemporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = target + ".writing" + std::to_string(attempt);
        programTemporary = FromNativeBytes(temporary);
        fd = RetryOpen(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST) {
            Fail("open", {programTemporary}, errno);
            return WriteOutcome::kFailed;
        }
    }
    if (fd < 0) {
        Fail("open", {programTemporary}, EEXIST);
        return WriteOutcome::kFailed;
    }
    bool ok = true;
    if (exists) {
        // The file keeps its permissions and, where we may, its owner.
        ok = ::fchmod(fd, st.st_mode & 07777) == 0 || Fail("fchmod", {programTemporary}, errno);
        if (ok && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            ok = ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) == 0 || errno == EPERM ||
                 Fail("fchown", {programTemporary}, errno);
        }
    }
    ok = ok && (WriteAll(fd, bytes) || Fail("write", {programTemporary}, errno)) &&
         (::fsync(fd) == 0 || Fail("fsync", {programTemporary}, errno));
    ::close(fd);
    if (ok && (::rename(temporary.c_str(), target.c_str()) == 0 ||
               Fail("rename", {programTemporary, programTarget}, errno))) {
        return WriteOutcome::kWritten;
    }
    ::unlink(temporary.c_str());
    return WriteOutcome::kFailed;
}

bool ReadStandardInput(std::string& bytes) {
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail("read", {u"standard input"}, errno);
        if (n == 0) return true;
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

WString ExecutablePath() {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return WString();
    buffer.resize(static_cast<size_t>(n));
    return FromNativeBytes(buffer);
}

bool LocalAppDataFolder(WString& folder) {
    const char* xdg = ::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        folder = FromNativeBytes(xdg);
        return true;
    }
    const char* home = ::getenv("HOME");
    if (home == nullptr || home[0] != '/') return false;
    folder = FromNativeBytes(std::string(home) + "/.local/share");
    return true;
}

WString MakeTempFolder(const WString& prefix) {
    const char* tmp = ::getenv("TMPDIR");
    std::string base = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
    std::string templ = base + "/" + Native(prefix) + "-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
        Fail("mkdtemp", {FromNativeBytes(templ)}, errno);
        return WString();
    }
    return FromNativeBytes(templ);
}

bool RemoveTree(const WString& path) {
    // An entry that cannot be removed stops the walk with 1; nftw's own failure is -1.
    auto remove = [](const char* p, const struct stat*, int, struct FTW*) {
        return ::remove(p) == 0 || Fail("remove", {FromNativeBytes(p)}, errno) ? 0 : 1;
    };
    const int rc = ::nftw(Native(path).c_str(), remove, 16, FTW_DEPTH | FTW_PHYS);
    return rc == 0 || (rc < 0 && Fail("nftw", {path}, errno));
}

struct File::Impl {
    int fd = -1;
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
    int flags = 0;
    switch (mode) {
        case Mode::kRead:
            flags = O_RDONLY;
            break;
        case Mode::kReadRegular:
            // Opening a pipe waits for a writer: not with O_NONBLOCK, cleared again below.
            flags = O_RDONLY | O_NONBLOCK | O_NOCTTY;
            break;
        case Mode::kReadOwn:
            // A file the program wrote, read back: a link at its name is not one.
            flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;
            break;
        // What the program writes is a file of its own: never through a link someone put
        // at its name (the program may run elevated), never a pipe that would keep it
        // waiting (O_NONBLOCK, cleared again below).
        case Mode::kAppend:
            flags = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
            break;
        case Mode::kCreateTruncate:
            flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
            break;
        case Mode::kCreateNew:
            flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
            break;
    }
    int fd = RetryOpen(Native(path).c_str(), flags);
    if (fd < 0) return Fail("open", {path}, errno);
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 || Fail("fstat", {path}, errno);
    // Windows cannot open a folder as a file.
    if (ok && S_ISDIR(st.st_mode)) ok = Fail("open", {path}, EISDIR);
    if (ok && mode != Mode::kRead) {
        if (!S_ISREG(st.st_mode)) {
            backend::RecordFailure("open", {path}, u"not a regular file");
            ok = false;
        } else if (::fcntl(fd, F_SETFL,
                           flags & ~(O_NONBLOCK | O_CREAT | O_TRUNC | O_EXCL | O_NOFOLLOW |
                                     O_NOCTTY)) != 0) {
            ok = Fail("fcntl", {path}, errno);
        }
    }
    if (!ok) {
        ::close(fd);
        return false;
    }
    m_impl = std::make_unique<Impl>();
    m_impl->fd = fd;
    m_impl->path = path;
    return true;
}

bool File::IsOpen() const { return m_impl != nullptr && m_impl->fd >= 0; }

void File::Close() {
    if (IsOpen()) ::close(m_impl->fd);
    m_impl.reset();
}

bool File::Write(const void* data, size_t size) {
    if (!IsOpen()) return false;
    return WriteAll(m_impl->fd, std::string_view(static_cast<const char*>(data), size)) ||
           Fail("write", {m_impl->path}, errno);
}

long long File::Read(void* data, size_t size) {
    if (!IsOpen()) return -1;
    ssize_t n;
    do {
        n = ::read(m_impl->fd, data, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) Fail("read", {m_impl->path}, errno);
    return n;
}

bool File::Seek(int64_t offset) {
    if (!IsOpen()) return false;
    const off_t reached = ::lseek(m_impl->fd, static_cast<off_t>(offset), SEEK_SET);
    return reached == offset || Fail("lseek", {m_impl->path}, reached < 0 ? errno : EINVAL);
}

bool File::SeekToEnd() {
    return IsOpen() &&
           (::lseek(m_impl->fd, 0, SEEK_END) >= 0 || Fail("lseek", {m_impl->path}, errno));
}

int64_t File::Position() const {
    return IsOpen() ? static_cast<int64_t>(::lseek(m_impl->fd, 0, SEEK_CUR)) : -1;
}

bool File::Sync() {
    return IsOpen() && (::fsync(m_impl->fd) == 0 || Fail("fsync", {m_impl->path}, errno));
}

}  // namespace plat

namespace plat::backend {

WString ErrorText(unsigned long error) {
    char buffer[256];
    // GNU's strerror_r: its text may be a constant of its own rather than the buffer.
    return FromUtf8(::strerror_r(static_cast<int>(error), buffer, sizeof buffer));
}

}  // namespace plat::backend
