#include "app/exec_image_version.h"

#include "platform/version.h"

CExecImageVersion::CExecImageVersion(const WString& strFilePath, const WString& strTranslation)
    : m_strFilePath(strFilePath), m_strTranslation(strTranslation) {
    // The block stays with the object even when it could not be read; queries then see
    // the flag and answer with empty texts.
    if (!plat::ReadFileVersionBlock(m_strFilePath, m_block) || m_block.empty()) m_bValid = 0;
}

CExecImageVersion::~CExecImageVersion() = default;

WString CExecImageVersion::GetFileVersion() const { return QueryString(u"FileVersion"); }

WString CExecImageVersion::GetProductVersion() const { return QueryString(u"ProductVersion"); }

WString CExecImageVersion::QueryString(WStringView name) const {
    WString value;
    if (!m_bValid) return value;
    const WString subBlock = u"\\StringFileInfo\\" + m_strTranslation + u"\\" + WString(name);
    // A block without the table or the key answers with an empty text, as an unreadable
    // block does.
    plat::QueryVersionValue(m_block, subBlock, value);
    return value;
}
