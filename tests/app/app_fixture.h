// A small installation folder for the application's tests: a client executable, old
// databases and scripts, made in a unique temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/migration_fixture.h"  // ScriptText and the old-database helpers
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

class InstallationTest : public ::testing::Test {
protected:
    void SetUp() override {
        s_messages.clear();
        plat::SetMessageBoxForTesting(&CaptureMessage);
        plat::SetAnsiCodePageForTesting(936);
        ResetLogForTesting();
    }
    void TearDown() override {
        ResetLogForTesting();
        plat::SetMessageBoxForTesting(nullptr);
        plat::SetAnsiCodePageForTesting(0);
    }

    WString At(WStringView relative) const { return m_dir.Sub(relative); }

    // The client (FileVersion 8.0.0V1203, ProductVersion 8.0.0), DB.s3db with three users
    // at version 8.0.0.1, and "up.dbr" that brings it to 8.0.0.2 adding a column.
    void MakeInstallation() {
        WriteFileBytes(At(u"vennic.exe"),
                       ReadFileBytes(plat::FromNativePath(FromUtf8(
                           std::string(QUORVEL_TEST_DATA_DIR) + "/pe/vennic-8.0.0V1203.exe"))));
        std::string error;
        ASSERT_TRUE(probe::Exec(At(u"DB.s3db"), OldUserDb("8.0.0.1"), &error)) << error;
        WriteScript(u"up.dbr", u"F_NICK");
    }
    // A script bringing DB.s3db to 8.0.0.2 and adding the column `column` to TUSER.
    void WriteScript(WStringView name, WStringView column) {
        ScriptText script;
        script.Head(u"1200").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
        UserTables(script, 1);
        script.Item(1, u"ALTER", u"TUSER," + WString(column), u"TEXT");
        int badLine = 0;
        ASSERT_TRUE(WriteScriptFile(At(name), script.Text(), badLine)) << badLine;
    }
    std::string Version() const {
        return probe::Value(At(u"DB.s3db"),
                            "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='TMAIN'");
    }
    std::string Columns() const {
        return probe::Value(At(u"DB.s3db"),
                            "SELECT group_concat(name) FROM pragma_table_info('TUSER')");
    }

    static int CaptureMessage(const WString& text, unsigned) {
        s_messages.push_back(text);
        return 1;
    }
    static inline std::vector<WString> s_messages;

    ScopedTempDir m_dir;
};
