#include "engine/database_list.h"

namespace {

bool EnsureFolder(const WString& path, plat::FileSystem& fs) {
    return fs.IsDirectory(path) || fs.MakeDirectory(path);
}

}  // namespace

WString DatabasePath(const WString& baseFolder, const WString& subPath, const WString& name) {
    WString path = baseFolder + u"\\" + subPath;
    if (!subPath.empty()) path += u"\\";
    return path + name;
}

void LoadDatabaseList(const DatabaseHeader& header, const WString& baseFolder,
                      DatabaseMap& databases, plat::FileSystem& fs) {
    ClearDatabaseList(databases);
    for (const DatabaseKeys& keys : header.databases) {
        auto entry = std::make_unique<DbEntry>();
        entry->strDbName = keys.strDbName;
        entry->pDb = std::make_unique<CDBConnection>();
        entry->strTargetVersion = keys.strTargetVersion;
        if (keys.bHasSubPath) {
            entry->strSubPath = keys.strSubPath;
            entry->bEnabled = EnsureFolderPath(baseFolder, entry->strSubPath, fs) ? 1 : 0;
        }
        entry->strFilePath = DatabasePath(baseFolder, entry->strSubPath, entry->strDbName);
        databases[keys.nIndex] = std::move(entry);
    }
}

void ClearDatabaseList(DatabaseMap& databases) {
    while (!databases.empty())
        databases.erase(databases.begin());
}

bool EnsureFolderPath(const WString& base, const WString& subPath, plat::FileSystem& fs) {
    if (!EnsureFolder(base, fs)) return false;
    // Empty pieces (from a leading, trailing or doubled "\") name the folder just made
    // and pass as existing.
    WString folder = base;
    WStringView rest = subPath;
    for (size_t cut = rest.find(u'\\'); cut != WStringView::npos; cut = rest.find(u'\\')) {
        folder += u"\\";
        folder += rest.substr(0, cut);
        if (!EnsureFolder(folder, fs)) return false;
        rest = rest.substr(cut + 1);
    }
    return EnsureFolder(folder + u"\\" + WString(rest), fs);
}
