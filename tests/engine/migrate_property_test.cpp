// Generated installations and scripts, and what a run must keep whatever they are: every
// row of every table of an old database is in the new database's table of that name, or
// the database is byte for byte what it was; nothing is kept twice; a run that reports
// success migrated every database. RapidCheck generates the cases and shrinks a failing
// one to its smallest form; CI runs a fixed seed (RC_PARAMS in CMakeLists.txt). A long
// search, whose finds become regression tests:
//
//     RC_PARAMS="max_success=200000" build/default/tests/engine/qv_engine_property_tests
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "engine/db_process.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "script/script_codec.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace {

enum class Kind { kPlain, kIntegerKey, kAutoincrement, kWithoutRowid, kFullText, kIndexed };
// What the script does with an old table.
enum class Fate { kSame, kOtherCase, kColumnFewer, kReplaceDuplicates, kForgotten, kBroken };

struct TablePlan {
    Kind kind = Kind::kPlain;
    Fate fate = Fate::kSame;
    int rows = 0;
    int deleted = 0;
};

struct DbPlan {
    bool exists = true;
    bool wal = false;
    bool versionItem = true;  // the script makes TVERSION
    bool halfItem = false;    // a data item that fails after its first statement
    bool newTable = false;    // a table of the new version, filled by a data item
    std::vector<TablePlan> tables;
};

struct InstallPlan {
    std::vector<DbPlan> dbs;
    std::vector<TablePlan> extra;  // tables of the extra data file, for the first database
    int extraSpelling = 0;         // 0: the extra file; 1, 2: the first database, spelled otherwise
};

const char* const kKindNames[] = {"plain",         "integer key", "autoincrement",
                                  "without rowid", "fts5",        "indexed"};
const char* const kFateNames[] = {"same",      "other case", "column fewer", "replaces duplicates",
                                  "forgotten", "broken"};

void PrintTables(const std::vector<TablePlan>& tables, std::ostream& os) {
    for (const TablePlan& t : tables) {
        os << "    " << kKindNames[static_cast<int>(t.kind)] << ", "
           << kFateNames[static_cast<int>(t.fate)] << ", " << t.rows << " rows, " << t.deleted
           << " deleted\n";
    }
}

// How RapidCheck shows a failing case.
void showValue(const InstallPlan& plan, std::ostream& os) {
    os << "\n";
    for (size_t d = 0; d < plan.dbs.size(); ++d) {
        const DbPlan& db = plan.dbs[d];
        os << "  database " << d + 1 << (db.exists ? "" : " (new)") << (db.wal ? ", WAL" : "")
           << (db.versionItem ? "" : ", no TVERSION item") << (db.halfItem ? ", half item" : "")
           << (db.newTable ? ", new table" : "") << "\n";
        PrintTables(db.tables, os);
    }
    os << "  extra file (" << (plan.extraSpelling == 0 ? "extra.s3db" : "the first database")
       << ")\n";
    PrintTables(plan.extra, os);
}

}  // namespace

namespace rc {

template <>
struct Arbitrary<TablePlan> {
    static Gen<TablePlan> arbitrary() {
        return gen::build<TablePlan>(
            gen::set(&TablePlan::kind,
                     gen::element(Kind::kPlain, Kind::kIntegerKey, Kind::kAutoincrement,
                                  Kind::kWithoutRowid, Kind::kFullText, Kind::kIndexed)),
            gen::set(&TablePlan::fate, gen::weightedElement<Fate>({{8, Fate::kSame},
                                                                   {2, Fate::kOtherCase},
                                                                   {1, Fate::kColumnFewer},
                                                                   {1, Fate::kReplaceDuplicates},
                                                                   {1, Fate::kForgotten},
                                                                   {1, Fate::kBroken}})),
            gen::set(&TablePlan::rows, gen::inRange(0, 30)),
            gen::set(&TablePlan::deleted, gen::inRange(0, 4)));
    }
};

template <>
struct Arbitrary<DbPlan> {
    static Gen<DbPlan> arbitrary() {
        return gen::build<DbPlan>(
            gen::set(&DbPlan::exists, gen::weightedElement<bool>({{5, true}, {1, false}})),
            gen::set(&DbPlan::wal, gen::arbitrary<bool>()),
            gen::set(&DbPlan::versionItem, gen::weightedElement<bool>({{12, true}, {1, false}})),
            gen::set(&DbPlan::halfItem, gen::arbitrary<bool>()),
            gen::set(&DbPlan::newTable, gen::arbitrary<bool>()),
            gen::set(&DbPlan::tables, gen::mapcat(gen::inRange(0, 4), [](int n) {
                return gen::container<std::vector<TablePlan>>(static_cast<size_t>(n),
                                                              gen::arbitrary<TablePlan>());
            })));
    }
};

template <>
struct Arbitrary<InstallPlan> {
    static Gen<InstallPlan> arbitrary() {
        return gen::build<InstallPlan>(
            gen::set(&InstallPlan::dbs, gen::mapcat(gen::inRange(1, 4),
                                                    [](int n) {
                                                        return gen::container<std::vector<DbPlan>>(
                                                            static_cast<size_t>(n),
                                                            gen::arbitrary<DbPlan>());
                                                    })),
            gen::set(&InstallPlan::extra,
                     gen::mapcat(gen::inRange(0, 3),
                                 [](int n) {
                                     return gen::container<std::vector<TablePlan>>(
                                         static_cast<size_t>(n), gen::arbitrary<TablePlan>());
                                 })),
            gen::set(&InstallPlan::extraSpelling,
                     gen::weightedElement<int>({{4, 0}, {1, 1}, {1, 2}})));
    }
};

}  // namespace rc

namespace {

const char* const kDbNames[] = {"DB.s3db", "vuserdat", "Chat.s3db"};
const char16_t* const kDbFolders[] = {u"", u"", u"data\\chat"};

std::string Lower(std::string text) {
    for (char& c : text)
        c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return text;
}

// The CREATE statements of a table of `kind`; with `fewer`, one column less; with
// `replace`, F_B unique with conflicting rows replaced.
std::string Create(const std::string& name, Kind kind, bool fewer = false, bool replace = false) {
    const std::string b = fewer     ? ""
                          : replace ? ", F_B INTEGER UNIQUE ON CONFLICT REPLACE"
                                    : ", F_B INTEGER";
    switch (kind) {
        case Kind::kPlain:
            return "CREATE TABLE " + name + "(F_A TEXT" + b + ");";
        case Kind::kIntegerKey:
            return "CREATE TABLE " + name + "(F_ID INTEGER PRIMARY KEY, F_A TEXT" + b + ");";
        case Kind::kAutoincrement:
            return "CREATE TABLE " + name + "(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_A TEXT" +
                   b + ");";
        case Kind::kWithoutRowid:
            return "CREATE TABLE " + name + "(F_A TEXT PRIMARY KEY" + b + ") WITHOUT ROWID;";
        case Kind::kFullText:
            return "CREATE VIRTUAL TABLE " + name + " USING fts5(F_A" +
                   std::string(fewer ? "" : ", F_B") + ");";
        case Kind::kIndexed:
            return "CREATE TABLE " + name + "(F_A TEXT" + b + "); CREATE INDEX I_" + name + " ON " +
                   name + "(F_B);";
    }
    return std::string();
}

// What identifies a row, besides its values: the rowid other rows may refer to.
std::string RowsOf(const WString& path, const std::string& table, Kind kind) {
    const std::string id = kind == Kind::kWithoutRowid ? "''" : "rowid";
    std::string all;
    for (const std::string& row :
         probe::Rows(path, "SELECT " + id + ", F_A, F_B FROM \"" + table + "\" ORDER BY 1, 2"))
        all += row + "\n";
    return all;
}

std::string Fill(const std::string& name, const TablePlan& table) {
    std::string sql = Create(name, table.kind);
    for (int i = 0; i < table.rows; ++i) {
        sql += "INSERT INTO " + name + "(F_A, F_B) VALUES('a" + std::to_string(i) + "', " +
               std::to_string(i % 3) + ");";
    }
    if (table.deleted > 0) {
        sql += "DELETE FROM " + name + " WHERE F_A IN (SELECT F_A FROM " + name +
               " ORDER BY F_A LIMIT " + std::to_string(table.deleted) + ");";
    }
    return sql;
}

// One TABLE item of the script, as its fate has it; nothing for a forgotten table.
std::string TableItem(int db, const std::string& name, const TablePlan& table) {
    const Kind kind = table.kind;
    std::string head = name;
    std::string body;
    switch (table.fate) {
        case Fate::kSame:
            body = Create(name, kind);
            break;
        case Fate::kOtherCase:
            head = Lower(name);
            body = Create(head, kind);
            break;
        case Fate::kColumnFewer:
            body = Create(name, kind, true);
            break;
        case Fate::kReplaceDuplicates:
            body = Create(name, kind, false, kind != Kind::kFullText);
            break;
        case Fate::kForgotten:
            return std::string();
        case Fate::kBroken:
            body = "CREATE TABLE " + name + "(F_A TEXT, F_B";
            break;
    }
    return "<DBNAME:DBN" + std::to_string(db) + ">\n<NAME:TABLE>\n" + head + "\n<BEGIN>\n" + body +
           "\n<END>\n";
}

std::string DataItem(int db, const std::string& sql) {
    return "<DBNAME:DBN" + std::to_string(db) + ">\n<NAME:SQLONE>\n8.0.0.2\n<BEGIN>\n" + sql +
           "\n<END>\n";
}

std::string Version(const WString& path) {
    return probe::Value(path, "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='TMAIN'");
}

void FilesBelow(const WString& folder, std::vector<WString>& names) {
    for (const plat::FoundFile& file : plat::FindFiles(folder + u"\\*")) {
        if (file.name == u"." || file.name == u"..") continue;
        names.push_back(folder + u"\\" + file.name);
        if (file.directory) FilesBelow(folder + u"\\" + file.name, names);
    }
}

}  // namespace

RC_GTEST_PROP(MigrationProperty, EveryRowIsAccountedFor, (const InstallPlan& plan)) {
    ScopedTempDir dir;
    plat::SetAnsiCodePageForTesting(936);
    ResetLogForTesting();
    plat::MakeDirectory(dir.Sub(u"data"));
    plat::MakeDirectory(dir.Sub(u"data\\chat"));

    std::string script = "HEAD\nMAIN=8.0.0\nDATABASEFILE=";
    const WString firstPath = dir.Sub(kDbFolders[0]) + u"\\" + FromUtf8(kDbNames[0]);
    script += plan.extraSpelling == 0   ? "extra.s3db"
              : plan.extraSpelling == 1 ? std::string("./") + kDbNames[0]
                                        : std::string(".\\") + kDbNames[0];
    script += "\nDBNCOUNT=" + std::to_string(plan.dbs.size()) + "\n";
    std::string items;
    struct Old {
        WString path;
        bool existed;
        std::string bytes;
        std::map<std::string, std::pair<Kind, std::string>> tables;  // name -> kind, rows
    };
    std::vector<Old> olds;
    for (size_t d = 0; d < plan.dbs.size(); ++d) {
        const DbPlan& db = plan.dbs[d];
        const int n = static_cast<int>(d) + 1;
        const WString folder = kDbFolders[d][0] == 0 ? dir.path() : dir.Sub(kDbFolders[d]);
        Old old{folder + u"\\" + FromUtf8(kDbNames[d]), db.exists, "", {}};
        script += "DBN" + std::to_string(n) + "=" + kDbNames[d] + "\nMAINDBVER" +
                  std::to_string(n) + "=8.0.0.2\nDBNPATH" + std::to_string(n) + "=" +
                  ToUtf8(kDbFolders[d]) + "\n";
        if (db.versionItem) {
            items += "<DBNAME:DBN" + std::to_string(n) +
                     ">\n<NAME:TABLE>\nTVERSION\n<BEGIN>\nCREATE TABLE TVERSION(F_TABLENAME "
                     "TEXT, F_TABLEVERSION TEXT);\n<END>\n";
        }
        std::string sql = db.wal ? "PRAGMA journal_mode=WAL;" : "";
        sql +=
            "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);"
            "INSERT INTO TVERSION VALUES('TMAIN', '8.0.0.1');";
        for (size_t t = 0; t < db.tables.size(); ++t) {
            const std::string name = "T" + std::string(1, char('A' + d)) + std::to_string(t);
            sql += Fill(name, db.tables[t]);
            items += TableItem(n, name, db.tables[t]);
        }
        if (d == 0) {
            for (size_t t = 0; t < plan.extra.size(); ++t)
                items += TableItem(1, "TX" + std::to_string(t), plan.extra[t]);
        }
        if (db.newTable) {
            items += "<DBNAME:DBN" + std::to_string(n) +
                     ">\n<NAME:TABLE>\nTNEW\n<BEGIN>\nCREATE TABLE TNEW(F_X);\n<END>\n";
            items += DataItem(n, "INSERT INTO TNEW VALUES('new');");
        }
        if (db.halfItem) {
            const std::string victim =
                db.tables.empty() ? "TVERSION" : "T" + std::string(1, char('A' + d)) + "0";
            items += DataItem(
                n, "DELETE FROM " + victim + "; INSERT INTO " + victim + " SELECT * FROM TNOSUCH;");
        }
        if (db.exists) {
            RC_ASSERT(probe::Exec(old.path, sql));
            old.bytes = ReadFileBytes(old.path);
            for (size_t t = 0; t < db.tables.size(); ++t) {
                const std::string name = "T" + std::string(1, char('A' + d)) + std::to_string(t);
                old.tables[name] = {db.tables[t].kind, RowsOf(old.path, name, db.tables[t].kind)};
            }
        }
        olds.push_back(std::move(old));
    }
    std::map<std::string, std::pair<Kind, std::string>> extraRows;
    if (!plan.extra.empty()) {
        std::string sql;
        for (size_t t = 0; t < plan.extra.size(); ++t)
            sql += Fill("TX" + std::to_string(t), plan.extra[t]);
        RC_ASSERT(probe::Exec(dir.Sub(u"extra.s3db"), sql));
        for (size_t t = 0; t < plan.extra.size(); ++t) {
            const std::string name = "TX" + std::to_string(t);
            extraRows[name] = {plan.extra[t].kind,
                               RowsOf(dir.Sub(u"extra.s3db"), name, plan.extra[t].kind)};
        }
    }
    int badLine = 0;
    RC_ASSERT(WriteScriptFile(dir.Sub(u"up.dbr"), FromUtf8(script + items), badLine));

    CDBProcess process;
    process.m_strInstallDir = dir.path();
    process.m_bScriptFound = 1;
    process.m_strScriptName = u"up.dbr";
    process.m_strSubVersion = u"8.0.0.5";
    process.m_bInteractive = 0;
    const MigrationOutcome outcome = process.Migrate();
    process.ClearDatabaseList();

    bool allMigrated = true;
    for (const Old& old : olds) {
        const bool migrated = plat::PathExists(old.path) && Version(old.path) == "8.0.0.2";
        allMigrated = allMigrated && migrated;
        if (!migrated) {
            // Left as it was: the very same bytes, or still no file.
            const bool asItWas =
                old.existed ? ReadFileBytes(old.path) == old.bytes : !plat::PathExists(old.path);
            RC_ASSERT(asItWas);
            continue;
        }
        // Migrated: every row of every old table is in the table of that name.
        for (const auto& [name, table] : old.tables) {
            if (table.second.empty()) continue;
            RC_ASSERT(RowsOf(old.path, name, table.first) == table.second);
        }
    }
    // The extra file goes only when its rows are in the first database.
    if (!plan.extra.empty() && !plat::PathExists(dir.Sub(u"extra.s3db"))) {
        for (const auto& [name, table] : extraRows) {
            if (!table.second.empty())
                RC_ASSERT(RowsOf(firstPath, name, table.first) == table.second);
        }
    }
    // Nothing kept twice, nothing half built left: an old file waits as ".tmp" beside its
    // marker only while another database is not done.
    std::vector<WString> files;
    FilesBelow(dir.path(), files);
    for (const WString& file : files) {
        RC_ASSERT(!wstr::EndsWith(file, u".bak"));
        RC_ASSERT(!wstr::EndsWith(file, u".partial"));
        RC_ASSERT(!wstr::EndsWith(file, u".new"));
        if (wstr::EndsWith(file, u".tmp")) {
            RC_ASSERT(!allMigrated);
            RC_ASSERT(plat::PathExists(file.substr(0, file.size() - 4) + u".migrating"));
        }
    }
    // Success means every database was migrated; a script without a flaw migrates all.
    if (outcome.nResult == 1) RC_ASSERT(allMigrated);
    bool flawless = true;
    for (const DbPlan& db : plan.dbs) {
        flawless = flawless && db.versionItem;
        for (const TablePlan& table : db.tables)
            flawless = flawless && (table.fate == Fate::kSame || table.fate == Fate::kOtherCase);
    }
    for (const TablePlan& table : plan.extra)
        flawless = flawless && (table.fate == Fate::kSame || table.fate == Fate::kOtherCase);
    if (flawless) {
        RC_ASSERT(outcome.nResult == 1);
        RC_ASSERT(allMigrated);
    }
    ResetLogForTesting();
    plat::SetAnsiCodePageForTesting(0);
}
