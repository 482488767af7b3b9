// The version block of an executable and the two texts the program reads from it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/wstr.h"

// Reads the whole version block of one executable when it is made; the texts are then
// looked up in the string table named by the translation key ("080403A8": Chinese (PRC),
// code page 936). A missing file, or one without a version block, gives empty texts.
class CExecImageVersion {
public:
    CExecImageVersion(const WString& strFilePath, const WString& strTranslation);
    virtual ~CExecImageVersion();
    CExecImageVersion(const CExecImageVersion&) = delete;
    CExecImageVersion& operator=(const CExecImageVersion&) = delete;

    // "FileVersion" and "ProductVersion" of the string table; empty when the block was not
    // read or holds no such value.
    WString GetFileVersion() const;
    WString GetProductVersion() const;

    // 1 when the block was read, 0 otherwise.
    int IsValid() const { return m_bValid; }

private:
    WString QueryString(WStringView name) const;

    WString m_strFilePath;
    std::vector<uint8_t> m_block;
    WString m_strTranslation;
    int32_t m_bValid = 1;
};
