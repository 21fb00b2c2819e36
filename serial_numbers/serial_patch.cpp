#include "serial_numbers/serial_patch.h"

#include <cstdio>

#include "helpers/text_format.h"

namespace quillon {

namespace {

int HexDigit(char c) {
    const std::optional<std::int64_t> digit = HexadecimalInRange(std::string(1, c), 0, 15);
    return digit ? static_cast<int>(*digit) : -1;
}

std::string HexAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(address));
    return text;
}

}  // namespace

Result<SerialPatch> SerialPatch::Make(const std::string& address, const SerialFormat& format,
                                      const std::string& placeholder) {
    const bool prefixed =
        address.size() >= 2 && address[0] == '0' && (address[1] == 'x' || address[1] == 'X');
    const std::string digits = prefixed ? address.substr(2) : address;
    const std::optional<std::int64_t> at =
        digits.size() <= 8 ? HexadecimalInRange(digits, 0, UINT32_MAX) : std::nullopt;
    if (!at) {
        return Fail(
            ErrorKind::kUsage,
            "--serial-at needs a hexadecimal address such as 0x1FF00, not '" + address + "'");
    }
    if (!prefixed) {
        std::string error = "--serial-at takes its address in hexadecimal with 0x: 0x" + digits;
        if (const auto decimal = DecimalInRange(digits, 0, HexImage::kSize - 1)) {
            error += " (or " + HexAddress(static_cast<std::uint32_t>(*decimal)) +
                     " for the decimal " + digits + ")";
        }
        return Fail(ErrorKind::kUsage, std::move(error));
    }
    if (static_cast<std::uint64_t>(*at) + format.size() > HexImage::kSize) {
        return Fail(ErrorKind::kUsage, "a serial number in " + format.Name() + " at 0x" + digits +
                                           " would reach beyond the 16 MB address space");
    }
    std::vector<std::uint8_t> bytes;
    bool placeholderValid = placeholder.size() % 2 == 0;
    for (std::size_t i = 0; placeholderValid && i < placeholder.size(); i += 2) {
        const int high = HexDigit(placeholder[i]);
        const int low = HexDigit(placeholder[i + 1]);
        placeholderValid = high >= 0 && low >= 0;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    if (!placeholderValid) {
        return Fail(ErrorKind::kUsage,
                    "--serial-placeholder needs hexadecimal byte pairs such as 30303030, not '" +
                        placeholder + "'");
    }
    if (!bytes.empty() && bytes.size() != format.size()) {
        return Fail(ErrorKind::kUsage,
                    "--serial-placeholder gives " + std::to_string(bytes.size()) + " bytes, " +
                        format.Name() + " takes " + std::to_string(format.size()));
    }
    return SerialPatch(static_cast<std::uint32_t>(*at), format, std::move(bytes));
}

std::string SerialPatch::AddressText() const {
    return HexAddress(m_address);
}

Status SerialPatch::CheckImage(const HexImage& image) const {
    const std::size_t size = m_format.size();
    std::vector<std::uint8_t> held;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t at = m_address + static_cast<std::uint32_t>(i);
        held.push_back(
            image.Byte(static_cast<int>(at / HexImage::kSegmentSize), at % HexImage::kSegmentSize));
    }
    bool erased = true;
    for (const std::uint8_t byte : held) {
        erased = erased && byte == HexImage::kErasedValue;
    }
    if (erased || held == m_placeholder) {
        return Status();
    }
    std::string shown;
    for (const std::uint8_t byte : held) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%s%02X", shown.empty() ? "" : " ",
                      static_cast<unsigned>(byte));
        shown += pair;
    }
    std::string error = "the image holds ";
    error += shown;
    error += " at ";
    error += HexAddress(m_address);
    error += "..";
    error += HexAddress(m_address + static_cast<std::uint32_t>(size) - 1);
    error += ", where the serial number goes: the place must be erased (FF)";
    error += m_placeholder.empty() ? " or hold the bytes --serial-placeholder names"
                                   : " or hold the --serial-placeholder bytes";
    return Fail(ErrorKind::kInvalidData, std::move(error));
}

Result<SerialPatch::Patched> SerialPatch::Apply(const HexImage& image, std::uint64_t value) const {
    // Never over data of the file's own: a file read again (a station's program reads it for
    // its board) may no longer be the one the run checked.
    if (Status free = CheckImage(image); !free) {
        return Fail(std::move(free).error());
    }
    Result<SerialFormat::Written> written = m_format.Write(value);
    if (!written) {
        return Fail(std::move(written).error());
    }
    auto board = std::make_shared<HexImage>(image);
    // Make() keeps the place inside the image; should that ever fail, no board goes without
    // its number.
    if (!board->Store(static_cast<int>(m_address / HexImage::kSegmentSize),
                      m_address % HexImage::kSegmentSize, written->bytes.data(),
                      written->bytes.size())) {
        return Fail(ErrorKind::kInvalidData,
                    "serial number at " + AddressText() + " lies beyond the image");
    }
    return Patched{std::move(board), std::move(written->text)};
}

}  // namespace quillon
