#include "engine/data_files.h"

#include "platform/files.h"

namespace engine {

std::vector<WString> SplitDataFiles(const WString& list) {
    std::vector<WString> names;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(u',', start);
        names.push_back(list.substr(start, comma == WString::npos ? WString::npos : comma - start));
        if (comma == WString::npos) return names;
        start = comma + 1;
    }
}

std::vector<WString> CollectDataFiles(const WString& list, const WString& folder) {
    std::vector<WString> names;
    for (WString& name : SplitDataFiles(list)) {
        const WString path = folder + u"\\" + name;
        if (plat::PathExists(path) && !plat::IsDirectory(path)) names.push_back(std::move(name));
    }
    return names;
}

}  // namespace engine
