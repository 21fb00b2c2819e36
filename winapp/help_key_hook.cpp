#include "winapp/help_key_hook.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace quillon {

namespace {

struct Registration {
    HWND window;
    HelpKeyHook::Handler onHelp;
};

// Per thread: each window's thread has its own modal loops and its own hook. Only trivially
// destructible thread_local variables: mingw-w64's destructors of thread_local objects run
// unreliably at a thread's end, so the list lives on the heap while a window is registered.
struct ThreadHelpKeys {
    std::vector<Registration> windows;
    HHOOK hook = nullptr;
};
thread_local ThreadHelpKeys* t_help = nullptr;

bool KeyDown(int key) {
    return (::GetKeyState(key) & 0x8000) != 0;
}

LRESULT CALLBACK MessageFilterProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && lParam != 0 && HelpKeyHook::HandleMessage(*reinterpret_cast<MSG*>(lParam))) {
        return TRUE;  // handled: the modal loop drops the key
    }
    return ::CallNextHookEx(t_help != nullptr ? t_help->hook : nullptr, code, wParam, lParam);
}

}  // namespace

void HelpKeyHook::Register(HWND window, Handler onHelp) {
    if (window == nullptr) {
        return;
    }
    Unregister(window);
    if (t_help == nullptr) {
        t_help = new ThreadHelpKeys;
    }
    t_help->windows.push_back({window, std::move(onHelp)});
    if (t_help->hook == nullptr) {
        t_help->hook =
            ::SetWindowsHookExW(WH_MSGFILTER, MessageFilterProc, nullptr, ::GetCurrentThreadId());
    }
}

void HelpKeyHook::Unregister(HWND window) {
    if (t_help == nullptr) {
        return;
    }
    std::erase_if(t_help->windows,
                  [window](const Registration& entry) { return entry.window == window; });
    if (t_help->windows.empty()) {
        if (t_help->hook != nullptr) {
            ::UnhookWindowsHookEx(t_help->hook);
        }
        delete t_help;
        t_help = nullptr;
    }
}

bool HelpKeyHook::HandleMessage(const MSG& message) {
    if (t_help == nullptr || message.message != WM_KEYDOWN || message.wParam != VK_F1 ||
        message.hwnd == nullptr) {
        return false;
    }
    if (KeyDown(VK_SHIFT) || KeyDown(VK_CONTROL) || KeyDown(VK_MENU)) {
        return false;
    }
    const HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
    const auto found =
        std::find_if(t_help->windows.begin(), t_help->windows.end(),
                     [root](const Registration& entry) { return entry.window == root; });
    if (found == t_help->windows.end()) {
        return false;
    }
    // A copy: the handler may open and close windows that register and unregister.
    const Handler onHelp = found->onHelp;
    if (onHelp) {
        onHelp(root);
    }
    return true;
}

}  // namespace quillon
