#include <windows.h>

#include "app/system_menu.h"

namespace {

HMENU SystemMenuOf(std::uintptr_t window) {
    return window != 0 ? GetSystemMenu(reinterpret_cast<HWND>(window), FALSE) : nullptr;
}

std::wstring Widen(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));  // without the terminating NUL
    return wide;
}

}  // namespace

bool HasSystemMenu(std::uintptr_t window) {
    return SystemMenuOf(window) != nullptr;
}

void AppendSystemMenuEntry(std::uintptr_t window, unsigned command, const std::string& text) {
    HMENU menu = SystemMenuOf(window);
    if (menu == nullptr) {
        return;
    }
    const std::wstring wide = Widen(text);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, command, wide.c_str());
}

void EnableSystemMenuClose(std::uintptr_t window, bool enable) {
    HMENU menu = SystemMenuOf(window);
    if (menu != nullptr) {
        EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
    }
}

unsigned SystemCommandOf(const void* nativeMessage) {
    const auto* message = static_cast<const MSG*>(nativeMessage);
    if (message == nullptr || message->message != WM_SYSCOMMAND) {
        return 0;
    }
    return static_cast<unsigned>(message->wParam & 0xFFF0);
}
