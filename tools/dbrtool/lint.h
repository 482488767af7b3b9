// Mistakes a script can hold that the migration does not refuse, but that fail or mislead
// on users' machines, found from the script alone: a listed database without items or
// without a TVERSION table, version texts that are not plain numbers and dots, a DBNCOUNT
// that does not match the DBN lines, one file listed twice, and items that fail on every
// new file (dry_run.h).
#pragma once

#include <string>
#include <vector>

#include "platform/wstr.h"
#include "script/script_file.h"

namespace dbrtool {

struct Finding {
    int nLine = 0;  // 0: the script as a whole
    std::string strText;
};

// Adds what it finds to `warnings`. `lines` are the script's lines, as read. Rewinds the
// script.
void LintScript(CScriptFile& script, const std::vector<WString>& lines,
                std::vector<Finding>& warnings);

// True when `version` is decimal numbers without leading zeros, one dot between each two.
bool IsPlainVersion(WStringView version);

}  // namespace dbrtool
