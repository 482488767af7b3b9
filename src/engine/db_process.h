// The migration engine: what start-up learned about the installation, the open upgrade
// script, the database list, and one whole migration run.
#pragma once

#include <functional>
#include <vector>

#include "engine/database_entry.h"
#include "platform/file_system.h"
#include "platform/wstr.h"
#include "script/script_file.h"

#include <cstdint>

// How a run ended, for the application to present: the engine shows nothing itself.
struct MigrationOutcome {
    // 1 when every schema step succeeded and no data was left behind, else 0.
    int nResult = 0;
    // The message of a check that stopped the run before any database was touched
    // ("没有升级脚本", "主程序版本号不对，迁移失败！", ...); empty when the run got past its
    // checks. Not yet logged: presenting it logs it.
    WString strMessage;
    // The message must reach the user even in a silent run (the script disappeared).
    bool bAlwaysShow = false;
    // Nothing was behind: every database the script lists is at or past its version.
    bool bUpToDate = false;
};

// What a run did, step by step, for a caller that reports on it (dbrtool's rehearsal).
// Every method does nothing unless overridden; all are called on the thread of the run.
class MigrationObserver {
public:
    virtual ~MigrationObserver() = default;

    enum class ItemOutcome {
        kDone,     // it ran (a TABLE item: the table was made, its rows copied)
        kNotDue,   // a data item for versions the database had already reached
        kPresent,  // what it makes was there already (a table, a column, a trigger)
        kFailed,   // it failed; `error` says how
    };
    // An item of the script for a database whose new file is being built; `nLine` is the
    // script line it begins on.
    virtual void OnItem(int /*nDb*/, const ScriptItem& /*item*/, int /*nLine*/,
                        ItemOutcome /*outcome*/, const WString& /*error*/) {}
    // A table a TABLE item made: the file its rows came from (empty: none had it), the
    // rows that file held and the rows the new table got.
    virtual void OnTable(int /*nDb*/, const WString& /*table*/, const WString& /*source*/,
                         int64_t /*sourceRows*/, int64_t /*copiedRows*/) {}
    // A table of a database's old file that holds rows no replaced database took.
    virtual void OnLeftBehind(int /*nDb*/, const WString& /*table*/) {}
    // Once per listed database at the end of the run: the state it ended in, with the
    // version it had (entry.strCurVersion) and why it was left alone (entry.strWhy).
    virtual void OnDatabase(int /*nDb*/, const DbEntry& /*entry*/) {}
};

// What start-up learned about the installation; the application fills it (discovery) and
// hands it over with SetInstallInfo.
struct InstallInfo {
    int bScriptFound = 0;
    WString strVersion;     // the client's ProductVersion
    WString strVersion2;    // a second version text: "未知的版本", read by nobody
    WString strScriptName;  // bare name of the script found
    WString strDbName;
    WString strInstallDir;  // no trailing backslash
    WString strSubVersion;
    int bInteractive = 1;
};

class CDBProcess {
public:
    CDBProcess() = default;
    ~CDBProcess();
    CDBProcess(const CDBProcess&) = delete;
    CDBProcess& operator=(const CDBProcess&) = delete;

    // Takes what start-up learned about the installation into the fields below.
    void SetInstallInfo(const InstallInfo& info) {
        m_bScriptFound = info.bScriptFound;
        m_strVersion = info.strVersion;
        m_strVersion2 = info.strVersion2;
        m_strScriptName = info.strScriptName;
        m_strDbName = info.strDbName;
        m_strInstallDir = info.strInstallDir;
        m_strSubVersion = info.strSubVersion;
        m_bInteractive = info.bInteractive;
    }

    // One whole migration run. Its result is 1 when every schema step succeeded and no
    // data was left behind, 0 otherwise; every step is logged, and a check that stops the
    // run hands back its message for the caller to present.
    //
    // Only one run works in a data folder at a time: a run holds a lock there from its
    // first look at the databases to its last clean-up, and a second one waits for it
    // (SetRunLockWait) before it gives up.
    MigrationOutcome Migrate();

    // Replaces the database list with the open script's databases below `baseFolder`,
    // creating their sub-folders; leaves it alone when no script is open.
    void LoadDatabaseList(const WString& baseFolder);
    void ClearDatabaseList();
    // The names of the comma-separated `list` that exist as files in `folder`, in order.
    std::vector<WString> CollectDataFiles(const WString& list, const WString& folder);
    void WriteUpdateRecord(const WString& folder, const WString& time);

    // Receives one line per step a user may want to watch (a database being migrated, a
    // table copied with its row count). Unset in silent runs.
    using ProgressFunction = std::function<void(const WString& line)>;
    void SetProgress(ProgressFunction progress) { m_fnProgress = std::move(progress); }

    // Told what each run does; null (the default) for nobody. Not owned.
    void SetObserver(MigrationObserver* observer) { m_pObserver = observer; }
    // The file system the run works through (the disk unless a test stands in for it).
    void SetFileSystem(plat::FileSystem& fs) { m_pFs = &fs; }
    // How long a run waits for another run of the same data folder to end; 30 s unless set.
    void SetRunLockWait(int milliseconds) { m_nRunLockWaitMs = milliseconds; }

    // Filled by SetInstallInfo; the dialog may change m_strScriptName between runs.
    int m_bScriptFound = 0;
    WString m_strVersion;
    WString m_strVersion2;  // a second version text; set to "未知的版本" and read by nobody
    WString m_strScriptName;
    WString m_strDbName;
    WString m_strInstallDir;
    WString m_strSubVersion;
    int m_bInteractive = 1;
    // The writable data folder start-up chose; empty: the installation folder serves.
    WString m_strDataDir;

    CScriptFile m_scriptFile;
    DatabaseMap m_mapDatabases;

private:
    friend class MigrationRun;
    void Progress(const WString& line) const;

    ProgressFunction m_fnProgress;
    MigrationObserver* m_pObserver = nullptr;
    plat::FileSystem* m_pFs = &plat::Disk();
    int m_nRunLockWaitMs = 30000;
};
