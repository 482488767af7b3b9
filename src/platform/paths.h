// Program paths ("C:\folder\name", "\" as the separator) taken apart.
#pragma once

#include "platform/wstr.h"

namespace plat {

// The text before the last "\" ("a\b\c.db" -> "a\b"); empty when there is none.
WString FolderOf(WStringView path);
// The text after the last "\" ("a\b\c.db" -> "c.db"); the whole path when there is none.
WString NameOf(WStringView path);

}  // namespace plat
