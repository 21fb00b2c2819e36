#include "platform/baud_rate.h"

namespace quillon {

std::optional<BaudRate> OfferedBaudRate(std::string_view text) {
    for (const BaudRate rate : kBaudRates) {
        if (text == BaudRateText(rate)) {
            return rate;
        }
    }
    return std::nullopt;
}

std::string BaudRateText(BaudRate rate) {
    return std::to_string(rate.bitsPerSecond);
}

}  // namespace quillon
