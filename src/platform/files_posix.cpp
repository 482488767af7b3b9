#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/files.h"

namespace plat {
namespace {

// File names on this system are UTF-8 bytes, whatever the ANSI code page.
std::string Native(const WString& path) { return ToUtf8(ToNativePath(path)); }

WString FromNativeBytes(std::string_view bytes) { return FromNativePath(FromUtf8(bytes)); }

int RetryOpen(const char* path, int flags, mode_t mode = 0666) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Renames only when nothing exists at `target`.
bool RenameNoReplace(const std::string& source, const std::string& target) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing target too.
    if (::link(source.c_str(), target.c_str()) != 0) return false;
    ::unlink(source.c_str());
    return true;
}

}  // namespace

WString ToNativePath(WStringView path) { return wstr::ReplaceAll(path, u"\\", u"/"); }

WString FromNativePath(WStringView path) { return wstr::ReplaceAll(path, u"/", u"\\"); }

std::string PathForSqlite(WStringView path) { return ToUtf8(ToNativePath(path)); }

bool PathExists(const WString& path) {
    struct stat st;
    return !path.empty() && ::stat(Native(path).c_str(), &st) == 0;
}

bool IsDirectory(const WString& path) {
    struct stat st;
    return !path.empty() && ::stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const WString& path) {
    if (FileFaultInjected(FileOperation::kMakeDirectory, path)) return false;
    return !path.empty() && ::mkdir(Native(path).c_str(), 0777) == 0;
}

bool MoveReplace(const WString& from, const WString& to) {
    if (FileFaultInjected(FileOperation::kMove, from)) return false;
    return ::rename(Native(from).c_str(), Native(to).c_str()) == 0;
}

bool MoveNoReplace(const WString& from, const WString& to) {
    if (FileFaultInjected(FileOperation::kMove, from)) return false;
    return RenameNoReplace(Native(from), Native(to));
}

MoveOutcome MoveIfUnused(const WString& from, const WString& to) {
    if (FileFaultInjected(FileOperation::kMove, from)) return MoveOutcome::kFailed;
    const std::string source = Native(from);
    int fd = RetryOpen(source.c_str(), O_RDONLY);
    if (fd < 0) return MoveOutcome::kFailed;
    // A process that opens the file while the lease is held makes the kernel signal us,
    // with SIGIO unless told otherwise, and SIGIO's default action ends the process.
    // SIGURG is ignored by default.
    ::fcntl(fd, F_SETSIG, SIGURG);
    // A write lease is granted only when no other descriptor of the file is open anywhere.
    const bool leased = ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    if (!leased && (errno == EAGAIN || errno == EBUSY)) {
        ::close(fd);
        return MoveOutcome::kInUse;
    }
    const bool moved = RenameNoReplace(source, Native(to));
    if (leased) ::fcntl(fd, F_SETLEASE, F_UNLCK);
    ::close(fd);
    return moved ? MoveOutcome::kMoved : MoveOutcome::kFailed;
}

bool RemoveFile(const WString& path) {
    struct stat st;
    if (FileFaultInjected(FileOperation::kRemove, path)) return false;
    std::string native = Native(path);
    // DeleteFileW refuses folders; so do we.
    if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(native.c_str()) == 0;
}

int64_t FileSize(const WString& path) {
    struct stat st;
    if (::stat(Native(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool SyncDirectory(const WString& folder) {
    int fd = RetryOpen(Native(folder).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::vector<FoundFile> FindFiles(const WString& pattern) {
    std::vector<FoundFile> found;
    size_t cut = pattern.rfind(u'\\');
    WString folder = cut == WString::npos ? WString(u".") : pattern.substr(0, cut);
    if (folder.empty()) folder = u"\\";  // a pattern in the root folder
    const WString wildcard = cut == WString::npos ? pattern : pattern.substr(cut + 1);
    std::string nativeFolder = Native(folder);

    DIR* dir = ::opendir(nativeFolder.c_str());
    if (dir == nullptr) return found;
    while (struct dirent* entry = ::readdir(dir)) {
        FoundFile file;
        file.name = FromUtf8(std::string_view(entry->d_name));
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

bool SetHiddenSystemForTesting(const WString&, bool, bool) { return false; }

bool MakePipeForTesting(const WString& path) { return ::mkfifo(Native(path).c_str(), 0666) == 0; }

bool MakeLinkForTesting(const WString& target, const WString& path) {
    return ::symlink(Native(target).c_str(), Native(path).c_str()) == 0;
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
    std::string templ = base + "/" + ToUtf8(prefix) + "-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) return WString();
    return FromNativeBytes(templ);
}

bool RemoveTree(const WString& path) {
    auto remove = [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); };
    return ::nftw(Native(path).c_str(), remove, 16, FTW_DEPTH | FTW_PHYS) == 0;
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
        case Mode::kAppend:
            flags = O_WRONLY | O_CREAT | O_APPEND;
            break;
        case Mode::kCreateTruncate:
            flags = O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case Mode::kCreateNew:
            flags = O_WRONLY | O_CREAT | O_EXCL;
            break;
    }
    const bool reading = mode == Mode::kRead || mode == Mode::kReadRegular;
    if (!reading && FileFaultInjected(FileOperation::kCreate, path)) return false;
    int fd = RetryOpen(Native(path).c_str(), flags);
    if (fd < 0) return false;
    struct stat st;
    // Windows cannot open a folder as a file.
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) ||
        (mode == Mode::kReadRegular &&
         (!S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, O_RDONLY) != 0))) {
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
    if (FileFaultInjected(FileOperation::kWrite, m_impl->path)) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(m_impl->fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

long long File::Read(void* data, size_t size) {
    if (!IsOpen()) return -1;
    ssize_t n;
    do {
        n = ::read(m_impl->fd, data, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool File::Seek(int64_t offset) {
    return IsOpen() && ::lseek(m_impl->fd, static_cast<off_t>(offset), SEEK_SET) == offset;
}

bool File::SeekToEnd() { return IsOpen() && ::lseek(m_impl->fd, 0, SEEK_END) >= 0; }

int64_t File::Position() const {
    return IsOpen() ? static_cast<int64_t>(::lseek(m_impl->fd, 0, SEEK_CUR)) : -1;
}

bool File::Sync() { return IsOpen() && ::fsync(m_impl->fd) == 0; }

}  // namespace plat
