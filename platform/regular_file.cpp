#include "platform/regular_file.h"

#include <algorithm>

namespace quillon {

Unexpected<Error> TooLargeFileRead(std::size_t limit) {
    return Fail(ErrorKind::kTooLarge, "is larger than " + ByteCountText(limit));
}

Unexpected<Error> UnreadableFileRead(const std::string& systemText) {
    return Fail(ErrorKind::kIo, "cannot be read (" + systemText + ")");
}

FileRead ReadWithinLimit(
    std::size_t sizeHint, std::size_t limit, std::uint64_t linkCount,
    const std::function<Result<std::size_t>(char* into, std::size_t room)>& readSome) {
    if (sizeHint > limit) {
        return TooLargeFileRead(limit);
    }
    FileContent content;
    content.linkCount = linkCount;
    std::string& bytes = content.bytes;
    bytes.resize(sizeHint + 1);  // one more, to see that the file ends there
    std::size_t length = 0;
    for (;;) {
        if (length == bytes.size()) {
            if (length > limit) {
                return TooLargeFileRead(limit);
            }
            bytes.resize(std::min(limit + 1, length * 2 + 4096));
        }
        Result<std::size_t> got = readSome(bytes.data() + length, bytes.size() - length);
        if (!got) {
            return UnreadableFileRead(got.error().text);
        }
        if (*got == 0) {
            break;
        }
        length += *got;
    }
    if (length > limit) {
        return TooLargeFileRead(limit);
    }
    bytes.resize(length);
    return content;
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
