#include "script/database_list.h"

#include <cstdint>

#include "platform/files.h"

namespace {

WString NumberedKey(WStringView word, int64_t n) { return WString(word) + wstr::FromInt(n); }

bool EnsureFolder(const WString& path) {
    return plat::IsDirectory(path) || plat::MakeDirectory(path);
}

}  // namespace

bool ReadDatabaseHeader(CScriptFile& script, DatabaseHeader& header) {
    header = DatabaseHeader();
    if (!script.IsOpen()) return false;
    header.bHasCount = script.ReadHeaderValue(u"DBNCOUNT", header.strCount);
    if (!header.bHasCount) return true;
    header.nCount = header.strCount.empty() ? 0 : wstr::ToInt(header.strCount);
    // 64-bit, so that a count of INT_MAX cannot overflow the loop.
    for (int64_t n = 1; n <= header.nCount; ++n) {
        DatabaseKeys keys;
        keys.nIndex = static_cast<int>(n);
        if (!script.ReadHeaderValue(NumberedKey(u"DBN", n), keys.strDbName)) break;
        keys.bHasTargetVersion =
            script.ReadHeaderValue(NumberedKey(u"MAINDBVER", n), keys.strTargetVersion);
        keys.bHasSubPath = script.ReadHeaderValue(NumberedKey(u"DBNPATH", n), keys.strSubPath);
        header.databases.push_back(std::move(keys));
    }
    return true;
}

void LoadDatabaseList(CScriptFile& script, const WString& baseFolder, DatabaseMap& databases) {
    if (!script.IsOpen()) return;
    ClearDatabaseList(databases);
    DatabaseHeader header;
    ReadDatabaseHeader(script, header);
    for (DatabaseKeys& keys : header.databases) {
        auto entry = std::make_unique<DbEntry>();
        entry->strDbName = std::move(keys.strDbName);
        entry->pDb = std::make_unique<CDBConnection>();
        entry->strTargetVersion = std::move(keys.strTargetVersion);
        if (keys.bHasSubPath) {
            entry->strSubPath = std::move(keys.strSubPath);
            entry->bEnabled = EnsureFolderPath(baseFolder, entry->strSubPath) ? 1 : 0;
        }
        entry->strFilePath = baseFolder + u"\\" + entry->strSubPath;
        if (!entry->strSubPath.empty()) entry->strFilePath += u"\\";
        entry->strFilePath += entry->strDbName;
        databases[keys.nIndex] = std::move(entry);
    }
}

void ClearDatabaseList(DatabaseMap& databases) {
    while (!databases.empty())
        databases.erase(databases.begin());
}

bool EnsureFolderPath(const WString& base, const WString& subPath) {
    if (!EnsureFolder(base)) return false;
    // Empty pieces (from a leading, trailing or doubled "\") name the folder just made
    // and pass as existing.
    WString folder = base;
    WStringView rest = subPath;
    for (size_t cut = rest.find(u'\\'); cut != WStringView::npos; cut = rest.find(u'\\')) {
        folder += u"\\";
        folder += rest.substr(0, cut);
        if (!EnsureFolder(folder)) return false;
        rest = rest.substr(cut + 1);
    }
    return EnsureFolder(folder + u"\\" + WString(rest));
}
