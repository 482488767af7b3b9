#include "app/adjust_system_info.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace {

// An executable is never redirected into the virtual store: creating one tests the
// folder itself. The text file of MakeVirtualStoreDir is redirected, which is its point.
constexpr char16_t kProbeFile[] = u"\\update_tmp_.exe";
constexpr char16_t kVirtualStoreProbe[] = u"\\Update_Tmp_Tmp_.txt";
// A name taken by something else (another user's file, a link planted there) is left alone
// and the next one tried: "update_tmp_1.exe", "update_tmp_2.exe", ...
constexpr int kProbeNames = 8;

// `path` with `n` before the extension of its name.
WString NumberedName(const WString& path, int n) {
    const WString name = plat::NameOf(path);
    const size_t dot = name.rfind(u'.');
    const size_t at = path.size() - name.size() + (dot == WString::npos ? name.size() : dot);
    return path.substr(0, at) + wstr::FromInt(n) + path.substr(at);
}

}  // namespace

AdjustSystemCalls& AdjustSystemCalls::WithDefaults() {
    if (!systemVersion) systemVersion = plat::SystemVersion;
    if (!localAppDataFolder) localAppDataFolder = plat::LocalAppDataFolder;
    if (!modulePath) modulePath = plat::ExecutablePath;
    if (fs == nullptr) fs = &plat::Disk();
    return *this;
}

CAdjustSystemInfo::CAdjustSystemInfo(WString strInstallDir, AdjustSystemCalls calls)
    : m_strInstallDir(std::move(strInstallDir)), m_calls(std::move(calls.WithDefaults())) {}

CAdjustSystemInfo::~CAdjustSystemInfo() = default;

WString CAdjustSystemInfo::GetModuleDir() const {
    const WString path = m_calls.modulePath();
    const WString folder = plat::FolderOf(path);
    // A path with nothing before its name (no folder, or the root's "\name") stays whole.
    return folder.empty() ? path : folder;
}

int CAdjustSystemInfo::TestCreateFile(const WString& path) const {
    // The program may run elevated in a folder that others can write: the probe is a file
    // of its own, made new and removed by it, never one found at its name.
    for (int n = 0; n < kProbeNames; ++n) {
        switch (m_calls.fs->ProbeNewFile(n == 0 ? path : NumberedName(path, n))) {
            case plat::ProbeOutcome::kCreated:
                return 1;
            case plat::ProbeOutcome::kNameTaken:
                break;
            case plat::ProbeOutcome::kFailed:
                return 0;
        }
    }
    return 0;  // every name taken: nothing shows that the folder takes a new file
}

int CAdjustSystemInfo::GetDataDir(WString& strDir) {
    strDir = m_strInstallDir;
    if (!m_calls.fs->IsDirectory(strDir)) strDir = GetModuleDir();
    return TestCreateFile(strDir + kProbeFile);
}

CAdjustWin7Info::CAdjustWin7Info(WString strInstallDir, AdjustSystemCalls calls)
    : CAdjustSystemInfo(std::move(strInstallDir), std::move(calls)) {}

int CAdjustWin7Info::GetDataDir(WString& strDir) {
    WString strTested;
    if (CAdjustSystemInfo::GetDataDir(strTested) == 1) {
        strDir = strTested;
        return 1;
    }
    WString strAppData;
    if (!m_calls.localAppDataFolder(strAppData)) return 0;

    // The mirror keeps the folder's path without its drive ("C:"). A network path loses
    // its first two characters all the same; no mirror is found for it then, and the
    // "Vennic" folder serves.
    strDir = strAppData + u"\\VirtualStore" +
             (m_strInstallDir.size() > 2 ? m_strInstallDir.substr(2) : WString());
    plat::FileSystem& fs = *m_calls.fs;
    if (!fs.IsDirectory(strDir)) MakeVirtualStoreDir();
    if (fs.IsDirectory(strDir)) return 1;

    strDir = strAppData + u"\\Vennic";
    if (!fs.IsDirectory(strDir) && !fs.MakeDirectory(strDir)) return 0;
    return 1;
}

void CAdjustWin7Info::MakeVirtualStoreDir() {
    TestCreateFile(m_strInstallDir + kVirtualStoreProbe);
}

int IsWin7System(const AdjustSystemCalls& calls) {
    AdjustSystemCalls system = calls;
    unsigned major = 0;
    unsigned minor = 0;
    if (!system.WithDefaults().systemVersion(major, minor)) return 0;
    if (major == 6 && minor == 1) return 1;
    if (major >= 7 && minor != 0) return 1;
    return 0;
}

std::unique_ptr<CAdjustSystemInfo> CreateAdjustSystemInfo(const WString& strInstallDir,
                                                          const AdjustSystemCalls& calls) {
    if (IsWin7System(calls)) return std::make_unique<CAdjustWin7Info>(strInstallDir, calls);
    return std::make_unique<CAdjustSystemInfo>(strInstallDir, calls);
}
