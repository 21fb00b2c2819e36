#include "platform/virtual_ports.h"

#include <cstdlib>
#include <filesystem>

#ifndef _WIN32
#include <unistd.h>
#endif

std::string DefaultVirtualPortFolder() {
    namespace fs = std::filesystem;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && *runtime != '\0') {
        return (fs::path(runtime) / "quillon" / "ports").string();
    }
    std::error_code error;
    fs::path temp = fs::temp_directory_path(error);
    if (error) {
        temp = "/tmp";
    }
#ifdef _WIN32
    const std::string user = "user";
#else
    const std::string user = std::to_string(static_cast<unsigned long>(getuid()));
#endif
    return (temp / ("quillon-" + user) / "ports").string();
}
