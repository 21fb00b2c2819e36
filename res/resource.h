#pragma once

// Resource ids of the main window that code refers to, and its string table. The window's
// template 102 is main_window.ui, the log's context menu 129 is log_menu.ui and icon 128 is
// quillon.png (quillon.ico on Windows).

constexpr int IDS_ABOUTBOX = 101;          // text of the About entry
constexpr unsigned IDM_ABOUTBOX = 0x0010;  // its command in the system menu

// The text of string resource `id` (UTF-8), or an empty text for an unknown id.
inline const char* LoadResourceString(int id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return "&About Quillon...";
        default:
            return "";
    }
}
