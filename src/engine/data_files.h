// The extra data files an upgrade script names in its DATABASEFILE list.
#pragma once

#include <vector>

#include "platform/wstr.h"

namespace engine {

// The names of the comma-separated `list`, in order; every comma separates, so empty names
// occur.
std::vector<WString> SplitDataFiles(const WString& list);

// The names of `list` for which folder + "\" + name is an existing file, not a folder, in
// list order.
std::vector<WString> CollectDataFiles(const WString& list, const WString& folder);

}  // namespace engine
