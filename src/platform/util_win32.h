// Helpers shared by the Win32 backend files (*_win32.cpp) and by nothing else.
//
// Kept free of <windows.h>: HANDLE is a void*, and the closing function is the caller's.
#pragma once

#include <utility>

#include "platform/wstr.h"

namespace plat::win32 {

// The program's UTF-16 text as the W functions take it (wchar_t is 16 bits on Windows).
inline const wchar_t* Wide(const WString& text) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wchar_t is UTF-16");
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline WString FromWide(const wchar_t* text, size_t length) {
    return WString(reinterpret_cast<const char16_t*>(text), length);
}

// Owns one Win32 handle and closes it with `Close` (CloseHandle, FindClose, ...). Both
// null and INVALID_HANDLE_VALUE count as "no handle": Win32 functions return one or the
// other on failure, depending on the function.
template <typename Close>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(void* handle) : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.m_handle, nullptr));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    static bool IsValid(void* handle) {
        return handle != nullptr && handle != reinterpret_cast<void*>(-1);
    }
    bool IsValid() const { return IsValid(m_handle); }
    explicit operator bool() const { return IsValid(); }
    void* Get() const { return m_handle; }

    // Closes the handle held (if any) and takes `handle` instead.
    void Reset(void* handle = nullptr) {
        if (IsValid(m_handle)) Close()(m_handle);
        m_handle = handle;
    }

private:
    void* m_handle = nullptr;
};

}  // namespace plat::win32
