#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "helpers/result.h"
#include "image/hex_image.h"
#include "serial_numbers/serial_format.h"

namespace quillon {

// Where and how each board's serial number goes into the image: `format`'s bytes at `address`.
// The file's image must leave that place free for it, erased (0xFF, nothing in the file) or
// holding the placeholder bytes; each board's image is the file's image with its number there.
class SerialPatch {
public:
    // The patch of the command line's texts (`address` hexadecimal with its 0x, "0x1FF00";
    // `placeholder` an even number of hex digits, empty: none). A usage error saying why when
    // a text is malformed, the number would reach beyond the 16 MB, or the
    // placeholder's size differs from the format's. An address without its 0x is refused with
    // the 0x form: every other number of the command line is decimal, so "196608" could mean
    // either place.
    [[nodiscard]] static Result<SerialPatch> Make(const std::string& address,
                                                  const SerialFormat& format,
                                                  const std::string& placeholder);

    std::uint32_t address() const { return m_address; }
    const SerialFormat& format() const { return m_format; }
    // The address as the record gives it: "0x1FF00".
    std::string AddressText() const;

    // Success when `image` leaves the number's place free; else an error of kind
    // kInvalidData saying why, naming the address and what the file holds there.
    [[nodiscard]] Status CheckImage(const HexImage& image) const;

    // The board's image: `image` with `value` written at the address. The sector that holds it
    // becomes one with data, so it is erased and programmed even when the file had nothing
    // there.
    struct Patched {
        std::shared_ptr<const HexImage> image;
        std::string text;  // the number as the record gives it
    };
    [[nodiscard]] Result<Patched> Apply(const HexImage& image, std::uint64_t value) const;

private:
    SerialPatch(std::uint32_t address, SerialFormat format, std::vector<std::uint8_t> placeholder)
        : m_address(address), m_format(format), m_placeholder(std::move(placeholder)) {}

    std::uint32_t m_address;
    SerialFormat m_format;
    std::vector<std::uint8_t> m_placeholder;  // empty: only erased bytes are free
};

}  // namespace quillon
