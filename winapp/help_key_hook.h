#pragma once

#include <windows.h>

#include <functional>

namespace quillon {

// F1 in the main window or the about box: a message filter hook (WH_MSGFILTER) of the
// window's thread sees every message the dialog boxes' modal loops take, before the focused
// control does. F1 pressed without Shift, Ctrl or Alt in a registered window or any of its
// controls calls that window's handler and goes no further; F1 with a modifier, and F1 in any
// other window (a message box, the file dialog), passes on unchanged.
//
// A window registers in its WM_INITDIALOG and unregisters in its WM_DESTROY, in its own
// thread; the hook is installed with the thread's first registration and removed with its
// last.
class HelpKeyHook {
public:
    using Handler = std::function<void(HWND window)>;

    static void Register(HWND window, Handler onHelp);
    static void Unregister(HWND window);

    // Whether `message` is the help key for a registered window; calls its handler if so.
    static bool HandleMessage(const MSG& message);
};

}  // namespace quillon
