#include "sim/sim_command_line.h"

#include <cstdlib>
#include <functional>
#include <map>

#include "helpers/option_table.h"

namespace quillon {

namespace {

bool ParseNumber(const std::string& text, long long min, long long max, long long* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed < min || parsed > max) {
        return false;
    }
    *value = parsed;
    return true;
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

bool IsCommandStage(SimStage stage) {
    return stage == SimStage::kErase || stage == SimStage::kEraseDone ||
           stage == SimStage::kBlock || stage == SimStage::kFinalize;
}

}  // namespace

bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine* line,
                         std::string* error) {
    TargetSettings& settings = line->settings;
    FaultPlan& faults = settings.faults;
    std::string value;
    std::string name;

    auto number = [&](long long min, long long max, auto* target) {
        long long parsed = 0;
        if (!ParseNumber(value, min, max, &parsed)) {
            *error = name + ": \"" + value + "\" is not a number from " + std::to_string(min) +
                     " to " + std::to_string(max);
            return false;
        }
        *target = static_cast<std::remove_pointer_t<decltype(target)>>(parsed);
        return true;
    };
    auto byte = [&](std::optional<std::uint8_t>* target) {
        std::uint8_t parsed = 0;
        if (!number(0, 255, &parsed)) {
            return false;
        }
        *target = parsed;
        return true;
    };
    // "STAGE[@K]" followed by `extra` further ":"-separated fields.
    auto selector = [&](bool (*allowed)(SimStage), std::size_t extra, StageSelector* target,
                        std::vector<std::string>* rest) {
        std::vector<std::string> parts = Split(value, ':');
        const auto parsed = ParseStageSelector(parts[0]);
        if (!parsed || parts.size() > extra + 1 ||
            (allowed != nullptr && !allowed(parsed->stage))) {
            *error = name + ": \"" + value + "\" does not select a stage this fault can strike";
            return false;
        }
        *target = *parsed;
        rest->assign(parts.begin() + 1, parts.end());
        return true;
    };
    auto repeat = [&](bool (*allowed)(SimStage), std::vector<FaultPlan::Repeat>* target) {
        FaultPlan::Repeat entry;
        std::vector<std::string> rest;
        if (!selector(allowed, 1, &entry.at, &rest)) {
            return false;
        }
        value = rest.empty() ? "1" : rest[0];
        if (!number(1, 1000000, &entry.count)) {
            return false;
        }
        target->push_back(entry);
        return true;
    };
    auto anyStage = [&](std::optional<StageSelector>* target) {
        StageSelector at;
        std::vector<std::string> rest;
        if (!selector(nullptr, 0, &at, &rest)) {
            return false;
        }
        *target = at;
        return true;
    };
    // "STAGE[@K]:MS", and with `firstBytes` an optional third field of 1 to 7 bytes.
    auto delay = [&](bool (*allowed)(SimStage), bool firstBytes,
                     std::vector<FaultPlan::Delay>* target) {
        FaultPlan::Delay entry;
        std::vector<std::string> rest;
        if (!selector(allowed, firstBytes ? 2 : 1, &entry.at, &rest) || rest.empty()) {
            return false;
        }
        value = rest[0];
        if (!number(1, 600000, &entry.ms)) {
            return false;
        }
        if (rest.size() == 2) {
            value = rest[1];
            if (!number(1, 7, &entry.firstBytes)) {
                return false;
            }
        }
        target->push_back(entry);
        return true;
    };
    static constexpr auto kCommands = &IsCommandStage;
    static constexpr auto kBusyStages = +[](SimStage s) {
        return s == SimStage::kEraseDone || s == SimStage::kBlock || s == SimStage::kFinalize;
    };
    // The stages whose answers have more than one byte.
    static constexpr auto kSplitStages =
        +[](SimStage s) { return s == SimStage::kRamReport || IsCommandStage(s); };

    const std::map<std::string, std::function<bool()>> withValue = {
        {"--monitor",
         [&] {
             line->monitorPath = value;
             return !value.empty();
         }},
        {"--link",
         [&] {
             line->linkGiven = true;
             line->server.linkPath = value == "none" ? "" : value;
             return !value.empty();
         }},
        {"--baud", [&] { return number(0, 100000000, &line->server.baud); }},
        {"--spin-us", [&] { return number(0, 1000000, &line->server.spinAheadUs); }},
        {"--latency-us", [&] { return number(0, 1000000, &line->server.latencyUs); }},
        {"--sessions", [&] { return number(1, 1000000000, &line->server.sessions); }},
        {"--exit-after",
         [&] {
             char* end = nullptr;
             line->server.exitAfterSeconds = std::strtod(value.c_str(), &end);
             return !value.empty() && *end == '\0' && line->server.exitAfterSeconds > 0;
         }},
        {"--report",
         [&] {
             line->reportPath = value;
             return !value.empty();
         }},
        {"--dump",
         [&] {
             line->dumpPath = value;
             return !value.empty();
         }},
        {"--flash-type",
         [&] {
             settings.flashType = value;
             for (const char c : value) {
                 if (c < 0x21 || c > 0x7E) {
                     return false;
                 }
             }
             return !value.empty() && value.size() <= 4;
         }},
        {"--accept-letter",
         [&] {
             settings.acceptLetter = value.empty() ? 'E' : value[0];
             return value.size() == 1 && value[0] > 0x20 && value[0] < 0x7F && value[0] != 'E' &&
                    value[0] != 'D';
         }},
        {"--ram-test-ms", [&] { return number(0, 600000, &settings.ramTestMs); }},
        {"--erase-ms", [&] { return number(0, 600000, &settings.eraseMs); }},
        {"--program-ms", [&] { return number(0, 600000, &settings.programMs); }},
        {"--busy-interval-ms", [&] { return number(0, 600000, &settings.busyIntervalMs); }},
        {"--rx-us", [&] { return number(0, 1000000, &settings.rxUs); }},
        {"--rx-fifo", [&] { return number(1, 4096, &settings.rxFifo); }},
        {"--fault-session", [&] { return number(1, 1000000000, &faults.session); }},
        {"--wrong-ident", [&] { return byte(&faults.wrongIdent); }},
        {"--wrong-loader-ack", [&] { return byte(&faults.wrongLoaderAck); }},
        {"--ram-marker", [&] { return byte(&faults.ramMarker); }},
        {"--ram-fail",
         [&] {
             const std::vector<std::string> parts = Split(value, ':');
             FaultPlan::RamFailure failure;
             if (parts.size() != 3) {
                 return false;
             }
             value = parts[0];
             if (!number(0, 0xFFFFFFFFLL, &failure.address)) {
                 return false;
             }
             value = parts[1];
             if (!number(0, 255, &failure.written)) {
                 return false;
             }
             value = parts[2];
             if (!number(0, 255, &failure.readBack)) {
                 return false;
             }
             faults.ramFailure = failure;
             return true;
         }},
        {"--wrong-echo",
         [&] {
             long echo = 0;
             if (!number(0, 65535, &echo)) {
                 return false;
             }
             faults.wrongEchoAt = echo;
             return true;
         }},
        {"--crc-error-at",
         [&] {
             StageSelector at;
             std::vector<std::string> rest;
             if (!selector(kCommands, 0, &at, &rest)) {
                 return false;
             }
             faults.crcErrorAt.push_back(at);
             return true;
         }},
        {"--error-at",
         [&] {
             FaultPlan::ErrorAnswer entry;
             std::vector<std::string> rest;
             if (!selector(kCommands, 1, &entry.at, &rest)) {
                 return false;
             }
             if (!rest.empty()) {
                 if (rest[0].size() != 1 || rest[0][0] <= 0x20 || rest[0][0] >= 0x7F) {
                     return false;
                 }
                 entry.code = rest[0][0];
             }
             faults.errorAt.push_back(entry);
             return true;
         }},
        {"--drop-answer", [&] { return repeat(kCommands, &faults.dropAnswer); }},
        {"--busy", [&] { return repeat(kBusyStages, &faults.busy); }},
        {"--late-answer", [&] { return delay(nullptr, false, &faults.lateAnswer); }},
        {"--split-answer", [&] { return delay(kSplitStages, true, &faults.splitAnswer); }},
        {"--silent-from", [&] { return anyStage(&faults.silentFrom); }},
        {"--hangup-at", [&] { return anyStage(&faults.hangupAt); }},
        {"--noise",
         [&] {
             const std::vector<std::string> parts = Split(value, ':');
             value = parts[0];
             if (parts.size() > 2 || !number(1, 4096, &faults.noiseBytes)) {
                 return false;
             }
             if (parts.size() == 2) {
                 if (parts[1] == "idle") {
                     faults.noiseWhen = FaultPlan::NoiseWhen::kIdle;
                 } else if (parts[1] == "before-ident") {
                     faults.noiseWhen = FaultPlan::NoiseWhen::kBeforeIdent;
                 } else {
                     return false;
                 }
             }
             return true;
         }},
    };

    // Each handler reads `name` and `value` (its error texts name both).
    std::vector<Option> table;
    for (const auto& [optionName, take] : withValue) {
        table.push_back({optionName, "", Option::Value::kRequired,
                         [&, optionName = optionName, take = take](const std::string& given,
                                                                   std::string& failure) {
                             name = optionName;
                             value = given;
                             error->clear();
                             const bool taken = take();
                             failure = *error;
                             return taken;
                         }});
    }
    const auto flag = [](bool& into) {
        return [&into](const std::string&, std::string&) { return into = true; };
    };
    table.push_back({"--help", "-h", Option::Value::kNone, flag(line->help)});
    table.push_back({"--version", "", Option::Value::kNone, flag(line->version)});
    table.push_back({"--blank-flash", "", Option::Value::kNone, flag(settings.blankFlash)});
    table.push_back(
        {"--unknown-flash-type", "", Option::Value::kNone, flag(faults.unknownFlashType)});
    OptionWording wording;
    wording.optionWord.clear();
    wording.seeHelp = " (see --help)";
    wording.operands = false;
    std::vector<std::string> operands;
    std::string failure;
    error->clear();
    const bool parsed = ParseOptions(args, table, wording, operands, failure);
    *error = failure;
    return parsed;
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
                        directions (default 0: no delay)
  --spin-us US          with --baud, stop sleeping US microseconds before an answer byte is
                        due and keep looking, so that it leaves on time (default 50; 0 sleeps
                        to the moment: less exact, far less CPU with many targets on few cores)
  --latency-us US       the line as a USB serial adapter delivers it, on top of --baud:
                        the target's bytes reach the host in batches at the next tick
                        of US microseconds (the latency timer), the host's reach the
                        target in the next 1 ms USB frame (default 0: as they come)
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
