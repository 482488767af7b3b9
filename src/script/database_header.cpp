#include "script/database_header.h"

#include <cstdint>

namespace {

WString NumberedKey(WStringView word, int64_t n) { return WString(word) + wstr::FromInt(n); }

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
