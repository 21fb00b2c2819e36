#pragma once

#include <optional>
#include <string>

#include "database/factory_database.h"
#include "serial_numbers/serial_source.h"

namespace quillon {

// What a station or a run says while it waits for the database to hand out a number.
std::string WaitingForDatabaseText(const Error& error);

// Serial numbers from a counter in the factory's database, shared by every station of the
// line: each take is one committed transaction that advances the counter and names its taker
// (see FactoryDatabase::TakeNumber). A take that failed because the server went away or did
// not answer is worth trying again.
class DatabaseCounter : public SerialSource {
public:
    // `start`: the first number of a counter that does not exist yet, which the first take
    // makes.
    DatabaseCounter(FactoryDatabase& database, std::string name, std::optional<std::uint64_t> start)
        : m_database(database), m_name(std::move(name)), m_start(start) {}

    bool WorthRetrying(const Error& error) const override {
        return error.kind == ErrorKind::kIo || error.kind == ErrorKind::kTimeout;
    }

private:
    [[nodiscard]] Result<std::uint64_t> Next(bool advance,
                                             const std::function<bool()>& stopRequested,
                                             const SerialClaim& claim) override;

    FactoryDatabase& m_database;
    std::string m_name;
    std::optional<std::uint64_t> m_start;
};

}  // namespace quillon
