// The application: start-up, the run mode, and the one engine object of the process.
#pragma once

#include <memory>
#include <vector>

#include "engine/db_process.h"
#include "platform/wstr.h"

class CAdjustSystemInfo;
class CMainDialog;

class CQuorvelApp {
public:
    CQuorvelApp();
    virtual ~CQuorvelApp();
    CQuorvelApp(const CQuorvelApp&) = delete;
    CQuorvelApp& operator=(const CQuorvelApp&) = delete;

    // The whole run: parses the command line, fixes the run mode, discovers the
    // installation, chooses the data folder, then creates the main dialog and runs it until
    // it closes (a silent run migrates while the dialog is created). Always 0 (FALSE): the
    // process ends when it returns.
    virtual int InitInstance();
    // The process's exit status. A silent run ends with 0 when its migration ended with
    // "数据迁移成功！" or found every database the script lists already at (or past) its
    // version, and 1 otherwise, so that an installer can act on it; an interactive run
    // ends with 0. A run refused at its start (an unusable QUORVEL_CODEPAGE, an
    // installation folder no program path can name) ends with 1 either way.
    virtual int ExitInstance();

    // Writable data folder chosen at start-up; empty when none was usable.
    WString m_strDataDir;
    // Folder of the running executable, without a trailing backslash.
    WString m_strInstallDir;
    CDBProcess m_dbProcess;
    // 1 when the process was started with a show command greater than 0.
    int m_bStartVisible = 1;
    // 1 for an interactive run, 0 for a silent one; fixed for the whole run.
    int m_bInteractive = 1;

protected:
    // What the system hands a starting program, and the objects start-up makes. Tests
    // replace them. (Named apart from the Win32 macros GetModuleFileName, CreateDialog.)
    virtual std::vector<WString> GetCommandLineArguments();
    virtual int GetStartShowCommand();
    virtual WString GetExecutablePath();
    virtual std::unique_ptr<CAdjustSystemInfo> CreateAdjustment(const WString& strInstallDir);
    virtual std::unique_ptr<CMainDialog> MakeMainDialog();

private:
    // Ends start-up before anything is read: shows `strMessage` (in a silent run too) and
    // makes the exit status 1. Returns InitInstance's result.
    int Refuse(const WString& strMessage);

    int m_nExitCode = 0;
};
