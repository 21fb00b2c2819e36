#include "window/window_settings.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "helpers/ascii_case.h"
#include "helpers/text_format.h"
#include "platform/regular_file.h"

namespace quillon {

namespace {

// A stored integer as Qt reads one: white space around it, then at most one sign and the
// digits.
struct IntegerText {
    bool negative = false;
    std::string digits;
};

IntegerText IntegerTextOf(const std::string& stored) {
    IntegerText text{false, TrimmedWhiteSpace(stored)};
    if (!text.digits.empty() && (text.digits[0] == '+' || text.digits[0] == '-')) {
        text.negative = text.digits[0] == '-';
        text.digits.erase(0, 1);
    }
    return text;
}

}  // namespace

Status CheckSettingsFile(const std::string& path) {
    const FileRead read = ReadRegularFile(path, kSettingsFileLimit);
    if (read || read.error().kind == ErrorKind::kNotFound) {
        return {};
    }
    return Fail(
        read.error().kind == ErrorKind::kTooLarge ? ErrorKind::kTooLarge : ErrorKind::kInvalidData,
        "The settings file " + path + " " + read.error().text +
            ": the window starts with the defaults and saves nothing there.");
}

WindowSettings LoadWindowSettings(SettingsStore& store) {
    // A value that is present counts as it is, also when it is empty.
    WindowSettings settings;
    settings.target = store.ReadText(kLastConnectionSection, kTargetValue).value_or("");
    settings.port =
        store.ReadText(kLastConnectionSection, kComPortValue).value_or(kDefaultPortName);
    settings.addedBaudRates =
        AddedBaudRatesFromText(store.ReadText(kSettingsSection, kAddedBaudratesValue));
    if (const auto baudRate = store.ReadText(kLastConnectionSection, kBaudrateValue)) {
        settings.baudRate = BaudRateFromSetting(*baudRate, settings.addedBaudRates);
    }
    settings.eraseAll = EraseAllFromText(store.ReadText(kSettingsSection, kEraseAllValue));
    settings.echoWindow = EchoWindowFromText(store.ReadText(kSettingsSection, kEchoWindowValue));
    return settings;
}

void SaveWindowSettings(SettingsStore& store, const WindowSettings& settings) {
    store.WriteText(kLastConnectionSection, kTargetValue, settings.target);
    store.WriteText(kLastConnectionSection, kComPortValue, settings.port);
    if (settings.baudRate) {
        store.WriteText(kLastConnectionSection, kBaudrateValue, BaudRateText(*settings.baudRate));
    }
    store.WriteInteger(kSettingsSection, kEraseAllValue, settings.eraseAll);
}

std::optional<BaudRate> BaudRateFromSetting(const std::string& text,
                                            const std::vector<BaudRate>& added) {
    for (const BaudRate rate : kBaudRates) {
        if (StartsWithIgnoringCase(BaudRateText(rate), text)) {
            return rate;
        }
    }
    // An added rate is stored as its whole text: older readers never wrote one.
    for (const BaudRate rate : added) {
        if (BaudRateText(rate) == text) {
            return rate;
        }
    }
    return std::nullopt;
}

int EraseAllFromText(const std::optional<std::string>& text) {
    if (!text) {
        return 1;
    }
    // Beyond int, as Qt reads it, is no number (and so not 0).
    const IntegerText integer = IntegerTextOf(*text);
    const std::int64_t largest = std::int64_t{INT_MAX} + (integer.negative ? 1 : 0);
    return DecimalInRange(integer.digits, 0, largest) == 0 ? 0 : 1;
}

EchoWindow EchoWindowFromText(const std::optional<std::string>& text) {
    if (!text) {
        return {};
    }
    return EchoWindowOfText(*text).value_or(EchoWindow{});
}

Result<EchoWindow> EchoWindowOfText(const std::string& text) {
    const IntegerText integer = IntegerTextOf(text);
    // A negative number is out of range: the digits alone would read as a positive one.
    return ParseEchoWindow(integer.negative ? "-" : integer.digits);
}

void SaveEchoWindow(SettingsStore& store, EchoWindow window) {
    store.WriteInteger(kSettingsSection, kEchoWindowValue, static_cast<int>(window.bytes));
}

Result<std::vector<BaudRate>> AddedBaudRatesOfText(const std::string& text) {
    std::vector<BaudRate> rates;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find_first_of(" ,", at), text.size());
        if (end > at) {
            const std::optional<BaudRate> rate = ParseBaudRate(text.substr(at, end - at));
            if (!rate) {
                return Fail(ErrorKind::kUsage,
                            "decimal rates from " + BaudRateText({BaudRate::kLowest}) + " to " +
                                BaudRateText({BaudRate::kHighest}) + ", apart by spaces");
            }
            if (std::find(std::begin(kBaudRates), std::end(kBaudRates), *rate) ==
                std::end(kBaudRates)) {
                rates.push_back(*rate);
            }
        }
        at = end + 1;
    }
    const auto slower = [](BaudRate a, BaudRate b) { return a.bitsPerSecond < b.bitsPerSecond; };
    std::sort(rates.begin(), rates.end(), slower);
    rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
    return rates;
}

std::vector<BaudRate> AddedBaudRatesFromText(const std::optional<std::string>& text) {
    if (!text) {
        return {};
    }
    return AddedBaudRatesOfText(*text).value_or(std::vector<BaudRate>{});
}

std::string AddedBaudRatesText(const std::vector<BaudRate>& rates) {
    std::string text;
    for (const BaudRate rate : rates) {
        if (!text.empty()) {
            text += ' ';
        }
        text += BaudRateText(rate);
    }
    return text;
}

void SaveAddedBaudRates(SettingsStore& store, const std::vector<BaudRate>& rates) {
    store.WriteText(kSettingsSection, kAddedBaudratesValue, AddedBaudRatesText(rates));
}

}  // namespace quillon
