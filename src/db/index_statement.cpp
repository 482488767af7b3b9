#include "db/index_statement.h"

namespace db {
namespace {

// Character classes as SQLite's tokenizer has them: bytes from 0x80 up belong to names, so
// that names in UTF-8 are whole words.
bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsNameStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}
bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '$'; }

enum class Kind {
    kWord,    // a bare word: a keyword or a name
    kQuoted,  // "name", [name] or `name`
    kPunct,   // ( ) , . ;
    kEnd,
    kOther,  // anything a plain index does not hold: strings, numbers, operators
};

struct Token {
    Kind kind = Kind::kEnd;
    std::string_view text;
    size_t offset = 0;
};

class Tokenizer {
public:
    explicit Tokenizer(std::string_view sql) : m_sql(sql) {}

    Token Next() {
        SkipBlanks();
        Token token;
        token.offset = m_pos;
        if (m_pos >= m_sql.size()) return token;
        const unsigned char c = static_cast<unsigned char>(m_sql[m_pos]);
        size_t end = m_pos + 1;
        if (c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : static_cast<char>(c);
            token.kind = Kind::kOther;  // unless the closing quote comes
            while (end < m_sql.size()) {
                if (m_sql[end++] != close) continue;
                // A doubled quote stands for itself; brackets have no escape.
                if (c != '[' && end < m_sql.size() && m_sql[end] == close) {
                    ++end;
                    continue;
                }
                token.kind = Kind::kQuoted;
                break;
            }
        } else if (IsNameStart(c)) {
            while (end < m_sql.size() && IsNameChar(static_cast<unsigned char>(m_sql[end])))
                ++end;
            token.kind = Kind::kWord;
        } else if (c == '(' || c == ')' || c == ',' || c == '.' || c == ';') {
            token.kind = Kind::kPunct;
        } else {
            token.kind = Kind::kOther;
        }
        if (token.kind == Kind::kOther) end = m_sql.size();
        token.text = m_sql.substr(m_pos, end - m_pos);
        m_pos = end;
        return token;
    }

private:
    void SkipBlanks() {
        while (m_pos < m_sql.size()) {
            if (IsSpace(static_cast<unsigned char>(m_sql[m_pos]))) {
                ++m_pos;
            } else if (m_sql.compare(m_pos, 2, "--") == 0) {
                const size_t end = m_sql.find('\n', m_pos);
                m_pos = end == std::string_view::npos ? m_sql.size() : end + 1;
            } else if (m_sql.compare(m_pos, 2, "/*") == 0) {
                const size_t end = m_sql.find("*/", m_pos + 2);
                m_pos = end == std::string_view::npos ? m_sql.size() : end + 2;
            } else {
                break;
            }
        }
    }

    std::string_view m_sql;
    size_t m_pos = 0;
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

bool IsKeyword(const Token& token, std::string_view keyword) {
    return token.kind == Kind::kWord && EqualsNoCase(token.text, keyword);
}
bool IsPunct(const Token& token, char c) {
    return token.kind == Kind::kPunct && token.text.size() == 1 && token.text[0] == c;
}
bool IsName(const Token& token) { return token.kind == Kind::kWord || token.kind == Kind::kQuoted; }

std::string Unquote(const Token& token) {
    if (token.kind != Kind::kQuoted) return std::string(token.text);
    const char close = token.text.front() == '[' ? ']' : token.text.front();
    std::string out;
    const std::string_view inner = token.text.substr(1, token.text.size() - 2);
    for (size_t i = 0; i < inner.size(); ++i) {
        out.push_back(inner[i]);
        if (inner[i] == close && close != ']') ++i;  // the second of a doubled quote
    }
    return out;
}

}  // namespace

bool ParsePlainIndex(std::string_view statement, PlainIndex& index) {
    Tokenizer tokens(statement);
    if (!IsKeyword(tokens.Next(), "CREATE") || !IsKeyword(tokens.Next(), "INDEX")) return false;
    Token token = tokens.Next();
    if (IsKeyword(token, "IF")) {
        if (!IsKeyword(tokens.Next(), "NOT") || !IsKeyword(tokens.Next(), "EXISTS")) return false;
        token = tokens.Next();
    }
    Token name = token;
    if (!IsName(name)) return false;
    token = tokens.Next();
    if (IsPunct(token, '.')) {
        if (!EqualsNoCase(Unquote(name), "main")) return false;
        name = tokens.Next();
        if (!IsName(name)) return false;
        token = tokens.Next();
    }
    if (!IsKeyword(token, "ON")) return false;
    const Token table = tokens.Next();
    if (!IsName(table) || !IsPunct(tokens.Next(), '(')) return false;
    do {
        if (!IsName(tokens.Next())) return false;
        token = tokens.Next();
        if (IsKeyword(token, "COLLATE")) {
            if (!IsName(tokens.Next())) return false;
            token = tokens.Next();
        }
        if (IsKeyword(token, "ASC") || IsKeyword(token, "DESC")) token = tokens.Next();
    } while (IsPunct(token, ','));
    if (!IsPunct(token, ')')) return false;
    token = tokens.Next();
    // SQLite keeps the text from the name on, up to the ";" (blanks and comments before it
    // included), or to the end of the input when there is none.
    size_t end = statement.size();
    if (IsPunct(token, ';')) {
        end = token.offset;
        token = tokens.Next();
    }
    if (token.kind != Kind::kEnd) return false;

    index.statement = std::string(statement);
    index.name = Unquote(name);
    index.table = Unquote(table);
    index.storedSql =
        "CREATE INDEX " + std::string(statement.substr(name.offset, end - name.offset));
    return true;
}

}  // namespace db
