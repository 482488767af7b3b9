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
    for (const plat::FoundFile& file : plat::FindFiles(m_strInstallDir + u"\\*.dbr")) {
        // A folder that happens to match the pattern is no script; taking it would hide a
        // real script that the search yields later.
        if (file.name == u"." || file.name == u".." || file.directory) continue;
        if (file.hidden || file.system) continue;
        m_strScriptName = file.name;
        m_bScriptFound = 1;
        break;
    }
    return 1;
}
