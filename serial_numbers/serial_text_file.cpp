#include "serial_numbers/serial_text_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/utf8_path.h"

namespace quillon {

SerialTake ReadSerialTextFile(const std::string& path, const std::string& name, std::string& text) {
    SerialTake result;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(PathFromUtf8(path), error);
    if (status.type() == std::filesystem::file_type::not_found) {
        result.error = SerialTakeError::kMissing;
        result.text = name + " does not exist";
        return result;
    }
    if (!error && status.type() != std::filesystem::file_type::regular) {
        result.error = SerialTakeError::kUnreadable;
        result.text = name + " is no regular file";
        return result;
    }
    errno = 0;
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (in) {
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    if (!in.is_open() || in.bad()) {
        result.error = SerialTakeError::kUnreadable;
        result.text = name + " cannot be read";
        if (errno != 0) {
            result.text += " (";
            result.text += std::strerror(errno);
            result.text += ")";
        }
    }
    return result;
}

std::string RealSerialPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(PathFromUtf8(path), error);
    return error ? path : Utf8FromPath(real);
}

std::vector<std::string> SplitSerialLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > begin && text[end - 1] == '\r') {
            --end;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = next;
    }
    return lines;
}

SerialTake FailedTake(SerialTakeError error, std::string text) {
    SerialTake take;
    take.error = error;
    take.text = std::move(text);
    return take;
}

std::optional<SerialTake> LockSerialFile(LockedFile& lock, const std::string& lockPath,
                                         const std::string& name,
                                         std::chrono::milliseconds patience,
                                         const std::function<bool()>& stopRequested) {
    std::string error;
    switch (lock.Open(lockPath, patience, stopRequested, error)) {
        case LockedFile::Outcome::kLocked:
            return std::nullopt;
        case LockedFile::Outcome::kBusy:
            return FailedTake(SerialTakeError::kLocked,
                              name + ": " + lockPath + " stays locked by another program");
        case LockedFile::Outcome::kStopped:
            return FailedTake(SerialTakeError::kStopped, name + ": stopped waiting for its lock");
        case LockedFile::Outcome::kFailed:
            break;
    }
    return FailedTake(SerialTakeError::kUnwritable,
                      name + ": " + lockPath + " cannot be used (" + error + ")");
}

}  // namespace quillon
