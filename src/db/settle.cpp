#include "db/settle.h"

#include <sqlite3.h>

#include <memory>

#include "db/db_connection.h"
#include "db/statement.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace db {
namespace {

// A writer of the client finishing its transaction is waited for, as every read waits.
constexpr int kBusyWaitMs = kBusyTimeoutMs;

bool IsBusy(int rc) {
    const int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

}  // namespace

bool CompanionsArePlainFiles(const WString& path, WString& detail) {
    for (const char16_t* suffix : {u"-journal", u"-wal", u"-shm"}) {
        const WString companion = path + suffix;
        switch (plat::EntryAt(companion)) {
            case plat::EntryKind::kNone:
            case plat::EntryKind::kRegular:
                continue;
            case plat::EntryKind::kLink:
                detail = companion + u" (链接)";
                return false;
            case plat::EntryKind::kFolder:
                detail = companion + u" (文件夹)";
                return false;
            case plat::EntryKind::kOther:
                detail = companion + u" (管道或设备)";
                return false;
        }
    }
    return true;
}

FileRest SettleDatabaseFile(const WString& path, WString& detail) {
    detail.clear();
    if (!CompanionsArePlainFiles(path, detail)) return FileRest::kForeign;
    {
        sqlite3* raw = nullptr;
        const int opened = sqlite3_open_v2(plat::PathForSqlite(path).c_str(), &raw,
                                           SQLITE_OPEN_READWRITE, nullptr);
        UniqueConnection db(raw);
        if (opened == SQLITE_OK) {
            sqlite3_busy_timeout(db.get(), kBusyWaitMs);
            // The exclusive lock proves that no other connection is inside a transaction,
            // and taking it plays back a hot journal or recovers a log.
            const int rc = sqlite3_exec(
                db.get(), "BEGIN EXCLUSIVE; SELECT count(*) FROM sqlite_master; COMMIT;", nullptr,
                nullptr, nullptr);
            if (IsBusy(rc)) {
                detail = FromUtf8(sqlite3_errmsg(db.get()));
                return FileRest::kBusy;
            }
            std::string mode;
            if (rc == SQLITE_OK) {
                Statement query(db.get(), "PRAGMA journal_mode;");
                if (query.Step() == SQLITE_ROW && query.ColumnText(0) != nullptr)
                    mode = query.ColumnText(0);
            }
            // A journal that is no longer hot (its header zeroed or the file emptied by a
            // client in PERSIST or TRUNCATE mode) stays on disk: leaving such a mode makes
            // SQLite delete it, under its own locks.
            if (rc == SQLITE_OK && mode != "wal" && plat::PathExists(path + u"-journal")) {
                sqlite3_exec(db.get(), "PRAGMA journal_mode=TRUNCATE; PRAGMA journal_mode=DELETE;",
                             nullptr, nullptr, nullptr);
            }
        }
    }  // closing the last connection checkpoints a log and removes it
    for (const char16_t* suffix : kCompanionSuffixes) {
        if (plat::PathExists(path + suffix)) {
            detail = path + suffix;
            return FileRest::kCompanions;
        }
    }
    return FileRest::kAtRest;
}

}  // namespace db
