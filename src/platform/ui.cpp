#include "platform/ui.h"

#include <atomic>

namespace plat {

int ShowSystemMessageBox(const WString& text, unsigned type);  // the backend's own

namespace {
std::atomic<MessageBoxFunction> g_messageBox{nullptr};
std::atomic<void*> g_messageBoxOwner{nullptr};
}  // namespace

int ShowMessageBox(const WString& text, unsigned type) {
    if (MessageBoxFunction function = g_messageBox.load()) return function(text, type);
    return ShowSystemMessageBox(text, type);
}

void SetMessageBoxOwner(void* window) { g_messageBoxOwner = window; }

void* MessageBoxOwner() { return g_messageBoxOwner.load(); }

void SetMessageBoxForTesting(MessageBoxFunction function) { g_messageBox = function; }

}  // namespace plat
