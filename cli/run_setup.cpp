#include "cli/run_setup.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/target_choice.h"
#include "helpers/text_format.h"
#include "image/hex_reader.h"
#include "link/download_job.h"
#include "platform/utf8_path.h"
#include "serial_numbers/serial_counter.h"
#include "serial_numbers/serial_list.h"

namespace quillon {

int ChooseTargetAndRecord(const CliOptions& options, const TargetFolders& targetFolders,
                          CliConsole& console, RunSetup& setup) {
    std::string error;
    setup.monitorFile = options.monitorFile;
    if (!options.target.empty()) {
        MonitorFileEntry found;
        if (!ResolveTarget(ListTargets(targetFolders, console), options.target, found, error)) {
            return UsageError(error);
        }
        setup.monitorFile = found.path;
        setup.targetName = found.displayName;
    }
    // The record is part of the result: a file it cannot go to ends the run before the target
    // is touched, instead of after a board whose line would be lost.
    if (options.record.empty()) {
        return kExitSuccess;
    }
    // Appending lines to the image or the monitor file would spoil it for every later board.
    for (const std::string& input : {options.image, setup.monitorFile}) {
        std::error_code sameError;
        if (!input.empty() && std::filesystem::equivalent(PathFromUtf8(options.record),
                                                          PathFromUtf8(input), sameError)) {
            return UsageError("the record file " + EscapeForTerminal(options.record, false) +
                              " is the file " + EscapeForTerminal(input, false) + " itself");
        }
    }
    if (!setup.record.Open(options.record, error)) {
        std::fprintf(stderr, "quillon-cli: the record file %s cannot be opened (%s)\n",
                     EscapeForTerminal(options.record, false).c_str(), error.c_str());
        return kExitUsage;
    }
    if (setup.targetName.empty()) {
        // --monitor: the name the target list shows, read quietly; Initialize reads the file
        // again and says what is wrong with it there.
        setup.targetName = MonitorFileDisplayName(setup.monitorFile);
    }
    return kExitSuccess;
}

int ReadImage(const CliOptions& options, CliConsole& console, const AbortRequested& abortRequested,
              RunSetup& setup) {
    if (options.image.empty() || options.initOnly) {
        return kExitSuccess;
    }
    HexReadResult read = ReadHexFile(options.image, abortRequested);
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
    if (status == kExitSuccess) {
        setup.imageSha256 = read.sha256;
        setup.image = std::make_shared<const HexImage>(std::move(read.image));
        return kExitSuccess;
    }
    if (options.stationBoard == 0) {
        return status;
    }
    setup.pendingStatus = status;
    setup.pendingFailure = failure;
    return kExitSuccess;
}

int PrepareSerialNumbers(const CliOptions& options, RunSetup& setup) {
    const CliOptions::Serial& serial = options.serial;
    if (!serial.patch || !setup.image) {
        return kExitSuccess;  // no numbers, or a station's board that fails already
    }
    const std::string refusal = serial.patch->CheckImage(*setup.image);
    if (!refusal.empty() && options.stationBoard != 0) {
        setup.pendingStatus = kExitJobFailed;
        setup.pendingFailure = refusal;
        return kExitSuccess;
    }
    if (!refusal.empty()) {
        return UsageError(refusal);
    }
    if (serial.stationNumber) {
        return kExitSuccess;
    }
    if (!serial.counter.empty()) {
        // A production run never makes its counter: an empty folder where a share is not
        // mounted would let it start the numbers anew.
        setup.serialSource = std::make_unique<SerialCounter>(
            serial.counter, serial.start, SerialSource::kLockPatience,
            options.RunsStations() ? SerialCounter::Missing::kRefuse
                                   : SerialCounter::Missing::kCreate);
    } else {
        setup.serialSource = std::make_unique<SerialList>(serial.list);
    }
    const SerialTake check = setup.serialSource->Check();
    if (check.ok()) {
        return kExitSuccess;
    }
    std::fprintf(stderr, "quillon-cli: %s\n", EscapeForTerminal(check.text, false).c_str());
    switch (check.error) {
        case SerialTakeError::kUsedUp:
        case SerialTakeError::kLocked:
            return kExitJobFailed;
        case SerialTakeError::kStopped:
            return kExitAborted;
        default:
            // Files that are not there or hold something else than numbers: bad input.
            return kExitUsage;
    }
}

}  // namespace quillon
