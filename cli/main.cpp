// quillon-cli: Initialize and Start Download without a window, for scripts and production
// lines. See CliUsageText for the options and exit statuses.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/board_record.h"
#include "cli/cli_console.h"
#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/parent_watch.h"
#include "cli/production_run.h"
#include "cli/record_file.h"
#include "image/hex_reader.h"
#include "image/monitor_file_catalog.h"
#include "image/target_folders.h"
#include "link/download_job.h"
#include "helpers/ascii_case.h"
#include "platform/executable_path.h"
#include "platform/standard_streams.h"
#include "helpers/text_format.h"
#include "platform/utf8_path.h"
#include "ports/com_port_error.h"
#include "ports/com_ports.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>
#define QUILLON_ISATTY _isatty
#define QUILLON_FILENO _fileno
#else
#include <unistd.h>
#define QUILLON_ISATTY isatty
#define QUILLON_FILENO fileno
#endif

namespace {

// Set by SIGINT, SIGTERM and SIGHUP, and in a station's program when its run closes its input:
// the job in work ends at its next step, no further job starts.
std::atomic<int> g_abortRequested{0};

bool StopAsked() {
    return g_abortRequested.load() != 0;
}

// The log must reach whoever reads it: a run whose log was lost ends with status 1 (130 if
// aborted), never 0, and says why on stderr.
int WithLogChecked(int status, CliConsole& console) {
    const std::string error = console.LogWriteError();
    if (error.empty()) {
        return status;
    }
    std::fprintf(stderr, "quillon-cli: the log could not be written (%s)\n", error.c_str());
    std::fflush(stderr);
    return status == kExitSuccess ? kExitJobFailed : status;
}

// SIGINT, SIGTERM and SIGHUP (the terminal closed, an SSH session dropped): the job ends at
// its next step and says so, instead of leaving a board half programmed without a word.
extern "C" void OnStopSignal(int signal) {
    if (signal == SIGINT && g_abortRequested.load() != 0) {
        std::_Exit(kExitAborted);  // the second Ctrl+C: at once
    }
    g_abortRequested = 1;
    std::signal(signal, OnStopSignal);
}

int UsageError(const std::string& error) {
    std::fprintf(stderr, "quillon-cli: %s\nTry 'quillon-cli --help' for more information.\n",
                 error.c_str());
    return kExitUsage;
}

int ListPortCallback(std::uintptr_t console, const ComPortInfo* info) {
    // Friendly names come from the devices' own descriptors.
    reinterpret_cast<CliConsole*>(console)->Output(EscapeForTerminal(info->portName, false) + "\t" +
                                                   EscapeForTerminal(info->friendlyName, false) +
                                                   "\n");
    return 1;
}

// The monitor file of the target named `name`: the one whose name equals it (letter case
// ignored), else the only one whose name begins with it. Several files under one name are
// an error: which one is meant cannot be told, and guessing could flash the wrong monitor.
bool ResolveTarget(const std::vector<MonitorFileEntry>& entries, const std::string& name,
                   MonitorFileEntry& found, std::string& error) {
    std::vector<const MonitorFileEntry*> equal;
    std::vector<const MonitorFileEntry*> candidates;
    for (const MonitorFileEntry& entry : entries) {
        if (EqualIgnoringCase(entry.displayName, name)) {
            equal.push_back(&entry);
        }
        if (StartsWithIgnoringCase(entry.displayName, name)) {
            candidates.push_back(&entry);
        }
    }
    const std::vector<const MonitorFileEntry*>& matches = equal.empty() ? candidates : equal;
    const bool oneName =
        !matches.empty() && std::all_of(matches.begin(), matches.end(), [&](auto* m) {
            return EqualIgnoringCase(m->displayName, matches.front()->displayName);
        });
    if (matches.size() == 1) {
        found = *matches.front();
        return true;
    }
    const std::string shownName = EscapeForTerminal(name, false);
    if (oneName) {
        error = "ambiguous target '" + shownName + "': several monitor files carry the name '" +
                EscapeForTerminal(matches.front()->displayName, false) + "':";
        for (const MonitorFileEntry* match : matches) {
            error += "\n  " + EscapeForTerminal(match->path, false);
        }
        return false;
    }
    error = (matches.empty() ? "unknown target '" : "ambiguous target '") + shownName +
            "'; known targets:";
    if (entries.empty()) {
        error += " none";
    }
    for (const MonitorFileEntry& entry : entries) {
        error += "\n  " + EscapeForTerminal(entry.displayName, false);
    }
    return false;
}

// The monitor files of `folders`; each message of the reader names its file. Files of the
// system folders hidden by a file of the user's folder go into `hidden`.
std::vector<MonitorFileEntry> ListTargets(const TargetFolders& folders, CliConsole& console,
                                          std::vector<HiddenTarget>* hidden = nullptr) {
    return ListTargetFolders(folders, hidden,
                             [&console](const std::string& path, const std::string& text) {
                                 console.ReaderMessage(path, text);
                             });
}

// The arguments as UTF-8. On Windows `argv` is in the 8-bit code page, which cannot name
// every file, so the Unicode command line is taken instead.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        std::vector<std::string> arguments;
        for (int i = 1; i < count; ++i) {
            arguments.push_back(Utf8FromPath(std::filesystem::path(wide[i])));
        }
        ::LocalFree(wide);
        return arguments;
    }
#endif
    return std::vector<std::string>(argv + 1, argv + argc);
}

void EnableTerminalSequences() {
#ifdef _WIN32
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(err, &mode)) {
        ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    ::SetConsoleOutputCP(CP_UTF8);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything is opened: a closed stdout must not become the serial port.
    const int closedAtStart = EnsureStandardStreams();
#ifndef _WIN32
    // A log reader that goes away (`| head`) must not kill the job half way through a flash;
    // the failed write is noticed instead.
    std::signal(SIGPIPE, SIG_IGN);
    // Nor a file size limit reached by the log or the record file: the write fails (EFBIG)
    // and is said like every other failed write.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(Arguments(argc, argv), options, error)) {
        return UsageError(error);
    }
    if (options.help || options.version) {
        std::fputs(options.help ? CliUsageText().c_str() : "Quillon Version " QUILLON_VERSION "\n",
                   stdout);
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 &&
                       (closedAtStart & kStdoutWasClosed) == 0
                   ? kExitSuccess
                   : kExitJobFailed;
    }
    // --targets names the one folder; else beside the program, the installed tree's share
    // folder and the user's own folder.
    const TargetFolders targetFolders = options.targetsFolder.empty()
                                            ? FindTargetFolders(ExecutableDirectory())
                                            : TargetFolders{{options.targetsFolder}, {}};

    const bool errIsTerminal = QUILLON_ISATTY(QUILLON_FILENO(stderr)) != 0;
    const bool outIsTerminal = QUILLON_ISATTY(QUILLON_FILENO(stdout)) != 0;
    if (errIsTerminal) {
        EnableTerminalSequences();
    }
    CliConsole console(stdout, stderr, errIsTerminal, errIsTerminal && outIsTerminal,
                       OutputStreamsShareOnePlace());
    console.SetClosedAtStart((closedAtStart & kStdoutWasClosed) != 0,
                             (closedAtStart & kStderrWasClosed) != 0);

    if (!options.RunsJob()) {
        int status = kExitSuccess;
        if (options.listPorts &&
            EnumerateComPorts(ListPortCallback, reinterpret_cast<std::uintptr_t>(&console)) == 0) {
            std::fprintf(stderr, "quillon-cli: the serial ports could not be listed (error %lu)\n",
                         static_cast<unsigned long>(GetLastComPortError()));
            status = kExitJobFailed;
        }
        if (options.listTargets) {
            std::vector<HiddenTarget> hidden;
            for (const MonitorFileEntry& entry : ListTargets(targetFolders, console, &hidden)) {
                console.Output(EscapeForTerminal(entry.displayName, false) + "\t" +
                               EscapeForTerminal(entry.path, false) + "\n");
            }
            for (const HiddenTarget& h : hidden) {
                console.Message("quillon-cli: " + h.hidden.path + " is not listed: " + h.by.path +
                                " in the user's folder has the name '" + h.hidden.displayName +
                                "' too and is taken instead");
            }
        }
        return WithLogChecked(status, console);
    }

    std::string monitorFile = options.monitorFile;
    std::string targetName;
    if (!options.target.empty()) {
        MonitorFileEntry found;
        if (!ResolveTarget(ListTargets(targetFolders, console), options.target, found, error)) {
            return WithLogChecked(UsageError(error), console);
        }
        monitorFile = found.path;
        targetName = found.displayName;
    }
    // The record is part of the result: a file it cannot go to ends the run before the target
    // is touched, instead of after a board whose line would be lost.
    RecordFile record;
    if (!options.record.empty()) {
        // Appending lines to the image or the monitor file would spoil it for every later board.
        for (const std::string& input : {options.image, monitorFile}) {
            std::error_code sameError;
            if (!input.empty() && std::filesystem::equivalent(PathFromUtf8(options.record),
                                                              PathFromUtf8(input), sameError)) {
                return WithLogChecked(
                    UsageError("the record file " + EscapeForTerminal(options.record, false) +
                               " is the file " + EscapeForTerminal(input, false) + " itself"),
                    console);
            }
        }
        if (!record.Open(options.record, error)) {
            std::fprintf(stderr, "quillon-cli: the record file %s cannot be opened (%s)\n",
                         EscapeForTerminal(options.record, false).c_str(), error.c_str());
            return WithLogChecked(kExitUsage, console);
        }
        if (targetName.empty()) {
            // --monitor: the name the target list shows, read quietly; Initialize reads the
            // file again and says what is wrong with it there.
            targetName = MonitorFileDisplayName(monitorFile);
        }
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#ifdef SIGHUP
    std::signal(SIGHUP, OnStopSignal);
#endif
    // A station's program: the run that started it closes its input to abort the board.
    std::optional<ParentWatch> parentWatch;
    if (options.stationBoard != 0) {
        console.SetStationEvents(true);
        parentWatch.emplace([] { g_abortRequested = 1; });
    }
    // The image is read once, before the target is touched: a file that is no image is said at
    // once, in the file reader's own words, instead of after the whole Initialize; what Start
    // Download programs and the digest the record names are those very bytes. A production run
    // reads it here to check it for all boards; each station's program reads it again for its
    // board.
    std::shared_ptr<const HexImage> image;
    std::string imageSha256;
    std::pair<int, std::string> pendingFailure{kExitSuccess, {}};
    if (!options.image.empty() && !options.initOnly) {
        HexReadResult read = ReadHexFile(options.image, StopAsked);
        for (const std::string& text : read.Messages()) {
            console.ReaderMessage(options.image, text);
        }
        std::string failure;
        int status = kExitSuccess;
        if (!read.ok()) {
            status = read.error->kind == HexErrorKind::kAborted ? kExitAborted : kExitJobFailed;
            failure = read.error->kind == HexErrorKind::kAborted ? kAbortedLine : read.error->text;
        } else if (!read.image.HoldsAnyData() && !options.eraseAll) {
            console.Message(DownloadJob::kNoDataLine);
            status = kExitJobFailed;
            failure = DownloadJob::kNoDataLine;
        }
        if (status != kExitSuccess) {
            if (options.stationBoard == 0) {
                return WithLogChecked(status, console);
            }
            // A station's board whose image went bad after the run checked it: failed, with
            // its line in the record.
            pendingFailure = {status, failure};
        } else {
            imageSha256 = read.sha256;
            image = std::make_shared<const HexImage>(std::move(read.image));
        }
    }
    if (options.RunsStations()) {
        // The stations run this program's own file, by its real path (so that they show as
        // quillon-cli among the processes); on Linux a file replaced since (an update of the
        // package) is still reached through /proc.
        std::string program = ExecutablePath();
#ifdef __linux__
        if (program.empty() || program.find(" (deleted)") != std::string::npos) {
            program = "/proc/self/exe";
        }
#endif
        RecordSetup setup;
        if (!options.record.empty()) {
            setup.file = &record;
            setup.path = options.record;
            setup.host = HostName();
            setup.target = targetName;
            setup.monitorFile = monitorFile;
            if (!options.initOnly) {
                setup.image = options.image;
            }
            setup.eraseAll = options.eraseAll;
        }
        int status = RunProduction(options, program, monitorFile, setup, StopAsked, errIsTerminal,
                                   errIsTerminal && outIsTerminal);
        if ((closedAtStart & kStdoutWasClosed) != 0) {
            // The stations' log and the summary went nowhere.
            std::fprintf(stderr,
                         "quillon-cli: the log could not be written (standard output was "
                         "closed)\n");
            status = status == kExitSuccess ? kExitJobFailed : status;
        }
        return status;
    }
    BoardOutcome outcome;
    int status = pendingFailure.first;
    outcome.failure = pendingFailure.second;
    if (image) {
        console.Event({StationEventKind::kImageDigest, imageSha256});
    }
    if (status == kExitSuccess) {
        status = RunJobs(options, monitorFile, image, console, StopAsked, outcome, [&console] {
            console.Event({StationEventKind::kDownloadStart, {}});
        });
    }
    // The board's own result; a record line that cannot be written makes the run fail too.
    const int boardStatus = status;
    if (!options.record.empty()) {
        BoardRecord line;
        line.time = std::chrono::system_clock::now();
        line.host = HostName();
        line.port = options.port;
        line.board = options.stationBoard != 0 ? options.stationBoard : 1;
        line.target = targetName;
        line.monitorFile = monitorFile;
        if (!options.initOnly) {
            line.image = options.image;
            if (image) {
                line.imageSha256 = imageSha256;
            }
        }
        line.eraseAll = options.eraseAll;
        line.result = ResultName(boardStatus);
        line.failure = outcome.failure;
        line.initSeconds = outcome.initSeconds;
        line.downloadSeconds = outcome.downloadSeconds;
        const std::string text = line.Line();
        if (!record.Append(text, error)) {
            const std::string failure = "the record line could not be written to " +
                                        EscapeForTerminal(options.record, false) + " (" + error +
                                        ")";
            console.Message("quillon-cli: " + failure);
            // A station's run writes the line itself, so that the board still has its line.
            console.Event({StationEventKind::kUnwrittenRecord, text.substr(0, text.size() - 1)});
            if (outcome.failure.empty()) {
                outcome.failure = failure;
            }
            status = status == kExitSuccess ? kExitJobFailed : status;
        }
    }
    console.Result(boardStatus, outcome.failure);
    return WithLogChecked(status, console);
}
