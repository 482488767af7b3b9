// Whether a script may run at all: the checks that refuse a script before anything is
// touched. The migration and dbrtool ask the same code.
#pragma once

#include <vector>

#include "platform/file_system.h"
#include "platform/wstr.h"
#include "script/database_header.h"
#include "script/script_file.h"

// One reason to refuse a script: the line it is about (0: the header as a whole) and a
// description for the log.
struct ScriptRefusal {
    int nLine = 0;
    WString strText;
};

// Every item can be read and none swallows another: a script whose items cannot all be
// read would silently drop those after the bad one, and their rows with them. Rewinds the
// script; false, with the reasons added to `refusals`, when it must be refused.
bool CheckScriptItems(CScriptFile& script, std::vector<ScriptRefusal>& refusals);

// Every database of the header and every name of the DATABASEFILE list stays inside the
// data folder (no "..", past it, no rooted path, drive, UNC path or stream name), and no
// two databases name one path as written. False, with the reasons added, when one does not.
bool CheckScriptPaths(const DatabaseHeader& header, const WString& dataFiles,
                      std::vector<ScriptRefusal>& refusals);

// No two databases of the header are one file to the system in the data folder `dataDir`
// ("DB.s3db" and ".\DB.s3db", another letter case where the system ignores it, a link),
// and none is a file the run makes beside another (its ".tmp", ".new", ".migrating").
// Asks `fs` for identities only: nothing is written. False, with the reasons added, when
// two are one.
bool CheckScriptFiles(plat::FileSystem& fs, const WString& dataDir, const DatabaseHeader& header,
                      std::vector<ScriptRefusal>& refusals);

// The path below the data folder that `relative` names ("a\.\b\..\c.db" -> "a\c.db"),
// whichever separator it uses; false when it is empty, names the folder itself, or leads
// outside it.
bool ConfinedPath(WStringView relative, WString& normalised);
