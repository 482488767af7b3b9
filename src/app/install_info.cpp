#include "app/install_info.h"

#include <algorithm>

#include "app/exec_image_version.h"
#include "platform/files.h"

namespace install {

WString SubVersionFromFileVersion(WStringView fileVersion) {
    WString upper = wstr::ToUpper(fileVersion);
    const size_t v = upper.rfind(u'V');
    return v == WString::npos ? upper : upper.substr(v + 1);
}

std::vector<WString> VisibleScripts(const WString& folder) {
    std::vector<WString> names;
    for (const plat::FoundFile& file : plat::FindFiles(folder + u"\\*.dbr")) {
        // Only a regular file is a script: a pipe or a device would hang a silent run or
        // fill its memory, and a folder would hide a real script.
        if (file.regular && !file.hidden && !file.system) names.push_back(file.name);
    }
    // By name as NTFS lists a folder, not as the disk happens to yield them: a.dbr and
    // b.dbr come in one order on every system and every file system.
    std::stable_sort(names.begin(), names.end(), [](const WString& a, const WString& b) {
        return wstr::CompareFileNames(a, b) < 0;
    });
    return names;
}

InstallInfo LoadInstallInfo(const WString& installDir, int bInteractive) {
    InstallInfo info;
    info.bInteractive = bInteractive;
    info.strVersion2 = kUnknownVersion;
    info.strDbName = kDbName;
    info.strInstallDir = installDir;

    CExecImageVersion version(installDir + kClientExe, kTranslation);
    // A missing client, or one without a version block, gives empty texts: the dialog
    // then shows nothing rather than "未知的版本", and the driver's version check passes.
    info.strVersion = version.GetProductVersion();
    info.strSubVersion = SubVersionFromFileVersion(version.GetFileVersion());

    FindScriptFile(info);
    return info;
}

int FindScriptFile(InstallInfo& info) {
    for (const WString& name : VisibleScripts(info.strInstallDir)) {
        // A name no Windows file system can hold (Linux: a backslash, bytes that are not
        // UTF-8) is no script for this program, on any system.
        if (plat::HasForeignBytes(name)) continue;
        info.strScriptName = name;
        info.bScriptFound = 1;
        break;
    }
    return 1;
}

}  // namespace install
