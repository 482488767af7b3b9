#include "dbrtool/dry_run.h"

#include <sqlite3.h>

#include <memory>

#include "db/db_connection.h"
#include "platform/codepage.h"

namespace dbrtool {
namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The columns of `table` in the connection's main database, in order.
std::vector<std::string> ColumnsOf(CDBConnection& db, const WString& table) {
    std::vector<std::string> columns;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.Handle(), "SELECT name FROM pragma_table_xinfo(?1, 'main');", -1,
                           &raw, nullptr) != SQLITE_OK) {
        return columns;
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, &sqlite3_finalize);
    const std::string name = ToUtf8(table);
    sqlite3_bind_text(raw, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    while (sqlite3_step(raw) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(raw, 0);
        columns.emplace_back(text == nullptr ? "" : reinterpret_cast<const char*>(text));
    }
    return columns;
}

// Files open at once; a script with items for more databases is tried for the first ones.
constexpr size_t kMaxDatabases = 256;

std::set<std::string> TablesOf(CDBConnection& db) {
    std::set<std::string> tables;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.Handle(), "SELECT name FROM sqlite_master WHERE type='table';", -1,
                           &raw, nullptr) != SQLITE_OK) {
        return tables;
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, &sqlite3_finalize);
    while (sqlite3_step(raw) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(raw, 0);
        if (text != nullptr) tables.insert(Upper(reinterpret_cast<const char*>(text)));
    }
    return tables;
}

}  // namespace

bool RunDry(CScriptFile& script, const std::set<int>& listed, DryRun& result) {
    result = DryRun();
    ScratchFolder scratch(u"dbrtool-dry");
    if (!scratch.IsValid()) return false;
    // A file for each database that has items, made when its first item comes.
    std::map<int, std::unique_ptr<CDBConnection>> files;

    using Outcome = DryRunItem::Outcome;
    script.Rewind();
    ScriptItem item;
    while (script.ReadItem(item)) {
        if (listed.count(item.nDbIndex) == 0) continue;
        auto found = files.find(item.nDbIndex);
        if (found == files.end()) {
            if (files.size() >= kMaxDatabases) {
                result.bIncomplete = true;
                continue;
            }
            auto db = std::make_unique<CDBConnection>();
            if (db->OpenDatabase(scratch.Path() + u"\\" + wstr::FromInt(item.nDbIndex) +
                                 u".s3db") == 0) {
                return false;
            }
            db->DeferSyncs();
            found = files.emplace(item.nDbIndex, std::move(db)).first;
        }
        CDBConnection& db = *found->second;
        DryRunItem dry;
        dry.nLine = script.GetItemLine();
        dry.item = item;
        auto ran = [&](bool ok) {
            dry.outcome = ok ? Outcome::kDone : Outcome::kFailed;
            if (!ok) dry.strError = db.LastError();
        };
        switch (item.nType) {
            case ITEM_TABLE:
                if (db.TableExists(item.strName) == 1) {
                    dry.outcome = Outcome::kPresent;
                    break;
                }
                ran(db.ExecuteAnsi(item.strSql) == 1);
                dry.bMadeTable = db.TableExists(item.strName) == 1;
                if (dry.bMadeTable) dry.columns = ColumnsOf(db, item.strName);
                break;
            case ITEM_ALTER:
                if (item.strName.empty() || item.strColumn.empty()) break;
                if (db.ColumnExists(item.strName, item.strColumn) == 1) {
                    dry.outcome = Outcome::kPresent;
                } else {
                    ran(db.AddColumn(item.strName, item.strColumn, item.strSql) == 1);
                }
                break;
            case ITEM_TRIGGER:
                if (db.TriggerExists(item.strName) == 1) {
                    dry.outcome = Outcome::kPresent;
                } else {
                    ran(db.CreateTrigger(item.strSql) == 1);
                }
                break;
            case ITEM_SQLONE:
                ran(db.ExecuteWhole(item.strSql) == 1);
                break;
            default:
                break;
        }
        result.items.push_back(std::move(dry));
    }
    script.Rewind();
    for (auto& [n, db] : files) {
        result.tables[n] = TablesOf(*db);
        db->Close();
    }
    return true;
}

}  // namespace dbrtool
