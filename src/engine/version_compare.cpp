#include "engine/version_compare.h"

#include <climits>
#include <vector>

namespace engine {

namespace {

std::vector<WStringView> SplitParts(WStringView text) {
    std::vector<WStringView> parts;
    size_t start = 0;
    while (start < text.size()) {
        size_t dot = text.find(u'.', start);
        if (dot == WStringView::npos) dot = text.size();
        if (dot > start) parts.push_back(text.substr(start, dot - start));
        start = dot + 1;
    }
    return parts;
}

}  // namespace

int CompareVersion(const WString& a, const WString& b, int& comparable) {
    comparable = 0;
    if (a.empty() || b.empty()) return 0;
    const std::vector<WStringView> partsA = SplitParts(a);
    const std::vector<WStringView> partsB = SplitParts(b);
    if (partsA.empty() || partsA.size() != partsB.size()) return 0;
    comparable = 1;
    for (size_t i = 0; i < partsA.size(); ++i) {
        // Computed wide: parts near the int limits must not overflow the difference.
        long long difference =
            static_cast<long long>(wstr::ToInt(partsA[i])) - wstr::ToInt(partsB[i]);
        if (difference > INT_MAX) return INT_MAX;
        if (difference < INT_MIN) return INT_MIN;
        if (difference != 0) return static_cast<int>(difference);
    }
    return 0;
}

}  // namespace engine
