#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "window/download_app.h"
#include "window/job_starter.h"
#include "window/window_lists.h"

namespace quillon {

// The application object of the Win32 window: the settings and the help file path of
// DownloadApp, kept in the registry below HKEY_CURRENT_USER\<Options::settingsKey> (laid out as
// the Qt window's QSettings writes them on Windows), the main window (template 102) run as a
// modal dialog in the calling thread, and the help opened with the program the shell associates
// with it.
class Win32DownloadApp : public DownloadApp {
public:
    // What a test changes; a program leaves all of it as it is.
    struct Options {
        std::wstring settingsKey = L"Software\\Brenwick\\Quillon";
        std::string programDirectory;   // UTF-8; empty: the folder of the running .exe
        PortEnumerator enumeratePorts;  // empty: EnumerateComPorts
        // Makes the window's jobs; empty: a JobRunner on the serial ports.
        std::function<std::unique_ptr<JobStarter>()> makeJobs;
    };

    Win32DownloadApp();
    explicit Win32DownloadApp(Options options);
    ~Win32DownloadApp();
    Win32DownloadApp(const Win32DownloadApp&) = delete;
    Win32DownloadApp& operator=(const Win32DownloadApp&) = delete;

    // Reads the settings, runs the main window modally, writes the settings when it ended with
    // OK (1). Returns the dialog's result (1 OK, 2 Cancel, -1 when it could not be created).
    // `imageFile` (UTF-8, may be empty) goes into the image file field.
    int RunMainWindow(const std::string& imageFile = std::string());

    // Opens the help file with the program the shell associates with it; failures in one of
    // the two message boxes, owned by `owner`.
    void OpenHelp(HWND owner);

    // The folder of the program (UTF-8): Options::programDirectory, else the running .exe's.
    const std::string& ProgramDirectory() const { return m_programDirectory; }
    const Options& GivenOptions() const { return m_options; }

    // The main window while it exists, else nullptr (read from any thread).
    HWND MainWindow() const { return m_mainWindow.load(); }
    // The main window tells when it has come up and when it goes.
    void MainWindowOpened(HWND window) { m_mainWindow = window; }
    void MainWindowClosed(HWND window) {
        HWND expected = window;
        m_mainWindow.compare_exchange_strong(expected, nullptr);
    }

private:
    const Options m_options;
    std::string m_programDirectory;
    std::atomic<HWND> m_mainWindow{nullptr};
};

// The one application object, or nullptr.
Win32DownloadApp* GetDownloadApp();

}  // namespace quillon
