#include "cli/cli_options.h"

#include "cli/exit_status.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

#include "helpers/option_table.h"
#include "helpers/text_format.h"
#include "link/job_request.h"
#include "ports/port_address.h"

namespace quillon {

int UsageError(const std::string& error) {
    // Names in the text (ports, files) show their control characters escaped.
    std::fprintf(stderr, "quillon-cli: %s\nTry 'quillon-cli --help' for more information.\n",
                 EscapeForTerminal(error, true).c_str());
    return kExitUsage;
}

std::string CliUsageText() {
    return "Usage: quillon-cli [OPTIONS] [IMAGE]\n"
           "Writes IMAGE (an Intel HEX file) into the target's flash through its serial bootstrap\n"
           "loader: Initialize (handshake, loader, RAM test, monitor), then Start Download.\n"
           "\n"
           "  -p, --port PORT       serial port (e.g. /dev/ttyUSB0, COM3), or one on the\n"
           "                        network: rfc2217://HOST:PORT (Telnet with the COM port\n"
           "                        option) or socket://HOST:PORT (raw TCP); required for\n"
           "                        jobs. Given more than once or as a list (-p A,B,C), each\n"
           "                        port is a station of its own: all run at once, each in a\n"
           "                        program of its own, their log lines prefixed with the\n"
           "                        port, and a summary table (port, result, seconds, failing\n"
           "                        line) ends the run\n"
           "  -b, --baud RATE       9600 | 19200 | 38400 | 57600 | 115200   (default 57600)\n"
           "  -t, --target NAME     target by display name, from the targets folder; letter\n"
           "                        case is ignored, and a unique beginning will do (-t virt)\n"
           "  -m, --monitor FILE    monitor file path (alternative to --target)\n"
           "      --targets DIR     folder of monitor files (default: Targets beside the\n"
           "                        program, ../share/quillon/Targets relative to it and the\n"
           "                        user's $XDG_DATA_HOME/quillon/Targets, whose names win)\n"
           "      --erase-all       also erase sectors 0 .. eraseAllSectorCount-1\n"
           "      --init-only       run Initialize only (no IMAGE)\n"
           "      --echo-window N   let up to N monitor bytes (1 to 1024) travel before the\n"
           "                        oldest one's echo is awaited (default 1: each byte waits\n"
           "                        for its echo). Every byte is still checked against its\n"
           "                        echo. A loader too slow for N loses a byte and Initialize\n"
           "                        fails: find a board's safe N with --init-only\n"
           "      --record FILE     append one JSON line per board to FILE (created if need\n"
           "                        be): time, host, port, board, target, monitorFile, image,\n"
           "                        imageSha256, eraseAll, result (ok | failed | aborted),\n"
           "                        failure (the failing log line), initSeconds,\n"
           "                        downloadSeconds; each line is on the disk before the run\n"
           "                        goes on. A FILE that cannot be opened ends the run with 2\n"
           "                        before the target is touched, a line that cannot be\n"
           "                        written with 1\n"
           "      --serial-at ADDR  write a serial number of its own into each board's image at\n"
           "                        ADDR (hex with 0x, e.g. 0x1FF00), where the image file\n"
           "                        must hold nothing (FF) or the --serial-placeholder bytes\n"
           "                        (else the run ends with 2 before any board starts); each\n"
           "                        number is taken before its board starts and stays spent,\n"
           "                        whatever becomes of the board. The record adds\n"
           "                        serialNumber, serialAt and flashedSha256 (of the image as\n"
           "                        flashed)\n"
           "      --serial-format FMT\n"
           "                        dec:N (N digits), hex:N (N upper-case hex digits), le:N\n"
           "                        or be:N (an N-byte binary number, N 1..8); a number that\n"
           "                        does not fit fails its board before anything is sent\n"
           "      --serial-placeholder HEXBYTES\n"
           "                        the bytes the image file holds at ADDR (e.g. 30303030)\n"
           "      --serial-counter FILE\n"
           "                        take the numbers from a counter: FILE holds the next one;\n"
           "                        it is locked across programs (FILE.lock) and replaced on\n"
           "                        the disk before each board starts. A link to nothing, a\n"
           "                        FILE of two names (hard links) or over 64 bytes ends the\n"
           "                        run with 2\n"
           "      --serial-start N  the first number of a counter FILE that does not exist yet\n"
           "                        (a run of one board only: a production run refuses a\n"
           "                        missing counter)\n"
           "      --serial-list FILE\n"
           "                        take the numbers from a list, one per line (decimal or 0x\n"
           "                        hex), in order; each one taken goes to FILE.used first and\n"
           "                        is never taken again (FILE and FILE.used: at most 64 MiB,\n"
           "                        one name each, no link to nothing)\n"
           "      --repeat[=replug] board after board: after each board a station waits for\n"
           "                        the next one and runs again, with a running count. It\n"
           "                        waits for Enter on standard input (one Enter starts every\n"
           "                        waiting station; q and Enter, or the input's end, ends\n"
           "                        them once their boards are done), or with =replug for its\n"
           "                        port to disappear and come back. SIGINT or SIGTERM aborts\n"
           "                        the boards in work and ends with the totals\n"
           "      --station-silence S\n"
           "                        end a station whose program has reported nothing for S\n"
           "                        seconds (stopped, or stuck in a wedged driver): its board\n"
           "                        fails, and its record line says so (default " +
           std::to_string(kDefaultStationSilenceSeconds) +
           ": a job's\n"
           "                        longest time-out and a margin; below 10 sound stations\n"
           "                        end in their longest waits)\n"
           "      --list-ports      print \"portName<TAB>friendlyName\" per port, exit 0\n"
           "      --list-targets    print \"displayName<TAB>path\" per monitor file, exit 0\n"
           "  -h, --help            print this text, exit 0\n"
           "      --version         print the version line, exit 0\n"
           "  IMAGE                 HEX-86 file programmed after a successful Initialize; it is\n"
           "                        read first, and one that is no image (or holds no data,\n"
           "                        without --erase-all) ends the run before the target is\n"
           "                        touched\n"
           "\n"
           "stdout carries the log lines, stderr the file reader's messages and, on a terminal,\n"
           "a progress bar (with several stations: one status line per port). Exit status:\n"
           "0 success (every board of every port), 1 a job failed, 2 usage error, 130 aborted\n"
           "(SIGINT or SIGTERM ends the job at its next step; a second one ends at once).\n"
           "A log that could not be written (stdout closed or full, its reader gone) is said on\n"
           "stderr and ends the run with 1 (130 if aborted), never 0.\n";
}

namespace {

// The serial number options: a place, a format and one source of numbers, for an image.
bool CheckSerialOptions(CliOptions& options, std::string& error) {
    CliOptions::Serial& serial = options.serial;
    const int sources = (serial.counter.empty() ? 0 : 1) + (serial.list.empty() ? 0 : 1) +
                        (serial.stationNumber ? 1 : 0);
    if (serial.at.empty() || serial.format.empty()) {
        error = "a serial number needs --serial-at and --serial-format";
    } else if (options.initOnly) {
        error = "a serial number goes into an IMAGE, not with --init-only";
    } else if (sources != 1) {
        error = "a serial number comes from one of --serial-counter and --serial-list";
    } else if (serial.start && serial.counter.empty()) {
        error = "--serial-start goes with --serial-counter";
    } else if (serial.stationNumber && options.stationBoard == 0) {
        error = "--station-serial goes with --station-board";
    }
    if (!error.empty()) {
        return false;
    }
    const std::optional<SerialFormat> format = SerialFormat::Parse(serial.format, error);
    if (format) {
        serial.patch = SerialPatch::Make(serial.at, *format, serial.placeholder, error);
    }
    return serial.patch.has_value();
}

}  // namespace

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options,
                     std::string& error) {
    using Value = Option::Value;
    const auto flag = [](bool& into) {
        return [&into](const std::string&, std::string&) { return into = true; };
    };
    const auto text = [](std::string& into) {
        return [&into](const std::string& value, std::string&) {
            into = value;
            return true;
        };
    };
    const auto number = [](std::optional<std::uint64_t>& into, const char* name) {
        return [&into, name](const std::string& value, std::string& error) {
            into = ParseSerialValue(value);
            if (!into) {
                error = name;
                error += " needs a number (decimal or 0x hex), not '";
                error += value;
                error += "'";
            }
            return into.has_value();
        };
    };
    // A decimal number from `lowest` to `highest` into `into`; else "NAME needs WHAT, not 'X'".
    const auto decimal = [](auto& into, std::int64_t lowest, std::int64_t highest, std::string name,
                            std::string what) {
        return [&into, lowest, highest, name = std::move(name), what = std::move(what)](
                   const std::string& value, std::string& error) {
            const std::optional<std::int64_t> number = DecimalInRange(value, lowest, highest);
            if (!number) {
                error = name + " needs " + what + ", not '" + value + "'";
                return false;
            }
            into = static_cast<std::remove_reference_t<decltype(into)>>(*number);
            return true;
        };
    };
    const std::vector<Option> table = {
        {"--help", "-h", Value::kNone, flag(options.help)},
        {"--version", "", Value::kNone, flag(options.version)},
        // Repeated, or a comma-separated list: one station per port.
        {"--port", "-p", Value::kRequired,
         [&options](const std::string& list, std::string& error) {
             for (std::size_t start = 0;;) {
                 const std::size_t comma = list.find(',', start);
                 const std::string port = list.substr(start, comma - start);
                 if (port.empty()) {
                     error = "empty port name in '" + list + "'";
                     return false;
                 }
                 if (const PortAddress address = ParsePortAddress(port); !address.ok()) {
                     error = address.error;
                     return false;
                 }
                 if (std::find(options.ports.begin(), options.ports.end(), port) !=
                     options.ports.end()) {
                     // Two stations on one line would talk to one board at once.
                     error = "port " + port + " is named twice";
                     return false;
                 }
                 options.ports.push_back(port);
                 if (comma == std::string::npos) {
                     return true;
                 }
                 start = comma + 1;
             }
         }},
        {"--repeat", "", Value::kInline,
         [&options](const std::string& value, std::string& error) {
             if (value.empty() || value == "enter") {
                 options.repeat = RepeatMode::kEnter;
             } else if (value == "replug") {
                 options.repeat = RepeatMode::kReplug;
             } else {
                 error = "--repeat takes no value, =enter or =replug, not '" + value + "'";
                 return false;
             }
             return true;
         }},
        {"--station-board", "", Value::kRequired,
         decimal(options.stationBoard, 1, 1000000000, "--station-board", "a board number")},
        {"--baud", "-b", Value::kRequired,
         [&options](const std::string& value, std::string& error) {
             const std::optional<BaudRate> rate = OfferedBaudRate(value);
             if (!rate) {
                 error =
                     "baud rate '" + value + "' is not one of 9600, 19200, 38400, 57600, 115200";
                 return false;
             }
             options.baud = *rate;
             return true;
         }},
        {"--target", "-t", Value::kRequired, text(options.target)},
        {"--monitor", "-m", Value::kRequired, text(options.monitorFile)},
        {"--targets", "", Value::kRequired, text(options.targetsFolder)},
        {"--record", "", Value::kRequired,
         [&options](const std::string& value, std::string& error) {
             options.record = value;
             if (value.empty()) {
                 error = "option --record needs a file name";
             }
             return !value.empty();
         }},
        {"--erase-all", "", Value::kNone, flag(options.eraseAll)},
        {"--init-only", "", Value::kNone, flag(options.initOnly)},
        {"--echo-window", "", Value::kRequired,
         decimal(options.echoWindow, 1, InitializeRequest::kMaxEchoWindow, "--echo-window",
                 "a number from 1 to " + std::to_string(InitializeRequest::kMaxEchoWindow))},
        {"--station-silence", "", Value::kRequired,
         decimal(options.stationSilenceSeconds, 1, 86400, "--station-silence",
                 "seconds from 1 to 86400")},
        {"--list-ports", "", Value::kNone, flag(options.listPorts)},
        {"--list-targets", "", Value::kNone, flag(options.listTargets)},
        {"--serial-at", "", Value::kRequired, text(options.serial.at)},
        {"--serial-format", "", Value::kRequired, text(options.serial.format)},
        {"--serial-placeholder", "", Value::kRequired, text(options.serial.placeholder)},
        {"--serial-counter", "", Value::kRequired, text(options.serial.counter)},
        {"--serial-start", "", Value::kRequired, number(options.serial.start, "--serial-start")},
        {"--serial-list", "", Value::kRequired, text(options.serial.list)},
        {"--station-serial", "", Value::kRequired,
         number(options.serial.stationNumber, "--station-serial")},
        {"--station-image", "", Value::kRequired, text(options.stationImage)},
        {"--station-image-sha256", "", Value::kRequired,
         [&options](const std::string& value, std::string& error) {
             options.stationImageSha256 = value;
             if (value.size() != 64 || value.find_first_not_of("0123456789abcdef") != value.npos) {
                 error =
                     "--station-image-sha256 needs 64 lower-case hex digits, not '" + value + "'";
                 return false;
             }
             return true;
         }},
    };
    std::vector<std::string> positional;
    if (!ParseOptions(args, table, OptionWording{}, positional, error)) {
        return false;
    }

    if (options.help || options.version) {
        return true;
    }
    if (positional.size() > 1) {
        error = "only one IMAGE can be given";
        return false;
    }
    if (!positional.empty()) {
        options.image = positional.front();
    }
    const CliOptions::Serial& serial = options.serial;
    const bool serialAsked = !serial.at.empty() || !serial.format.empty() ||
                             !serial.placeholder.empty() || !serial.counter.empty() ||
                             serial.start || !serial.list.empty() || serial.stationNumber;
    if (!options.RunsJob()) {
        if (!options.image.empty() || !options.record.empty() ||
            options.repeat != RepeatMode::kOnce || serialAsked) {
            error = std::string(!options.image.empty()                ? "IMAGE"
                                : !options.record.empty()             ? "--record"
                                : options.repeat != RepeatMode::kOnce ? "--repeat"
                                                                      : "a serial number") +
                    " goes with a job, not with --list-ports or --list-targets";
            return false;
        }
        return true;
    }
    if (options.ports.empty()) {
        error = "a job needs --port";
        return false;
    }
    options.port = options.ports.front();
    if (options.stationBoard != 0 && options.ports.size() != 1) {
        error = "--station-board goes with one port";
        return false;
    }
    if (options.stationImage.empty() != options.stationImageSha256.empty() ||
        (!options.stationImage.empty() && (options.stationBoard == 0 || options.initOnly))) {
        error =
            "--station-image and --station-image-sha256 go together, with --station-board "
            "and an IMAGE";
        return false;
    }
    if (options.target.empty() == options.monitorFile.empty()) {
        error = "a job needs either --target or --monitor";
        return false;
    }
    if (options.initOnly && !options.image.empty()) {
        error = "--init-only takes no IMAGE";
        return false;
    }
    if (!options.initOnly && options.image.empty()) {
        error = "no IMAGE given (use --init-only to run Initialize alone)";
        return false;
    }
    return !serialAsked || CheckSerialOptions(options, error);
}

}  // namespace quillon
