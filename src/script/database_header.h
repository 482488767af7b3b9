// The databases the script header lists:
//
//     DBNCOUNT=2          how many databases
//     DBN1=DB.s3db        file name of database 1
//     MAINDBVER1=8.0.0.1  version database 1 is brought to
//     DBNPATH1=data\user  its sub-folder below the data folder (may be empty)
//
// and so on for 2; the n is that of the <DBNAME:DBNn> tags. The engine makes its list of
// databases from these keys.
#pragma once

#include <vector>

#include "platform/wstr.h"
#include "script/script_file.h"

// One database's keys exactly as the header gives them.
struct DatabaseKeys {
    int nIndex = 0;
    WString strDbName;
    bool bHasTargetVersion = false;
    WString strTargetVersion;
    bool bHasSubPath = false;  // an empty DBNPATH value counts as present
    WString strSubPath;
};

struct DatabaseHeader {
    bool bHasCount = false;
    WString strCount;  // the DBNCOUNT value as written
    int nCount = 0;    // read leniently, as atoi would: 0 when empty or not a number
    std::vector<DatabaseKeys> databases;
};

// Reads DBNCOUNT, then DBNn, MAINDBVERn and DBNPATHn for n = 1 up to the count. The
// first missing DBNn ends the list, even when later numbers are present. False (and an
// empty header) when the script is not open.
bool ReadDatabaseHeader(CScriptFile& script, DatabaseHeader& header);
