#include "database/board_row_spool.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/append_only_file.h"
#include "platform/file_replace.h"
#include "platform/locked_file.h"
#include "platform/sha256.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

// How long a program waits for another one's use of the spool: a few database statements.
constexpr auto kLockPatience = std::chrono::seconds(30);
constexpr const char* kRunIdKey = "{\"runId\": \"";
constexpr const char* kRecordKey = "\", \"record\": ";

struct SpooledRow {
    std::string runId;
    std::string line;
};

// A spool line's run and record; none for a line of another shape (kept as it is).
std::optional<SpooledRow> ReadSpoolLine(const std::string& text) {
    const std::string runIdKey = kRunIdKey;
    if (text.rfind(runIdKey, 0) != 0 || text.empty() || text.back() != '}') {
        return std::nullopt;
    }
    const std::size_t end = text.find(kRecordKey, runIdKey.size());
    if (end == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t record = end + std::string(kRecordKey).size();
    return SpooledRow{text.substr(runIdKey.size(), end - runIdKey.size()),
                      text.substr(record, text.size() - 1 - record)};
}

// The spool's lines, without their ends; none when it cannot be read.
Result<std::vector<std::string>> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::error_code error;
    if (!std::filesystem::exists(PathFromUtf8(path), error)) {
        return lines;
    }
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) {
        return Fail(ErrorKind::kIo, "the spool " + path + " cannot be read");
    }
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    if (in.bad()) {
        return Fail(ErrorKind::kIo, "the spool " + path + " cannot be read");
    }
    return lines;
}

}  // namespace

std::string BoardRowSpool::PathFor(const std::string& dataFolder, const std::string& conninfo) {
    const std::string digest =
        Sha256Hex(reinterpret_cast<const std::uint8_t*>(conninfo.data()), conninfo.size());
    return Utf8FromPath(PathFromUtf8(dataFolder) /
                        ("database-spool-" + digest.substr(0, 16) + ".jsonl"));
}

Status BoardRowSpool::Keep(const std::string& runId, const std::string& line) {
    std::error_code error;
    std::filesystem::create_directories(PathFromUtf8(m_path).parent_path(), error);
    LockedFile lock;
    if (Status locked = lock.Open(m_path + ".lock", kLockPatience, nullptr); !locked) {
        return locked;
    }
    AppendOnlyFile file;
    if (Status opened = file.Open(m_path); !opened) {
        return opened;
    }
    return file.Append(kRunIdKey + runId + kRecordKey + line + "}\n");
}

Result<std::size_t> BoardRowSpool::StoreInto(FactoryDatabase& database,
                                             const FactoryDatabase::StopRequested& stop) {
    std::error_code error;
    if (!std::filesystem::exists(PathFromUtf8(m_path), error)) {
        return std::size_t{0};
    }
    LockedFile lock;
    if (Status locked = lock.Open(m_path + ".lock", kLockPatience, stop); !locked) {
        return Fail(std::move(locked).error());
    }
    Result<std::vector<std::string>> lines = ReadLines(m_path);
    if (!lines) {
        return Fail(std::move(lines).error());
    }
    std::size_t stored = 0;
    Status storing;
    for (const std::string& line : *lines) {
        const std::optional<SpooledRow> row = ReadSpoolLine(line);
        if (!row) {
            break;  // not one of ours: left where it is, for a person to look at
        }
        storing = database.StoreBoardRow(row->runId, row->line, stop);
        if (!storing) {
            break;
        }
        ++stored;
    }
    if (stored > 0) {
        std::string rest;
        for (std::size_t i = stored; i < lines->size(); ++i) {
            rest += (*lines)[i] + "\n";
        }
        if (Status replaced = ReplaceFileDurably(m_path, rest); !replaced) {
            return Fail(std::move(replaced).error());
        }
    }
    if (!storing) {
        return Fail(std::move(storing).error());
    }
    return lines->size() - stored;
}

Result<std::size_t> BoardRowSpool::Count() const {
    Result<std::vector<std::string>> lines = ReadLines(m_path);
    if (!lines) {
        return Fail(std::move(lines).error());
    }
    return lines->size();
}

}  // namespace quillon
