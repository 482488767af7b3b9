// What a run does with a database whose marker an earlier run left: that run was cut off
// (killed, a power cut, a full disk) somewhere between writing the marker and removing it.
#pragma once

#include "engine/migration_marker.h"

// The files at hand besides the marker.
struct ResumeFiles {
    bool bFile = false;  // a file at the database's path
    bool bTmp = false;   // "<path>.tmp"
    bool bNew = false;   // "<path>.new"
    // The path and ".tmp" are two names of one file: a swap was cut off between giving the
    // old file its second name and giving the path to the new file.
    bool bFileIsTmp = false;
};

enum class ResumeAction {
    // The old file is still at the path (and may have been written since) and has a second
    // name ".tmp": that name goes, then as kStartOver.
    kDropSecondNameThenStartOver,
    // The database at the path (if any) is untouched: "<path>.new", if there, is a build
    // that never finished and goes. Then the database is migrated as usual.
    kStartOver,
    // An older run set the database aside as ".tmp" and was building at the path: the file
    // at the path (if any) is kept as ".partial", ".tmp" goes back to the path, and the
    // database is migrated as usual.
    kRestoreThenStartOver,
    // An older run built a new database's file at the path: that half-built file (which a
    // client may have written to since) is kept as ".partial", then the database is
    // migrated as usual.
    kPutAsideThenStartOver,
    // The new file was complete and the old one had gone to ".tmp": the new file takes the
    // path. A file at the path (a client made one in that instant) is kept as ".partial"
    // first. Then only the clean-up is left.
    kFinishSwap,
    // The new file has the path: only the clean-up is left (".tmp" and the marker go once
    // every database of the run is done).
    kCleanUp,
    // An older run finished the new file at the path but for its version: write it, then
    // clean up.
    kWriteVersionThenCleanUp,
};

// The one place that decides what a found marker means. Pure: it looks at nothing but its
// arguments.
ResumeAction DecideResume(const MigrationMarker& marker, const ResumeFiles& files);
