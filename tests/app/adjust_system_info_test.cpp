// The data folder: the installation folder when writable, else on Windows 7 the
// virtual-store mirror, else "Vennic" in the local application-data folder. The system's
// version and folders are put in; a folder is made "not writable", and the virtual store
// played, by a file system standing in for the disk (tests may run as root, whom
// permission bits do not stop).
#include "app/adjust_system_info.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/file_conditions.h"
#include "support/temp_dir.h"

namespace {

// The disk, except that files cannot be created directly in the folders `notWritable`
// names, that a file created in a folder `redirect` names makes the system create its
// mirror on the way (as the virtual store does; like it, not for executables), and that
// with `noMakeDirectory` no folder can be made.
class ProbedDisk : public plat::RealFileSystem {
public:
    plat::ProbeOutcome ProbeNewFile(const WString& path) override {
        creates.push_back(path);
        const WString folder = plat::FolderOf(path);
        const bool executable = path.size() > 4 && path.substr(path.size() - 4) == u".exe";
        for (const auto& [from, mirror] : redirect) {
            if (from == folder && !executable) MakePath(mirror);
        }
        for (const WString& f : notWritable) {
            if (f == folder) return plat::ProbeOutcome::kFailed;
        }
        return RealFileSystem::ProbeNewFile(path);
    }
    bool MakeDirectory(const WString& path) override {
        return !noMakeDirectory && RealFileSystem::MakeDirectory(path);
    }

    static void MakePath(const WString& path) {
        for (size_t cut = 1; cut <= path.size(); ++cut) {
            if (cut == path.size() || path[cut] == u'\\') {
                const WString part = path.substr(0, cut);
                if (!plat::IsDirectory(part)) {
                    ASSERT_TRUE(plat::MakeDirectory(part));
                }
            }
        }
    }

    std::vector<WString> notWritable;
    std::vector<std::pair<WString, WString>> redirect;
    std::vector<WString> creates;
    bool noMakeDirectory = false;
};

class AdjustTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_install = m_dir.Sub(u"Program Files\\Vennic");
        m_appData = m_dir.Sub(u"AppData\\Local");
        MakePath(m_install);
        MakePath(m_appData);
    }

    static void MakePath(const WString& path) { ProbedDisk::MakePath(path); }

    // No file can be created directly in `folder` from now on.
    void NotWritable(const WString& folder) { m_disk.notWritable.push_back(folder); }
    // A file created in `folder` makes the system create `mirror` on the way.
    void RedirectTo(const WString& folder, const WString& mirror) {
        m_disk.redirect.push_back({folder, mirror});
    }

    AdjustSystemCalls Calls(unsigned major, unsigned minor, bool bAppData = true) {
        AdjustSystemCalls calls;
        calls.systemVersion = [major, minor](unsigned& ma, unsigned& mi) {
            ma = major;
            mi = minor;
            return true;
        };
        const WString appData = m_appData;
        calls.localAppDataFolder = [appData, bAppData](WString& folder) {
            if (bAppData) folder = appData;
            return bAppData;
        };
        const WString exe = m_dir.Sub(u"bin\\quorvel.exe");
        calls.modulePath = [exe] { return exe; };
        calls.fs = &m_disk;
        return calls;
    }

    WString Mirror() const { return m_appData + u"\\VirtualStore" + m_install.substr(2); }

    ScopedTempDir m_dir;
    ProbedDisk m_disk;
    WString m_install;
    WString m_appData;
};

TEST_F(AdjustTest, Windows7IsRecognisedByItsVersion) {
    struct Case {
        unsigned major, minor;
        int expected;
    };
    // XP, Vista, 7, what 8 and later report without a manifest, 8.1, then the rule's
    // "7 or later with a minor version other than 0".
    for (const Case& c : {Case{5, 1, 0}, Case{6, 0, 0}, Case{6, 1, 1}, Case{6, 2, 0}, Case{6, 3, 0},
                          Case{7, 0, 0}, Case{7, 1, 1}, Case{10, 0, 0}}) {
        EXPECT_EQ(IsWin7System(Calls(c.major, c.minor)), c.expected) << c.major << "." << c.minor;
        auto adjust = CreateAdjustSystemInfo(m_install, Calls(c.major, c.minor));
        EXPECT_EQ(dynamic_cast<CAdjustWin7Info*>(adjust.get()) != nullptr, c.expected == 1);
    }
    AdjustSystemCalls failing = Calls(6, 1);
    failing.systemVersion = [](unsigned&, unsigned&) { return false; };
    EXPECT_EQ(IsWin7System(failing), 0);
#ifndef _WIN32
    EXPECT_EQ(IsWin7System(), 0);  // no Windows version here: the base class serves
#endif
}

TEST_F(AdjustTest, AnySystemTakesTheInstallationFolderWhenWritable) {
    WString dir;
    {
        CAdjustSystemInfo adjust(m_install, Calls(6, 0));
        EXPECT_EQ(adjust.GetDataDir(dir), 1);
        EXPECT_EQ(dir, m_install);
        EXPECT_FALSE(plat::PathExists(m_install + u"\\update_tmp_.exe"));  // the probe is gone
        EXPECT_EQ(m_disk.creates, std::vector<WString>{m_install + u"\\update_tmp_.exe"});
    }
    {  // a missing installation folder: the executable's own folder is tested and returned
        MakePath(m_dir.Sub(u"bin"));
        CAdjustSystemInfo adjust(m_dir.Sub(u"missing"), Calls(6, 0));
        EXPECT_EQ(adjust.GetDataDir(dir), 1);
        EXPECT_EQ(dir, m_dir.Sub(u"bin"));
    }
    {  // Vista, or a system reporting 6.2 or 6.3, with a folder that is not writable
        NotWritable(m_install);
        for (unsigned minor : {0u, 2u, 3u}) {
            auto adjust = CreateAdjustSystemInfo(m_install, Calls(6, minor));
            EXPECT_EQ(adjust->GetDataDir(dir), 0);
            EXPECT_EQ(dir, m_install);  // delivered all the same; start-up then keeps none
        }
        EXPECT_FALSE(plat::PathExists(m_appData + u"\\Vennic"));
        EXPECT_FALSE(plat::PathExists(m_appData + u"\\VirtualStore"));
    }
}

TEST_F(AdjustTest, TheProbeLeavesWhatHasItsNameAlone) {
    // A user's file, a link to a file of value (the program may run elevated), a folder:
    // each keeps the name, the next name is probed, and the folder still counts as writable.
    const WString probe = m_install + u"\\update_tmp_.exe";
    const WString target = m_dir.Sub(u"precious.txt");
    WriteFileBytes(target, "precious");
    enum Kind { kFile, kLink, kFolder };
    for (Kind kind : {kFile, kLink, kFolder}) {
        m_disk.creates.clear();
        if (kind == kFile) WriteFileBytes(probe, "user's own\r\n");
        if (kind == kLink && !MakeLink(target, probe)) continue;  // no links here
        if (kind == kFolder) MakePath(probe);
        WString dir;
        CAdjustSystemInfo adjust(m_install, Calls(6, 0));
        EXPECT_EQ(adjust.GetDataDir(dir), 1) << kind;
        EXPECT_EQ(dir, m_install);
        EXPECT_EQ(m_disk.creates, (std::vector<WString>{probe, m_install + u"\\update_tmp_1.exe"}));
        EXPECT_FALSE(plat::PathExists(m_install + u"\\update_tmp_1.exe"));
        EXPECT_EQ(ReadFileBytes(target), "precious");
        switch (kind) {
            case kFile:
                EXPECT_EQ(ReadFileBytes(probe), "user's own\r\n");
                break;
            case kLink:
                EXPECT_TRUE(plat::IsLink(probe));
                break;
            case kFolder:
                EXPECT_TRUE(plat::IsDirectory(probe));
                break;
        }
        ASSERT_TRUE(plat::RemoveTree(probe));
    }
    // Every name taken: nothing shows that the folder takes a new file.
    WriteFileBytes(probe, "");
    for (int n = 1; n < 8; ++n)
        WriteFileBytes(m_install + u"\\update_tmp_" + wstr::FromInt(n) + u".exe", "");
    WString dir;
    CAdjustSystemInfo adjust(m_install, Calls(6, 0));
    EXPECT_EQ(adjust.GetDataDir(dir), 0);
}

TEST_F(AdjustTest, Windows7TakesTheInstallationFolderWhenWritable) {
    auto adjust = CreateAdjustSystemInfo(m_install, Calls(6, 1));
    WString dir;
    EXPECT_EQ(adjust->GetDataDir(dir), 1);
    EXPECT_EQ(dir, m_install);
    EXPECT_FALSE(plat::PathExists(m_appData + u"\\VirtualStore"));
}

TEST_F(AdjustTest, Windows7TakesAnExistingMirrorWithoutProbing) {
    NotWritable(m_install);
    MakePath(Mirror());
    auto adjust = CreateAdjustSystemInfo(m_install, Calls(6, 1));
    WString dir;
    EXPECT_EQ(adjust->GetDataDir(dir), 1);
    EXPECT_EQ(dir, Mirror());
    // Only the writability probe; no file written to make the mirror.
    EXPECT_EQ(m_disk.creates, std::vector<WString>{m_install + u"\\update_tmp_.exe"});
}

TEST_F(AdjustTest, Windows7MakesTheSystemCreateTheMirror) {
    NotWritable(m_install);
    RedirectTo(m_install, Mirror());
    auto adjust = CreateAdjustSystemInfo(m_install, Calls(6, 1));
    WString dir;
    EXPECT_EQ(adjust->GetDataDir(dir), 1);
    EXPECT_EQ(dir, Mirror());
    EXPECT_EQ(m_disk.creates.back(), m_install + u"\\Update_Tmp_Tmp_.txt");
    EXPECT_FALSE(plat::PathExists(m_appData + u"\\Vennic"));
}

TEST_F(AdjustTest, Windows7FallsBackToTheVennicFolder) {
    NotWritable(m_install);
    WString dir;
    {  // no virtualisation: "Vennic" is made and returned
        auto adjust = CreateAdjustSystemInfo(m_install, Calls(6, 1));
        EXPECT_EQ(adjust->GetDataDir(dir), 1);
        EXPECT_EQ(dir, m_appData + u"\\Vennic");
        EXPECT_TRUE(plat::IsDirectory(dir));
        EXPECT_FALSE(plat::PathExists(Mirror()));
    }
    {  // and taken as it is the next time
        auto adjust = CreateAdjustSystemInfo(m_install, Calls(7, 1));
        EXPECT_EQ(adjust->GetDataDir(dir), 1);
        EXPECT_EQ(dir, m_appData + u"\\Vennic");
    }
    {  // a "Vennic" folder that cannot be made: 0, with its path delivered
        plat::RemoveTree(m_appData + u"\\Vennic");
        m_disk.noMakeDirectory = true;
        auto adjust = CreateAdjustSystemInfo(m_install, Calls(6, 1));
        EXPECT_EQ(adjust->GetDataDir(dir), 0);
        EXPECT_EQ(dir, m_appData + u"\\Vennic");
        m_disk.noMakeDirectory = false;
    }
    {  // no local application-data folder: 0, the out-parameter untouched
        auto adjust = CreateAdjustSystemInfo(m_install, Calls(6, 1, false));
        dir = u"untouched";
        EXPECT_EQ(adjust->GetDataDir(dir), 0);
        EXPECT_EQ(dir, u"untouched");
    }
}

TEST_F(AdjustTest, Windows7DropsTheFirstTwoCharactersEvenOfANetworkPath) {
    // "\\server\share\Vennic" loses its "\\": the mirror path has no separator there.
    const WString network = u"\\\\server\\share\\Vennic";
    const WString mirror = m_appData + u"\\VirtualStoreserver\\share\\Vennic";
    MakePath(mirror);
    CAdjustWin7Info adjust(network, Calls(6, 1));
    WString dir;
    EXPECT_EQ(adjust.GetDataDir(dir), 1);
    EXPECT_EQ(dir, mirror);
}

}  // namespace
