#include "platform/regular_file.h"

namespace quillon {

FileReadResult FailedFileRead(FileReadError error, std::string reason) {
    FileReadResult result;
    result.error = error;
    result.reason = std::move(reason);
    return result;
}

FileReadResult TooLargeFileRead(std::size_t limit) {
    return FailedFileRead(FileReadError::kTooLarge, "is larger than " + ByteCountText(limit));
}

FileReadResult UnreadableFileRead(const std::string& systemText) {
    return FailedFileRead(FileReadError::kUnreadable, "cannot be read (" + systemText + ")");
}

std::string ByteCountText(std::size_t bytes) {
    constexpr std::size_t kKiB = 1024;
    constexpr std::size_t kMiB = kKiB * kKiB;
    if (bytes >= kMiB && bytes % kMiB == 0) {
        return std::to_string(bytes / kMiB) + " MiB";
    }
    if (bytes >= kKiB && bytes % kKiB == 0) {
        return std::to_string(bytes / kKiB) + " KiB";
    }
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

}  // namespace quillon
