#include "app/command_line.h"

void DbCommandLineInfo::ParseParam(const WString& param, bool bFlag, bool /*bLast*/) {
    // The framework's own switches and file names are deliberately not interpreted: an
    // installer's "/from <version>" or a stray file name must not open or print anything.
    if (bFlag && param == u"S") m_bShowWindow = 0;
}

void ParseCommandLine(const std::vector<WString>& arguments, DbCommandLineInfo& info) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const WString& argument = arguments[i];
        const bool bFlag = !argument.empty() && (argument[0] == u'/' || argument[0] == u'-');
        info.ParseParam(bFlag ? argument.substr(1) : argument, bFlag, i + 1 == arguments.size());
    }
}
