#include "serial_numbers/serial_list.h"

#include <map>
#include <set>

#include "platform/locked_file.h"
#include "serial_numbers/serial_format.h"
#include "serial_numbers/serial_text_file.h"

namespace quillon {

namespace {

bool Blank(const std::string& line) {
    return line.find_first_not_of(" \t") == std::string::npos;
}

// The values FILE.used `text` marks taken; `name` leads the error when a line holds none.
Result<std::set<std::uint64_t>> TakenValues(const std::string& text, const std::string& name) {
    std::set<std::uint64_t> taken;
    const std::vector<std::string> lines = SplitSerialLines(text);
    const bool lastLineWhole = text.empty() || text.back() == '\n';
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (Blank(lines[i])) {
            continue;
        }
        // An append cut short by a crash leaves the start of a value (its board never
        // started), which the next append ends with a line end: digits, which count as taken
        // (a number skipped at worst), or a bare "0x".
        if (const std::optional<std::uint64_t> value = ParseSerialValue(lines[i])) {
            taken.insert(*value);
        } else if (lines[i] != "0x" && lines[i] != "0X" &&
                   (i + 1 < lines.size() || lastLineWhole)) {
            return Fail(ErrorKind::kInvalidData,
                        name + " line " + std::to_string(i + 1) + " holds no number");
        }
    }
    return taken;
}

}  // namespace

Status SerialList::ReadList() {
    if (m_read) {
        return {};
    }
    const std::string name = "serial list " + m_path;
    Result<std::string> real = ResolveSerialPath(m_path, name);
    if (!real) {
        return Fail(std::move(real).error());
    }
    m_real = std::move(*real);
    const Result<std::string> text = ReadSerialTextFile(m_real, name, kSerialListLimit);
    if (!text) {
        return Fail(text.error());
    }
    std::map<std::uint64_t, std::size_t> lineOf;
    const std::vector<std::string> lines = SplitSerialLines(*text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (Blank(lines[i])) {
            continue;
        }
        const std::string where = "serial list " + m_path + " line " + std::to_string(i + 1);
        const std::optional<std::uint64_t> value = ParseSerialValue(lines[i]);
        if (!value) {
            m_values.clear();
            m_texts.clear();
            return Fail(ErrorKind::kInvalidData, where + " holds no number");
        }
        if (const auto first = lineOf.find(*value); first != lineOf.end()) {
            m_values.clear();
            m_texts.clear();
            return Fail(ErrorKind::kInvalidData, where + " gives the value of line " +
                                                     std::to_string(first->second) + " again");
        }
        lineOf[*value] = i + 1;
        m_values.push_back(*value);
        const std::size_t begin = lines[i].find_first_not_of(" \t");
        m_texts.push_back(lines[i].substr(begin, lines[i].find_last_not_of(" \t") + 1 - begin));
    }
    m_read = true;
    return {};
}

Result<std::uint64_t> SerialList::Next(bool advance, const std::function<bool()>& stopRequested,
                                       const SerialClaim&) {
    if (Status read = ReadList(); !read) {
        return Fail(std::move(read).error());
    }
    // FILE.used, beside the list where it lies, is only ever appended to, so it carries its own
    // lock. It is made when nothing has its name; a link of that name is followed, never
    // replaced.
    const std::string name = "serial list " + m_path;
    const std::string usedName = m_real + ".used";
    const Result<std::string> resolved = ResolveSerialPath(usedName, name + ": " + usedName);
    if (!resolved) {
        return Fail(resolved.error());
    }
    const std::string& usedPath = *resolved;
    LockedFile used;
    if (Status locked = LockSerialFile(used, usedPath, name, m_lockPatience, stopRequested);
        !locked) {
        return Fail(std::move(locked).error());
    }
    if (Status refused = SeveralNamesRefusal(name + ": " + usedPath, used.LinkCount()); !refused) {
        return Fail(std::move(refused).error());
    }
    const FileRead read = used.ReadAll(kSerialListLimit);
    if (!read) {
        return Fail(
            read.error().kind == ErrorKind::kTooLarge ? ErrorKind::kRefused : ErrorKind::kIo,
            name + ": " + usedPath + " " + read.error().text);
    }
    const std::string& text = read->bytes;
    const bool lastLineWhole = text.empty() || text.back() == '\n';
    const Result<std::set<std::uint64_t>> taken = TakenValues(text, name + ": " + usedPath);
    if (!taken) {
        return Fail(taken.error());
    }
    std::size_t next = 0;
    while (next < m_values.size() && taken->count(m_values[next]) != 0) {
        ++next;
    }
    if (next == m_values.size()) {
        return Fail(ErrorKind::kExhausted, name + " is used up");
    }
    if (!advance) {
        return m_values[next];
    }
    // On the disk before the value is given out: a crash from here on skips it at worst.
    std::string line = lastLineWhole ? "" : "\n";
    line += m_texts[next];
    line += '\n';
    if (const Status appended = used.Append(line); !appended) {
        return Fail(ErrorKind::kIo,
                    name + ": " + usedPath + " cannot be written (" + appended.error().text + ")");
    }
    return m_values[next];
}

}  // namespace quillon
