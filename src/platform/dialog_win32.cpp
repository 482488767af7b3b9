// Dialog boxes, the message loop, the file-open dialog and the taskbar button through the
// Win32 API.
#include <windows.h>

#include <commdlg.h>
#include <objbase.h>
#include <shobjidl.h>

#include <memory>
#include <vector>

#include "platform/dialog.h"
#include "platform/util_win32.h"

namespace plat {

using win32::FromWide;
using win32::Wide;

namespace {

HWND Hwnd(WindowHandle handle) { return static_cast<HWND>(handle); }

WString TextOf(HWND window) {
    if (window == nullptr) return WString();
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return WString();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextW(window, buffer.data(), length + 1);
    return FromWide(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

struct ComReleaser {
    void operator()(IUnknown* object) const { object->Release(); }
};

}  // namespace

// The taskbar's interface for one thread, with COM initialised on that thread for as long
// as it is held. Systems before Windows 7 (and Wine where it lacks the interface) have
// none: the object is then empty and changes nothing.
struct TaskbarButton {
    TaskbarButton() {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        bComInitialised = SUCCEEDED(com);
        // Initialised before in the other model: the calls below work all the same.
        if (!bComInitialised && com != RPC_E_CHANGED_MODE) return;
        void* object = nullptr;
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ITaskbarList3, &object))) {
            return;
        }
        list.reset(static_cast<ITaskbarList3*>(object));
        if (FAILED(list->HrInit())) list.reset();
    }
    ~TaskbarButton() {
        list.reset();
        if (bComInitialised) CoUninitialize();
    }
    TaskbarButton(const TaskbarButton&) = delete;
    TaskbarButton& operator=(const TaskbarButton&) = delete;

    bool bComInitialised = false;
    std::unique_ptr<ITaskbarList3, ComReleaser> list;
};

void StaticControl::SetText(const WString& text) {
    if (m_hWnd != nullptr) SetWindowTextW(Hwnd(m_hWnd), Wide(text));
}

WString StaticControl::Text() const { return TextOf(Hwnd(m_hWnd)); }

void DdxControl(DataExchange& dx, int nId, StaticControl& control) {
    if (control.m_hWnd == nullptr) control.m_hWnd = dx.dialog.Item(nId);
}

// The dialog procedure: finds the Dialog object from the window and hands it the messages
// its owner cares about.
struct DialogProcedure {
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        Dialog* dialog = nullptr;
        if (message == WM_INITDIALOG) {
            // Messages before this one (WM_SETFONT) need no object.
            dialog = reinterpret_cast<Dialog*>(lParam);
            SetWindowLongPtrW(window, DWLP_USER, lParam);
            dialog->m_hWnd = window;
        } else {
            dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
        }
        if (dialog == nullptr) return FALSE;
        DialogEvents& events = dialog->m_events;

        switch (message) {
            case WM_INITDIALOG:
                dialog->UpdateData(false);
                return events.OnInitDialog() ? TRUE : FALSE;
            case WM_COMMAND: {
                const int nId = LOWORD(wParam);
                if (events.OnCommand(nId, HIWORD(wParam))) return TRUE;
                if (dialog->m_bModal && (nId == IDOK || nId == IDCANCEL)) {
                    dialog->EndDialog(nId);
                    return TRUE;
                }
                return FALSE;
            }
            case WM_SYSCOMMAND:
                return events.OnSysCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
            case WM_PAINT:
                return events.OnPaint() ? TRUE : FALSE;
            case WM_QUERYDRAGICON:
                // One of the few messages whose result a dialog procedure returns itself.
                return reinterpret_cast<INT_PTR>(events.OnQueryDragIcon());
            case WM_NCDESTROY:
                SetWindowLongPtrW(window, DWLP_USER, 0);
                dialog->m_hWnd = nullptr;
                return FALSE;
            default:
                if (message >= WM_APP && message <= wm::kAppLast) {
                    return events.OnAppMessage(message) ? TRUE : FALSE;
                }
                return FALSE;
        }
    }
};

Dialog::Dialog(int nTemplateId, DialogEvents& events)
    : m_nTemplateId(nTemplateId), m_events(events) {}

Dialog::~Dialog() {
    // The taskbar button goes with the window; its interface goes first.
    m_taskbar.reset();
    if (m_hWnd != nullptr) DestroyWindow(Hwnd(m_hWnd));
}

bool Dialog::CreateModeless() {
    m_bModal = false;
    HWND window =
        CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId), nullptr,
                           &DialogProcedure::Proc, reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

int Dialog::DoModal(WindowHandle owner) {
    m_bModal = true;
    const INT_PTR result =
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId), Hwnd(owner),
                        &DialogProcedure::Proc, reinterpret_cast<LPARAM>(this));
    return static_cast<int>(result);
}

void Dialog::EndDialog(int nResult) {
    if (m_hWnd != nullptr) ::EndDialog(Hwnd(m_hWnd), nResult);
}

WindowHandle Dialog::Item(int nId) const {
    return m_hWnd != nullptr ? GetDlgItem(Hwnd(m_hWnd), nId) : nullptr;
}

bool Dialog::UpdateData(bool bSaveAndValidate) {
    if (m_hWnd == nullptr) return false;
    DataExchange dx{*this, bSaveAndValidate};
    m_events.DoDataExchange(dx);
    return true;
}

void Dialog::Show(int nCmdShow) {
    if (m_hWnd != nullptr) ShowWindow(Hwnd(m_hWnd), nCmdShow);
}

void Dialog::Update() {
    if (m_hWnd != nullptr) UpdateWindow(Hwnd(m_hWnd));
}

bool Dialog::IsMinimized() const { return m_hWnd != nullptr && IsIconic(Hwnd(m_hWnd)); }

bool Dialog::Post(unsigned message, uintptr_t wParam, intptr_t lParam) {
    return m_hWnd != nullptr && PostMessageW(Hwnd(m_hWnd), message, wParam, lParam);
}

void Dialog::SetCaption(const WString& text) {
    if (m_hWnd != nullptr) SetWindowTextW(Hwnd(m_hWnd), Wide(text));
}

void Dialog::SetItemText(int nId, const WString& text) {
    if (m_hWnd != nullptr) SetDlgItemTextW(Hwnd(m_hWnd), nId, Wide(text));
}

WString Dialog::ItemText(int nId) const { return TextOf(Hwnd(Item(nId))); }

void Dialog::EnableItem(int nId, bool bEnable) {
    if (HWND item = Hwnd(Item(nId))) EnableWindow(item, bEnable ? TRUE : FALSE);
}

bool Dialog::IsItemEnabled(int nId) const {
    HWND item = Hwnd(Item(nId));
    return item != nullptr && IsWindowEnabled(item);
}

int Dialog::FocusedItem() const {
    HWND focus = GetFocus();
    if (m_hWnd == nullptr || focus == nullptr || !IsChild(Hwnd(m_hWnd), focus)) return 0;
    return GetDlgCtrlID(focus);
}

void Dialog::FocusItem(int nId) {
    if (HWND item = Hwnd(Item(nId))) {
        SendMessageW(Hwnd(m_hWnd), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
    }
}

void Dialog::SetTaskbarBusy(bool bBusy) {
    if (m_hWnd == nullptr) return;
    if (!m_taskbar) m_taskbar = std::make_unique<TaskbarButton>();
    if (m_taskbar->list) {
        m_taskbar->list->SetProgressState(Hwnd(m_hWnd),
                                          bBusy ? TBPF_INDETERMINATE : TBPF_NOPROGRESS);
    }
}

bool Dialog::IsItemChecked(int nId) const {
    return m_hWnd != nullptr &&
           SendDlgItemMessageW(Hwnd(m_hWnd), nId, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Dialog::AppendSystemMenuEntry(unsigned nCommand, const WString& text) {
    if (m_hWnd == nullptr) return false;
    HMENU menu = GetSystemMenu(Hwnd(m_hWnd), FALSE);
    if (menu == nullptr) return false;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    return AppendMenuW(menu, MF_STRING, nCommand, Wide(text)) != FALSE;
}

void Dialog::SetIcon(IconHandle icon, bool bBigIcon) {
    if (m_hWnd != nullptr) {
        SendMessageW(Hwnd(m_hWnd), WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
                     reinterpret_cast<LPARAM>(icon));
    }
}

Rect Dialog::ItemRect(int nId) const {
    RECT rect = {};
    HWND item = Hwnd(Item(nId));
    if (item == nullptr) return Rect();
    GetWindowRect(item, &rect);
    // The two corners, from screen to the dialog's client coordinates.
    MapWindowPoints(nullptr, Hwnd(m_hWnd), reinterpret_cast<POINT*>(&rect), 2);
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

void Dialog::MoveItem(int nId, const Rect& rect) {
    if (HWND item = Hwnd(Item(nId))) {
        MoveWindow(item, rect.left, rect.top, rect.Width(), rect.Height(), TRUE);
    }
}

void Dialog::PaintMinimizedIcon(IconHandle icon) {
    HWND window = Hwnd(m_hWnd);
    if (window == nullptr) return;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SendMessageW(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(window, &client);
    const int x = (client.right - client.left - cxIcon + 1) / 2;
    const int y = (client.bottom - client.top - cyIcon + 1) / 2;
    DrawIcon(dc, x, y, static_cast<HICON>(icon));
    EndPaint(window, &paint);
}

IconHandle LoadIconResource(int nId) {
    return LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(nId));
}

WString LoadStringResource(unsigned nId) {
    // With a zero buffer size the call hands out a pointer into the resource itself,
    // which is not NUL-terminated: the length comes with it.
    const wchar_t* text = nullptr;
    const int length =
        LoadStringW(GetModuleHandleW(nullptr), nId, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) return WString();
    return FromWide(text, static_cast<size_t>(length));
}

bool ChooseFileToOpen(WindowHandle owner, const WString& filter, const WString& folder,
                      const WString& title, WString& path) {
    // The dialog takes its filter as NUL-separated pairs ending in two NULs.
    WString filterPairs = filter;
    for (char16_t& c : filterPairs) {
        if (c == u'|') c = u'\0';
    }
    filterPairs.push_back(u'\0');
    // Room for any path the system can name; a short buffer makes the dialog fail on a
    // long one.
    std::vector<wchar_t> file(32768, L'\0');

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Hwnd(owner);
    ofn.lpstrFilter = Wide(filterPairs);
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = Wide(folder);
    ofn.lpstrTitle = Wide(title);
    ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!GetOpenFileNameW(&ofn)) return false;
    path = FromWide(file.data(), wcsnlen(file.data(), file.size()));
    return true;
}

void RunMessageLoop(WindowHandle dialog) {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        // Tab, Space, Enter and Escape work in a modeless dialog only through the dialog
        // manager. It dispatches every other message of the dialog itself, so the test
        // below sees each message once it has been handled either way.
        HWND window = Hwnd(dialog);
        if (window == nullptr || !IsWindow(window) || !IsDialogMessageW(window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (msg.message == WM_QUIT || msg.message == WM_NULL || msg.message == WM_CLOSE) break;
    }
}

}  // namespace plat
