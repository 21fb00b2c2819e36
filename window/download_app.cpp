#include "window/download_app.h"

#include "image/target_folders.h"
#include "platform/utf8_path.h"

namespace quillon {

DownloadApp::DownloadApp(const std::string& programDirectory) {
    std::string path = FindShippedFile(programDirectory, kHelpFileName);
    if (path.empty()) {
        path = programDirectory;
        if (!path.empty() && path.back() != '/' && path.back() != '\\') {
            path += '/';
        }
        path += kHelpFileName;
    }
    // The system's own separators, as its help viewer expects them.
    m_helpFilePath = Utf8FromPath(PathFromUtf8(path).make_preferred());
}

int DownloadApp::Run(SettingsStore& store, const std::function<int()>& runMainWindow) {
    LoadSettings(store);
    const int result = runMainWindow();
    if (SettingsSavedOn(result)) {
        SaveSettings(store);
    }
    return result;
}

}  // namespace quillon
