#pragma once

#include <memory>
#include <string>

#include "cli/cli_console.h"
#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "database/board_row_store.h"
#include "database/factory_database.h"
#include "image/hex_image.h"
#include "image/target_folders.h"
#include "platform/append_only_file.h"
#include "serial_numbers/serial_source.h"

namespace quillon {

// What every board of a run of one board shares, made ready before the target is touched: the
// target's monitor file, the record file, the image read once. (A production run's are made
// by PrepareProduction.)
struct RunSetup {
    std::string monitorFile;
    std::string targetName;  // the name the target list shows, for the record
    AppendOnlyFile record;   // open when --record was given
    std::shared_ptr<const HexImage> image;
    std::string imageSha256;  // of every byte of the image file that was read
    // A station's board whose image went bad after the run checked it: it fails with this
    // error, with its line in the record, instead of ending the program without one.
    Status pending;
    // Where the boards' serial numbers come from (--serial-counter, --serial-list); none in a
    // station's program, which gets its number from the run.
    std::unique_ptr<SerialSource> serialSource;

    // With --database: the factory's database, where each board's row goes (or its spool),
    // and this run's id, which its rows and numbers name.
    std::shared_ptr<FactoryDatabase> database;
    std::shared_ptr<BoardRowStore> rows;
    std::string runId;
};

// --database-init: makes the database's tables (or finds them there), says their version, and
// returns the exit status: 0, 2 when the database cannot be used, 130 when stopped.
[[nodiscard]] int InitDatabase(const CliOptions& options, const AbortRequested& abortRequested,
                               CliConsole& console);

// With --database: connects (a bounded wait), makes the tables on first use, refuses a schema
// newer than this program's, and stores the rows an earlier run left in the spool. An error
// (said on stderr) ends the run before any target is touched: of kind kUsage where the
// database cannot be used.
[[nodiscard]] Status OpenDatabase(const CliOptions& options, const AbortRequested& abortRequested,
                                  RunSetup& setup, CliConsole& console);

// The run's exit status once its boards are done: with rows still in the spool (the database
// did not take them even now) the spool is named on stderr and a run that went well ends
// with 1.
[[nodiscard]] int CheckSpoolAtEnd(BoardRowStore* rows, int status);

// A stop for a wait of the database that must not be cut short by a stop that came before it
// (the row of an aborted board still belongs in the database): true once another stop request
// comes after this call, which then ends the wait at once.
FactoryDatabase::StopRequested StopRequestedFromNow();

// Finds the target's monitor file and opens the record file (a production run's record file is
// opened by its preparation). An error (said on stderr) ends the run.
[[nodiscard]] Status ChooseTargetAndRecord(const CliOptions& options,
                                           const TargetFolders& targetFolders, CliConsole& console,
                                           RunSetup& setup);

// Reads the image, unless the run initializes only: a file that is no image is said at once, in
// the file reader's own words, instead of after the whole Initialize; what Start Download
// programs and the digest the record names are those very bytes. A station's program reads
// its run's private copy of the image and refuses it unless its digest is the run's, so that
// every board gets the image the run checked, however the file changes during a shift. An
// error (said) ends the run.
[[nodiscard]] Status ReadImage(const CliOptions& options, CliConsole& console,
                               const AbortRequested& abortRequested, RunSetup& setup);

// With serial numbers: checks that the image leaves their place free (else a usage error; in a
// station's program, whose file may have changed since the run checked it, a failed board) and
// that numbers can be taken from the counter or list, before any target is touched. An error
// (said on stderr) ends the run: of kind kUsage where a file holds what it must not.
// `abortRequested` ends the check's wait for another program's lock or for the database.
[[nodiscard]] Status PrepareSerialNumbers(const CliOptions& options,
                                          const AbortRequested& abortRequested, RunSetup& setup,
                                          CliConsole& console);

}  // namespace quillon
