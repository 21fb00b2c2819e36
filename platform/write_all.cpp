#include "platform/write_all.h"

namespace quillon {

std::string ShortWriteText(std::size_t written, std::size_t size) {
    return "only " + std::to_string(written) + " of " + std::to_string(size) + " bytes written";
}

Status WriteAllWithStallLimit(const std::uint8_t* bytes, std::size_t count,
                              const StalledWrite& stream) {
    std::size_t done = 0;
    while (done < count) {
        Result<std::size_t> written = stream.writeSome(bytes + done, count - done);
        if (!written) {
            return Fail(std::move(written).error());
        }
        if (*written > 0) {
            done += *written;
            continue;
        }
        Result<bool> ready = stream.waitWritable(stream.stallMs);
        if (!ready) {
            return Fail(std::move(ready).error());
        }
        if (!*ready) {
            return Fail(ErrorKind::kTimeout, stream.stallText);
        }
    }
    return {};
}

}  // namespace quillon
