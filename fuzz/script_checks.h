// What every reader of an upgrade script must hold to, whatever bytes the file has: the
// script fuzz targets run the same checks. A failed check aborts, so that the fuzzer (or
// the replay test) reports it as a crash.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "script/database_header.h"
#include "script/script_file.h"

namespace fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

// A file of this process's own, in a temporary folder removed at exit: the readers take
// a path.
class ScratchFile {
public:
    ScratchFile()
        : m_folder(plat::MakeTempFolder(u"quorvel-fuzz")), m_path(m_folder + u"\\input") {}
    ~ScratchFile() {
        if (!m_folder.empty()) plat::RemoveTree(m_folder);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Replaces the file's bytes; its path.
    const WString& Write(const uint8_t* data, size_t size) {
        plat::File file;
        Check(file.Open(m_path, plat::File::Mode::kCreateTruncate));
        Check(size == 0 || file.Write(data, size));
        return m_path;
    }

private:
    WString m_folder;
    WString m_path;
};

inline bool HasQuote(const WString& text) { return text.find(u'"') != WString::npos; }

// Runs every reader over the script at `path` of `size` bytes and checks what it gives.
inline void CheckScript(const WString& path, size_t size) {
    CScriptFile script;
    Check(script.Open(path));
    // A value is the rest of one line: it never holds a line feed.
    WString value = u"stale";
    for (bool (CScriptFile::*reader)(WString&) :
         {&CScriptFile::ReadUpdateTime, &CScriptFile::ReadDatabaseFile, &CScriptFile::ReadMain}) {
        value = u"stale";
        if (!(script.*reader)(value)) Check(value.empty());
        Check(value.find(u'\n') == WString::npos);
    }

    DatabaseHeader header;
    Check(ReadDatabaseHeader(script, header));
    const size_t units = size / 2;
    // Each database takes a line of its own.
    Check(header.databases.size() <= units + 1);
    for (size_t i = 0; i < header.databases.size(); ++i) {
        Check(header.databases[i].nIndex == static_cast<int>(i + 1));
        Check(header.databases[i].strDbName.find(u'\n') == WString::npos);
    }
    if (!header.bHasCount) Check(header.databases.empty());

    // The item pass ends, twice the same way: an item takes at least four lines.
    int counts[2] = {0, 0};
    for (int& count : counts) {
        script.Rewind();
        ScriptItem item;
        while (script.ReadItem(item)) {
            ++count;
            Check(static_cast<size_t>(count) <= units / 4 + 1);
            Check(item.nType >= ITEM_TABLE && item.nType <= ITEM_SQLTWO);
            Check(!HasQuote(item.strSql) && !HasQuote(item.strName) && !HasQuote(item.strVersion) &&
                  !HasQuote(item.strColumn));
            Check(script.GetItemLine() > 0);
        }
        if (script.GetItemError() != ItemError::kNone) Check(script.GetItemLine() > 0);
    }
    Check(counts[0] == counts[1]);
}

}  // namespace fuzz
