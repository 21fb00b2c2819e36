#include "serial_numbers/serial_format.h"

#include <algorithm>

#include "helpers/text_format.h"

namespace quillon {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The digits of `value` in `base`, at least `width` of them (zero-padded on the left).
std::string Digits(std::uint64_t value, unsigned base, std::size_t width) {
    std::string digits;
    do {
        digits.insert(digits.begin(), kHexDigits[value % base]);
        value /= base;
    } while (value != 0);
    if (digits.size() < width) {
        digits.insert(0, width - digits.size(), '0');
    }
    return digits;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

Result<SerialFormat> SerialFormat::Parse(const std::string& text) {
    struct Kind {
        const char* prefix;
        Encoding encoding;
        int maxWidth;
    };
    static constexpr Kind kKinds[] = {
        {"dec:", Encoding::kDecimal, kMaxDecimalDigits},
        {"hex:", Encoding::kHex, kMaxHexDigits},
        {"le:", Encoding::kLittleEndian, kMaxBinaryBytes},
        {"be:", Encoding::kBigEndian, kMaxBinaryBytes},
    };
    for (const Kind& kind : kKinds) {
        const std::string prefix = kind.prefix;
        if (text.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const std::string width = text.substr(prefix.size());
        const std::optional<std::int64_t> n =
            width.size() <= 2 ? DecimalInRange(width, 1, kind.maxWidth) : std::nullopt;
        if (!n) {
            return Fail(ErrorKind::kUsage, "serial format " + text + ": the width after '" +
                                               prefix + "' must be 1 to " +
                                               std::to_string(kind.maxWidth));
        }
        return SerialFormat(kind.encoding, static_cast<int>(*n));
    }
    return Fail(ErrorKind::kUsage,
                "serial format '" + text + "' is none of dec:N, hex:N, le:N, be:N");
}

std::string SerialFormat::Name() const {
    const char* prefix = m_encoding == Encoding::kDecimal        ? "dec:"
                         : m_encoding == Encoding::kHex          ? "hex:"
                         : m_encoding == Encoding::kLittleEndian ? "le:"
                                                                 : "be:";
    return prefix + std::to_string(m_width);
}

Result<SerialFormat::Written> SerialFormat::Write(std::uint64_t value) const {
    Written written;
    const std::size_t width = size();
    switch (m_encoding) {
        case Encoding::kDecimal:
        case Encoding::kHex:
            written.text = Digits(value, m_encoding == Encoding::kDecimal ? 10 : 16, width);
            written.bytes.assign(written.text.begin(), written.text.end());
            break;
        case Encoding::kLittleEndian:
        case Encoding::kBigEndian: {
            std::uint64_t rest = value;
            for (std::size_t i = 0; i < width; ++i) {
                written.bytes.push_back(static_cast<std::uint8_t>(rest & 0xFF));
                rest >>= 8;
            }
            if (m_encoding == Encoding::kBigEndian) {
                std::reverse(written.bytes.begin(), written.bytes.end());
            }
            written.text = "0x" + Digits(value, 16, 2 * width);
            break;
        }
    }
    if (written.text.size() > (m_encoding == Encoding::kDecimal || m_encoding == Encoding::kHex
                                   ? width
                                   : 2 + 2 * width)) {
        return Fail(ErrorKind::kInvalidData,
                    "serial number " + std::to_string(value) + " does not fit " + Name());
    }
    return written;
}

std::string SerialFormat::RecordText(std::uint64_t value) const {
    Result<Written> written = Write(value);
    return written ? written->text : std::to_string(value);
}

std::optional<std::uint64_t> ParseSerialValue(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    unsigned base = 10;
    if (end - begin > 2 && text[begin] == '0' &&
        (text[begin + 1] == 'x' || text[begin + 1] == 'X')) {
        base = 16;
        begin += 2;
    }
    if (begin == end) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t at = begin; at < end; ++at) {
        const char c = text[at];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (value > (UINT64_MAX - digit) / base) {
            return std::nullopt;  // beyond 64 bits
        }
        value = value * base + digit;
    }
    return value;
}

}  // namespace quillon
