#include "app/install_info.h"

#include "app/exec_image_version.h"
#include "engine/db_process.h"
#include "platform/files.h"

namespace install {

WString SubVersionFromFileVersion(WStringView fileVersion) {
    WString upper = wstr::ToUpper(fileVersion);
    const size_t v = upper.rfind(u'V');
    return v == WString::npos ? upper : upper.substr(v + 1);
}

}  // namespace install

// Start-up puts the application's installation folder into m_strInstallDir before it
// calls this; everything else discovery knows is derived from that folder.
int CDBProcess::LoadInstallInfo(int bInteractive) {
    m_bInteractive = bInteractive;
    m_bScriptFound = 0;
    m_strVersion = install::kUnknownVersion;
    m_strVersion2 = install::kUnknownVersion;
    m_strDbName = install::kDbName;

    CExecImageVersion version(m_strInstallDir + install::kClientExe, install::kTranslation);
    // A missing client, or one without a version block, gives empty texts: the dialog
    // then shows nothing rather than "未知的版本", and the driver's version check passes.
    m_strVersion = version.GetProductVersion();
    m_strSubVersion = install::SubVersionFromFileVersion(version.GetFileVersion());

    FindScriptFile();
    return 0;
}

int CDBProcess::FindScriptFile() {
    // The first by name as NTFS lists a folder, not as the disk happens to yield them:
    // a.dbr and b.dbr give the same script on every system and every file system.
    const plat::FoundFile* first = nullptr;
    const std::vector<plat::FoundFile> files = plat::FindFiles(m_strInstallDir + u"\\*.dbr");
    for (const plat::FoundFile& file : files) {
        // Only a regular file is a script: a pipe or a device would hang a silent run or
        // fill its memory, and a folder would hide a real script.
        if (!file.regular || file.hidden || file.system) continue;
        // A name no Windows file system can hold (Linux: a backslash, bytes that are not
        // UTF-8) is no script for this program, on any system.
        if (plat::HasForeignBytes(file.name)) continue;
        if (first == nullptr || wstr::CompareFileNames(file.name, first->name) < 0) first = &file;
    }
    if (first != nullptr) {
        m_strScriptName = first->name;
        m_bScriptFound = 1;
    }
    return 1;
}
