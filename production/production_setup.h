#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/board_row_store.h"
#include "link/echo_window.h"
#include "link/line_settings.h"
#include "platform/append_only_file.h"
#include "platform/baud_rate.h"
#include "production/repeat_mode.h"
#include "serial_numbers/serial_patch.h"
#include "serial_numbers/serial_source.h"

namespace quillon {

// Everything a production run needs, made ready before any target is touched: the station
// program, the target, the image as the run read it, the line's settings, the stations, the
// record, the serial numbers and the factory's database. What it points to (the record file,
// the serial source, the database's row store) is shared with its owner and must stay usable
// for as long as the run lives.
struct ProductionSetup {
    // The program that works on one board of one station: quillon-cli, started once per board
    // with that board's arguments (its own process, so that a crash or a wedged driver ends
    // that board only).
    std::string stationProgram;

    std::string targetName;   // the name the target list shows, for the record
    std::string monitorFile;  // the target's monitor file, as chosen
    // The user's image file, as the record names it; none: the boards are initialized only.
    std::optional<std::string> image;
    // The run's private copy of the bytes it read from the image once, which every board gets,
    // and their SHA-256 (hex), which each station's program checks and the record names.
    std::string stationImage;
    std::string imageSha256;

    BaudRate baud = kDefaultBaudRate;
    EchoWindow echoWindow;
    bool eraseAll = false;

    // The stations' ports, one station each, in this order (local or network names; two names
    // of one device are refused as the run starts).
    std::vector<std::string> stations;
    RepeatMode repeat = RepeatMode::kOnce;
    // A station's program that reports nothing for this long is ended, its board failed.
    std::uint32_t stationSilenceSeconds = kDefaultStationSilenceSeconds;

    // The record file (JSON Lines) every board's line goes to; none: no record.
    std::shared_ptr<AppendOnlyFile> record;
    std::string recordPath;
    // This PC, as the record lines and the numbers' takers name it.
    std::string host;

    // Serial numbers: where they go and how they are written (`patch`, and the option texts
    // the stations' programs get), and where they are taken from (counter file, list file or
    // the database's counter); no source: no serial numbers.
    std::shared_ptr<SerialSource> serialSource;
    std::optional<SerialPatch> serialPatch;
    std::string serialAt;      // the texts as given (--serial-at, --serial-format,
    std::string serialFormat;  // --serial-placeholder), handed to each board's program
    std::string serialPlaceholder;

    // The factory's database: where each board's row goes (or its spool); none: no database.
    std::shared_ptr<BoardRowStore> rows;
    std::string runId;  // this run's id, which its rows and numbers name

    // The operator types at a terminal: the run says at its start how Enter and q work.
    bool operatorAtTerminal = false;
};

}  // namespace quillon
