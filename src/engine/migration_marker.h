// The marker of a migration in progress: "<database path>.migrating".
//
// A run writes it, durably, before it starts building a database's new file beside it
// ("<path>.new"), adds to it once that file is finished, and removes it last. A run that
// finds one knows that an earlier run was cut off, and what each file at hand is:
//
//     quorvel migration marker, built beside
//     target=<version the database is being brought to>
//     source=file          a database file was at the path when the build began
//     source=none          there was no database file
//     end
//     built                (appended) "<path>.new" is complete, synced and versioned:
//                          only moving it to the path is left (the old file going to
//                          "<path>.tmp" first)
//     carried=<source>\t<table>  (with built) the new file holds every row of that table
//                          of that source (a database's old rows, named by the database's
//                          path; the extra data file): a run that cleans up after a crash
//                          knows what of an old file was carried where
//     read=<source>\t<stamp>  (with built) the extra data file as it was when its rows were
//                          read (identity, size, times): rows carried from a file that
//                          changed since do not count
//
// Runs of an older design set the database aside before they built the new file at the
// path; their markers begin "quorvel migration marker" alone, and may carry "complete" / "complete
// unchecked" (the new file at the path is done) or "kept=<path>" (done but for its version, rows
// kept in that file), and a
// ".tmp" beside a marker without those lines is the database itself.
//
// Lines are UTF-8. A marker is always replaced as a whole (written beside it, then moved
// over it), so a crash leaves either the old one or the new one; only whole lines count.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/wstr.h"

struct MigrationMarker {
    bool bValid = false;  // the four header lines were read whole
    // Written by a run that builds the new file beside the database (else by a run of the
    // older design, which built it at the database's path).
    bool bBeside = false;
    WString strTargetVersion;
    bool bHadFile = false;  // source=file
    bool bBuilt = false;    // a built line follows the header
    // The tables of other files the new file carries: (source, table).
    std::vector<std::pair<WString, WString>> carried;
    // The sources as they were read: (source, StampText).
    std::vector<std::pair<WString, std::string>> stamps;
    // Older runs' lines.
    WString strKeptPath;      // kept=
    bool bComplete = false;   // complete
    bool bUnchecked = false;  // ... and it says "complete unchecked"
};

WString MarkerPath(const WString& dbPath);

// Writes a new marker for the database at `dbPath`, replacing one that is there as a whole
// (written as "<marker>.new", then moved over it), and makes it durable (the file and its
// folder synced). False when it could not be written whole.
bool WriteMarker(plat::FileSystem& fs, const WString& dbPath, const WString& targetVersion,
                 bool hadFile);
// Adds the line "built", and a line for each table of a source the new file carries, to the
// marker, replaced whole and made durable. False when there is no marker.
bool AppendMarkerBuilt(plat::FileSystem& fs, const WString& dbPath,
                       const std::vector<std::pair<WString, WString>>& carried = {},
                       const std::vector<std::pair<WString, std::string>>& stamps = {});
// A file's stamp as a marker keeps it.
std::string StampText(const plat::FileStamp& stamp);
// False when there is no marker file. A marker that cannot be read whole comes back with
// bValid false.
bool ReadMarker(plat::FileSystem& fs, const WString& dbPath, MigrationMarker& marker);
// Removes the marker and syncs its folder; true when none is left.
bool RemoveMarker(plat::FileSystem& fs, const WString& dbPath);
