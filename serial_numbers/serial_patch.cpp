#include "serial_numbers/serial_patch.h"

#include <cstdio>

namespace quillon {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string HexAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(address));
    return text;
}

}  // namespace

std::optional<SerialPatch> SerialPatch::Make(const std::string& address, const SerialFormat& format,
                                             const std::string& placeholder, std::string& error) {
    const bool prefixed =
        address.size() >= 2 && address[0] == '0' && (address[1] == 'x' || address[1] == 'X');
    const std::string digits = prefixed ? address.substr(2) : address;
    std::uint64_t at = 0;
    bool valid = !digits.empty() && digits.size() <= 8;
    for (const char c : digits) {
        const int digit = HexDigit(c);
        valid = valid && digit >= 0;
        at = at * 16 + static_cast<std::uint64_t>(digit < 0 ? 0 : digit);
    }
    if (!valid) {
        error = "--serial-at needs a hexadecimal address such as 0x1FF00, not '";
        error += address;
        error += "'";
        return std::nullopt;
    }
    if (!prefixed) {
        error = "--serial-at takes its address in hexadecimal with 0x: 0x" + digits;
        if (digits.find_first_not_of("0123456789") == std::string::npos) {
            const unsigned long long decimal = std::stoull(digits);
            if (decimal < HexImage::kSize) {
                error += " (or " + HexAddress(static_cast<std::uint32_t>(decimal)) +
                         " for the decimal " + digits + ")";
            }
        }
        return std::nullopt;
    }
    if (at + format.size() > HexImage::kSize) {
        error = "a serial number in ";
        error += format.Name();
        error += " at 0x";
        error += digits;
        error += " would reach beyond the 16 MB address space";
        return std::nullopt;
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
        error = "--serial-placeholder needs hexadecimal byte pairs such as 30303030, not '";
        error += placeholder;
        error += "'";
        return std::nullopt;
    }
    if (!bytes.empty() && bytes.size() != format.size()) {
        error = "--serial-placeholder gives ";
        error += std::to_string(bytes.size());
        error += " bytes, ";
        error += format.Name();
        error += " takes ";
        error += std::to_string(format.size());
        return std::nullopt;
    }
    return SerialPatch(static_cast<std::uint32_t>(at), format, std::move(bytes));
}

std::string SerialPatch::AddressText() const {
    return HexAddress(m_address);
}

std::string SerialPatch::CheckImage(const HexImage& image) const {
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
        return {};
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
    return error;
}

SerialPatch::Patched SerialPatch::Apply(const HexImage& image, std::uint64_t value) const {
    Patched patched;
    // Never over data of the file's own: a file read again (a station's program reads it for
    // its board) may no longer be the one the run checked.
    patched.error = CheckImage(image);
    if (!patched.ok()) {
        return patched;
    }
    SerialFormat::Written written = m_format.Write(value);
    if (!written.ok()) {
        patched.error = written.error;
        return patched;
    }
    auto board = std::make_shared<HexImage>(image);
    // Make() keeps the place inside the image; should that ever fail, no board goes without
    // its number.
    if (!board->Store(static_cast<int>(m_address / HexImage::kSegmentSize),
                      m_address % HexImage::kSegmentSize, written.bytes.data(),
                      written.bytes.size())) {
        patched.error = "serial number at " + AddressText() + " lies beyond the image";
        return patched;
    }
    patched.image = std::move(board);
    patched.text = std::move(written.text);
    return patched;
}

}  // namespace quillon
