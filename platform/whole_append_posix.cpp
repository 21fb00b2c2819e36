#include "platform/whole_append_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/utf8_path.h"

namespace quillon {

bool AppendWholeOrCutBack(int fd, const std::string& text, std::string& error) {
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
    if (ok || written <= 0) {
        return ok;
    }
    // With O_APPEND the write moved the offset to just behind its own bytes: they began
    // `written` bytes before it, wherever the file ended at that moment.
    const off_t end = lseek(fd, 0, SEEK_CUR);
    struct stat status {};
    if (end < written || fstat(fd, &status) != 0 || status.st_size != end) {
        error += "; the part written stays, since the file has grown behind it";
        return false;
    }
    int cut;
    do {
        cut = ftruncate(fd, end - written);
    } while (cut != 0 && errno == EINTR);
    if (cut != 0) {
        error += std::string("; the part written stays (") + std::strerror(errno) + ")";
        return false;
    }
    static_cast<void>(fsync(fd));  // the cut is what a flush can still save; its error adds nothing
    return false;
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
