#include "dbrtool/verify.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "app/exec_image_version.h"
#include "app/install_info.h"
#include "db/settle.h"
#include "dbrtool/dbrtool.h"
#include "dbrtool/dry_run.h"
#include "dbrtool/schema.h"
#include "engine/data_files.h"
#include "engine/database_list.h"
#include "engine/db_process.h"
#include "engine/script_check.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "script/database_header.h"

namespace dbrtool {
namespace {

std::string U8(WStringView text) { return ToUtf8(text); }

// ---- JSON ----

// Writes one JSON document, indented, as its parts are handed over.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : m_out(out) {}

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    void Key(std::string_view key) {
        Separate();
        WriteString(key);
        m_out << ": ";
        m_bAfterKey = true;
    }
    void String(std::string_view value) {
        Separate();
        WriteString(value);
    }
    void Number(int64_t value) {
        Separate();
        m_out << value;
    }
    void Seconds(double value) {
        Separate();
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", value);
        m_out << text;
    }
    void Bool(bool value) {
        Separate();
        m_out << (value ? "true" : "false");
    }
    void Null() {
        Separate();
        m_out << "null";
    }
    // A count that may be unknown (-1).
    void Count(int64_t value) {
        if (value < 0) {
            Null();
        } else {
            Number(value);
        }
    }
    void Strings(const std::vector<std::string>& values) {
        BeginArray();
        for (const std::string& value : values)
            String(value);
        EndArray();
    }
    void Finish() { m_out << "\n"; }

private:
    void Open(char bracket) {
        Separate();
        m_out << bracket;
        m_first.push_back(true);
    }
    void Close(char bracket) {
        const bool empty = m_first.back();
        m_first.pop_back();
        if (!empty) Indent();
        m_out << bracket;
    }
    void Separate() {
        if (m_bAfterKey) {
            m_bAfterKey = false;
            return;
        }
        if (m_first.empty()) return;
        if (!m_first.back()) m_out << ",";
        m_first.back() = false;
        Indent();
    }
    void Indent() { m_out << "\n" << std::string(m_first.size() * 2, ' '); }
    void WriteString(std::string_view text) {
        m_out << '"';
        for (char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                m_out << '\\' << c;
            } else if (c == '\n') {
                m_out << "\\n";
            } else if (c == '\r') {
                m_out << "\\r";
            } else if (c == '\t') {
                m_out << "\\t";
            } else if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                m_out << escaped;
            } else {
                m_out << c;
            }
        }
        m_out << '"';
    }

    std::ostream& m_out;
    std::vector<bool> m_first;
    bool m_bAfterKey = false;
};

// ---- files ----

bool IsFile(const WString& path) { return plat::PathExists(path) && !plat::IsDirectory(path); }

// A byte-for-byte copy into a file that must not exist yet. The source is only read.
bool CopyFileBytes(const WString& from, const WString& to) {
    plat::File in;
    plat::File out;
    if (!in.Open(from, plat::File::Mode::kRead) || !out.Open(to, plat::File::Mode::kCreateNew)) {
        return false;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const long long got = in.Read(buffer.data(), buffer.size());
        if (got < 0) return false;
        if (got == 0) return true;
        if (!out.Write(buffer.data(), static_cast<size_t>(got))) return false;
    }
}

// Makes the folders of `relative` ("a\b\file") below `base`.
bool MakeFoldersFor(const WString& base, const WString& relative) {
    WString folder = base;
    size_t start = 0;
    for (size_t cut; (cut = relative.find(u'\\', start)) != WString::npos; start = cut + 1) {
        folder += u"\\" + relative.substr(start, cut - start);
        if (!plat::IsDirectory(folder) && !plat::MakeDirectory(folder)) return false;
    }
    return true;
}

// What belongs to a database file: SQLite's journal and log, and what an interrupted
// run left beside it (the run acts on those too).
constexpr const char16_t* kBelongings[] = {
    u"",         u"-journal", u"-wal",         u".tmp",       u".tmp-journal",
    u".tmp-wal", u".new",     u".new-journal", u".migrating",
};

bool HasCompanions(const WString& path) {
    for (const char16_t* suffix : db::kCompanionSuffixes) {
        if (plat::PathExists(path + suffix)) return true;
    }
    return false;
}

// Copies the database `relative` of folder `from` with what belongs to it into `to`.
// False when a file that is there could not be copied.
bool CopyDatabase(const WString& from, const WString& to, const WString& relative) {
    if (!plat::IsDirectory(to) && !plat::MakeDirectory(to)) return false;
    if (!MakeFoldersFor(to, relative)) return false;
    // A folder where the database should be is one to the run too.
    if (plat::IsDirectory(from + u"\\" + relative)) {
        return plat::IsDirectory(to + u"\\" + relative) ||
               plat::MakeDirectory(to + u"\\" + relative);
    }
    for (const char16_t* suffix : kBelongings) {
        const WString source = from + u"\\" + relative + suffix;
        const WString target = to + u"\\" + relative + suffix;
        // Two names of the list for one file: it is copied once.
        if (IsFile(source) && !IsFile(target) && !CopyFileBytes(source, target)) return false;
    }
    return true;
}

// The schema of the copy at `path`, brought to rest first when SQLite left a journal or
// log beside it (`scratch` receives a second copy for that, so that the copy the migration
// runs on stays as the installation had it).
bool ReadCopy(const WString& path, const WString& scratch, const WString& relative, Schema& schema,
              std::string& error) {
    if (!HasCompanions(path)) return ReadSchema(path, true, schema, error);
    const WString folder = path.substr(0, path.size() - relative.size() - 1);
    if (!CopyDatabase(folder, scratch, relative)) {
        error = "the copy could not be made";
        return false;
    }
    WString detail;
    if (db::SettleDatabaseFile(scratch + u"\\" + relative, detail) != db::FileRest::kAtRest) {
        error = "its journal could not be resolved: " + U8(detail);
        return false;
    }
    return ReadSchema(scratch + u"\\" + relative, true, schema, error);
}

// The installation's identities for the paths of its copy. The copy holds a file for each
// name the installation gives one file (a link, another letter case), so only these let the
// run on the copy refuse the script as the run on the installation does. Given to a run
// that stops at that refusal: past it, the run compares the identities of its own files.
class InstallationIdentities : public plat::RealFileSystem {
public:
    InstallationIdentities(const WString& copy, const WString& installation)
        : m_copy(copy), m_installation(installation) {}

    bool Identity(const WString& path, plat::FileId& id) override {
        if (path == m_copy || wstr::StartsWith(path, m_copy + u"\\")) {
            return RealFileSystem::Identity(m_installation + path.substr(m_copy.size()), id);
        }
        return RealFileSystem::Identity(path, id);
    }

private:
    WString m_copy;
    WString m_installation;
};

// ---- what the run did ----

struct ItemRecord {
    int nDb = 0;
    int nLine = 0;
    ScriptItem item;
    MigrationObserver::ItemOutcome outcome = MigrationObserver::ItemOutcome::kDone;
    WString strError;
};

struct TableRecord {
    int nDb = 0;
    WString table;
    WString source;
    int64_t nSourceRows = -1;
    int64_t nCopiedRows = -1;
};

class Recorder : public MigrationObserver {
public:
    void OnItem(int nDb, const ScriptItem& item, int nLine, ItemOutcome outcome,
                const WString& error) override {
        items.push_back({nDb, nLine, item, outcome, error});
    }
    void OnTable(int nDb, const WString& table, const WString& source, int64_t sourceRows,
                 int64_t copiedRows) override {
        tables.push_back({nDb, table, source, sourceRows, copiedRows});
    }
    void OnLeftBehind(int nDb, const WString& table) override {
        leftBehind.emplace_back(nDb, table);
    }

    std::vector<ItemRecord> items;
    std::vector<TableRecord> tables;
    std::vector<std::pair<int, WString>> leftBehind;
};

// ---- the report ----

struct TableReport {
    std::string name;
    std::string source;      // "own", "userData", "extra", or empty: no file had the table
    std::string sourceFile;  // below the installation folder
    int64_t nRowsBefore = -1;
    int64_t nRowsCopied = -1;
    int64_t nRowsAfter = -1;
    bool bFailed = false;
    bool bDropped = false;  // made and filled, then dropped or renamed by a later item
    std::vector<std::string> columnsAdded;
    std::vector<std::string> indexesCreated;
    std::vector<std::string> triggersCreated;
    std::vector<std::string> oldIndexesNotMade;
    std::vector<std::string> oldTriggersNotMade;
    std::vector<std::string> renamedByPosition;  // "OLD -> NEW"
    std::string columnMismatch;
};

struct RowsKept {
    std::string table;
    int64_t nRows = -1;
    std::string keptIn;
};

struct DatabaseReport {
    int n = 0;
    std::string file;
    std::string path;  // below the installation folder
    std::string state;
    std::string versionBefore;
    std::string versionAfter;
    std::string why;
    bool bMigrated = false;
    std::vector<TableReport> tables;
    std::vector<RowsKept> leftBehind;
    bool bCompared = false;
    std::vector<std::string> differences;
};

struct ItemReport {
    int nLine = 0;
    int nDb = 0;
    std::string kind;
    std::string text;  // table, table,column, trigger or version
    std::string outcome;
    std::string error;
};

struct InstallationReport {
    std::string folder;
    std::string clientVersion;     // the FileVersion as given or read
    std::string clientSubVersion;  // what the script's MAIN is compared with
    std::string clientFrom;        // "vennic.exe", "--client" or "none"
    bool bPass = false;
    int nExitStatus = 1;
    double seconds = 0;
    std::string message;
    bool bUpToDate = false;
    std::vector<DatabaseReport> databases;
    std::vector<ItemReport> items;
    std::string extraFile;
    std::vector<RowsKept> extraNotCarried;
    std::vector<std::string> problems;
    std::vector<std::string> notes;
    std::string scratch;  // with --keep
};

const char* KindName(int kind) {
    static const char* const kNames[] = {"?", "TABLE", "ALTER", "TRIGGER", "SQLONE", "SQLTWO"};
    return kind >= ITEM_TABLE && kind <= ITEM_SQLTWO ? kNames[kind] : "?";
}

std::string ItemText(const ScriptItem& item) {
    switch (item.nType) {
        case ITEM_TABLE:
        case ITEM_TRIGGER:
            return U8(item.strName);
        case ITEM_ALTER:
            return U8(item.strName) + "," + U8(item.strColumn);
        case ITEM_SQLTWO:
            return U8(item.strVersion) + ",DBN" + std::to_string(item.nRefDbIndex);
        default:
            return U8(item.strVersion);
    }
}

const char* OutcomeName(MigrationObserver::ItemOutcome outcome) {
    switch (outcome) {
        case MigrationObserver::ItemOutcome::kDone:
            return "done";
        case MigrationObserver::ItemOutcome::kNotDue:
            return "notDue";
        case MigrationObserver::ItemOutcome::kPresent:
            return "present";
        case MigrationObserver::ItemOutcome::kFailed:
            return "failed";
    }
    return "?";
}

const char* StateName(DbState state) {
    switch (state) {
        case DbState::kUpToDate:
            return "upToDate";
        case DbState::kLeftAlone:
            return "leftAlone";
        case DbState::kDiscarded:
            return "discarded";
        case DbState::kReplaced:
            return "migrated";
        case DbState::kCleanUp:
            return "finishedEarlier";
        case DbState::kBuilt:
            return "built";
        case DbState::kListed:
        case DbState::kBuilding:
            break;
    }
    return "notReached";
}

std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty()) text += ", ";
        text += name;
    }
    return text;
}

std::vector<std::string> ColumnNames(const SchemaTable& table) {
    std::vector<std::string> names;
    for (const SchemaColumn& column : table.columns)
        names.push_back(column.name);
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& other : names) {
        if (SameName(other, name)) return true;
    }
    return false;
}

// One database of the script's list, as the rehearsal knows it.
struct ListedDatabase {
    DatabaseKeys keys;
    WString relative;  // normalised, below the data folder; empty when it leads outside
    bool bCopied = false;
    bool bHasBefore = false;
    Schema before;
};

// One rehearsal on one installation.
class Rehearsal {
public:
    Rehearsal(const VerifyOptions& options, const WString& installation, const WString& scriptName,
              const DatabaseHeader& header, const WString& dataFiles, const DryRun& dry,
              const std::vector<ScriptRefusal>& refusals)
        : m_options(options),
          m_installation(installation),
          m_scriptName(scriptName),
          m_header(header),
          m_dataFiles(dataFiles),
          m_dry(dry),
          m_refusals(refusals) {}

    InstallationReport Run();

private:
    bool Copy();
    void ReadClient();
    void Migrate();
    void ReportDatabases(const DatabaseMap& databases);
    TableReport ReportTable(const ListedDatabase& listed, const Schema* after,
                            const ItemRecord& record);
    void ReportExtraFile();
    void Compare(DatabaseReport& report, const ListedDatabase& listed, const Schema& after);
    void Decide();
    // A text of the run with the scratch copy's paths shown as the installation's.
    std::string Shown(const WString& text) const;
    // Where a TABLE item's rows come from, as the run chooses: `kind` and the file's schema.
    const Schema* SourceOf(int n, const WString& table, const WString& reported, std::string& kind,
                           std::string& file) const;

    const VerifyOptions& m_options;
    WString m_installation;
    WString m_scriptName;
    const DatabaseHeader& m_header;
    const WString& m_dataFiles;
    const DryRun& m_dry;
    const std::vector<ScriptRefusal>& m_refusals;
    // What the installation's own files say against the script (names of one file).
    std::vector<ScriptRefusal> m_fileRefusals;

    ScratchFolder m_scratch{u"dbrtool-verify"};
    WString m_copy;  // the installation's copy, where the migration runs
    std::map<int, ListedDatabase> m_databases;
    WString m_extraName;  // the extra data file the run reads, below the folder
    bool m_bHasExtra = false;
    Schema m_extraBefore;
    MigrationOutcome m_outcome;
    Recorder m_recorder;
    InstallationReport m_report;
};

std::string Rehearsal::Shown(const WString& text) const {
    return U8(plat::ToNativePath(wstr::ReplaceAll(text, m_copy, m_installation)));
}

bool Rehearsal::Copy() {
    m_copy = m_scratch.Path() + u"\\installation";
    if (!plat::MakeDirectory(m_copy) || !plat::MakeDirectory(m_copy + u"\\log") ||
        !CopyFileBytes(m_options.strScript, m_copy + u"\\" + m_scriptName)) {
        m_report.problems.push_back("the scratch folder could not be filled: " +
                                    U8(m_scratch.Path()));
        return false;
    }
    const WString client = m_installation + install::kClientExe;
    if (IsFile(client) && !CopyFileBytes(client, m_copy + install::kClientExe)) {
        m_report.problems.push_back("vennic.exe could not be copied");
        return false;
    }
    for (const DatabaseKeys& keys : m_header.databases) {
        ListedDatabase& listed = m_databases[keys.nIndex];
        listed.keys = keys;
        // A path that leads outside the folder is refused by the run; nothing is copied.
        if (!ConfinedPath(DatabasePath(WString(), keys.strSubPath, keys.strDbName).substr(1),
                          listed.relative)) {
            listed.relative.clear();
            continue;
        }
        if (!CopyDatabase(m_installation, m_copy, listed.relative)) {
            m_report.problems.push_back("DBN" + std::to_string(keys.nIndex) + " " +
                                        U8(listed.relative) + " could not be copied");
            return false;
        }
        listed.bCopied = IsFile(m_copy + u"\\" + listed.relative);
    }
    // Every extra data file the list names; the run reads the first that is there and is
    // not a database of the list.
    for (const WString& name : engine::SplitDataFiles(m_dataFiles)) {
        WString relative;
        if (!name.empty() && ConfinedPath(name, relative) &&
            IsFile(m_installation + u"\\" + relative) && !IsFile(m_copy + u"\\" + relative)) {
            if (!CopyDatabase(m_installation, m_copy, relative)) {
                m_report.problems.push_back("the data file " + U8(relative) +
                                            " could not be copied");
                return false;
            }
            if (!m_bHasExtra) {
                m_bHasExtra = true;
                m_extraName = name;
            }
        }
    }
    return true;
}

void Rehearsal::ReadClient() {
    WString fileVersion = m_options.strClient;
    m_report.clientFrom = "--client";
    if (fileVersion.empty()) {
        const WString client = m_copy + install::kClientExe;
        m_report.clientFrom = IsFile(client) ? "vennic.exe" : "none";
        if (IsFile(client)) {
            CExecImageVersion version(client, install::kTranslation);
            fileVersion = version.GetFileVersion();
        }
    }
    m_report.clientVersion = U8(fileVersion);
    m_report.clientSubVersion = U8(install::SubVersionFromFileVersion(fileVersion));
    if (m_report.clientFrom == "none") {
        m_report.notes.push_back(
            "no vennic.exe and no --client: the script's MAIN is not checked, as in quorvel");
    }
}

void Rehearsal::Migrate() {
    // What the databases held before, from the copies (never from the installation).
    const WString beforeFolder = m_scratch.Path() + u"\\before";
    plat::MakeDirectory(beforeFolder);
    for (auto& [n, listed] : m_databases) {
        if (!listed.bCopied) continue;
        std::string error;
        listed.bHasBefore = ReadCopy(m_copy + u"\\" + listed.relative, beforeFolder,
                                     listed.relative, listed.before, error);
        if (!listed.bHasBefore) {
            m_report.notes.push_back("DBN" + std::to_string(n) + " " + U8(listed.relative) +
                                     " cannot be read before the run: " + error);
        }
    }
    if (m_bHasExtra) {
        WString relative;
        ConfinedPath(m_extraName, relative);
        std::string error;
        if (!ReadCopy(m_copy + u"\\" + relative, beforeFolder, relative, m_extraBefore, error)) {
            m_bHasExtra = false;
        }
    }

    CDBProcess process;
    process.m_strInstallDir = m_copy;
    process.m_strDataDir = m_copy;
    process.m_strScriptName = m_scriptName;
    process.m_bScriptFound = 1;
    process.m_strSubVersion = FromUtf8(m_report.clientSubVersion);
    process.m_bInteractive = 0;
    process.SetObserver(&m_recorder);
    InstallationIdentities identities(m_copy, m_installation);
    if (!m_fileRefusals.empty()) process.SetFileSystem(identities);
    const auto start = std::chrono::steady_clock::now();
    m_outcome = process.Migrate();
    m_report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The scratch folder goes at the end: nothing may hold its files open.
    CloseLogFile();
    m_report.message = U8(m_outcome.strMessage);
    m_report.bUpToDate = m_outcome.bUpToDate;
    m_report.nExitStatus = (m_outcome.nResult == 1 || m_outcome.bUpToDate) ? 0 : 1;
    for (const ItemRecord& record : m_recorder.items) {
        m_report.items.push_back({record.nLine, record.nDb, KindName(record.item.nType),
                                  ItemText(record.item), OutcomeName(record.outcome),
                                  Shown(record.strError)});
    }
    ReportDatabases(process.m_mapDatabases);
}

const Schema* Rehearsal::SourceOf(int n, const WString& table, const WString& reported,
                                  std::string& kind, std::string& file) const {
    const std::string name = U8(table);
    auto has = [&](const ListedDatabase& listed) {
        return listed.bHasBefore && listed.before.FindTable(name) != nullptr;
    };
    const ListedDatabase& own = m_databases.at(n);
    const ListedDatabase* userData = nullptr;
    for (const auto& [k, listed] : m_databases) {
        if (wstr::EqualsNoCase(listed.keys.strDbName, u"vuserdat") && listed.bCopied) {
            userData = &listed;
        }
    }
    auto isPathOf = [&](const ListedDatabase& listed) {
        const WString path = m_copy + u"\\" + listed.relative;
        return !listed.relative.empty() && (reported == path || reported == path + u".tmp");
    };
    // The file the run reported, else the one it would have chosen.
    const bool known = !reported.empty();
    if (known ? isPathOf(own) : has(own)) {
        kind = "own";
        file = U8(own.relative);
        return own.bHasBefore ? &own.before : nullptr;
    }
    for (const auto& [k, listed] : m_databases) {
        if (known ? isPathOf(listed) : (userData == &listed && has(listed))) {
            kind = "userData";
            file = U8(listed.relative);
            return listed.bHasBefore ? &listed.before : nullptr;
        }
    }
    if (m_bHasExtra && (known || m_extraBefore.FindTable(name) != nullptr)) {
        kind = "extra";
        file = U8(m_extraName);
        return &m_extraBefore;
    }
    kind.clear();
    file.clear();
    return nullptr;
}

TableReport Rehearsal::ReportTable(const ListedDatabase& listed, const Schema* after,
                                   const ItemRecord& record) {
    const int n = listed.keys.nIndex;
    TableReport table;
    table.name = U8(record.item.strName);
    table.bFailed = record.outcome == MigrationObserver::ItemOutcome::kFailed;
    WString reported;
    for (const TableRecord& copied : m_recorder.tables) {
        if (copied.nDb == n && SameName(U8(copied.table), table.name) && !copied.source.empty()) {
            reported = copied.source;
            table.nRowsBefore = copied.nSourceRows;
            table.nRowsCopied = copied.nCopiedRows;
        }
    }
    const Schema* source =
        SourceOf(n, record.item.strName, reported, table.source, table.sourceFile);
    const SchemaTable* old = source != nullptr ? source->FindTable(table.name) : nullptr;
    if (old != nullptr && table.nRowsBefore < 0) table.nRowsBefore = old->nRows;
    for (const ItemRecord& alter : m_recorder.items) {
        if (alter.nDb == n && alter.item.nType == ITEM_ALTER &&
            alter.outcome == MigrationObserver::ItemOutcome::kDone &&
            SameName(U8(alter.item.strName), table.name)) {
            table.columnsAdded.push_back(U8(alter.item.strColumn));
        }
    }
    // The TABLE item's own columns (tried on an empty file) against the old table's: rows
    // go across by position.
    for (const DryRunItem& dry : m_dry.items) {
        if (dry.nLine != record.nLine || old == nullptr || dry.columns.empty()) continue;
        const std::vector<std::string> oldColumns = ColumnNames(*old);
        if (dry.columns.size() != oldColumns.size()) {
            table.columnMismatch = "the TABLE item makes " + std::to_string(dry.columns.size()) +
                                   " columns (" + Listed(dry.columns) + "), the old table in " +
                                   table.sourceFile + " has " + std::to_string(oldColumns.size()) +
                                   " (" + Listed(oldColumns) + "): rows are copied by position";
        } else {
            for (size_t i = 0; i < oldColumns.size(); ++i) {
                if (!SameName(oldColumns[i], dry.columns[i])) {
                    table.renamedByPosition.push_back(oldColumns[i] + " -> " + dry.columns[i]);
                }
            }
        }
    }
    if (after == nullptr) return table;
    if (const SchemaTable* made = after->FindTable(table.name)) {
        table.nRowsAfter = made->nRows;
    } else {
        table.bDropped = !table.bFailed;
    }
    for (const SchemaIndex* index : after->IndexesOn(table.name)) {
        if (!index->bAutomatic) table.indexesCreated.push_back(index->name);
    }
    for (const SchemaObject* trigger : after->TriggersOn(table.name))
        table.triggersCreated.push_back(trigger->name);
    if (table.source == "own" && source != nullptr) {
        for (const SchemaIndex* index : source->IndexesOn(table.name)) {
            if (!index->bAutomatic && !Contains(table.indexesCreated, index->name)) {
                table.oldIndexesNotMade.push_back(index->name);
            }
        }
        for (const SchemaObject* trigger : source->TriggersOn(table.name)) {
            if (!Contains(table.triggersCreated, trigger->name)) {
                table.oldTriggersNotMade.push_back(trigger->name);
            }
        }
    }
    return table;
}

void Rehearsal::ReportDatabases(const DatabaseMap& databases) {
    for (auto& [n, listed] : m_databases) {
        DatabaseReport report;
        report.n = n;
        report.file = U8(listed.keys.strDbName);
        report.path =
            listed.relative.empty()
                ? U8(DatabasePath(WString(), listed.keys.strSubPath, listed.keys.strDbName)
                         .substr(1))
                : U8(listed.relative);
        report.state = "notReached";
        auto entry = databases.find(n);
        if (entry != databases.end() && entry->second) {
            report.state = StateName(entry->second->state);
            report.versionBefore = U8(entry->second->strCurVersion);
            report.why = Shown(entry->second->strWhy);
        }
        if (report.state == "notReached" && m_outcome.bUpToDate) report.state = "upToDate";
        if (report.versionBefore.empty() && listed.bHasBefore && listed.before.bHasVersion) {
            report.versionBefore = listed.before.version;
        }
        report.bMigrated = report.state == "migrated" || report.state == "finishedEarlier";

        // The file at the database's path after the run.
        Schema after;
        bool bHasAfter = false;
        if (!listed.relative.empty() && IsFile(m_copy + u"\\" + listed.relative)) {
            std::string error;
            bHasAfter = ReadCopy(m_copy + u"\\" + listed.relative, m_scratch.Path() + u"\\after",
                                 listed.relative, after, error);
            if (bHasAfter && after.bHasVersion) report.versionAfter = after.version;
        }
        for (const ItemRecord& record : m_recorder.items) {
            if (record.nDb != n || record.item.nType != ITEM_TABLE ||
                record.outcome == MigrationObserver::ItemOutcome::kPresent) {
                continue;
            }
            report.tables.push_back(
                ReportTable(listed, report.bMigrated && bHasAfter ? &after : nullptr, record));
        }
        for (const auto& [k, table] : m_recorder.leftBehind) {
            if (k != n) continue;
            const SchemaTable* old =
                listed.bHasBefore ? listed.before.FindTable(U8(table)) : nullptr;
            report.leftBehind.push_back(
                {U8(table), old != nullptr ? old->nRows : -1, U8(listed.relative)});
        }
        if (report.bMigrated && bHasAfter && !m_options.strExpect.empty()) {
            Compare(report, listed, after);
        }
        m_report.databases.push_back(std::move(report));
    }
}

void Rehearsal::Compare(DatabaseReport& report, const ListedDatabase& listed, const Schema& after) {
    report.bCompared = true;
    const WString fresh = m_options.strExpect + u"\\" + listed.relative;
    if (!IsFile(fresh)) {
        report.differences.push_back("the fresh installation has no " + report.path);
        return;
    }
    // The fresh database is copied too: nothing outside the scratch folder is opened.
    const WString folder = m_scratch.Path() + u"\\expected";
    Schema expected;
    std::string error;
    if (!plat::IsDirectory(folder)) plat::MakeDirectory(folder);
    if (!CopyDatabase(m_options.strExpect, folder, listed.relative) ||
        !ReadCopy(folder + u"\\" + listed.relative, m_scratch.Path() + u"\\expected-rest",
                  listed.relative, expected, error)) {
        report.differences.push_back("the fresh " + report.path + " cannot be read: " + error);
        return;
    }
    report.differences = CompareSchemas(after, expected);
}

void Rehearsal::ReportExtraFile() {
    if (!m_bHasExtra) return;
    m_report.extraFile = U8(m_extraName);
    for (const SchemaTable& table : m_extraBefore.tables) {
        if (table.nRows == 0) continue;
        bool carried = false;
        for (const TableRecord& copied : m_recorder.tables) {
            carried = carried || (SameName(U8(copied.table), table.name) &&
                                  copied.source == m_copy + u"\\" + m_extraName &&
                                  copied.nCopiedRows == copied.nSourceRows);
        }
        if (!carried)
            m_report.extraNotCarried.push_back({table.name, table.nRows, m_report.extraFile});
    }
}

void Rehearsal::Decide() {
    std::vector<std::string>& problems = m_report.problems;
    if (!m_outcome.strMessage.empty()) {
        problems.push_back("the migration stopped before touching anything: " + m_report.message);
        for (const ScriptRefusal& refusal : m_refusals) {
            problems.push_back("the script is refused: " +
                               (refusal.nLine > 0 ? "line " + std::to_string(refusal.nLine) + ": "
                                                  : std::string()) +
                               U8(refusal.strText));
        }
        for (const ScriptRefusal& refusal : m_fileRefusals)
            problems.push_back("the script is refused: " + Shown(refusal.strText));
    } else if (!m_fileRefusals.empty()) {
        problems.push_back(
            "the installation changed while it was rehearsed: its files were "
            "named twice by the script, then no longer");
    }
    for (const ItemRecord& record : m_recorder.items) {
        if (record.outcome != MigrationObserver::ItemOutcome::kFailed) continue;
        problems.push_back("line " + std::to_string(record.nLine) + ": DBN" +
                           std::to_string(record.nDb) + " " + KindName(record.item.nType) + " " +
                           ItemText(record.item) + " failed: " + Shown(record.strError));
    }
    for (const DatabaseReport& db : m_report.databases) {
        const std::string name = "DBN" + std::to_string(db.n) + " " + db.path;
        if (db.state == "leftAlone" || db.state == "discarded" || db.state == "built") {
            problems.push_back(name + " was not migrated: " + db.why);
        }
        for (const TableReport& table : db.tables) {
            if (!table.columnMismatch.empty())
                problems.push_back(name + ": table " + table.name + ": " + table.columnMismatch);
        }
        for (const RowsKept& kept : db.leftBehind) {
            problems.push_back(name + ": no TABLE item carried table " + kept.table + " (" +
                               std::to_string(kept.nRows) + " rows); the rows stay in " +
                               kept.keptIn + ", which is left as it was");
        }
        for (const std::string& difference : db.differences)
            problems.push_back(name + " differs from the fresh database: " + difference);
    }
    if (m_report.nExitStatus != 0 && problems.empty()) {
        problems.push_back("quorvel /S would exit with " + std::to_string(m_report.nExitStatus));
    }
    if (m_outcome.bUpToDate) {
        m_report.notes.push_back(
            "every database is at its script version already: no item was rehearsed");
    }
    for (const RowsKept& kept : m_report.extraNotCarried) {
        m_report.notes.push_back("no TABLE item took table " + kept.table + " (" +
                                 std::to_string(kept.nRows) + " rows) of the data file " +
                                 kept.keptIn + ", which is therefore kept");
    }
    m_report.bPass = problems.empty();
}

InstallationReport Rehearsal::Run() {
    m_report.folder = U8(plat::DisplayPath(m_installation));
    if (!plat::IsDirectory(m_installation)) {
        m_report.problems.push_back("not a folder");
        return m_report;
    }
    if (!m_scratch.IsValid()) {
        m_report.problems.push_back("no scratch folder could be made");
        return m_report;
    }
    if (m_options.bKeep) {
        m_scratch.Keep();
        m_report.scratch = U8(plat::ToNativePath(m_scratch.Path()));
    }
    // Identities only: nothing in the installation is opened for writing.
    CheckScriptFiles(plat::Disk(), m_installation, m_header, m_fileRefusals);
    if (!Copy()) return m_report;
    ReadClient();
    Migrate();
    ReportExtraFile();
    Decide();
    return m_report;
}

// ---- output ----

std::string Rows(int64_t rows) { return rows < 0 ? "?" : std::to_string(rows); }

std::string SourceText(const TableReport& table) {
    if (table.source == "own") return "from its own old file";
    if (table.source == "userData") return "from the user-data database " + table.sourceFile;
    if (table.source == "extra") return "from the data file " + table.sourceFile;
    return "no old file had it";
}

std::string Padded(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

void PrintText(const InstallationReport& report, std::ostream& out) {
    out << "== " << report.folder << "\n";
    if (!report.clientFrom.empty()) {
        out << "client: "
            << (report.clientFrom == "none"
                    ? std::string("none")
                    : report.clientVersion + " (sub-version " + report.clientSubVersion +
                          ", from " + report.clientFrom + ")")
            << "\n";
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", report.seconds);
    out << "verdict: " << (report.bPass ? "PASS" : "FAIL") << "    quorvel /S would exit with "
        << report.nExitStatus << "    migration took " << seconds << "\n";
    if (!report.message.empty()) out << "the run stopped: " << report.message << "\n";
    if (!report.scratch.empty()) out << "scratch folder (kept): " << report.scratch << "\n";

    size_t width = 0;
    for (const DatabaseReport& db : report.databases)
        width = std::max(width, db.path.size());
    if (!report.databases.empty()) out << "databases:\n";
    for (const DatabaseReport& db : report.databases) {
        out << "  DBN" << db.n << " " << Padded(db.path, width) << "  "
            << (db.versionBefore.empty() ? "(no version)" : db.versionBefore);
        if (db.bMigrated) {
            out << " -> " << db.versionAfter << "  migrated";
        } else if (db.state == "upToDate") {
            out << "  up to date, left alone";
        } else if (db.state == "notReached") {
            out << "  not reached";
        } else {
            out << "  left as it was: " << db.why;
        }
        out << "\n";
    }
    for (const DatabaseReport& db : report.databases) {
        if (db.tables.empty()) continue;
        out << "tables of DBN" << db.n << " " << db.path
            << (db.bMigrated ? "" : " (its new file was not kept)") << ":\n";
        size_t nameWidth = 0;
        size_t rowsWidth = 0;
        std::vector<std::string> rowTexts;
        for (const TableReport& table : db.tables) {
            const int64_t rowsAfter = db.bMigrated ? table.nRowsAfter : table.nRowsCopied;
            std::string rows = table.source.empty()
                                   ? "new, " + Rows(rowsAfter) + " rows"
                                   : Rows(table.nRowsBefore) + " -> " + Rows(rowsAfter) + " rows";
            if (table.source.empty() && rowsAfter < 0) rows = "new";
            if (table.bDropped) {
                rows = (table.source.empty() ? std::string("new") : Rows(table.nRowsBefore)) +
                       " rows, then dropped or renamed";
            }
            nameWidth = std::max(nameWidth, table.name.size());
            rowsWidth = std::max(rowsWidth, rows.size());
            rowTexts.push_back(std::move(rows));
        }
        for (size_t i = 0; i < db.tables.size(); ++i) {
            const TableReport& table = db.tables[i];
            const std::string& rows = rowTexts[i];
            out << "  " << Padded(table.name, nameWidth) << "  " << Padded(rows, rowsWidth) << "  "
                << (table.bFailed ? "FAILED; " : "") << SourceText(table);
            if (!table.columnsAdded.empty())
                out << "; columns added: " << Listed(table.columnsAdded);
            if (!table.renamedByPosition.empty())
                out << "; renamed by position: " << Listed(table.renamedByPosition);
            if (!table.indexesCreated.empty()) out << "; indexes: " << Listed(table.indexesCreated);
            if (!table.triggersCreated.empty())
                out << "; triggers: " << Listed(table.triggersCreated);
            if (!table.oldIndexesNotMade.empty())
                out << "; old indexes not made again: " << Listed(table.oldIndexesNotMade);
            if (!table.oldTriggersNotMade.empty())
                out << "; old triggers not made again: " << Listed(table.oldTriggersNotMade);
            out << "\n";
        }
    }
    bool header = false;
    for (const ItemReport& item : report.items) {
        if (item.outcome != "notDue") continue;
        if (!header) out << "items not due (the database had reached their version):\n";
        header = true;
        out << "  line " << item.nLine << ": DBN" << item.nDb << " " << item.kind << " "
            << item.text << "\n";
    }
    header = false;
    for (const ItemReport& item : report.items) {
        if (item.outcome != "failed") continue;
        if (!header) out << "failed items:\n";
        header = true;
        out << "  line " << item.nLine << ": DBN" << item.nDb << " " << item.kind << " "
            << item.text << ": " << item.error << "\n";
    }
    header = false;
    for (const DatabaseReport& db : report.databases) {
        for (const RowsKept& kept : db.leftBehind) {
            if (!header)
                out << "tables no TABLE item carried (their database is left as it was):\n";
            header = true;
            out << "  DBN" << db.n << " " << kept.table << ": " << Rows(kept.nRows)
                << " rows, kept in " << kept.keptIn << "\n";
        }
    }
    for (const DatabaseReport& db : report.databases) {
        if (!db.bCompared) continue;
        out << "against the fresh " << db.path << ": "
            << (db.differences.empty() ? "same schema"
                                       : std::to_string(db.differences.size()) + " differences")
            << "\n";
        for (const std::string& difference : db.differences)
            out << "  " << difference << "\n";
    }
    for (const std::string& note : report.notes)
        out << "note: " << note << "\n";
    if (!report.problems.empty()) {
        out << "why it fails:\n";
        for (const std::string& problem : report.problems)
            out << "  " << problem << "\n";
    }
}

void PrintSummary(const std::vector<InstallationReport>& reports, std::ostream& out) {
    size_t width = std::string("installation").size();
    for (const InstallationReport& report : reports)
        width = std::max(width, report.folder.size());
    out << "\n"
        << Padded("installation", width) << "  " << Padded("databases", 22) << "  "
        << Padded("verdict", 7) << "  time\n";
    for (const InstallationReport& report : reports) {
        int migrated = 0;
        for (const DatabaseReport& db : report.databases)
            migrated += db.bMigrated ? 1 : 0;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f s", report.seconds);
        out << Padded(report.folder, width) << "  "
            << Padded(std::to_string(migrated) + " of " + std::to_string(report.databases.size()) +
                          " migrated",
                      22)
            << "  " << Padded(report.bPass ? "PASS" : "FAIL", 7) << "  " << seconds << "\n";
    }
}

void WriteTable(JsonWriter& json, const TableReport& table) {
    json.BeginObject();
    json.Key("name");
    json.String(table.name);
    json.Key("source");
    if (table.source.empty()) {
        json.Null();
    } else {
        json.String(table.source);
    }
    json.Key("sourceFile");
    if (table.sourceFile.empty()) {
        json.Null();
    } else {
        json.String(table.sourceFile);
    }
    json.Key("failed");
    json.Bool(table.bFailed);
    json.Key("dropped");
    json.Bool(table.bDropped);
    json.Key("rowsBefore");
    json.Count(table.nRowsBefore);
    json.Key("rowsCopied");
    json.Count(table.nRowsCopied);
    json.Key("rowsAfter");
    json.Count(table.nRowsAfter);
    json.Key("columnsAdded");
    json.Strings(table.columnsAdded);
    json.Key("renamedByPosition");
    json.Strings(table.renamedByPosition);
    json.Key("columnMismatch");
    json.String(table.columnMismatch);
    json.Key("indexesCreated");
    json.Strings(table.indexesCreated);
    json.Key("triggersCreated");
    json.Strings(table.triggersCreated);
    json.Key("oldIndexesNotMade");
    json.Strings(table.oldIndexesNotMade);
    json.Key("oldTriggersNotMade");
    json.Strings(table.oldTriggersNotMade);
    json.EndObject();
}

void WriteKept(JsonWriter& json, const std::vector<RowsKept>& list) {
    json.BeginArray();
    for (const RowsKept& kept : list) {
        json.BeginObject();
        json.Key("table");
        json.String(kept.table);
        json.Key("rows");
        json.Count(kept.nRows);
        json.Key("keptIn");
        json.String(kept.keptIn);
        json.EndObject();
    }
    json.EndArray();
}

void WriteInstallation(JsonWriter& json, const InstallationReport& report) {
    json.BeginObject();
    json.Key("folder");
    json.String(report.folder);
    json.Key("client");
    json.BeginObject();
    json.Key("version");
    json.String(report.clientVersion);
    json.Key("subVersion");
    json.String(report.clientSubVersion);
    json.Key("from");
    json.String(report.clientFrom);
    json.EndObject();
    json.Key("verdict");
    json.String(report.bPass ? "pass" : "fail");
    json.Key("exitStatus");
    json.Number(report.nExitStatus);
    json.Key("seconds");
    json.Seconds(report.seconds);
    json.Key("message");
    json.String(report.message);
    json.Key("upToDate");
    json.Bool(report.bUpToDate);
    json.Key("databases");
    json.BeginArray();
    for (const DatabaseReport& db : report.databases) {
        json.BeginObject();
        json.Key("number");
        json.Number(db.n);
        json.Key("file");
        json.String(db.file);
        json.Key("path");
        json.String(db.path);
        json.Key("state");
        json.String(db.state);
        json.Key("versionBefore");
        json.String(db.versionBefore);
        json.Key("versionAfter");
        json.String(db.versionAfter);
        json.Key("why");
        json.String(db.why);
        json.Key("tables");
        json.BeginArray();
        for (const TableReport& table : db.tables)
            WriteTable(json, table);
        json.EndArray();
        json.Key("leftBehind");
        WriteKept(json, db.leftBehind);
        json.Key("compared");
        json.Bool(db.bCompared);
        json.Key("schemaDifferences");
        json.Strings(db.differences);
        json.EndObject();
    }
    json.EndArray();
    json.Key("items");
    json.BeginArray();
    for (const ItemReport& item : report.items) {
        json.BeginObject();
        json.Key("line");
        json.Number(item.nLine);
        json.Key("database");
        json.Number(item.nDb);
        json.Key("kind");
        json.String(item.kind);
        json.Key("text");
        json.String(item.text);
        json.Key("outcome");
        json.String(item.outcome);
        json.Key("error");
        json.String(item.error);
        json.EndObject();
    }
    json.EndArray();
    json.Key("extraFile");
    json.String(report.extraFile);
    json.Key("extraNotCarried");
    WriteKept(json, report.extraNotCarried);
    json.Key("problems");
    json.Strings(report.problems);
    json.Key("notes");
    json.Strings(report.notes);
    if (!report.scratch.empty()) {
        json.Key("scratch");
        json.String(report.scratch);
    }
    json.EndObject();
}

// The file name part of a path written with either separator.
WString FileName(const WString& path) {
    const size_t cut = path.find_last_of(u"\\/");
    return cut == WString::npos ? path : path.substr(cut + 1);
}

WString WithoutTrailingSeparators(WString path) {
    while (path.size() > 1 && (path.back() == u'\\' || path.back() == u'/'))
        path.pop_back();
    return path;
}

}  // namespace

bool ParseVerifyArguments(const std::vector<WString>& args, VerifyOptions& options,
                          std::ostream& err) {
    options = VerifyOptions();
    std::vector<WString> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const WString& arg = args[i];
        if (arg == u"--json") {
            options.bJson = true;
        } else if (arg == u"--keep") {
            options.bKeep = true;
        } else if (arg == u"--expect" || arg == u"--client") {
            if (i + 1 == args.size()) {
                err << "dbrtool: " << U8(arg) << " needs a value\n";
                return false;
            }
            (arg == u"--expect" ? options.strExpect : options.strClient) = args[++i];
        } else if (wstr::StartsWith(arg, u"--")) {
            err << "dbrtool: unknown option " << U8(arg) << " for verify\n";
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 2) {
        err << "dbrtool: verify needs a script and at least one installation folder\n";
        return false;
    }
    options.strScript = positional[0];
    for (size_t i = 1; i < positional.size(); ++i)
        options.installations.push_back(WithoutTrailingSeparators(positional[i]));
    if (!options.strExpect.empty()) {
        options.strExpect = WithoutTrailingSeparators(options.strExpect);
        if (!plat::IsDirectory(options.strExpect)) {
            err << "dbrtool: --expect " << U8(options.strExpect) << ": not a folder\n";
            return false;
        }
    }
    return true;
}

int Verify(const VerifyOptions& options, std::ostream& out, std::ostream& err) {
    if (!IsFile(options.strScript)) {
        err << "dbrtool: " << U8(options.strScript) << ": no such file\n";
        return kExitFailed;
    }
    CScriptFile script;
    if (!script.Open(options.strScript)) {
        err << "dbrtool: " << U8(options.strScript) << ": cannot be read\n";
        return kExitFailed;
    }
    DatabaseHeader header;
    ReadDatabaseHeader(script, header);
    WString dataFiles;
    script.ReadDatabaseFile(dataFiles);
    std::vector<ScriptRefusal> refusals;
    CheckScriptItems(script, refusals);
    CheckScriptPaths(header, dataFiles, refusals);
    std::set<int> listed;
    for (const DatabaseKeys& keys : header.databases)
        listed.insert(keys.nIndex);
    DryRun dry;
    RunDry(script, listed, dry);
    script.Close();

    std::vector<InstallationReport> reports;
    for (const WString& installation : options.installations) {
        Rehearsal rehearsal(options, installation, FileName(options.strScript), header, dataFiles,
                            dry, refusals);
        reports.push_back(rehearsal.Run());
        if (!options.bJson) {
            if (reports.size() > 1) out << "\n";
            std::ostringstream text;
            PrintText(reports.back(), text);
            out << EscapeControls(text.str());
        }
    }
    bool passed = true;
    for (const InstallationReport& report : reports)
        passed = passed && report.bPass;
    if (options.bJson) {
        JsonWriter json(out);
        json.BeginObject();
        json.Key("script");
        json.String(U8(plat::DisplayPath(options.strScript)));
        json.Key("expect");
        json.String(U8(plat::DisplayPath(options.strExpect)));
        json.Key("passed");
        json.Bool(passed);
        json.Key("installations");
        json.BeginArray();
        for (const InstallationReport& report : reports)
            WriteInstallation(json, report);
        json.EndArray();
        json.EndObject();
        json.Finish();
    } else if (reports.size() > 1) {
        std::ostringstream text;
        PrintSummary(reports, text);
        out << EscapeControls(text.str());
    }
    out.flush();
    return passed ? kExitOk : kExitFailed;
}

}  // namespace dbrtool
