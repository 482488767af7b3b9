// The databases of a run: one entry per database of the script's list, with what the run
// does with it.
//
// What a run does with a database, from the moment it is listed:
//
//   kListed --> kUpToDate                      at or past the script's version
//          \--> kLeftAlone                     nothing may be done now (busy, held by a
//          |                                   client, unreadable, its folder missing)
//          \--> kBuilding --> kDiscarded       its new file could not be built whole, or
//          |              |                    could not take the path: the database stays
//          |              |                    exactly as it was
//          |              \--> kBuilt --> kReplaced   new file complete; then it has the path
//          \--> kCleanUp                       an earlier run replaced it: only removing the
//                                              old file and the marker is left
//
// While it is kBuilding or kBuilt the database itself stays untouched at its path and the
// new file is built beside it, at "<path>.new"; a marker "<path>.migrating" says so (see
// migration_marker.h). kReplaced and kCleanUp keep the old file as "<path>.tmp" until
// every database of the run is done, since another database's items may read it.
#pragma once

#include <map>
#include <memory>

#include "db/db_connection.h"
#include "platform/files.h"
#include "platform/wstr.h"

enum class DbState {
    kListed,
    kUpToDate,
    kLeftAlone,
    kBuilding,
    kDiscarded,
    kBuilt,
    kReplaced,
    kCleanUp,
};

struct DbEntry {
    // 0 when a sub-folder of its path could not be made: the run leaves it alone.
    int bEnabled = 1;
    WString strDbName;
    WString strTargetVersion;  // empty when the script gives none
    WString strCurVersion;     // the version the database had before the run
    WString strSubPath;
    WString strFilePath;  // base + "\" + strSubPath + "\" + strDbName (no sub-path: one "\")

    DbState state = DbState::kListed;
    // A database file was there when the run began (else the new file is its first).
    bool bHadFile = false;
    // The old file as the run found it before reading it: a file written since then holds
    // rows the new file lacks, and must not be replaced.
    plat::FileStamp oldStamp;
    // Where the database's rows as they were before its migration are: its own path while
    // it is built, "<path>.tmp" once an earlier run replaced it; empty when it had none.
    WString strOldPath;
    // Something went wrong while its new file was built that loses rows if the file took
    // the path (a copy that failed or came up short).
    bool bBuildFailed = false;
    // Why the run left it alone or discarded its new file; empty otherwise.
    WString strWhy;

    std::unique_ptr<CDBConnection> pDb;     // the new file while it is built
    std::unique_ptr<CDBConnection> pOldDb;  // the file at strOldPath, for reading

    WString NewPath() const { return strFilePath + u".new"; }
    WString TmpPath() const { return strFilePath + u".tmp"; }
};

// Ordered by database number; walked in ascending order.
using DatabaseMap = std::map<int, std::unique_ptr<DbEntry>>;
