#include "platform/executable_path.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>

#include "platform/utf8_path.h"
#endif

std::string ExecutableDirectory() {
#ifdef _WIN32
    // The Unicode call: the 8-bit one cannot name every folder, and its text would not be
    // UTF-8. The buffer grows until the path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::string();
        }
        if (length < path.size()) {
            path.resize(length);
            return Utf8FromPath(std::filesystem::path(path).parent_path());
        }
        if (path.size() >= 32768) {
            return std::string();  // longer than any Windows path
        }
        path.resize(path.size() * 2);
    }
#else
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
#endif
}
