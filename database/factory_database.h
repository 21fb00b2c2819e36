#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "helpers/result.h"
#include "serial_numbers/serial_source.h"

namespace quillon {

// The factory's database (PostgreSQL), shared by every station of a line: its counters hand
// out serial numbers, and each board's record line becomes a row. One connection, made when
// first needed and made again after it was lost; every wait (the connection, a statement) is
// bounded and ends early when `stop` says so (then the statement is cancelled on the server).
//
// Errors by kind: kUsage, the connection string cannot be used (it holds a password, or does
// not parse); kUnsupported, this build has no database, or the database's schema is newer
// than this program's; kIo, the server cannot be reached or the connection was lost (worth
// trying again); kTimeout, no answer in time (also worth trying again); kNotFound, a counter
// that does not exist; kExhausted, a counter at its end; kAborted, the stop came; kFailed,
// the server refused a statement (its own words follow).
class FactoryDatabase {
public:
    // The version of the tables this program reads and writes.
    static constexpr int kSchemaVersion = 2;
    // How long a connection or a statement may take when the connection string does not say
    // (connect_timeout).
    static constexpr std::chrono::seconds kDefaultPatience{10};

    using StopRequested = std::function<bool()>;

    // Whether `conninfo` (a URI or key=value words) can be used by this program: an error of
    // kind kUsage when it does not parse or holds a password, kUnsupported in a build without
    // the database.
    [[nodiscard]] static Status CheckConnectionString(const std::string& conninfo);
    // True in a build that has the database.
    static bool Available();
    // Why a take finds no counter `name`.
    static std::string MissingCounterText(const std::string& name) {
        return "the database has no counter " + name + " (--serial-start N makes it)";
    }

    explicit FactoryDatabase(std::string conninfo);
    ~FactoryDatabase();
    FactoryDatabase(const FactoryDatabase&) = delete;
    FactoryDatabase& operator=(const FactoryDatabase&) = delete;

    // Connects and makes the tables where there are none yet, or brings those of an older
    // version up to this one (several programs may do this at once); the schema's version, or
    // why the database cannot be used.
    [[nodiscard]] Result<int> Open(const StopRequested& stop);
    // The number the counter `name` would give now; none when it does not exist.
    [[nodiscard]] Result<std::optional<std::uint64_t>> PeekCounter(const std::string& name,
                                                                   const StopRequested& stop);
    // Takes the next number of counter `name` in one transaction, committed before this
    // returns: the counter is advanced and a row names `claim` as its taker, under a unique
    // key on (counter, number). `start` makes a counter that does not exist yet.
    [[nodiscard]] Result<std::uint64_t> TakeNumber(const std::string& name,
                                                   std::optional<std::uint64_t> start,
                                                   const SerialClaim& claim,
                                                   const StopRequested& stop);
    // Stores a board's record `line` (one JSON object, without its line end) of run `runId`;
    // a row of the same run, port and board that is there already is kept as it is, so a
    // repeat after a lost answer never doubles a row.
    [[nodiscard]] Status StoreBoardRow(const std::string& runId, const std::string& line,
                                       const StopRequested& stop);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quillon
