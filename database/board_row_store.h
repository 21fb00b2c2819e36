#pragma once

#include <cstddef>
#include <string>

#include "database/board_row_spool.h"
#include "database/factory_database.h"

namespace quillon {

// Where a run's board rows go: into the factory's database, or, while it does not take them,
// into the local spool, from which they are stored once it answers again. A row is lost only
// when neither takes it.
class BoardRowStore {
public:
    BoardRowStore(FactoryDatabase& database, std::string spoolPath, std::string runId)
        : m_database(database), m_spool(std::move(spoolPath)), m_runId(std::move(runId)) {}

    const std::string& runId() const { return m_runId; }
    const BoardRowSpool& spool() const { return m_spool; }

    // What became of a row that was not lost.
    struct Stored {
        bool spooled = false;
        std::string message;  // when spooled: what the operator is told (names the spool)
    };
    // Stores record `line` (one JSON object without its line end); where the database does
    // not take it, keeps it in the spool. An error saying why when it went to neither. Once
    // the database takes a row, the spool's rows follow it.
    [[nodiscard]] Result<Stored> Store(const std::string& line,
                                       const FactoryDatabase::StopRequested& stop);
    // Stores what the spool holds; how many rows are left in it, or why it could not be read.
    [[nodiscard]] Result<std::size_t> StoreSpooled(const FactoryDatabase::StopRequested& stop);

private:
    FactoryDatabase& m_database;
    BoardRowSpool m_spool;
    std::string m_runId;
    bool m_spoolMayHoldRows = true;  // until it was seen empty
};

}  // namespace quillon
