#include "cli/run_setup.h"

#include <cstdio>
#include <optional>

#include "cli/cli_preparation_messages.h"
#include "cli/target_choice.h"
#include "helpers/text_format.h"
#include "platform/console.h"
#include "production/production_preparation.h"

namespace quillon {

namespace {

// Says a usage error with the hint to --help; the error to end the run with.
Status SaidUsageError(std::string text) {
    UsageError(text);
    return Fail(ErrorKind::kUsage, std::move(text));
}

}  // namespace

FactoryDatabase::StopRequested StopRequestedFromNow() {
    return [before = StopRequestCount()] { return StopRequestCount() > before; };
}

int InitDatabase(const CliOptions& options, const AbortRequested& abortRequested,
                 CliConsole& console) {
    FactoryDatabase database(options.database);
    const Result<int> version = database.Open(abortRequested);
    if (!version) {
        CliPreparationMessages messages(console);
        return ExitStatusOf(SaidDatabaseError(version.error(), messages));
    }
    std::printf("quillon-cli: the database holds the tables of schema version %d\n", *version);
    return std::fflush(stdout) == 0 ? kExitSuccess : kExitJobFailed;
}

Status OpenDatabase(const CliOptions& options, const AbortRequested& abortRequested,
                    RunSetup& setup, CliConsole& console) {
    if (options.database.empty() || options.stationBoard != 0) {
        return {};  // a station's board leaves the database to its run
    }
    CliPreparationMessages messages(console);
    Result<RunDatabase> opened = OpenRunDatabase(options.database, abortRequested, messages);
    if (!opened) {
        return Fail(std::move(opened).error());
    }
    setup.database = std::move(opened->database);
    setup.rows = std::move(opened->rows);
    setup.runId = std::move(opened->runId);
    return {};
}

int CheckSpoolAtEnd(BoardRowStore* rows, int status) {
    if (rows == nullptr) {
        return status;
    }
    // A last try, bounded by the database's patience (a stop that ended the boards does not
    // leave their rows behind; another one ends the try).
    const std::optional<std::string> left = RowsLeftInSpool(*rows, StopRequestedFromNow());
    if (!left) {
        return status;
    }
    std::fprintf(stderr, "quillon-cli: %s: the next run with this --database stores them\n",
                 left->c_str());
    std::fflush(stderr);
    return status == kExitSuccess ? kExitJobFailed : status;
}

Status ChooseTargetAndRecord(const CliOptions& options, const TargetFolders& targetFolders,
                             CliConsole& console, RunSetup& setup) {
    std::string error;
    setup.monitorFile = options.monitorFile;
    if (!options.target.empty()) {
        const Result<MonitorFileEntry> found =
            ResolveTarget(ListTargets(targetFolders, console), options.target);
        if (!found) {
            return SaidUsageError(found.error().text);
        }
        setup.monitorFile = found->path;
        setup.targetName = found->displayName;
    }
    if (options.record.empty()) {
        return {};
    }
    // The record is part of the result: a file it cannot go to ends the run before the target
    // is touched, instead of after a board whose line would be lost. A production run's
    // preparation opens it.
    if (!options.RunsStations()) {
        CliPreparationMessages messages(console);
        if (Status opened = OpenRecordFile(setup.record, options.record,
                                           {options.image, setup.monitorFile}, messages);
            !opened) {
            return opened;
        }
    }
    if (setup.targetName.empty()) {
        // --monitor: the name the target list shows, read quietly; Initialize reads the file
        // again and says what is wrong with it there.
        setup.targetName = MonitorFileDisplayName(setup.monitorFile);
    }
    return {};
}

Status ReadImage(const CliOptions& options, CliConsole& console,
                 const AbortRequested& abortRequested, RunSetup& setup) {
    if (options.image.empty() || options.initOnly) {
        return {};
    }
    CliPreparationMessages messages(console);
    // A station's program reads the run's copy: the bytes the run read and checked.
    const std::string& path = options.stationImage.empty() ? options.image : options.stationImage;
    Result<HexImageRead> read = ReadRunImage(path, abortRequested, {}, messages);
    Status status;
    if (!read) {
        status = Fail(read.error());
    } else if (!options.stationImageSha256.empty() && read->sha256 != options.stationImageSha256) {
        // Changed since the run read it (by this user: nobody else may enter its folder).
        status = Fail(ErrorKind::kInvalidData, "the image " + EscapeForTerminal(path, false) +
                                                   " has the SHA-256 " + read->sha256 +
                                                   ", not the run's " + options.stationImageSha256);
        console.Message("quillon-cli: " + status.error().text);
    } else {
        status = CheckImageHoldsData(read->image, options.eraseAll, messages);
    }
    // Every board of a run names the digest of the bytes the run read.
    setup.imageSha256 = options.stationImageSha256.empty() ? (read ? read->sha256 : std::string())
                                                           : options.stationImageSha256;
    if (status) {
        setup.image = std::make_shared<const HexImage>(std::move(read->image));
        return {};
    }
    if (options.stationBoard == 0) {
        return status;
    }
    setup.pending = std::move(status);
    return {};
}

Status PrepareSerialNumbers(const CliOptions& options, const AbortRequested& abortRequested,
                            RunSetup& setup, CliConsole& console) {
    const CliOptions::Serial& serial = options.serial;
    if (!serial.patch || !setup.image) {
        return {};  // no numbers, or a station's board that fails already
    }
    if (Status free = serial.patch->CheckImage(*setup.image); !free) {
        if (options.stationBoard != 0) {
            setup.pending = std::move(free);
            return {};
        }
        return SaidUsageError(std::move(free).error().text);
    }
    if (serial.stationNumber) {
        return {};
    }
    CliPreparationMessages messages(console);
    Result<std::unique_ptr<SerialSource>> source = OpenSerialSource(
        {serial.counter, serial.list, serial.dbCounter, serial.start}, setup.database.get(),
        SerialCounter::Missing::kCreate, messages, abortRequested);
    if (!source) {
        return Fail(std::move(source).error());
    }
    setup.serialSource = std::move(*source);
    return {};
}

}  // namespace quillon
