#include "winapp/download_app.h"

#include <algorithm>

#include "image/target_folders.h"
#include "platform/executable_path.h"
#include "winapp/download_dlg.h"
#include "winapp/help_launcher.h"
#include "winapp/registry_settings_store.h"

namespace {

CDownloadApp* g_app = nullptr;

// `path` with Windows separators throughout.
std::string NativeSeparators(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// `folder`\`name`.
std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/') {
        return folder + name;
    }
    return folder + '\\' + name;
}

}  // namespace

CDownloadApp* GetDownloadApp() {
    return g_app;
}

CDownloadApp::CDownloadApp() : CDownloadApp(Options()) {}

CDownloadApp::CDownloadApp(Options options) : m_options(std::move(options)) {
    g_app = this;
}

CDownloadApp::~CDownloadApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

std::string CDownloadApp::ProgramDirectory() const {
    return m_options.programDirectory.empty() ? ExecutableDirectory() : m_options.programDirectory;
}

int CDownloadApp::InitInstance(const std::string& imageFile) {
    // Beside the program, else in the installed tree's share folder; when neither holds it,
    // the path beside the program names the file that is missing.
    const std::string programDirectory = ProgramDirectory();
    const std::string shipped = FindShippedFile(programDirectory, kHelpFileName);
    m_pszHelpFilePath =
        NativeSeparators(shipped.empty() ? JoinPath(programDirectory, kHelpFileName) : shipped);

    CRegistrySettingsStore store(HKEY_CURRENT_USER, m_options.settingsKey);
    m_settings = LoadWindowSettings(store);
    m_bEraseAll = m_settings.eraseAll;

    int result = -1;
    {
        CDownloadDlg window(*this);
        window.SetImageFile(imageFile);
        result = window.DoModal();
    }  // the worker has ended and the window is gone
    m_pMainWnd = nullptr;
    if (SettingsSavedOn(result)) {
        m_settings.eraseAll = m_bEraseAll != 0 ? 1 : 0;
        SaveWindowSettings(store, m_settings);
    }
    return result;
}

void CDownloadApp::WinHelp(HWND owner) {
    ShowHelp(owner != nullptr ? owner : m_pMainWnd.load(), m_pszHelpFilePath);
}
