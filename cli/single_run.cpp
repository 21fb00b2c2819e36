#include "cli/single_run.h"

#include <chrono>

#include "cli/production/board_record.h"
#include "cli/production/station_event.h"
#include "helpers/text_format.h"
#include "platform/host_name.h"

namespace {

// The board's record line; false, said on the console, when it could not be written.
bool WriteRecordLine(const CliOptions& options, RunSetup& setup, CliConsole& console,
                     int boardStatus, BoardOutcome& outcome) {
    BoardRecord line;
    line.time = std::chrono::system_clock::now();
    line.host = HostName();
    line.port = options.port;
    line.board = options.stationBoard != 0 ? options.stationBoard : 1;
    line.target = setup.targetName;
    line.monitorFile = setup.monitorFile;
    if (!options.initOnly) {
        line.image = options.image;
        if (setup.image) {
            line.imageSha256 = setup.imageSha256;
        }
    }
    line.eraseAll = options.eraseAll;
    line.result = ResultName(boardStatus);
    line.failure = outcome.failure;
    line.initSeconds = outcome.initSeconds;
    line.downloadSeconds = outcome.downloadSeconds;
    const std::string text = line.Line();
    std::string error;
    if (setup.record.Append(text, error)) {
        return true;
    }
    const std::string failure = "the record line could not be written to " +
                                EscapeForTerminal(options.record, false) + " (" + error + ")";
    console.Message("quillon-cli: " + failure);
    // A station's run writes the line itself, so that the board still has its line.
    console.Event({StationEventKind::kUnwrittenRecord, text.substr(0, text.size() - 1)});
    if (outcome.failure.empty()) {
        outcome.failure = failure;
    }
    return false;
}

}  // namespace

int RunSingleBoard(const CliOptions& options, RunSetup& setup, CliConsole& console,
                   const AbortRequested& abortRequested) {
    BoardOutcome outcome;
    int status = setup.pendingStatus;
    outcome.failure = setup.pendingFailure;
    if (setup.image) {
        console.Event({StationEventKind::kImageDigest, setup.imageSha256});
    }
    if (status == kExitSuccess) {
        status = RunJobs(options, setup.monitorFile, setup.image, console, abortRequested, outcome,
                         [&console] {
                             console.Event({StationEventKind::kDownloadStart, {}});
                         });
    }
    const int boardStatus = status;
    if (!options.record.empty() &&
        !WriteRecordLine(options, setup, console, boardStatus, outcome) && status == kExitSuccess) {
        status = kExitJobFailed;
    }
    console.Result(boardStatus, outcome.failure);
    return status;
}
