// One migration run: checks, set-aside of every database that is behind the script,
// fresh files built from the script's items with the old rows carried across, versions
// recorded, set-aside files removed.
//
// The set-aside file holds the only complete copy of a database's rows until the run has
// carried them. So a set-aside file is deleted only when every table of its rows was
// created and filled; otherwise it is kept under a name no later run replaces. The same
// holds for a ".tmp" file an earlier run left behind and for a file SQLite cannot read.
//
// A run may be cut off at any instant. Each database being migrated has a marker file
// (engine/migration_marker.h) from before its set-aside until after its clean-up, and the
// steps are ordered so that every state a crash can leave is recognisable:
//
//   marker, file, no ".tmp"        the set-aside never happened: migrate as usual
//   marker, ".tmp" (file or not)   ".tmp" holds the last complete copy: the half-built
//                                  file is kept as "<path>.<time>.partial", and the
//                                  database is built again from ".tmp"
//   marker "complete", file        the build had finished: only the clean-up is left
//   marker "kept=", file           the build had finished, its unread rows kept as ".bak":
//                                  the version is written and the clean-up done
//
// Finishing writes in this order, each step on the disk before the next: the new files'
// rows; for rows that were not carried, the ".bak" name; the version; "complete". Only
// when every database of the run is complete are the extra data file, the ".tmp" files and
// the markers removed, because one database's ".tmp" may be another's source of rows.
#include <cstdio>
#include <set>

#include "db/db_connection.h"
#include "db/settle.h"
#include "engine/data_files.h"
#include "engine/db_process.h"
#include "engine/migration_marker.h"
#include "engine/update_record.h"
#include "engine/version_compare.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

constexpr char16_t kVersionTable[] = u"TMAIN";
constexpr char16_t kUserDataName[] = u"vuserdat";

void Log(const WString& text) { WriteLog(kLogCategory, kLogLevel, text); }

// `format` with its one "%s" replaced by `value`.
WString Format(WStringView format, const WString& value) {
    return wstr::ReplaceAll(format, u"%s", value);
}

// Backslashes doubled by an empty sub-folder level or a name with a folder in it do not
// make another file: "a\\b" and "a\b" are the same path.
WString NormalisedPath(const WString& path) {
    WString out;
    for (char16_t c : path) {
        if (c == u'\\' && !out.empty() && out.back() == u'\\') continue;
        out.push_back(c);
    }
    return out;
}

bool SamePath(const WString& a, const WString& b) {
    return wstr::EqualsNoCase(NormalisedPath(a), NormalisedPath(b));
}

WString Timestamp14() {
    plat::LocalTime t = plat::Now();
    return wstr::FromInt(t.year, 4) + wstr::FromInt(t.month, 2) + wstr::FromInt(t.day, 2) +
           wstr::FromInt(t.hour, 2) + wstr::FromInt(t.minute, 2) + wstr::FromInt(t.second, 2);
}

// The first of stem + suffix, stem + "-2" + suffix, ... that names nothing yet; empty when
// all are taken.
WString FreeName(const WString& stem, WStringView suffix) {
    for (int n = 1; n < 1000; ++n) {
        WString target = stem + (n == 1 ? WString() : u"-" + wstr::FromInt(n)) + WString(suffix);
        if (!plat::PathExists(target)) return target;
    }
    return WString();
}

// Moves `from` to the first free name of FreeName(stem, suffix): a kept copy never replaces
// another, and a file that another process holds open is not moved. Returns the name used;
// empty on failure, with `outcome` telling why.
WString KeepAside(const WString& from, const WString& stem, WStringView suffix,
                  plat::MoveOutcome& outcome) {
    outcome = plat::MoveOutcome::kFailed;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const WString target = FreeName(stem, suffix);
        if (target.empty()) return WString();
        outcome = plat::MoveIfUnused(from, target);
        if (outcome == plat::MoveOutcome::kMoved) {
            plat::SyncDirectory(FolderOf(target));
            return target;
        }
        // Only a name taken meanwhile is worth another try.
        if (outcome == plat::MoveOutcome::kInUse || !plat::PathExists(target)) return WString();
    }
    return WString();
}

// A table of `source` that holds rows and that no table of this run's new files took them
// from; empty when every such table was carried. A script may drop a table on purpose,
// but a damaged one (an item for the wrong database, a kind word cut off) drops it just
// the same: either way its rows must not go with the set-aside file.
// With `built`, the database's own new file: a table it has took its rows from the
// set-aside file when it was built, in an earlier run.
WString UncarriedTable(CDBConnection& source,
                       const std::set<std::pair<const CDBConnection*, WString>>& carried,
                       CDBConnection* built = nullptr) {
    std::vector<WString> tables;
    source.TablesWithRows(tables);
    for (const WString& table : tables) {
        if (carried.count({&source, table}) != 0) continue;
        if (built != nullptr && built->TableExists(table) == 1) continue;
        return table;
    }
    return WString();
}

// True when SQLite can read the schema of the database `db` holds: a file that is no
// database (or a damaged one) answers every table query with "no such table", which must
// not pass for a database without tables.
bool IsReadable(CDBConnection& db) {
    return db.IsOpen() && db.ExecuteRaw("SELECT count(*) FROM sqlite_master;") == 1;
}

}  // namespace

// What one run knows besides the engine's own state.
struct CDBProcess::RunState {
    int nResult = 1;
    WString strDataDir;
    // Databases found at or past the script's version.
    int nUpToDate = 0;
    std::vector<WString> dataFiles;

    // The set-aside copy of the database named "vuserdat": the shared source of last
    // resort for table rows. Not owned; `pUserDatEntry` owns it.
    CDBConnection* pUserDat = nullptr;
    DbEntry* pUserDatEntry = nullptr;

    // The first extra data file of DATABASEFILE, when it could be opened.
    CDBConnection extraSource;
    bool bExtraOpen = false;
    WString strExtraPath;

    // Sources whose rows were not all carried: their files must survive the run.
    std::set<const DbEntry*> keepSetAside;
    bool bKeepExtra = false;
    // Tables whose rows were copied, by source connection.
    std::set<std::pair<const CDBConnection*, WString>> carried;

    // Files of the databases set aside so far: a second entry naming one of them would
    // set aside the fresh file over the first one's only copy.
    std::vector<WString> migratedPaths;

    // Databases whose interrupted migration had been completed: only their clean-up is
    // left, and it waits until every database of this run is complete, since their
    // set-aside files may still be the source of another database's rows.
    std::vector<DbEntry*> resumed;
    // Those of them whose set-aside file still has to be checked for rows nobody carried.
    std::set<const DbEntry*> unchecked;

    // A database behind the script was not migrated (left alone, not set aside, not
    // created). Its tables may draw rows from the other databases' set-aside files and the
    // extra data file when it migrates: those files must wait for that run.
    bool bLeftBehind = false;
};

void CDBProcess::LoadDatabaseList(const WString& baseFolder) {
    ::LoadDatabaseList(m_scriptFile, baseFolder, m_mapDatabases);
}

void CDBProcess::ClearDatabaseList() { ::ClearDatabaseList(m_mapDatabases); }

std::vector<WString> CDBProcess::CollectDataFiles(const WString& list, const WString& folder) {
    return engine::CollectDataFiles(list, folder);
}

void CDBProcess::WriteUpdateRecord(const WString& folder, const WString& time) {
    engine::WriteUpdateRecord(folder, time);
}

void CDBProcess::Progress(const WString& line) const {
    if (m_fnProgress) m_fnProgress(line);
}

MigrationOutcome CDBProcess::Migrate() {
    MigrationOutcome outcome;
    auto stop = [&outcome](WString message, bool bAlwaysShow = false) {
        outcome.nResult = 0;
        outcome.strMessage = std::move(message);
        outcome.bAlwaysShow = bAlwaysShow;
        return outcome;
    };
    RunState run;
    run.strDataDir = m_strDataDir.empty() ? m_strInstallDir : m_strDataDir;

    if (m_bScriptFound == 0 || m_strScriptName.empty()) return stop(u"没有升级脚本");
    const WString strScriptPath = m_strInstallDir + u"\\" + m_strScriptName;
    // Shown even in a silent run: an installer that lost the script must be told.
    if (!plat::PathExists(strScriptPath)) {
        return stop(u"文件:" + strScriptPath + u" 不存在!", true);
    }
    if (!OpenLogFile(m_strInstallDir + u"\\log\\ReData.log")) {
        OpenLogFile(m_strInstallDir + u"\\ReData.log");
    }

    // A script that cannot be opened yields no header values: the run ends below.
    m_scriptFile.Open(strScriptPath);

    if (m_bInteractive == 0) {
        WString strTime;
        if (m_scriptFile.ReadUpdateTime(strTime)) WriteUpdateRecord(run.strDataDir, strTime);
    }

    WString strMain;
    m_scriptFile.ReadMain(strMain);
    int bComparable = 0;
    if (engine::CompareVersion(m_strSubVersion, strMain, bComparable) < 0) {
        return stop(u"主程序版本号不对，迁移失败！");
    }

    LoadDatabaseList(run.strDataDir);

    WString strDataFiles;
    if (!m_scriptFile.ReadDatabaseFile(strDataFiles)) return stop(u"获取数据库名失败！");
    for (WString& name : CollectDataFiles(strDataFiles, run.strDataDir)) {
        // A database of the list is never an extra source: the run would delete it.
        const WString path = run.strDataDir + u"\\" + name;
        bool isDatabase = false;
        for (const auto& [n, pEntry] : m_mapDatabases) {
            if (pEntry && SamePath(pEntry->strFilePath, path)) isDatabase = true;
        }
        if (isDatabase) {
            Log(u"DATABASEFILE " + name + u" is a database of the list; not used as a source");
            continue;
        }
        run.dataFiles.push_back(std::move(name));
    }

    // Nothing is set aside for a script whose items cannot all be read: in such a script
    // the items after the bad one would silently be dropped, and their rows with them.
    if (!CheckScriptItems()) return stop(u"升级脚本格式错误！");

    PrepareDatabases(run);
    bool bAnyMigrated = !run.resumed.empty();
    for (const auto& [n, pEntry] : m_mapDatabases) {
        if (pEntry && pEntry->bEnabled) bAnyMigrated = true;
    }
    if (!bAnyMigrated) {
        outcome.bUpToDate =
            !m_mapDatabases.empty() && run.nUpToDate == static_cast<int>(m_mapDatabases.size());
        if (outcome.bUpToDate) Log(u"全部数据库版本号已经最新,不需要迁移");
        return outcome;
    }

    if (!run.dataFiles.empty()) {
        run.strExtraPath = run.strDataDir + u"\\" + run.dataFiles.front();
        run.bExtraOpen = run.extraSource.OpenDatabase(run.strExtraPath) == 1;
        // A file SQLite cannot read would give no rows and then be deleted: leave it be.
        if (run.bExtraOpen && !IsReadable(run.extraSource)) {
            run.extraSource.Close();
            run.bExtraOpen = false;
            Log(u"数据文件无法读取, 不使用也不删除: " + run.strExtraPath);
        }
    }

    ApplyItems(run);
    // The new files read their rows from the set-aside and extra files through attachments,
    // and those files are renamed or deleted from here on (Windows refuses both for a file
    // that is open).
    for (auto& [n, pEntry] : m_mapDatabases) {
        if (pEntry && pEntry->pDb) pEntry->pDb->DetachSources();
    }
    const bool bAllComplete = FinishDatabases(run);
    if (!bAllComplete || run.bLeftBehind) {
        // Every set-aside file and marker stays: the next run completes what is missing,
        // taking rows from them where it needs.
        if (bAllComplete) {
            run.nResult = 0;
            Log(u"有数据库未迁移, 已迁移数据库的原文件保留到它迁移完成");
        }
        for (auto& [n, pEntry] : m_mapDatabases) {
            if (pEntry && pEntry->pOldDb) pEntry->pOldDb->Close();
        }
        if (run.bExtraOpen) {
            run.extraSource.Close();
            Log(u"迁移未完成, 数据文件保留: " + run.strExtraPath);
        }
        outcome.nResult = run.nResult;
        return outcome;
    }
    // The extra file goes before the markers: once they are gone, no run would remove it.
    FinishExtraSource(run);
    for (auto& [n, pEntry] : m_mapDatabases) {
        if (pEntry && pEntry->bEnabled == 1) RemoveSetAside(run, *pEntry);
    }
    for (DbEntry* pEntry : run.resumed)
        RemoveSetAside(run, *pEntry);
    outcome.nResult = run.nResult;
    return outcome;
}

bool CDBProcess::CheckScriptItems() {
    m_scriptFile.Rewind();
    ScriptItem item;
    bool bMore;
    do {
        bMore = m_scriptFile.ReadItem(item);
        // An item that misses a tag swallows the next one: that item's table would never
        // be created and its rows never carried.
        if (int nLost = m_scriptFile.GetLostItemLine()) {
            Log(u"升级脚本格式错误: " + m_scriptFile.GetFilePath() + u" 第" + wstr::FromInt(nLost) +
                u"行的项目被前一项目吞没 (第" + wstr::FromInt(m_scriptFile.GetItemLine()) +
                u"行的项目缺少标记)");
            return false;
        }
    } while (bMore);
    if (m_scriptFile.GetItemError() == ItemError::kNone) return true;
    Log(u"升级脚本格式错误: " + m_scriptFile.GetFilePath() + u" 第" +
        wstr::FromInt(m_scriptFile.GetItemLine()) + u"行: " +
        wstr::FromAscii(DescribeItemError(m_scriptFile.GetItemError())));
    return false;
}

void CDBProcess::PrepareDatabases(RunState& run) {
    for (auto& [n, pEntry] : m_mapDatabases) {
        if (!pEntry) continue;
        // Its folder could not be made: a new database that may have wanted rows from the
        // others' set-aside files.
        if (pEntry->bEnabled == 0) run.bLeftBehind = true;
        if (pEntry->bEnabled == 0) continue;
        DbEntry& entry = *pEntry;

        for (const WString& path : run.migratedPaths) {
            if (SamePath(path, entry.strFilePath)) entry.bEnabled = 0;
        }
        if (entry.bEnabled == 0) {
            Log(u"数据库" + entry.strDbName + u"与前面的数据库是同一个文件, 不再迁移: " +
                entry.strFilePath);
            continue;
        }
        if (!entry.pDb) continue;

        Start start = Start::kUsual;
        MigrationMarker marker;
        if (ReadMarker(entry.strFilePath, marker)) start = ResumeDatabase(run, entry, marker);
        if (start == Start::kUsual) start = SetAside(run, entry);
        if (start == Start::kBuild) CreateNewFile(run, entry);
    }
}

void CDBProcess::LeaveAlone(RunState& run, DbEntry& entry, const WString& why) {
    entry.bEnabled = 0;
    run.bLeftBehind = true;
    run.nResult = 0;
    Log(why);
}

CDBProcess::Start CDBProcess::SetAside(RunState& run, DbEntry& entry) {
    const WString& path = entry.strFilePath;
    const WString strTmpPath = path + u".tmp";
    // A folder: the creation below fails and the entry drops out.
    if (plat::IsDirectory(path)) return Start::kBuild;
    if (!plat::PathExists(path)) {
        // Nothing to set aside; the marker tells a later run that a file found at this path
        // is a half-built one of ours.
        if (!WriteMarker(path, entry.strTargetVersion, false)) {
            LeaveAlone(run, entry, u"无法写入迁移标记, 不迁移此数据库: " + MarkerPath(path));
            return Start::kSkip;
        }
        return Start::kBuild;
    }

    entry.pDb->OpenDatabase(path);
    entry.pDb->GetTableVersion(kVersionTable, entry.strCurVersion);
    entry.pDb->Close();
    int bComparable = 0;
    int nOrder = engine::CompareVersion(entry.strCurVersion, entry.strTargetVersion, bComparable);
    if (bComparable && nOrder >= 0) {
        entry.bEnabled = 0;
        ++run.nUpToDate;
        Log(Format(u"数据库%s版本号已经最新,不需要迁移！", entry.strDbName));
        // A marker of a run cut off before its set-aside says nothing any more.
        RemoveMarker(path);
        return Start::kSkip;
    }

    Log(u"rename to tmp");
    // A ".tmp" file already there, without a marker, is what a failed earlier run (or an
    // older program) left: possibly the only complete copy of the rows. It is kept.
    if (plat::PathExists(strTmpPath) && !plat::IsDirectory(strTmpPath)) {
        plat::MoveOutcome outcome;
        WString kept = KeepAside(strTmpPath, path + u"." + Timestamp14(), u".bak", outcome);
        if (kept.empty()) {
            LeaveAlone(run, entry, u"上次迁移留下的文件无法改名, 不迁移此数据库: " + strTmpPath);
            return Start::kSkip;
        }
        run.nResult = 0;
        Log(u"上次迁移留下的文件保留为: " + kept);
    }

    WString detail;
    switch (db::SettleDatabaseFile(path, detail)) {
        case db::FileRest::kBusy:
            LeaveAlone(run, entry,
                       u"数据库正被其他程序使用, 不迁移: " + path + u" (" + detail + u")");
            return Start::kSkip;
        case db::FileRest::kCompanions:
            LeaveAlone(run, entry, u"数据库的日志文件未能合并, 不迁移: " + detail);
            return Start::kSkip;
        case db::FileRest::kAtRest:
            break;
    }
    if (!WriteMarker(path, entry.strTargetVersion, true)) {
        LeaveAlone(run, entry, u"无法写入迁移标记, 不迁移此数据库: " + MarkerPath(path));
        return Start::kSkip;
    }
    const plat::MoveOutcome moved = plat::MoveIfUnused(path, strTmpPath);
    if (moved != plat::MoveOutcome::kMoved) {
        RemoveMarker(path);
        if (moved == plat::MoveOutcome::kInUse) {
            LeaveAlone(run, entry, u"数据库正被其他程序打开, 不迁移: " + path);
        } else {
            entry.bEnabled = 0;
            run.bLeftBehind = true;
        }
        return Start::kSkip;
    }
    plat::SyncDirectory(FolderOf(path));
    OpenSetAside(run, entry);
    return Start::kBuild;
}

void CDBProcess::OpenSetAside(RunState& run, DbEntry& entry) {
    const WString strTmpPath = entry.strFilePath + u".tmp";
    entry.pOldDb = std::make_unique<CDBConnection>();
    entry.pOldDb->OpenDatabase(strTmpPath);
    if (!IsReadable(*entry.pOldDb)) {
        // Its rows cannot be carried; the file must outlive the run.
        Log(u"原数据库无法读取: " + strTmpPath);
        run.keepSetAside.insert(&entry);
        run.nResult = 0;
    }
    if (wstr::EqualsNoCase(entry.strDbName, kUserDataName)) {
        run.pUserDat = entry.pOldDb.get();
        run.pUserDatEntry = &entry;
    }
}

CDBProcess::Start CDBProcess::ResumeDatabase(RunState& run, DbEntry& entry,
                                             const MigrationMarker& marker) {
    const WString& path = entry.strFilePath;
    const WString strTmpPath = path + u".tmp";
    const bool hasFile = plat::PathExists(path) && !plat::IsDirectory(path);
    const bool hasTmp = plat::PathExists(strTmpPath) && !plat::IsDirectory(strTmpPath);
    Log(u"发现上次未完成的迁移: " + MarkerPath(path));

    if (marker.bValid && marker.bComplete && hasFile) {
        Log(u"数据库" + entry.strDbName + u"上次已迁移完成, 清理剩余文件");
        entry.bEnabled = 0;
        run.resumed.push_back(&entry);
        run.migratedPaths.push_back(path);
        if (marker.bUnchecked) run.unchecked.insert(&entry);
        if (hasTmp) OpenSetAside(run, entry);
        return Start::kSkip;
    }

    if (hasTmp) {
        // The set-aside file holds the last complete copy: nothing is moved over it, and the
        // database is built from it again.
        WString detail;
        if (db::SettleDatabaseFile(strTmpPath, detail) != db::FileRest::kAtRest) {
            LeaveAlone(
                run, entry,
                u"上次迁移留下的文件无法安全读取, 不迁移: " + strTmpPath + u" (" + detail + u")");
            return Start::kSkip;
        }
        if (!WriteMarker(path, entry.strTargetVersion, true)) {
            LeaveAlone(run, entry, u"无法写入迁移标记, 不迁移此数据库: " + MarkerPath(path));
            return Start::kSkip;
        }
        if (hasFile && !PutAsidePartial(run, entry)) return Start::kSkip;
        OpenSetAside(run, entry);
        entry.strCurVersion.clear();
        entry.pOldDb->GetTableVersion(kVersionTable, entry.strCurVersion);
        return Start::kBuild;
    }

    if (marker.bValid && !marker.strKeptPath.empty() && hasFile) {
        // Cut off after the rows that could not be carried were kept aside: the new file is
        // complete on disk and lacks only its version.
        CDBConnection& db = *entry.pDb;
        bool ok = db.OpenDatabase(path) == 1 && db.UseDurableCommits() == 1;
        if (ok) db.SetTableVersion(kVersionTable, marker.strTargetVersion);
        ok = ok && db.SyncToDisk() == 1;
        db.Close();
        if (!ok || !AppendMarkerComplete(path)) {
            LeaveAlone(run, entry, u"上次迁移的数据库未能完成: " + path);
            return Start::kSkip;
        }
        entry.bEnabled = 0;
        run.resumed.push_back(&entry);
        run.migratedPaths.push_back(path);
        run.nResult = 0;
        Log(u"数据未能全部迁移, 原数据库保留为: " + marker.strKeptPath);
        return Start::kSkip;
    }

    // The set-aside never happened: the file is the database itself.
    if (hasFile && (!marker.bValid || marker.bHadFile)) return Start::kUsual;

    // There was no database file: what is at the path is a half-built one of ours.
    if (marker.bHadFile) Log(u"上次迁移的原数据库已不存在: " + strTmpPath);
    if (!WriteMarker(path, entry.strTargetVersion, false)) {
        LeaveAlone(run, entry, u"无法写入迁移标记, 不迁移此数据库: " + MarkerPath(path));
        return Start::kSkip;
    }
    if (hasFile && !PutAsidePartial(run, entry)) return Start::kSkip;
    return Start::kBuild;
}

bool CDBProcess::PutAsidePartial(RunState& run, DbEntry& entry) {
    const WString& path = entry.strFilePath;
    WString detail;
    if (db::SettleDatabaseFile(path, detail) != db::FileRest::kAtRest) {
        LeaveAlone(run, entry,
                   u"上次迁移未完成的文件无法安全移走, 不迁移: " + path + u" (" + detail + u")");
        return false;
    }
    plat::MoveOutcome outcome;
    WString kept = KeepAside(path, path + u"." + Timestamp14(), u".partial", outcome);
    if (kept.empty()) {
        LeaveAlone(run, entry,
                   (outcome == plat::MoveOutcome::kInUse
                        ? u"上次迁移未完成的文件正被其他程序打开, 不迁移: "
                        : u"上次迁移未完成的文件无法改名, 不迁移: ") +
                       path);
        return false;
    }
    Log(u"上次迁移未完成的文件保留为: " + kept);
    return true;
}

void CDBProcess::CreateNewFile(RunState& run, DbEntry& entry) {
    const WString strTmpPath = entry.strFilePath + u".tmp";
    entry.bEnabled = entry.pDb->OpenDatabase(entry.strFilePath);
    if (entry.bEnabled == 0) {
        // A folder at the path never becomes a database; anything else may next time.
        if (!plat::IsDirectory(entry.strFilePath)) run.bLeftBehind = true;
        if (!entry.pOldDb) {
            // Nothing was set aside, nothing was built.
            RemoveMarker(entry.strFilePath);
            return;
        }
        // No fresh file to carry the rows into: put the database back as it was.
        entry.pOldDb.reset();
        run.keepSetAside.erase(&entry);
        if (run.pUserDatEntry == &entry) {
            run.pUserDat = nullptr;
            run.pUserDatEntry = nullptr;
        }
        if (plat::FileSize(entry.strFilePath) == 0) plat::RemoveFile(entry.strFilePath);
        if (!plat::PathExists(entry.strFilePath) &&
            plat::MoveReplace(strTmpPath, entry.strFilePath)) {
            plat::SyncDirectory(FolderOf(entry.strFilePath));
            RemoveMarker(entry.strFilePath);
            Log(u"无法创建新数据库, 已恢复原数据库: " + entry.strFilePath);
        } else {
            // The marker stays: the next run takes the rows from the set-aside file.
            run.nResult = 0;
            Log(u"无法创建新数据库, 原数据库保留在: " + strTmpPath);
        }
        return;
    }
    // Nothing in the new file is the only copy of anything until the finishing step has
    // synced it (CompleteDatabase): until then a power cut leaves the set-aside file and the
    // marker, and the next run builds the file again.
    entry.pDb->DeferSyncs();
    run.migratedPaths.push_back(entry.strFilePath);
    Progress(u"迁移数据库 " + entry.strDbName + u" (" +
             (entry.strCurVersion.empty() ? WString(u"无版本") : entry.strCurVersion) + u" -> " +
             entry.strTargetVersion + u")");
}

bool CDBProcess::IsDue(const DbEntry& entry, const ScriptItem& item) const {
    if (entry.strCurVersion.empty()) return true;
    int bComparable = 0;
    int nOrder = engine::CompareVersion(entry.strCurVersion, item.strVersion, bComparable);
    return nOrder < 0 || bComparable == 0;
}

void CDBProcess::ApplyItems(RunState& run) {
    m_scriptFile.Rewind();
    ScriptItem item;
    while (m_scriptFile.ReadItem(item)) {
        auto found = m_mapDatabases.find(item.nDbIndex);
        if (found == m_mapDatabases.end() || !found->second) continue;
        DbEntry& entry = *found->second;
        if (entry.bEnabled != 1 || !entry.pDb) continue;
        CDBConnection& db = *entry.pDb;

        switch (item.nType) {
            case ITEM_TABLE:
                ApplyTableItem(run, entry, item);
                break;
            case ITEM_ALTER:
                if (!item.strName.empty() && !item.strColumn.empty() &&
                    db.ColumnExists(item.strName, item.strColumn) == 0 &&
                    db.AddColumn(item.strName, item.strColumn, item.strSql) == 0) {
                    run.nResult = 0;
                }
                break;
            case ITEM_TRIGGER:
                if (db.TriggerExists(item.strName) == 0 && db.CreateTrigger(item.strSql) == 0) {
                    run.nResult = 0;
                }
                break;
            case ITEM_SQLONE:
                if (IsDue(entry, item) && db.Execute(item.strSql) == 0) {
                    Log(Format(u"DBExecute SQL Failed! :%s \n", item.strVersion));
                }
                break;
            case ITEM_SQLTWO: {
                WString strOther;
                if (item.nRefDbIndex == item.nDbIndex && entry.pOldDb) {
                    strOther = entry.pOldDb->GetPath();
                } else {
                    auto ref = m_mapDatabases.find(item.nRefDbIndex);
                    if (ref != m_mapDatabases.end() && ref->second) {
                        strOther = ref->second->pOldDb ? ref->second->pOldDb->GetPath()
                                                       : ref->second->strFilePath;
                    }
                }
                if (!strOther.empty() && IsDue(entry, item) &&
                    db.ExecuteWithAttached(strOther, item.strSql) == 0) {
                    Log(Format(u"DBExecute TWOSQL Failed! :%s \n", item.strVersion));
                }
                break;
            }
            default:
                break;
        }
    }
}

void CDBProcess::ApplyTableItem(RunState& run, DbEntry& entry, const ScriptItem& item) {
    CDBConnection& db = *entry.pDb;
    if (db.TableExists(item.strName)) return;

    // The rows come from the database's own set-aside file, else from the shared
    // "vuserdat" copy, else from the extra data file: the first that has the table.
    CDBConnection* pSource = nullptr;
    const DbEntry* pSourceEntry = nullptr;
    bool bFromExtra = false;
    if (entry.pOldDb && entry.pOldDb->TableExists(item.strName)) {
        pSource = entry.pOldDb.get();
        pSourceEntry = &entry;
    } else if (run.pUserDat && run.pUserDat->TableExists(item.strName)) {
        pSource = run.pUserDat;
        pSourceEntry = run.pUserDatEntry;
    } else if (run.bExtraOpen && run.extraSource.TableExists(item.strName)) {
        pSource = &run.extraSource;
        bFromExtra = true;
    }

    // Rows that were not carried must stay where they are: keep the source's file (and
    // the database's own set-aside file) past the end of the run.
    auto keepSource = [&] {
        run.nResult = 0;
        run.keepSetAside.insert(&entry);
        if (pSourceEntry) run.keepSetAside.insert(pSourceEntry);
        if (bFromExtra) run.bKeepExtra = true;
    };

    // Indexes the source lacks would make the copy insert row by row: they are made once
    // the rows are in.
    std::vector<WString> deferred;
    if (db.ExecuteDeferringIndexes(item.strSql, item.strName, pSource, deferred) == 0) {
        keepSource();
        return;
    }
    if (pSource == nullptr) return;
    const int copied = db.CopyTableFrom(pSource->GetPath(), item.strName);
    if (copied == 0) Log(Format(u"CopyTableToFile Failed! :%s \n", item.strName));
    bool indexed = true;
    for (const WString& statement : deferred) {
        if (db.ExecuteAnsi(statement) == 0) {
            indexed = false;
            break;
        }
    }
    if (copied == 0 || !indexed) {
        keepSource();
        return;
    }
    run.carried.emplace(pSource, item.strName);
    Progress(u"  表 " + item.strName + u": " + wstr::FromInt(db.CopiedRows()) + u" 行");
}

bool CDBProcess::FinishDatabases(RunState& run) {
    bool bAllComplete = true;
    for (auto& [n, pEntry] : m_mapDatabases) {
        if (pEntry && pEntry->bEnabled == 1 && !CompleteDatabase(run, *pEntry)) {
            bAllComplete = false;
        }
    }
    if (!bAllComplete) {
        run.nResult = 0;
        Log(u"有数据库未能完成迁移, 原数据库文件全部保留, 下次运行时继续");
    }
    return bAllComplete;
}

bool CDBProcess::CompleteDatabase(RunState& run, DbEntry& entry) {
    CDBConnection& db = *entry.pDb;
    const WString& path = entry.strFilePath;
    // Every row carried into the new file is on the disk before anything can call the file
    // complete, however the file was journalled and synced while it was built.
    if (db.UseDurableCommits() == 0 || db.SyncToDisk() == 0 ||
        !plat::SyncDirectory(FolderOf(path))) {
        Log(u"新数据库未能写入磁盘: " + path);
        return false;
    }
    // Rows that were not carried: the set-aside file takes its lasting name before the
    // database is called complete, so that no later run deletes it as a finished run's
    // leftover. While a database is left behind it may still take rows from this file:
    // the run that cleans up checks it then.
    const bool bChecked = !run.bLeftBehind;
    if (entry.pOldDb && run.keepSetAside.count(&entry) == 0 && bChecked) {
        const WString table = UncarriedTable(*entry.pOldDb, run.carried);
        if (!table.empty()) {
            Log(u"表" + table + u"的数据没有迁移到新数据库: " + entry.pOldDb->GetPath());
            run.keepSetAside.insert(&entry);
        }
    }
    if (entry.pOldDb && run.keepSetAside.count(&entry) != 0) {
        const WString strOldPath = entry.pOldDb->GetPath();
        entry.pOldDb.reset();
        if (run.pUserDatEntry == &entry) {
            run.pUserDat = nullptr;
            run.pUserDatEntry = nullptr;
        }
        const WString kept = FreeName(path + u"." + Timestamp14(), u".bak");
        if (kept.empty() || !AppendMarkerKept(path, kept) ||
            plat::MoveIfUnused(strOldPath, kept) != plat::MoveOutcome::kMoved) {
            Log(u"数据未能全部迁移, 原数据库保留在: " + strOldPath);
            return false;
        }
        plat::SyncDirectory(FolderOf(kept));
        Log(u"数据未能全部迁移, 原数据库保留为: " + kept);
    }
    db.SetTableVersion(kVersionTable, entry.strTargetVersion);
    if (db.SyncToDisk() == 0 || !AppendMarkerComplete(path, bChecked)) {
        Log(u"新数据库未能写入磁盘: " + path);
        return false;
    }
    return true;
}

void CDBProcess::RemoveSetAside(RunState& run, DbEntry& entry) {
    if (entry.pOldDb && run.unchecked.count(&entry) != 0 && run.keepSetAside.count(&entry) == 0) {
        entry.pDb->OpenDatabase(entry.strFilePath);
        const WString table = UncarriedTable(*entry.pOldDb, run.carried, entry.pDb.get());
        entry.pDb->Close();
        if (!table.empty()) {
            Log(u"表" + table + u"的数据没有迁移到新数据库: " + entry.pOldDb->GetPath());
            run.keepSetAside.insert(&entry);
        }
    }
    if (entry.pOldDb) {
        const WString strOldPath = entry.pOldDb->GetPath();
        entry.pOldDb->Close();
        if (run.keepSetAside.count(&entry) != 0) {
            // A set-aside file of an earlier run whose rows this run could not all carry.
            plat::MoveOutcome outcome;
            WString kept =
                KeepAside(strOldPath, entry.strFilePath + u"." + Timestamp14(), u".bak", outcome);
            Log(u"数据未能全部迁移, 原数据库保留为: " + (kept.empty() ? strOldPath : kept));
            if (kept.empty()) return;
        } else if (!plat::RemoveFile(strOldPath)) {
            // The marker stays, so that the next run removes it rather than keep it.
            Log(u"无法删除: " + strOldPath);
            return;
        }
        plat::SyncDirectory(FolderOf(strOldPath));
    }
    if (!RemoveMarker(entry.strFilePath)) Log(u"无法删除: " + MarkerPath(entry.strFilePath));
}

void CDBProcess::FinishExtraSource(RunState& run) {
    if (!run.bExtraOpen) return;
    run.extraSource.Close();
    if (run.bKeepExtra) {
        Log(u"数据未能全部迁移, 数据文件保留: " + run.strExtraPath);
        return;
    }
    plat::RemoveFile(run.strExtraPath);
}
