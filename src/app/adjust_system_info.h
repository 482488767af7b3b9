// The choice of a folder the program can really write its files into.
//
// The client is normally installed below a protected system folder. On Windows 7 a
// process without administrator rights that writes there has its writes redirected into a
// per-user mirror of the folder ("VirtualStore" in the local application-data folder),
// where the client then finds its files. So start-up asks, once, for the data folder: the
// installation folder when it is writable, else on Windows 7 the mirror of it, else a
// folder "Vennic" in the local application-data folder.
#pragma once

#include <functional>
#include <memory>

#include "platform/file_system.h"
#include "platform/wstr.h"

// What the choice asks of the system. Each defaults to the platform's own answer; tests
// put in answers of their own.
struct AdjustSystemCalls {
    // GetVersionExW: false when the system gives no version.
    std::function<bool(unsigned& major, unsigned& minor)> systemVersion;
    // SHGetSpecialFolderPathW(CSIDL_LOCAL_APPDATA): false when there is none.
    std::function<bool(WString& folder)> localAppDataFolder;
    // GetModuleFileNameW: the running executable's full path.
    std::function<WString()> modulePath;
    // The file system it probes and makes folders in (not owned): the disk unless set.
    plat::FileSystem* fs = nullptr;

    // Fills every empty function with the platform's.
    AdjustSystemCalls& WithDefaults();
};

// Any system: the installation folder when a file can be created in it.
class CAdjustSystemInfo {
public:
    explicit CAdjustSystemInfo(WString strInstallDir, AdjustSystemCalls calls = {});
    virtual ~CAdjustSystemInfo();
    CAdjustSystemInfo(const CAdjustSystemInfo&) = delete;
    CAdjustSystemInfo& operator=(const CAdjustSystemInfo&) = delete;

    // Puts the chosen folder (no trailing backslash) into `strDir`. Returns 1 when it is
    // usable, 0 when not; the folder tested is delivered either way.
    virtual int GetDataDir(WString& strDir);

protected:
    // The folder of the running executable; the whole path when it holds no backslash
    // after its first character.
    WString GetModuleDir() const;
    // 1 when the file `path` can be created (it is then deleted again), 0 otherwise.
    int TestCreateFile(const WString& path) const;

    WString m_strInstallDir;
    AdjustSystemCalls m_calls;
};

// Windows 7: when the installation folder is not writable, the virtual-store mirror of it,
// else "<local application data>\Vennic", made when missing.
class CAdjustWin7Info : public CAdjustSystemInfo {
public:
    explicit CAdjustWin7Info(WString strInstallDir, AdjustSystemCalls calls = {});

    int GetDataDir(WString& strDir) override;

private:
    // Writes a probe file into the installation folder and deletes it: the system
    // redirects the write and creates the mirror folder on the way.
    void MakeVirtualStoreDir();
};

// 1 for the versions Windows 7 reports (6.1, and 7 or later with a minor version other
// than 0), 0 for every other version and when the system gives none.
int IsWin7System(const AdjustSystemCalls& calls = {});

// A CAdjustWin7Info on Windows 7, a CAdjustSystemInfo elsewhere. The caller owns it.
std::unique_ptr<CAdjustSystemInfo> CreateAdjustSystemInfo(const WString& strInstallDir,
                                                          const AdjustSystemCalls& calls = {});
