// Loads a large upgrade script the way the migration does (header keys, the database
// list, then every item) and prints how long that takes.
//
//     script_load [items] [databases] [runs]      defaults: 10000 50 5
//
// The script is generated into a temporary folder and removed afterwards. The first load
// is not counted; each counted run opens the script afresh, so reading and descrambling
// the file is part of the time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "script/database_header.h"
#include "script/script_codec.h"
#include "script/script_file.h"

namespace {

WString Number(int64_t n) { return wstr::FromInt(n); }

WString MakeScript(int items, int databases) {
    WString text = u"HEAD\nUPDATETIME=2024-01-01 00:00:00\nMAIN=8.0.0\n";
    text += u"DATABASEFILE=extra.s3db\nDBNCOUNT=" + Number(databases) + u"\n";
    for (int n = 1; n <= databases; ++n) {
        text += u"DBN" + Number(n) + u"=数据" + Number(n) + u".s3db\n";
        text += u"MAINDBVER" + Number(n) + u"=8.0.0." + Number(n) + u"\n";
        text += u"DBNPATH" + Number(n) + u"=用户\\db" + Number(n) + u"\n";
    }
    for (int i = 0; i < items; ++i) {
        const WString db = Number(i % databases + 1);
        const WString table = u"T" + Number(i / 5);
        text += u"<DBNAME:DBN" + db + u">\n";
        switch (i % 5) {
            case 0:
                text += u"<NAME:TABLE>\n" + table + u"\n<BEGIN>\nCREATE TABLE " + table +
                        u" (F_ID INTEGER PRIMARY KEY, \nF_NAME TEXT DEFAULT '用户', \n"
                        u"F_TIME TEXT);\n<END>\n";
                break;
            case 1:
                text += u"<NAME:ALTER>\n" + table + u",F_NICK\n<BEGIN>\nTEXT\n<END>\n";
                break;
            case 2:
                text += u"<NAME:TRIGGER>\nTR_" + table + u"\n<BEGIN>\nCREATE TRIGGER TR_" + table +
                        u" AFTER INSERT ON " + table + u" \nBEGIN UPDATE " + table +
                        u" SET F_TIME = datetime('now'); END;\n<END>\n";
                break;
            case 3:
                text += u"<NAME:SQLONE>\n8.0.0.1\n<BEGIN>\nINSERT INTO " + table +
                        u" (F_NAME) VALUES ('\"默认\"');\n<END>\n";
                break;
            default:
                text += u"<NAME:SQLTWO>\n8.0.0.1,DBN" + db + u"\n<BEGIN>\nINSERT INTO " + table +
                        u" SELECT * FROM NEW_DB." + table + u";\n<END>\n";
                break;
        }
    }
    return text;
}

struct LoadResult {
    int items = 0;
    size_t databases = 0;
    int lines = 0;
};

// The migration's order: update time, client version, database list, data files, then
// the item pass from the top.
bool LoadLikeTheMigration(const WString& script, LoadResult& result) {
    CScriptFile file;
    if (!file.Open(script)) return false;
    WString value;
    file.ReadUpdateTime(value);
    file.ReadMain(value);
    DatabaseHeader header;
    ReadDatabaseHeader(file, header);
    file.ReadDatabaseFile(value);
    file.Rewind();
    ScriptItem item;
    result.items = 0;
    while (file.ReadItem(item))
        ++result.items;
    result.databases = header.databases.size();
    result.lines = file.GetLineNumber();
    return file.GetItemLine() == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int items = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int databases = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

    const WString folder = plat::MakeTempFolder(u"script-load");
    if (folder.empty()) {
        std::fprintf(stderr, "script_load: cannot make a temporary folder\n");
        return 1;
    }
    const WString script = folder + u"\\bench.dbr";
    int badLine = 0;
    if (!WriteScriptFile(script, MakeScript(items, databases), badLine)) {
        std::fprintf(stderr, "script_load: cannot write the script (line %d)\n", badLine);
        plat::RemoveTree(folder);
        return 1;
    }

    LoadResult result;
    bool ok = LoadLikeTheMigration(script, result);
    std::vector<double> seconds;
    for (int run = 0; ok && run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        ok = LoadLikeTheMigration(script, result);
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        seconds.push_back(elapsed.count());
    }
    const int64_t bytes = plat::FileSize(script);
    plat::RemoveTree(folder);
    if (!ok || result.items != items || result.databases != static_cast<size_t>(databases)) {
        std::fprintf(stderr, "script_load: read %d items and %zu databases, expected %d and %d\n",
                     result.items, result.databases, items, databases);
        return 1;
    }

    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("script: %d items, %d databases, %d lines, %lld bytes, code page %u\n", items,
                databases, result.lines, static_cast<long long>(bytes), plat::AnsiCodePage());
    std::printf("load (open, header keys, database list, all items), %d runs:\n", runs);
    std::printf("  best %.1f ms, median %.1f ms, %.0f lines per second (median)\n",
                seconds.front() * 1000, median * 1000, result.lines / median);
    return 0;
}
