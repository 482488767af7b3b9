#include <windows.h>

#include "platform/util_win32.h"
#include "support/file_conditions.h"

using plat::win32::Wide;

bool SetHiddenSystem(const WString& path, bool hidden, bool system) {
    DWORD attributes = GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    attributes &= ~(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NORMAL);
    if (hidden) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (system) attributes |= FILE_ATTRIBUTE_SYSTEM;
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(Wide(path), attributes);
}

bool MakePipe(const WString&) { return false; }

bool MakeLink(const WString&, const WString&) { return false; }

FileSizeLimit::FileSizeLimit(uint64_t) {}
FileSizeLimit::~FileSizeLimit() = default;
