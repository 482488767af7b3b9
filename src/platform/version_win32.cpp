// Version blocks through the Windows version library.
#include <windows.h>
#include <winver.h>

#include <algorithm>

#include "platform/version.h"

namespace plat {
namespace {

const wchar_t* Wide(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace

bool ReadFileVersionBlock(const WString& path, std::vector<uint8_t>& block) {
    block.clear();
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(Wide(path), &handle);
    if (size == 0) return false;
    block.resize(size);
    if (!::GetFileVersionInfoW(Wide(path), 0, size, block.data())) {
        block.clear();
        return false;
    }
    return true;
}

bool QueryVersionValue(const std::vector<uint8_t>& block, const WString& subBlock, WString& value) {
    value.clear();
    if (block.empty()) return false;
    void* pointer = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), Wide(subBlock), &pointer, &length) || pointer == nullptr) {
        return false;
    }
    // The value lies inside the block; a value without its NUL must still stop at the end.
    const auto* begin = static_cast<const uint8_t*>(pointer);
    const uint8_t* end = block.data() + block.size();
    if (begin < block.data() || begin >= end) return false;
    const size_t room = static_cast<size_t>(end - begin) / sizeof(wchar_t);
    const auto* text = reinterpret_cast<const char16_t*>(begin);
    const size_t count = std::min<size_t>(length, room);
    for (size_t i = 0; i < count && text[i] != 0; ++i)
        value.push_back(text[i]);
    return true;
}

}  // namespace plat
