// The marker of a migration in progress: "<database path>.migrating".
//
// A run writes it, durably, before it sets a database aside (or, for a database that does
// not exist yet, before it creates the file), appends to it as the database's finishing
// step goes along, and removes it last. A run that finds one knows that an earlier run was
// cut off, and which of the files at hand holds the database's complete data:
//
//     quorvel migration marker
//     target=<version the database is being brought to>
//     source=file          the database existed and was set aside as "<path>.tmp"
//     source=none          there was no database file; the file at the path is ours
//     end
//     kept=<path>          (appended) the set-aside file was kept under this name
//     complete             (appended) the new file is built, on disk and versioned
//     complete unchecked   (appended) the same, but whether every table of the set-aside
//                          file was carried is for the run that cleans up to find out
//
// Lines are UTF-8. A marker is always replaced as a whole (written beside it, then moved
// over it), so a crash leaves either the old one or the new one; only whole lines count.
#pragma once

#include "platform/wstr.h"

struct MigrationMarker {
    bool bValid = false;  // the four header lines were read whole
    WString strTargetVersion;
    bool bHadFile = false;    // source=file
    WString strKeptPath;      // empty unless a kept= line follows the header
    bool bComplete = false;   // a complete line follows the header
    bool bUnchecked = false;  // ... and it says "complete unchecked"
};

WString MarkerPath(const WString& dbPath);

// Writes a new marker for the database at `dbPath`, replacing one that is there as a whole
// (written as "<marker>.new", then moved over it), and makes it durable (the file and its
// folder synced). False when it could not be written whole.
bool WriteMarker(const WString& dbPath, const WString& targetVersion, bool hadFile);
// Add the line "kept=<keptPath>" / "complete" ("complete unchecked") to the marker, which
// is replaced whole and made durable. False when there is no marker.
bool AppendMarkerKept(const WString& dbPath, const WString& keptPath);
bool AppendMarkerComplete(const WString& dbPath, bool checked = true);
// False when there is no marker file. A marker that cannot be read whole comes back with
// bValid false.
bool ReadMarker(const WString& dbPath, MigrationMarker& marker);
// Removes the marker and syncs its folder; true when none is left.
bool RemoveMarker(const WString& dbPath);

// The folder part of a program path ("a\b\c.db" -> "a\b"); the path itself without one.
WString FolderOf(const WString& path);
