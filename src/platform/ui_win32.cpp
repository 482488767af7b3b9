#include <windows.h>

#include <commctrl.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "platform/util_win32.h"

namespace plat {
namespace {

// The caption the dialog framework gives its message boxes when the program names no
// title of its own: the executable's name without folder and extension.
WString ProgramName() {
    const WString name = NameOf(ExecutablePath());
    return name.substr(0, name.rfind(u'.'));
}

}  // namespace

int ShowSystemMessageBox(const WString& text, unsigned type) {
    // Like the framework, a plain OK box carries the exclamation icon unless the caller
    // chose an icon.
    if ((type & MB_ICONMASK) == 0 && (type & MB_TYPEMASK) <= MB_OKCANCEL) {
        type |= MB_ICONEXCLAMATION;
    }
    // Owned by the program's dialog, so that the dialog cannot be used while the box is
    // up; by the active window when the dialog is hidden or gone. Without either (a
    // silent run) the box is task-modal.
    HWND owner = static_cast<HWND>(MessageBoxOwner());
    if (owner == nullptr || !IsWindow(owner) || !IsWindowVisible(owner)) owner = GetActiveWindow();
    if (owner == nullptr) type |= MB_TASKMODAL;
    return MessageBoxW(owner, win32::Wide(text), win32::Wide(ProgramName()), type);
}

bool InitCommonControls() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    return InitCommonControlsEx(&controls) != FALSE;
}

}  // namespace plat
