#include "database/factory_database.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "helpers/text_format.h"
#include "serial_numbers/serial_format.h"

namespace quillon {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often a wait looks at the stop request.
constexpr int kSliceMs = 50;
// The key of the advisory lock under which programs make the tables, one at a time.
// One past the largest serial number: a counter holding it has given every number.
constexpr const char* kCounterEnd = "18446744073709551616";

constexpr const char* kCreateSchema = R"sql(
BEGIN;
SELECT pg_advisory_xact_lock(7309142);
CREATE TABLE IF NOT EXISTS quillon_schema (version integer NOT NULL);
INSERT INTO quillon_schema (version) SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM quillon_schema);
CREATE TABLE IF NOT EXISTS quillon_counter (
    name text PRIMARY KEY,
    next_number numeric(20, 0) NOT NULL
        CHECK (next_number >= 0 AND next_number <= 18446744073709551616)
);
CREATE TABLE IF NOT EXISTS quillon_serial (
    counter text NOT NULL REFERENCES quillon_counter (name),
    number numeric(20, 0) NOT NULL,
    host text NOT NULL,
    port text NOT NULL,
    run_id text NOT NULL,
    board integer NOT NULL,
    taken_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (counter, number)
);
CREATE TABLE IF NOT EXISTS quillon_board (
    run_id text NOT NULL,
    time timestamptz NOT NULL,
    host text NOT NULL,
    port text NOT NULL,
    board integer NOT NULL,
    target text,
    monitor_file text,
    image text,
    image_sha256 text,
    flashed_sha256 text,
    serial_number text,
    serial_at text,
    erase_all boolean,
    result text NOT NULL,
    failure text,
    init_seconds double precision,
    download_seconds double precision,
    line jsonb NOT NULL,
    stored_at timestamptz NOT NULL DEFAULT now(),
    UNIQUE (run_id, port, board)
);
CREATE INDEX IF NOT EXISTS quillon_board_serial_number ON quillon_board (serial_number);
CREATE INDEX IF NOT EXISTS quillon_board_time ON quillon_board (time);
-- Version 2: the download's median answer delay and achieved rate as columns of their own.
-- Rows of version 1 hold them in their line already (null where no block was answered, and
-- where the line is older than they are).
ALTER TABLE quillon_board ADD COLUMN IF NOT EXISTS answer_delay_ms double precision,
    ADD COLUMN IF NOT EXISTS download_bytes_per_second bigint;
UPDATE quillon_board SET
    answer_delay_ms = CASE WHEN jsonb_typeof(line->'answerDelayMs') = 'number'
        THEN (line->'answerDelayMs')::double precision END,
    download_bytes_per_second = CASE WHEN jsonb_typeof(line->'downloadBytesPerSecond') = 'number'
        THEN round((line->'downloadBytesPerSecond')::numeric)::bigint END
WHERE (SELECT max(version) FROM quillon_schema) < 2;
UPDATE quillon_schema SET version = 2 WHERE version < 2;
COMMIT;
)sql";

constexpr const char* kTakeNumber = R"sql(
WITH taken AS (
    UPDATE quillon_counter SET next_number = next_number + 1
    WHERE name = $1 AND next_number < 18446744073709551616
    RETURNING next_number - 1 AS number
)
INSERT INTO quillon_serial (counter, number, host, port, run_id, board)
SELECT $1, number, $2, $3, $4, $5 FROM taken
RETURNING number
)sql";

constexpr const char* kStoreRow = R"sql(
INSERT INTO quillon_board (run_id, time, host, port, board, target, monitor_file, image,
    image_sha256, flashed_sha256, serial_number, serial_at, erase_all, result, failure,
    init_seconds, download_seconds, answer_delay_ms, download_bytes_per_second, line)
SELECT $1, (l->>'time')::timestamptz, l->>'host', l->>'port', (l->>'board')::integer,
    l->>'target', l->>'monitorFile', l->>'image', l->>'imageSha256', l->>'flashedSha256',
    l->>'serialNumber', l->>'serialAt', (l->>'eraseAll')::boolean, l->>'result', l->>'failure',
    (l->>'initSeconds')::double precision, (l->>'downloadSeconds')::double precision,
    (l->>'answerDelayMs')::double precision, (l->>'downloadBytesPerSecond')::bigint, l
FROM (SELECT $2::jsonb AS l) AS given
ON CONFLICT (run_id, port, board) DO NOTHING
)sql";

struct ResultFree {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, ResultFree>;

// libpq's message on one line, without its line end.
std::string OneLine(const char* message) {
    std::string text = message != nullptr ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    std::string line;
    for (const char c : text) {
        if (c == '\t' || c == '\n') {
            if (!line.empty() && line.back() != ' ') {
                line += ' ';
            }
        } else {
            line += c;
        }
    }
    return line;
}

// What a connection string says that this program looks at.
struct ConnectionWords {
    bool holdsPassword = false;
    std::optional<std::chrono::seconds> connectTimeout;
};

// The words of `conninfo`, read by libpq itself; none when it cannot be read. libpq's own
// message is not passed on: it may quote the string, and with it a password.
std::optional<ConnectionWords> ReadConnectionWords(const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    if (error != nullptr) {
        PQfreemem(error);
    }
    if (options == nullptr) {
        return std::nullopt;
    }
    ConnectionWords words;
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (option->val == nullptr || option->val[0] == '\0') {
            continue;
        }
        if (std::strcmp(option->keyword, "password") == 0) {
            words.holdsPassword = true;
        } else if (std::strcmp(option->keyword, "connect_timeout") == 0) {
            if (const auto seconds = DecimalInRange(option->val, 0, 86400); seconds && *seconds) {
                // libpq takes at least 2 seconds, as here.
                words.connectTimeout = std::chrono::seconds(std::max<std::int64_t>(*seconds, 2));
            }
        }
    }
    PQconninfoFree(options);
    return words;
}

enum class Waited { kReady, kStopped, kTimedOut, kFailed };

// Waits until `socket` can be read (or written), `deadline` passes or `stop` says so.
Waited WaitForSocket(int socket, bool forWriting, SteadyClock::time_point deadline,
                     const FactoryDatabase::StopRequested& stop) {
    for (;;) {
        if (stop && stop()) {
            return Waited::kStopped;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) {
            return Waited::kTimedOut;
        }
        pollfd watched{socket, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
        const int ready =
            poll(&watched, 1, static_cast<int>(std::min<std::int64_t>(left.count(), kSliceMs)));
        if (ready > 0) {
            return Waited::kReady;
        }
        if (ready < 0 && errno != EINTR) {
            return Waited::kFailed;
        }
    }
}

}  // namespace

struct FactoryDatabase::Impl {
    std::string conninfo;
    std::chrono::seconds patience = kDefaultPatience;
    PGconn* connection = nullptr;

    ~Impl() { Drop(); }

    void Drop() {
        if (connection != nullptr) {
            PQfinish(connection);
            connection = nullptr;
        }
    }

    // The connection is gone: an error of kind kIo saying why (libpq's words), the connection
    // dropped so that the next statement connects anew.
    Unexpected<Error> Lost(const std::string& what) {
        const std::string why = connection != nullptr ? OneLine(PQerrorMessage(connection)) : "";
        Drop();
        return Fail(ErrorKind::kIo, what + (why.empty() ? std::string() : " (" + why + ")"));
    }

    Unexpected<Error> Waiting(Waited waited, const std::string& what) {
        if (waited == Waited::kFailed) {
            return Lost(what);
        }
        Drop();
        if (waited == Waited::kStopped) {
            return Fail(ErrorKind::kAborted, "stopped while waiting for the database");
        }
        return Fail(ErrorKind::kTimeout, "the database did not answer within " +
                                             std::to_string(patience.count()) + " s");
    }

    Status Connect(const StopRequested& stop) {
        if (connection != nullptr && PQstatus(connection) == CONNECTION_OK) {
            return {};
        }
        Drop();
        const char* keys[] = {"dbname", "fallback_application_name", nullptr};
        const char* values[] = {conninfo.c_str(), "quillon-cli", nullptr};
        connection = PQconnectStartParams(keys, values, 1);
        if (connection == nullptr) {
            return Fail(ErrorKind::kOutOfMemory, "no memory for a database connection");
        }
        const char* kCannotConnect = "the database cannot be reached";
        if (PQstatus(connection) == CONNECTION_BAD) {
            return Lost(kCannotConnect);
        }
        const auto deadline = SteadyClock::now() + patience;
        PostgresPollingStatusType polled = PGRES_POLLING_WRITING;
        while (polled != PGRES_POLLING_OK) {
            if (polled == PGRES_POLLING_FAILED) {
                return Lost(kCannotConnect);
            }
            const Waited waited = WaitForSocket(PQsocket(connection),
                                                polled == PGRES_POLLING_WRITING, deadline, stop);
            if (waited != Waited::kReady) {
                return Waiting(waited, kCannotConnect);
            }
            polled = PQconnectPoll(connection);
        }
        if (PQsetnonblocking(connection, 1) != 0) {
            return Lost(kCannotConnect);
        }
        return {};
    }

    // Sends `sql` (with `params`, or several statements without any) and waits for its
    // results: the last one, or the first error. A connection that was found lost when it
    // was used again (the server restarted, or ended it) is made anew once and the statement
    // sent again: every statement here may be repeated (a take then skips a number, a row is
    // kept once).
    Result<PgResult> Execute(const char* sql, const std::vector<std::string>& params,
                             const StopRequested& stop) {
        const bool wasConnected = connection != nullptr;
        Result<PgResult> result = ExecuteOnce(sql, params, stop);
        if (!result && result.error().kind == ErrorKind::kIo && wasConnected) {
            result = ExecuteOnce(sql, params, stop);
        }
        return result;
    }

    Result<PgResult> ExecuteOnce(const char* sql, const std::vector<std::string>& params,
                                 const StopRequested& stop) {
        if (Status connected = Connect(stop); !connected) {
            return Fail(std::move(connected).error());
        }
        const char* kLost = "the connection to the database was lost";
        std::vector<const char*> values;
        for (const std::string& param : params) {
            values.push_back(param.c_str());
        }
        const int sent = params.empty()
                             ? PQsendQuery(connection, sql)
                             : PQsendQueryParams(connection, sql, static_cast<int>(values.size()),
                                                 nullptr, values.data(), nullptr, nullptr, 0);
        if (sent == 0) {
            return Lost(kLost);
        }
        const auto deadline = SteadyClock::now() + patience;
        for (int flushed = PQflush(connection); flushed != 0; flushed = PQflush(connection)) {
            if (flushed < 0) {
                return Lost(kLost);
            }
            if (const Waited waited = WaitForSocket(PQsocket(connection), true, deadline, stop);
                waited != Waited::kReady) {
                return Waiting(waited, kLost);
            }
        }
        PgResult last;
        std::optional<Error> refused;
        for (;;) {
            while (PQisBusy(connection) != 0) {
                if (const Waited waited =
                        WaitForSocket(PQsocket(connection), false, deadline, stop);
                    waited != Waited::kReady) {
                    // Unanswered: the connection goes, and the server ends the statement.
                    return Waiting(waited, kLost);
                }
                if (PQconsumeInput(connection) == 0) {
                    return Lost(kLost);
                }
            }
            PgResult result(PQgetResult(connection));
            if (!result) {
                break;
            }
            const ExecStatusType status = PQresultStatus(result.get());
            if (status == PGRES_FATAL_ERROR && !refused) {
                const char* state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
                const std::string code = state != nullptr ? state : "";
                // A connection the server ended (shut down, or a terminated backend) is lost;
                // anything else is the statement's refusal.
                const bool gone = code.rfind("08", 0) == 0 || code.rfind("57P", 0) == 0;
                refused = Error{gone ? ErrorKind::kIo : ErrorKind::kFailed,
                                std::string(gone ? kLost : "the database refused a statement") +
                                    " (" + OneLine(PQresultErrorMessage(result.get())) + ")"};
            }
            last = std::move(result);
        }
        if (PQstatus(connection) != CONNECTION_OK) {
            return Lost(kLost);
        }
        if (refused) {
            if (refused->kind == ErrorKind::kIo) {
                Drop();
            }
            return Fail(std::move(*refused));
        }
        return last;
    }

    // The number in column 0 of row 0.
    static Result<std::uint64_t> NumberOf(const PGresult* result) {
        const std::optional<std::uint64_t> number = ParseSerialValue(PQgetvalue(result, 0, 0));
        if (!number) {
            return Fail(ErrorKind::kInvalidData, "the database gave no number");
        }
        return *number;
    }
};

Status FactoryDatabase::CheckConnectionString(const std::string& conninfo) {
    const std::optional<ConnectionWords> words = ReadConnectionWords(conninfo);
    if (!words) {
        return Fail(ErrorKind::kUsage,
                    "--database needs a connection string (postgresql://HOST/DATABASE or "
                    "key=value words) that can be read");
    }
    if (words->holdsPassword) {
        return Fail(ErrorKind::kUsage,
                    "--database must not hold a password: put it into the password file "
                    "(~/.pgpass, or the file PGPASSFILE names) or a service file (PGSERVICEFILE)");
    }
    return {};
}

bool FactoryDatabase::Available() {
    return true;
}

FactoryDatabase::FactoryDatabase(std::string conninfo) : m_impl(std::make_unique<Impl>()) {
    if (const std::optional<ConnectionWords> words = ReadConnectionWords(conninfo);
        words && words->connectTimeout) {
        m_impl->patience = *words->connectTimeout;
    }
    m_impl->conninfo = std::move(conninfo);
}

FactoryDatabase::~FactoryDatabase() = default;

Result<int> FactoryDatabase::Open(const StopRequested& stop) {
    // The version table is looked for first: a statement naming a table that is not there
    // fails as a whole.
    Result<PgResult> found =
        m_impl->Execute("SELECT to_regclass('quillon_schema') IS NOT NULL", {}, stop);
    if (!found) {
        return Fail(std::move(found).error());
    }
    if (std::string(PQgetvalue(found->get(), 0, 0)) == "t") {
        found = m_impl->Execute("SELECT coalesce(max(version), 0) FROM quillon_schema", {}, stop);
        if (!found) {
            return Fail(std::move(found).error());
        }
    }
    const std::string text = PQgetvalue(found->get(), 0, 0);
    const std::optional<std::int64_t> version =
        text == "f" ? std::optional<std::int64_t>(0) : DecimalInRange(text, 0, 1000000);
    if (!version) {
        return Fail(ErrorKind::kInvalidData, "the database's schema version cannot be read");
    }
    if (*version > kSchemaVersion) {
        return Fail(ErrorKind::kUnsupported,
                    "the database's tables are of schema version " + std::to_string(*version) +
                        ", newer than this program's " + std::to_string(kSchemaVersion) +
                        ": use a newer quillon-cli");
    }
    if (*version == kSchemaVersion) {
        return static_cast<int>(*version);
    }
    if (Result<PgResult> made = m_impl->Execute(kCreateSchema, {}, stop); !made) {
        return Fail(std::move(made).error());
    }
    return kSchemaVersion;
}

Result<std::optional<std::uint64_t>> FactoryDatabase::PeekCounter(const std::string& name,
                                                                  const StopRequested& stop) {
    Result<PgResult> found =
        m_impl->Execute("SELECT next_number FROM quillon_counter WHERE name = $1", {name}, stop);
    if (!found) {
        return Fail(std::move(found).error());
    }
    if (PQntuples(found->get()) == 0) {
        return std::optional<std::uint64_t>();
    }
    if (std::string(PQgetvalue(found->get(), 0, 0)) == kCounterEnd) {
        return Fail(ErrorKind::kExhausted, "the database counter " + name + " is at its end");
    }
    Result<std::uint64_t> number = Impl::NumberOf(found->get());
    if (!number) {
        return Fail(std::move(number).error());
    }
    return std::optional<std::uint64_t>(*number);
}

Result<std::uint64_t> FactoryDatabase::TakeNumber(const std::string& name,
                                                  std::optional<std::uint64_t> start,
                                                  const SerialClaim& claim,
                                                  const StopRequested& stop) {
    // A counter that is not there yet is made, once, by whichever program comes first.
    for (int attempt = 0; attempt < 3; ++attempt) {
        Result<PgResult> taken = m_impl->Execute(
            kTakeNumber, {name, claim.host, claim.port, claim.runId, std::to_string(claim.board)},
            stop);
        if (!taken) {
            return Fail(std::move(taken).error());
        }
        if (PQntuples(taken->get()) == 1) {
            return Impl::NumberOf(taken->get());
        }
        // No row advanced: the counter is at its end, or not there.
        Result<std::optional<std::uint64_t>> peeked = PeekCounter(name, stop);
        if (!peeked) {
            return Fail(std::move(peeked).error());
        }
        if (*peeked) {
            continue;  // made meanwhile by another program: taken from now on
        }
        if (!start) {
            break;
        }
        Result<PgResult> made = m_impl->Execute(
            "INSERT INTO quillon_counter (name, next_number) VALUES ($1, $2) "
            "ON CONFLICT (name) DO NOTHING",
            {name, std::to_string(*start)}, stop);
        if (!made) {
            return Fail(std::move(made).error());
        }
    }
    return Fail(ErrorKind::kNotFound, MissingCounterText(name));
}

Status FactoryDatabase::StoreBoardRow(const std::string& runId, const std::string& line,
                                      const StopRequested& stop) {
    Result<PgResult> stored = m_impl->Execute(kStoreRow, {runId, line}, stop);
    if (!stored) {
        return Fail(std::move(stored).error());
    }
    return {};
}

}  // namespace quillon
