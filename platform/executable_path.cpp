#include "platform/executable_path.h"

#include <filesystem>

#include "platform/utf8_path.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quillon {

std::string ExecutablePath() {
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
            return Utf8FromPath(std::filesystem::path(path));
        }
        if (path.size() >= 32768) {
            return std::string();  // longer than any Windows path
        }
        path.resize(path.size() * 2);
    }
#else
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.string();
#endif
}

std::string ExecutableDirectory() {
    const std::string path = ExecutablePath();
    return path.empty() ? path : Utf8FromPath(PathFromUtf8(path).parent_path());
}

std::string ExecutablePathToRestart() {
    std::string program = ExecutablePath();
#ifdef __linux__
    if (program.empty() || program.find(" (deleted)") != std::string::npos) {
        program = "/proc/self/exe";
    }
#endif
    return program;
}

}  // namespace quillon
