#include "engine/carry_ledger.h"

#include "platform/codepage.h"

std::string CarryLedger::Key(const WString& table) { return ToUtf8(wstr::ToUpper(table)); }

void CarryLedger::AddSource(const WString& source, int owner,
                            const std::vector<WString>& tablesWithRows) {
    Source& entry = m_sources[source];
    entry.owner = owner;
    entry.tables = tablesWithRows;
}

void CarryLedger::Carried(const WString& source, const WString& table, int into) {
    m_sources[source].carriedInto[Key(table)].insert(into);
}

std::vector<std::pair<WString, WString>> CarryLedger::CarriedInto(int into) const {
    std::vector<std::pair<WString, WString>> carried;
    for (const auto& [path, source] : m_sources) {
        for (const auto& [key, databases] : source.carriedInto) {
            if (databases.count(into) != 0) carried.emplace_back(path, FromUtf8(key));
        }
    }
    return carried;
}

std::vector<WString> CarryLedger::Uncarried(const WString& source,
                                            const std::set<int>& replaced) const {
    std::vector<WString> left;
    auto found = m_sources.find(source);
    if (found == m_sources.end()) return left;
    for (const WString& table : found->second.tables) {
        auto into = found->second.carriedInto.find(Key(table));
        bool carried = false;
        if (into != found->second.carriedInto.end()) {
            for (int n : into->second) {
                if (replaced.count(n) != 0) carried = true;
            }
        }
        if (!carried) left.push_back(table);
    }
    return left;
}

void CarryLedger::Settle(std::set<int>& replaceable,
                         std::vector<std::pair<int, WString>>& left) const {
    for (bool changed = true; changed;) {
        changed = false;
        for (const auto& [path, source] : m_sources) {
            if (source.owner == 0 || replaceable.count(source.owner) == 0) continue;
            const std::vector<WString> uncarried = Uncarried(path, replaceable);
            if (uncarried.empty()) continue;
            replaceable.erase(source.owner);
            for (const WString& table : uncarried)
                left.emplace_back(source.owner, table);
            changed = true;
        }
    }
}
