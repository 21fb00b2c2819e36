#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillon {

class SimServer;
class TempDir;

// quillon-sim in the test's process, set up with its command-line options (plus an erased
// flash, a RAM test report right behind the loader's acknowledge, and 1 ms erases). `link` is the
// path of a link that follows the line across a hang-up, or "none".
class VirtualTarget {
public:
    VirtualTarget(const std::string& monitorFile, std::vector<std::string> args,
                  const std::string& link = "none");
    ~VirtualTarget();
    VirtualTarget(const VirtualTarget&) = delete;
    VirtualTarget& operator=(const VirtualTarget&) = delete;

    bool running() const { return m_server != nullptr; }
    // The line's device path (a path that cannot be opened when the target did not start).
    std::string port() const;
    std::string Report() const;
    // True once the report holds `text`.
    bool WaitForReport(const std::string& text, int timeoutMs) const;
    // After a hang-up the target opens a new line and moves the link; true once it has.
    bool WaitForNewLine(int timeoutMs);
    // The whole flash, byte i at address i (written through a file in `dir`).
    std::vector<std::uint8_t> Flash(const TempDir& dir) const;

private:
    std::unique_ptr<SimServer> m_server;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_lineChanges = 0;
};

}  // namespace quillon
