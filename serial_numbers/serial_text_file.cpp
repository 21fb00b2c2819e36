#include "serial_numbers/serial_text_file.h"

#include <filesystem>

#include "platform/regular_file.h"
#include "platform/utf8_path.h"

namespace quillon {

Result<std::string> ReadSerialTextFile(const std::string& path, const std::string& name,
                                       std::size_t limit) {
    FileRead read = ReadRegularFile(path, limit);
    if (!read) {
        const ErrorKind kind = read.error().kind;
        return Fail(kind == ErrorKind::kNotFound   ? ErrorKind::kNotFound
                    : kind == ErrorKind::kTooLarge ? ErrorKind::kRefused
                                                   : ErrorKind::kIo,
                    name + " " + read.error().text);
    }
    if (Status refused = SeveralNamesRefusal(name, read->linkCount); !refused) {
        return Fail(std::move(refused).error());
    }
    return std::move(read->bytes);
}

Result<std::string> ResolveSerialPath(const std::string& path, const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path given = PathFromUtf8(path);
    std::error_code error;
    const fs::file_type type = fs::symlink_status(given, error).type();
    if (type == fs::file_type::not_found) {
        return path;  // nothing has that name (yet)
    }
    if (error) {
        return Fail(ErrorKind::kIo, name + " cannot be looked at (" + error.message() + ")");
    }
    const fs::path resolved = fs::canonical(given, error);
    if (!error) {
        return Utf8FromPath(resolved);
    }
    if (type != fs::file_type::symlink) {
        return Fail(ErrorKind::kIo, name + " cannot be looked at (" + error.message() + ")");
    }
    std::error_code readError;
    const std::string target = Utf8FromPath(fs::read_symlink(given, readError));
    return Fail(ErrorKind::kRefused,
                name + " is a symbolic link to " + target +
                    (error == std::errc::no_such_file_or_directory
                         ? ", which does not exist (a share that is not mounted?)"
                         : ", which cannot be followed (" + error.message() + ")"));
}

Status SeveralNamesRefusal(const std::string& name, std::uint64_t links) {
    if (links <= 1) {
        return {};
    }
    return Fail(ErrorKind::kRefused,
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

Status LockSerialFile(LockedFile& lock, const std::string& lockPath, const std::string& name,
                      std::chrono::milliseconds patience,
                      const std::function<bool()>& stopRequested) {
    const Status locked = lock.Open(lockPath, patience, stopRequested);
    if (locked) {
        return {};
    }
    switch (locked.error().kind) {
        case ErrorKind::kBusy:
            return Fail(ErrorKind::kBusy,
                        name + ": " + lockPath + " stays locked by another program");
        case ErrorKind::kAborted:
            return Fail(ErrorKind::kAborted, name + ": stopped waiting for its lock");
        default:
            return Fail(ErrorKind::kIo,
                        name + ": " + lockPath + " cannot be used (" + locked.error().text + ")");
    }
}

}  // namespace quillon
