#include "platform/wstr.h"

#include <climits>

namespace wstr {
namespace {

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c; }

template <typename CharT>
bool IsSpace(CharT c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

template <typename View>
int ParseInt(View s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > INT_MAX) {
            value = static_cast<long long>(INT_MAX) + 1;  // saturate; keep scanning digits
        }
    }
    if (negative) return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

WString ToUpper(WStringView s) {
    WString out(s);
    for (auto& c : out)
        c = Upper(c);
    return out;
}

bool EqualsNoCase(WStringView a, WStringView b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) return false;
    }
    return true;
}

bool StartsWith(WStringView s, WStringView prefix) { return s.substr(0, prefix.size()) == prefix; }

bool EndsWith(WStringView s, WStringView suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool Contains(WStringView s, WStringView part) { return s.find(part) != WStringView::npos; }

int ToInt(WStringView s) { return ParseInt(s); }
int ToInt(std::string_view s) { return ParseInt(s); }

WString FromAscii(std::string_view s) { return WString(s.begin(), s.end()); }

WString FromInt(long long value, int width) {
    bool negative = value < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    WString digits;
    do {
        digits.insert(digits.begin(), char16_t(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    while (static_cast<int>(digits.size()) < width)
        digits.insert(digits.begin(), u'0');
    if (negative) digits.insert(digits.begin(), u'-');
    return digits;
}

WString ReplaceAll(WStringView s, WStringView from, WStringView to) {
    WString out;
    if (from.empty()) return WString(s);
    size_t pos = 0;
    for (;;) {
        size_t hit = s.find(from, pos);
        if (hit == WStringView::npos) break;
        out.append(s.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

}  // namespace wstr
