#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "helpers/result.h"
#include "link/echo_window.h"
#include "link/line_settings.h"
#include "platform/baud_rate.h"
#include "production/repeat_mode.h"
#include "serial_numbers/serial_patch.h"

namespace quillon {

// What the command line asks for.
struct CliOptions {
    bool help = false;
    bool version = false;
    bool listPorts = false;
    bool listTargets = false;
    bool databaseInit = false;  // make the database's tables, nothing else (--database-init)
    bool initOnly = false;
    bool eraseAll = false;
    // Monitor bytes on their way before the oldest one's echo is awaited.
    EchoWindow echoWindow;
    std::string port;                // the port of a single run (the first of `ports`)
    std::vector<std::string> ports;  // every port named, in the order given
    BaudRate baud = kDefaultBaudRate;
    std::string target;       // display name, from the targets folder
    std::string monitorFile;  // or the monitor file itself
    std::string targetsFolder;
    std::string image;
    std::string record;  // the production record file (JSON Lines), empty: none
    // The factory's database (--database CONNINFO, never holding a password): a row per board,
    // and the serial numbers of --serial-db-counter. Empty: none.
    std::string database;
    RepeatMode repeat = RepeatMode::kOnce;
    // A station whose program has reported nothing for this long is ended (--station-silence).
    std::uint32_t stationSilenceSeconds = kDefaultStationSilenceSeconds;
    // Set only in the program a production run starts for one board of one station: that
    // board's number (its record line carries it) and events instead of a log on stdout.
    int stationBoard = 0;
    // Also only there: the run's private copy of the image file's bytes as the run read them,
    // which the board gets (`image` stays the user's name for the record), and their digest.
    std::string stationImage;
    std::string stationImageSha256;

    // A serial number in every board (--serial-*): where and how it goes into the image, as
    // given and as checked, and where the numbers come from.
    struct Serial {
        std::string at;  // the texts of --serial-at, --serial-format, --serial-placeholder
        std::string format;
        std::string placeholder;
        std::optional<SerialPatch> patch;  // made from them once they passed
        std::string counter;               // --serial-counter FILE
        std::optional<std::uint64_t> start;
        std::string list;       // --serial-list FILE
        std::string dbCounter;  // --serial-db-counter NAME, in the --database
        // Set only in a station's program: the number the run took for its board.
        std::optional<std::uint64_t> stationNumber;
    } serial;

    // True when a job (Initialize, and Start Download unless initOnly) is to run.
    bool RunsJob() const { return !listPorts && !listTargets && !databaseInit; }
    // True when stations run in programs of their own: several ports, or board after board.
    bool RunsStations() const {
        return RunsJob() && stationBoard == 0 && (ports.size() > 1 || repeat != RepeatMode::kOnce);
    }
};

// Parses the arguments after the program name into the options, or a usage error (kUsage).
[[nodiscard]] Result<CliOptions> ParseCliOptions(const std::vector<std::string>& args);

// The arguments (after the program name) that ParseCliOptions takes back into `options`,
// written by the same table that parses them: each option that differs from its default, then
// the IMAGE. A production run hands its stations' programs their options this way.
std::vector<std::string> CliArguments(const CliOptions& options);

std::string CliUsageText();

}  // namespace quillon
