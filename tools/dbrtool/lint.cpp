#include "dbrtool/lint.h"

#include <map>
#include <set>

#include "dbrtool/dry_run.h"
#include "engine/data_files.h"
#include "engine/database_list.h"
#include "engine/script_check.h"
#include "engine/version_compare.h"
#include "platform/codepage.h"
#include "script/database_header.h"

namespace dbrtool {
namespace {

std::string U8(WStringView text) { return ToUtf8(text); }
std::string Quote(WStringView text) { return "\"" + U8(text) + "\""; }

// The parts of a version as the migration compares them: a run of dots is one separator,
// and each part is read like atoi.
std::vector<int> VersionParts(WStringView version) {
    std::vector<int> parts;
    size_t start = 0;
    while (start <= version.size()) {
        size_t dot = version.find(u'.', start);
        if (dot == WStringView::npos) dot = version.size();
        if (dot > start) parts.push_back(wstr::ToInt(version.substr(start, dot - start)));
        start = dot + 1;
    }
    return parts;
}

std::string AsCompared(WStringView version) {
    std::string text;
    for (int part : VersionParts(version)) {
        if (!text.empty()) text += ".";
        text += std::to_string(part);
    }
    return text.empty() ? "nothing" : text;
}

WString UpperAscii(WString text) { return wstr::ToUpper(text); }

const char* KindName(int kind) {
    static const char* const kNames[] = {"?", "TABLE", "ALTER", "TRIGGER", "SQLONE", "SQLTWO"};
    return kind >= ITEM_TABLE && kind <= ITEM_SQLTWO ? kNames[kind] : "?";
}

std::string Described(const ScriptItem& item) {
    std::string text = KindName(item.nType);
    switch (item.nType) {
        case ITEM_TABLE:
        case ITEM_TRIGGER:
            return text + " " + U8(item.strName);
        case ITEM_ALTER:
            return text + " " + U8(item.strName) + "," + U8(item.strColumn);
        default:
            return text + " " + U8(item.strVersion);
    }
}

class Linter {
public:
    Linter(CScriptFile& script, const std::vector<WString>& lines, std::vector<Finding>& warnings)
        : m_script(script), m_lines(lines), m_warnings(warnings) {}

    void Run();

private:
    void Warn(int line, std::string text) { m_warnings.push_back({line, std::move(text)}); }
    void CheckVersion(int line, const std::string& what, WStringView version);
    void CheckCount();
    void CheckFilesListedTwice();
    void CheckItems();

    CScriptFile& m_script;
    const std::vector<WString>& m_lines;
    std::vector<Finding>& m_warnings;
    DatabaseHeader m_header;
    WString m_dataFiles;
    DryRun m_dry;
};

void Linter::CheckVersion(int line, const std::string& what, WStringView version) {
    if (version.empty() || IsPlainVersion(version)) return;
    Warn(line, what + " " + Quote(version) +
                   " is not plain numbers and dots: versions are compared part by part as "
                   "numbers, so it counts as " +
                   AsCompared(version));
}

void Linter::CheckCount() {
    if (!m_header.bHasCount) return;
    const WString& count = m_header.strCount;
    bool digits = !count.empty();
    for (char16_t c : count)
        digits = digits && c >= u'0' && c <= u'9';
    if (!digits) {
        Warn(0, "DBNCOUNT " + Quote(count) + " is not a number: the migration reads it as " +
                    std::to_string(m_header.nCount));
    }
    // DBN lines past the count are never read.
    bool inHeader = false;
    for (size_t at = 0; at < m_lines.size(); ++at) {
        const WString& line = m_lines[at];
        if (wstr::StartsWith(line, u"HEAD")) inHeader = true;
        if (!inHeader || !wstr::StartsWith(line, u"DBN")) continue;
        size_t end = 3;
        while (end < line.size() && line[end] >= u'0' && line[end] <= u'9')
            ++end;
        if (end == 3 || end >= line.size() || line[end] != u'=') continue;
        const int n = wstr::ToInt(WStringView(line).substr(3, end - 3));
        if (n > m_header.nCount) {
            Warn(static_cast<int>(at) + 1, "DBN" + std::to_string(n) + " lies beyond DBNCOUNT=" +
                                               std::to_string(m_header.nCount) +
                                               ": the migration never reads it");
        }
    }
}

// The migration refuses a file listed twice under one spelling; other spellings of one
// file are for the system to tell, and check has only the script.
void Linter::CheckFilesListedTwice() {
    std::map<WString, const DatabaseKeys*> byUpper;
    for (const DatabaseKeys& keys : m_header.databases) {
        WString path;
        if (!ConfinedPath(DatabasePath(WString(), keys.strSubPath, keys.strDbName).substr(1),
                          path)) {
            continue;
        }
        auto [it, fresh] = byUpper.emplace(UpperAscii(path), &keys);
        if (!fresh && it->second->strDbName != keys.strDbName) {
            Warn(0, "DBN" + std::to_string(it->second->nIndex) + " and DBN" +
                        std::to_string(keys.nIndex) +
                        " differ only in letter case: on Windows they are one file, and the "
                        "migration refuses the script there");
        }
    }
    std::set<WString> names;
    for (const WString& name : engine::SplitDataFiles(m_dataFiles)) {
        WString path;
        if (!name.empty() && ConfinedPath(name, path)) {
            const WString upper = UpperAscii(path);
            auto database = byUpper.find(upper);
            if (database != byUpper.end()) {
                Warn(0, "DATABASEFILE names " + Quote(name) + ", the file of DBN" +
                            std::to_string(database->second->nIndex) +
                            ": the migration never takes rows from a database of the list");
            }
            if (!names.insert(upper).second) {
                Warn(0, "DATABASEFILE names " + Quote(name) + " twice");
            }
        }
    }
}

void Linter::CheckItems() {
    std::map<int, const DatabaseKeys*> listed;
    for (const DatabaseKeys& keys : m_header.databases)
        listed[keys.nIndex] = &keys;
    std::map<int, int> counts;
    for (const DryRunItem& dry : m_dry.items) {
        const ScriptItem& item = dry.item;
        const int line = dry.nLine;
        const DatabaseKeys& keys = *listed.at(item.nDbIndex);
        const std::string db = "DBN" + std::to_string(item.nDbIndex);
        ++counts[item.nDbIndex];
        if (item.nType == ITEM_SQLONE || item.nType == ITEM_SQLTWO) {
            CheckVersion(line, std::string(KindName(item.nType)) + " version", item.strVersion);
            int comparable = 0;
            const int order =
                engine::CompareVersion(item.strVersion, keys.strTargetVersion, comparable);
            if (!item.strVersion.empty() && !keys.strTargetVersion.empty() && comparable == 0) {
                Warn(line, Described(item) + ": the version has " +
                               std::to_string(VersionParts(item.strVersion).size()) +
                               " parts and MAINDBVER" + std::to_string(item.nDbIndex) + " " +
                               Quote(keys.strTargetVersion) + " " +
                               std::to_string(VersionParts(keys.strTargetVersion).size()) +
                               ": versions with different numbers of parts are never compared, "
                               "so the item runs on every migration of " +
                               db);
            } else if (comparable != 0 && order > 0) {
                Warn(line, Described(item) + " is past MAINDBVER" + std::to_string(item.nDbIndex) +
                               " " + Quote(keys.strTargetVersion) +
                               ": it runs again when the next release migrates " + db);
            }
        }
        if (dry.outcome == DryRunItem::Outcome::kFailed) {
            Warn(line, Described(item) + " fails on every new file of " + db + ": " +
                           U8(dry.strError) +
                           (item.nType == ITEM_SQLONE ? " (wherever it is due)" : ""));
        }
        if (item.nType == ITEM_TABLE && dry.outcome == DryRunItem::Outcome::kDone &&
            !dry.bMadeTable) {
            Warn(line, Described(item) + ": its statement makes no table " + U8(item.strName) +
                           ", so the rows of " + U8(item.strName) + " are never carried");
        }
    }
    for (const DatabaseKeys& keys : m_header.databases) {
        const std::string db =
            "DBN" + std::to_string(keys.nIndex) + " (" + U8(keys.strDbName) + ")";
        if (counts[keys.nIndex] == 0) {
            Warn(0, db + " has no items: where it is behind MAINDBVER, its new file would hold "
                         "no table and no version, so the migration never replaces it");
        } else if (m_dry.tables.count(keys.nIndex) != 0 &&
                   m_dry.tables[keys.nIndex].count("TVERSION") == 0) {
            Warn(0, db + " gets no TVERSION table from its items: its version can never be "
                         "recorded, so the migration never replaces it");
        }
    }
}

void Linter::Run() {
    WString value;
    if (m_script.ReadMain(value)) CheckVersion(0, "MAIN", value);
    m_script.ReadDatabaseFile(m_dataFiles);
    ReadDatabaseHeader(m_script, m_header);
    for (const DatabaseKeys& keys : m_header.databases) {
        if (keys.bHasTargetVersion) {
            CheckVersion(0, "MAINDBVER" + std::to_string(keys.nIndex), keys.strTargetVersion);
        }
    }
    CheckCount();
    CheckFilesListedTwice();
    std::set<int> listed;
    for (const DatabaseKeys& keys : m_header.databases)
        listed.insert(keys.nIndex);
    if (!RunDry(m_script, listed, m_dry)) {
        Warn(0, "no scratch file could be made: the items were not tried on a new file");
        return;
    }
    if (m_dry.bIncomplete) {
        Warn(0,
             "items for too many databases: only those of the first ones were tried on a "
             "new file");
    }
    CheckItems();
}

}  // namespace

bool IsPlainVersion(WStringView version) {
    if (version.empty()) return false;
    size_t start = 0;
    for (;;) {
        size_t dot = version.find(u'.', start);
        if (dot == WStringView::npos) dot = version.size();
        const WStringView part = version.substr(start, dot - start);
        if (part.empty() || (part.size() > 1 && part[0] == u'0')) return false;
        for (char16_t c : part) {
            if (c < u'0' || c > u'9') return false;
        }
        if (dot == version.size()) return true;
        start = dot + 1;
    }
}

void LintScript(CScriptFile& script, const std::vector<WString>& lines,
                std::vector<Finding>& warnings) {
    Linter(script, lines, warnings).Run();
    script.Rewind();
}

}  // namespace dbrtool
