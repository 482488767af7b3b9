#include "reliability/quota_vfs.h"

#include <sqlite3.h>

#include <optional>

#include "support/shim_vfs.h"

namespace reliability {
namespace {

struct State {
    int64_t remaining = 0;
    int64_t used = 0;
    bool unlimited = false;
    bool readOnly = false;
    bool exhausted = false;
};
State g_state;

class QuotaVfs : public testsupport::ShimVfs {
public:
    QuotaVfs() : ShimVfs("quota") {}

    int Open(const char* name, File& file, int flags, int* outFlags) override {
        if (g_state.readOnly && (flags & SQLITE_OPEN_CREATE) != 0) {
            int exists = 0;
            if (name == nullptr ||
                Real()->xAccess(Real(), name, SQLITE_ACCESS_EXISTS, &exists) != SQLITE_OK ||
                !exists) {
                g_state.exhausted = true;
                return SQLITE_CANTOPEN;
            }
        }
        return ShimVfs::Open(name, file, flags, outFlags);
    }
    int Delete(const char* name, int syncDir) override {
        if (g_state.readOnly) return SQLITE_IOERR_DELETE;
        return ShimVfs::Delete(name, syncDir);
    }
    int Write(File& file, const void* data, int amount, int64_t offset) override {
        if (g_state.readOnly) {
            g_state.exhausted = true;
            return SQLITE_READONLY;
        }
        int64_t size = 0;
        if (FileSize(file, &size) != SQLITE_OK) return SQLITE_IOERR_WRITE;
        const int64_t growth = offset + amount - size;
        if (growth > 0 && !g_state.unlimited) {
            if (growth > g_state.remaining) {
                g_state.exhausted = true;
                return SQLITE_FULL;
            }
            g_state.remaining -= growth;
        }
        if (growth > 0) g_state.used += growth;
        return ShimVfs::Write(file, data, amount, offset);
    }
    int Truncate(File& file, int64_t size) override {
        if (g_state.readOnly) return SQLITE_READONLY;
        return ShimVfs::Truncate(file, size);
    }
};
std::optional<QuotaVfs> g_vfs;

}  // namespace

ScopedQuotaVfs::ScopedQuotaVfs(int64_t budget, bool readOnly) {
    g_state = State();
    g_state.remaining = budget;
    g_state.readOnly = readOnly;
    g_vfs.emplace();
}

ScopedQuotaVfs::~ScopedQuotaVfs() { g_vfs.reset(); }

bool ScopedQuotaVfs::Exhausted() { return g_state.exhausted; }

int64_t ScopedQuotaVfs::Used() { return g_state.used; }

void ScopedQuotaVfs::Lift() {
    g_state.unlimited = true;
    g_state.readOnly = false;
}

}  // namespace reliability
