#include "winapp/download_app.h"

#include "platform/executable_path.h"
#include "winapp/download_dlg.h"
#include "winapp/help_launcher.h"
#include "winapp/registry_settings_store.h"

namespace quillon {

namespace {

CDownloadApp* g_app = nullptr;

std::string ProgramDirectoryOf(const CDownloadApp::Options& options) {
    return options.programDirectory.empty() ? ExecutableDirectory() : options.programDirectory;
}

}  // namespace

CDownloadApp* GetDownloadApp() {
    return g_app;
}

CDownloadApp::CDownloadApp() : CDownloadApp(Options()) {}

CDownloadApp::CDownloadApp(Options options)
    : DownloadApp(ProgramDirectoryOf(options)),
      m_options(std::move(options)),
      m_programDirectory(ProgramDirectoryOf(m_options)) {
    g_app = this;
}

CDownloadApp::~CDownloadApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

int CDownloadApp::InitInstance(const std::string& imageFile) {
    CRegistrySettingsStore store(HKEY_CURRENT_USER, m_options.settingsKey);
    return Run(store, [&] {
        CDownloadDlg window(*this);
        window.SetImageFile(imageFile);
        const int result = window.DoModal();
        m_mainWindow = nullptr;
        return result;
    });  // the window, its job ended and its line closed, is gone before the settings are saved
}

void CDownloadApp::WinHelp(HWND owner) {
    ShowHelp(owner != nullptr ? owner : m_mainWindow.load(), m_helpFilePath);
}

}  // namespace quillon
