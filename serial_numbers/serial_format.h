#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// How a serial number is written into the flash: `dec:N` (N ASCII decimal digits, zero-padded),
// `hex:N` (N ASCII upper-case hexadecimal digits), `le:N` / `be:N` (an N-byte binary number,
// little / big endian, N 1..8). A value that does not fit is refused, never cut short.
class SerialFormat {
public:
    enum class Encoding { kDecimal, kHex, kLittleEndian, kBigEndian };

    // Widths the formats allow: every value of 64 bits fits 20 decimal or 16 hex digits.
    static constexpr int kMaxDecimalDigits = 20;
    static constexpr int kMaxHexDigits = 16;
    static constexpr int kMaxBinaryBytes = 8;

    // The format named by `text` ("dec:6"); a usage error saying why when it is none.
    [[nodiscard]] static Result<SerialFormat> Parse(const std::string& text);

    Encoding encoding() const { return m_encoding; }
    // The bytes the number takes in the flash.
    std::size_t size() const { return static_cast<std::size_t>(m_width); }
    // As the command line names it: "dec:6".
    std::string Name() const;

    // `value` as it goes into the flash, and as the record shows it: the digits of dec and hex,
    // "0x" and 2N upper-case hex digits for the binary formats. An error of kind kInvalidData
    // ("serial number 1000000 does not fit dec:6") when it does not fit.
    struct Written {
        std::vector<std::uint8_t> bytes;
        std::string text;
    };
    [[nodiscard]] Result<Written> Write(std::uint64_t value) const;
    // `value` as the record shows it: as written, or its decimal digits when it does not fit.
    std::string RecordText(std::uint64_t value) const;

private:
    SerialFormat(Encoding encoding, int width) : m_encoding(encoding), m_width(width) {}

    Encoding m_encoding;
    int m_width;
};

// A serial number as the counter file, the list and the command line give it: decimal digits
// or "0x" and hexadecimal digits, 64 bits at most, blanks around it allowed. None otherwise.
std::optional<std::uint64_t> ParseSerialValue(const std::string& text);

}  // namespace quillon
