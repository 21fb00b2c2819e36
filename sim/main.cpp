// quillon-sim: the virtual target on a pseudo-terminal.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "platform/standard_streams.h"
#include "platform/virtual_ports.h"
#include "sim/sim_command_line.h"
#include "sim/sim_output_file.h"
#include "sim/sim_server.h"

using namespace quillon;

namespace {

SimServer* g_server = nullptr;

void OnSignal(int signal) {
    if (g_server == nullptr) {
        return;
    }
    if (signal == SIGUSR1) {
        g_server->RequestReport();
    } else {
        g_server->Stop();
    }
}

std::filesystem::path ProgramFolder(const char* argv0) {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        self = std::filesystem::absolute(argv0, error);
    }
    return self.parent_path();
}

// Links of earlier runs that ended without removing theirs (killed, crashed) would offer a
// device that now belongs to someone else: remove those whose process is gone, with their
// lock files. Names of a live process are left alone, whatever runs under its number now.
void RemoveStaleLinks(const std::filesystem::path& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        static const std::string kPrefix = "quillon-sim-";
        if (name.rfind(kPrefix, 0) != 0) {
            continue;
        }
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + kPrefix.size(), &end, 10);
        // After the number: nothing for the link, the lock file's ending for its lock.
        const std::string rest = end;
        const bool ours = rest.empty() ? entry.is_symlink(error) : rest == VirtualPortLockPath("");
        if (ours && pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

bool WriteReport(const SimServer& server, const std::string& path, bool stdoutClosed) {
    const std::string json = server.ReportJson();
    if (path == "-") {
        // A standard output that was closed at start now goes to the null device: the report
        // would be lost without a word.
        if (!stdoutClosed) {
            std::cout << json << std::flush;
        }
        if (stdoutClosed || !std::cout) {
            std::cerr << "quillon-sim: cannot write the report to standard output"
                      << (stdoutClosed ? " (it was closed)" : "") << "\n";
            return false;
        }
        return true;
    }
    std::string error;
    if (!WriteOutputFile(path, json, "the report", &error)) {
        std::cerr << "quillon-sim: " << error << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything is opened: a closed standard descriptor must not become the line's
    // master (whatever goes to that stream would reach the host) or a report.
    const bool stdoutClosed = (EnsureStandardStreams() & kStdoutWasClosed) != 0;
    // A FIFO's reader or the reader of our standard output that goes away must not end the
    // target: the failed write says so instead.
    signal(SIGPIPE, SIG_IGN);
    // Likewise a file-size limit: a report or dump past it fails with its reason, and the
    // target still removes its temporary file, its link and its lock on the way out.
    signal(SIGXFSZ, SIG_IGN);
    SimCommandLine line;
    std::string error;
    if (!ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc), &line, &error)) {
        std::cerr << "quillon-sim: " << error << "\n";
        return 2;
    }
    if (line.help || line.version) {
        std::cout << (line.help ? SimHelpText() : "Quillon Version " QUILLON_VERSION "\n")
                  << std::flush;
        return std::cout ? 0 : 1;
    }
    if (line.monitorPath.empty()) {
        // Beside the program (build folder), else where the installed tree keeps it.
        const std::filesystem::path folder = ProgramFolder(argv[0]);
        const std::filesystem::path beside = folder / "Targets" / "virtual-target.h86";
        const std::filesystem::path shared =
            folder / ".." / "share" / "quillon" / "Targets" / "virtual-target.h86";
        std::error_code missing;
        line.monitorPath =
            (std::filesystem::exists(beside, missing) || !std::filesystem::exists(shared, missing)
                 ? beside
                 : shared.lexically_normal())
                .string();
    }
    SimMonitorFile file;
    if (!LoadSimMonitorFile(line.monitorPath, &file, &error)) {
        std::cerr << "quillon-sim: " << error << "\n";
        return 1;
    }
    if (line.settings.flashType.empty() && file.flashTypes.empty()) {
        std::cerr << "quillon-sim: " << line.monitorPath
                  << " lists no flash type; name one with --flash-type\n";
        return 1;
    }
    if (!line.linkGiven) {
        const std::filesystem::path folder = DefaultVirtualPortFolder();
        // The folder holds links that port lists offer as serial ports: it must be the user's
        // own, and nobody else's to write. Made private where missing (its parent, the runtime
        // or temporary folder, must be there); one that is not is left as it is.
        mkdir(folder.parent_path().c_str(), 0700);
        std::string fault = PrivateFolderFault(folder.parent_path().string());
        if (fault.empty()) {
            mkdir(folder.c_str(), 0700);
            fault = VirtualPortFolderFault(folder.string());
        }
        if (fault.empty()) {
            RemoveStaleLinks(folder);
            line.server.linkPath = (folder / ("quillon-sim-" + std::to_string(getpid()))).string();
        } else {
            std::cerr << "quillon-sim: " << fault
                      << "; the port is not announced (name a link with --link)\n";
        }
    }

    SimServer server(std::move(file), line.settings, line.server);
    // Before the line is announced: a stop request that comes as soon as its path is read
    // must end the target through Run(), which removes the link and lock, not kill it.
    g_server = &server;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
        sigaction(signal, &action, nullptr);
    }
    if (!server.Open(&error)) {
        g_server = nullptr;
        std::cerr << "quillon-sim: " << error << "\n";
        return 1;
    }
    std::cout << server.slavePath() << std::endl;
    if (!server.linkPath().empty()) {
        std::cerr << "quillon-sim: line " << server.slavePath() << ", link " << server.linkPath()
                  << "\n";
    }
    server.onLineChanged = [](const std::string& path) { std::cout << path << std::endl; };
    // A report that could not be written, now or at the end, makes the exit status 1.
    bool reportFailed = false;
    server.onReportRequest = [&] {
        if (!line.reportPath.empty() && !WriteReport(server, line.reportPath, stdoutClosed)) {
            reportFailed = true;
        }
    };

    server.Run();
    g_server = nullptr;

    int status = reportFailed ? 1 : 0;
    if (!line.reportPath.empty() && !WriteReport(server, line.reportPath, stdoutClosed)) {
        status = 1;
    }
    if (!line.dumpPath.empty() && !server.WriteDump(line.dumpPath, &error)) {
        std::cerr << "quillon-sim: " << error << "\n";
        status = 1;
    }
    return status;
}
