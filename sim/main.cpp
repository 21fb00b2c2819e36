// quillon-sim: the virtual target on a pseudo-terminal.
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "helpers/text_format.h"
#include "platform/executable_path.h"
#include "platform/output_file.h"
#include "platform/process_signals.h"
#include "platform/standard_streams.h"
#include "platform/virtual_ports.h"
#include "sim/sim_command_line.h"
#include "sim/sim_server.h"

using namespace quillon;

namespace {

SimServer* g_server = nullptr;

void OnStopSignal() {
    if (g_server != nullptr) {
        g_server->Stop();
    }
}

void OnReportSignal() {
    if (g_server != nullptr) {
        g_server->RequestReport();
    }
}

std::filesystem::path ProgramFolder(const char* argv0) {
    const std::string folder = ExecutableDirectory();
    if (!folder.empty()) {
        return folder;
    }
    std::error_code error;
    return std::filesystem::absolute(argv0, error).parent_path();
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
        const std::string tail = name.substr(kPrefix.size());
        const std::size_t digits = std::min(tail.find_first_not_of("0123456789"), tail.size());
        const std::optional<std::int64_t> pid =
            DecimalInRange(tail.substr(0, digits), 1, 0x7FFFFFFF);
        // After the number: nothing for the link, the lock file's ending for its lock.
        const std::string rest = tail.substr(digits);
        const bool ours = rest.empty() ? entry.is_symlink(error) : rest == VirtualPortLockPath("");
        if (ours && pid && ProcessIsGone(static_cast<long>(*pid))) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

// Writes the report to `path`; false, with the reason on stderr, when it could not be written.
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
    if (Status written = WriteOutputFile(path, json, "the report"); !written) {
        std::cerr << "quillon-sim: " << written.error().text << "\n";
        return false;
    }
    return true;
}

// The monitor file beside the program (build folder), else where the installed tree keeps it.
std::string DefaultMonitorPath(const char* argv0) {
    const std::filesystem::path folder = ProgramFolder(argv0);
    const std::filesystem::path beside = folder / "Targets" / "virtual-target.h86";
    const std::filesystem::path shared =
        folder / ".." / "share" / "quillon" / "Targets" / "virtual-target.h86";
    std::error_code missing;
    return (std::filesystem::exists(beside, missing) || !std::filesystem::exists(shared, missing)
                ? beside
                : shared.lexically_normal())
        .string();
}

// The monitor file the command line names, or the default one, with a flash type to report.
Result<SimMonitorFile> LoadMonitor(SimCommandLine& line, const char* argv0) {
    if (line.monitorPath.empty()) {
        line.monitorPath = DefaultMonitorPath(argv0);
    }
    Result<SimMonitorFile> file = LoadSimMonitorFile(line.monitorPath);
    if (file && line.settings.flashType.empty() && file->flashTypes.empty()) {
        return Fail(ErrorKind::kInvalidData,
                    line.monitorPath + " lists no flash type; name one with --flash-type");
    }
    return file;
}

// Makes `folder` for this user alone where it is missing (its parent must be there); one that
// is there is left as it is, for the checks that follow.
void MakePrivateFolder(const std::filesystem::path& folder) {
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    }
}

// The link in the per-user virtual port folder, where the command line names none. The
// folder holds links that port lists offer as serial ports: it must be the user's own, and
// nobody else's to write. Made private where missing (its parent, the runtime or temporary
// folder, must be there); one that is not is left as it is, and the port is not announced.
void ChooseDefaultLink(SimCommandLine& line) {
    const std::filesystem::path folder = DefaultVirtualPortFolder();
    MakePrivateFolder(folder.parent_path());
    Status usable = CheckPrivateFolder(folder.parent_path().string());
    if (usable) {
        MakePrivateFolder(folder);
        usable = CheckVirtualPortFolder(folder.string());
    }
    if (usable) {
        RemoveStaleLinks(folder);
        line.server.linkPath =
            (folder / ("quillon-sim-" + std::to_string(CurrentProcessId()))).string();
    } else {
        std::cerr << "quillon-sim: " << usable.error().text
                  << "; the port is not announced (name a link with --link)\n";
    }
}

// Stop requests (SIGINT, SIGTERM, SIGHUP) and report requests (SIGUSR1) go to `server`.
void RouteSignalsTo(SimServer* server) {
    g_server = server;
    RouteStopAndReportSignals(&OnStopSignal, &OnReportSignal);
}

// Serves until the end, writing the report on request and at the end and the dump at the
// end; the exit status: 1 when any of them could not be written.
int Serve(SimServer& server, const SimCommandLine& line, bool stdoutClosed) {
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
    if (!line.dumpPath.empty()) {
        if (Status dumped = server.WriteDump(line.dumpPath); !dumped) {
            std::cerr << "quillon-sim: " << dumped.error().text << "\n";
            status = 1;
        }
    }
    return status;
}

// The exit status for a failure before the target serves: 2 for a command line it cannot
// take, 1 for anything else.
int Failed(const Error& error) {
    std::cerr << "quillon-sim: " << error.text << "\n";
    return error.kind == ErrorKind::kUsage ? 2 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything is opened: a closed standard descriptor must not become the line's
    // master (whatever goes to that stream would reach the host) or a report.
    const bool stdoutClosed = (EnsureStandardStreams() & kStdoutWasClosed) != 0;
    // A FIFO's reader or the reader of our standard output that goes away must not end the
    // target: the failed write says so instead. Likewise a file-size limit: a report or dump
    // past it fails with its reason, and the target still removes its temporary file, its link
    // and its lock on the way out.
    FailWritesInsteadOfSignals();
    Result<SimCommandLine> line =
        ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!line) {
        return Failed(line.error());
    }
    if (line->help || line->version) {
        std::cout << (line->help ? SimHelpText() : "Quillon Version " QUILLON_VERSION "\n")
                  << std::flush;
        return std::cout ? 0 : 1;
    }
    Result<SimMonitorFile> file = LoadMonitor(*line, argv[0]);
    if (!file) {
        return Failed(file.error());
    }
    if (!line->linkGiven) {
        ChooseDefaultLink(*line);
    }
    SimServer server(std::move(*file), line->settings, line->server);
    // Before the line is announced: a stop request that comes as soon as its path is read
    // must end the target through Run(), which removes the link and lock, not kill it.
    RouteSignalsTo(&server);
    if (Status opened = server.Open(); !opened) {
        g_server = nullptr;
        return Failed(opened.error());
    }
    return Serve(server, *line, stdoutClosed);
}
