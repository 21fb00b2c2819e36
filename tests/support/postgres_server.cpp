#include "tests/support/postgres_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tests/support/process.h"

namespace quillon {

namespace {

// The unprivileged user a root test runs the server as.
constexpr const char* kServerUser = "nobody";

}  // namespace

std::optional<std::string> PostgresServer::ProgramFolder() {
    const std::filesystem::path root = "/usr/lib/postgresql";
    std::error_code error;
    std::optional<std::string> newest;
    for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
        const std::filesystem::path bin = entry.path() / "bin";
        if (std::filesystem::exists(bin / "pg_ctl") && std::filesystem::exists(bin / "initdb") &&
            (!newest || bin.string() > *newest)) {
            newest = bin.string();
        }
    }
    return newest;
}

bool PostgresServer::MayBeMissing() {
    const char* allowed = std::getenv("QUILLON_TEST_WITHOUT_POSTGRES");
    return allowed != nullptr && std::string(allowed) == "1";
}

PostgresServer::PostgresServer(Setup setup) : m_setup(setup) {
    const std::optional<std::string> programs = ProgramFolder();
    if (!programs) {
        m_failure = "no PostgreSQL server programs under /usr/lib/postgresql (package postgresql)";
        return;
    }
    m_programs = *programs;
    m_data = (m_dir.path() / "data").string();
    if (geteuid() == 0) {
        const passwd* user = getpwnam(kServerUser);
        if (user == nullptr || chown(m_dir.path().c_str(), user->pw_uid, user->pw_gid) != 0) {
            m_failure = std::string("cannot hand the server's folder to ") + kServerUser;
            return;
        }
    }
    if (!RunAsServerUser({m_programs + "/initdb", "-D", m_data, "-U", "quillon", "-A", "trust",
                          "--no-sync", "-E", "UTF8"})) {
        m_failure = "initdb failed";
        return;
    }
    std::ofstream hba(m_data + "/pg_hba.conf", std::ios::trunc);
    hba << "local all guarded scram-sha-256\nlocal all all trust\nhost all all 127.0.0.1/32 "
           "trust\n";
    if (m_setup.loopback) {
        // A free port: the system's pick for a socket of our own, given back just before.
        const int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(probe, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
        close(probe);
    }
    hba.close();
    if (!Start()) {
        m_failure = "the server did not start";
        return;
    }
    if (!Sql("CREATE ROLE guarded LOGIN PASSWORD 'R1ghtPw'; GRANT ALL ON SCHEMA public TO "
             "guarded")) {
        m_failure = "the role with a password could not be made";
    }
}

PostgresServer::~PostgresServer() {
    if (!m_data.empty() && std::filesystem::exists(m_data + "/postmaster.pid")) {
        StopHard();
    }
}

bool PostgresServer::RunAsServerUser(const std::vector<std::string>& argv) {
    std::vector<std::string> command = argv;
    if (geteuid() == 0) {
        command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid", kServerUser, "--regid",
                                         "nogroup", "--clear-groups", "--"});
    }
    ProcessOptions options;
    options.timeoutMs = 60000;
    options.environment = {{"LC_ALL", "C"}};
    ProcessResult result;
    try {
        result = RunProcess(command, options);
    } catch (const std::exception& error) {
        result.err = error.what();
    }
    if (result.exitCode != 0) {
        m_failure = result.err;
    }
    return result.exitCode == 0;
}

bool PostgresServer::Start() {
    const std::string socketFolder = m_dir.path().string();
    const std::string listen = m_setup.loopback ? "127.0.0.1" : "";
    m_started = RunAsServerUser({m_programs + "/pg_ctl", "start", "-w", "-D", m_data, "-l",
                                 (m_dir.path() / "server.log").string(), "-o",
                                 "-k " + socketFolder + " -p " + std::to_string(m_port) +
                                     " -c listen_addresses='" + listen +
                                     "' -c fsync=" + (m_setup.syncToDisk ? "on" : "off") +
                                     " -c max_connections=60"});
    return m_started;
}

void PostgresServer::StopHard() {
    (void)RunAsServerUser({m_programs + "/pg_ctl", "stop", "-w", "-m", "immediate", "-D", m_data});
    m_started = false;
}

std::string PostgresServer::ConnInfo(const std::string& user) const {
    const std::string host = m_setup.loopback ? "127.0.0.1" : m_dir.path().string();
    return "host=" + host + " port=" + std::to_string(m_port) + " dbname=postgres user=" + user +
           " connect_timeout=5";
}

std::optional<std::string> PostgresServer::Sql(const std::string& sql) const {
    ProcessOptions options;
    options.timeoutMs = 30000;
    const ProcessResult result = RunProcess({m_programs + "/psql", "-X", "-q", "-v",
                                             "ON_ERROR_STOP=1", "-At", "-d", ConnInfo(), "-c", sql},
                                            options);
    if (result.exitCode != 0) {
        return std::nullopt;
    }
    return result.out;
}

int PostgresServer::TerminateConnections() {
    const std::optional<std::string> ended =
        Sql("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
            "WHERE application_name = 'quillon-cli'");
    return ended ? std::atoi(ended->c_str()) : 0;
}

}  // namespace quillon
