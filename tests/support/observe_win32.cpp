// Resources of executable files, windows of the desktop and started programs through the
// Win32 API.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/util_win32.h"
#include "support/observe.h"

namespace observe {

using plat::win32::FromWide;
using plat::win32::Wide;

namespace {

struct LibraryFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};

struct CloseHandleCloser {
    void operator()(void* handle) const { CloseHandle(handle); }
};
using Handle = plat::win32::UniqueHandle<CloseHandleCloser>;

// The window's text as the window itself gives it. GetWindowTextW would read only the
// caption of another process's window, never what its edit control holds.
WString TextOf(HWND window) {
    constexpr UINT kTimeoutMs = 5000;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs,
                             &length) ||
        length == 0) {
        return WString();
    }
    std::vector<wchar_t> buffer(length + 1);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG, kTimeoutMs,
                             &copied)) {
        return WString();
    }
    return FromWide(buffer.data(), std::min<size_t>(copied, length));
}

}  // namespace

int CompareNamesAsTheSystem(WStringView a, WStringView b) {
    const int result = CompareStringOrdinal(
        reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
        reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()), TRUE);
    return result == CSTR_LESS_THAN ? -1 : result == CSTR_GREATER_THAN ? 1 : 0;
}

WindowInfo DescribeWindow(WindowHandle handle) {
    HWND window = static_cast<HWND>(handle);
    WindowInfo info;
    info.handle = window;
    info.owner = GetWindow(window, GW_OWNER);
    info.nId = GetDlgCtrlID(window);
    wchar_t className[256] = {};
    const int classLength = GetClassNameW(window, className, 256);
    info.className = FromWide(className, classLength > 0 ? static_cast<size_t>(classLength) : 0);
    info.text = TextOf(window);
    RECT rect = {};
    GetWindowRect(window, &rect);
    info.rect = Rect{rect.left, rect.top, rect.right, rect.bottom};
    info.bVisible = IsWindowVisible(window) != FALSE;
    info.bEnabled = IsWindowEnabled(window) != FALSE;
    info.style = static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE));
    return info;
}

namespace {

struct Collector {
    std::vector<WindowInfo> windows;
    bool bVisibleOnly;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    Collector& collector = *reinterpret_cast<Collector*>(param);
    if (!collector.bVisibleOnly || IsWindowVisible(window)) {
        collector.windows.push_back(DescribeWindow(window));
    }
    return TRUE;
}

}  // namespace

bool ReadExecutableResource(const WString& path, int nType, int nName,
                            std::vector<uint8_t>& bytes) {
    bytes.clear();
    // As data only: nothing of the file runs, and a 32-bit build can read any image.
    std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer> module(LoadLibraryExW(
        Wide(path), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) return false;
    HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(nName), MAKEINTRESOURCEW(nType));
    if (found == nullptr) return false;
    const DWORD size = SizeofResource(module.get(), found);
    HGLOBAL loaded = LoadResource(module.get(), found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return false;
    bytes.resize(size);
    if (size > 0) std::memcpy(bytes.data(), data, size);
    return true;
}

std::vector<WindowInfo> TopLevelWindows(bool bVisibleOnly) {
    Collector collector{{}, bVisibleOnly};
    EnumWindows(&Collect, reinterpret_cast<LPARAM>(&collector));
    return collector.windows;
}

std::vector<WindowInfo> ChildWindows(WindowHandle parent) {
    Collector collector{{}, false};
    EnumChildWindows(static_cast<HWND>(parent), &Collect, reinterpret_cast<LPARAM>(&collector));
    return collector.windows;
}

WString SystemMenuEntryText(WindowHandle window, unsigned nCommand) {
    HMENU menu = GetSystemMenu(static_cast<HWND>(window), FALSE);
    if (menu == nullptr) return WString();
    const int length = GetMenuStringW(menu, nCommand, nullptr, 0, MF_BYCOMMAND);
    if (length <= 0) return WString();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = GetMenuStringW(menu, nCommand, buffer.data(), length + 1, MF_BYCOMMAND);
    return FromWide(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

bool AnswersWithin(WindowHandle window, unsigned nMilliseconds) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(static_cast<HWND>(window), WM_NULL, 0, 0, SMTO_NORMAL, nMilliseconds,
                               &result) != 0;
}

bool IsHung(WindowHandle window) { return IsHungAppWindow(static_cast<HWND>(window)) != FALSE; }

bool DispatchMessagesUntil(const std::function<bool()>& done, unsigned nMilliseconds) {
    const DWORD start = GetTickCount();
    while (!done()) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= nMilliseconds) return false;
        // Short waits: `done` may turn true without a message.
        MsgWaitForMultipleObjectsEx(0, nullptr, std::min<DWORD>(nMilliseconds - elapsed, 50),
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

bool HasPostedMessage(WindowHandle window, unsigned message) {
    MSG msg;
    return PeekMessageW(&msg, static_cast<HWND>(window), message, message,
                        PM_NOREMOVE | PM_QS_POSTMESSAGE) != FALSE;
}

void DiscardPostedMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE)) {
    }
}

intptr_t SendToWindow(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return SendMessageW(static_cast<HWND>(window), message, wParam, lParam);
}

bool PostToWindow(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return PostMessageW(static_cast<HWND>(window), message, wParam, lParam) != FALSE;
}

bool RunProgram(const WString& commandLine, int nCmdShow, unsigned long& exitCode) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(nCmdShow);
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> line(Wide(commandLine), Wide(commandLine) + commandLine.size() + 1);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    Handle thread(process.hThread);
    Handle child(process.hProcess);
    WaitForSingleObject(child.Get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(child.Get(), &code)) return false;
    exitCode = code;
    return true;
}

}  // namespace observe
