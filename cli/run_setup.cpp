#include "cli/run_setup.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "cli/target_choice.h"
#include "database/database_counter.h"
#include "helpers/text_format.h"
#include "image/hex_reader.h"
#include "link/download_job.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/utf8_path.h"
#include "serial_numbers/serial_counter.h"
#include "serial_numbers/serial_list.h"

namespace quillon {

namespace {

// Says a usage error with the hint to --help; the error to end the run with.
Status SaidUsageError(std::string text) {
    UsageError(text);
    return Fail(ErrorKind::kUsage, std::move(text));
}

// Says the error on stderr; the error to end the run with.
Status SaidError(Status status) {
    std::fprintf(stderr, "quillon-cli: %s\n", status.error().text.c_str());
    return status;
}

// A new run's id: 128 random bits in hex, never the same on two PCs of a line.
std::string NewRunId() {
    std::random_device random;
    std::string id;
    for (int i = 0; i < 8; ++i) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(random() & 0xFFFF));
        id += digits;
    }
    return id;
}

// The folder the database spool lives in: the user's data folder, where it outlives the run
// for the next one to store.
Result<std::string> SpoolFolder() {
    const XdgEnvironment xdg = ReadXdgEnvironment();
    if (!xdg.dataHome.empty()) {
        return Utf8FromPath(PathFromUtf8(xdg.dataHome) / "quillon");
    }
    if (!xdg.home.empty()) {
        return Utf8FromPath(PathFromUtf8(xdg.home) / ".local" / "share" / "quillon");
    }
    return Fail(ErrorKind::kUsage,
                "the database spool needs a data folder: neither XDG_DATA_HOME nor HOME is set");
}

// Says a database error on stderr; the error to end the run with (kUsage unless stopped).
Status SaidDatabaseError(Error error) {
    std::fprintf(stderr, "quillon-cli: %s\n", EscapeForTerminal(error.text, false).c_str());
    if (error.kind != ErrorKind::kAborted) {
        error.kind = ErrorKind::kUsage;
    }
    return Fail(std::move(error));
}

}  // namespace

FactoryDatabase::StopRequested StopRequestedFromNow() {
    return [before = StopRequestCount()] { return StopRequestCount() > before; };
}

int InitDatabase(const CliOptions& options, const AbortRequested& abortRequested) {
    FactoryDatabase database(options.database);
    const Result<int> version = database.Open(abortRequested);
    if (!version) {
        return ExitStatusOf(SaidDatabaseError(version.error()));
    }
    std::printf("quillon-cli: the database holds the tables of schema version %d\n", *version);
    return std::fflush(stdout) == 0 ? kExitSuccess : kExitJobFailed;
}

Status OpenDatabase(const CliOptions& options, const AbortRequested& abortRequested,
                    RunSetup& setup) {
    if (options.database.empty() || options.stationBoard != 0) {
        return {};  // a station's board leaves the database to its run
    }
    setup.database = std::make_unique<FactoryDatabase>(options.database);
    if (const Result<int> opened = setup.database->Open(abortRequested); !opened) {
        return SaidDatabaseError(opened.error());
    }
    const Result<std::string> folder = SpoolFolder();
    if (!folder) {
        return SaidDatabaseError(folder.error());
    }
    setup.runId = NewRunId();
    setup.rows = std::make_unique<BoardRowStore>(
        *setup.database, BoardRowSpool::PathFor(*folder, options.database), setup.runId);
    // Rows an earlier run could not store go in first; those the database still refuses stay.
    if (const Result<std::size_t> left = setup.rows->StoreSpooled(abortRequested); !left) {
        std::fprintf(stderr, "quillon-cli: the spool %s could not be stored (%s)\n",
                     EscapeForTerminal(setup.rows->spool().path(), false).c_str(),
                     EscapeForTerminal(left.error().text, false).c_str());
    }
    if (options.RunsStations() && options.record.empty()) {
        // The stations' programs write their lines here, and the run reads them back.
        if (const Status created = setup.recordFolder.Create("quillon-rows-"); !created) {
            return SaidDatabaseError(created.error());
        }
        setup.recordPath = Utf8FromPath(PathFromUtf8(setup.recordFolder.path()) / "record.jsonl");
        if (const Status opened = setup.record.Open(setup.recordPath); !opened) {
            return SaidDatabaseError(opened.error());
        }
    }
    return {};
}

int CheckSpoolAtEnd(RunSetup& setup, int status) {
    if (!setup.rows) {
        return status;
    }
    // A last try, bounded by the database's patience (a stop that ended the boards does not
    // leave their rows behind; another one ends the try).
    Result<std::size_t> left = setup.rows->StoreSpooled(StopRequestedFromNow());
    if (!left) {
        left = setup.rows->spool().Count();
    }
    if (left && *left == 0) {
        return status;
    }
    const std::string count = left ? std::to_string(*left) + " board rows wait" : "rows may wait";
    std::fprintf(stderr,
                 "quillon-cli: %s in the spool %s: the next run with this --database stores "
                 "them\n",
                 count.c_str(), EscapeForTerminal(setup.rows->spool().path(), false).c_str());
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
    // The record is part of the result: a file it cannot go to ends the run before the target
    // is touched, instead of after a board whose line would be lost.
    if (options.record.empty()) {
        return {};
    }
    // Appending lines to the image or the monitor file would spoil it for every later board.
    for (const std::string& input : {options.image, setup.monitorFile}) {
        std::error_code sameError;
        if (!input.empty() && std::filesystem::equivalent(PathFromUtf8(options.record),
                                                          PathFromUtf8(input), sameError)) {
            return SaidUsageError("the record file " + EscapeForTerminal(options.record, false) +
                                  " is the file " + EscapeForTerminal(input, false) + " itself");
        }
    }
    setup.recordPath = options.record;
    if (const Status opened = setup.record.Open(options.record); !opened) {
        const std::string& why = opened.error().text;
        std::fprintf(stderr, "quillon-cli: the record file %s cannot be opened (%s)\n",
                     EscapeForTerminal(options.record, false).c_str(), why.c_str());
        return Fail(ErrorKind::kUsage, "the record file cannot be opened (" + why + ")");
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
    StationImageCopy& copy = setup.stationImage;
    const bool copying = options.RunsStations();
    if (copying) {
        if (Status opened = copy.Open(); !opened) {
            return SaidError(std::move(opened));
        }
    }
    // A station's program reads the run's copy: the bytes the run read and checked.
    const std::string& path = options.stationImage.empty() ? options.image : options.stationImage;
    HexReadResult read =
        ReadHexFile(path, abortRequested,
                    copying ? RawBytesSink([&copy](const std::uint8_t* bytes, std::size_t count) {
                        copy.Write(bytes, count);
                    })
                            : RawBytesSink());
    for (const std::string& text : ReaderMessages(read)) {
        console.ReaderMessage(path, text);
    }
    Status status;
    if (!read) {
        const bool aborted = read.error().kind == HexErrorKind::kAborted;
        status = Fail(aborted ? ErrorKind::kAborted : ErrorKind::kInvalidData,
                      aborted ? kAbortedLine : read.error().text);
    } else if (!options.stationImageSha256.empty() && read->sha256 != options.stationImageSha256) {
        // Changed since the run read it (by this user: nobody else may enter its folder).
        status = Fail(ErrorKind::kInvalidData, "the image " + EscapeForTerminal(path, false) +
                                                   " has the SHA-256 " + read->sha256 +
                                                   ", not the run's " + options.stationImageSha256);
        console.Message("quillon-cli: " + status.error().text);
    } else if (!read->image.HoldsAnyData() && !options.eraseAll) {
        console.Message(DownloadJob::kNoDataLine);
        status = Fail(ErrorKind::kInvalidData, DownloadJob::kNoDataLine);
    }
    if (copying && status) {
        if (Status closed = copy.Close(); !closed) {
            return SaidError(std::move(closed));
        }
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

Status PrepareSerialNumbers(const CliOptions& options, RunSetup& setup) {
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
    if (!serial.dbCounter.empty()) {
        // The database keeps its counters: a missing one is made from --serial-start alone.
        setup.serialSource =
            std::make_unique<DatabaseCounter>(*setup.database, serial.dbCounter, serial.start);
    } else if (!serial.counter.empty()) {
        // A production run never makes its counter: an empty folder where a share is not
        // mounted would let it start the numbers anew.
        setup.serialSource = std::make_unique<SerialCounter>(
            serial.counter, serial.start, SerialSource::kLockPatience,
            options.RunsStations() ? SerialCounter::Missing::kRefuse
                                   : SerialCounter::Missing::kCreate);
    } else {
        setup.serialSource = std::make_unique<SerialList>(serial.list);
    }
    const Result<std::uint64_t> check = setup.serialSource->Check();
    if (check) {
        return {};
    }
    Error error = check.error();
    std::fprintf(stderr, "quillon-cli: %s\n", EscapeForTerminal(error.text, false).c_str());
    // Files that are not there or hold something else than numbers are bad input; numbers used
    // up, a lock kept by another program and a stop request end the run as they are.
    if (error.kind != ErrorKind::kExhausted && error.kind != ErrorKind::kBusy &&
        error.kind != ErrorKind::kAborted) {
        error.kind = ErrorKind::kUsage;
    }
    return Fail(std::move(error));
}

}  // namespace quillon
