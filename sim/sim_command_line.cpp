#include "sim/sim_command_line.h"

#include <cstdlib>
#include <optional>

#include "helpers/option_table.h"
#include "helpers/text_format.h"

namespace quillon {

namespace {

// Takes an option's value (`name` as given in the table, for the error texts) into `line`.
using Taker =
    std::function<Status(const std::string& name, const std::string& value, SimCommandLine& line)>;

// A value the option does not take, worded by the option table (it names option and value).
Unexpected<Error> NotValid() {
    return Fail(ErrorKind::kUsage, "");
}

// `text` as a number from `lowest` to `highest`: decimal, or hexadecimal after "0x".
Result<std::int64_t> Number(const std::string& name, const std::string& text, std::int64_t lowest,
                            std::int64_t highest) {
    const bool hexadecimal =
        text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::optional<std::int64_t> number =
        hexadecimal ? HexadecimalInRange(text.substr(2), lowest, highest)
                    : DecimalInRange(text, lowest, highest);
    if (!number) {
        return Fail(ErrorKind::kUsage, name + ": \"" + text + "\" is not a number from " +
                                           std::to_string(lowest) + " to " +
                                           std::to_string(highest));
    }
    return *number;
}

// The type a field holds: its own, or an optional's value.
template <class T>
struct Held {
    using type = T;
};
template <class T>
struct Held<std::optional<T>> {
    using type = T;
};

// Stores a number of `text` into `field`.
template <class Field>
Status StoreNumber(const std::string& name, const std::string& text, std::int64_t lowest,
                   std::int64_t highest, Field& field) {
    const Result<std::int64_t> number = Number(name, text, lowest, highest);
    if (!number) {
        return Fail(number.error());
    }
    field = static_cast<typename Held<Field>::type>(*number);
    return {};
}

// The option that takes a number from `lowest` to `highest` into the field `at` selects.
template <class Select>
Taker NumberInto(std::int64_t lowest, std::int64_t highest, Select at) {
    return [=](const std::string& name, const std::string& value, SimCommandLine& line) {
        return StoreNumber(name, value, lowest, highest, at(line));
    };
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos) {
            return parts;
        }
        from = at + 1;
    }
}

using StageFilter = bool (*)(SimStage);

bool IsCommandStage(SimStage stage) {
    return stage == SimStage::kErase || stage == SimStage::kEraseDone ||
           stage == SimStage::kBlock || stage == SimStage::kFinalize;
}
bool IsBusyStage(SimStage stage) {
    return stage == SimStage::kEraseDone || stage == SimStage::kBlock ||
           stage == SimStage::kFinalize;
}
// The stages whose answers have more than one byte.
bool IsSplitStage(SimStage stage) {
    return stage == SimStage::kRamReport || IsCommandStage(stage);
}

// "STAGE[@K]" of a stage `allowed` accepts (nullptr: any), followed by at most `extra` further
// ":"-separated fields, which go to `rest`.
Result<StageSelector> Selector(const std::string& name, const std::string& value,
                               StageFilter allowed, std::size_t extra,
                               std::vector<std::string>& rest) {
    const std::vector<std::string> parts = Split(value, ':');
    const std::optional<StageSelector> parsed = ParseStageSelector(parts[0]);
    if (!parsed || parts.size() > extra + 1 || (allowed != nullptr && !allowed(parsed->stage))) {
        return Fail(ErrorKind::kUsage,
                    name + ": \"" + value + "\" does not select a stage this fault can strike");
    }
    rest.assign(parts.begin() + 1, parts.end());
    return *parsed;
}

// "STAGE[@K]" of any stage, into the optional `at` selects.
template <class Select>
Taker AnyStage(Select at) {
    return [=](const std::string& name, const std::string& value, SimCommandLine& line) -> Status {
        std::vector<std::string> rest;
        const Result<StageSelector> selector = Selector(name, value, nullptr, 0, rest);
        if (!selector) {
            return Fail(selector.error());
        }
        at(line) = *selector;
        return {};
    };
}

// "STAGE[@K][:N]": N times (default 1), appended to the list `at` selects.
template <class Select>
Taker Repeat(StageFilter allowed, Select at) {
    return [=](const std::string& name, const std::string& value, SimCommandLine& line) -> Status {
        std::vector<std::string> rest;
        const Result<StageSelector> selector = Selector(name, value, allowed, 1, rest);
        if (!selector) {
            return Fail(selector.error());
        }
        FaultPlan::Repeat entry{*selector};
        if (Status count = StoreNumber(name, rest.empty() ? "1" : rest[0], 1, 1000000, entry.count);
            !count) {
            return count;
        }
        at(line).push_back(entry);
        return {};
    };
}

// "STAGE[@K]:MS", and with `firstBytes` an optional third field of 1 to 7 bytes; appended to
// the list `at` selects.
template <class Select>
Taker Delay(StageFilter allowed, bool firstBytes, Select at) {
    return [=](const std::string& name, const std::string& value, SimCommandLine& line) -> Status {
        std::vector<std::string> rest;
        const Result<StageSelector> selector =
            Selector(name, value, allowed, firstBytes ? 2 : 1, rest);
        if (!selector) {
            return Fail(selector.error());
        }
        if (rest.empty()) {
            return NotValid();
        }
        FaultPlan::Delay entry{*selector};
        if (Status ms = StoreNumber(name, rest[0], 1, 600000, entry.ms); !ms) {
            return ms;
        }
        if (rest.size() == 2) {
            if (Status bytes = StoreNumber(name, rest[1], 1, 7, entry.firstBytes); !bytes) {
                return bytes;
            }
        }
        at(line).push_back(entry);
        return {};
    };
}

// A non-empty text into the field `at` selects.
template <class Select>
Taker Text(Select at) {
    return [=](const std::string&, const std::string& value, SimCommandLine& line) -> Status {
        at(line) = value;
        return value.empty() ? Status(NotValid()) : Status();
    };
}

Status TakeLink(const std::string&, const std::string& value, SimCommandLine& line) {
    line.linkGiven = true;
    line.server.linkPath = value == "none" ? "" : value;
    return value.empty() ? Status(NotValid()) : Status();
}

Status TakeExitAfter(const std::string&, const std::string& value, SimCommandLine& line) {
    char* end = nullptr;
    line.server.exitAfterSeconds = std::strtod(value.c_str(), &end);
    return !value.empty() && *end == '\0' && line.server.exitAfterSeconds > 0 ? Status()
                                                                              : NotValid();
}

Status TakeFlashType(const std::string&, const std::string& value, SimCommandLine& line) {
    line.settings.flashType = value;
    for (const char c : value) {
        if (c < 0x21 || c > 0x7E) {
            return NotValid();
        }
    }
    return !value.empty() && value.size() <= 4 ? Status() : NotValid();
}

Status TakeAcceptLetter(const std::string&, const std::string& value, SimCommandLine& line) {
    line.settings.acceptLetter = value.empty() ? 'E' : value[0];
    return value.size() == 1 && value[0] > 0x20 && value[0] < 0x7F && value[0] != 'E' &&
                   value[0] != 'D'
               ? Status()
               : NotValid();
}

// "ADDR:SET:ACT".
Status TakeRamFailure(const std::string& name, const std::string& value, SimCommandLine& line) {
    const std::vector<std::string> parts = Split(value, ':');
    if (parts.size() != 3) {
        return NotValid();
    }
    FaultPlan::RamFailure failure;
    for (Status part : {StoreNumber(name, parts[0], 0, 0xFFFFFFFFLL, failure.address),
                        StoreNumber(name, parts[1], 0, 255, failure.written),
                        StoreNumber(name, parts[2], 0, 255, failure.readBack)}) {
        if (!part) {
            return part;
        }
    }
    line.settings.faults.ramFailure = failure;
    return {};
}

// "STAGE[@K][:CODE]" of a command stage.
Status TakeErrorAt(const std::string& name, const std::string& value, SimCommandLine& line) {
    std::vector<std::string> rest;
    const Result<StageSelector> selector = Selector(name, value, &IsCommandStage, 1, rest);
    if (!selector) {
        return Fail(selector.error());
    }
    FaultPlan::ErrorAnswer entry{*selector};
    if (!rest.empty()) {
        if (rest[0].size() != 1 || rest[0][0] <= 0x20 || rest[0][0] >= 0x7F) {
            return NotValid();
        }
        entry.code = rest[0][0];
    }
    line.settings.faults.errorAt.push_back(entry);
    return {};
}

Status TakeCrcErrorAt(const std::string& name, const std::string& value, SimCommandLine& line) {
    std::vector<std::string> rest;
    const Result<StageSelector> selector = Selector(name, value, &IsCommandStage, 0, rest);
    if (!selector) {
        return Fail(selector.error());
    }
    line.settings.faults.crcErrorAt.push_back(*selector);
    return {};
}

// "N[:WHEN]".
Status TakeNoise(const std::string& name, const std::string& value, SimCommandLine& line) {
    FaultPlan& faults = line.settings.faults;
    const std::vector<std::string> parts = Split(value, ':');
    if (parts.size() > 2) {
        return NotValid();
    }
    if (Status bytes = StoreNumber(name, parts[0], 1, 4096, faults.noiseBytes); !bytes) {
        return bytes;
    }
    if (parts.size() == 2) {
        if (parts[1] == "idle") {
            faults.noiseWhen = FaultPlan::NoiseWhen::kIdle;
        } else if (parts[1] == "before-ident") {
            faults.noiseWhen = FaultPlan::NoiseWhen::kBeforeIdent;
        } else {
            return NotValid();
        }
    }
    return {};
}

// --baud RATE, or "auto" for the rate the host set on the line.
Status TakeBaud(const std::string& name, const std::string& value, SimCommandLine& line) {
    line.server.baudFromHost = value == "auto";
    if (line.server.baudFromHost) {
        line.server.baud = 0;
        return {};
    }
    return StoreNumber(name, value, 0, 100000000, line.server.baud);
}

// The field selectors of the table.
#define QUILLON_FIELD(expression)        \
    [](SimCommandLine & line) -> auto& { \
        return line.expression;          \
    }

// The options that take a value, in the order of the help text.
const std::vector<std::pair<const char*, Taker>>& ValueOptions() {
    static const std::vector<std::pair<const char*, Taker>> table = {
        {"--monitor", Text(QUILLON_FIELD(monitorPath))},
        {"--link", &TakeLink},
        {"--baud", &TakeBaud},
        {"--spin-us", NumberInto(0, 1000000, QUILLON_FIELD(server.spinAheadUs))},
        {"--latency-us", NumberInto(0, 1000000, QUILLON_FIELD(server.latencyUs))},
        {"--uart-clock", NumberInto(1000, 1000000000, QUILLON_FIELD(server.uartClockHz))},
        {"--uart-prescale", NumberInto(1, 65536, QUILLON_FIELD(server.uartPrescale))},
        {"--sessions", NumberInto(1, 1000000000, QUILLON_FIELD(server.sessions))},
        {"--exit-after", &TakeExitAfter},
        {"--report", Text(QUILLON_FIELD(reportPath))},
        {"--dump", Text(QUILLON_FIELD(dumpPath))},
        {"--flash-type", &TakeFlashType},
        {"--accept-letter", &TakeAcceptLetter},
        {"--ram-test-ms", NumberInto(0, 600000, QUILLON_FIELD(settings.ramTestMs))},
        {"--erase-ms", NumberInto(0, 600000, QUILLON_FIELD(settings.eraseMs))},
        {"--program-ms", NumberInto(0, 600000, QUILLON_FIELD(settings.programMs))},
        {"--busy-interval-ms", NumberInto(0, 600000, QUILLON_FIELD(settings.busyIntervalMs))},
        {"--rx-us", NumberInto(0, 1000000, QUILLON_FIELD(settings.rxUs))},
        {"--rx-fifo", NumberInto(1, 4096, QUILLON_FIELD(settings.rxFifo))},
        {"--fault-session", NumberInto(1, 1000000000, QUILLON_FIELD(settings.faults.session))},
        {"--wrong-ident", NumberInto(0, 255, QUILLON_FIELD(settings.faults.wrongIdent))},
        {"--wrong-loader-ack", NumberInto(0, 255, QUILLON_FIELD(settings.faults.wrongLoaderAck))},
        {"--ram-marker", NumberInto(0, 255, QUILLON_FIELD(settings.faults.ramMarker))},
        {"--ram-fail", &TakeRamFailure},
        {"--wrong-echo", NumberInto(0, 65535, QUILLON_FIELD(settings.faults.wrongEchoAt))},
        {"--crc-error-at", &TakeCrcErrorAt},
        {"--error-at", &TakeErrorAt},
        {"--drop-answer", Repeat(&IsCommandStage, QUILLON_FIELD(settings.faults.dropAnswer))},
        {"--busy", Repeat(&IsBusyStage, QUILLON_FIELD(settings.faults.busy))},
        {"--late-answer", Delay(nullptr, false, QUILLON_FIELD(settings.faults.lateAnswer))},
        {"--split-answer", Delay(&IsSplitStage, true, QUILLON_FIELD(settings.faults.splitAnswer))},
        {"--silent-from", AnyStage(QUILLON_FIELD(settings.faults.silentFrom))},
        {"--hangup-at", AnyStage(QUILLON_FIELD(settings.faults.hangupAt))},
        {"--noise", &TakeNoise},
    };
    return table;
}

#undef QUILLON_FIELD

}  // namespace

Result<SimCommandLine> ParseSimCommandLine(const std::vector<std::string>& args) {
    SimCommandLine line;
    std::vector<Option> table;
    for (const auto& [name, take] : ValueOptions()) {
        table.push_back({name, "", Option::Value::kRequired,
                         [&line, name = std::string(name), &take = take](const std::string& value) {
                             return take(name, value, line);
                         }});
    }
    const auto flag = [](bool& into) {
        return [&into](const std::string&) {
            into = true;
            return Status();
        };
    };
    table.push_back({"--help", "-h", Option::Value::kNone, flag(line.help)});
    table.push_back({"--version", "", Option::Value::kNone, flag(line.version)});
    table.push_back({"--blank-flash", "", Option::Value::kNone, flag(line.settings.blankFlash)});
    table.push_back({"--unknown-flash-type", "", Option::Value::kNone,
                     flag(line.settings.faults.unknownFlashType)});
    OptionWording wording;
    wording.optionWord.clear();
    wording.seeHelp = " (see --help)";
    wording.operands = false;
    const Result<std::vector<std::string>> parsed = ParseOptions(args, table, wording);
    if (!parsed) {
        return Fail(parsed.error());
    }
    return line;
}

std::string SimHelpText() {
    return R"(Usage: quillon-sim [OPTION]...
A virtual target: plays the target's side of the bootstrap handshake, the monitor load and the
monitor's erase/program/finalize frames on a pseudo-terminal, for any number of sessions.
The first line printed is the line's device path; pick it (or the link) as the serial port.
SIGINT or SIGTERM ends it; SIGUSR1 writes the report at once.

Line and run:
  --monitor FILE        monitor file (default: Targets/virtual-target.h86 beside this program,
                        else ../share/quillon/Targets/virtual-target.h86 relative to it)
  --link PATH           keep a symbolic link to the line at PATH; "none" for no link
                        (default: quillon-sim-<pid> in the per-user virtual port folder)
  --baud RATE           delay every byte by its wire time, 10 bits at RATE, in both
                        directions; "auto": at the rate the host set on the line, read
                        anew as it changes (default 0: no delay)
  --spin-us US          with --baud, stop sleeping US microseconds before an answer byte is
                        due and keep looking, so that it leaves on time (default 50; 0 sleeps
                        to the moment: less exact, far less CPU with many targets on few cores)
  --latency-us US       the line as a USB serial adapter delivers it, on top of --baud:
                        the target's bytes reach the host in batches at the next tick
                        of US microseconds (the latency timer), the host's reach the
                        target in the next 1 ms USB frame (default 0: as they come)
  --uart-clock HZ       model the target's UART: it makes the rates HZ / (P x (D + 1)),
                        D a 16-bit divider its loader sets to the rate nearest the one
                        the host set on the line (read as the host's bytes come). More
                        than 3% off, each byte either way is read as a receiver at the
                        other rate samples its bits (mid-bit): wrong bits, framing errors
                        (dropped by the loader, 0x00 at the host), so Initialize fails
                        at the handshake as on a board (up to about 5% off some bytes
                        still read right). The report's "line" shows the "uart"
                        (default: no model, every byte passes)
  --uart-prescale P     the UART's prescaler P (default 1; 16 for a 16x oversampling UART)
  --sessions N          end after N sessions have ended (default: run until stopped)
  --exit-after SECONDS  end after this long
  --report FILE         write the JSON report to FILE ("-": standard output) on exit and
                        on SIGUSR1
  --dump FILE           write the whole 16 MB flash to FILE on exit, byte i at address i

Target:
  --flash-type NAME     flash type (1 to 4 characters) reported to erase commands
                        (default: the monitor file's first flash type)
  --accept-letter C     status letter of accepted answers, not E or D (default A)
  --blank-flash         start with an erased flash (default: all bytes 0x00, so that a
                        missing erase shows as a programming fault)
  --ram-test-ms MS      time the RAM test takes before its report (default 50)
  --erase-ms MS         time one sector erase takes (default 20)
  --program-ms MS       time one 128-byte block takes (default 0)
  --busy-interval-ms MS gap after each "D" answer (default 20)
  --rx-us US            the loader takes a byte of the monitor exchange (its opening
                        bytes and the monitor) at most every US microseconds (default 0:
                        as they come); a byte arriving while the receive buffer is full
                        is lost, its echo never comes, the next byte's comes in its place,
                        and the report counts it under "overruns"
  --rx-fifo N           with --rx-us, the receive buffer holds N bytes besides the one
                        the loader works on (default 1)

Faults (every session, or only session N with --fault-session N). STAGE is one of ident,
loader-ack, ram-report, monitor-load, monitor-data, monitor-started, erase, erase-done,
block, finalize; STAGE@K selects its K-th occurrence in a session, counted from 0 (K is the
byte offset for monitor-data and the row 0-4 of 02/10/length low/length high/03 for
monitor-load; a block sent again after a lost answer keeps its number).
  --fault-session N       play the faults in session N only (counted from 1)
  --wrong-ident BYTE      answer BYTE to the sync byte
  --wrong-loader-ack BYTE answer BYTE after the loader
  --ram-fail ADDR:SET:ACT RAM test report: cell ADDR written SET, read back ACT
  --ram-marker BYTE       RAM test report starting with BYTE instead of 0xAA
  --wrong-echo K          echo monitor byte K (from 0) inverted
  --unknown-flash-type    report the flash type "????"
  --crc-error-at STAGE[@K]       answer E C (erase, erase-done, block, finalize)
  --error-at STAGE[@K][:CODE]    answer E CODE (default F) instead of carrying out the command
  --drop-answer STAGE[@K][:N]    carry out the command but swallow its answer N times
                                 (default 1); a block sent again is then accepted unchanged
  --busy STAGE[@K]:N             answer D N times before the real answer (erase-done,
                                 block, finalize)
  --late-answer STAGE[@K]:MS     the target stops for MS ms where that answer is due: it and
                                 everything after it come MS ms later, in their order (a
                                 block answer held past the host's wait brings the block
                                 again, answered after the stall as a repeat)
  --split-answer STAGE[@K]:MS[:N]  send the answer's first N bytes (default 3) and the rest
                                 MS ms later (ram-report, erase, erase-done, block,
                                 finalize; "D" answers are never split)
  --silent-from STAGE[@K]        answer nothing from there on until the session ends
  --hangup-at STAGE[@K]          close the line instead of answering there, once the host has
                                 read the answers before it (at most 2 s later); the target
                                 then opens a new line (new path printed, link moved)
  --noise N[:WHEN]               N noise bytes: WHEN idle (default) leaves them waiting on the
                                 line before the handshake; before-ident sends them just
                                 ahead of the ident byte
Options may repeat (--crc-error-at, --error-at, --drop-answer, --busy, --late-answer,
--split-answer); the timing faults strike the first answer at their stage in a session.
Numbers are decimal or 0x-hexadecimal. --help prints this text, --version the version line.

Behaviour: waiting for the sync byte the loader ignores every other byte. A loader or monitor
that arrives different from the monitor file does not start (no answer). Frames are taken by
length after their letter P (8), V (141) or F (7); other bytes between frames are ignored, and
a frame that pauses for 250 ms is dropped unanswered, so the host's resend is read afresh. A
finalize ends the session, but the monitor keeps running: the frames of a further download
open a new one. A sync byte between frames starts a new session (the operator reset the
target), and so does the next sync after a handshake that stalled for 2 s or whose host
closed the line.
)";
}

}  // namespace quillon
