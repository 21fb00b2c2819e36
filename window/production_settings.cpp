#include "window/production_settings.h"

#include <utility>

#include "database/factory_database.h"
#include "ports/port_address.h"
#include "production/production_preparation.h"
#include "serial_numbers/serial_format.h"

namespace quillon {

namespace {

constexpr const char* kTarget = "Target";
constexpr const char* kImage = "Image";
constexpr const char* kBaudrate = "Baudrate";
constexpr const char* kEchoWindow = "EchoWindow";
constexpr const char* kEraseAll = "EraseAll";
constexpr const char* kStations = "Stations";
constexpr const char* kRecord = "Record";
constexpr const char* kSerialSource = "SerialSource";
constexpr const char* kSerialFile = "SerialFile";
constexpr const char* kSerialCounter = "SerialCounter";
constexpr const char* kSerialAt = "SerialAt";
constexpr const char* kSerialFormat = "SerialFormat";
constexpr const char* kSerialPlaceholder = "SerialPlaceholder";
constexpr const char* kDatabase = "Database";
constexpr const char* kRepeat = "Repeat";

struct SourceName {
    SerialNumberSource source;
    const char* text;
};
constexpr SourceName kSourceNames[] = {
    {SerialNumberSource::kOff, "off"},
    {SerialNumberSource::kCounterFile, "counter"},
    {SerialNumberSource::kListFile, "list"},
    {SerialNumberSource::kDatabaseCounter, "database"},
};

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > begin) {
            lines.push_back(text.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return lines;
}

Result<CheckedProductionSetup> Refused(std::string text) {
    return Fail(ErrorKind::kUsage, std::move(text));
}

}  // namespace

ProductionSettings LoadProductionSettings(SettingsStore& store) {
    const auto text = [&store](const char* value) {
        return store.ReadText(kProductionSection, value).value_or("");
    };
    ProductionSettings settings;
    settings.target = text(kTarget);
    settings.image = text(kImage);
    if (const auto rate = store.ReadText(kProductionSection, kBaudrate)) {
        settings.baudRate = BaudRateFromSetting(*rate);
    }
    settings.echoWindow = EchoWindowFromText(store.ReadText(kProductionSection, kEchoWindow));
    settings.eraseAll = EraseAllFromText(store.ReadText(kProductionSection, kEraseAll)) != 0;
    settings.stations = SplitLines(text(kStations));
    settings.record = text(kRecord);
    const std::string source = text(kSerialSource);
    for (const SourceName& name : kSourceNames) {
        if (source == name.text) {
            settings.serialSource = name.source;
        }
    }
    settings.serialFile = text(kSerialFile);
    settings.serialCounter = text(kSerialCounter);
    settings.serialAt = text(kSerialAt);
    settings.serialFormat = text(kSerialFormat);
    settings.serialPlaceholder = text(kSerialPlaceholder);
    settings.database = text(kDatabase);
    const std::string repeat = text(kRepeat);
    settings.repeat = repeat == "once"     ? RepeatMode::kOnce
                      : repeat == "replug" ? RepeatMode::kReplug
                                           : RepeatMode::kEnter;
    return settings;
}

void SaveProductionSettings(SettingsStore& store, const ProductionSettings& settings) {
    const auto write = [&store](const char* value, const std::string& text) {
        store.WriteText(kProductionSection, value, text);
    };
    write(kTarget, settings.target);
    write(kImage, settings.image);
    if (settings.baudRate) {
        write(kBaudrate, BaudRateText(*settings.baudRate));
    }
    store.WriteInteger(kProductionSection, kEchoWindow,
                       static_cast<int>(settings.echoWindow.bytes));
    store.WriteInteger(kProductionSection, kEraseAll, settings.eraseAll ? 1 : 0);
    std::string stations;
    for (const std::string& port : settings.stations) {
        stations += (stations.empty() ? "" : "\n") + port;
    }
    write(kStations, stations);
    write(kRecord, settings.record);
    for (const SourceName& name : kSourceNames) {
        if (name.source == settings.serialSource) {
            write(kSerialSource, name.text);
        }
    }
    write(kSerialFile, settings.serialFile);
    write(kSerialCounter, settings.serialCounter);
    write(kSerialAt, settings.serialAt);
    write(kSerialFormat, settings.serialFormat);
    write(kSerialPlaceholder, settings.serialPlaceholder);
    // A connection string with a password is refused before a run starts, so none is stored.
    if (FactoryDatabase::CheckConnectionString(settings.database) || settings.database.empty()) {
        write(kDatabase, settings.database);
    }
    write(kRepeat, settings.repeat == RepeatMode::kOnce     ? "once"
                   : settings.repeat == RepeatMode::kReplug ? "replug"
                                                            : "enter");
}

Result<CheckedProductionSetup> CheckProductionSettings(const ProductionSettings& settings,
                                                       const SameDeviceCheck& sameDevice) {
    if (settings.target.empty()) {
        return Refused("choose a target");
    }
    if (settings.image.empty()) {
        return Refused("choose an image file");
    }
    if (!settings.baudRate) {
        return Refused("choose a baud rate");
    }
    if (settings.stations.empty()) {
        return Refused("check the port of at least one station");
    }
    std::vector<std::string> taken;
    for (const std::string& port : settings.stations) {
        if (Status usable = CheckStationPort(port, taken); !usable) {
            return Fail(std::move(usable).error());
        }
        taken.push_back(port);
    }
    if (std::string same = sameDevice ? sameDevice(settings.stations) : ""; !same.empty()) {
        return Refused(std::move(same));
    }
    if (settings.record.empty()) {
        return Refused("a production run needs a record file");
    }
    if (!settings.database.empty()) {
        if (Status usable = FactoryDatabase::CheckConnectionString(settings.database); !usable) {
            return Fail(std::move(usable).error());
        }
    }
    CheckedProductionSetup checked{settings, std::nullopt};
    if (settings.serialSource == SerialNumberSource::kOff) {
        return checked;
    }
    if (settings.serialAt.empty() || settings.serialFormat.empty()) {
        return Refused("a serial number needs its place and its format");
    }
    const bool database = settings.serialSource == SerialNumberSource::kDatabaseCounter;
    if (database ? settings.serialCounter.empty() : settings.serialFile.empty()) {
        return Refused(database ? "name the database counter the serial numbers come from"
                                : "choose the file the serial numbers come from");
    }
    if (database && settings.database.empty()) {
        return Refused(kDatabaseCounterNeedsDatabase);
    }
    Result<SerialFormat> format = SerialFormat::Parse(settings.serialFormat);
    if (!format) {
        return Fail(std::move(format).error());
    }
    Result<SerialPatch> patch =
        SerialPatch::Make(settings.serialAt, *format, settings.serialPlaceholder);
    if (!patch) {
        return Fail(std::move(patch).error());
    }
    checked.serialPatch = std::move(*patch);
    return checked;
}

}  // namespace quillon
