// quillon-cli on network ports: through a real ser2net to a quillon-sim pseudo-terminal, and
// against servers that fail it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

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
        EXPECT_NE(result.out.find("No response from target"), std::string::npos) << result.out;
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

    const std::string raw = "socket://" + url.substr(std::string("rfc2217://").size());
    const ProcessResult twice = Cli({"-p", url + "," + raw, image});
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_NE(twice.err.find("are the same device"), std::string::npos) << twice.err;
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
