#include "window/download_app.h"

#include <algorithm>

#include "image/target_folders.h"

DownloadApp::DownloadApp(const std::string& programDirectory) {
    std::string path = FindShippedFile(programDirectory, kHelpFileName);
    if (path.empty()) {
        path = programDirectory;
        if (!path.empty() && path.back() != '/' && path.back() != '\\') {
            path += '/';
        }
        path += kHelpFileName;
    }
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    m_helpFilePath = path;
}

int DownloadApp::Run(SettingsStore& store, const std::function<int()>& runMainWindow) {
    LoadSettings(store);
    const int result = runMainWindow();
    if (SettingsSavedOn(result)) {
        SaveSettings(store);
    }
    return result;
}
