// What the build put into quorvel.exe besides code: the manifest, the version block and
// the resources the dialog is made from, read from the file as Windows reads them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/resource.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/version.h"
#include "support/observe.h"
#include "support/temp_dir.h"

namespace {

// Resource types (the values of RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST).
constexpr int kRtDialog = 5;
constexpr int kRtString = 6;
constexpr int kRtGroupIcon = 14;
constexpr int kRtManifest = 24;

WString ExePath() { return plat::FromNativePath(FromUtf8(QUORVEL_EXE)); }

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

TEST(QuorvelExeTest, IsAGuiProgram) {
    // No console window opens beside the dialog: the PE header names the GUI subsystem.
    const std::string image = ReadFileBytes(ExePath());
    ASSERT_GT(image.size(), 0x40u);
    const auto byte = [&](size_t at) {
        return static_cast<uint8_t>(at < image.size() ? image[at] : 0);
    };
    const size_t pe = size_t{byte(0x3C)} | size_t{byte(0x3D)} << 8 | size_t{byte(0x3E)} << 16 |
                      size_t{byte(0x3F)} << 24;
    ASSERT_LT(pe + 4 + 20 + 70, image.size());
    ASSERT_EQ(image.compare(pe, 4, std::string("PE\0\0", 4)), 0);
    const size_t subsystem = pe + 4 + 20 + 68;  // signature, file header, optional header
    constexpr int kImageSubsystemWindowsGui = 2;
    EXPECT_EQ(byte(subsystem) | byte(subsystem + 1) << 8, kImageSubsystemWindowsGui);
}

TEST(QuorvelExeTest, ManifestOnlyAsksForCommonControls6) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(observe::ReadExecutableResource(ExePath(), kRtManifest, 1, bytes));
    const std::string manifest = Lower(std::string(bytes.begin(), bytes.end()));
    EXPECT_NE(manifest.find("name=\"microsoft.windows.common-controls\""), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("publickeytoken=\"6595b64144ccf1df\""), std::string::npos);
    // Any execution level turns Windows' file virtualisation off, and a list of supported
    // systems changes the version Windows reports: the data-folder choice relies on both.
    // Not even in a comment.
    for (const char* forbidden :
         {"requestedexecutionlevel", "trustinfo", "supportedos", "compatibility"}) {
        EXPECT_EQ(manifest.find(forbidden), std::string::npos) << forbidden;
    }
}

TEST(QuorvelExeTest, VersionBlockCarriesTheProjectVersion) {
    std::vector<uint8_t> block;
    ASSERT_TRUE(plat::ReadFileVersionBlock(ExePath(), block));
    WString value;
    EXPECT_TRUE(plat::QueryVersionValue(block, u"\\StringFileInfo\\080404B0\\FileVersion", value));
    EXPECT_EQ(ToUtf8(value), QUORVEL_VERSION);
    EXPECT_TRUE(
        plat::QueryVersionValue(block, u"\\StringFileInfo\\080404B0\\ProductVersion", value));
    EXPECT_EQ(ToUtf8(value), QUORVEL_VERSION);
    EXPECT_TRUE(
        plat::QueryVersionValue(block, u"\\StringFileInfo\\080404B0\\OriginalFilename", value));
    EXPECT_EQ(value, u"quorvel.exe");

    // Windows takes an executable without a manifest level for an installer, and asks for
    // elevation, when these words appear in its name or version texts.
    const WString path = ExePath();
    std::string texts = Lower(ToUtf8(path.substr(path.find_last_of(u"\\/") + 1)));
    for (size_t i = 0; i + 1 < block.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(block[i] | block[i + 1] << 8);
        texts.push_back(c < 0x80 && c != 0 ? static_cast<char>(c) : ' ');
    }
    texts = Lower(texts);
    for (const char* word : {"setup", "install", "update", "patch"}) {
        EXPECT_EQ(texts.find(word), std::string::npos) << word;
    }
}

TEST(QuorvelExeTest, DialogResourcesArePresent) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(observe::ReadExecutableResource(ExePath(), kRtDialog, IDD_QUORVEL_DIALOG, bytes));
    EXPECT_TRUE(observe::ReadExecutableResource(ExePath(), kRtDialog, IDD_ABOUTBOX, bytes));
    EXPECT_TRUE(observe::ReadExecutableResource(ExePath(), kRtGroupIcon, IDR_MAINFRAME, bytes));
    // Strings are stored sixteen to a block, numbered from 1.
    ASSERT_TRUE(
        observe::ReadExecutableResource(ExePath(), kRtString, IDS_ABOUTBOX / 16 + 1, bytes));
    const WString about = dlg::kAboutMenuEntry;
    std::u16string block;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        block.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    // Each string is its length followed by its characters.
    const WString entry = WString(1, static_cast<char16_t>(about.size())) + about;
    EXPECT_NE(block.find(entry), WString::npos);
}

}  // namespace
