#include "reliability/installation.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>

#include "engine/db_process.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "script/script_codec.h"

namespace reliability {
namespace {

constexpr char kTarget[] = "8.0.0.2";

// Rows that a migration must carry: those of `from` (a table, perhaps with a WHERE
// clause) in the database `source`, which must arrive in `target`, compared on `columns`.
struct Carried {
    const char* source;
    const char* from;
    const char* columns;
    const char* target;
};
constexpr Carried kCarried[] = {
    {"vuserdat", "TGROUP", "F_ID,F_NAME", "vuserdat"},
    {"vuserdat", "TCONTACT", "F_ID,F_GROUP,F_NAME,F_PHOTO", "vuserdat"},
    {"vuserdat", "TCONTACT", "F_ID,F_GROUP,F_NAME,F_PHOTO", "data\\chat\\Chat.s3db"},
    {"vuserdat", "TVERSION WHERE F_TABLENAME<>'TMAIN'", "F_TABLENAME,F_TABLEVERSION", "vuserdat"},
    {"data\\DB.s3db", "TMSG", "F_ID,F_FROM,F_TEXT,F_AT", "data\\DB.s3db"},
    {"data\\DB.s3db", "TVERSION WHERE F_TABLENAME<>'TMAIN'", "F_TABLENAME,F_TABLEVERSION",
     "data\\DB.s3db"},
    {"extra.s3db", "TSETTING", "F_KEY,F_VALUE", "data\\DB.s3db"},
};
constexpr const char* kDatabases[] = {"vuserdat", "data\\DB.s3db", "data\\chat\\Chat.s3db"};

struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

WString Path(const WString& folder, const char* relative) {
    return folder + u"\\" + FromUtf8(relative);
}

// An existing database file; null when it cannot be opened (nothing is created).
Connection OpenExisting(const WString& path) {
    sqlite3* db = nullptr;
    if (!plat::PathExists(path) || plat::IsDirectory(path) ||
        sqlite3_open_v2(plat::PathForSqlite(path).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return Connection(db);
}

bool Exec(const WString& path, const std::string& sql, std::string& error) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open(plat::PathForSqlite(path).c_str(), &raw);
    Connection db(raw);
    char* text = nullptr;
    if (rc == SQLITE_OK) rc = sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &text);
    if (rc != SQLITE_OK) error = ToUtf8(path) + ": " + (text ? text : "cannot open");
    sqlite3_free(text);
    return rc == SQLITE_OK;
}

// The first column of the first row of `sql`; "<error>" when it cannot be read.
std::string Value(const WString& path, const std::string& sql) {
    Connection db = OpenExisting(path);
    std::string value = "<error>";
    sqlite3_stmt* stmt = nullptr;
    if (db && sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
        int rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(stmt, 0);
            value = text ? reinterpret_cast<const char*>(text) : "<null>";
        } else if (rc == SQLITE_DONE) {
            value = "<no row>";
        }
    }
    sqlite3_finalize(stmt);
    return value;
}

// Row count and FNV-1a hash of the rows of `from` on `columns`, in a fixed order, as
// "count:hash"; empty when the rows cannot be read.
std::string Digest(const WString& path, const std::string& from, const std::string& columns) {
    Connection db = OpenExisting(path);
    if (!db) return std::string();
    std::string select;
    for (size_t start = 0; start <= columns.size();) {
        size_t end = columns.find(',', start);
        if (end == std::string::npos) end = columns.size();
        if (!select.empty()) select += "||'|'||";
        select += "quote(" + columns.substr(start, end - start) + ")";
        start = end + 1;
    }
    const std::string sql = "SELECT " + select + " FROM " + from + " ORDER BY 1";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return std::string();
    }
    uint64_t hash = 1469598103934665603ULL;
    long long count = 0;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(stmt, 0);
        for (const unsigned char* p = text; p && *p; ++p) {
            hash = (hash ^ *p) * 1099511628211ULL;
        }
        hash = (hash ^ '\n') * 1099511628211ULL;
        ++count;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) return std::string();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%lld:%016llx", count,
                  static_cast<unsigned long long>(hash));
    return buffer;
}

// The value of `key` in what MakeInstallation wrote down.
std::string ExpectedValue(const std::string& expected, const std::string& key) {
    size_t at = expected.find(key + "=");
    if (at == std::string::npos) return std::string("<missing>");
    at += key.size() + 1;
    return expected.substr(at, expected.find('\n', at) - at);
}

std::string Key(const Carried& carried) {
    return std::string(carried.source) + "|" + carried.from + "|" + carried.target;
}

// Every file below `folder`, as paths relative to it.
void ListFiles(const WString& folder, const WString& relative, std::vector<WString>& files) {
    const WString here = relative.empty() ? folder : folder + u"\\" + relative;
    for (const plat::FoundFile& found : plat::FindFiles(here + u"\\*")) {
        if (found.name == u"." || found.name == u"..") continue;
        const WString name = relative.empty() ? found.name : relative + u"\\" + found.name;
        files.push_back(name);
        if (found.directory) ListFiles(folder, name, files);
    }
}

bool EndsWith(const WString& text, WStringView suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), WString(suffix)) == 0;
}

// "<database>.<14 digits>[-n].partial" or ".bak" of one of the installation's files.
bool IsKeptCopy(const WString& name) {
    if (!EndsWith(name, u".partial") && !EndsWith(name, u".bak")) return false;
    for (const char* db : {"vuserdat", "data\\DB.s3db", "data\\chat\\Chat.s3db", "extra.s3db"}) {
        const WString stem = FromUtf8(db) + u".";
        if (wstr::StartsWith(name, stem) && name.size() >= stem.size() + 14) return true;
    }
    return false;
}

// The files that may hold the rows of `carried` when they did not reach their target.
std::vector<WString> Candidates(const WString& folder, const Carried& carried) {
    std::vector<WString> paths{Path(folder, carried.target), Path(folder, carried.source),
                               Path(folder, carried.source) + u".tmp"};
    std::vector<WString> files;
    ListFiles(folder, WString(), files);
    const WString stem = FromUtf8(carried.source) + u".";
    for (const WString& name : files) {
        if (wstr::StartsWith(name, stem) && IsKeptCopy(name))
            paths.push_back(folder + u"\\" + name);
    }
    return paths;
}

std::string Script() {
    std::string text =
        "HEAD\n"
        "UPDATETIME=2026-12-08 10:00:00\n"
        "MAIN=8.0.0\n"
        "DATABASEFILE=extra.s3db\n"
        "DBNCOUNT=3\n"
        "DBN1=vuserdat\n"
        "MAINDBVER1=8.0.0.2\n"
        "DBN2=DB.s3db\n"
        "MAINDBVER2=8.0.0.2\n"
        "DBNPATH2=data\n"
        "DBN3=Chat.s3db\n"
        "MAINDBVER3=8.0.0.2\n"
        "DBNPATH3=data\\chat\n";
    auto item = [&text](int db, const char* kind, const char* head, const char* body) {
        text += "<DBNAME:DBN" + std::to_string(db) + ">\n<NAME:" + kind + ">\n" + head +
                "\n<BEGIN>\n" + body + "\n<END>\n";
    };
    const char* version = "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);";
    const char* contact =
        "CREATE TABLE TCONTACT(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_GROUP INTEGER "
        "REFERENCES TGROUP(F_ID) ON DELETE CASCADE, F_NAME TEXT, F_PHOTO BLOB);"
        "CREATE INDEX IX_CONTACT_NAME ON TCONTACT(F_NAME);";
    item(1, "TABLE", "TVERSION", version);
    item(1, "TABLE", "TCONTACT", contact);
    item(1, "TABLE", "TGROUP", "CREATE TABLE TGROUP(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);");
    item(1, "TRIGGER", "TR_CONTACT_DEL",
         "CREATE TRIGGER TR_CONTACT_DEL AFTER DELETE ON TGROUP BEGIN "
         "UPDATE TCONTACT SET F_GROUP = NULL WHERE F_GROUP = old.F_ID; END;");
    item(2, "TABLE", "TVERSION", version);
    item(2, "TABLE", "TMSG",
         "CREATE TABLE TMSG(F_ID INTEGER PRIMARY KEY, F_FROM INTEGER, F_TEXT TEXT, F_AT REAL);"
         "CREATE INDEX IX_MSG_FROM ON TMSG(F_FROM, F_AT);");
    item(2, "ALTER", "TMSG,F_READ", "INTEGER DEFAULT 0");
    item(2, "TRIGGER", "TR_MSG_READ",
         "CREATE TRIGGER TR_MSG_READ AFTER UPDATE OF F_READ ON TMSG BEGIN SELECT 1; END;");
    item(2, "TABLE", "TSETTING", "CREATE TABLE TSETTING(F_KEY TEXT PRIMARY KEY, F_VALUE TEXT);");
    item(2, "TABLE", "TLOG", "CREATE TABLE TLOG(F_TEXT TEXT);");
    item(2, "SQLONE", kTarget, "INSERT INTO TLOG VALUES('upgraded');");
    item(3, "TABLE", "TVERSION", version);
    item(3, "TABLE", "TCONTACT", contact);
    item(3, "TABLE", "TRECENT", "CREATE TABLE TRECENT(F_ID INTEGER);");
    item(3, "SQLTWO", "8.0.0.2,DBN1",
         "INSERT INTO TRECENT SELECT F_ID FROM NEW_DB.TCONTACT WHERE F_ID <= 10;");
    return text;
}

}  // namespace

bool MakeInstallation(const WString& folder, std::string& expected, std::string& error) {
    expected.clear();
    if (!plat::MakeDirectory(folder + u"\\data")) {
        error = "cannot make the data folder";
        return false;
    }
    const std::string rows =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %d) ";
    auto with = [&rows](int count) {
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, rows.c_str(), count);
        return std::string(buffer);
    };
    const bool made =
        Exec(Path(folder, "vuserdat"),
             "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);"
             "INSERT INTO TVERSION VALUES('TMAIN','8.0.0.1'),('TCONTACT','3'),('TGROUP','1');"
             "CREATE TABLE TGROUP(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);" +
                 with(50) + "INSERT INTO TGROUP SELECT i, '分组 ' || i FROM n;" +
                 "CREATE TABLE TCONTACT(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, F_GROUP INTEGER, "
                 "F_NAME TEXT, F_PHOTO BLOB);"
                 "CREATE INDEX IX_CONTACT_NAME ON TCONTACT(F_NAME);" +
                 with(1500) +
                 "INSERT INTO TCONTACT(F_GROUP, F_NAME, F_PHOTO) SELECT i % 50 + 1, "
                 "'联系人 O''Brien; \"' || i, randomblob(64 + i % 200) FROM n;"
                 "DELETE FROM TCONTACT WHERE F_ID > 1480;",
             error) &&
        Exec(Path(folder, "data\\DB.s3db"),
             "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);"
             "INSERT INTO TVERSION VALUES('TMAIN','8.0.0.1'),('TMSG','7');"
             "CREATE TABLE TMSG(F_ID INTEGER PRIMARY KEY, F_FROM INTEGER, F_TEXT TEXT, F_AT REAL);"
             "CREATE INDEX IX_MSG_FROM ON TMSG(F_FROM, F_AT);" +
                 with(3000) +
                 "INSERT INTO TMSG SELECT i, i % 1480, '消息 ' || i || printf('%.*c', i % 300, "
                 "'x'), i * 1.5 FROM n;",
             error) &&
        Exec(Path(folder, "extra.s3db"),
             "CREATE TABLE TSETTING(F_KEY TEXT PRIMARY KEY, F_VALUE TEXT);" + with(30) +
                 "INSERT INTO TSETTING SELECT 'key' || i, '值' || i FROM n;",
             error);
    if (!made) return false;

    int badLine = 0;
    if (!WriteScriptFile(folder + u"\\up.dbr", FromUtf8(Script()), badLine)) {
        error = "cannot write the script (line " + std::to_string(badLine) + ")";
        return false;
    }
    for (const Carried& carried : kCarried) {
        const std::string digest =
            Digest(Path(folder, carried.source), carried.from, carried.columns);
        if (digest.empty()) {
            error = std::string("cannot read ") + carried.source + " " + carried.from;
            return false;
        }
        expected += Key(carried) + "=" + digest + "\n";
    }
    expected +=
        "sequence=" +
        Value(Path(folder, "vuserdat"), "SELECT seq FROM sqlite_sequence WHERE name='TCONTACT'") +
        "\n";
    return true;
}

int RunMigration(const WString& folder, plat::FileSystem* fs) {
    CDBProcess process;
    if (fs != nullptr) process.SetFileSystem(*fs);
    process.m_strInstallDir = folder;
    process.m_bScriptFound = 1;
    process.m_strScriptName = u"up.dbr";
    process.m_strSubVersion = u"8.0.0.5";
    process.m_bInteractive = 0;
    return process.Migrate().nResult;
}

bool CheckInstallation(const WString& folder, const std::string& expected, Strictness strictness,
                       std::vector<std::string>& problems) {
    const size_t before = problems.size();

    for (const Carried& carried : kCarried) {
        const std::string want = ExpectedValue(expected, Key(carried));
        if (strictness == Strictness::kMigrated) {
            const std::string got =
                Digest(Path(folder, carried.target), carried.from, carried.columns);
            if (got != want) {
                problems.push_back(std::string(carried.target) + ": " + carried.from + " has " +
                                   (got.empty() ? "no readable rows" : got) + ", expected " + want);
            }
            continue;
        }
        bool found = false;
        for (const WString& path : Candidates(folder, carried)) {
            if (Digest(path, carried.from, carried.columns) == want) found = true;
        }
        if (!found) {
            problems.push_back("rows of " + std::string(carried.source) + " " + carried.from +
                               " are nowhere (expected " + want + ")");
        }
    }
    if (strictness == Strictness::kNothingLost) return problems.size() == before;

    auto expect = [&](const char* db, const std::string& sql, const std::string& want) {
        const std::string got = Value(Path(folder, db), sql);
        if (got != want)
            problems.push_back(std::string(db) + ": " + sql + " gives " + got + ", expected " +
                               want);
    };
    for (const char* db : kDatabases) {
        expect(db, "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='TMAIN'", kTarget);
        expect(db, "PRAGMA integrity_check", "ok");
    }
    expect("vuserdat", "SELECT seq FROM sqlite_sequence WHERE name='TCONTACT'",
           ExpectedValue(expected, "sequence"));
    expect("vuserdat",
           "SELECT count(*) FROM sqlite_master WHERE name IN ('IX_CONTACT_NAME', 'TR_CONTACT_DEL')",
           "2");
    expect("data\\DB.s3db", "SELECT group_concat(F_TEXT) FROM TLOG", "upgraded");
    expect("data\\DB.s3db", "SELECT count(*) FROM pragma_table_info('TMSG') WHERE name='F_READ'",
           "1");
    expect("data\\DB.s3db",
           "SELECT count(*) FROM sqlite_master WHERE name IN ('IX_MSG_FROM', 'TR_MSG_READ')", "2");
    expect("data\\chat\\Chat.s3db", "SELECT count(*) || ',' || sum(F_ID) FROM TRECENT", "10,55");

    const std::set<WString> allowed{u"up.dbr",        u"vuserdat",   u"data",
                                    u"data\\DB.s3db", u"data\\chat", u"data\\chat\\Chat.s3db",
                                    u"log",           u"configure",  u"configure\\update.xml",
                                    u"ReData.log"};
    std::vector<WString> files;
    ListFiles(folder, WString(), files);
    for (const WString& name : files) {
        if (allowed.count(name) != 0 || IsKeptCopy(name)) continue;
        if (wstr::StartsWith(name, u"log\\") && EndsWith(name, u".log")) continue;
        problems.push_back("stray file: " + ToUtf8(name));
    }
    return problems.size() == before;
}

bool CheckClientView(const WString& folder, const std::string& expected,
                     std::vector<std::string>& problems) {
    const size_t before = problems.size();
    for (const char* db : kDatabases) {
        const WString path = Path(folder, db);
        if (!plat::PathExists(path)) {
            std::string marker;
            const bool inTheSwap = plat::ReadWholeFile(path + u".migrating", marker) &&
                                   marker.find("\nbuilt\n") != std::string::npos &&
                                   plat::PathExists(path + u".new");
            // Chat.s3db is made by the migration: before it, there is none.
            const bool isNew = std::string(db) == "data\\chat\\Chat.s3db";
            if (!inTheSwap && !isNew) problems.push_back(std::string(db) + ": missing");
            continue;
        }
        // The client's first read rolls back what a killed writer left half done.
        const std::string integrity = Value(path, "PRAGMA integrity_check");
        if (integrity != "ok") {
            problems.push_back(std::string(db) + ": integrity_check gives " + integrity);
            continue;
        }
        const bool migrated =
            Value(path, "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='TMAIN'") == kTarget;
        for (const Carried& carried : kCarried) {
            // A new file must hold what it receives; an old one what it had.
            const bool mine = std::string(migrated ? carried.target : carried.source) == db;
            if (!mine || (!migrated && std::string(carried.target) != db)) continue;
            const std::string got = Digest(path, carried.from, carried.columns);
            const std::string want = ExpectedValue(expected, Key(carried));
            if (got != want) {
                problems.push_back(std::string(db) + (migrated ? " (new)" : " (old)") + ": " +
                                   carried.from + " has " + (got.empty() ? "no rows" : got) +
                                   ", expected " + want);
            }
        }
    }
    return problems.size() == before;
}

int CountKeptFiles(const WString& folder, WStringView suffix) {
    std::vector<WString> files;
    ListFiles(folder, WString(), files);
    int count = 0;
    for (const WString& name : files) {
        if (IsKeptCopy(name) && EndsWith(name, suffix)) ++count;
    }
    return count;
}

}  // namespace reliability
