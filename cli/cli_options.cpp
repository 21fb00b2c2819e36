#include "cli/cli_options.h"

#include "cli/exit_status.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "database/factory_database.h"
#include "helpers/option_table.h"
#include "helpers/text_format.h"
#include "link/echo_window.h"
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
           "  -b, --baud RATE       any rate from " +
           BaudRateText({BaudRate::kLowest}) + " to " + BaudRateText({BaudRate::kHighest}) +
           " (default " + BaudRateText(kDefaultBaudRate) +
           "); the window\n"
           "                        offers " +
           BaudRateListText(" | ") +
           ".\n"
           "                        The target's loader measures the rate from the first\n"
           "                        byte and makes the nearest its clock allows: UART clock\n"
           "                        / (prescaler x (divider + 1)); more than 3% from RATE\n"
           "                        every byte garbles and Initialize fails. So pick a rate\n"
           "                        the board's clock divides closely and the adapter makes:\n"
           "                        one its driver refuses or rounds by more than 1% ends\n"
           "                        with \"Error initializing COM port!\" and the rates asked\n"
           "                        and set. A socket:// port runs at the server's rate\n" +
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
           "                        downloadSeconds, answerDelayMs (the median time from a\n"
           "                        block on the wire to its answer; above 4 ms the run says\n"
           "                        how to lower the adapter's latency timer),\n"
           "                        downloadBytesPerSecond (both null when no block was\n"
           "                        answered); each line is on the disk before the run goes\n"
           "                        on. A FILE that cannot be opened ends the run with 2\n"
           "                        before the target is touched, a line that cannot be\n"
           "                        written with 1\n"
           "      --database CONNINFO\n"
           "                        store one row per board in the factory's PostgreSQL\n"
           "                        database (a URI postgresql://HOST/DB?sslmode=require or\n"
           "                        key=value words; the tables are made on first use). A\n"
           "                        password in it ends the run with 2: give it through\n"
           "                        ~/.pgpass (or PGPASSFILE) or a service file. A row the\n"
           "                        database does not take waits in a spool file (named on\n"
           "                        stderr) and is stored when it answers again; a run that\n"
           "                        ends with rows in the spool ends with 1. A database that\n"
           "                        cannot be used at the start ends the run with 2\n"
           "      --database-init   make the database's tables (with --database alone), exit 0\n"
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
           "      --serial-db-counter NAME\n"
           "                        take the numbers from the counter NAME in the --database:\n"
           "                        each one in a transaction committed before its board\n"
           "                        starts, with a row naming host, port, run and board; a\n"
           "                        number is never given twice, across every PC of the line.\n"
           "                        While the database is away a station waits for it (a stop\n"
           "                        or q ends the wait). --serial-start N makes a NAME that\n"
           "                        does not exist yet\n"
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
Status CheckSerialOptions(CliOptions& options) {
    CliOptions::Serial& serial = options.serial;
    const int sources = (serial.counter.empty() ? 0 : 1) + (serial.list.empty() ? 0 : 1) +
                        (serial.dbCounter.empty() ? 0 : 1) + (serial.stationNumber ? 1 : 0);
    const char* refusal = nullptr;
    if (serial.at.empty() || serial.format.empty()) {
        refusal = "a serial number needs --serial-at and --serial-format";
    } else if (options.initOnly) {
        refusal = "a serial number goes into an IMAGE, not with --init-only";
    } else if (sources != 1) {
        refusal =
            "a serial number comes from one of --serial-counter, --serial-db-counter and "
            "--serial-list";
    } else if (serial.start && serial.counter.empty() && serial.dbCounter.empty()) {
        refusal = "--serial-start goes with --serial-counter or --serial-db-counter";
    } else if (!serial.dbCounter.empty() && options.database.empty()) {
        refusal = "--serial-db-counter goes with --database";
    } else if (serial.stationNumber && options.stationBoard == 0) {
        refusal = "--station-serial goes with --station-board";
    }
    if (refusal != nullptr) {
        return Fail(ErrorKind::kUsage, refusal);
    }
    Result<SerialFormat> format = SerialFormat::Parse(serial.format);
    if (!format) {
        return Fail(std::move(format).error());
    }
    Result<SerialPatch> patch = SerialPatch::Make(serial.at, *format, serial.placeholder);
    if (!patch) {
        return Fail(std::move(patch).error());
    }
    serial.patch = std::move(*patch);
    return {};
}

bool SerialAsked(const CliOptions::Serial& serial) {
    return !serial.at.empty() || !serial.format.empty() || !serial.placeholder.empty() ||
           !serial.counter.empty() || serial.start || !serial.list.empty() ||
           !serial.dbCounter.empty() || serial.stationNumber;
}

// What may not come with --list-ports or --list-targets.
Status CheckListingOptions(const CliOptions& options) {
    const char* misplaced = !options.image.empty()                ? "IMAGE"
                            : !options.record.empty()             ? "--record"
                            : !options.database.empty()           ? "--database"
                            : options.repeat != RepeatMode::kOnce ? "--repeat"
                            : SerialAsked(options.serial)         ? "a serial number"
                                                                  : nullptr;
    if (misplaced != nullptr) {
        return Fail(ErrorKind::kUsage, std::string(misplaced) +
                                           " goes with a job, not with --list-ports or "
                                           "--list-targets");
    }
    return {};
}

// --database-init makes the database's tables and does nothing else.
Status CheckDatabaseInitOptions(const CliOptions& options) {
    if (options.database.empty()) {
        return Fail(ErrorKind::kUsage, "--database-init needs --database");
    }
    if (options.listPorts || options.listTargets || !options.ports.empty() ||
        !options.image.empty() || !options.record.empty() || SerialAsked(options.serial)) {
        return Fail(ErrorKind::kUsage, "--database-init goes with --database alone");
    }
    return {};
}

// What a job needs, and what goes together in one.
Status CheckJobOptions(CliOptions& options) {
    if (options.ports.empty()) {
        return Fail(ErrorKind::kUsage, "a job needs --port");
    }
    options.port = options.ports.front();
    const char* refusal = nullptr;
    if (options.stationBoard != 0 && options.ports.size() != 1) {
        refusal = "--station-board goes with one port";
    } else if (options.stationImage.empty() != options.stationImageSha256.empty() ||
               (!options.stationImage.empty() && (options.stationBoard == 0 || options.initOnly))) {
        refusal =
            "--station-image and --station-image-sha256 go together, with --station-board "
            "and an IMAGE";
    } else if (options.target.empty() == options.monitorFile.empty()) {
        refusal = "a job needs either --target or --monitor";
    } else if (options.initOnly && !options.image.empty()) {
        refusal = "--init-only takes no IMAGE";
    } else if (!options.initOnly && options.image.empty()) {
        refusal = "no IMAGE given (use --init-only to run Initialize alone)";
    }
    if (refusal != nullptr) {
        return Fail(ErrorKind::kUsage, refusal);
    }
    return SerialAsked(options.serial) ? CheckSerialOptions(options) : Status();
}

Status Refused(std::string text) {
    return Fail(ErrorKind::kUsage, std::move(text));
}

// Takers: each turns an option's text into its value, once, at the edge.
Option::Taker Flag(bool& into) {
    return [&into](const std::string&) {
        into = true;
        return Status();
    };
}

Option::Taker Text(std::string& into) {
    return [&into](const std::string& value) {
        into = value;
        return Status();
    };
}

// A decimal number from `lowest` to `highest`; else "NAME needs WHAT, not 'X'".
template <typename Number>
Option::Taker Decimal(Number& into, std::int64_t lowest, std::int64_t highest, std::string name,
                      std::string what) {
    return [&into, lowest, highest, name = std::move(name),
            what = std::move(what)](const std::string& value) {
        const std::optional<std::int64_t> number = DecimalInRange(value, lowest, highest);
        if (!number) {
            return Refused(name + " needs " + what + ", not '" + value + "'");
        }
        into = static_cast<Number>(*number);
        return Status();
    };
}

Option::Taker SerialValue(std::optional<std::uint64_t>& into, std::string name) {
    return [&into, name = std::move(name)](const std::string& value) {
        into = ParseSerialValue(value);
        return into ? Status()
                    : Refused(name + " needs a number (decimal or 0x hex), not '" + value + "'");
    };
}

// Repeated, or a comma-separated list: one station per port.
Option::Taker Ports(std::vector<std::string>& into) {
    return [&into](const std::string& list) {
        for (std::size_t start = 0;;) {
            const std::size_t comma = list.find(',', start);
            const std::string port = list.substr(start, comma - start);
            if (port.empty()) {
                return Refused("empty port name in '" + list + "'");
            }
            if (Status usable = CheckStationPort(port, into); !usable) {
                return usable;
            }
            into.push_back(port);
            if (comma == std::string::npos) {
                return Status();
            }
            start = comma + 1;
        }
    };
}

Option::Taker Repeat(RepeatMode& into) {
    return [&into](const std::string& value) {
        if (value.empty() || value == "enter") {
            into = RepeatMode::kEnter;
        } else if (value == "replug") {
            into = RepeatMode::kReplug;
        } else {
            return Refused("--repeat takes no value, =enter or =replug, not '" + value + "'");
        }
        return Status();
    };
}

Option::Taker Baud(BaudRate& into) {
    return [&into](const std::string& value) {
        const std::optional<BaudRate> rate = ParseBaudRate(value);
        if (!rate) {
            return Refused("baud rate '" + value + "' is not a decimal rate from " +
                           BaudRateText({BaudRate::kLowest}) + " to " +
                           BaudRateText({BaudRate::kHighest}));
        }
        into = *rate;
        return Status();
    };
}

Option::Taker Window(EchoWindow& into) {
    return [&into](const std::string& value) {
        Result<EchoWindow> window = ParseEchoWindow(value);
        if (!window) {
            return Refused("--echo-window needs " + window.error().text + ", not '" + value + "'");
        }
        into = *window;
        return Status();
    };
}

Option::Taker RecordFile(std::string& into) {
    return [&into](const std::string& value) {
        into = value;
        return value.empty() ? Refused("option --record needs a file name") : Status();
    };
}

// A connection string that names no password (libpq reads it); in a build without the
// database, refused as not available.
Option::Taker Database(std::string& into) {
    return [&into](const std::string& value) {
        into = value;
        if (Status usable = FactoryDatabase::CheckConnectionString(value); !usable) {
            return Refused(usable.error().text);
        }
        return Status();
    };
}

Option::Taker Sha256(std::string& into) {
    return [&into](const std::string& value) {
        into = value;
        if (value.size() != 64 || value.find_first_not_of("0123456789abcdef") != value.npos) {
            return Refused("--station-image-sha256 needs 64 lower-case hex digits, not '" + value +
                           "'");
        }
        return Status();
    };
}

using Args = std::vector<std::string>;
using Given = const CliOptions&;
// Writes an option's value back as arguments (with its name, given); nothing where the value
// is the option's default.
using Writer = std::function<Args(Given options, const std::string& name)>;

// One option of quillon-cli: how its text is taken into the options, and how a value is
// written back (for a station's program).
struct CliOption {
    Option option;
    Writer write;
};

// A switch: its name, when it is on.
Writer Switch(bool CliOptions::*field) {
    return [field](Given c, const std::string& name) { return c.*field ? Args{name} : Args{}; };
}

// An option with a value: its name and `text(options)`, when that gives a text.
template <typename Text>
Writer Value(Text text) {
    return [text](Given c, const std::string& name) {
        const std::optional<std::string> value = text(c);
        return value ? Args{name, *value} : Args{};
    };
}

std::optional<std::string> NonEmpty(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

template <typename Number>
std::optional<std::string> DecimalUnless(Number value, Number unset) {
    return value == unset ? std::nullopt : std::optional<std::string>(std::to_string(value));
}

std::optional<std::string> DecimalOf(const std::optional<std::uint64_t>& value) {
    return value ? std::optional<std::string>(std::to_string(*value)) : std::nullopt;
}

// The options of quillon-cli as one table, taking into `o`.
std::vector<CliOption> CliOptionTable(CliOptions& o) {
    using V = Option::Value;
    CliOptions::Serial& s = o.serial;
    return {
        {{"--help", "-h", V::kNone, Flag(o.help)}, Switch(&CliOptions::help)},
        {{"--version", "", V::kNone, Flag(o.version)}, Switch(&CliOptions::version)},
        {{"--port", "-p", V::kRequired, Ports(o.ports)},
         [](Given c, const std::string& name) {
             Args args;
             for (const std::string& port : c.ports) {
                 args.insert(args.end(), {name, port});
             }
             return args;
         }},
        {{"--repeat", "", V::kInline, Repeat(o.repeat)},
         [](Given c, const std::string& name) {
             return c.repeat == RepeatMode::kOnce    ? Args{}
                    : c.repeat == RepeatMode::kEnter ? Args{name}
                                                     : Args{name + "=replug"};
         }},
        {{"--station-board", "", V::kRequired,
          Decimal(o.stationBoard, 1, 1000000000, "--station-board", "a board number")},
         Value([](Given c) { return DecimalUnless(c.stationBoard, 0); })},
        {{"--baud", "-b", V::kRequired, Baud(o.baud)}, Value([](Given c) {
             return c.baud == kDefaultBaudRate ? std::nullopt : NonEmpty(BaudRateText(c.baud));
         })},
        {{"--target", "-t", V::kRequired, Text(o.target)},
         Value([](Given c) { return NonEmpty(c.target); })},
        {{"--monitor", "-m", V::kRequired, Text(o.monitorFile)},
         Value([](Given c) { return NonEmpty(c.monitorFile); })},
        {{"--targets", "", V::kRequired, Text(o.targetsFolder)},
         Value([](Given c) { return NonEmpty(c.targetsFolder); })},
        {{"--record", "", V::kRequired, RecordFile(o.record)},
         Value([](Given c) { return NonEmpty(c.record); })},
        {{"--database", "", V::kRequired, Database(o.database)},
         Value([](Given c) { return NonEmpty(c.database); })},
        {{"--database-init", "", V::kNone, Flag(o.databaseInit)},
         Switch(&CliOptions::databaseInit)},
        {{"--erase-all", "", V::kNone, Flag(o.eraseAll)}, Switch(&CliOptions::eraseAll)},
        {{"--init-only", "", V::kNone, Flag(o.initOnly)}, Switch(&CliOptions::initOnly)},
        {{"--echo-window", "", V::kRequired, Window(o.echoWindow)},
         Value([](Given c) { return DecimalUnless(c.echoWindow.bytes, EchoWindow{}.bytes); })},
        {{"--station-silence", "", V::kRequired,
          Decimal(o.stationSilenceSeconds, 1, 86400, "--station-silence",
                  "seconds from 1 to 86400")},
         Value([](Given c) {
             return DecimalUnless(c.stationSilenceSeconds, kDefaultStationSilenceSeconds);
         })},
        {{"--list-ports", "", V::kNone, Flag(o.listPorts)}, Switch(&CliOptions::listPorts)},
        {{"--list-targets", "", V::kNone, Flag(o.listTargets)}, Switch(&CliOptions::listTargets)},
        {{"--serial-at", "", V::kRequired, Text(s.at)},
         Value([](Given c) { return NonEmpty(c.serial.at); })},
        {{"--serial-format", "", V::kRequired, Text(s.format)},
         Value([](Given c) { return NonEmpty(c.serial.format); })},
        {{"--serial-placeholder", "", V::kRequired, Text(s.placeholder)},
         Value([](Given c) { return NonEmpty(c.serial.placeholder); })},
        {{"--serial-counter", "", V::kRequired, Text(s.counter)},
         Value([](Given c) { return NonEmpty(c.serial.counter); })},
        {{"--serial-start", "", V::kRequired, SerialValue(s.start, "--serial-start")},
         Value([](Given c) { return DecimalOf(c.serial.start); })},
        {{"--serial-db-counter", "", V::kRequired, Text(s.dbCounter)},
         Value([](Given c) { return NonEmpty(c.serial.dbCounter); })},
        {{"--serial-list", "", V::kRequired, Text(s.list)},
         Value([](Given c) { return NonEmpty(c.serial.list); })},
        {{"--station-serial", "", V::kRequired, SerialValue(s.stationNumber, "--station-serial")},
         Value([](Given c) { return DecimalOf(c.serial.stationNumber); })},
        {{"--station-image", "", V::kRequired, Text(o.stationImage)},
         Value([](Given c) { return NonEmpty(c.stationImage); })},
        {{"--station-image-sha256", "", V::kRequired, Sha256(o.stationImageSha256)},
         Value([](Given c) { return NonEmpty(c.stationImageSha256); })},
    };
}

}  // namespace

Result<CliOptions> ParseCliOptions(const std::vector<std::string>& args) {
    CliOptions options;
    std::vector<Option> table;
    for (CliOption& entry : CliOptionTable(options)) {
        table.push_back(std::move(entry.option));
    }
    Result<std::vector<std::string>> operands = ParseOptions(args, table, OptionWording{});
    if (!operands) {
        return Fail(std::move(operands).error());
    }
    if (options.help || options.version) {
        return options;
    }
    if (operands->size() > 1) {
        return Fail(ErrorKind::kUsage, "only one IMAGE can be given");
    }
    if (!operands->empty()) {
        options.image = operands->front();
    }
    Status checked = options.databaseInit ? CheckDatabaseInitOptions(options)
                     : options.RunsJob()  ? CheckJobOptions(options)
                                          : CheckListingOptions(options);
    if (!checked) {
        return Fail(std::move(checked).error());
    }
    return options;
}

std::vector<std::string> CliArguments(const CliOptions& options) {
    CliOptions unused;
    std::vector<std::string> args;
    for (const CliOption& entry : CliOptionTable(unused)) {
        const std::vector<std::string> written = entry.write(options, entry.option.name);
        args.insert(args.end(), written.begin(), written.end());
    }
    if (!options.image.empty()) {
        args.insert(args.end(), {"--", options.image});
    }
    return args;
}

}  // namespace quillon
