#include "script/script_file.h"

#include "log/log.h"

namespace {

constexpr WStringView kHeaderStart = u"HEAD";

void AppendWithoutQuotes(WString& out, const WString& line) {
    for (char16_t c : line) {
        if (c != u'"') out.push_back(c);
    }
}

// The number after the first "DBN" of `text`, read leniently; false without "DBN".
bool DatabaseNumber(const WString& text, int& number, WString* rest = nullptr) {
    size_t at = text.find(u"DBN");
    if (at == WString::npos) return false;
    WStringView after = WStringView(text).substr(at + 3);
    number = wstr::ToInt(after);
    if (rest != nullptr) *rest = WString(after);
    return true;
}

// Which kind a NAME tag names; 0 for none. TABLE wins outright; of the other words the
// last one found in this order counts (ALTER and SQLONE together give SQLONE).
int KindOf(const WString& name) {
    if (wstr::Contains(name, u"TABLE")) return ITEM_TABLE;
    int kind = 0;
    if (wstr::Contains(name, u"ALTER")) kind = ITEM_ALTER;
    if (wstr::Contains(name, u"TRIGGER")) kind = ITEM_TRIGGER;
    if (wstr::Contains(name, u"SQLONE")) kind = ITEM_SQLONE;
    if (wstr::Contains(name, u"SQLTWO")) kind = ITEM_SQLTWO;
    return kind;
}

}  // namespace

const char* DescribeItemError(ItemError error) {
    switch (error) {
        case ItemError::kNone:
            return "no error";
        case ItemError::kNoNameTag:
            return "no <NAME:...> tag follows the <DBNAME:...> tag";
        case ItemError::kNoKind:
            return "the NAME tag names none of TABLE, ALTER, TRIGGER, SQLONE, SQLTWO";
        case ItemError::kNoText:
            return "no text line follows the NAME tag";
        case ItemError::kNoBegin:
            return "no <BEGIN> tag before the end of the file";
        case ItemError::kNoEnd:
            return "no <END> tag after <BEGIN> before the end of the file";
    }
    return "unknown error";
}

bool CScriptFile::Open(const WString& path) {
    m_headerIndex.clear();
    m_bHeaderIndexed = false;
    m_nItemLine = 0;
    m_itemError = ItemError::kNone;
    if (!m_file.Open(path)) {
        WriteLog(kLogCategory, kLogLevel, u"打开升级脚本失败: " + path);
        return false;
    }
    m_strFilePath = path;
    return true;
}

void CScriptFile::OpenBytes(const WString& path, std::string bytes) {
    m_headerIndex.clear();
    m_bHeaderIndexed = false;
    m_nItemLine = 0;
    m_itemError = ItemError::kNone;
    m_file.OpenBytes(std::move(bytes));
    m_strFilePath = path;
}

bool CScriptFile::Close() {
    m_headerIndex.clear();
    m_bHeaderIndexed = false;
    return m_file.Close();
}

void CScriptFile::Rewind() {
    if (IsOpen()) m_file.Seek(0);
}

bool CScriptFile::IsTagLine(WStringView line) {
    return !line.empty() && line.front() == u'<' && line.find(u'>') != WStringView::npos;
}

WString CScriptFile::StripTag(WStringView text) {
    if (text.size() < 2) return WString();
    return WString(text.substr(1, text.size() - 2));
}

bool CScriptFile::ReadPrefixKey(WStringView key, WString& value) {
    value.clear();
    if (!IsOpen()) return false;
    Rewind();
    bool inHeader = false;
    WString line;
    while (m_file.ReadString(line)) {
        if (wstr::StartsWith(line, kHeaderStart)) inHeader = true;
        if (!inHeader || !wstr::StartsWith(line, key)) continue;
        size_t equals = line.find(u'=');
        if (equals == WString::npos) continue;
        value = line.substr(equals + 1);
        return true;
    }
    return false;
}

bool CScriptFile::ReadUpdateTime(WString& value) { return ReadPrefixKey(u"UPDATETIME", value); }

bool CScriptFile::ReadDatabaseFile(WString& value) { return ReadPrefixKey(u"DATABASEFILE", value); }

bool CScriptFile::ReadMain(WString& value) { return ReadPrefixKey(u"MAIN", value); }

void CScriptFile::BuildHeaderIndex() {
    m_headerIndex.clear();
    Rewind();
    bool inHeader = false;
    WString line;
    for (;;) {
        int64_t start = m_file.GetPosition();
        if (!m_file.ReadString(line)) break;
        if (wstr::StartsWith(line, kHeaderStart)) inHeader = true;
        if (!inHeader) continue;
        size_t equals = line.find(u'=');
        if (equals == WString::npos) continue;
        m_headerIndex.emplace(line.substr(0, equals), start);  // the first line wins
    }
    m_bHeaderIndexed = true;
}

bool CScriptFile::ReadHeaderValue(const WString& key, WString& value) {
    value.clear();
    if (!IsOpen()) return false;
    if (!m_bHeaderIndexed) BuildHeaderIndex();
    auto it = m_headerIndex.find(key);
    if (it == m_headerIndex.end()) {
        // Where a scan that found nothing would have stopped.
        m_file.Seek(m_file.GetLength() & ~int64_t{1});
        return false;
    }
    // Read the line itself, so that the position and line number end up where a scan
    // would have left them: just after the matching line.
    WString line;
    m_file.Seek(it->second);
    if (!m_file.ReadString(line)) return false;
    value = line.substr(line.find(u'=') + 1);
    return true;
}

bool CScriptFile::ReadTag(WStringView prefix, WString& value) {
    if (!IsOpen()) return false;
    WString line;
    while (m_file.ReadString(line)) {
        if (!IsTagLine(line)) continue;
        WString inner = StripTag(line);
        if (wstr::StartsWith(inner, prefix)) {
            value = inner.substr(prefix.size());
            return true;
        }
        // Skipping the first tag of another item loses that item.
        if (wstr::StartsWith(inner, prefix == u"DBNAME:" ? u"NAME:" : u"DBNAME:")) {
            NoteLostItem();
        }
    }
    return false;
}

void CScriptFile::NoteLostItem() {
    if (m_nLostItemLine == 0) m_nLostItemLine = GetLineNumber();
}

bool CScriptFile::ReadDbNameTag(WString& value) { return ReadTag(u"DBNAME:", value); }

bool CScriptFile::ReadNameTag(WString& value) { return ReadTag(u"NAME:", value); }

bool CScriptFile::ReadItemText(WString& text) {
    if (!IsOpen()) return false;
    int64_t mark = m_file.GetPosition();
    bool found = false;
    WString line;
    while (m_file.ReadString(line)) {
        if (IsTagLine(line)) break;
        AppendWithoutQuotes(text, line);
        found = true;
        mark = m_file.GetPosition();
    }
    // The tag that ended the text is read again by the body reader.
    m_file.Seek(mark);
    return found;
}

bool CScriptFile::ReadBody(WString& body, bool& sawBegin) {
    sawBegin = false;
    if (!IsOpen()) return false;
    WString line;
    while (m_file.ReadString(line)) {
        if (IsTagLine(line)) {
            WString inner = StripTag(line);
            if (wstr::StartsWith(inner, u"DBNAME:")) NoteLostItem();
            if (!sawBegin) {
                if (wstr::Contains(inner, u"BEGIN")) sawBegin = true;
            } else if (wstr::Contains(inner, u"END")) {
                return true;
            }
        } else if (sawBegin) {
            AppendWithoutQuotes(body, line);
        }
    }
    return false;
}

bool CScriptFile::ReadItemBody(WString& body) {
    bool sawBegin = false;
    return ReadBody(body, sawBegin);
}

bool CScriptFile::ReadItem(ScriptItem& item) {
    m_nItemLine = 0;
    m_nLostItemLine = 0;
    m_itemError = ItemError::kNone;
    if (!IsOpen()) return false;
    // The caller reuses one record for the whole pass: clearing it keeps a field that
    // this item does not set (an ALTER without a column, an SQLTWO without a second
    // database) from carrying the previous item's value into this one.
    item = ScriptItem();

    WString dbName;
    if (ReadDbNameTag(dbName)) {
        m_nItemLine = GetLineNumber();
        DatabaseNumber(dbName, item.nDbIndex);
    }
    WString name;
    if (!ReadNameTag(name)) {
        if (m_nItemLine != 0) m_itemError = ItemError::kNoNameTag;
        return false;
    }
    if (m_nItemLine == 0) m_nItemLine = GetLineNumber();
    item.nType = KindOf(name);
    if (item.nType == 0) {
        m_itemError = ItemError::kNoKind;
        return false;
    }

    WString text;
    if (!ReadItemText(text)) {
        m_itemError = ItemError::kNoText;
        return false;
    }
    size_t comma = text.find(u',');
    switch (item.nType) {
        case ITEM_SQLTWO:
            item.strVersion = text;
            if (comma != WString::npos) {
                item.strColumn = text.substr(comma + 1);
                item.strVersion = text.substr(0, comma);
                WString rest;
                if (DatabaseNumber(item.strColumn, item.nRefDbIndex, &rest)) {
                    item.strColumn = rest;
                }
            }
            break;
        case ITEM_ALTER:
            item.strName = text;
            if (comma != WString::npos) {
                item.strColumn = text.substr(comma + 1);
                item.strName = text.substr(0, comma);
            }
            break;
        case ITEM_SQLONE:
            item.strVersion = text;
            break;
        default:  // ITEM_TABLE, ITEM_TRIGGER
            item.strName = text;
            break;
    }

    WString body;
    bool sawBegin = false;
    if (!ReadBody(body, sawBegin)) {
        m_itemError = sawBegin ? ItemError::kNoEnd : ItemError::kNoBegin;
        return false;
    }
    item.strSql = std::move(body);
    return true;
}
