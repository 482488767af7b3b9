#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "platform/files.h"
#include "support/file_conditions.h"

namespace {

// The system's bytes for a program path: what SQLite is given is what the system is given.
std::string Native(const WString& path) { return plat::PathForSqlite(path); }

}  // namespace

bool SetHiddenSystem(const WString&, bool, bool) { return false; }

bool MakePipe(const WString& path) { return ::mkfifo(Native(path).c_str(), 0666) == 0; }

bool MakeLink(const WString& target, const WString& path) {
    return ::symlink(Native(target).c_str(), Native(path).c_str()) == 0;
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return;
    m_oldLimit = limit.rlim_cur;
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    m_bActive = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    if (!m_bActive) std::signal(SIGXFSZ, m_oldHandler);
}

FileSizeLimit::~FileSizeLimit() {
    if (!m_bActive) return;
    struct rlimit limit;
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(m_oldLimit);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, m_oldHandler);
}
