#include "serial_numbers/serial_text_file.h"

#include <filesystem>

#include "platform/regular_file.h"
#include "platform/utf8_path.h"

namespace quillon {

SerialTake ReadSerialTextFile(const std::string& path, const std::string& name, std::size_t limit,
                              std::string& text) {
    FileReadResult read = ReadRegularFile(path, limit);
    switch (read.error) {
        case FileReadError::kNone:
            break;
        case FileReadError::kMissing:
            return FailedTake(SerialTakeError::kMissing, name + " " + read.reason);
        case FileReadError::kTooLarge:
            return FailedTake(SerialTakeError::kRefused, name + " " + read.reason);
        case FileReadError::kNotRegular:
        case FileReadError::kUnreadable:
            return FailedTake(SerialTakeError::kUnreadable, name + " " + read.reason);
    }
    if (std::optional<SerialTake> refused = SeveralNamesRefusal(name, read.linkCount)) {
        return *refused;
    }
    text = std::move(read.content);
    return {};
}

SerialTake ResolveSerialPath(const std::string& path, const std::string& name, std::string& real) {
    namespace fs = std::filesystem;
    const fs::path given = PathFromUtf8(path);
    std::error_code error;
    const fs::file_type type = fs::symlink_status(given, error).type();
    if (type == fs::file_type::not_found) {
        real = path;  // nothing has that name (yet)
        return {};
    }
    if (error) {
        return FailedTake(SerialTakeError::kUnreadable,
                          name + " cannot be looked at (" + error.message() + ")");
    }
    const fs::path resolved = fs::canonical(given, error);
    if (!error) {
        real = Utf8FromPath(resolved);
        return {};
    }
    if (type != fs::file_type::symlink) {
        return FailedTake(SerialTakeError::kUnreadable,
                          name + " cannot be looked at (" + error.message() + ")");
    }
    std::error_code readError;
    const std::string target = Utf8FromPath(fs::read_symlink(given, readError));
    return FailedTake(SerialTakeError::kRefused,
                      name + " is a symbolic link to " + target +
                          (error == std::errc::no_such_file_or_directory
                               ? ", which does not exist (a share that is not mounted?)"
                               : ", which cannot be followed (" + error.message() + ")"));
}

std::optional<SerialTake> SeveralNamesRefusal(const std::string& name, std::uint64_t links) {
    if (links <= 1) {
        return std::nullopt;
    }
    return FailedTake(SerialTakeError::kRefused,
                      name + " has " + std::to_string(links) +
                          " names (hard links): a number taken through one of them could be "
                          "taken again through another");
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
