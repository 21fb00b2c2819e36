#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "helpers/result.h"
#include "link/echo_window.h"
#include "platform/baud_rate.h"
#include "production/repeat_mode.h"
#include "serial_numbers/serial_patch.h"
#include "window/window_settings.h"

namespace quillon {

// The production view's setup, kept between runs in the section "Production" of the window's
// settings store:
//
//   value               type     default when missing
//   "Target"            string   empty
//   "Image"             string   empty
//   "Baudrate"          string   "57600" (the first offered rate it begins)
//   "EchoWindow"        integer  1 (1 to 1024; anything else reads as 1)
//   "EraseAll"          integer  1 (any value but 0 reads as 1)
//   "Stations"          string   the checked ports, one per line
//   "Record"            string   empty
//   "SerialSource"      string   "off", "counter", "list" or "database" (else "off")
//   "SerialFile"        string   the counter or list file
//   "SerialCounter"     string   the database counter's name
//   "SerialAt", "SerialFormat", "SerialPlaceholder"   strings, as quillon-cli takes them
//   "Database"          string   the factory database's connection string (never a password)
//   "Repeat"            string   "once", "enter" or "replug" (else "enter")
//
// They are written when a run starts, so that the next run begins where this one did.
inline constexpr const char* kProductionSection = "Production";

// Where a production run's serial numbers come from.
enum class SerialNumberSource { kOff, kCounterFile, kListFile, kDatabaseCounter };

struct ProductionSettings {
    std::string target;  // display name
    std::string image;
    std::optional<BaudRate> baudRate = kDefaultBaudRate;
    EchoWindow echoWindow = {};
    bool eraseAll = true;
    std::vector<std::string> stations;  // the checked ports, in the list's order
    std::string record;
    SerialNumberSource serialSource = SerialNumberSource::kOff;
    std::string serialFile;     // counter or list file
    std::string serialCounter;  // database counter
    std::string serialAt;
    std::string serialFormat;
    std::string serialPlaceholder;
    std::string database;
    RepeatMode repeat = RepeatMode::kEnter;

    bool operator==(const ProductionSettings&) const = default;
};

ProductionSettings LoadProductionSettings(SettingsStore& store);
void SaveProductionSettings(SettingsStore& store, const ProductionSettings& settings);

// Two names among the ports of one device: the message naming the pair, or empty (the rule
// quillon-cli's production run refuses such a pair by).
using SameDeviceCheck = std::function<std::string(const std::vector<std::string>&)>;

// A setup that may start a run: the settings as checked, and with serial numbers the patch
// their place, format and placeholder make.
struct CheckedProductionSetup {
    ProductionSettings settings;
    std::optional<SerialPatch> serialPatch;
};

// Whether `settings` may start a run; else an error of kind kUsage whose text the view shows:
// a target, an image, a baud rate, at least one station and the record file are required;
// two names of one device (`sameDevice`) are refused; serial numbers need their place and
// format (checked as quillon-cli checks them) and their source's file or counter, a database
// counter the database; a connection string is checked as quillon-cli checks it (never one
// with a password).
[[nodiscard]] Result<CheckedProductionSetup> CheckProductionSettings(
    const ProductionSettings& settings, const SameDeviceCheck& sameDevice);

}  // namespace quillon
