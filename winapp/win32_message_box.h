#pragma once

#include <windows.h>

#include <string>

#include "platform/message_box.h"

// The core's message boxes (the HEX reader's German texts) as Win32 message boxes: caption
// "Quillon", an OK button and the warning icon. In the main window's thread the box is owned
// by the main window (which it disables meanwhile). From any other thread, the worker's, it has
// no owner and shows task-modal, in front: a box owned across threads would attach the two
// threads' input, and the window's thread may be waiting for the worker just then.
//
// `mainWindow` gives the main window, or nullptr while there is none.
void ShowWin32MessageBox(HWND mainWindow, const std::string& text);

// Installs a handler that shows each box with ShowWin32MessageBox over the application's main
// window (CDownloadApp::m_pMainWnd), and returns the handler it replaces.
MessageBoxHandler InstallWin32MessageBoxHandler();
