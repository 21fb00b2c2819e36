#include "platform/executable_path.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

std::string ExecutableDirectory() {
#ifdef _WIN32
    char path[1024];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return std::string();
    }
    return std::filesystem::path(std::string(path, length)).parent_path().string();
#else
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
#endif
}
