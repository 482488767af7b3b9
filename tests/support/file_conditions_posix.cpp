#include <sys/stat.h>
#include <unistd.h>

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
