// A script's schema steps tried without any user's data: each listed database gets an
// empty new file, as a run builds one for a database without rows, and its TABLE, ALTER,
// TRIGGER and SQLONE items run there in the script's order through the migration's own
// connection class (so a statement is confined exactly as in a run). What fails here
// fails on every user's machine. SQLTWO items are left out: they read another database's
// old file, which only a real installation has.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/wstr.h"
#include "script/script_file.h"

namespace dbrtool {

// A folder of its own below the system's temporary folder, removed with everything in it
// when the object goes unless Keep() was called.
class ScratchFolder {
public:
    explicit ScratchFolder(const WString& prefix) : m_path(plat::MakeTempFolder(prefix)) {}
    ~ScratchFolder() {
        if (!m_path.empty() && !m_bKeep) plat::RemoveTree(m_path);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool IsValid() const { return !m_path.empty(); }
    const WString& Path() const { return m_path; }
    void Keep() { m_bKeep = true; }

private:
    WString m_path;
    bool m_bKeep = false;
};

struct DryRunItem {
    int nLine = 0;  // the line the item begins on
    ScriptItem item;
    enum class Outcome { kDone, kPresent, kFailed, kSkipped } outcome = Outcome::kSkipped;
    WString strError;  // SQLite's text when it failed
    // TABLE: the columns its statement makes, in order, before any ALTER item; and whether
    // the statement made a table of the name the item gives at all.
    std::vector<std::string> columns;
    bool bMadeTable = false;
};

struct DryRun {
    std::vector<DryRunItem> items;  // items of listed databases, in script order
    // Per database: the tables its new file holds after the last item (upper case).
    std::map<int, std::set<std::string>> tables;
    // Items for too many databases: those of the later ones were not tried.
    bool bIncomplete = false;
};

// Runs the script's items for the databases `listed` on empty files below a scratch folder
// of its own. False when no scratch file could be made.
bool RunDry(CScriptFile& script, const std::set<int>& listed, DryRun& result);

}  // namespace dbrtool
