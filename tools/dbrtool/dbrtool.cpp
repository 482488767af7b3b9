#include "dbrtool/dbrtool.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "dbrtool/lint.h"
#include "dbrtool/verify.h"
#include "engine/script_check.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "script/crypt_file.h"
#include "script/database_header.h"
#include "script/script_codec.h"
#include "script/script_file.h"

namespace dbrtool {
namespace {

std::string U8(WStringView text) { return ToUtf8(text); }

// A text from the input as a terminal should get it: control characters (C0, DEL and C1)
// made visible as \r, \n, \t or \xNN, so that a script cannot move the cursor, clear
// the screen or retitle the window of the person checking it; and bytes of a file name
// that are no text (kept as U+DC80-U+DCFF by the path layer) as \xNN too.
std::string Printable(WStringView text) {
    static const char kDigits[] = "0123456789ABCDEF";
    WString shown;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool lowSurrogate = c >= 0xDC00 && c <= 0xDFFF;
        const bool paired = lowSurrogate && i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
        if (c == u'\r') {
            shown += u"\\r";
        } else if (c == u'\n') {
            shown += u"\\n";
        } else if (c == u'\t') {
            shown += u"\\t";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) ||
                   (lowSurrogate && !paired && c >= 0xDC80 && c <= 0xDCFF)) {
            const unsigned value = c >= 0xDC00 ? c - 0xDC00 : c;
            shown += u"\\x";
            shown.push_back(static_cast<char16_t>(kDigits[(value >> 4) & 0xF]));
            shown.push_back(static_cast<char16_t>(kDigits[value & 0xF]));
        } else {
            shown.push_back(c);
        }
    }
    return U8(shown);
}

// A value as the user should see it: quoted, with control characters made visible.
std::string Shown(WStringView value) { return "\"" + Printable(value) + "\""; }

std::string Hex(uint32_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4)
        text.push_back(kDigits[(value >> shift) & 0xF]);
    if (value > 0xFFFF) text.insert(0, 1, kDigits[(value >> 16) & 0xF]);
    return text;
}

std::string CodePageName() { return "code page " + std::to_string(plat::AnsiCodePage()); }

// A file name as the user typed it, fit for a terminal ("-" is standard input).
std::string Name(const WString& path) {
    return path == u"-" ? std::string("standard input") : Printable(plat::ToNativePath(path));
}

// Why the system refused the last file operation, for the end of a message.
std::string Why() { return " (" + Printable(plat::LastFailure()) + ")"; }

// Reads an input whole, once (a pipe cannot be read twice), refusing what is no file or
// holds nothing. "-" is standard input.
bool ReadInput(const WString& path, std::string& bytes, std::ostream& err) {
    const std::string name = Name(path);
    if (path == u"-") {
        if (!plat::ReadStandardInput(bytes)) {
            err << "dbrtool: " << name << ": cannot be read" << Why() << "\n";
            return false;
        }
    } else if (!plat::PathExists(path)) {
        err << "dbrtool: " << name << ": no such file\n";
        return false;
    } else if (plat::IsDirectory(path)) {
        err << "dbrtool: " << name << ": is a folder, not a file\n";
        return false;
    } else if (!plat::ReadWholeFile(path, bytes)) {
        err << "dbrtool: " << name << ": cannot be read" << Why() << "\n";
        return false;
    }
    if (bytes.empty()) {
        err << "dbrtool: " << name << ": the file is empty\n";
        return false;
    }
    return true;
}

// Refuses a file that cannot be a script: scripts are 16-bit little-endian text with a
// 16-bit line feed after each line.
bool CheckScriptBytes(const WString& path, const std::string& bytes, std::ostream& err) {
    const std::string name = Name(path);
    if (bytes.size() % 2 != 0) {
        err << "dbrtool: " << name << ": odd number of bytes (" << bytes.size()
            << "): not 16-bit text, so not a script\n";
        return false;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        err << "dbrtool: " << name
            << ": starts with a UTF-8 byte order mark: a plain text file, not a scrambled "
               "script (dbrtool encode makes one)\n";
        return false;
    }
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
        err << "dbrtool: " << name
            << ": big-endian 16-bit text; scripts are little-endian, so not a script\n";
        return false;
    }
    bool lineFeedByte = false;
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
        if (bytes[at] == '\n' && bytes[at + 1] == '\0') return true;
        lineFeedByte = lineFeedByte || bytes[at] == '\n' || bytes[at + 1] == '\n';
    }
    if (lineFeedByte) {
        err << "dbrtool: " << name
            << ": holds line feeds but no 16-bit ones: 8-bit text, not a script\n";
        return false;
    }
    return true;  // one line without a line feed
}

// Reads a script once; its bytes stay in `bytes` for a second reader.
bool LoadScript(const WString& path, CCryptFile& file, std::string& bytes, std::ostream& err) {
    if (!ReadInput(path, bytes, err) || !CheckScriptBytes(path, bytes, err)) return false;
    file.OpenBytes(bytes);
    return true;
}

// ---- encode ----

// Splits UTF-8 text into lines, dropping a leading byte order mark. A line ends with LF,
// CR LF or a lone CR (old Mac editors): the script gets LF alone, and no value ends in a
// carriage return. False, with the line number, when a line is not valid UTF-8.
bool SplitUtf8Lines(std::string_view bytes, std::vector<WString>& lines, int& nBadLine) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        std::optional<WString> wide = plat::MultiByteToWideStrict(plat::kCodePageUtf8, line);
        if (!wide) {
            nBadLine = static_cast<int>(lines.size()) + 1;
            return false;
        }
        lines.push_back(std::move(*wide));
        start = end + 1;
        if (end < bytes.size() && bytes[end] == '\r' && start < bytes.size() &&
            bytes[start] == '\n') {
            ++start;
        }
    }
    return true;
}

// Names the first character of a refused line that cannot be stored even on its own.
std::string DescribeRefusal(const WString& line) {
    WString stored;
    for (size_t at = 0; at < line.size();) {
        size_t length = 1;
        if (line[at] >= 0xD800 && line[at] <= 0xDBFF && at + 1 < line.size()) length = 2;
        WStringView character = WStringView(line).substr(at, length);
        if (!EncodeLine(character, stored)) {
            uint32_t code = line[at];
            if (length == 2) code = 0x10000 + ((code - 0xD800) << 10) + (line[at + 1] - 0xDC00);
            return "the character " + U8(character) + " (U+" + Hex(code) +
                   ") cannot be stored so that it reads back under " + CodePageName();
        }
        at += length;
    }
    return "its scrambled bytes would read back as other characters under " + CodePageName();
}

// ---- check ----

const char* const kKindNames[] = {"?", "TABLE", "ALTER", "TRIGGER", "SQLONE", "SQLTWO"};

class Checker {
public:
    Checker(const WString& path, std::ostream& out, bool strict)
        : m_path(path), m_out(out), m_bStrict(strict) {}

    // Checks the script whose bytes were read already (and `file`, opened on them).
    int Run(CCryptFile& file, std::string bytes);

private:
    void Warn(int line, const std::string& text) {
        m_warnings.push_back(line > 0 ? "warning: line " + std::to_string(line) + ": " + text
                                      : "warning: " + text);
    }
    void Error(int line, const std::string& text) {
        m_errors.push_back(line > 0 ? "error: line " + std::to_string(line) + ": " + text
                                    : "error: " + text);
    }
    // Line `number` as read at the start (empty if the file changed since and has no such
    // line any more).
    const WString& Line(int number) const {
        static const WString kNone;
        if (number < 1 || number > static_cast<int>(m_lines.size())) return kNone;
        return m_lines[static_cast<size_t>(number) - 1];
    }
    void ScanLines();
    void CheckValue(const char* key, const WString& value);
    void ReadHeader();
    void CheckItem(const ScriptItem& item, int itemLine, int endLine);
    void CheckBetweenItems(int from, int to);
    bool ReadItems();
    void PrintItems();
    // The migration's own checks: the script is refused exactly when they refuse it.
    bool CheckAsTheMigrationDoes();

    WString m_path;
    std::ostream& m_out;
    bool m_bStrict = false;
    CScriptFile m_script;
    std::vector<WString> m_lines;
    int m_nHeadLine = 0;
    std::set<int> m_listed;  // database numbers of the header's list
    std::map<int, std::array<int, 6>> m_counts;
    int m_nItems = 0;
    std::vector<std::string> m_warnings;
    std::vector<std::string> m_errors;
    std::string m_error;
    DatabaseHeader m_header;
    bool m_bHasDataFiles = false;
    WString m_dataFiles;
};

void Checker::ScanLines() {
    for (int number = 1; number <= static_cast<int>(m_lines.size()); ++number) {
        const WString& line = Line(number);
        if (m_nHeadLine == 0 && wstr::StartsWith(line, u"HEAD")) m_nHeadLine = number;
        if (!line.empty() && (line[0] == u' ' || line[0] == u'\t')) {
            size_t first = line.find_first_not_of(u" \t");
            if (first != WString::npos && CScriptFile::IsTagLine(WStringView(line).substr(first))) {
                Warn(number, "a blank before \"<\" makes this a text line, not a tag");
            }
        }
    }
    if (m_nHeadLine == 0) {
        Warn(0, "no line starts with HEAD: the migration finds no header key at all");
        return;
    }
    static const WStringView kKeys[] = {u"UPDATETIME", u"DATABASEFILE", u"MAIN", u"DBN"};
    for (int number = 1; number < m_nHeadLine; ++number) {
        const WString& line = Line(number);
        size_t equals = line.find(u'=');
        if (equals == WString::npos) continue;
        for (WStringView key : kKeys) {
            if (wstr::StartsWith(line, key)) {
                Warn(number, "header key " + Printable(WStringView(line).substr(0, equals)) +
                                 " stands before the HEAD line (line " +
                                 std::to_string(m_nHeadLine) + ") and is ignored");
                break;
            }
        }
    }
}

void Checker::CheckValue(const char* key, const WString& value) {
    if (!value.empty() && value.back() == u'\r') {
        Warn(0, std::string(key) + " value " + Shown(value) +
                    " ends in a carriage return (CR LF line ends?); the migration keeps it");
    }
}

void Checker::ReadHeader() {
    WString value;
    if (m_script.ReadMain(value)) {
        int line = m_script.GetLineNumber();
        m_out << "client version required (MAIN): " << Shown(value) << "\n";
        if (wstr::StartsWith(Line(line), u"MAINDBVER")) {
            Warn(line,
                 "the MAIN reader takes this MAINDBVER line; put the MAIN line before "
                 "every MAINDBVER line");
        }
        CheckValue("MAIN", value);
    } else {
        m_out << "client version required (MAIN): (missing)\n";
        Warn(0, "no MAIN line: the client version is not checked");
    }
    if (m_script.ReadUpdateTime(value)) {
        m_out << "update time (UPDATETIME): " << Shown(value) << "\n";
        CheckValue("UPDATETIME", value);
    } else {
        m_out << "update time (UPDATETIME): (missing)\n";
    }
    m_bHasDataFiles = m_script.ReadDatabaseFile(m_dataFiles);
    if (m_bHasDataFiles) {
        m_out << "data files (DATABASEFILE): " << Shown(m_dataFiles) << "\n";
        CheckValue("DATABASEFILE", m_dataFiles);
    } else {
        m_out << "data files (DATABASEFILE): (missing)\n";
        m_error = "error: no DATABASEFILE line: the migration refuses the script";
    }

    ReadDatabaseHeader(m_script, m_header);
    const DatabaseHeader& header = m_header;
    if (!header.bHasCount) {
        m_out << "databases (DBNCOUNT): (missing)\n";
        Warn(0, "no DBNCOUNT line: the script upgrades no database");
        return;
    }
    CheckValue("DBNCOUNT", header.strCount);
    m_out << "databases (DBNCOUNT=" << Printable(header.strCount)
          << "): " << header.databases.size() << "\n";
    for (const DatabaseKeys& keys : header.databases) {
        const std::string n = std::to_string(keys.nIndex);
        m_listed.insert(keys.nIndex);
        m_out << "  DBN" << n << ": file " << Shown(keys.strDbName) << ", target version "
              << (keys.bHasTargetVersion ? Shown(keys.strTargetVersion) : "(missing)")
              << ", sub-folder " << (keys.bHasSubPath ? Shown(keys.strSubPath) : "(none)") << "\n";
        CheckValue(("DBN" + n).c_str(), keys.strDbName);
        CheckValue(("MAINDBVER" + n).c_str(), keys.strTargetVersion);
        CheckValue(("DBNPATH" + n).c_str(), keys.strSubPath);
        if (!keys.bHasTargetVersion) Warn(0, "no MAINDBVER" + n + " line");
    }
    if (static_cast<int>(header.databases.size()) < header.nCount) {
        Warn(0, "DBNCOUNT is " + std::to_string(header.nCount) + " but there is no DBN" +
                    std::to_string(header.databases.size() + 1) +
                    " line: later databases are not used");
    }
}

void Checker::CheckItem(const ScriptItem& item, int itemLine, int endLine) {
    const std::string where = "item " + std::to_string(m_nItems) + ": ";
    if (m_listed.count(item.nDbIndex) == 0) {
        Warn(itemLine, where + "database number " + std::to_string(item.nDbIndex) +
                           " is not in the header's list; the migration skips the item");
    }
    if (item.nType == ITEM_SQLTWO && m_listed.count(item.nRefDbIndex) == 0) {
        Warn(itemLine, where + "second database number " + std::to_string(item.nRefDbIndex) +
                           " is not in the header's list; the migration skips the item");
    }
    if (item.nType == ITEM_ALTER && item.strColumn.empty()) {
        Warn(itemLine, where + "ALTER item text " + Shown(item.strName) +
                           " has no comma before the column name");
    }
    for (const WString* text : {&item.strName, &item.strColumn, &item.strVersion}) {
        if (!text->empty() && text->back() == u'\r') {
            Warn(itemLine, where + "item text " + Shown(*text) + " ends in a carriage return");
        }
    }
    // The reader removes every double quote from the item's text and body: what runs is
    // not what was written.
    bool inText = false;
    bool inBody = false;
    for (int number = itemLine; number < endLine; ++number) {
        const WString& line = Line(number);
        if (CScriptFile::IsTagLine(line)) {
            const WString inner = CScriptFile::StripTag(line);
            inText = !inBody && wstr::StartsWith(inner, u"NAME:");
            inBody = inBody || wstr::Contains(inner, u"BEGIN");
        } else if ((inText || inBody) && line.find(u'"') != WString::npos) {
            Warn(number, where +
                             "the migration removes the double quotes (\") of this line before "
                             "the item runs: write string literals in single quotes ('text'), "
                             "names in [brackets], and char(34) for a double quote in data");
            break;
        }
    }
    // A DBNAME tag inside the item means a tag of this item is missing and it swallowed
    // the next one.
    for (int number = itemLine + 1; number < endLine; ++number) {
        const WString& line = Line(number);
        if (CScriptFile::IsTagLine(line) &&
            wstr::StartsWith(CScriptFile::StripTag(line), u"DBNAME:")) {
            Error(number, where + "this DBNAME tag lies inside the item that begins at line " +
                              std::to_string(itemLine) +
                              " (a tag is missing there); the item it begins would be lost");
        }
    }
}

// The item pass skips every line between items, tags included: a tag there usually
// belongs to an item that lost its DBNAME tag.
void Checker::CheckBetweenItems(int from, int to) {
    for (int number = from; number <= to; ++number) {
        const WString& line = Line(number);
        if (CScriptFile::IsTagLine(line)) {
            Warn(number, "the tag " + Printable(line) +
                             " stands outside any item and is ignored (is a <DBNAME:...> "
                             "tag missing before it?)");
        }
    }
}

bool Checker::ReadItems() {
    m_script.Rewind();
    ScriptItem item;
    int lastEnd = 0;
    while (m_script.ReadItem(item)) {
        CheckBetweenItems(lastEnd + 1, m_script.GetItemLine() - 1);
        lastEnd = m_script.GetLineNumber();
        ++m_nItems;
        ++m_counts[item.nDbIndex][static_cast<size_t>(item.nType)];  // zeroed when new
        CheckItem(item, m_script.GetItemLine(), m_script.GetLineNumber());
    }
    if (m_script.GetItemLine() == 0) {
        CheckBetweenItems(lastEnd + 1, static_cast<int>(m_lines.size()));
        return true;
    }
    const int line = m_script.GetItemLine();
    m_error = "error: item " + std::to_string(m_nItems + 1) + " at line " + std::to_string(line) +
              " (" + Printable(Line(line)) + "): " + DescribeItemError(m_script.GetItemError()) +
              "; the migration stops there and skips every later item";
    return false;
}

void Checker::PrintItems() {
    m_out << "items: " << m_nItems << "\n";
    for (const auto& [number, counts] : m_counts) {
        m_out << "  DBN" << number << ":";
        const char* separator = " ";
        for (int kind = ITEM_TABLE; kind <= ITEM_SQLTWO; ++kind) {
            if (counts[static_cast<size_t>(kind)] == 0) continue;
            m_out << separator << kKindNames[kind] << " " << counts[static_cast<size_t>(kind)];
            separator = ", ";
        }
        m_out << "\n";
    }
}

bool Checker::CheckAsTheMigrationDoes() {
    std::vector<ScriptRefusal> refusals;
    bool accepted = CheckScriptItems(m_script, refusals);
    accepted = CheckScriptPaths(m_header, m_dataFiles, refusals) && accepted;
    for (const ScriptRefusal& refusal : refusals) {
        m_out << "refused: "
              << (refusal.nLine > 0 ? "line " + std::to_string(refusal.nLine) + ": "
                                    : std::string())
              << EscapeControls(U8(refusal.strText)) << "\n";
    }
    return accepted;
}

int Checker::Run(CCryptFile& file, std::string bytes) {
    WString line;
    while (file.ReadString(line))
        m_lines.push_back(line);
    const bool startsWithBom = bytes.compare(0, 2, "\xFF\xFE") == 0;
    m_script.OpenBytes(m_path, std::move(bytes));
    m_out << "script: " << Name(m_path) << " (" << m_lines.size() << " lines, " << CodePageName()
          << ")\n";
    if (startsWithBom) {
        Warn(1,
             "the file starts with a byte order mark (U+FEFF), which stays part of the "
             "first line: that line never starts with HEAD or \"<\"");
    }
    ScanLines();
    ReadHeader();
    std::string headerError = m_error;
    m_error.clear();
    bool itemsOk = ReadItems();
    PrintItems();
    std::vector<Finding> findings;
    LintScript(m_script, m_lines, findings);
    for (const Finding& finding : findings)
        Warn(finding.nLine, EscapeControls(finding.strText));
    for (const std::string& warning : m_warnings)
        m_out << warning << "\n";
    for (const std::string& error : m_errors)
        m_out << EscapeControls(error) << "\n";
    if (!itemsOk) m_out << m_error << "\n";
    if (!headerError.empty()) m_out << headerError << "\n";
    // The verdict is the migration's, in its order: the DATABASEFILE line, then its checks.
    const bool accepted = CheckAsTheMigrationDoes();
    if (!m_bHasDataFiles || !accepted) {
        m_out << "FAILED: the migration refuses this script ("
              << (m_bHasDataFiles ? "升级脚本格式错误！" : "获取数据库名失败！") << ")\n";
        return kExitFailed;
    }
    if (m_bStrict && !m_warnings.empty()) {
        m_out << "FAILED (--strict): " << m_nItems << " items, " << m_warnings.size()
              << " warnings\n";
        return kExitFailed;
    }
    m_out << "OK: " << m_nItems << " items, " << m_warnings.size() << " warnings\n";
    return kExitOk;
}

}  // namespace

int Decode(const WString& scriptPath, std::ostream& out, std::ostream& err) {
    CCryptFile file;
    std::string bytes;
    if (!LoadScript(scriptPath, file, bytes, err)) return kExitFailed;
    WString line;
    while (file.ReadString(line))
        out << U8(line) << '\n';
    out.flush();
    return kExitOk;
}

int Encode(const WString& textPath, const WString& scriptPath, std::ostream& out,
           std::ostream& err) {
    std::string bytes;
    if (!ReadInput(textPath, bytes, err)) return kExitFailed;
    std::vector<WString> lines;
    int badLine = 0;
    if (!SplitUtf8Lines(bytes, lines, badLine)) {
        err << "dbrtool: " << Name(textPath) << ":" << badLine
            << ": not valid UTF-8; nothing written\n";
        return kExitFailed;
    }
    if (lines.empty()) {
        err << "dbrtool: " << Name(textPath) << ": holds no line\n";
        return kExitFailed;
    }
    WString text;
    for (const WString& line : lines)
        text += line + u"\n";
    plat::WriteOutcome outcome = plat::WriteOutcome::kFailed;
    if (!WriteScriptFile(scriptPath, text, badLine, &outcome)) {
        const std::string name = Name(scriptPath);
        if (badLine > 0) {
            err << "dbrtool: " << Name(textPath) << ":" << badLine
                << ": line refused: " << DescribeRefusal(lines[badLine - 1])
                << "; nothing written\n";
        } else if (outcome == plat::WriteOutcome::kReadOnly) {
            err << "dbrtool: " << name << ": is read-only; left as it was\n";
        } else if (outcome == plat::WriteOutcome::kFolder) {
            err << "dbrtool: " << name << ": is a folder, not a file\n";
        } else if (outcome == plat::WriteOutcome::kNoReader) {
            err << "dbrtool: " << name << ": is a pipe that nobody reads; nothing written\n";
        } else {
            err << "dbrtool: " << name << ": cannot be written" << Why() << "\n";
        }
        return kExitFailed;
    }
    out << "wrote " << Name(scriptPath) << ": " << lines.size() << " lines, " << CodePageName()
        << "\n";
    return kExitOk;
}

int Check(const WString& scriptPath, bool strict, std::ostream& out, std::ostream& err) {
    CCryptFile file;
    std::string bytes;
    if (!LoadScript(scriptPath, file, bytes, err)) return kExitFailed;
    Checker checker(scriptPath, out, strict);
    return checker.Run(file, std::move(bytes));
}

std::string EscapeControls(std::string_view text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string shown;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            shown.push_back(c);
        } else if (c == '\n') {
            shown += c;
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else {
            shown += "\\x";
            shown.push_back(kDigits[byte >> 4]);
            shown.push_back(kDigits[byte & 0xF]);
        }
    }
    return shown;
}

void PrintHelp(std::ostream& out) {
    out << R"(dbrtool: read, write and check Quorvel upgrade scripts (*.dbr)

Usage:
  dbrtool decode FILE.dbr
      Prints the descrambled text of a script as UTF-8, one line per line.
      Example: dbrtool decode upgrade.dbr > upgrade.txt

  dbrtool encode IN.txt OUT.dbr
      Writes a scrambled script (16-bit little-endian, no byte order mark, LF line
      ends) from a UTF-8 text file. A UTF-8 byte order mark is dropped; LF, CR LF and a
      lone CR end a line. Refuses, naming the line, any line whose scrambled form would
      not read back identically under the ANSI code page; OUT.dbr is then left as it was.
      OUT.dbr is written through a symbolic link to the file it leads to, replaced only
      once complete (keeping its permissions), or written in place when it is a device
      or a pipe; a read-only file, a folder or a pipe nobody reads is refused.
      Example: dbrtool encode upgrade.txt upgrade.dbr

  dbrtool check [--strict] FILE.dbr
      Reads the header and every item the way the migration does and prints a summary:
      the client version required, each database with its file, target version and
      sub-folder, and the items per database and kind. Fails exactly when the migration
      refuses the script ("升级脚本格式错误！" or "获取数据库名失败！"), with its reasons: a
      malformed item, an item that swallows the next one, a DBN, DBNPATH or DATABASEFILE
      value that leads outside the data folder, one file listed twice, no DATABASEFILE
      line. Warns about header keys before the HEAD line, a MAINDBVER line that the MAIN
      reader takes, values ending in a carriage return, items for databases the header
      does not list, ALTER items without a comma, a listed database without items or
      without a TVERSION table, version texts that are not plain numbers and dots (8.2.01)
      or that cannot be compared with the database's version, a DBNCOUNT that does not
      match the DBN lines, one file listed twice under another spelling, items with a
      double quote (the migration removes it; write 'text', [name], char(34)), and items
      that fail on every new file (each database's items are tried on an empty scratch file:
      an ALTER or TRIGGER whose table no TABLE item makes, a statement with an error).
      --strict fails on any warning too.
      Example: dbrtool check --strict upgrade.dbr

  dbrtool verify SCRIPT.dbr INSTALLATION... [--expect FOLDER] [--client VERSION]
                 [--json] [--keep]
      Rehearses the migration on copies of real installation folders. For each folder,
      the databases the script lists (with their journals), the extra data files and
      vennic.exe are copied byte for byte into a scratch folder and the migration's own
      code runs there, silently, as "quorvel /S" would; nothing in the installation
      folder is written or opened by SQLite. Two databases the script lists that are one
      file in the folder (a link, another letter case) refuse the script there, as in
      the migration. Reports the verdict, the exit status
      quorvel /S would give and the time the migration took; each database's version
      before and after, or why it was left as it was; each table's rows before and
      after, where they came from (its own old file, the user-data database, the extra
      data file), the columns added and the indexes and triggers made; every failed
      item with its line and SQLite's message, the items not due, and the tables no
      TABLE item carried with their rows (their database is then left as it was).
      --expect FOLDER  a folder holding the databases a fresh installation of the new
                       client makes, at the paths the script gives them: each migrated
                       database's schema is compared with the fresh one (tables; columns
                       with type, NOT NULL, default, primary key and order; indexes;
                       triggers and views), and any difference fails the verdict.
      --client VERSION the client's FileVersion (8.2.0V2201, or the sub-version 2201)
                       instead of the folder's vennic.exe.
      --json           the report as JSON (fields in docs/writing-scripts.md).
      --keep           leaves each scratch folder and names it in the report.
      Several folders give a table at the end. Exit status 0 only when every
      installation passes.
      Example: dbrtool verify upgrade.dbr samples/*/ --expect fresh-8.2

  dbrtool --help
      Shows this text.

A FILE or IN.txt of "-" is standard input; every input is read once, so pipes work:
  cat upgrade.dbr | dbrtool check -
File names are taken as the system spells them (on Linux a backslash is part of a name).

The ANSI code page is 936 (Simplified Chinese) unless the environment variable
QUORVEL_CODEPAGE names another (on Windows: the system's). A QUORVEL_CODEPAGE that is
not the number of a code page this system converts stops dbrtool before anything is
read or written.

Exit codes: 0 success, 1 bad input, a refused line, a script the migration refuses
(or, with --strict, one with warnings) or a failed rehearsal, 2 wrong usage or an
unusable QUORVEL_CODEPAGE.
)";
}

int Run(const std::vector<WString>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        PrintHelp(err);
        return kExitUsage;
    }
    const WString& command = args[0];
    if (command == u"--help" || command == u"-h" || command == u"help") {
        PrintHelp(out);
        return kExitOk;
    }
    const bool known =
        command == u"decode" || command == u"encode" || command == u"check" || command == u"verify";
    std::string codePage;
    if (known && !plat::AnsiCodePageSettingValid(codePage)) {
        err << "dbrtool: QUORVEL_CODEPAGE=" << Printable(FromUtf8(codePage))
            << " is not a code page this system can convert (a number such as 936 or 1252);"
               " nothing done\n";
        return kExitUsage;
    }
    if (command == u"decode" && args.size() == 2) return Decode(args[1], out, err);
    if (command == u"encode" && args.size() == 3) return Encode(args[1], args[2], out, err);
    if (command == u"check" && args.size() == 2) return Check(args[1], false, out, err);
    if (command == u"check" && args.size() == 3 && args[1] == u"--strict") {
        return Check(args[2], true, out, err);
    }
    if (command == u"verify") {
        VerifyOptions options;
        const std::vector<WString> rest(args.begin() + 1, args.end());
        if (!ParseVerifyArguments(rest, options, err)) {
            err << "(dbrtool --help shows the usage)\n";
            return kExitUsage;
        }
        return Verify(options, out, err);
    }
    if (known) {
        err << "dbrtool: wrong number of arguments for " << Printable(command)
            << " (dbrtool --help shows the usage)\n";
    } else {
        err << "dbrtool: unknown command " << Shown(command)
            << " (dbrtool --help shows the usage)\n";
    }
    return kExitUsage;
}

}  // namespace dbrtool
