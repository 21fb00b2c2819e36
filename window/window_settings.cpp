#include "window/window_settings.h"

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
    if (const auto baudRate = store.ReadText(kLastConnectionSection, kBaudrateValue)) {
        settings.baudRate = BaudRateFromSetting(*baudRate);
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

std::optional<BaudRate> BaudRateFromSetting(const std::string& text) {
    for (const BaudRate rate : kBaudRates) {
        if (StartsWithIgnoringCase(BaudRateText(rate), text)) {
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

}  // namespace quillon
