#include "winapp/download_app.h"

#include "platform/executable_path.h"
#include "winapp/help_launcher.h"
#include "winapp/main_window.h"
#include "winapp/registry_settings_store.h"

namespace quillon {

namespace {

Win32DownloadApp* g_app = nullptr;

std::string ProgramDirectoryOf(const Win32DownloadApp::Options& options) {
    return options.programDirectory.empty() ? ExecutableDirectory() : options.programDirectory;
}

}  // namespace

Win32DownloadApp* GetDownloadApp() {
    return g_app;
}

Win32DownloadApp::Win32DownloadApp() : Win32DownloadApp(Options()) {}

Win32DownloadApp::Win32DownloadApp(Options options)
    : DownloadApp(ProgramDirectoryOf(options)),
      m_options(std::move(options)),
      m_programDirectory(ProgramDirectoryOf(m_options)) {
    g_app = this;
}

Win32DownloadApp::~Win32DownloadApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

int Win32DownloadApp::RunMainWindow(const std::string& imageFile) {
    RegistrySettingsStore store(HKEY_CURRENT_USER, m_options.settingsKey);
    return Run(store, [&] {
        Win32MainWindow window(*this);
        window.SetImageFile(imageFile);
        const int result = window.DoModal();
        m_mainWindow = nullptr;
        return result;
    });  // the window, its job ended and its line closed, is gone before the settings are saved
}

void Win32DownloadApp::OpenHelp(HWND owner) {
    ShowHelp(owner != nullptr ? owner : MainWindow(), HelpFilePath());
}

}  // namespace quillon
