// How the jobs' line (TargetLine over a SerialChannel) waits, over a pseudo-terminal, against a
// busy-polling baseline measured in the same run (the plain loop: ask for the queued count again
// and again; between polls of a multi-byte wait sleep 1 ms):
//   (a) CPU time of the waiting thread while a wait runs 2 s on a silent port;
//   (b) median round trip of a 1-byte echo, and the waiting thread's CPU per echo.
// Usage: link_wait [ECHOES]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "helpers/text_format.h"
#include "link/job_events.h"
#include "link/serial_channel.h"
#include "link/target_line.h"
#include "platform/clock.h"

using namespace quillon;

namespace {

using WallClock = std::chrono::steady_clock;

double ThreadCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        int keep = -1;
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &keep, name, &raw, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        close(keep);
        slave = name;
    }
    ~Pty() { close(master); }
};

// Echoes every byte back from the master side until stopped.
class EchoPeer {
public:
    explicit EchoPeer(int fd) : m_fd(fd), m_thread([this] { Run(); }) {}
    ~EchoPeer() {
        m_stop = true;
        m_thread.join();
    }

private:
    void Run() {
        std::uint8_t buffer[256];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                const ssize_t n = read(m_fd, buffer, sizeof buffer);
                if (n > 0) {
                    (void)!write(m_fd, buffer, static_cast<std::size_t>(n));
                }
            }
        }
    }
    int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The baseline: the literal polling loop on a descriptor of its own.
class BusyPollingPort {
public:
    explicit BusyPollingPort(const std::string& path) {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        tio.c_cc[VMIN] = 1;
        tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~BusyPollingPort() { close(m_fd); }
    void Write(std::uint8_t byte) { (void)!write(m_fd, &byte, 1); }
    bool Wait(std::uint32_t timeoutMs, int count) {
        const auto end = WallClock::now() + std::chrono::milliseconds(timeoutMs);
        while (WallClock::now() < end) {
            int queued = 0;
            ioctl(m_fd, FIONREAD, &queued);
            if (queued >= count) {
                (void)!read(m_fd, m_buffer, static_cast<std::size_t>(count));
                return true;
            }
            if (count > 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return false;
    }

private:
    int m_fd = -1;
    std::uint8_t m_buffer[1024];
};

// A job's events that go nowhere: the waits only report the bytes of a partial answer.
class SilentEvents : public JobEventSink {
public:
    void OnJobEvent(const JobEvent&) override {}
};

// The pseudo-terminal's slave as a job opens it, 115200 baud; exits when it cannot.
std::unique_ptr<ByteChannel> OpenLine(const std::string& port) {
    OpenedChannel opened = OpenSerialChannel({port, BaudRate{115200}});
    if (opened.status != OpenedChannel::Status::kOpened) {
        std::fprintf(stderr, "cannot open %s: %s\n", port.c_str(), opened.reason.c_str());
        std::exit(1);
    }
    return std::move(opened.channel);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    // Fewer than 11 (or no number) takes 11.
    const int echoes = argc > 1 ? static_cast<int>(std::max<std::int64_t>(
                                      11, DecimalInRange(argv[1], 0, 1000000000).value_or(0)))
                                : 2000;
    SteadyClock clock;
    SilentEvents events;

    std::printf("(a) CPU time of the waiting thread during a 2 s wait on a silent port\n");
    for (int count : {1, 7}) {
        Pty pty;
        double base = 0;
        {
            BusyPollingPort baseline(pty.slave);
            const double before = ThreadCpuMs();
            baseline.Wait(2000, count);
            base = ThreadCpuMs() - before;
        }
        const std::unique_ptr<ByteChannel> channel = OpenLine(pty.slave);
        TargetLine line(*channel, clock, events);
        const double before = ThreadCpuMs();
        // The port is silent: the wait runs out, which is what is measured.
        static_cast<void>(line.WaitForResponse(2000, static_cast<std::size_t>(count), true));
        const double ours = ThreadCpuMs() - before;
        std::printf("    %d byte%s: quillon %.2f ms CPU, busy polling %.1f ms CPU (%.0fx less)\n",
                    count, count == 1 ? " " : "s", ours, base, base / std::max(ours, 0.01));
    }

    std::printf("(b) median round trip of a 1-byte echo, %d echoes each\n", echoes);
    Pty pty;
    EchoPeer peer(pty.master);
    std::vector<double> ours;
    std::vector<double> base;
    double baseCpu = 0;
    {
        BusyPollingPort baseline(pty.slave);
        const double before = ThreadCpuMs();
        for (int i = 0; i < echoes; ++i) {
            const auto t0 = WallClock::now();
            baseline.Write(static_cast<std::uint8_t>(i));
            baseline.Wait(1000, 1);
            base.push_back(
                std::chrono::duration<double, std::micro>(WallClock::now() - t0).count());
        }
        baseCpu = ThreadCpuMs() - before;
    }
    const std::unique_ptr<ByteChannel> channel = OpenLine(pty.slave);
    TargetLine line(*channel, clock, events);
    const double before = ThreadCpuMs();
    for (int i = 0; i < echoes; ++i) {
        const std::uint8_t byte = static_cast<std::uint8_t>(i);
        const auto t0 = WallClock::now();
        if (const Status written = line.WriteBytes(&byte, 1); !written) {
            std::fprintf(stderr, "link_wait: the line was lost (%s)\n",
                         written.error().text.c_str());
            return 1;
        }
        if (!line.WaitForResponse(1000, 1, true)) {
            std::fprintf(stderr, "link_wait: echo %d did not come back\n", i);
            return 1;
        }
        ours.push_back(std::chrono::duration<double, std::micro>(WallClock::now() - t0).count());
    }
    const double ourCpu = ThreadCpuMs() - before;
    const double mo = Median(ours);
    const double mb = Median(base);
    std::printf("    quillon %.1f us, busy polling %.1f us (ratio quillon/baseline %.2f)\n", mo, mb,
                mo / mb);
    std::printf("    CPU of the waiting thread per echo: quillon %.1f us, busy polling %.1f us\n",
                1000 * ourCpu / echoes, 1000 * baseCpu / echoes);
    return 0;
}
