// The upgrade script: its header keys and its items, read from the descrambled lines.
//
// A tag line starts with "<" and holds a ">" somewhere; its inner text is the line
// without its first and last character. Every other line is a text line. The header
// starts at the first line beginning with "HEAD"; from there on a line KEY=value gives a
// key, the first matching line winning. Items follow, each one
//
//     <DBNAME:DBNn>   database number n
//     <NAME:kind>     TABLE, ALTER, TRIGGER, SQLONE or SQLTWO
//     text lines      name / version, quotes removed, joined with nothing between
//     <BEGIN>
//     text lines      the body, joined the same way
//     <END>
//
// Readers return true when they found what they looked for and hand values back
// through reference parameters; they write no log lines, the caller decides what a
// missing key or a malformed item means.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/wstr.h"
#include "script/crypt_file.h"

// Item kinds, as the NAME tag names them.
enum : int {
    ITEM_TABLE = 1,
    ITEM_ALTER = 2,
    ITEM_TRIGGER = 3,
    ITEM_SQLONE = 4,
    ITEM_SQLTWO = 5,
};

// One item as ReadItem hands it over. Which fields carry a value depends on the kind:
// TABLE and TRIGGER fill strName; ALTER strName and strColumn; SQLONE strVersion; SQLTWO
// strVersion, strColumn and nRefDbIndex. strSql is the body of every kind.
struct ScriptItem {
    int nType = 0;
    int nDbIndex = 0;
    WString strName;
    WString strSql;
    WString strVersion;
    int nRefDbIndex = 0;
    WString strColumn;
};

// Why the last ReadItem found a malformed item.
enum class ItemError {
    kNone,       // an item was read, or no further item begins
    kNoNameTag,  // a DBNAME tag but no NAME tag before the end of the file
    kNoKind,     // the NAME tag names none of the five kinds
    kNoText,     // the line after the NAME tag is not a text line
    kNoBegin,    // no BEGIN tag before the end of the file
    kNoEnd,      // no END tag after BEGIN before the end of the file
};

// A short English description of an item error, for tools and log lines.
const char* DescribeItemError(ItemError error);

class CScriptFile {
public:
    CScriptFile() = default;
    ~CScriptFile() { Close(); }
    CScriptFile(const CScriptFile&) = delete;
    CScriptFile& operator=(const CScriptFile&) = delete;

    // Opens the script read-only, shared for reading; it is never created or written.
    // Closes an open script first, even when this open then fails. On failure returns
    // false, logs the path, and keeps the previous path in GetFilePath().
    bool Open(const WString& path);
    // The script whose bytes were read already, under the name `path`.
    void OpenBytes(const WString& path, std::string bytes);
    // True when a script was open and is now closed.
    bool Close();
    bool IsOpen() const { return m_file.IsOpen(); }
    // Back to the first line; nothing when closed.
    void Rewind();
    // The path of the last successful Open.
    const WString& GetFilePath() const { return m_strFilePath; }

    int64_t GetPosition() const { return m_file.GetPosition(); }
    bool Seek(int64_t offset) { return m_file.Seek(offset); }
    // 1-based number of the line read last (by any reader); 0 before any.
    int GetLineNumber() const { return m_file.GetLineNumber(); }

    // The header keys read by prefix: the first line after the HEAD line that starts
    // with the key and holds a "=" gives the text after that "=", untrimmed. A line
    // MAINDBVER1=... therefore matches MAIN too. Each empties `value` first.
    bool ReadUpdateTime(WString& value);
    bool ReadDatabaseFile(WString& value);
    bool ReadMain(WString& value);
    // An exact key: the first line after the HEAD line whose text before its first "="
    // is `key` itself (so DBN1 does not match DBN10=... nor DBN1 =...). Empties `value`
    // first.
    bool ReadHeaderValue(const WString& key, WString& value);

    // Reads the next item from the current position into a cleared `item`. False at the
    // end of the items or at a malformed item; GetItemLine() tells which.
    bool ReadItem(ScriptItem& item);
    // 1-based line of the DBNAME (or, without one, NAME) tag that began the item the last
    // ReadItem read or failed to read; 0 when it found no further item.
    int GetItemLine() const { return m_nItemLine; }
    // What was wrong with the item at GetItemLine() when ReadItem returned false.
    ItemError GetItemError() const { return m_itemError; }
    // 1-based line of a tag of another item that the last ReadItem skipped over, losing
    // that item (a DBNAME tag inside an item that misses its NAME, BEGIN or END tag, or a
    // NAME tag of an item without a DBNAME tag); 0 when none was.
    int GetLostItemLine() const { return m_nLostItemLine; }

    // The steps of ReadItem. The tag readers skip everything up to the first tag whose
    // inner text starts with "DBNAME:" / "NAME:" and give the rest of that inner text;
    // at the end of the file they return false and leave `value` alone.
    bool ReadDbNameTag(WString& value);
    bool ReadNameTag(WString& value);
    // Appends the text lines that follow (quotes removed) up to the next tag line, and
    // leaves the position at that tag line. True when at least one line was appended.
    bool ReadItemText(WString& text);
    // Skips to a tag holding "BEGIN", then appends the text lines (quotes removed) up to
    // a tag holding "END"; other tags in between are dropped. False when either tag is
    // missing before the end of the file.
    bool ReadItemBody(WString& body);

    static bool IsTagLine(WStringView line);
    // The text without its first and last character.
    static WString StripTag(WStringView text);

private:
    bool ReadPrefixKey(WStringView key, WString& value);
    bool ReadTag(WStringView prefix, WString& value);
    void NoteLostItem();
    // ReadItemBody, telling also whether the BEGIN tag was seen.
    bool ReadBody(WString& body, bool& sawBegin);
    void BuildHeaderIndex();

    WString m_strFilePath;
    CCryptFile m_file;
    // Exact header keys, each with the offset of the first line after the HEAD line that
    // carries it: built on the first lookup, so the n keys of the database list cost one
    // pass over the script instead of n.
    std::unordered_map<WString, int64_t> m_headerIndex;
    bool m_bHeaderIndexed = false;
    int m_nItemLine = 0;
    int m_nLostItemLine = 0;
    ItemError m_itemError = ItemError::kNone;
};
