#include "serial_numbers/serial_counter.h"

#include "platform/file_replace.h"
#include "platform/locked_file.h"
#include "serial_numbers/serial_format.h"
#include "serial_numbers/serial_text_file.h"

namespace quillon {

SerialTake SerialCounter::Check() {
    return Next(false, nullptr);
}

SerialTake SerialCounter::Take(const std::function<bool()>& stopRequested) {
    return Next(true, stopRequested);
}

SerialTake SerialCounter::Next(bool advance, const std::function<bool()>& stopRequested) {
    const std::string name = "serial counter " + m_path;
    std::string real;
    if (SerialTake place = ResolveSerialPath(m_path, name, real); !place.ok()) {
        return place;
    }
    // The counter file itself is replaced by each take, so the lock lives in a file of its own
    // that stays.
    const std::string lockPath = real + ".lock";
    LockedFile lock;
    if (std::optional<SerialTake> failed =
            LockSerialFile(lock, lockPath, name, m_lockPatience, stopRequested)) {
        return *failed;
    }
    std::string error;
    std::string text;
    SerialTake take = ReadSerialTextFile(real, name, kSerialCounterLimit, text);
    if (take.error == SerialTakeError::kMissing) {
        // Only a name that is still nothing is made: a link put there meanwhile stays a link.
        std::string again;
        if (SerialTake place = ResolveSerialPath(real, name, again); !place.ok()) {
            return place;
        }
        if (m_missing == Missing::kRefuse) {
            take.text +=
                " (a production run takes from an existing counter only; --serial-start "
                "creates one in a run of one board)";
            return take;
        }
        if (!m_start) {
            take.text += " (--serial-start N creates it)";
            return take;
        }
        take = SerialTake{};
        take.value = *m_start;
    } else if (!take.ok()) {
        return take;
    } else if (const std::optional<std::uint64_t> value = ParseSerialValue(text)) {
        take.value = *value;
    } else {
        return FailedTake(SerialTakeError::kMalformed, name + " holds no number");
    }
    if (!advance) {
        return take;
    }
    if (take.value == UINT64_MAX) {
        return FailedTake(SerialTakeError::kUsedUp, name + " is at its end");
    }
    // On the disk before the number is given out: a crash from here on skips it at worst.
    if (!ReplaceFileDurably(real, std::to_string(take.value + 1) + "\n", error)) {
        return FailedTake(SerialTakeError::kUnwritable,
                          name + " cannot be written (" + error + ")");
    }
    return take;
}

}  // namespace quillon
