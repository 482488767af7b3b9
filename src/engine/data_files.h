// The extra data files an upgrade script names in its DATABASEFILE list.
#pragma once

#include <vector>

#include "platform/wstr.h"

namespace engine {

// Splits the comma-separated `list` (every comma separates, so empty names occur) and
// keeps, in list order, the names for which folder + "\" + name is an existing file, not a
// folder.
std::vector<WString> CollectDataFiles(const WString& list, const WString& folder);

}  // namespace engine
