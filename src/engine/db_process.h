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

class CDBProcess {
public:
    CDBProcess() = default;
    ~CDBProcess() { ClearDatabaseList(); }
    CDBProcess(const CDBProcess&) = delete;
    CDBProcess& operator=(const CDBProcess&) = delete;

    // Discovery, at start-up: the client's versions from folder + "\vennic.exe" and the
    // first visible "*.dbr" of the installation folder. Always 0; nobody reads it.
    int LoadInstallInfo(int bInteractive);
    // Takes the script of the installation folder: of its regular files whose names end
    // in ".dbr" (neither hidden nor system files), the first in NTFS's name order
    // (wstr::CompareFileNames). Always 1.
    int FindScriptFile();

    // One whole migration run: 1 when every schema step succeeded and no data was left
    // behind, 0 otherwise (the reason is logged, and shown through ShowResult where the
    // user must know).
    int Migrate();

    // Logs `message` and shows it in a message box of `type` when `show` is non-zero.
    void ShowResult(const WString& message, unsigned type, int show);

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
