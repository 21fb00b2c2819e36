#include "platform/whole_append_posix.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/utf8_path.h"

namespace quillon {

bool AppendWholeOrCutBack(int fd, std::int64_t sizeBefore, const std::string& text,
                          std::string& error) {
    // Nothing is written yet on EINTR, so the write is tried again.
    ssize_t written;
    do {
        written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    bool ok = true;
    if (written < 0) {
        error = std::strerror(errno);
        ok = false;
    } else if (static_cast<std::size_t>(written) != text.size()) {
        error = "only " + std::to_string(written) + " of " + std::to_string(text.size()) +
                " bytes written";
        ok = false;
    } else {
        int synced;
        do {
            synced = fsync(fd);
        } while (synced != 0 && errno == EINTR);
        if (synced != 0) {
            error = std::strerror(errno);
            ok = false;
        }
    }
    if (!ok && sizeBefore >= 0 && written > 0) {
        while (ftruncate(fd, static_cast<off_t>(sizeBefore)) != 0 && errno == EINTR) {
        }
        fsync(fd);
    }
    return ok;
}

void FlushFolderOf(const std::string& path) {
    const std::filesystem::path folder = PathFromUtf8(path).parent_path();
    const int folderFile =
        open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFile >= 0) {
        fsync(folderFile);
        close(folderFile);
    }
}

}  // namespace quillon
