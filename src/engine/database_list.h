// The run's list of databases, made from the script header's keys.
#pragma once

#include "engine/database_entry.h"
#include "platform/file_system.h"
#include "script/database_header.h"

// Replaces the list with the header's databases below `baseFolder`, creating each entry's
// sub-folders; an entry whose folder cannot be made is listed with bEnabled 0.
void LoadDatabaseList(const DatabaseHeader& header, const WString& baseFolder,
                      DatabaseMap& databases, plat::FileSystem& fs);

// Deletes every entry (closing its connections) in ascending order.
void ClearDatabaseList(DatabaseMap& databases);

// The file path of a database below `baseFolder`: base + "\" + sub-path + "\" + name, with
// one "\" when there is no sub-path.
WString DatabasePath(const WString& baseFolder, const WString& subPath, const WString& name);

// Makes sure that `base` and every level of `subPath` ("a\b") below it exist as folders,
// creating them one level at a time. Folders made before a failing level stay.
bool EnsureFolderPath(const WString& base, const WString& subPath, plat::FileSystem& fs);
