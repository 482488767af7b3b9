// Discovery of what is installed beside the program: the client's version texts and the
// upgrade script. The operations themselves are CDBProcess::LoadInstallInfo and
// CDBProcess::FindScriptFile (engine/db_process.h), defined in install_info.cpp.
#pragma once

#include "platform/wstr.h"

namespace install {

// The text the dialog shows for a version nobody has read yet.
constexpr char16_t kUnknownVersion[] = u"未知的版本";
// The client executable, below the installation folder.
constexpr char16_t kClientExe[] = u"\\vennic.exe";
// The string table of the client's version block: Chinese (PRC), code page 936.
constexpr char16_t kTranslation[] = u"080403A8";
constexpr char16_t kDbName[] = u"DB.s3db";

// The client's sub-version from its FileVersion text: the text upper-cased, then only what
// follows its last "V" when it holds one ("8.0.0V1203" gives "1203", "8.0.0.0" stays
// "8.0.0.0", "ver8.0.1" gives "ER8.0.1").
WString SubVersionFromFileVersion(WStringView fileVersion);

}  // namespace install
