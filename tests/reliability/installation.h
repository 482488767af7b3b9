// A realistic installation for fault tests: three databases (one of them "vuserdat", one
// that does not exist yet), an extra data file, thousands of rows with text and blobs,
// indexes, triggers, an AUTOINCREMENT table, and a script whose items take rows from every
// kind of source. The same code builds it, migrates it and checks what a run left.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/wstr.h"

namespace reliability {

// Builds the installation in `folder` (which must exist and be empty). `expected`
// receives what a migration must preserve (per-table content digests of the columns that
// survive), as text that CheckInstallation reads back. False, with `error`, on failure.
bool MakeInstallation(const WString& folder, std::string& expected, std::string& error);

// One silent migration run of the installation, as an installer starts it: 1 or 0. With
// `fs`, the run reaches the files through it.
int RunMigration(const WString& folder, plat::FileSystem* fs = nullptr);

enum class Strictness {
    // Every original row is in the migrated databases, every database is at the script's
    // version, every data statement ran exactly once, every file is accounted for:
    // nothing but the databases, the script, the log, the update record and kept
    // ".partial" / ".bak" files.
    kMigrated,
    // Every original row is somewhere a user can get it back from: in the migrated
    // database, or in its source's file, ".tmp", ".bak" or ".partial" copy.
    kNothingLost,
};

// Checks `folder` against `expected`; one line per problem in `problems`. True when none.
bool CheckInstallation(const WString& folder, const std::string& expected, Strictness strictness,
                       std::vector<std::string>& problems);

// Checks what a client started now would find, before any further run: every database
// path opens (a hot journal rolled back, as the client's first read does) and holds either
// the complete old database (its own rows, its old version) or the complete new one (every
// row it is to receive, the script's version), or is missing only in the instant between
// the old file going to ".tmp" and the new one taking its place. A database that did not
// exist may still be missing. One line per problem in `problems`; true when none.
bool CheckClientView(const WString& folder, const std::string& expected,
                     std::vector<std::string>& problems);

// Number of kept copies in the installation whose names end with `suffix` (".partial" or
// ".bak"; empty: both).
int CountKeptFiles(const WString& folder, WStringView suffix = u"");

}  // namespace reliability
