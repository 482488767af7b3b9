// dbrtool verify: rehearses an upgrade script on copies of real installations.
//
// For each installation folder, what the script names (its databases below the folder,
// with their journals and the files an interrupted run leaves, the extra data files, the
// client vennic.exe) is copied byte for byte into a scratch folder, and the migration's own
// code runs there, silently, as `quorvel /S` would. Nothing in the installation folder is
// opened for writing, and no SQLite connection is opened on its files. The report says what
// the run did to every database, table and item, and with --expect compares each migrated
// database's schema with that of a fresh installation of the new client.
#pragma once

#include <ostream>
#include <vector>

#include "platform/wstr.h"

namespace dbrtool {

struct VerifyOptions {
    WString strScript;
    std::vector<WString> installations;
    WString strExpect;  // a folder of fresh databases; empty: no comparison
    WString strClient;  // the client's FileVersion; empty: read from vennic.exe
    bool bJson = false;
    bool bKeep = false;  // leave each scratch folder for a closer look
};

// Takes verify's arguments (those after the word "verify"); false, with the reason on
// `err`, when they are wrong.
bool ParseVerifyArguments(const std::vector<WString>& args, VerifyOptions& options,
                          std::ostream& err);

// Runs the rehearsal and writes its report to `out` (JSON with bJson). 0 when every
// installation passes, 1 otherwise.
int Verify(const VerifyOptions& options, std::ostream& out, std::ostream& err);

}  // namespace dbrtool
