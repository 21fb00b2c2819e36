#include "tests/support/virtual_target.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "sim/sim_command_line.h"
#include "sim/sim_monitor_file.h"
#include "sim/sim_server.h"
#include "tests/support/test_files.h"

namespace quillon {

VirtualTarget::VirtualTarget(const std::string& monitorFile, std::vector<std::string> args,
                             const std::string& link) {
    args.insert(args.end(), {"--monitor", monitorFile, "--link", link, "--blank-flash",
                             "--ram-test-ms", "0", "--erase-ms", "1"});
    const Result<SimCommandLine> line = ParseSimCommandLine(args);
    if (!line) {
        ADD_FAILURE() << "options: " << line.error().text;
        return;
    }
    Result<SimMonitorFile> file = LoadSimMonitorFile(monitorFile);
    if (!file) {
        ADD_FAILURE() << "monitor file: " << file.error().text;
        return;
    }
    m_server = std::make_unique<SimServer>(std::move(*file), line->settings, line->server);
    m_server->onLineChanged = [this](const std::string&) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_lineChanges;
        m_changed.notify_all();
    };
    if (const Status opened = m_server->Open(); !opened) {
        ADD_FAILURE() << "line: " << opened.error().text;
        m_server.reset();
        return;
    }
    m_thread = std::thread([this] { m_server->Run(); });
}

VirtualTarget::~VirtualTarget() {
    if (m_server) {
        m_server->Stop();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string VirtualTarget::port() const {
    return m_server ? m_server->slavePath() : "/dev/quillon-none";
}

std::string VirtualTarget::Report() const {
    return m_server ? m_server->ReportJson() : std::string();
}

bool VirtualTarget::WaitForReport(const std::string& text, int timeoutMs) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Report().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool VirtualTarget::WaitForNewLine(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_lineChanges > 0; });
}

std::vector<std::uint8_t> VirtualTarget::Flash(const TempDir& dir) const {
    const std::string path = (dir.path() / "flash.bin").string();
    const Status dumped =
        m_server ? m_server->WriteDump(path) : Status(Fail(ErrorKind::kFailed, "no target"));
    EXPECT_TRUE(dumped) << (dumped ? "" : dumped.error().text);
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace quillon
