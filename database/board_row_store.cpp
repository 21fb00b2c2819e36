#include "database/board_row_store.h"

namespace quillon {

Result<BoardRowStore::Stored> BoardRowStore::Store(const std::string& line,
                                                   const FactoryDatabase::StopRequested& stop) {
    const Status stored = m_database.StoreBoardRow(m_runId, line, stop);
    if (stored) {
        if (m_spoolMayHoldRows) {
            // The database answers again: what waited goes in after it. Rows that still do
            // not go stay where they are, and are tried again after the next row.
            (void)StoreSpooled(stop);
        }
        return Stored{};
    }
    const std::string why = stored.error().text;
    if (const Status kept = m_spool.Keep(m_runId, line); !kept) {
        return Fail(ErrorKind::kIo, "the board's row could not be stored in the database (" + why +
                                        ") nor kept in the spool " + m_spool.path() + " (" +
                                        kept.error().text + ")");
    }
    m_spoolMayHoldRows = true;
    return Stored{true, "the board's row could not be stored in the database (" + why +
                            "): it waits in the spool " + m_spool.path()};
}

Result<std::size_t> BoardRowStore::StoreSpooled(const FactoryDatabase::StopRequested& stop) {
    Result<std::size_t> left = m_spool.StoreInto(m_database, stop);
    if (left && *left == 0) {
        m_spoolMayHoldRows = false;
    }
    return left;
}

}  // namespace quillon
