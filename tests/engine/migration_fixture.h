// End-to-end migrations: an installation folder made in a unique temporary folder, old
// databases filled through SQLite, a scrambled script written with the script encoder,
// one CDBProcess run, and the resulting files examined.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/db_process.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "script/script_codec.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

using Strings = std::vector<std::string>;
using WStrings = std::vector<WString>;

// The name DB.s3db's old file is kept under when a run at the fixture's clock cannot
// drop it.
inline constexpr char16_t kBak[] = u"DB.s3db.20261208103000.bak";

// The plain text of an upgrade script, built line by line.
class ScriptText {
public:
    ScriptText& Line(WStringView line) {
        m_text.append(line);
        m_text.push_back(u'\n');
        return *this;
    }
    // HEAD, UPDATETIME, MAIN and DATABASEFILE lines.
    ScriptText& Head(WStringView main, WStringView dataFiles = u"extra.s3db",
                     WStringView updateTime = u"2026-12-08 10:00:00") {
        Line(u"HEAD");
        if (!updateTime.empty()) Line(u"UPDATETIME=" + WString(updateTime));
        Line(u"MAIN=" + WString(main));
        return Line(u"DATABASEFILE=" + WString(dataFiles));
    }
    ScriptText& Count(int n) { return Line(u"DBNCOUNT=" + wstr::FromInt(n)); }
    ScriptText& Database(int n, WStringView file, WStringView version, WStringView subPath = u"") {
        const WString number = wstr::FromInt(n);
        Line(u"DBN" + number + u"=" + WString(file));
        Line(u"MAINDBVER" + number + u"=" + WString(version));
        return Line(u"DBNPATH" + number + u"=" + WString(subPath));
    }
    ScriptText& Item(int db, WStringView kind, WStringView text, WStringView body) {
        Line(u"<DBNAME:DBN" + wstr::FromInt(db) + u">");
        Line(u"<NAME:" + WString(kind) + u">");
        Line(text);
        Line(u"<BEGIN>");
        Line(body);
        return Line(u"<END>");
    }
    const WString& Text() const { return m_text; }

private:
    WString m_text;
};

// Stands between the engine and the disk: makes the operations a test names fail, and
// shows each operation to a test that watches.
class FaultyDisk : public plat::RealFileSystem {
public:
    enum class Op { kWrite, kMove, kRemove, kSync, kRead };
    // The `nth` call of `op` on `path`, and every one after it, fails.
    void Fail(Op op, WString path, int nth = 1) { m_rules.push_back({op, std::move(path), nth}); }
    void Heal() { m_rules.clear(); }
    // Called before each operation, with the path it acts on (a move: the one moved).
    void Watch(std::function<void(Op, const WString&)> watcher) { m_watcher = std::move(watcher); }

    bool WriteDurably(const WString& path, std::string_view bytes) override {
        return !Hit(Op::kWrite, path) && RealFileSystem::WriteDurably(path, bytes);
    }
    bool MoveReplace(const WString& from, const WString& to) override {
        return !Hit(Op::kMove, from) && RealFileSystem::MoveReplace(from, to);
    }
    plat::MoveOutcome MoveIfUnused(const WString& from, const WString& to,
                                   const plat::FileStamp* unchanged) override {
        if (Hit(Op::kMove, from)) return plat::MoveOutcome::kFailed;
        return RealFileSystem::MoveIfUnused(from, to, unchanged);
    }
    // Acts on the file at `path` first: a rule on `path` fails the swap before anything moved.
    plat::MoveOutcome SwapIfUnused(const WString& path, const WString& replacement,
                                   const WString& keepAs,
                                   const plat::FileStamp* unchanged) override {
        if (Hit(Op::kMove, path)) return plat::MoveOutcome::kFailed;
        return RealFileSystem::SwapIfUnused(path, replacement, keepAs, unchanged);
    }
    bool Remove(const WString& path) override {
        return !Hit(Op::kRemove, path) && RealFileSystem::Remove(path);
    }
    bool SyncDirectory(const WString& folder) override {
        return !Hit(Op::kSync, folder) && RealFileSystem::SyncDirectory(folder);
    }
    bool ReadFile(const WString& path, std::string& bytes) override {
        return !Hit(Op::kRead, path) && RealFileSystem::ReadFile(path, bytes);
    }

private:
    struct Rule {
        Op op;
        WString path;
        int left;
    };
    bool Hit(Op op, const WString& path) {
        if (m_watcher) m_watcher(op, path);
        for (Rule& rule : m_rules) {
            if (rule.op == op && rule.path == path && --rule.left <= 0) return true;
        }
        return false;
    }
    std::vector<Rule> m_rules;
    std::function<void(Op, const WString&)> m_watcher;
};

class MigrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        s_messages.clear();
        s_now = plat::LocalTime{2026, 12, 8, 10, 30, 0};
        plat::SetClockForTesting(&Clock);
        plat::SetMessageBoxForTesting(&CaptureMessage);
        plat::SetAnsiCodePageForTesting(936);
        ResetLogForTesting();
        m_process.m_strInstallDir = m_dir.path();
        m_process.m_bScriptFound = 1;
        m_process.m_strScriptName = u"up.dbr";
        m_process.m_strSubVersion = u"8.0.0.5";
        m_process.m_bInteractive = 0;
        m_process.SetFileSystem(m_disk);
    }
    void TearDown() override {
        ResetLogForTesting();
        plat::SetMessageBoxForTesting(nullptr);
        plat::SetClockForTesting(nullptr);
        plat::SetAnsiCodePageForTesting(0);
    }

    // Path below the installation folder, "a\b" style.
    WString At(WStringView relative) const { return m_dir.Sub(relative); }
    bool Exists(WStringView relative) const { return plat::PathExists(At(relative)); }

    // Makes a database file below the installation folder with `sql` run on it.
    // Missing folders on the way are made.
    void MakeDb(WStringView relative, const std::string& sql) {
        const WString path = At(relative);
        for (size_t cut = m_dir.path().size() + 1; (cut = path.find(u'\\', cut)) != WString::npos;
             ++cut) {
            if (!plat::IsDirectory(path.substr(0, cut))) plat::MakeDirectory(path.substr(0, cut));
        }
        std::string error;
        ASSERT_TRUE(probe::Exec(path, sql, &error)) << error;
    }
    std::vector<std::string> Rows(WStringView relative, const std::string& sql) const {
        return probe::Rows(At(relative), sql);
    }
    std::string Value(WStringView relative, const std::string& sql) const {
        return probe::Value(At(relative), sql);
    }
    std::string Bytes(WStringView relative) const { return ReadFileBytes(At(relative)); }
    std::string Version(WStringView relative) const {
        return Value(relative, "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='TMAIN'");
    }

    void WriteScript(const ScriptText& script, WStringView name = u"up.dbr") {
        int badLine = 0;
        ASSERT_TRUE(WriteScriptFile(At(name), script.Text(), badLine)) << "line " << badLine;
    }
    // The plainest script: DB.s3db at 8.0.0.2 with the tables of OldUserDb.
    void WriteUserTablesScript();
    // DB.s3db and Other.s3db, both OldUserDb at 8.0.0.1, and the script that takes both to
    // 8.0.0.2.
    void MakeTwoUserDbs();

    // A run, with its stopping message presented as the dialog presents it: logged, and
    // "shown" where the user must see it.
    int Migrate() {
        m_outcome = m_process.Migrate();
        if (!m_outcome.strMessage.empty()) {
            WriteLog(kLogCategory, kLogLevel, m_outcome.strMessage);
            if (m_outcome.bAlwaysShow || m_process.m_bInteractive != 0) {
                s_messages.push_back(m_outcome.strMessage);
            }
        }
        return m_outcome.nResult;
    }

    // The migration log, converted from code page 936.
    WString Log() const {
        std::string bytes = ReadFileBytes(At(u"log\\ReData.log"));
        if (bytes.empty()) bytes = ReadFileBytes(At(u"ReData.log"));
        return FromAnsi(bytes);
    }
    bool LogHas(WStringView text) const { return Log().find(text) != WString::npos; }

    // Names in the installation folder (or a sub-folder) that match `pattern`.
    std::vector<WString> Files(WStringView pattern) const {
        std::vector<WString> names;
        for (const auto& f : plat::FindFiles(At(pattern))) {
            if (f.name != u"." && f.name != u"..") names.push_back(f.name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static int CaptureMessage(const WString& text, unsigned) {
        s_messages.push_back(text);
        return 1;
    }
    static plat::LocalTime Clock() { return s_now; }

    static inline std::vector<WString> s_messages;
    static inline plat::LocalTime s_now;

    ScopedTempDir m_dir;
    FaultyDisk m_disk;
    CDBProcess m_process;
    MigrationOutcome m_outcome;
};

// An old database at `version` (its version registry) with `sql` run after.
inline std::string VersionedDb(const std::string& version, const std::string& sql = "") {
    return "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);"
           "INSERT INTO TVERSION VALUES('TMAIN','" +
           version + "');" + sql;
}

// A typical old database at version `version`: users with rows, a version registry.
inline std::string OldUserDb(const std::string& version) {
    return VersionedDb(version,
                       "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);"
                       "INSERT INTO TUSER VALUES(1,'张三'),(2,'O''Brien'),(3,NULL);");
}

// The script's statement for the version registry of database `db`.
inline ScriptText& VersionTable(ScriptText& script, int db) {
    return script.Item(db, u"TABLE", u"TVERSION",
                       u"CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);");
}

// The script's statements for the tables of OldUserDb, at a new version.
inline ScriptText& UserTables(ScriptText& script, int db) {
    VersionTable(script, db);
    return script.Item(db, u"TABLE", u"TUSER",
                       u"CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
}

inline void MigrationTest::WriteUserTablesScript() {
    ScriptText script;
    script.Head(u"8.0.0").Count(1).Database(1, u"DB.s3db", u"8.0.0.2");
    UserTables(script, 1);
    WriteScript(script);
}

inline void MigrationTest::MakeTwoUserDbs() {
    MakeDb(u"DB.s3db", OldUserDb("8.0.0.1"));
    MakeDb(u"Other.s3db", OldUserDb("8.0.0.1"));
    ScriptText script;
    script.Head(u"8.0.0").Count(2).Database(1, u"DB.s3db", u"8.0.0.2");
    script.Database(2, u"Other.s3db", u"8.0.0.2");
    UserTables(script, 1);
    UserTables(script, 2);
    WriteScript(script);
}
