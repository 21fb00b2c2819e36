// quillon-cli: Initialize and Start Download without a window, for scripts and production
// lines. See CliUsageText for the options and exit statuses.
#include <cstdint>
#include <cstdio>
#include <optional>

#include "cli/cli_console.h"
#include "cli/cli_options.h"
#include "cli/cli_preparation_messages.h"
#include "cli/listing.h"
#include "cli/production/production_run.h"
#include "cli/run_setup.h"
#include "cli/single_run.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/executable_path.h"
#include "platform/parent_watch.h"
#include "platform/standard_streams.h"
#include "production/production_preparation.h"

using namespace quillon;

int main(int argc, char** argv) {
    // Before anything is opened: a closed stdout must not become the serial port.
    const int closedAtStart = EnsureStandardStreams();
    IgnoreWriteSignals();
    Result<CliOptions> parsed = ParseCliOptions(CommandLineArguments(argc, argv));
    if (!parsed) {
        return UsageError(parsed.error().text);
    }
    const CliOptions options = std::move(*parsed);
    if (options.help || options.version) {
        std::fputs(options.help ? CliUsageText().c_str() : "Quillon Version " QUILLON_VERSION "\n",
                   stdout);
        const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
        return written && (closedAtStart & kStdoutWasClosed) == 0 ? kExitSuccess : kExitJobFailed;
    }
    // --targets names the one folder; else beside the program, the installed tree's share
    // folder and the user's own folder.
    const TargetFolders targetFolders = options.targetsFolder.empty()
                                            ? FindTargetFolders(ExecutableDirectory())
                                            : TargetFolders{{options.targetsFolder}, {}};
    const bool errIsTerminal = IsTerminal(stderr);
    const bool sharedTerminal = errIsTerminal && IsTerminal(stdout);
    if (errIsTerminal) {
        EnableTerminalSequences();
    }
    CliConsole console(stdout, stderr, errIsTerminal, sharedTerminal, OutputStreamsShareOnePlace(),
                       SystemClock());
    console.SetClosedAtStart((closedAtStart & kStdoutWasClosed) != 0,
                             (closedAtStart & kStderrWasClosed) != 0);
    if (options.databaseInit) {
        CatchStopSignals(kExitAborted);
        return InitDatabase(options, StopRequested, console);
    }
    if (!options.RunsJob()) {
        return console.CheckedStatus(PrintListings(options, targetFolders, console));
    }
    RunSetup setup;
    if (const Status chosen = ChooseTargetAndRecord(options, targetFolders, console, setup);
        !chosen) {
        return console.CheckedStatus(ExitStatusOf(chosen));
    }
    CatchStopSignals(kExitAborted);
    // A station's program: the run that started it closes its input to abort the board.
    std::optional<ParentWatch> parentWatch;
    if (options.stationBoard != 0) {
        console.SetStationEvents(true);
        parentWatch.emplace(RequestStop);
    }
    if (options.RunsStations()) {
        PreparedProduction prepared;
        CliPreparationMessages messages(console);
        if (const Status ready = PrepareProduction(ProductionRequestOf(options, setup),
                                                   StopRequested, messages, prepared);
            !ready) {
            return console.CheckedStatus(ExitStatusOf(ready));
        }
        const int status = ProductionRun(options, prepared.setup(), errIsTerminal, sharedTerminal)
                               .Run(StopRequested, (closedAtStart & kStdoutWasClosed) != 0);
        return CheckSpoolAtEnd(prepared.rows(), status);
    }
    if (const Status read = ReadImage(options, console, StopRequested, setup); !read) {
        return console.CheckedStatus(ExitStatusOf(read));
    }
    if (const Status opened = OpenDatabase(options, StopRequested, setup, console); !opened) {
        return console.CheckedStatus(ExitStatusOf(opened));
    }
    if (const Status prepared = PrepareSerialNumbers(options, StopRequested, setup, console);
        !prepared) {
        return console.CheckedStatus(ExitStatusOf(prepared));
    }
    const std::uint64_t startMs = SystemClock().NowMs();
    const SingleBoardEnd end = RunSingleBoard(options, setup, console, StopRequested);
    // Rows left in the database spool fail a run that went well (said just before).
    const int spooled = CheckSpoolAtEnd(setup.rows.get(), end.status);
    const int status = console.CheckedStatus(spooled);
    // A log that was lost fails the run (said just before).
    console.Verdict(status,
                    status == end.status ? end.failure
                    : status == spooled  ? "the board's row waits in the database spool"
                                         : "the log could not be written",
                    static_cast<double>(SystemClock().NowMs() - startMs) / 1000.0);
    return status;
}
