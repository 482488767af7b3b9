#include "engine/script_check.h"

#include <set>
#include <utility>

#include "engine/data_files.h"
#include "engine/database_list.h"

bool CheckScriptItems(CScriptFile& script, std::vector<ScriptRefusal>& refusals) {
    script.Rewind();
    ScriptItem item;
    bool bMore;
    do {
        bMore = script.ReadItem(item);
        // An item that misses a tag swallows the next one: that item's table would never
        // be created and its rows never carried.
        if (int nLost = script.GetLostItemLine()) {
            refusals.push_back(
                {nLost, u"第" + wstr::FromInt(nLost) + u"行的项目被前一项目吞没 (第" +
                            wstr::FromInt(script.GetItemLine()) + u"行的项目缺少标记)"});
            script.Rewind();
            return false;
        }
    } while (bMore);
    script.Rewind();
    if (script.GetItemError() == ItemError::kNone) return true;
    refusals.push_back(
        {script.GetItemLine(), u"第" + wstr::FromInt(script.GetItemLine()) + u"行: " +
                                   wstr::FromAscii(DescribeItemError(script.GetItemError()))});
    return false;
}

bool ConfinedPath(WStringView relative, WString& normalised) {
    normalised.clear();
    if (relative.empty()) return false;
    // Rooted ("\x", "/x"), UNC ("\\server"), a drive ("C:", "C:x") or an NTFS stream
    // ("DB.s3db:x"): none is a name below the data folder.
    if (relative[0] == u'\\' || relative[0] == u'/' || relative.find(u':') != WStringView::npos) {
        return false;
    }
    std::vector<WString> parts;
    WString part;
    auto take = [&]() {
        if (part.empty() || part == u".") {
        } else if (part == u"..") {
            if (parts.empty()) return false;
            parts.pop_back();
        } else {
            parts.push_back(part);
        }
        part.clear();
        return true;
    };
    for (char16_t c : relative) {
        if (c == u'\\' || c == u'/') {
            if (!take()) return false;
        } else {
            part.push_back(c);
        }
    }
    if (!take() || parts.empty()) return false;
    for (const WString& piece : parts) {
        if (!normalised.empty()) normalised += u"\\";
        normalised += piece;
    }
    return true;
}

bool CheckScriptPaths(const DatabaseHeader& header, const WString& dataFiles,
                      std::vector<ScriptRefusal>& refusals) {
    bool ok = true;
    std::set<WString> seen;
    for (const DatabaseKeys& keys : header.databases) {
        const WString written = DatabasePath(WString(), keys.strSubPath, keys.strDbName).substr(1);
        WString path;
        if (!ConfinedPath(written, path)) {
            refusals.push_back({0, u"数据库" + wstr::FromInt(keys.nIndex) +
                                       u"的路径不在数据文件夹内: " + written});
            ok = false;
        } else if (!seen.insert(path).second) {
            refusals.push_back({0, u"数据库" + wstr::FromInt(keys.nIndex) +
                                       u"与前面的数据库是同一个文件: " + written});
            ok = false;
        }
    }
    for (const WString& name : engine::SplitDataFiles(dataFiles)) {
        WString path;
        if (!name.empty() && !ConfinedPath(name, path)) {
            refusals.push_back({0, u"DATABASEFILE的文件不在数据文件夹内: " + name});
            ok = false;
        }
    }
    return ok;
}

bool CheckScriptFiles(plat::FileSystem& fs, const WString& dataDir, const DatabaseHeader& header,
                      std::vector<ScriptRefusal>& refusals) {
    bool ok = true;
    // The same file under two names is one file to the system, whatever the texts say:
    // its identity decides, or that of the folder it would be made in.
    std::vector<std::pair<WString, int>> files;
    for (const DatabaseKeys& keys : header.databases) {
        const WString path = DatabasePath(dataDir, keys.strSubPath, keys.strDbName);
        const WString key = plat::IdentityKey(fs, path);
        for (const auto& [other, n] : files) {
            if (other == key) {
                refusals.push_back({0, u"数据库" + wstr::FromInt(keys.nIndex) + u"与数据库" +
                                           wstr::FromInt(n) + u"是同一个文件: " + path});
                ok = false;
            }
        }
        files.emplace_back(key, keys.nIndex);
        // The names the run gives its own files beside a database must not be another's.
        for (const char16_t* suffix : {u".tmp", u".new", u".migrating"}) {
            files.emplace_back(plat::IdentityKey(fs, path + suffix), keys.nIndex);
        }
    }
    return ok;
}
