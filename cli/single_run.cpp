#include "cli/single_run.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "database/database_counter.h"
#include "helpers/text_format.h"
#include "link/download_job.h"
#include "platform/host_name.h"
#include "production/board_record.h"

namespace quillon {

namespace {

// What the record says of the board's serial number and of the image it flashed.
struct BoardImage {
    std::shared_ptr<const HexImage> image;  // with the board's number, if it has one
    std::optional<std::string> flashedSha256;
    std::optional<std::string> serialNumber;
    std::optional<std::string> serialAt;
};

// How the board went, for the record file.
struct BoardOutcome {
    // Why the board is not ok; empty when it is (see BoardJobs::result).
    std::string failure;
    double initSeconds = 0;
    double downloadSeconds = 0;                    // 0 when Start Download did not run
    std::optional<DownloadTiming> downloadTiming;  // none when no block was answered
};

// The board's record line (with its line end).
std::string BoardRecordLine(const CliOptions& options, const RunSetup& setup, int boardStatus,
                            const BoardImage& board, const BoardOutcome& outcome) {
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
    if (outcome.downloadTiming) {
        line.answerDelayUs = outcome.downloadTiming->answerDelayUs;
        line.downloadBytesPerSecond = outcome.downloadTiming->bytesPerSecond;
    }
    return line.Line();
}

// Writes the board's record line `text`; an error (kIo), said on the console, when it could
// not be written.
Status WriteRecordLine(const CliOptions& options, RunSetup& setup, CliConsole& console,
                       const std::string& text) {
    const Status appended = setup.record.Append(text);
    if (appended) {
        return {};
    }
    const std::string failure = "the record line could not be written to " +
                                EscapeForTerminal(options.record, false) + " (" +
                                appended.error().text + ")";
    console.Message("quillon-cli: " + failure);
    // A station's run writes the line itself, so that the board still has its line.
    console.OnJobEvent(JobEvent::UnwrittenRecord(text.substr(0, text.size() - 1)));
    return Fail(ErrorKind::kIo, failure);
}

// Stores the board's row `text` in the database, or in its spool (said on the console); an
// error (kIo), said, when it went to neither.
// The wait is bounded by the database's patience, and not cut short by the stop that aborted the
// board (its row belongs in the database too); another stop ends it, and the row goes to the
// spool.
Status StoreBoardRow(RunSetup& setup, CliConsole& console, const std::string& text) {
    const Result<BoardRowStore::Stored> stored =
        setup.rows->Store(text.substr(0, text.size() - 1), StopRequestedFromNow());
    if (!stored) {
        console.Message("quillon-cli: " + EscapeForTerminal(stored.error().text, false));
        return Fail(stored.error());
    }
    if (stored->spooled) {
        console.Message("quillon-cli: " + EscapeForTerminal(stored->message, false));
    }
    return {};
}

// How often a board that waits for the database to hand out its number asks again.
constexpr auto kNumberRetry = std::chrono::seconds(1);

// The board's number: the one the run took for it, else the next of the counter or list, taken
// (and marked taken on the disk) before the target is touched. An error (kAborted when asked to
// stop) when none could be taken, said on the console.
Result<std::uint64_t> BoardNumber(const CliOptions& options, RunSetup& setup, CliConsole& console,
                                  const AbortRequested& abortRequested) {
    const CliOptions::Serial& serial = options.serial;
    if (serial.stationNumber) {
        return *serial.stationNumber;
    }
    const SerialClaim claim{HostName(), options.port, setup.runId, 1};
    Result<std::uint64_t> take = setup.serialSource->Take(abortRequested, claim);
    // A database that went away: the board waits for its number, until asked to stop.
    for (bool said = false; !take && setup.serialSource->WorthRetrying(take.error());
         take = setup.serialSource->Take(abortRequested, claim)) {
        if (!said) {
            console.Message("quillon-cli: " +
                            EscapeForTerminal(WaitingForDatabaseText(take.error()), false));
            said = true;
        }
        const auto until = std::chrono::steady_clock::now() + kNumberRetry;
        while (std::chrono::steady_clock::now() < until && !abortRequested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (abortRequested()) {
            take = Fail(ErrorKind::kAborted, kAbortedLine);
        }
    }
    if (!take) {
        console.Message("quillon-cli: " + EscapeForTerminal(take.error().text, false));
    }
    return take;
}

// `number` patched into the board's copy of `image`, said in the log; the board's status.
int PatchNumber(const SerialPatch& patch, std::uint64_t number, const HexImage& image,
                CliConsole& console, BoardImage& board, BoardOutcome& outcome) {
    const Result<SerialPatch::Patched> patched = patch.Apply(image, number);
    if (!patched) {
        outcome.failure = patched.error().text;
        console.Message("quillon-cli: " + patched.error().text);
        return kExitJobFailed;
    }
    board.image = patched->image;
    console.OnJobEvent(JobEvent::Line("Serial number " + patched->text + " at " + *board.serialAt));
    return kExitSuccess;
}

}  // namespace

SingleBoardEnd RunSingleBoard(const CliOptions& options, RunSetup& setup, CliConsole& console,
                              const AbortRequested& abortRequested) {
    BoardOutcome outcome;
    int status = ExitStatusOf(setup.pending);
    if (!setup.pending) {
        outcome.failure = setup.pending.error().text;
    }
    BoardImage board;
    board.image = setup.image;
    const CliOptions::Serial& serial = options.serial;
    if (serial.patch && !serial.stationNumber && status == kExitSuccess && abortRequested()) {
        // Asked to stop before the board began: no number is spent on it.
        console.OnJobEvent(JobEvent::Line(kAbortedLine));
        status = kExitAborted;
        outcome.failure = kAbortedLine;
    } else if (serial.patch && (setup.image || serial.stationNumber)) {
        const Result<std::uint64_t> number = BoardNumber(options, setup, console, abortRequested);
        if (!number) {
            console.Finish();
            return {ExitStatusOf(number.error()), number.error().text};
        }
        // From here on the number is spent: the record line carries it, however the board ends.
        board.serialNumber = serial.patch->format().RecordText(*number);
        board.serialAt = serial.patch->AddressText();
        if (status == kExitSuccess) {
            status = PatchNumber(*serial.patch, *number, *setup.image, console, board, outcome);
        }
    }
    if (setup.image && status == kExitSuccess) {
        board.flashedSha256 = DownloadJob::ProgrammedSha256(*board.image);
        console.OnJobEvent(JobEvent::FlashedDigest(*board.flashedSha256));
    }
    if (status == kExitSuccess) {
        const BoardJobs jobs =
            RunJobs(options, setup.monitorFile, board.image, console, abortRequested);
        status = ExitStatusOf(jobs.result);
        outcome.failure = jobs.result.text;
        outcome.initSeconds = jobs.initSeconds;
        outcome.downloadSeconds = jobs.downloadSeconds;
        outcome.downloadTiming = jobs.result.downloadTiming;
    }
    const int boardStatus = status;
    const std::string line = BoardRecordLine(options, setup, boardStatus, board, outcome);
    Status written;
    if (!options.record.empty()) {
        written = WriteRecordLine(options, setup, console, line);
    }
    if (setup.rows) {
        // The row goes to the database however the record file fared.
        if (Status stored = StoreBoardRow(setup, console, line); !stored && written) {
            written = std::move(stored);
        }
    }
    if (!written) {
        // A board whose line is lost is not taken for done.
        if (outcome.failure.empty()) {
            outcome.failure = written.error().text;
        }
        if (status == kExitSuccess) {
            status = kExitJobFailed;
        }
    }
    console.OnJobEvent(JobEvent::BoardEnd(BoardResult(boardStatus, outcome.failure)));
    return {status, outcome.failure};
}

}  // namespace quillon
