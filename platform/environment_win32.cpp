#include <windows.h>
// after windows.h
#include <knownfolders.h>
#include <shlobj.h>

#include "platform/environment.h"
#include "platform/utf16_text.h"

namespace quillon {

XdgEnvironment ReadXdgEnvironment() {
    return {};
}

std::string SharedDataFolder() {
    PWSTR folder = nullptr;
    std::string path;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder))) {
        path = Utf8FromUtf16(folder);
    }
    ::CoTaskMemFree(folder);
    return path;
}

}  // namespace quillon
