#include "database/database_counter.h"

namespace quillon {

std::string WaitingForDatabaseText(const Error& error) {
    return "waiting for the database to hand out a serial number: " + error.text;
}

Result<std::uint64_t> DatabaseCounter::Next(bool advance,
                                            const std::function<bool()>& stopRequested,
                                            const SerialClaim& claim) {
    if (advance) {
        return m_database.TakeNumber(m_name, m_start, claim, stopRequested);
    }
    Result<std::optional<std::uint64_t>> next = m_database.PeekCounter(m_name, stopRequested);
    if (!next) {
        return Fail(std::move(next).error());
    }
    if (*next) {
        return **next;
    }
    if (m_start) {
        return *m_start;
    }
    return Fail(ErrorKind::kNotFound, FactoryDatabase::MissingCounterText(m_name));
}

}  // namespace quillon
