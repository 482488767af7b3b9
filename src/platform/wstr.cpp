#include "platform/wstr.h"

#include <climits>
#include <cstdint>

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

struct UpcaseRun {
    char16_t first;
    char16_t last;
    uint8_t step;
    int32_t delta;
};

constexpr UpcaseRun kUpcaseRuns[] = {
#include "platform/upcase_table.inc"
};

}  // namespace

char16_t UpcaseUnit(char16_t c) {
    if (c < 0x80) return Upper(c);
    // The runs are ascending and apart: the first whose last unit is not below c.
    size_t low = 0;
    size_t high = sizeof kUpcaseRuns / sizeof kUpcaseRuns[0];
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (kUpcaseRuns[middle].last < c) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == sizeof kUpcaseRuns / sizeof kUpcaseRuns[0]) return c;
    const UpcaseRun& run = kUpcaseRuns[low];
    if (c < run.first || (c - run.first) % run.step != 0) return c;
    return static_cast<char16_t>(static_cast<int32_t>(c) + run.delta);
}

int CompareFileNames(WStringView a, WStringView b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = UpcaseUnit(a[i]);
        const char16_t y = UpcaseUnit(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool MatchesWildcard(WStringView name, WStringView pattern) {
    // Greedy with one step back to the last "*": linear in practice, never exponential.
    size_t n = 0, p = 0;
    size_t starPattern = WStringView::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starPattern = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || UpcaseUnit(pattern[p]) == UpcaseUnit(name[n]))) {
            ++p;
            ++n;
        } else if (starPattern != WStringView::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

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
