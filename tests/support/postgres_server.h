#pragma once

#include <optional>
#include <string>

#include "tests/support/test_files.h"

namespace quillon {

// A PostgreSQL server of the system's package, made by the test in a folder of its own and
// reached on a Unix socket there (no TCP port), run as an unprivileged user when the test runs
// as root (the server refuses root). Local connections of user "quillon" are trusted; those of
// "guarded" need the password "R1ghtPw". Stopped (hard) when the object ends, also when the
// test failed.
class PostgresServer {
public:
    // Where the server's programs are; none when the package is not installed.
    static std::optional<std::string> ProgramFolder();
    // True when tests may be skipped for want of the server (QUILLON_TEST_WITHOUT_POSTGRES=1,
    // for a developer's machine); else a missing server fails them.
    static bool MayBeMissing();

    // How the server runs: the tests' (no flush to the disk, Unix socket only), or as a line's
    // server would (each commit flushed), also on a free port of 127.0.0.1.
    struct Setup {
        bool syncToDisk = false;
        bool loopback = false;
    };
    // Makes the cluster and starts it; `started()` says whether it did.
    explicit PostgresServer(Setup setup = Setup{false, false});
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool started() const { return m_started; }
    const std::string& failure() const { return m_failure; }
    // The connection string of database "postgres" as `user` (over 127.0.0.1 when the server
    // listens there).
    std::string ConnInfo(const std::string& user = "quillon") const;

    // Starts the server again (after StopHard); true when it runs.
    bool Start();
    // Stops it at once (pg_ctl stop -m immediate), as a crash would.
    void StopHard();
    // Ends every connection of quillon-cli (pg_terminate_backend); how many were ended.
    int TerminateConnections();
    // Runs `sql` with psql; its output (unaligned, tuples only), or none when it failed.
    std::optional<std::string> Sql(const std::string& sql) const;

private:
    // Runs a server program as the server's user; true when it succeeded.
    bool RunAsServerUser(const std::vector<std::string>& argv);

    TempDir m_dir;
    std::string m_programs;
    std::string m_data;
    Setup m_setup;
    int m_port = 5432;  // on 127.0.0.1 with `loopback`; else only the socket file's name
    bool m_started = false;
    std::string m_failure;
};

}  // namespace quillon
