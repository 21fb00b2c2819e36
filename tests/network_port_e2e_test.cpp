// quillon-cli on network ports: through a real ser2net to a quillon-sim pseudo-terminal, and
// against servers that fail it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "link/network_channel.h"
#include "ports/port_address.h"
#include "tests/support/hex_text.h"
#include "tests/support/process.h"
#include "tests/support/ser2net_server.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

const std::string kBin = QUILLON_BIN_DIR;
const std::string kCli = kBin + "/quillon-cli";
const std::string kSim = kBin + "/quillon-sim";

// A virtual target behind ser2net; its flash is dumped when it ends.
class ServedTarget {
public:
    explicit ServedTarget(std::vector<std::string> faults = {}) {
        std::vector<std::string> argv = {kSim,     "--link",        "none", "--baud",
                                         "115200", "--ram-test-ms", "0",    "--erase-ms",
                                         "1",      "--dump",        Dump(), "--blank-flash"};
        argv.insert(argv.end(), faults.begin(), faults.end());
        m_sim = std::make_unique<BackgroundProcess>(argv);
        m_device = m_sim->ReadLine();
        m_server = std::make_unique<Ser2netServer>(m_device);
    }
    Ser2netServer& server() { return *m_server; }
    const std::string& device() const { return m_device; }
    std::string Dump() const { return (m_dir.path() / "flash.bin").string(); }
    // Ends the target; its flash from `address` on, `count` bytes.
    std::string Flash(std::size_t address, std::size_t count) {
        m_server.reset();
        m_sim->Stop();
        std::ifstream in(Dump(), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(address));
        std::string bytes(count, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(count));
        return bytes;
    }

private:
    TempDir m_dir;
    std::unique_ptr<BackgroundProcess> m_sim;
    std::string m_device;
    std::unique_ptr<Ser2netServer> m_server;
};

ProcessResult Cli(const std::vector<std::string>& args, const ProcessOptions& options = {}) {
    std::vector<std::string> argv = {kCli, "-t", "Virtual Target"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, options);
}

// Data rich in 0xFF (a third of it), so that doubling on the way out is exercised in the
// blocks, their lengths and their CRC bytes.
std::vector<std::uint8_t> FfRichData(std::size_t count) {
    std::vector<std::uint8_t> data = hex_text::Pattern(count, 7);
    for (std::size_t i = 0; i < count; i += 3) {
        data[i] = 0xFF;
    }
    return data;
}

std::string ImageText(const std::vector<std::uint8_t>& data) {
    std::string text;
    for (std::size_t at = 0; at < data.size(); at += 16) {
        text +=
            hex_text::Data(static_cast<std::uint16_t>(at),
                           std::vector<std::uint8_t>(data.begin() + static_cast<long>(at),
                                                     data.begin() + static_cast<long>(at + 16)));
    }
    return text + hex_text::End();
}

TEST(NetworkPortTest, DownloadThroughSer2netInBothForms) {
    TempDir dir;
    const std::vector<std::uint8_t> data = FfRichData(4096);
    const std::string image = dir.Write("ff.hex", ImageText(data));
    for (const bool rfc2217 : {true, false}) {
        SCOPED_TRACE(rfc2217 ? "rfc2217" : "socket");
        ServedTarget target;
        const std::string url = rfc2217 ? target.server().Rfc2217Url() : target.server().RawUrl();
        // The baud rate the job asked for reached the device: read while the job runs (once
        // the session ends, the virtual target makes a new line with its own settings).
        speed_t deviceSpeed = 0;
        ProcessOptions options;
        options.onOutput = [&](const std::string& out, int) {
            if (deviceSpeed == 0 && out.find("Monitor started!") != std::string::npos) {
                const int fd = ::open(target.device().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
                termios settings{};
                deviceSpeed =
                    fd >= 0 && ::tcgetattr(fd, &settings) == 0 ? ::cfgetospeed(&settings) : B0;
                ::close(fd);
            }
        };
        const ProcessResult result =
            Cli({"-p", url, "-b", rfc2217 ? "57600" : "115200", image}, options);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_EQ(result.out.rfind(url + " initialized.\n", 0), 0u) << result.out;
        EXPECT_NE(result.out.find("Download finished successfully!\n"), std::string::npos);
        if (rfc2217) {
            EXPECT_EQ(deviceSpeed, B57600);
        } else {
            EXPECT_NE(result.out.find("line settings are the server's"), std::string::npos)
                << result.out;
        }
        EXPECT_EQ(target.Flash(0, data.size()), std::string(data.begin(), data.end()));
    }
}

TEST(NetworkPortTest, FaultsAbortsAndLostConnections) {
    TempDir dir;
    const std::string image = dir.Write("ff.hex", ImageText(FfRichData(16384)));
    {
        SCOPED_TRACE("a CRC error answered through the server");
        ServedTarget target({"--crc-error-at", "block@3"});
        const ProcessResult result = Cli({"-p", target.server().Rfc2217Url(), image});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.out.find("Wrong CRC!\n"), std::string::npos) << result.out;
    }
    {
        SCOPED_TRACE("an abort while a block's answer is awaited");
        ServedTarget target({"--silent-from", "block@5"});
        ProcessOptions options;
        bool interrupted = false;  // once: a second Ctrl+C would end the program at once
        options.onOutput = [&interrupted](const std::string& out, int pid) {
            if (!interrupted && out.find("Programming sector") != std::string::npos) {
                interrupted = true;
                ::kill(pid, SIGINT);
            }
        };
        const ProcessResult result = Cli({"-p", target.server().Rfc2217Url(), image}, options);
        EXPECT_EQ(result.exitCode, 130) << result.out;
        EXPECT_NE(result.out.find("Aborted by user!\n"), std::string::npos) << result.out;
    }
    {
        SCOPED_TRACE("the server killed during the download");
        ServedTarget target;
        std::atomic<bool> killed{false};
        ProcessOptions options;
        options.onOutput = [&](const std::string& out, int) {
            if (!killed && out.find("Programming sector") != std::string::npos) {
                killed = true;
                target.server().Kill();
            }
        };
        const ProcessResult result = Cli({"-p", target.server().Rfc2217Url(), image}, options);
        EXPECT_TRUE(killed);
        EXPECT_EQ(result.exitCode, 1) << result.out;
        // The next block goes to a connection that has ended.
        EXPECT_NE(result.out.find(target.server().Rfc2217Url() + ": the line was lost ("),
                  std::string::npos)
            << result.out;
    }
}

// A production run with a network station beside a local one: both flash, the record names
// the network port by its URL; two names of one server port are one device.
TEST(NetworkPortTest, ProductionStationsMixLocalAndNetworkPorts) {
    TempDir dir;
    const std::string image = dir.Write("ff.hex", ImageText(FfRichData(2048)));
    ServedTarget served;
    BackgroundProcess local({kSim, "--link", "none", "--ram-test-ms", "0", "--erase-ms", "1"});
    const std::string localPort = local.ReadLine();
    const std::string url = served.server().Rfc2217Url();
    const std::string record = (dir.path() / "line.jsonl").string();
    const ProcessResult result = Cli({"-p", url + "," + localPort, "--record", record, image});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    std::ifstream in(record);
    const std::string lines((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(lines.find("\"port\": \"" + url + "\""), std::string::npos) << lines;
    EXPECT_NE(lines.find("\"port\": \"" + localPort + "\""), std::string::npos) << lines;

    // Other names of that server's port, by protocol, by host name or by another spelling of
    // its address, are refused before any board starts.
    const std::string port = url.substr(url.rfind(':'));
    for (const std::string& other :
         {"socket://127.0.0.1" + port, "rfc2217://localhost" + port, "rfc2217://127.1" + port,
          "rfc2217://[::ffff:127.0.0.1]" + port}) {
        SCOPED_TRACE(other);
        const ProcessResult twice = Cli({"-p", url + "," + other, image});
        EXPECT_EQ(twice.exitCode, 2);
        EXPECT_NE(twice.err.find("are the same device"), std::string::npos) << twice.err;
    }
}

// A name server that takes every query and never answers, on a loopback address of its own,
// for programs run in a mount namespace whose /etc/resolv.conf names it.
class SwallowingNameServer {
public:
    static constexpr const char* kAddress = "127.53.53.53";

    SwallowingNameServer() {
        m_conf = m_dir.Write("resolv.conf", std::string("nameserver ") + kAddress + "\n");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        ::inet_pton(AF_INET, kAddress, &address.sin_addr);
        m_udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        m_tcp = ::socket(AF_INET, SOCK_STREAM, 0);
        const auto* at = reinterpret_cast<const sockaddr*>(&address);
        if (::bind(m_udp, at, sizeof address) != 0 || ::bind(m_tcp, at, sizeof address) != 0 ||
            ::listen(m_tcp, 16) != 0) {
            m_unusable =
                std::string("cannot listen on ") + kAddress + ":53 (" + std::strerror(errno) + ")";
            return;
        }
        // The namespace: a bind mount over resolv.conf in a mount namespace of its own.
        try {
            const ProcessResult probe = RunProcess(Wrapped({"/bin/true"}));
            if (probe.exitCode != 0) {
                m_unusable =
                    "cannot make a mount namespace with a resolv.conf of its own: " + probe.err;
            }
        } catch (const std::exception& error) {
            m_unusable = error.what();
        }
    }
    ~SwallowingNameServer() {
        ::close(m_udp);
        ::close(m_tcp);
    }
    // Why no program can be pointed at it here; empty when one can.
    const std::string& unusable() const { return m_unusable; }
    // `argv` run in the namespace.
    std::vector<std::string> Wrapped(const std::vector<std::string>& argv) const {
        std::vector<std::string> wrapped = {"/usr/bin/unshare", "-m",      "--propagation",
                                            "private",          "/bin/sh", "-c"};
        wrapped.push_back("mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"");
        wrapped.push_back(m_conf);
        wrapped.insert(wrapped.end(), argv.begin(), argv.end());
        return wrapped;
    }
    // Waits for a query (reading it, never answering); false when none came in `timeoutMs`.
    bool TakeQuery(int timeoutMs) {
        pollfd waiting{m_udp, POLLIN, 0};
        char query[512];
        return ::poll(&waiting, 1, timeoutMs) > 0 && ::recv(m_udp, query, sizeof query, 0) > 0;
    }
    // Reads every query that came, so that the next wait sees only new ones.
    void Drain() {
        char query[512];
        while (::recv(m_udp, query, sizeof query, 0) > 0) {
        }
    }

private:
    TempDir m_dir;
    std::string m_conf;
    int m_udp = -1;
    int m_tcp = -1;
    std::string m_unusable;
};

// A host whose name server never answers: the opening ends at the connect limit with the
// reason, and a stop ends it at once.
TEST(NetworkPortTest, NameLookupEndsAtTheConnectLimitOrOnAStop) {
    SwallowingNameServer dns;
    if (!dns.unusable().empty()) {
        GTEST_SKIP() << "no name server that never answers: " << dns.unusable();
    }
    const std::string port = "rfc2217://host.example:7001";
    const std::vector<std::string> argv = {kCli, "-t", "Virtual Target", "--init-only", "-p", port};
    const ProcessResult timedOut = RunProcess(dns.Wrapped(argv));
    EXPECT_EQ(timedOut.exitCode, 1);
    EXPECT_EQ(timedOut.out, "Unable to open COM port!\n");
    EXPECT_EQ(timedOut.err, "quillon-cli: " + port + ": name look-up timed out\n");

    dns.Drain();
    BackgroundProcess stopped(dns.Wrapped(argv));
    ASSERT_TRUE(dns.TakeQuery(10000));
    EXPECT_EQ(stopped.Stop(), 130);  // SIGTERM, as Ctrl+C
    EXPECT_EQ(stopped.ReadLine(), "Unable to open COM port!");
    EXPECT_EQ(stopped.ReadLine(), "Aborted by user!");
}

// A Telnet server that takes one connection and answers each request of the client's opening
// with the bytes given for it, once the request has come whole: the opening by the COM port
// option offered, the line settings by RTS asked on (their last command).
class ScriptedTelnetServer {
public:
    using Bytes = std::vector<std::uint8_t>;
    static inline const Bytes kOpening = {255, 251, 44};
    static inline const Bytes kLineSettings = {255, 250, 44, 5, 11, 255, 240};

    explicit ScriptedTelnetServer(std::vector<std::pair<Bytes, Bytes>> steps)
        : m_port(FreeTcpPort()), m_steps(std::move(steps)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(m_port);
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 1) != 0) {
            ADD_FAILURE() << "cannot listen on " << m_port;
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedTelnetServer() {
        m_ending = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
    // How many requests have come (and been answered).
    int Answered() const { return m_answered; }

private:
    void Serve() {
        const int client = ::accept(m_listener, nullptr, nullptr);
        Bytes received;
        std::size_t searchFrom = 0;
        while (client >= 0 && !m_ending) {
            pollfd waiting{client, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0) {
                continue;
            }
            std::uint8_t chunk[512];
            const ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
            if (got <= 0) {
                break;
            }
            received.insert(received.end(), chunk, chunk + got);
            while (m_answered < static_cast<int>(m_steps.size())) {
                const auto& [request, answer] = m_steps[static_cast<std::size_t>(m_answered)];
                const auto found = std::search(received.begin() + static_cast<long>(searchFrom),
                                               received.end(), request.begin(), request.end());
                if (found == received.end()) {
                    break;
                }
                searchFrom = static_cast<std::size_t>(found - received.begin()) + request.size();
                ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
                ++m_answered;
            }
        }
        if (client >= 0) {
            ::close(client);
        }
    }

    std::uint16_t m_port;
    std::vector<std::pair<Bytes, Bytes>> m_steps;
    int m_listener = -1;
    std::atomic<int> m_answered{0};
    std::atomic<bool> m_ending{false};
    std::thread m_thread;
};

// The opening of an RFC 2217 port: each way a server fails it is named, and a stop ends each
// of its waits (for the answer to the COM port option, for the line settings' confirmation).
TEST(NetworkPortTest, OpeningRfc2217PortsThatFailOrAreStopped) {
    using Bytes = ScriptedTelnetServer::Bytes;
    const Bytes accepted = {255, 251, 0, 255, 253, 0, 255, 253, 44};
    // The server's confirmation of the line settings: baud rate, data size, parity, stop size.
    const auto confirm = [](std::uint32_t baud, std::uint8_t data, std::uint8_t parity,
                            std::uint8_t stop) {
        Bytes out;
        const auto sub = [&out](std::uint8_t command, const Bytes& value) {
            out.insert(out.end(), {255, 250, 44, command});
            out.insert(out.end(), value.begin(), value.end());
            out.insert(out.end(), {255, 240});
        };
        sub(101, {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                  static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)});
        sub(102, {data});
        sub(103, {parity});
        sub(104, {stop});
        return out;
    };
    const Bytes& opening = ScriptedTelnetServer::kOpening;
    const Bytes& line = ScriptedTelnetServer::kLineSettings;
    const std::tuple<const char*, std::vector<std::pair<Bytes, Bytes>>, int, std::string> rows[] = {
        // server's answers, the stop once this many requests were answered (0: none): reason
        {"never confirms",
         {{opening, accepted}},
         0,
         "the server did not confirm the line settings within 2 s"},
        {"sets another baud rate",
         {{opening, accepted}, {line, confirm(9600, 8, 1, 1)}},
         0,
         "the server set 9600 baud, asked 115200"},
        {"sets another framing",
         {{opening, accepted}, {line, confirm(115200, 7, 3, 2)}},
         0,
         "the server set 7 data bits, asked 8; set even parity, asked none; set 2 stop bits, "
         "asked 1"},
        {"refuses binary mode",
         {{opening, {255, 254, 0, 255, 253, 44}}},
         0,
         "the server refused binary mode"},
        {"stopped while the COM port option is awaited", {{opening, {}}}, 1, "aborted"},
        {"stopped while the line settings are awaited",
         {{opening, accepted}, {line, {}}},
         2,
         "aborted"},
    };
    for (const auto& [name, steps, stopAfter, reason] : rows) {
        SCOPED_TRACE(name);
        ScriptedTelnetServer server(steps);
        const std::function<bool()> stop = [&server, stopAfter = stopAfter] {
            return stopAfter > 0 && server.Answered() >= stopAfter;
        };
        const OpenedChannel opened =
            OpenNetworkChannel(*ParsePortAddress(server.Url()), {server.Url(), {115200}}, stop);
        EXPECT_EQ(opened.status, OpenedChannel::Status::kCannotOpen);
        EXPECT_EQ(opened.reason, reason);
    }
}

// A TCP server that takes connections and never says a word, or (`flood`) answers its first one
// with Telnet NOPs without end, until that connection goes.
class MuteServer {
public:
    explicit MuteServer(bool flood = false) : m_port(FreeTcpPort()) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(m_port);
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_fd, 4) != 0) {
            ADD_FAILURE() << "cannot listen on " << m_port;
        }
        if (flood) {
            m_flood = std::thread([this] {
                const int client = ::accept(m_fd, nullptr, nullptr);
                std::string nops(4096, '\0');
                for (std::size_t i = 0; i < nops.size(); i += 2) {
                    nops[i] = '\xFF';
                    nops[i + 1] = '\xF1';
                }
                while (client >= 0 && ::send(client, nops.data(), nops.size(), MSG_NOSIGNAL) > 0) {
                }
                if (client >= 0) {
                    ::close(client);
                }
            });
        }
    }
    ~MuteServer() {
        ::shutdown(m_fd, SHUT_RDWR);  // an accept that still waits returns
        if (m_flood.joinable()) {
            m_flood.join();
        }
        ::close(m_fd);
    }
    std::uint16_t port() const { return m_port; }

private:
    std::uint16_t m_port;
    int m_fd = -1;
    std::thread m_flood;
};

TEST(NetworkPortTest, PortsThatCannotBeUsed) {
    MuteServer mute;
    MuteServer flooding(true);
    const std::string nobody = "rfc2217://127.0.0.1:" + std::to_string(FreeTcpPort());
    const std::string silent = "rfc2217://127.0.0.1:" + std::to_string(mute.port());
    const std::tuple<std::string, int, std::string, std::string> rows[] = {
        // port: status, stdout, stderr
        {nobody, 1, "Unable to open COM port!\n",
         "quillon-cli: " + nobody + ": connection refused\n"},
        {silent, 1, "Unable to open COM port!\n",
         "quillon-cli: " + silent + ": the server does not speak RFC 2217\n"},
        // A server that sends commands without end must not keep the negotiation's wait going.
        {"rfc2217://127.0.0.1:" + std::to_string(flooding.port()), 1, "Unable to open COM port!\n",
         "quillon-cli: rfc2217://127.0.0.1:" + std::to_string(flooding.port()) +
             ": the server does not speak RFC 2217\n"},
        {"rfc2217://host", 2, "", "quillon-cli: malformed network port name 'rfc2217://host'"},
    };
    for (const auto& [port, status, out, err] : rows) {
        SCOPED_TRACE(port);
        const ProcessResult result = Cli({"-p", port, "--init-only"});
        EXPECT_EQ(result.exitCode, status);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err.rfind(err, 0), 0u) << result.err;
    }
}

}  // namespace
