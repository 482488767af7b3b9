// Discovery of what is installed beside the program: the client's version texts and the
// upgrade script. Start-up runs it once and hands what it learned to the engine
// (CDBProcess::SetInstallInfo).
#pragma once

#include <vector>

#include "engine/db_process.h"
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

// The scripts a user may pick in `folder`: the names of its regular files matching "*.dbr"
// that are neither hidden nor system files, in NTFS's name order (wstr::CompareFileNames;
// names that order alike keep the order the system yields them in).
std::vector<WString> VisibleScripts(const WString& folder);

// Discovery, at start-up: the client's versions from `installDir` + "\vennic.exe" and the
// script FindScriptFile takes. A missing client, or one without a version block, gives
// empty version texts.
InstallInfo LoadInstallInfo(const WString& installDir, int bInteractive);
// Takes the script of `info.strInstallDir`: the first of VisibleScripts whose name a
// Windows file system can hold. Sets `strScriptName` and `bScriptFound` when there is one,
// leaves both alone otherwise. Always 1.
int FindScriptFile(InstallInfo& info);

}  // namespace install
