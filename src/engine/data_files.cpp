#include "engine/data_files.h"

#include "platform/files.h"

namespace engine {

std::vector<WString> CollectDataFiles(const WString& list, const WString& folder) {
    std::vector<WString> names;
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(u',', start);
        WString name = list.substr(start, comma == WString::npos ? WString::npos : comma - start);
        const WString path = folder + u"\\" + name;
        if (plat::PathExists(path) && !plat::IsDirectory(path)) names.push_back(std::move(name));
        if (comma == WString::npos) break;
        start = comma + 1;
    }
    return names;
}

}  // namespace engine
