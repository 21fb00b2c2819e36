#pragma once

#include <cstddef>
#include <string>

#include "database/factory_database.h"
#include "helpers/result.h"

namespace quillon {

// The board rows that could not be stored in the factory's database, kept in a local file
// (JSON Lines, one {"runId": ..., "record": LINE} per row) until the database answers again.
// Every program that keeps or stores rows takes the file's lock (FILE.lock) first, so two runs
// at once never lose each other's rows; a row leaves the file only once the database holds it.
class BoardRowSpool {
public:
    explicit BoardRowSpool(std::string path) : m_path(std::move(path)) {}

    // The spool for the database `conninfo` in the user's data folder (`dataFolder`, made
    // if need be): one file per database, so a row never goes to another one.
    static std::string PathFor(const std::string& dataFolder, const std::string& conninfo);

    const std::string& path() const { return m_path; }

    // Keeps record `line` (without its line end) of run `runId`, on the disk when this
    // returns; an error saying why when it could not be written.
    [[nodiscard]] Status Keep(const std::string& runId, const std::string& line);
    // Stores the rows it holds in `database`, in their order, and leaves only those that are
    // not stored yet; how many those are, or why the file could not be read or rewritten.
    // The first row the database does not take ends the attempt.
    [[nodiscard]] Result<std::size_t> StoreInto(FactoryDatabase& database,
                                                const FactoryDatabase::StopRequested& stop);
    // How many rows it holds (0 when there is no file).
    [[nodiscard]] Result<std::size_t> Count() const;

private:
    std::string m_path;
};

}  // namespace quillon
