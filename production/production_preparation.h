#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/board_row_store.h"
#include "database/factory_database.h"
#include "helpers/result.h"
#include "image/hex_reader.h"
#include "platform/append_only_file.h"
#include "platform/private_folder.h"
#include "production/preparation_messages.h"
#include "production/production_setup.h"
#include "production/station_image_copy.h"
#include "serial_numbers/serial_counter.h"
#include "serial_numbers/serial_source.h"

namespace quillon {

// Where a run's serial numbers come from: a counter file, a list file or a counter of the
// factory's database (the first one named).
struct SerialSourceChoice {
    std::string counterFile;
    std::string listFile;
    std::string databaseCounter;
    // Where a counter that does not exist yet begins (a database counter; a counter file only
    // where it may be made).
    std::optional<std::uint64_t> start;
};

// A production run as asked for, before anything is made ready: quillon-cli's options or the
// production view's settings, as values.
struct ProductionRequest {
    // The run's values that are taken as they are: the station program, the target, the
    // line's settings, the stations, the repeat mode, the serial numbers' patch and texts, the
    // host, the operator. `image` names the image file (none: the boards are initialized
    // only); the preparation adds the image's copy and digest, the record, the serial numbers'
    // source and the database's rows.
    ProductionSetup values;
    // The record file; none: no record (a run with the database then keeps one of its own to
    // read its stations' lines from).
    std::string record;
    // With a serial patch in `values`: where the numbers come from.
    SerialSourceChoice serial;
    // The factory database's connection string; empty: none.
    std::string database;
};

// The factory's database of a run: the connection, the store each board's row goes to (or
// its spool) and the run's id, which the rows and the numbers name.
struct RunDatabase {
    std::shared_ptr<FactoryDatabase> database;
    std::shared_ptr<BoardRowStore> rows;
    std::string runId;
};

// What a prepared production run holds for as long as it runs: its values, and what they
// point to (the record file, the image's private copy, the serial numbers' source, the
// database). It must outlive the run's engine.
class PreparedProduction {
public:
    PreparedProduction() = default;
    PreparedProduction(const PreparedProduction&) = delete;
    PreparedProduction& operator=(const PreparedProduction&) = delete;

    // The run's values, ready once PrepareProduction succeeded.
    const ProductionSetup& setup() const { return m_setup; }
    // The database's row store; none without the database.
    BoardRowStore* rows() const { return m_setup.rows.get(); }

private:
    friend Status PrepareProduction(const ProductionRequest&, const StopCheck&,
                                    PreparationMessages&, PreparedProduction&);

    // The database goes last: the serial source and the row store use it.
    std::shared_ptr<FactoryDatabase> m_database;
    StationImageCopy m_imageCopy;
    PrivateFolder m_recordFolder;
    ProductionSetup m_setup;
};

// Makes the run `request` asks for ready in `into` before any target is touched, in this
// order: the record file opened (refused where it is the image or the monitor file), the
// image read once into the run's private copy (its digest taken, an image without data
// refused unless the whole flash is erased), the factory database opened (its spool stored),
// the serial numbers' place checked against the image and their source checked. What goes
// wrong is said through `messages` and ends the preparation with its error: of kind kUsage
// where what was asked cannot be used (the record file, the database, a file of numbers),
// kAborted when `stop` ended a wait, else the error's own.
[[nodiscard]] Status PrepareProduction(const ProductionRequest& request, const StopCheck& stop,
                                       PreparationMessages& messages, PreparedProduction& into);

// Why serial numbers from a database counter cannot be had without the factory database.
inline constexpr const char* kDatabaseCounterNeedsDatabase =
    "a database counter needs the factory database";

// The steps that a run of one board shares with a production run.

// Opens the record file `record` for appending, refused where it is one of `inputs` (lines
// appended to the image or the monitor file would spoil it for every later board). An error
// of kind kUsage (said).
[[nodiscard]] Status OpenRecordFile(AppendOnlyFile& file, const std::string& record,
                                    const std::vector<std::string>& inputs,
                                    PreparationMessages& messages);

// Reads the image `path` (its raw bytes to `copy`, when given), saying the reader's notes
// and error. An error of kind kInvalidData, or kAborted when `stop` ended the read.
[[nodiscard]] Result<HexImageRead> ReadRunImage(const std::string& path, const StopCheck& stop,
                                                const RawBytesSink& copy,
                                                PreparationMessages& messages);

// An image without data is refused (kInvalidData, said) unless the whole flash is erased.
[[nodiscard]] Status CheckImageHoldsData(const HexImage& image, bool eraseAll,
                                         PreparationMessages& messages);

// Connects to the factory database `conninfo` (a bounded wait that `stop` ends), makes its
// tables on first use, refuses a schema newer than this program's, gives the run a new id and
// stores the rows an earlier run left in the spool (those it still refuses stay, said). An
// error of kind kUsage where the database cannot be used, kAborted when stopped (said).
[[nodiscard]] Result<RunDatabase> OpenRunDatabase(const std::string& conninfo,
                                                  const StopCheck& stop,
                                                  PreparationMessages& messages);

// Says why the factory database cannot be used; the error to end the run with: of kind
// kUsage, unless a stop ended the wait (kAborted).
[[nodiscard]] Error SaidDatabaseError(Error error, PreparationMessages& messages);

// After a run with the database: a last try to store the rows left in its spool (bounded by
// the database's patience; `stop` ends it), and what is still left there ("3 board rows wait
// in the spool PATH"), or nothing when no row is.
[[nodiscard]] std::optional<std::string> RowsLeftInSpool(BoardRowStore& rows,
                                                         const StopCheck& stop);

// The source `choice` names, checked: a counter file (made where missing only when `missing`
// says so: a production run never makes one, as an empty folder where a share is not mounted
// would start the numbers anew), a list file or the counter of `database`; `stop` ends the
// check's wait for another program's lock or for the database. An error (said): numbers used
// up, a lock another program keeps or a stop end the run as they are; anything else is of kind
// kUsage (files that are not there or hold something else than numbers).
[[nodiscard]] Result<std::unique_ptr<SerialSource>> OpenSerialSource(
    const SerialSourceChoice& choice, FactoryDatabase* database, SerialCounter::Missing missing,
    PreparationMessages& messages, const StopCheck& stop = {});

}  // namespace quillon
