#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "helpers/result.h"

namespace quillon {

// A line speed in bits per second: any rate from kLowest to kHighest. The window's list
// offers kBaudRates; the command line takes any rate in the range, and a serial device is set
// to it through its driver's way for arbitrary rates where the rate is no standard one.
struct BaudRate {
    static constexpr std::uint32_t kDefaultBitsPerSecond = 57600;
    static constexpr std::uint32_t kLowest = 300;
    static constexpr std::uint32_t kHighest = 4000000;

    std::uint32_t bitsPerSecond = kDefaultBitsPerSecond;

    friend constexpr bool operator==(BaudRate, BaudRate) = default;
};

// The offered rates, slowest first, and the one taken when nothing was chosen.
inline constexpr BaudRate kBaudRates[] = {{9600}, {19200}, {38400}, {57600}, {115200}};
inline constexpr BaudRate kDefaultBaudRate{BaudRate::kDefaultBitsPerSecond};

// The rates in decimal, in their order, joined by `separator` ("9600, 19200, 38400, 57600,
// 115200" for the offered ones with ", "): the list the help and the usage errors name.
std::string BaudRateListText(std::string_view separator,
                             std::span<const BaudRate> rates = kBaudRates);

// The offered rate that `text` names in decimal ("57600"); none for anything else.
std::optional<BaudRate> OfferedBaudRate(std::string_view text);

// Any rate from BaudRate::kLowest to kHighest that `text` names in decimal ("250000"); none
// for anything else.
std::optional<BaudRate> ParseBaudRate(const std::string& text);

// The rate in decimal, as lists and settings show it ("57600").
std::string BaudRateText(BaudRate rate);

// How far a driver may round the rate it was asked for: a UART still reads its partner's
// bytes when the two rates differ by a little, and 1% leaves the far end the rest of the
// margin.
inline constexpr double kBaudRateTolerance = 0.01;

// Whether the rate a driver reports having set (`set`, read back from it) is close enough to
// the one `asked`; the error names both ("baud rate 250000 asked, 245000 set").
[[nodiscard]] Status CheckBaudRateSet(BaudRate asked, std::uint32_t set);

}  // namespace quillon
