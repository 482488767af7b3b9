// The database list that the script header describes:
//
//     DBNCOUNT=2          how many databases
//     DBN1=DB.s3db        file name of database 1
//     MAINDBVER1=8.0.0.1  version database 1 is brought to
//     DBNPATH1=data\user  its sub-folder below the data folder (may be empty)
//
// and so on for 2. The list maps each number, the n of the <DBNAME:DBNn> tags, to an
// entry with the file's full path and a connection ready to be opened. The engine owns
// the map and wraps these functions.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "db/db_connection.h"
#include "platform/wstr.h"
#include "script/script_file.h"

struct DbEntry {
    int bEnabled = 1;  // 0: a sub-folder could not be made; the engine leaves it alone
    WString strDbName;
    WString strTargetVersion;  // empty when the script gives none
    WString strCurVersion;     // filled by the engine
    WString strSubPath;
    WString strFilePath;  // base + "\" + strSubPath + "\" + strDbName (no sub-path: one "\")
    std::unique_ptr<CDBConnection> pDb;     // unopened when the list is made
    std::unique_ptr<CDBConnection> pOldDb;  // set by the engine for the set-aside copy
};

// Ordered by database number; walked in ascending order.
using DatabaseMap = std::map<int, std::unique_ptr<DbEntry>>;

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

// Replaces the list with the script's databases below `baseFolder`, creating each
// entry's sub-folders. Leaves the list alone when the script is not open.
void LoadDatabaseList(CScriptFile& script, const WString& baseFolder, DatabaseMap& databases);

// Deletes every entry (closing its connections) in ascending order.
void ClearDatabaseList(DatabaseMap& databases);

// Makes sure that `base` and every level of `subPath` ("a\b") below it exist as folders,
// creating them one level at a time. Folders made before a failing level stay.
bool EnsureFolderPath(const WString& base, const WString& subPath);
