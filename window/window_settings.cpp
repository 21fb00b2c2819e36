#include "window/window_settings.h"

#include <charconv>
#include <cstddef>

#include "helpers/text_format.h"
#include "link/job_request.h"
#include "platform/regular_file.h"

namespace quillon {

namespace {

// A decimal int, optionally signed, with white space around it (as QString::toInt reads it);
// none for anything else.
std::optional<int> IntFromText(const std::string& given) {
    const std::string text = TrimmedWhiteSpace(given);
    std::size_t first = 0;
    const std::size_t end = text.size();
    if (first < end && text[first] == '+') {
        ++first;
        if (first < end && (text[first] == '-' || text[first] == '+')) {
            return std::nullopt;
        }
    }
    int number = 0;
    const char* begin = text.data() + first;
    const char* last = text.data() + end;
    const auto [ptr, error] = std::from_chars(begin, last, number, 10);
    if (begin == last || error != std::errc() || ptr != last) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

std::string SettingsFileLeftAloneLine(const std::string& path) {
    const FileReadResult read = ReadRegularFile(path, kSettingsFileLimit);
    if (read.ok() || read.error == FileReadError::kMissing) {
        return {};
    }
    return "The settings file " + path + " " + read.reason +
           ": the window starts with the defaults and saves nothing there.";
}

WindowSettings LoadWindowSettings(SettingsStore& store) {
    // A value that is present counts as it is, also when it is empty.
    WindowSettings settings;
    settings.target = store.ReadText(kLastConnectionSection, kTargetValue).value_or("");
    settings.comPort = store.ReadText(kLastConnectionSection, kComPortValue).value_or("COM1");
    settings.baudrate = store.ReadText(kLastConnectionSection, kBaudrateValue).value_or("57600");
    settings.eraseAll = EraseAllFromText(store.ReadText(kSettingsSection, kEraseAllValue));
    settings.echoWindow = EchoWindowFromText(store.ReadText(kSettingsSection, kEchoWindowValue));
    return settings;
}

void SaveWindowSettings(SettingsStore& store, const WindowSettings& settings) {
    store.WriteText(kLastConnectionSection, kTargetValue, settings.target);
    store.WriteText(kLastConnectionSection, kComPortValue, settings.comPort);
    store.WriteText(kLastConnectionSection, kBaudrateValue, settings.baudrate);
    store.WriteInteger(kSettingsSection, kEraseAllValue, settings.eraseAll);
}

int EraseAllFromText(const std::optional<std::string>& text) {
    const std::optional<int> number = text ? IntFromText(*text) : std::nullopt;
    return number && *number == 0 ? 0 : 1;
}

std::uint32_t EchoWindowFromText(const std::optional<std::string>& text) {
    const std::optional<int> number = text ? IntFromText(*text) : std::nullopt;
    if (!number || *number < 1 || *number > static_cast<int>(InitializeRequest::kMaxEchoWindow)) {
        return 1;
    }
    return static_cast<std::uint32_t>(*number);
}

}  // namespace quillon
