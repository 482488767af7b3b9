// Bringing a database file to rest before it is moved.
//
// SQLite keeps a database's unfinished state beside it, in files named after it: the
// rollback journal "<path>-journal" of a transaction a crashed client left open, and the
// write-ahead log "<path>-wal" with commits not yet copied into the file. Moved away from
// them, the file loses those commits or keeps half of a transaction, and a new file made
// at the old path would take the stale companion for its own.
#pragma once

#include "platform/wstr.h"

namespace db {

enum class FileRest {
    kAtRest,      // no companion file remains; the file may be moved
    kBusy,        // another connection holds a lock SQLite waits on in vain
    kCompanions,  // a companion file remains (another process still has the database open)
    kForeign,     // a companion's name holds no plain file (CompanionsArePlainFiles)
};

// Lets SQLite finish what a crashed writer left (an exclusive transaction rolls back a hot
// journal and recovers a log; closing the last connection checkpoints and removes the log;
// a journal left behind by a connection in TRUNCATE or PERSIST mode is deleted by SQLite
// itself), then looks for companion files. `detail` receives SQLite's text (kBusy) or the
// companion's path (kCompanions, kForeign). Nothing is opened when a companion is no plain
// file (kForeign). A file SQLite cannot read as a database is at rest when
// it has no companions: what it holds is kept by the caller's own rules.
FileRest SettleDatabaseFile(const WString& path, WString& detail);

// "-journal" and "-wal": the companion files that must never be parted from their database.
inline constexpr const char16_t* kCompanionSuffixes[] = {u"-journal", u"-wal"};

// Whether whatever stands at the name of a companion of the database at `path` ("-journal",
// "-wal", "-shm") is a regular file. SQLite opens, writes, truncates and deletes these at
// their names, following links, in a folder that others may be able to write: a link there
// would lead its writes to any file, a pipe would hang it, a folder would stop it. False,
// with `detail` naming the first such companion and what it is, when one is not; nothing
// there is fine. Checked before every open.
bool CompanionsArePlainFiles(const WString& path, WString& detail);

}  // namespace db
