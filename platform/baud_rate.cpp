#include "platform/baud_rate.h"

#include <cmath>

#include "helpers/text_format.h"

namespace quillon {

std::string BaudRateListText(std::string_view separator, std::span<const BaudRate> rates) {
    std::string list;
    for (const BaudRate rate : rates) {
        if (!list.empty()) {
            list += separator;
        }
        list += BaudRateText(rate);
    }
    return list;
}

std::optional<BaudRate> OfferedBaudRate(std::string_view text) {
    for (const BaudRate rate : kBaudRates) {
        if (text == BaudRateText(rate)) {
            return rate;
        }
    }
    return std::nullopt;
}

std::optional<BaudRate> ParseBaudRate(const std::string& text) {
    const std::optional<std::int64_t> rate =
        DecimalInRange(text, BaudRate::kLowest, BaudRate::kHighest);
    if (!rate) {
        return std::nullopt;
    }
    return BaudRate{static_cast<std::uint32_t>(*rate)};
}

std::string BaudRateText(BaudRate rate) {
    return std::to_string(rate.bitsPerSecond);
}

Status CheckBaudRateSet(BaudRate asked, std::uint32_t set) {
    const double wanted = asked.bitsPerSecond;
    if (set != 0 && std::fabs(static_cast<double>(set) - wanted) <= wanted * kBaudRateTolerance) {
        return {};
    }
    return Fail(ErrorKind::kUnsupported,
                "baud rate " + BaudRateText(asked) + " asked, " + std::to_string(set) + " set");
}

}  // namespace quillon
