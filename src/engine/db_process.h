// The migration engine: what start-up learned about the installation, the open upgrade
// script, the database list, and one whole migration run.
#pragma once

#include <functional>
#include <vector>

#include "platform/wstr.h"
#include "script/database_list.h"
#include "script/script_file.h"

class CDBConnection;
struct MigrationMarker;

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

class CDBProcess {
public:
    CDBProcess() = default;
    ~CDBProcess() { ClearDatabaseList(); }
    CDBProcess(const CDBProcess&) = delete;
    CDBProcess& operator=(const CDBProcess&) = delete;

    // Discovery, at start-up: the client's versions from folder + "\vennic.exe" and the
    // first visible "*.dbr" of the installation folder. Always 0; nobody reads it.
    int LoadInstallInfo(int bInteractive);
    // Takes the first "*.dbr" of the installation folder that is neither hidden nor a
    // system file. Always 1.
    int FindScriptFile();

    // One whole migration run. Its result is 1 when every schema step succeeded and no
    // data was left behind, 0 otherwise; every step is logged, and a check that stops the
    // run hands back its message for the caller to present.
    MigrationOutcome Migrate();

    void LoadDatabaseList(const WString& baseFolder);
    void ClearDatabaseList();
    // The names of the comma-separated `list` that exist as files in `folder`, in order.
    std::vector<WString> CollectDataFiles(const WString& list, const WString& folder);
    void WriteUpdateRecord(const WString& folder, const WString& time);

    // Receives one line per step a user may want to watch (a database set aside, a table
    // copied with its row count). Unset in silent runs.
    using ProgressFunction = std::function<void(const WString& line)>;
    void SetProgress(ProgressFunction progress) { m_fnProgress = std::move(progress); }

    // Filled by discovery; the dialog may change m_strScriptName between runs.
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
    struct RunState;
    // What preparation does next with a database.
    enum class Start {
        kUsual,  // read its version and set it aside when it is behind
        kBuild,  // create the new file and build it
        kSkip,   // nothing: up to date, left alone, or only its clean-up is left
    };

    bool CheckScriptItems();
    void PrepareDatabases(RunState& run);
    Start ResumeDatabase(RunState& run, DbEntry& entry, const MigrationMarker& marker);
    Start SetAside(RunState& run, DbEntry& entry);
    void OpenSetAside(RunState& run, DbEntry& entry);
    bool PutAsidePartial(RunState& run, DbEntry& entry);
    void CreateNewFile(RunState& run, DbEntry& entry);
    void LeaveAlone(RunState& run, DbEntry& entry, const WString& why);
    void ApplyItems(RunState& run);
    void ApplyTableItem(RunState& run, DbEntry& entry, const ScriptItem& item);
    // Completes every database of the run: true when all are complete, so that the
    // set-aside files may go.
    bool FinishDatabases(RunState& run);
    bool CompleteDatabase(RunState& run, DbEntry& entry);
    void RemoveSetAside(RunState& run, DbEntry& entry);
    void FinishExtraSource(RunState& run);
    bool IsDue(const DbEntry& entry, const ScriptItem& item) const;
    void Progress(const WString& line) const;

    ProgressFunction m_fnProgress;
};
