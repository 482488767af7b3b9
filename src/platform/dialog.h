// Dialog boxes from the program's resources: the small part of a dialog framework that the
// main dialog and its About box need (a dialog object whose handlers the dialog manager
// calls, data exchange for bound static controls, the message loop, the file-open
// dialog, the taskbar button's progress). Windows only.
//
// Window and icon handles are the system's HWND and HICON, held as void* so that callers
// need not include <windows.h>. Names stay clear of the Win32 macros (SetWindowText,
// PostMessage, LoadString, ...), which would rename them in the files that do include it.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/wstr.h"

namespace plat {

using WindowHandle = void*;
using IconHandle = void*;

// Messages and values the dialogs use (the values of the Win32 constants named).
namespace wm {
constexpr unsigned kNull = 0x0000;            // WM_NULL
constexpr unsigned kPaint = 0x000F;           // WM_PAINT
constexpr unsigned kClose = 0x0010;           // WM_CLOSE
constexpr unsigned kQuit = 0x0012;            // WM_QUIT
constexpr unsigned kIconEraseBkgnd = 0x0027;  // WM_ICONERASEBKGND
constexpr unsigned kQueryDragIcon = 0x0037;   // WM_QUERYDRAGICON
constexpr unsigned kGetIcon = 0x007F;         // WM_GETICON
constexpr unsigned kCommand = 0x0111;         // WM_COMMAND
constexpr unsigned kSysCommand = 0x0112;      // WM_SYSCOMMAND
constexpr unsigned kBmGetCheck = 0x00F0;      // BM_GETCHECK
constexpr unsigned kBmSetCheck = 0x00F1;      // BM_SETCHECK
constexpr unsigned kBmClick = 0x00F5;         // BM_CLICK
constexpr unsigned kUser = 0x0400;            // WM_USER
constexpr unsigned kApp = 0x8000;             // WM_APP: the program's own messages start here
constexpr unsigned kAppLast = 0xBFFF;         // ... and end here
constexpr unsigned kBnClicked = 0;            // BN_CLICKED
constexpr int kIdOk = 1;                      // IDOK
constexpr int kIdCancel = 2;                  // IDCANCEL
constexpr int kIconSmall = 0;                 // ICON_SMALL
constexpr int kIconBig = 1;                   // ICON_BIG
}  // namespace wm

// The WPARAM of a WM_COMMAND: the control's identifier and its notification code.
constexpr uintptr_t CommandParam(int nId, int nCode) {
    return (static_cast<uintptr_t>(nCode & 0xFFFF) << 16) | static_cast<uintptr_t>(nId & 0xFFFF);
}

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

class Dialog;

// One transfer between a dialog's controls and its owner's members.
struct DataExchange {
    Dialog& dialog;
    // true: controls to members; false: members to controls.
    bool bSaveAndValidate;
};

// A static control bound to a dialog item, so that its owner can set its text.
class StaticControl {
public:
    bool IsBound() const { return m_hWnd != nullptr; }
    WindowHandle Handle() const { return m_hWnd; }
    void SetText(const WString& text);
    WString Text() const;

private:
    friend void DdxControl(DataExchange& dx, int nId, StaticControl& control);
    WindowHandle m_hWnd = nullptr;
};

// Binds `control` to the dialog item `nId` on the first exchange; later exchanges leave
// the binding as it is.
void DdxControl(DataExchange& dx, int nId, StaticControl& control);

// What a dialog hands to its owner. A handler returns true when it has handled the message
// and false to leave it to the dialog manager's default handling.
class DialogEvents {
public:
    virtual ~DialogEvents() = default;

    // Binds members to controls; called by Dialog::UpdateData.
    virtual void DoDataExchange(DataExchange& /*dx*/) {}
    // The window and its controls exist and the first exchange has run. True lets the
    // dialog manager give the focus to the first control.
    virtual bool OnInitDialog() { return true; }
    virtual bool OnCommand(int /*nId*/, int /*nCode*/) { return false; }
    virtual bool OnSysCommand(unsigned /*nId*/) { return false; }
    virtual bool OnPaint() { return false; }
    // The icon shown while the minimized window is dragged; null for the system's.
    virtual IconHandle OnQueryDragIcon() { return nullptr; }
    // A message of the program's own (wm::kApp to wm::kAppLast), sent or posted to the
    // dialog.
    virtual bool OnAppMessage(unsigned /*nMessage*/) { return false; }
};

struct TaskbarButton;

// A dialog box made from a template of the program's resources. The object owns its
// window: destroying the object destroys the window.
class Dialog {
public:
    Dialog(int nTemplateId, DialogEvents& events);
    ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Makes the window modeless, with no owner, from the template. Its initialisation
    // (the first exchange, then OnInitDialog) runs before this returns. False when the
    // system cannot make it.
    bool CreateModeless();
    // Runs the dialog modally, owned by `owner`, until EndDialog. Returns EndDialog's
    // result, or -1 when the dialog could not be made. Unless the owner's OnCommand
    // handles them, IDOK and IDCANCEL end a modal dialog with their identifier.
    int DoModal(WindowHandle owner);
    void EndDialog(int nResult);

    // Null before CreateModeless and after the window has been destroyed.
    WindowHandle Handle() const { return m_hWnd; }
    WindowHandle Item(int nId) const;

    // Runs the owner's DoDataExchange in the given direction. False without a window.
    bool UpdateData(bool bSaveAndValidate);

    void Show(int nCmdShow);
    void Update();  // paints what is waiting to be painted
    bool IsMinimized() const;
    // Posts a message to the dialog; any thread may call it while the window exists.
    bool Post(unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0);
    void SetCaption(const WString& text);

    void SetItemText(int nId, const WString& text);
    WString ItemText(int nId) const;
    void EnableItem(int nId, bool bEnable);
    bool IsItemEnabled(int nId) const;
    bool IsItemChecked(int nId) const;  // BM_GETCHECK
    // The identifier of the control that has the keyboard focus; 0 when the focus is not
    // on one of the dialog's controls (another window is active).
    int FocusedItem() const;
    // Gives the control the keyboard focus as the dialog manager does on Tab
    // (WM_NEXTDLGCTL): a push button that gets it shows itself as the default one.
    void FocusItem(int nId);
    // The window's taskbar button shows a progress of unknown length (bBusy) or none.
    // Only where the system offers it (ITaskbarList3, Windows 7 and later); elsewhere
    // nothing happens.
    void SetTaskbarBusy(bool bBusy);

    // Appends a separator and then the entry `text` with command `nCommand` to the
    // window's system menu (taken without reverting it). False when there is none.
    bool AppendSystemMenuEntry(unsigned nCommand, const WString& text);
    void SetIcon(IconHandle icon, bool bBigIcon);
    // The item's rectangle in the dialog's client coordinates, and moving it there with
    // repainting.
    Rect ItemRect(int nId) const;
    void MoveItem(int nId, const Rect& rect);
    // Paints the minimized window as its icon: erases the background (WM_ICONERASEBKGND),
    // then draws `icon` centred in the client area. For OnPaint only.
    void PaintMinimizedIcon(IconHandle icon);

private:
    friend struct DialogProcedure;

    int m_nTemplateId;
    DialogEvents& m_events;
    WindowHandle m_hWnd = nullptr;
    bool m_bModal = false;
    std::unique_ptr<TaskbarButton> m_taskbar;  // made on first use
};

// The program's own resources. The icon is shared: the system frees it with the module.
// The string is empty when the resource is missing or empty.
IconHandle LoadIconResource(int nId);
WString LoadStringResource(unsigned nId);

// The file-open dialog (GetOpenFileNameW, Explorer style, read-only box hidden), owned
// by `owner`, starting in `folder` with `title` as its caption. `filter` is given as
// "Name|pattern|Name|pattern||". True with the chosen file's full path in `path`; false,
// with `path` untouched, when the user cancelled or the dialog failed.
bool ChooseFileToOpen(WindowHandle owner, const WString& filter, const WString& folder,
                      const WString& title, WString& path);

// The thread's message loop: takes each message (GetMessageW), lets the dialog manager
// have the keyboard messages of `dialog` (Tab, Space, Enter, Escape) and translates and
// dispatches the rest, and returns right after the first WM_CLOSE, WM_NULL or WM_QUIT has
// been handled, or when GetMessageW reports WM_QUIT or fails.
void RunMessageLoop(WindowHandle dialog);

}  // namespace plat
