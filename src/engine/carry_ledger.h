// Which rows a run has carried, and so which databases may take their new files.
//
// Every file rows are read from (a database's old file, the extra data file) is a source,
// known by a name that stays the same wherever the file is: a database's path for its old
// rows (at its path while it is built, as "<path>.tmp" after), the extra file's path. A
// source owned by a database is that database's own old file: the database may be replaced
// only when every table of it that holds rows was carried into a database that is replaced
// too. Tables are named as SQLite names them: ASCII letters match without regard to case.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/wstr.h"

class CarryLedger {
public:
    // A source and the tables of it that hold rows; `owner` is the number of the database
    // whose old file it is, or 0 for one no database owns.
    void AddSource(const WString& source, int owner, const std::vector<WString>& tablesWithRows);
    // All of `table` of `source` was copied into the new file of database `into`.
    void Carried(const WString& source, const WString& table, int into);
    // Every (source, table) carried into database `into`.
    std::vector<std::pair<WString, WString>> CarriedInto(int into) const;

    // Narrows `replaceable` (the databases whose new files were built without fault) to
    // those whose own sources had every table with rows carried into a database that stays
    // in the set; what a database drops out for may make another drop out. `left` receives,
    // for each database that dropped out, its table that was not carried.
    void Settle(std::set<int>& replaceable, std::vector<std::pair<int, WString>>& left) const;
    // The tables with rows of `source` that were not carried into any of `replaced`.
    std::vector<WString> Uncarried(const WString& source, const std::set<int>& replaced) const;

private:
    static std::string Key(const WString& table);
    struct Source {
        int owner = 0;
        std::vector<WString> tables;
        std::map<std::string, std::set<int>> carriedInto;
    };
    std::map<WString, Source> m_sources;
};
