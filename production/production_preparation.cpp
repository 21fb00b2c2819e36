#include "production/production_preparation.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

#include "database/database_counter.h"
#include "helpers/text_format.h"
#include "link/download_job.h"
#include "link/job_events.h"
#include "platform/environment.h"
#include "platform/utf8_path.h"
#include "serial_numbers/serial_list.h"

namespace quillon {

namespace {

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

// The image read once: its bytes into the run's private copy, which every station's program
// reads, and their digest, which the record names.
Status ReadImageOnce(const ProductionRequest& request, const StopCheck& stop,
                     PreparationMessages& messages, StationImageCopy& copy, ProductionSetup& setup,
                     std::optional<HexImage>& image) {
    if (Status opened = copy.Open(); !opened) {
        messages.Problem(opened.error().text);
        return opened;
    }
    Result<HexImageRead> read = ReadRunImage(
        *request.values.image, stop,
        [&copy](const std::uint8_t* bytes, std::size_t count) { copy.Write(bytes, count); },
        messages);
    if (!read) {
        return Fail(std::move(read).error());
    }
    if (Status holds = CheckImageHoldsData(read->image, request.values.eraseAll, messages);
        !holds) {
        return holds;
    }
    if (Status closed = copy.Close(); !closed) {
        messages.Problem(closed.error().text);
        return closed;
    }
    setup.stationImage = copy.path();
    setup.imageSha256 = read->sha256;
    image = std::move(read->image);
    return {};
}

}  // namespace

Status OpenRecordFile(AppendOnlyFile& file, const std::string& record,
                      const std::vector<std::string>& inputs, PreparationMessages& messages) {
    for (const std::string& input : inputs) {
        std::error_code sameError;
        if (!input.empty() &&
            std::filesystem::equivalent(PathFromUtf8(record), PathFromUtf8(input), sameError)) {
            std::string text = "the record file " + EscapeForTerminal(record, false) +
                               " is the file " + EscapeForTerminal(input, false) + " itself";
            messages.Mistake(text);
            return Fail(ErrorKind::kUsage, std::move(text));
        }
    }
    if (const Status opened = file.Open(record); !opened) {
        std::string text = "the record file " + EscapeForTerminal(record, false) +
                           " cannot be opened (" + opened.error().text + ")";
        messages.Problem(text);
        return Fail(ErrorKind::kUsage, std::move(text));
    }
    return {};
}

Result<HexImageRead> ReadRunImage(const std::string& path, const StopCheck& stop,
                                  const RawBytesSink& copy, PreparationMessages& messages) {
    HexReadResult read = ReadHexFile(path, stop, copy);
    for (const std::string& text : ReaderMessages(read)) {
        messages.ReaderMessage(path, text);
    }
    if (!read) {
        const bool aborted = read.error().kind == HexErrorKind::kAborted;
        return Fail(aborted ? ErrorKind::kAborted : ErrorKind::kInvalidData,
                    aborted ? kAbortedLine : read.error().text);
    }
    return std::move(*read);
}

Status CheckImageHoldsData(const HexImage& image, bool eraseAll, PreparationMessages& messages) {
    if (image.HoldsAnyData() || eraseAll) {
        return {};
    }
    messages.LogLine(DownloadJob::kNoDataLine);
    return Fail(ErrorKind::kInvalidData, DownloadJob::kNoDataLine);
}

Error SaidDatabaseError(Error error, PreparationMessages& messages) {
    error.text = EscapeForTerminal(error.text, false);
    messages.Problem(error.text);
    if (error.kind != ErrorKind::kAborted) {
        error.kind = ErrorKind::kUsage;
    }
    return error;
}

Result<RunDatabase> OpenRunDatabase(const std::string& conninfo, const StopCheck& stop,
                                    PreparationMessages& messages) {
    RunDatabase run;
    run.database = std::make_shared<FactoryDatabase>(conninfo);
    if (const Result<int> opened = run.database->Open(stop); !opened) {
        return Fail(SaidDatabaseError(opened.error(), messages));
    }
    const Result<std::string> folder = SpoolFolder();
    if (!folder) {
        return Fail(SaidDatabaseError(folder.error(), messages));
    }
    run.runId = NewRunId();
    run.rows = std::make_shared<BoardRowStore>(
        *run.database, BoardRowSpool::PathFor(*folder, conninfo), run.runId);
    // Rows an earlier run could not store go in first; those the database still refuses stay.
    if (const Result<std::size_t> left = run.rows->StoreSpooled(stop); !left) {
        messages.Problem("the spool " + EscapeForTerminal(run.rows->spool().path(), false) +
                         " could not be stored (" + EscapeForTerminal(left.error().text, false) +
                         ")");
    }
    return run;
}

std::optional<std::string> RowsLeftInSpool(BoardRowStore& rows, const StopCheck& stop) {
    Result<std::size_t> left = rows.StoreSpooled(stop);
    if (!left) {
        left = rows.spool().Count();
    }
    if (left && *left == 0) {
        return std::nullopt;
    }
    return (left ? std::to_string(*left) + " board rows wait" : std::string("rows may wait")) +
           " in the spool " + EscapeForTerminal(rows.spool().path(), false);
}

Result<std::unique_ptr<SerialSource>> OpenSerialSource(const SerialSourceChoice& choice,
                                                       FactoryDatabase* database,
                                                       SerialCounter::Missing missing,
                                                       PreparationMessages& messages,
                                                       const StopCheck& stop) {
    std::unique_ptr<SerialSource> source;
    if (!choice.databaseCounter.empty()) {
        if (database == nullptr) {
            messages.Problem(kDatabaseCounterNeedsDatabase);
            return Fail(ErrorKind::kUsage, kDatabaseCounterNeedsDatabase);
        }
        // The database keeps its counters: a missing one is made from the start alone.
        source = std::make_unique<DatabaseCounter>(*database, choice.databaseCounter, choice.start);
    } else if (!choice.counterFile.empty()) {
        source = std::make_unique<SerialCounter>(choice.counterFile, choice.start,
                                                 SerialSource::kLockPatience, missing);
    } else {
        source = std::make_unique<SerialList>(choice.listFile);
    }
    const Result<std::uint64_t> check = source->Check(stop);
    if (check) {
        return source;
    }
    Error error = check.error();
    error.text = EscapeForTerminal(error.text, false);
    messages.Problem(error.text);
    // Files that are not there or hold something else than numbers are bad input; numbers used
    // up, a lock kept by another program and a stop request end the run as they are.
    if (error.kind != ErrorKind::kExhausted && error.kind != ErrorKind::kBusy &&
        error.kind != ErrorKind::kAborted) {
        error.kind = ErrorKind::kUsage;
    }
    return Fail(std::move(error));
}

Status PrepareProduction(const ProductionRequest& request, const StopCheck& stop,
                         PreparationMessages& messages, PreparedProduction& into) {
    ProductionSetup& setup = into.m_setup;
    setup = request.values;
    setup.stationImage.clear();
    setup.imageSha256.clear();
    setup.record.reset();
    setup.recordPath.clear();
    setup.serialSource.reset();
    setup.rows.reset();
    setup.runId.clear();
    // The record is part of the result: a file it cannot go to ends the run before the
    // target is touched, instead of after a board whose line would be lost.
    if (!request.record.empty()) {
        auto record = std::make_shared<AppendOnlyFile>();
        if (Status opened =
                OpenRecordFile(*record, request.record,
                               {setup.image.value_or(std::string()), setup.monitorFile}, messages);
            !opened) {
            return opened;
        }
        setup.record = std::move(record);
        setup.recordPath = request.record;
    }
    std::optional<HexImage> image;
    if (setup.image) {
        if (Status read = ReadImageOnce(request, stop, messages, into.m_imageCopy, setup, image);
            !read) {
            return read;
        }
    }
    if (!request.database.empty()) {
        Result<RunDatabase> opened = OpenRunDatabase(request.database, stop, messages);
        if (!opened) {
            return Fail(std::move(opened).error());
        }
        into.m_database = opened->database;
        setup.rows = opened->rows;
        setup.runId = opened->runId;
        if (!setup.record) {
            // The stations' programs write their lines here, and the run reads them back.
            if (Status created = into.m_recordFolder.Create("quillon-rows-"); !created) {
                return Fail(SaidDatabaseError(created.error(), messages));
            }
            auto record = std::make_shared<AppendOnlyFile>();
            const std::string path =
                Utf8FromPath(PathFromUtf8(into.m_recordFolder.path()) / "record.jsonl");
            if (Status opened = record->Open(path); !opened) {
                return Fail(SaidDatabaseError(opened.error(), messages));
            }
            setup.record = std::move(record);
            setup.recordPath = path;
        }
    }
    if (setup.serialPatch && image) {  // boards that are initialized only get no number
        // Every board gets the bytes read: the serial number's place must be free in them.
        if (Status free = setup.serialPatch->CheckImage(*image); !free) {
            messages.Mistake(free.error().text);
            return Fail(ErrorKind::kUsage, std::move(free).error().text);
        }
        Result<std::unique_ptr<SerialSource>> source = OpenSerialSource(
            request.serial, into.m_database.get(), SerialCounter::Missing::kRefuse, messages, stop);
        if (!source) {
            return Fail(std::move(source).error());
        }
        setup.serialSource = std::move(*source);
    }
    return {};
}

}  // namespace quillon
