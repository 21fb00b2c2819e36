#include "platform/regular_file.h"

#include <algorithm>

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

FileReadResult ReadWithinLimit(
    std::size_t sizeHint, std::size_t limit, std::uint64_t linkCount,
    const std::function<bool(char*, std::size_t, std::size_t&, std::string&)>& readSome) {
    if (sizeHint > limit) {
        return TooLargeFileRead(limit);
    }
    FileReadResult result;
    result.linkCount = linkCount;
    result.content.resize(sizeHint + 1);  // one more, to see that the file ends there
    std::size_t length = 0;
    for (;;) {
        if (length == result.content.size()) {
            if (length > limit) {
                return TooLargeFileRead(limit);
            }
            result.content.resize(std::min(limit + 1, length * 2 + 4096));
        }
        std::size_t got = 0;
        std::string systemText;
        if (!readSome(result.content.data() + length, result.content.size() - length, got,
                      systemText)) {
            return UnreadableFileRead(systemText);
        }
        if (got == 0) {
            break;
        }
        length += got;
    }
    if (length > limit) {
        return TooLargeFileRead(limit);
    }
    result.content.resize(length);
    return result;
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
