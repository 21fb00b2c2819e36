// Runs the production line in the Qt production window, one board per station on the ports
// given, and measures what the window costs while its boards program:
//
//   production_window BIN_DIR IMAGE RECORD BAUD PORT...
//
// BIN_DIR holds quillon-cli (the stations' program) and the Targets folder; the target is
// "Virtual Target". The window runs on Qt's offscreen platform unless QT_QPA_PLATFORM names
// another; it paints into its backing store there as on a screen. The run starts with a click
// on Start and ends when the window's controller has taken the run's end. Printed:
//
//   boards 8, ok 8
//   run 9.874 s
//   window CPU 0.201 s, 2.04% of a core; GUI thread 0.148 s
//   Start 29.6 ms, the GUI thread working 8.8 ms of it, waiting for a core 18.2 ms
//   longest gap between probe ticks 14.3 ms, 4.210 s into the run, the GUI thread working
//     0.4 ms of it, waiting for a core 9.0 ms (a tick every 5 ms, 1950 ticks)
//   longest work between probe ticks 3.0 ms
//   probe alone 0.82% of a core
//   GUI thread took 1873 run events, 326 repaints
//
// (the longest gap's line is one line). Window CPU is the user and system time of this
// process over the run (the GUI thread and the run's own threads; the station programs are
// processes of their own, not counted). The probe is a timer on the GUI thread: the longest
// gap between its ticks is the longest time the GUI thread did not get back to its event
// loop, the probe's own period included; the scheduler's account of the thread tells the
// time it worked in a gap from the time it waited for a core. "probe alone" is what the probe
// costs the idle window, measured for a second before Start. Exit status 0 when every board
// is "ok", 1 otherwise, 2 when the run did not start or end.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/production_window.h"
#include "production/port_check.h"
#include "tests/support/memory_store.h"
#include "window/engine_production_runner.h"

using namespace quillon;

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kProbeMs = 5;
constexpr std::chrono::seconds kIdle{1};
constexpr std::chrono::seconds kLongestRun{600};

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The calling thread's time on a core and its time runnable but waiting for one, from the
// scheduler's account of it (/proc/thread-self/schedstat, in nanoseconds).
class ThreadTimes {
public:
    ThreadTimes() : m_file(open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {}
    ~ThreadTimes() {
        if (m_file >= 0) {
            close(m_file);
        }
    }
    ThreadTimes(const ThreadTimes&) = delete;
    ThreadTimes& operator=(const ThreadTimes&) = delete;

    [[nodiscard]] bool Usable() { return m_file >= 0 && Read(); }
    // Reads the account; false when it cannot be read.
    [[nodiscard]] bool Read() {
        char text[128];
        const ssize_t size = pread(m_file, text, sizeof text - 1, 0);
        if (size <= 0) {
            return false;
        }
        text[size] = '\0';
        unsigned long long running = 0, waiting = 0;
        if (std::sscanf(text, "%llu %llu", &running, &waiting) != 2) {
            return false;
        }
        m_runningMs = running / 1e6;
        m_waitingMs = waiting / 1e6;
        return true;
    }
    double RunningMs() const { return m_runningMs; }
    double WaitingMs() const { return m_waitingMs; }

private:
    int m_file;
    double m_runningMs = 0;
    double m_waitingMs = 0;
};

double Milliseconds(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s BIN_DIR IMAGE RECORD BAUD PORT...\n", argv[0]);
        return 2;
    }
    const std::string bin = argv[1];
    std::string stations;
    for (int index = 5; index < argc; ++index) {
        stations += std::string(index == 5 ? "" : "\n") + argv[index];
    }
    MemoryStore store;
    store.values = {{"Production/Target", "Virtual Target"}, {"Production/Image", argv[2]},
                    {"Production/Record", argv[3]},          {"Production/Baudrate", argv[4]},
                    {"Production/Stations", stations},       {"Production/Repeat", "once"}};

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ProductionSources sources;
    sources.targetFolders = FindTargetFolders(bin);
    sources.enumeratePorts = [](std::vector<PortEntry>&) { return Status(); };
    sources.sameDevice = [](const std::vector<std::string>& ports) { return SameDevice(ports); };
    QtProductionWindow window(store, std::move(sources), [&bin](ProductionEvents& events) {
        return std::make_unique<EngineProductionRunner>(
            events, SystemEnv::Default(), bin + "/quillon-cli", FindTargetFolders(bin));
    });
    window.show();

    // What the GUI thread is given to do: the run's events, which reach the window as queued
    // calls, and the window's repaints.
    struct EventCount : QObject {
        long calls = 0;
        long repaints = 0;
        bool eventFilter(QObject* object, QEvent* event) override {
            if (event->type() == QEvent::MetaCall) {
                ++calls;
            } else if (event->type() == QEvent::UpdateRequest && object->isWidgetType()) {
                ++repaints;
            }
            return false;
        }
    } counts;
    app.installEventFilter(&counts);

    // The probe ticks on the GUI thread. For its first second it ticks alone (what the probe
    // itself costs the idle window); then a tick clicks Start, and the gap to the next tick is
    // what Start takes (the run's preparation, the tiles made, laid out and painted). From
    // there on the longest gap counts, until the first tick after the run's end, which ends
    // the event loop. A message box the window raises (a refused start) ends it too.
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    enum class Stage { kIdle, kStarting, kRunning } stage = Stage::kIdle;
    Steady::time_point idleStart = Steady::now(), start, last = idleStart, end, longestAt;
    Steady::duration longest{}, startGap{};
    // The GUI thread's time on a core and waiting for one in each gap: a gap it spent
    // working is the window's stall, one it spent waiting for a core is the machine's, and
    // the rest of a gap it slept (blocked, or in its event loop with nothing to do).
    ThreadTimes times;
    if (!times.Usable()) {
        std::fprintf(stderr, "the scheduler's account of the GUI thread cannot be read\n");
        return 2;
    }
    double lastRunning = times.RunningMs(), lastWaiting = times.WaitingMs();
    double longestWork = 0, workInLongest = 0, waitInLongest = 0, startWork = 0, startWait = 0;
    long ticks = 0;
    const double idleCpuStart = CpuSeconds(RUSAGE_THREAD);
    double idleCpu = 0, cpuStart = 0, guiCpuStart = 0, cpu = 0, guiCpu = 0;
    long callsStart = 0, repaintsStart = 0;
    int status = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const Steady::time_point now = Steady::now();
        const Steady::duration gap = now - last;
        if (!times.Read()) {
            std::fprintf(stderr, "the scheduler's account of the GUI thread cannot be read\n");
            status = 2;
            app.exit();
            return;
        }
        const double work = times.RunningMs() - lastRunning;
        const double wait = times.WaitingMs() - lastWaiting;
        last = now;
        lastRunning = times.RunningMs();
        lastWaiting = times.WaitingMs();
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != &window) {
            const auto* box = qobject_cast<QMessageBox*>(modal);
            std::fprintf(stderr, "the window shows: %s\n",
                         box ? box->text().toStdString().c_str() : "a dialog");
            status = 2;
            app.exit();
            return;
        }
        switch (stage) {
            case Stage::kIdle:
                if (now - idleStart < kIdle) {
                    return;
                }
                idleCpu = (CpuSeconds(RUSAGE_THREAD) - idleCpuStart) /
                          Milliseconds(now - idleStart) * 1000;
                stage = Stage::kStarting;
                start = now;
                callsStart = counts.calls;
                repaintsStart = counts.repaints;
                cpuStart = CpuSeconds(RUSAGE_SELF);
                guiCpuStart = CpuSeconds(RUSAGE_THREAD);
                window.findChild<QAbstractButton*>("start")->click();
                return;
            case Stage::kStarting:
                startGap = gap;
                startWork = work;
                startWait = wait;
                stage = Stage::kRunning;
                break;
            case Stage::kRunning:
                ++ticks;
                if (gap > longest) {
                    longest = gap;
                    longestAt = now - gap;
                    workInLongest = work;
                    waitInLongest = wait;
                }
                longestWork = std::max(longestWork, work);
                break;
        }
        if (!window.Controller().Running()) {
            end = now;
            cpu = CpuSeconds(RUSAGE_SELF) - cpuStart;
            guiCpu = CpuSeconds(RUSAGE_THREAD) - guiCpuStart;
            app.exit();
        } else if (now - start > kLongestRun) {
            std::fprintf(stderr, "the run did not end within %lld s\n",
                         static_cast<long long>(kLongestRun.count()));
            status = 2;
            app.exit();
        }
    });
    probe.start();
    app.exec();
    probe.stop();
    if (status != 0) {
        return status;  // the window aborts a run still going and waits for its lines
    }

    const std::vector<StationTile>& tiles = window.Controller().Tiles();
    int ok = 0;
    for (const StationTile& tile : tiles) {
        if (tile.last && tile.last->result == BoardOutcome::kOk) {
            ++ok;
        } else {
            std::fprintf(stderr, "%s: %s %s\n", tile.port.c_str(),
                         tile.last ? BoardResultText(tile.last->result).c_str() : "no board",
                         tile.last ? tile.last->failure.c_str() : "");
        }
    }
    const double seconds = Milliseconds(end - start) / 1000;
    std::printf("boards %zu, ok %d\n", tiles.size(), ok);
    std::printf("run %.3f s\n", seconds);
    std::printf("window CPU %.3f s, %.2f%% of a core; GUI thread %.3f s\n", cpu,
                100 * cpu / seconds, guiCpu);
    std::printf("Start %.1f ms, the GUI thread working %.1f ms of it, waiting for a core %.1f ms\n",
                Milliseconds(startGap), startWork, startWait);
    std::printf(
        "longest gap between probe ticks %.1f ms, %.3f s into the run, the GUI thread "
        "working %.1f ms of it, waiting for a core %.1f ms (a tick every %d ms, %ld ticks)\n",
        Milliseconds(longest), Milliseconds(longestAt - start) / 1000, workInLongest, waitInLongest,
        kProbeMs, ticks);
    std::printf("longest work between probe ticks %.1f ms\n", longestWork);
    std::printf("probe alone %.2f%% of a core\n", 100 * idleCpu);
    std::printf("GUI thread took %ld run events, %ld repaints\n", counts.calls - callsStart,
                counts.repaints - repaintsStart);
    return ok == static_cast<int>(tiles.size()) && !tiles.empty() ? 0 : 1;
}
