#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// A line speed in bits per second. The rates the program offers (the window's list, the
// command line's -b) are kBaudRates; a serial device may be set to others its driver knows.
struct BaudRate {
    static constexpr std::uint32_t kDefaultBitsPerSecond = 57600;

    std::uint32_t bitsPerSecond = kDefaultBitsPerSecond;

    friend constexpr bool operator==(BaudRate, BaudRate) = default;
};

// The offered rates, slowest first, and the one taken when nothing was chosen.
inline constexpr BaudRate kBaudRates[] = {{9600}, {19200}, {38400}, {57600}, {115200}};
inline constexpr BaudRate kDefaultBaudRate{BaudRate::kDefaultBitsPerSecond};

// The offered rate that `text` names in decimal ("57600"); none for anything else.
std::optional<BaudRate> OfferedBaudRate(std::string_view text);

// The rate in decimal, as lists and settings show it ("57600").
std::string BaudRateText(BaudRate rate);

}  // namespace quillon
