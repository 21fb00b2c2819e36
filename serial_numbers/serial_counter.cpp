#include "serial_numbers/serial_counter.h"

#include "platform/file_replace.h"
#include "platform/locked_file.h"
#include "serial_numbers/serial_format.h"
#include "serial_numbers/serial_text_file.h"

namespace quillon {

Result<std::uint64_t> SerialCounter::Next(bool advance, const std::function<bool()>& stopRequested,
                                          const SerialClaim&) {
    const std::string name = "serial counter " + m_path;
    const Result<std::string> real = ResolveSerialPath(m_path, name);
    if (!real) {
        return Fail(real.error());
    }
    // The counter file itself is replaced by each take, so the lock lives in a file of its own
    // that stays.
    LockedFile lock;
    if (Status locked = LockSerialFile(lock, *real + ".lock", name, m_lockPatience, stopRequested);
        !locked) {
        return Fail(std::move(locked).error());
    }
    Result<std::uint64_t> value = ReadCounter(*real, name);
    if (!value || !advance) {
        return value;
    }
    if (*value == UINT64_MAX) {
        return Fail(ErrorKind::kExhausted, name + " is at its end");
    }
    // On the disk before the number is given out: a crash from here on skips it at worst.
    if (const Status replaced = ReplaceFileDurably(*real, std::to_string(*value + 1) + "\n");
        !replaced) {
        return Fail(ErrorKind::kIo, name + " cannot be written (" + replaced.error().text + ")");
    }
    return value;
}

Result<std::uint64_t> SerialCounter::ReadCounter(const std::string& real,
                                                 const std::string& name) const {
    Result<std::string> text = ReadSerialTextFile(real, name, kSerialCounterLimit);
    if (text) {
        if (const std::optional<std::uint64_t> value = ParseSerialValue(*text)) {
            return *value;
        }
        return Fail(ErrorKind::kInvalidData, name + " holds no number");
    }
    Error missing = std::move(text).error();
    if (missing.kind != ErrorKind::kNotFound) {
        return Fail(std::move(missing));
    }
    // Only a name that is still nothing is made: a link put there meanwhile stays a link.
    if (const Result<std::string> again = ResolveSerialPath(real, name); !again) {
        return Fail(again.error());
    }
    if (m_missing == Missing::kRefuse) {
        missing.text +=
            " (a production run takes from an existing counter only; --serial-start "
            "creates one in a run of one board)";
        return Fail(std::move(missing));
    }
    if (!m_start) {
        missing.text += " (--serial-start N creates it)";
        return Fail(std::move(missing));
    }
    return *m_start;
}

}  // namespace quillon
