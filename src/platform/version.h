// Version information of executables (GetFileVersionInfoSizeW, GetFileVersionInfoW and
// VerQueryValueW). On Windows these are the system's own calls; elsewhere the file is read
// and its resources are parsed by this program (pe_version.h).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/wstr.h"

namespace plat {

// Reads the version block of the executable at `path` into `block`. Returns false, with
// `block` empty, when the file is missing, unreadable, not a PE file, or has no usable
// version resource.
bool ReadFileVersionBlock(const WString& path, std::vector<uint8_t>& block);

// Looks up a text value of a version block read by ReadFileVersionBlock, such as
// "\StringFileInfo\080403A8\ProductVersion". Returns false, with `value` empty, when the
// block holds no value there. The value never runs past the block, even without its NUL.
bool QueryVersionValue(const std::vector<uint8_t>& block, const WString& subBlock, WString& value);

}  // namespace plat
