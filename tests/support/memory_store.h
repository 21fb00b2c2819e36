#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "window/window_settings.h"

namespace quillon {

// Values by "section/value"; writes recorded in order, integers marked " (int)".
struct MemoryStore : SettingsStore {
    std::optional<std::string> ReadText(const char* section, const char* value) override {
        const auto it = values.find(std::string(section) + "/" + value);
        return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    void WriteText(const char* section, const char* value, const std::string& text) override {
        values[std::string(section) + "/" + value] = text;
        writes.push_back(std::string(section) + "/" + value + "=" + text);
    }
    void WriteInteger(const char* section, const char* value, int number) override {
        WriteText(section, value, std::to_string(number));
        writes.back() += " (int)";
    }
    std::map<std::string, std::string> values;
    std::vector<std::string> writes;
};

}  // namespace quillon
