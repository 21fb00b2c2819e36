#include "cli/single_run.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "cli/production/board_record.h"
#include "helpers/text_format.h"
#include "link/download_job.h"
#include "platform/host_name.h"

namespace quillon {

namespace {

// What the record says of the board's serial number and of the image it flashed.
struct BoardImage {
    std::shared_ptr<const HexImage> image;  // with the board's number, if it has one
    std::optional<std::string> flashedSha256;
    std::optional<std::string> serialNumber;
    std::optional<std::string> serialAt;
};

// The board's record line; false, said on the console, when it could not be written.
bool WriteRecordLine(const CliOptions& options, RunSetup& setup, CliConsole& console,
                     int boardStatus, const BoardImage& board, BoardOutcome& outcome) {
    BoardRecord line;
    line.time = std::chrono::system_clock::now();
    line.host = HostName();
    line.port = options.port;
    line.board = options.stationBoard != 0 ? options.stationBoard : 1;
    line.target = setup.targetName;
    line.monitorFile = setup.monitorFile;
    if (!options.initOnly) {
        line.image = options.image;
        if (!setup.imageSha256.empty()) {
            line.imageSha256 = setup.imageSha256;  // in a station's program the run's
        }
    }
    line.flashedSha256 = board.flashedSha256;
    line.serialNumber = board.serialNumber;
    line.serialAt = board.serialAt;
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
    console.OnJobEvent(JobEvent::UnwrittenRecord(text.substr(0, text.size() - 1)));
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
    BoardImage board;
    board.image = setup.image;
    const CliOptions::Serial& serial = options.serial;
    if (serial.patch && !serial.stationNumber && status == kExitSuccess && abortRequested()) {
        // Asked to stop before the board began: no number is spent on it.
        console.OnJobEvent(JobEvent::Line(kAbortedLine));
        status = kExitAborted;
        outcome.failure = kAbortedLine;
    } else if (serial.patch && (setup.image || serial.stationNumber)) {
        // The board's number: the one the run took for it, else the next of the counter or
        // list, taken (and marked taken on the disk) before the target is touched.
        std::uint64_t number = 0;
        if (serial.stationNumber) {
            number = *serial.stationNumber;
        } else {
            const SerialTake take = setup.serialSource->Take(abortRequested);
            if (!take.ok()) {
                console.Message("quillon-cli: " + EscapeForTerminal(take.text, false));
                console.Finish();
                return take.error == SerialTakeError::kStopped ? kExitAborted : kExitJobFailed;
            }
            number = take.value;
        }
        // From here on the number is spent: the record line carries it, however the board ends.
        const SerialFormat::Written written = serial.patch->format().Write(number);
        board.serialNumber = written.ok() ? written.text : std::to_string(number);
        board.serialAt = serial.patch->AddressText();
        if (status == kExitSuccess) {
            const SerialPatch::Patched patched = serial.patch->Apply(*setup.image, number);
            if (patched.ok()) {
                board.image = patched.image;
                console.OnJobEvent(
                    JobEvent::Line("Serial number " + patched.text + " at " + *board.serialAt));
            } else {
                status = kExitJobFailed;
                outcome.failure = patched.error;
                console.Message("quillon-cli: " + patched.error);
            }
        }
    }
    if (setup.image && status == kExitSuccess) {
        board.flashedSha256 = DownloadJob::ProgrammedSha256(*board.image);
        console.OnJobEvent(JobEvent::FlashedDigest(*board.flashedSha256));
    }
    if (status == kExitSuccess) {
        status = RunJobs(options, setup.monitorFile, board.image, console, abortRequested, outcome);
    }
    const int boardStatus = status;
    if (!options.record.empty() &&
        !WriteRecordLine(options, setup, console, boardStatus, board, outcome) &&
        status == kExitSuccess) {
        status = kExitJobFailed;
    }
    console.OnJobEvent(JobEvent::BoardEnd(BoardResult(boardStatus, outcome.failure)));
    return status;
}

}  // namespace quillon
