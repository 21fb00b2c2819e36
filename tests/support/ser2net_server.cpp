#include "tests/support/ser2net_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quillon {

std::uint16_t FreeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("no free TCP port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool TcpPortListens(std::uint16_t port) {
    // Read from the kernel's socket table, without connecting: a connection would make the
    // server open its device, and a second connection soon after could find the first one's
    // device still open, each reading part of the answers.
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) {
            return true;
        }
    }
    return false;
}

Ser2netServer::Ser2netServer(const std::string& device)
    : m_rfc2217(FreeTcpPort()), m_raw(FreeTcpPort()) {
    // Each byte goes on at once (no waiting for more characters, no Nagle delay), as a fixture
    // that flashes through it would be set up.
    std::string config;
    const auto connection = [&](const std::string& name, const std::string& accepter) {
        config += "connection: &" + name + "\n  accepter: " + accepter +
                  "\n  connector: serialdev," + device +
                  ",9600n81,local\n  options:\n    kickolduser: true\n    chardelay: false\n";
    };
    connection("rfc2217", "telnet(rfc2217),tcp(nodelay),127.0.0.1," + std::to_string(m_rfc2217));
    connection("raw", "tcp(nodelay),127.0.0.1," + std::to_string(m_raw));
    const std::string file = m_dir.Write("ser2net.yaml", config);
    const std::string pidFile = (m_dir.path() / "ser2net.pid").string();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::execlp("ser2net", "ser2net", "-n", "-u", "-c", file.c_str(), "-P", pidFile.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Ready once both ports listen.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(TcpPortListens(m_rfc2217) && TcpPortListens(m_raw))) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("ser2net ended at once (is it installed?)");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("ser2net did not listen within 10 s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Ser2netServer::~Ser2netServer() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void Ser2netServer::Kill() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

}  // namespace quillon
