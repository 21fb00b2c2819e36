#include "tests/support/monitor_file.h"

#include <algorithm>
#include <cstring>

#include "tests/support/hex_text.h"

namespace quillon {

MonitorFileSpec MonitorFileSpec::VirtualTargetLike(std::size_t loaderBytes,
                                                   std::size_t monitorBytes) {
    MonitorFileSpec spec;
    spec.identByte = 0x6B;
    spec.loaderAck = 0x3C;
    spec.flashTypes = {"VF16", "VF32"};
    spec.eraseAllSectorCount = 4;
    spec.level0Length = 32;
    spec.loader = hex_text::Pattern(loaderBytes, 5);
    spec.monitor = hex_text::Pattern(monitorBytes, 6);
    return spec;
}

std::vector<std::uint8_t> MonitorFileSpec::HeaderBytes() const {
    std::vector<std::uint8_t> h(172, 0);
    std::memcpy(h.data(), signature.data(), std::min<std::size_t>(7, signature.size()));
    auto put16 = [&](std::size_t at, std::uint16_t v) {
        h[at] = static_cast<std::uint8_t>(v);
        h[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put16(8, specification);
    put16(10, loaderSegment);
    put16(12, monitorSegment);
    h[14] = syncByte;
    h[15] = identByte;
    put16(16, level0Length);
    h[18] = loaderAck;
    h[19] = static_cast<std::uint8_t>(flashTypes.size());
    for (std::size_t k = 0; k < flashTypes.size() && k < 10; ++k) {
        std::memcpy(h.data() + 20 + 5 * k, flashTypes[k].data(),
                    std::min<std::size_t>(5, flashTypes[k].size()));
    }
    std::memcpy(h.data() + 70, targetName.data(), std::min<std::size_t>(100, targetName.size()));
    put16(170, eraseAllSectorCount);
    if (specification == 170) {
        h.resize(170);
    }
    return h;
}

std::string HexTextAt(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::string text;
    int segment = -1;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(at);
        if (static_cast<int>(a >> 16) != segment) {
            segment = static_cast<int>(a >> 16);
            text += hex_text::Linear(static_cast<std::uint16_t>(segment));
        }
        // At most 32 bytes a record, never across a segment's end.
        const std::size_t room = 0x10000 - (a & 0xFFFF);
        const std::size_t n = std::min({std::size_t{32}, bytes.size() - at, room});
        text +=
            hex_text::Data(static_cast<std::uint16_t>(a & 0xFFFF),
                           std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(at),
                                                     bytes.begin() + static_cast<long>(at + n)));
        at += n;
    }
    return text;
}

std::string MonitorFileSpec::HexText() const {
    std::string text = HexTextAt(static_cast<std::uint32_t>(headerSegment) << 16, HeaderBytes());
    text += HexTextAt(static_cast<std::uint32_t>(loaderSegment) << 16, loader);
    text += HexTextAt(static_cast<std::uint32_t>(monitorSegment) << 16, monitor);
    return text + hex_text::End();
}

}  // namespace quillon
