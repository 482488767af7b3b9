// One migration run: checks, a new file built beside every database that is behind the
// script, the old rows carried across, versions recorded, and each database replaced by
// its new file only when nothing of it was lost.
//
// The invariants, which every step below keeps:
//
// - Every database path holds, at every instant, its complete old database or its
//   complete new one. The new file is built at "<path>.new" while the database stays
//   untouched at its path; it takes the path only when it is finished, checked and on the
//   disk. A database whose new file cannot be made or built stays exactly as it was. The
//   one exception is the instant between moving the old file to "<path>.tmp" and the new
//   one to the path, which the marker lets the next run complete.
// - A database is replaced only when every table of its old file that holds rows was
//   carried, every row of it, into a database that is replaced too (carry_ledger.h), its
//   version is recorded, and no client wrote to it while it was read. Otherwise it stays
//   as it was and the run's result is 0.
// - Nothing a run did not carry is deleted: the old file goes only once every database of
//   the run is done, and the extra data file only when every table of it that holds rows
//   was carried.
// - One run at a time works in a data folder: a second one waits, then gives up, and
//   never reads a marker a live run owns.
#include <cstdio>
#include <set>
#include <tuple>

#include "db/settle.h"
#include "engine/carry_ledger.h"
#include "engine/data_files.h"
#include "engine/database_list.h"
#include "engine/db_process.h"
#include "engine/migration_marker.h"
#include "engine/resume.h"
#include "engine/script_check.h"
#include "engine/update_record.h"
#include "engine/version_compare.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "script/database_header.h"

namespace {

constexpr char16_t kVersionTable[] = u"TMAIN";
constexpr char16_t kUserDataName[] = u"vuserdat";
constexpr char16_t kRunLockName[] = u"\\quorvel.lock";
// The extra data file's name while it is deleted.
constexpr char16_t kExtraLeaving[] = u".removing";

void Log(const WString& text) { WriteLog(kLogCategory, kLogLevel, text); }

// `text` followed by the system's reason for the file operation that failed last (the call,
// the path, the error), when the system gave one.
WString WithReason(const WString& text) {
    const WString why = plat::LastFailure();
    plat::ClearLastFailure();
    return why.empty() ? text : text + u" (" + why + u")";
}

// `format` with its one "%s" replaced by `value`.
WString Format(WStringView format, const WString& value) {
    return wstr::ReplaceAll(format, u"%s", value);
}

WString Timestamp14() {
    plat::LocalTime t = plat::Now();
    return wstr::FromInt(t.year, 4) + wstr::FromInt(t.month, 2) + wstr::FromInt(t.day, 2) +
           wstr::FromInt(t.hour, 2) + wstr::FromInt(t.minute, 2) + wstr::FromInt(t.second, 2);
}

// True when SQLite can read the schema of the database `db` holds: a file that is no
// database (or a damaged one) answers every table query with "no such table", which must
// not pass for a database without tables.
bool IsReadable(CDBConnection& db) {
    return db.IsOpen() && db.Run("SELECT count(*) FROM sqlite_master;", db::Origin::kProgram) == 1;
}

}  // namespace

// One call of Migrate: the run's own state besides the engine's.
class MigrationRun {
public:
    explicit MigrationRun(CDBProcess& process)
        : m_process(process),
          m_fs(*process.m_pFs),
          m_script(process.m_scriptFile),
          m_databases(process.m_mapDatabases) {}

    MigrationOutcome Run();

private:
    MigrationOutcome Stop(WString message, bool bAlwaysShow = false);
    MigrationObserver& Report();
    void ReportDatabases();
    bool TakeRunLock();
    bool CheckScript(const DatabaseHeader& header, const WString& dataFiles);
    void CollectSources(const WString& dataFiles);

    void Prepare(int n, DbEntry& entry);
    // Acts on an earlier run's marker; true when the database is to be migrated as usual.
    bool Resume(int n, DbEntry& entry, const MigrationMarker& marker);
    void StartBuild(int n, DbEntry& entry);
    void EnterCleanUp(int n, DbEntry& entry, const MigrationMarker& marker);
    void LeaveAlone(DbEntry& entry, const WString& why);
    void Discard(DbEntry& entry, const WString& why);
    bool KeepAside(const WString& from, const WString& dbPath, WStringView suffix, WString& kept);

    void OpenExtraSource();
    void RemoveExtraFile();
    // The extra file's stamp for the markers, when this run read it.
    std::vector<std::pair<WString, std::string>> SourceStamps() const {
        if (!m_bExtraOpen || !m_bExtraStamped) return {};
        return {{m_strExtraPath, StampText(m_extraStamp)}};
    }
    bool IsListedDatabase(const WString& path);
    void RemoveExtraFileLeftBehind(const WString& dataFiles);
    void ApplyItems();
    void ApplyTable(int n, DbEntry& entry, const ScriptItem& item, int nLine);
    bool IsDue(const DbEntry& entry, const ScriptItem& item) const;
    CDBConnection* UserDataSource(WString& path) const;

    void FinishBuilds();
    bool Finalize(int n, DbEntry& entry);
    void Swap(DbEntry& entry);
    void CleanUp();
    void RemoveOldFile(DbEntry& entry, const std::set<int>& done);

    CDBProcess& m_process;
    plat::FileSystem& m_fs;
    CScriptFile& m_script;
    DatabaseMap& m_databases;

    int m_nResult = 1;
    WString m_strDataDir;
    plat::FileLock m_runLock;
    // Databases found at or past the script's version.
    int m_nUpToDate = 0;
    // A database of the list was not migrated (left alone, discarded, not yet replaced):
    // its items may read the others' old files and the extra data file when it migrates,
    // so those wait for that run.
    bool m_bLeftBehind = false;

    std::vector<WString> m_dataFiles;
    CDBConnection m_extra;
    bool m_bExtraOpen = false;
    WString m_strExtraPath;
    // The extra data file as the run found it: one written meanwhile is not deleted.
    plat::FileStamp m_extraStamp;
    bool m_bExtraStamped = false;
    // The database named "vuserdat" whose old file serves every database as the shared
    // source of last resort; 0 when there is none.
    int m_nUserDat = 0;
    CarryLedger m_ledger;
    // Databases of an older run's marker "complete unchecked": whether every table of
    // their old file reached the new one is for the clean-up to find out.
    // Databases an earlier run replaced whose old file cannot be read: it stays.
    std::set<const DbEntry*> m_unreadableOld;
    // What the markers of databases an earlier run replaced say they carried: (database,
    // source, table, the source's stamp when it was read, if the marker recorded one).
    std::vector<std::tuple<int, WString, WString, std::string>> m_earlierCarried;
};

CDBProcess::~CDBProcess() { ClearDatabaseList(); }

void CDBProcess::LoadDatabaseList(const WString& baseFolder) {
    if (!m_scriptFile.IsOpen()) return;
    DatabaseHeader header;
    ReadDatabaseHeader(m_scriptFile, header);
    ::LoadDatabaseList(header, baseFolder, m_mapDatabases, *m_pFs);
}

void CDBProcess::ClearDatabaseList() { ::ClearDatabaseList(m_mapDatabases); }

std::vector<WString> CDBProcess::CollectDataFiles(const WString& list, const WString& folder) {
    return engine::CollectDataFiles(list, folder);
}

void CDBProcess::WriteUpdateRecord(const WString& folder, const WString& time) {
    const WString why = engine::WriteUpdateRecord(*m_pFs, folder, time);
    if (!why.empty()) Log(u"更新记录未写入: " + why);
}

void CDBProcess::Progress(const WString& line) const {
    if (m_fnProgress) m_fnProgress(line);
}

MigrationOutcome CDBProcess::Migrate() {
    MigrationRun run(*this);
    return run.Run();
}

MigrationObserver& MigrationRun::Report() {
    static MigrationObserver nobody;
    return m_process.m_pObserver != nullptr ? *m_process.m_pObserver : nobody;
}

MigrationOutcome MigrationRun::Stop(WString message, bool bAlwaysShow) {
    MigrationOutcome outcome;
    outcome.strMessage = std::move(message);
    outcome.bAlwaysShow = bAlwaysShow;
    return outcome;
}

MigrationOutcome MigrationRun::Run() {
    CDBProcess& p = m_process;
    m_strDataDir = p.m_strDataDir.empty() ? p.m_strInstallDir : p.m_strDataDir;
    plat::ClearLastFailure();

    if (p.m_bScriptFound == 0 || p.m_strScriptName.empty()) return Stop(u"没有升级脚本");
    const WString strScriptPath = p.m_strInstallDir + u"\\" + p.m_strScriptName;
    // Shown even in a silent run: an installer that lost the script must be told.
    if (!m_fs.Exists(strScriptPath)) return Stop(u"文件:" + strScriptPath + u" 不存在!", true);
    if (!OpenLogFile(p.m_strInstallDir + u"\\log\\ReData.log")) {
        OpenLogFile(p.m_strInstallDir + u"\\ReData.log");
    }
    Log(u"升级脚本: " + strScriptPath);
    if (!TakeRunLock()) return Stop(u"另一个数据迁移正在进行");

    // A script that cannot be opened yields no header values: the run ends below.
    m_script.Open(strScriptPath);

    if (p.m_bInteractive == 0) {
        WString strTime;
        if (m_script.ReadUpdateTime(strTime)) p.WriteUpdateRecord(m_strDataDir, strTime);
    }

    WString strMain;
    m_script.ReadMain(strMain);
    int bComparable = 0;
    if (engine::CompareVersion(p.m_strSubVersion, strMain, bComparable) < 0) {
        Log(u"客户端子版本 " + p.m_strSubVersion + u" < 升级脚本要求的 " + strMain);
        return Stop(u"主程序版本号不对，迁移失败！");
    }

    DatabaseHeader header;
    ReadDatabaseHeader(m_script, header);
    WString strDataFiles;
    if (!m_script.ReadDatabaseFile(strDataFiles)) return Stop(u"获取数据库名失败！");
    // Nothing is touched for a script that would lose rows or reach outside its folder.
    if (!CheckScript(header, strDataFiles)) return Stop(u"升级脚本格式错误！");

    LoadDatabaseList(header, m_strDataDir, m_databases, m_fs);
    CollectSources(strDataFiles);

    bool bAnyMigrating = false;
    for (auto& [n, pEntry] : m_databases) {
        if (!pEntry) continue;
        Prepare(n, *pEntry);
        if (pEntry->state == DbState::kBuilding || pEntry->state == DbState::kCleanUp) {
            bAnyMigrating = true;
        }
    }
    RemoveExtraFileLeftBehind(strDataFiles);
    MigrationOutcome outcome;
    if (!bAnyMigrating) {
        outcome.bUpToDate =
            !m_databases.empty() && m_nUpToDate == static_cast<int>(m_databases.size());
        if (outcome.bUpToDate) Log(u"全部数据库版本号已经最新,不需要迁移");
        return outcome;
    }

    OpenExtraSource();
    bool bExtraChanged = false;
    for (const auto& [n, source, table, stamp] : m_earlierCarried) {
        // Rows an earlier run took from the extra file count only while it is the file
        // they were read from: rows the client added since were never carried.
        if (m_bExtraOpen && source == m_strExtraPath &&
            (!m_bExtraStamped || stamp != StampText(m_extraStamp))) {
            bExtraChanged = true;
            continue;
        }
        m_ledger.Carried(source, table, n);
    }
    if (bExtraChanged) Log(u"数据文件在上次迁移读取后被修改, 保留: " + m_strExtraPath);
    ApplyItems();
    FinishBuilds();
    // Nothing may hold an old file open while it is moved: the lease that proves no client
    // has it open counts this process too.
    for (auto& [n, pEntry] : m_databases) {
        if (pEntry) pEntry->pOldDb.reset();
    }
    for (auto& [n, pEntry] : m_databases) {
        if (pEntry && pEntry->state == DbState::kBuilt) Swap(*pEntry);
    }
    CleanUp();
    ReportDatabases();
    outcome.nResult = m_nResult;
    return outcome;
}

void MigrationRun::ReportDatabases() {
    for (const auto& [n, pEntry] : m_databases) {
        if (pEntry) Report().OnDatabase(n, *pEntry);
    }
}

bool MigrationRun::TakeRunLock() {
    if (!m_fs.IsDirectory(m_strDataDir)) m_fs.MakeDirectory(m_strDataDir);
    const WString path = m_strDataDir + kRunLockName;
    const int wait = m_process.m_nRunLockWaitMs;
    for (int waited = 0;; waited += 100) {
        const plat::FileLock::Result result = m_runLock.TryLock(path);
        if (result == plat::FileLock::Result::kTaken) return true;
        // A folder where not even the lock can be made: nothing here can be written, so
        // no other run can change anything either; the run finds out what it cannot do.
        if (result == plat::FileLock::Result::kUnavailable) {
            Log(WithReason(u"无法在数据文件夹建立锁文件: " + path));
            return true;
        }
        if (waited >= wait) break;
        if (waited == 0) Log(u"等待另一个数据迁移结束: " + path);
        plat::SleepMilliseconds(100);
    }
    Log(u"另一个数据迁移正在进行: " + path);
    return false;
}

bool MigrationRun::CheckScript(const DatabaseHeader& header, const WString& dataFiles) {
    std::vector<ScriptRefusal> refusals;
    CheckScriptItems(m_script, refusals);
    CheckScriptPaths(header, dataFiles, refusals);
    CheckScriptFiles(m_fs, m_strDataDir, header, refusals);
    if (refusals.empty()) return true;
    for (const ScriptRefusal& refusal : refusals)
        Log(u"升级脚本格式错误: " + m_script.GetFilePath() + u" " + refusal.strText);
    return false;
}

bool MigrationRun::IsListedDatabase(const WString& path) {
    const WString key = plat::IdentityKey(m_fs, path);
    for (const auto& [n, pEntry] : m_databases) {
        if (pEntry && plat::IdentityKey(m_fs, pEntry->strFilePath) == key) return true;
    }
    return false;
}

void MigrationRun::CollectSources(const WString& dataFiles) {
    for (WString& name : engine::CollectDataFiles(dataFiles, m_strDataDir)) {
        // A database of the list is never an extra source: the run would delete it.
        if (IsListedDatabase(m_strDataDir + u"\\" + name)) {
            Log(u"DATABASEFILE " + name + u" is a database of the list; not used as a source");
            continue;
        }
        m_dataFiles.push_back(std::move(name));
    }
}

void MigrationRun::LeaveAlone(DbEntry& entry, const WString& why) {
    entry.state = DbState::kLeftAlone;
    entry.strWhy = why;
    entry.pOldDb.reset();
    m_bLeftBehind = true;
    m_nResult = 0;
    Log(why);
}

void MigrationRun::Discard(DbEntry& entry, const WString& why) {
    entry.pDb->Close();
    entry.pOldDb.reset();
    entry.state = DbState::kDiscarded;
    entry.strWhy = why;
    m_bLeftBehind = true;
    m_nResult = 0;
    Log(why);
    if (m_fs.Exists(entry.NewPath()) && !m_fs.Remove(entry.NewPath())) {
        Log(WithReason(u"无法删除: " + entry.NewPath()));
        return;  // the marker stays, so that the next run removes it
    }
    RemoveMarker(m_fs, entry.strFilePath);
    Log(u"数据库保持原样: " + entry.strFilePath);
}

// Moves `from` to the first free name of "<database>.<time>" + suffix, "-2" + suffix, ...:
// a kept copy never replaces another, and a file that another process holds open is not
// moved.
bool MigrationRun::KeepAside(const WString& from, const WString& dbPath, WStringView suffix,
                             WString& kept) {
    const WString base = dbPath + u"." + Timestamp14();
    for (int n = 1; n < 1000; ++n) {
        kept = base + (n == 1 ? WString() : u"-" + wstr::FromInt(n)) + WString(suffix);
        if (m_fs.Exists(kept)) continue;
        const plat::MoveOutcome moved = m_fs.MoveIfUnused(from, kept, nullptr);
        if (moved == plat::MoveOutcome::kMoved) {
            m_fs.SyncDirectory(plat::FolderOf(kept));
            return true;
        }
        // Only a name taken meanwhile is worth another try.
        if (moved != plat::MoveOutcome::kFailed || !m_fs.Exists(kept)) break;
    }
    kept.clear();
    return false;
}

void MigrationRun::Prepare(int n, DbEntry& entry) {
    if (entry.bEnabled == 0) {
        LeaveAlone(entry, WithReason(u"数据库的文件夹无法创建, 不迁移: " + entry.strFilePath));
        return;
    }
    const WString& path = entry.strFilePath;
    MigrationMarker marker;
    if (ReadMarker(m_fs, path, marker) && !Resume(n, entry, marker)) return;

    if (m_fs.IsDirectory(path)) {
        LeaveAlone(entry, u"数据库的路径是一个文件夹, 不迁移: " + path);
        return;
    }
    entry.bHadFile = m_fs.Exists(path);
    if (entry.bHadFile) {
        WString detail;
        switch (db::SettleDatabaseFile(path, detail)) {
            case db::FileRest::kBusy:
                LeaveAlone(entry,
                           u"数据库正被其他程序使用, 不迁移: " + path + u" (" + detail + u")");
                return;
            case db::FileRest::kCompanions:
                LeaveAlone(entry, u"数据库的日志文件未能合并, 不迁移: " + detail);
                return;
            case db::FileRest::kForeign:
                LeaveAlone(entry, u"数据库的日志文件不是普通文件, 不迁移: " + detail);
                return;
            case db::FileRest::kAtRest:
                break;
        }
        // Busy is not behind: a database whose version cannot be read is left alone, not
        // rebuilt as if it had none.
        CDBConnection reader;
        WString version;
        db::VersionRead read = db::VersionRead::kUnreadable;
        if (reader.OpenExisting(path) == 1) read = reader.ReadTableVersion(kVersionTable, version);
        if (read == db::VersionRead::kUnreadable) {
            LeaveAlone(entry, u"数据库的版本号无法读取, 不迁移: " + path + u" (" +
                                  reader.LastError() + u")");
            return;
        }
        entry.strCurVersion = version;
        int bComparable = 0;
        const int nOrder =
            engine::CompareVersion(entry.strCurVersion, entry.strTargetVersion, bComparable);
        if (bComparable && nOrder >= 0) {
            entry.state = DbState::kUpToDate;
            ++m_nUpToDate;
            Log(Format(u"数据库%s版本号已经最新,不需要迁移！", entry.strDbName));
            // A marker of a run cut off before its build says nothing any more.
            RemoveMarker(m_fs, path);
            return;
        }
    }
    // Files by the names the run is about to use, that no marker explains, are what a
    // failed earlier run (or an older program) left: possibly the only complete copy of
    // some rows. They are kept.
    for (const WString& stray : {entry.TmpPath(), entry.NewPath()}) {
        if (!m_fs.Exists(stray) || m_fs.Exists(MarkerPath(path))) continue;
        WString kept;
        if (!KeepAside(stray, path, u".bak", kept)) {
            LeaveAlone(entry, WithReason(u"上次迁移留下的文件无法改名, 不迁移此数据库: " + stray));
            return;
        }
        m_nResult = 0;
        Log(u"上次迁移留下的文件保留为: " + kept);
    }
    StartBuild(n, entry);
}

bool MigrationRun::Resume(int n, DbEntry& entry, const MigrationMarker& marker) {
    const WString& path = entry.strFilePath;
    Log(u"发现上次未完成的迁移: " + MarkerPath(path));
    ResumeFiles files;
    files.bFile = m_fs.Exists(path) && !m_fs.IsDirectory(path);
    files.bTmp = m_fs.Exists(entry.TmpPath()) && !m_fs.IsDirectory(entry.TmpPath());
    files.bNew = m_fs.Exists(entry.NewPath()) && !m_fs.IsDirectory(entry.NewPath());
    plat::FileId atPath;
    plat::FileId atTmp;
    files.bFileIsTmp = files.bFile && files.bTmp && m_fs.Identity(path, atPath) &&
                       m_fs.Identity(entry.TmpPath(), atTmp) && atPath == atTmp;

    auto keepStray = [&]() {
        WString detail;
        WString kept;
        if (db::SettleDatabaseFile(path, detail) != db::FileRest::kAtRest ||
            !KeepAside(path, path, u".partial", kept)) {
            LeaveAlone(entry, u"上次迁移未完成的文件无法安全移走, 不迁移: " + path);
            return false;
        }
        Log(u"上次迁移未完成的文件保留为: " + kept);
        return true;
    };
    switch (DecideResume(marker, files)) {
        case ResumeAction::kDropSecondNameThenStartOver:
            if (!m_fs.Remove(entry.TmpPath())) {
                LeaveAlone(entry,
                           WithReason(u"无法删除上次迁移未完成的文件, 不迁移: " + entry.TmpPath()));
                return false;
            }
            [[fallthrough]];
        case ResumeAction::kStartOver:
            if (files.bNew && !m_fs.Remove(entry.NewPath())) {
                LeaveAlone(entry,
                           WithReason(u"无法删除上次迁移未完成的文件, 不迁移: " + entry.NewPath()));
                return false;
            }
            return true;
        case ResumeAction::kPutAsideThenStartOver:
            if (files.bNew && !m_fs.Remove(entry.NewPath())) {
                LeaveAlone(entry,
                           WithReason(u"无法删除上次迁移未完成的文件, 不迁移: " + entry.NewPath()));
                return false;
            }
            return keepStray();
        case ResumeAction::kRestoreThenStartOver: {
            if (files.bNew && !m_fs.Remove(entry.NewPath())) {
                LeaveAlone(entry,
                           WithReason(u"无法删除上次迁移未完成的文件, 不迁移: " + entry.NewPath()));
                return false;
            }
            if (files.bFile && !keepStray()) return false;
            WString detail;
            if (db::SettleDatabaseFile(entry.TmpPath(), detail) != db::FileRest::kAtRest ||
                m_fs.MoveIfUnused(entry.TmpPath(), path, nullptr) != plat::MoveOutcome::kMoved) {
                LeaveAlone(entry, WithReason(u"上次迁移留下的原数据库无法放回, 不迁移: " +
                                             entry.TmpPath()));
                return false;
            }
            m_fs.SyncDirectory(plat::FolderOf(path));
            Log(u"上次迁移留下的原数据库已放回: " + path);
            return true;
        }
        case ResumeAction::kFinishSwap:
            if (files.bFile && !keepStray()) return false;
            if (m_fs.MoveIfUnused(entry.NewPath(), path, nullptr) != plat::MoveOutcome::kMoved) {
                LeaveAlone(entry,
                           WithReason(u"上次迁移的新数据库无法改名, 不迁移: " + entry.NewPath()));
                return false;
            }
            m_fs.SyncDirectory(plat::FolderOf(path));
            EnterCleanUp(n, entry, marker);
            return false;
        case ResumeAction::kCleanUp:
            EnterCleanUp(n, entry, marker);
            return false;
        case ResumeAction::kWriteVersionThenCleanUp: {
            CDBConnection db;
            bool ok = db.OpenExisting(path) == 1 && db.UseDurableCommits() == 1 &&
                      db.SetTableVersion(kVersionTable, marker.strTargetVersion) == 1 &&
                      db.SyncToDisk() == 1;
            db.Close();
            if (!ok || !AppendMarkerBuilt(m_fs, path)) {
                LeaveAlone(entry, u"上次迁移的数据库未能完成: " + path);
                return false;
            }
            m_nResult = 0;
            Log(u"数据未能全部迁移, 原数据库保留为: " + marker.strKeptPath);
            EnterCleanUp(n, entry, marker);
            return false;
        }
    }
    return true;
}

void MigrationRun::EnterCleanUp(int n, DbEntry& entry, const MigrationMarker& marker) {
    Log(u"数据库" + entry.strDbName + u"上次已迁移完成, 清理剩余文件");
    entry.state = DbState::kCleanUp;
    // Finished by an older script, it is still behind this one: the run that cleans up
    // after it cannot call the migration done. The next run takes it on from there.
    int bComparable = 0;
    const int nOrder =
        engine::CompareVersion(marker.strTargetVersion, entry.strTargetVersion, bComparable);
    if (marker.strTargetVersion != entry.strTargetVersion && (nOrder < 0 || bComparable == 0)) {
        m_nResult = 0;
        Log(u"数据库" + entry.strDbName + u"上次迁移到 " + marker.strTargetVersion +
            u", 还需迁移到 " + entry.strTargetVersion + u", 请再次运行数据迁移");
    }
    for (const auto& [source, table] : marker.carried) {
        std::string stamp;
        for (const auto& [read, text] : marker.stamps) {
            if (read == source) stamp = text;
        }
        m_earlierCarried.emplace_back(n, source, table, stamp);
    }
    if (!m_fs.Exists(entry.TmpPath())) return;
    // Its old file may still be another database's source of rows, and goes only when every
    // table of it that holds rows is known to be somewhere.
    entry.strOldPath = entry.TmpPath();
    entry.pOldDb = std::make_unique<CDBConnection>();
    std::vector<WString> tables;
    if (entry.pOldDb->OpenExisting(entry.strOldPath) == 0 ||
        entry.pOldDb->TablesWithRows(tables) == 0) {
        entry.pOldDb.reset();
        m_unreadableOld.insert(&entry);
    }
    m_ledger.AddSource(entry.strFilePath, 0, tables);
    if (wstr::EqualsNoCase(entry.strDbName, kUserDataName)) m_nUserDat = n;
}

void MigrationRun::StartBuild(int n, DbEntry& entry) {
    const WString& path = entry.strFilePath;
    if (entry.bHadFile) {
        // What the file looks like before anything of it is read: at the swap, any other
        // look means a client wrote to it meanwhile.
        entry.pOldDb = std::make_unique<CDBConnection>();
        std::vector<WString> tables;
        if (!m_fs.Stamp(path, entry.oldStamp) || entry.pOldDb->OpenExisting(path) == 0 ||
            !IsReadable(*entry.pOldDb) || entry.pOldDb->TablesWithRows(tables) == 0) {
            LeaveAlone(entry, u"原数据库无法读取, 不迁移: " + path + u" (" +
                                  entry.pOldDb->LastError() + u")");
            return;
        }
        entry.strOldPath = path;
        m_ledger.AddSource(entry.strFilePath, n, tables);
    }
    if (!WriteMarker(m_fs, path, entry.strTargetVersion, entry.bHadFile)) {
        LeaveAlone(entry, WithReason(u"无法写入迁移标记, 不迁移此数据库: " + MarkerPath(path)));
        return;
    }
    // Made empty here, through the file system the run works with; SQLite opens it.
    if (!m_fs.WriteDurably(entry.NewPath(), std::string()) ||
        entry.pDb->OpenDatabase(entry.NewPath()) == 0 ||
        (entry.pOldDb && entry.pDb->UseEncodingOf(*entry.pOldDb) == 0)) {
        // The database stays where and as it was.
        RemoveMarker(m_fs, path);
        m_fs.Remove(entry.NewPath());
        LeaveAlone(entry, WithReason(u"无法创建新数据库, 数据库保持原样: " + path));
        return;
    }
    if (entry.bHadFile && !m_fs.CopyOwnership(path, entry.NewPath())) {
        Log(WithReason(u"新数据库无法取得原数据库的权限: " + entry.NewPath()));
    }
    // Nothing in the new file is the only copy of anything until it has the path, and it
    // is synced before that (Finalize): until then a power cut costs only the build.
    entry.pDb->DeferSyncs();
    entry.state = DbState::kBuilding;
    if (wstr::EqualsNoCase(entry.strDbName, kUserDataName) && entry.pOldDb) m_nUserDat = n;
    m_process.Progress(u"迁移数据库 " + entry.strDbName + u" (" +
                       (entry.strCurVersion.empty() ? WString(u"无版本") : entry.strCurVersion) +
                       u" -> " + entry.strTargetVersion + u")");
}

void MigrationRun::OpenExtraSource() {
    if (m_dataFiles.empty()) return;
    m_strExtraPath = m_strDataDir + u"\\" + m_dataFiles.front();
    m_bExtraStamped = m_fs.Stamp(m_strExtraPath, m_extraStamp);
    m_bExtraOpen = m_extra.OpenExisting(m_strExtraPath) == 1;
    std::vector<WString> tables;
    // A file SQLite cannot read would give no rows and then be deleted: leave it be.
    if (m_bExtraOpen && (!IsReadable(m_extra) || m_extra.TablesWithRows(tables) == 0)) {
        m_extra.Close();
        m_bExtraOpen = false;
        Log(u"数据文件无法读取, 不使用也不删除: " + m_strExtraPath);
    }
    if (m_bExtraOpen) m_ledger.AddSource(m_strExtraPath, 0, tables);
}

bool MigrationRun::IsDue(const DbEntry& entry, const ScriptItem& item) const {
    if (entry.strCurVersion.empty()) return true;
    int bComparable = 0;
    int nOrder = engine::CompareVersion(entry.strCurVersion, item.strVersion, bComparable);
    return nOrder < 0 || bComparable == 0;
}

CDBConnection* MigrationRun::UserDataSource(WString& path) const {
    if (m_nUserDat == 0) return nullptr;
    const DbEntry& entry = *m_databases.at(m_nUserDat);
    path = entry.strOldPath;
    return entry.pOldDb.get();
}

void MigrationRun::ApplyItems() {
    m_script.Rewind();
    ScriptItem item;
    while (m_script.ReadItem(item)) {
        const int nLine = m_script.GetItemLine();
        auto found = m_databases.find(item.nDbIndex);
        if (found == m_databases.end() || !found->second) continue;
        DbEntry& entry = *found->second;
        if (entry.state != DbState::kBuilding) continue;
        CDBConnection& db = *entry.pDb;
        const int n = found->first;
        const WString where = u"升级脚本第" + wstr::FromInt(nLine) + u"行的项目失败";
        using Outcome = MigrationObserver::ItemOutcome;
        auto report = [&](Outcome outcome) {
            Report().OnItem(n, item, nLine, outcome,
                            outcome == Outcome::kFailed ? db.LastError() : WString());
        };

        switch (item.nType) {
            case ITEM_TABLE:
                ApplyTable(n, entry, item, nLine);
                break;
            case ITEM_ALTER:
                if (item.strName.empty() || item.strColumn.empty()) break;
                if (db.ColumnExists(item.strName, item.strColumn) == 1) {
                    report(Outcome::kPresent);
                } else if (db.AddColumn(item.strName, item.strColumn, item.strSql) == 0) {
                    m_nResult = 0;
                    Log(where + u": ALTER " + item.strName + u"," + item.strColumn);
                    report(Outcome::kFailed);
                } else {
                    report(Outcome::kDone);
                }
                break;
            case ITEM_TRIGGER:
                if (db.TriggerExists(item.strName) == 1) {
                    report(Outcome::kPresent);
                } else if (db.CreateTrigger(item.strSql) == 0) {
                    m_nResult = 0;
                    Log(where + u": TRIGGER " + item.strName);
                    report(Outcome::kFailed);
                } else {
                    report(Outcome::kDone);
                }
                break;
            case ITEM_SQLONE:
                // All or nothing: half an item (a DELETE whose INSERT failed) loses rows.
                if (!IsDue(entry, item)) {
                    report(Outcome::kNotDue);
                } else if (db.ExecuteWhole(item.strSql) == 0) {
                    Log(Format(u"DBExecute SQL Failed! :%s \n", item.strVersion));
                    Log(where);
                    report(Outcome::kFailed);
                } else {
                    report(Outcome::kDone);
                }
                break;
            case ITEM_SQLTWO: {
                // The other database's rows as they were before this run: its old file.
                WString strOther;
                auto ref = m_databases.find(item.nRefDbIndex);
                if (ref != m_databases.end() && ref->second) {
                    strOther = ref->second->strOldPath.empty() ? ref->second->strFilePath
                                                               : ref->second->strOldPath;
                }
                if (strOther.empty()) break;
                if (!IsDue(entry, item)) {
                    report(Outcome::kNotDue);
                } else if (db.ExecuteWithAttached(strOther, item.strSql) == 0) {
                    Log(Format(u"DBExecute TWOSQL Failed! :%s \n", item.strVersion));
                    Log(where);
                    report(Outcome::kFailed);
                } else {
                    report(Outcome::kDone);
                }
                break;
            }
            default:
                break;
        }
    }
}

void MigrationRun::ApplyTable(int n, DbEntry& entry, const ScriptItem& item, int nLine) {
    CDBConnection& db = *entry.pDb;
    using Outcome = MigrationObserver::ItemOutcome;
    if (db.TableExists(item.strName)) {
        Report().OnItem(n, item, nLine, Outcome::kPresent, WString());
        return;
    }
    const WString where =
        u"升级脚本第" + wstr::FromInt(nLine) + u"行的项目失败: TABLE " + item.strName;

    // The rows come from the database's own old file, else from the shared "vuserdat"
    // file, else from the extra data file: the first that has the table. `strSource` is
    // the file to read, `strSourceKey` the name the ledger knows it by.
    WString strSource;
    WString strSourceKey;
    WString userDataPath;
    CDBConnection* userData = UserDataSource(userDataPath);
    if (entry.pOldDb && entry.pOldDb->TableExists(item.strName)) {
        strSource = entry.strOldPath;
        strSourceKey = entry.strFilePath;
    } else if (userData != nullptr && userData->TableExists(item.strName)) {
        strSource = userDataPath;
        strSourceKey = m_databases.at(m_nUserDat)->strFilePath;
    } else if (m_bExtraOpen && m_extra.TableExists(item.strName)) {
        strSource = m_strExtraPath;
        strSourceKey = m_strExtraPath;
    }

    // Indexes the source lacks would make the copy insert row by row: they are made once
    // the rows are in.
    std::vector<WString> deferred;
    if (db.ExecuteDeferringIndexes(item.strSql, item.strName, strSource, deferred) == 0) {
        // The old table's rows, if it had any, are not carried: the ledger keeps the
        // database as it is.
        m_nResult = 0;
        Log(where);
        Report().OnItem(n, item, nLine, Outcome::kFailed, db.LastError());
        return;
    }
    if (strSource.empty()) {
        Report().OnItem(n, item, nLine, Outcome::kDone, WString());
        Report().OnTable(n, item.strName, WString(), 0, 0);
        return;
    }
    bool ok = db.CopyTableFrom(strSource, item.strName) == 1;
    if (!ok) Log(Format(u"CopyTableToFile Failed! :%s \n", item.strName));
    for (size_t i = 0; ok && i < deferred.size(); ++i)
        ok = db.ExecuteAnsi(deferred[i]) == 1;
    Report().OnTable(n, item.strName, strSource, db.SourceRows(), db.CopiedRows());
    if (!ok) {
        entry.bBuildFailed = true;
        m_nResult = 0;
        Log(where);
        Report().OnItem(n, item, nLine, Outcome::kFailed, db.LastError());
        return;
    }
    Report().OnItem(n, item, nLine, Outcome::kDone, WString());
    m_ledger.Carried(strSourceKey, item.strName, n);
    m_process.Progress(u"  表 " + item.strName + u": " + wstr::FromInt(db.CopiedRows()) + u" 行");
}

void MigrationRun::FinishBuilds() {
    std::set<int> replaceable;
    for (auto& [n, pEntry] : m_databases) {
        if (!pEntry || pEntry->state != DbState::kBuilding) continue;
        DbEntry& entry = *pEntry;
        // The sources are renamed or deleted from here on; Windows refuses both for a file
        // that is open.
        entry.pDb->DetachSources();
        if (entry.bBuildFailed) {
            Discard(entry, u"数据未能完整复制到新数据库: " + entry.strFilePath);
            continue;
        }
        // A version that cannot be recorded would have every later run migrate again, and
        // run every data item again.
        if (entry.pDb->SetTableVersion(kVersionTable, entry.strTargetVersion) == 0) {
            Discard(entry, u"新数据库的版本号无法写入: " + entry.strFilePath);
            continue;
        }
        replaceable.insert(n);
    }
    std::set<int> finalized;
    for (bool changed = true; changed;) {
        changed = false;
        std::vector<std::pair<int, WString>> left;
        m_ledger.Settle(replaceable, left);
        std::set<int> dropped;
        for (const auto& [n, table] : left) {
            DbEntry& entry = *m_databases.at(n);
            Log(u"表" + table + u"的数据没有迁移到新数据库: " + entry.strFilePath);
            Report().OnLeftBehind(n, table);
            dropped.insert(n);
        }
        for (int n : dropped) {
            Discard(*m_databases.at(n),
                    u"原数据库有数据没有迁移, 不替换: " + m_databases.at(n)->strFilePath);
            finalized.erase(n);
        }
        for (int n : replaceable) {
            if (finalized.count(n) != 0) continue;
            if (Finalize(n, *m_databases.at(n))) {
                finalized.insert(n);
            } else {
                replaceable.erase(n);
                changed = true;
                break;
            }
        }
    }
    for (int n : replaceable)
        m_databases.at(n)->state = DbState::kBuilt;
}

// Puts the new file on the disk, whole and durable, and says so in the marker.
bool MigrationRun::Finalize(int n, DbEntry& entry) {
    CDBConnection& db = *entry.pDb;
    const bool ok = db.UseDurableCommits() == 1 && db.SyncToDisk() == 1;
    db.Close();
    // What it took from where, so that a run that finishes after a crash knows whether an
    // old file or the extra file may go.
    if (!ok || !m_fs.SyncDirectory(plat::FolderOf(entry.NewPath())) ||
        !AppendMarkerBuilt(m_fs, entry.strFilePath, m_ledger.CarriedInto(n), SourceStamps())) {
        Discard(entry, WithReason(u"新数据库未能写入磁盘: " + entry.NewPath()));
        return false;
    }
    return true;
}

void MigrationRun::Swap(DbEntry& entry) {
    const WString& path = entry.strFilePath;
    plat::MoveOutcome moved = plat::MoveOutcome::kFailed;
    if (entry.bHadFile) {
        WString detail;
        if (db::SettleDatabaseFile(path, detail) != db::FileRest::kAtRest) {
            Discard(entry, u"数据库正被其他程序使用, 不替换: " + path + u" (" + detail + u")");
            return;
        }
        Log(u"rename to tmp");
        moved = m_fs.SwapIfUnused(path, entry.NewPath(), entry.TmpPath(), &entry.oldStamp);
        switch (moved) {
            case plat::MoveOutcome::kMoved:
                Log(u"原数据库移至: " + entry.TmpPath());
                break;
            case plat::MoveOutcome::kInUse:
                Discard(entry, u"数据库正被其他程序打开, 不替换: " + path);
                return;
            case plat::MoveOutcome::kUnverified:
                Discard(entry, u"无法确认数据库没有被其他程序打开, 不替换: " + path);
                return;
            case plat::MoveOutcome::kChanged:
                Discard(entry, u"数据库在迁移过程中被其他程序修改, 不替换: " + path);
                return;
            case plat::MoveOutcome::kFailed: {
                const WString reason = WithReason(u"数据库无法改名, 不替换: " + path);
                plat::FileId atPath;
                plat::FileId atTmp;
                const bool oldAtPath = m_fs.Identity(path, atPath) && atPath == entry.oldStamp.id;
                const bool oldAtTmp =
                    m_fs.Identity(entry.TmpPath(), atTmp) && atTmp == entry.oldStamp.id;
                if (!oldAtTmp || oldAtPath) {
                    // Nothing moved; a second name the swap gave the old file goes.
                    if (oldAtTmp) m_fs.Remove(entry.TmpPath());
                    Discard(entry, reason);
                    return;
                }
                // Where the swap takes two moves, the old file left and the new one did
                // not follow.
                Log(u"原数据库移至: " + entry.TmpPath());
                break;
            }
        }
    } else if (m_fs.Exists(path)) {
        Discard(entry, u"迁移过程中出现了新的数据库文件, 不替换: " + path);
        return;
    } else {
        moved = m_fs.MoveIfUnused(entry.NewPath(), path, nullptr);
    }
    if (moved != plat::MoveOutcome::kMoved && m_fs.Exists(path)) {
        // A client made a file at the empty path in that instant.
        WString kept;
        if (KeepAside(path, path, u".partial", kept)) {
            Log(u"迁移过程中出现的文件保留为: " + kept);
            moved = m_fs.MoveIfUnused(entry.NewPath(), path, nullptr);
        }
    }
    if (moved != plat::MoveOutcome::kMoved) {
        // The marker says "built": the next run gives the new file the path.
        entry.state = DbState::kLeftAlone;
        m_bLeftBehind = true;
        m_nResult = 0;
        Log(WithReason(u"新数据库无法改名: " + entry.NewPath()));
        return;
    }
    m_fs.SyncDirectory(plat::FolderOf(path));
    entry.state = DbState::kReplaced;
    if (entry.bHadFile) entry.strOldPath = entry.TmpPath();
}

void MigrationRun::CleanUp() {
    bool bAllDone = !m_bLeftBehind;
    // The databases whose new files have their paths, in this run or an earlier one.
    std::set<int> done;
    for (auto& [n, pEntry] : m_databases) {
        if (!pEntry) continue;
        if (pEntry->state == DbState::kReplaced || pEntry->state == DbState::kCleanUp) {
            done.insert(n);
        }
        if (pEntry->state != DbState::kUpToDate && pEntry->state != DbState::kReplaced &&
            pEntry->state != DbState::kCleanUp) {
            bAllDone = false;
        }
    }
    if (!bAllDone) {
        // Every old file and marker stays: the next run completes what is missing, taking
        // rows from them where it needs.
        m_nResult = 0;
        Log(u"有数据库未迁移, 已迁移数据库的原文件保留到它迁移完成");
        if (m_bExtraOpen) {
            m_extra.Close();
            Log(u"迁移未完成, 数据文件保留: " + m_strExtraPath);
        }
        return;
    }
    // The extra file goes before the markers: once they are gone, no run would remove it.
    if (m_bExtraOpen) {
        m_extra.Close();
        const std::vector<WString> left = m_ledger.Uncarried(m_strExtraPath, done);
        if (left.empty()) {
            RemoveExtraFile();
        } else {
            for (const WString& table : left)
                Log(u"数据文件中表" + table + u"的数据没有迁移, 数据文件保留: " + m_strExtraPath);
        }
    }
    for (auto& [n, pEntry] : m_databases) {
        if (pEntry && (pEntry->state == DbState::kReplaced || pEntry->state == DbState::kCleanUp)) {
            RemoveOldFile(*pEntry, done);
        }
    }
}

// A run cut off while it deleted the extra file, whose rows it had all carried, leaves it
// under its leaving name, with the markers that say it was carried (they go after it).
// Nothing else of that name is touched: not one the script names, not one no marker explains.
void MigrationRun::RemoveExtraFileLeftBehind(const WString& dataFiles) {
    std::set<WString> carried;
    for (const auto& [n, source, table, stamp] : m_earlierCarried)
        carried.insert(source);
    if (carried.empty()) return;
    const std::vector<WString> names = engine::SplitDataFiles(dataFiles);
    for (const WString& name : names) {
        const WString path = m_strDataDir + u"\\" + name;
        const WString leaving = path + kExtraLeaving;
        if (name.empty() || carried.count(path) == 0 || !m_fs.Exists(leaving)) continue;
        bool bNamed = IsListedDatabase(leaving);
        for (const WString& other : names) {
            if (wstr::EqualsNoCase(other, name + kExtraLeaving)) bNamed = true;
        }
        if (bNamed) continue;
        Log(u"删除上次迁移未删完的数据文件: " + leaving);
        if (!m_fs.Remove(leaving)) Log(WithReason(u"无法删除: " + leaving));
    }
}

// Only the file whose rows were read goes: one the client wrote or holds open since is kept.
// It leaves its name first, so that nothing but that file can be deleted.
void MigrationRun::RemoveExtraFile() {
    const WString leaving = m_strExtraPath + kExtraLeaving;
    const plat::MoveOutcome moved = m_bExtraStamped
                                        ? m_fs.MoveIfUnused(m_strExtraPath, leaving, &m_extraStamp)
                                        : plat::MoveOutcome::kChanged;
    if (moved == plat::MoveOutcome::kMoved) {
        if (!m_fs.Remove(leaving)) Log(WithReason(u"无法删除: " + leaving));
    } else if (moved == plat::MoveOutcome::kFailed) {
        Log(WithReason(u"无法删除: " + m_strExtraPath));
    } else {
        Log(u"数据文件在迁移期间被使用或修改, 保留: " + m_strExtraPath);
    }
}

void MigrationRun::RemoveOldFile(DbEntry& entry, const std::set<int>& done) {
    const WString tmp = entry.TmpPath();
    if (m_fs.Exists(tmp)) {
        bool keep = false;
        if (entry.state == DbState::kCleanUp) {
            // The run that built the new file carried this old file's tables: into the new
            // file itself, or into other databases, as their markers say. A table that is in
            // neither (an older run's marker says nothing of other databases; another
            // database has not taken its rows yet) keeps the old file.
            keep = m_unreadableOld.count(&entry) != 0;
            CDBConnection now;
            const bool bNow = now.OpenExisting(entry.strFilePath) == 1;
            for (const WString& table : m_ledger.Uncarried(entry.strFilePath, done)) {
                if (bNow && now.TableExists(table) == 1) continue;
                Log(u"表" + table + u"的数据没有迁移到新数据库: " + tmp);
                keep = true;
            }
        }
        if (keep) {
            WString kept;
            Log(u"数据未能全部迁移, 原数据库保留为: " +
                (KeepAside(tmp, entry.strFilePath, u".bak", kept) ? kept : tmp));
            if (kept.empty()) return;
            m_nResult = 0;
        } else if (!m_fs.Remove(tmp)) {
            // The marker stays, so that the next run removes it rather than keep it.
            Log(WithReason(u"无法删除: " + tmp));
            return;
        }
        m_fs.SyncDirectory(plat::FolderOf(tmp));
    }
    if (!RemoveMarker(m_fs, entry.strFilePath)) {
        Log(WithReason(u"无法删除: " + MarkerPath(entry.strFilePath)));
    }
}
