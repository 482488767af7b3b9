#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include "platform/files.h"

ScopedTempDir::ScopedTempDir() : m_path(plat::MakeTempFolder(u"quorvel-test")) {
    EXPECT_FALSE(m_path.empty()) << "cannot create a temporary folder";
}

ScopedTempDir::~ScopedTempDir() {
    if (!m_path.empty()) plat::RemoveTree(m_path);
}

WString ScopedTempDir::Sub(WStringView name) const { return m_path + u"\\" + WString(name); }

std::string ReadFileBytes(const WString& path) {
    std::string bytes;
    plat::ReadWholeFile(path, bytes);
    return bytes;
}

void WriteFileBytes(const WString& path, std::string_view bytes) {
    plat::File file;
    ASSERT_TRUE(file.Open(path, plat::File::Mode::kCreateTruncate));
    ASSERT_TRUE(file.Write(bytes));
}
