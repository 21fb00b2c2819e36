// quillon-sim: the virtual target on a pseudo-terminal.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "platform/virtual_ports.h"
#include "sim/sim_command_line.h"
#include "sim/sim_server.h"

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
// device that now belongs to someone else: remove those whose process is gone.
void RemoveStaleLinks(const std::filesystem::path& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        static const std::string kPrefix = "quillon-sim-";
        if (name.rfind(kPrefix, 0) != 0 || !entry.is_symlink(error)) {
            continue;
        }
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + kPrefix.size(), &end, 10);
        if (*end == '\0' && pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

bool WriteReport(const SimServer& server, const std::string& path) {
    const std::string json = server.ReportJson();
    if (path == "-") {
        std::cout << json << std::flush;
        return true;
    }
    // Written beside and renamed, so a reader never sees half a report.
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << json;
        if (!out) {
            std::cerr << "quillon-sim: cannot write the report " << path << "\n";
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::cerr << "quillon-sim: cannot write the report " << path << ": " << error.message()
                  << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    SimCommandLine line;
    std::string error;
    if (!ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc), &line, &error)) {
        std::cerr << "quillon-sim: " << error << "\n";
        return 2;
    }
    if (line.help) {
        std::cout << SimHelpText();
        return 0;
    }
    if (line.monitorPath.empty()) {
        line.monitorPath = (ProgramFolder(argv[0]) / "Targets" / "virtual-target.h86").string();
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
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        // The folder holds links that others open as serial ports: it must be the user's own.
        struct stat info {};
        if (stat(folder.parent_path().c_str(), &info) != 0 || info.st_uid != getuid()) {
            std::cerr << "quillon-sim: " << folder.parent_path().string()
                      << " is missing or not yours; name a link with --link or use --link none\n";
            return 1;
        }
        std::filesystem::permissions(folder.parent_path(), std::filesystem::perms::owner_all,
                                     ignored);
        RemoveStaleLinks(folder);
        line.server.linkPath = (folder / ("quillon-sim-" + std::to_string(getpid()))).string();
    }

    SimServer server(std::move(file), line.settings, line.server);
    if (!server.Open(&error)) {
        std::cerr << "quillon-sim: " << error << "\n";
        return 1;
    }
    std::cout << server.slavePath() << std::endl;
    if (!server.linkPath().empty()) {
        std::cerr << "quillon-sim: line " << server.slavePath() << ", link " << server.linkPath()
                  << "\n";
    }
    server.onLineChanged = [](const std::string& path) { std::cout << path << std::endl; };
    server.onReportRequest = [&] {
        if (!line.reportPath.empty()) {
            WriteReport(server, line.reportPath);
        }
    };

    g_server = &server;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
        sigaction(signal, &action, nullptr);
    }
    server.Run();
    g_server = nullptr;

    int status = 0;
    if (!line.reportPath.empty() && !WriteReport(server, line.reportPath)) {
        status = 1;
    }
    if (!line.dumpPath.empty() && !server.WriteDump(line.dumpPath, &error)) {
        std::cerr << "quillon-sim: " << error << "\n";
        status = 1;
    }
    return status;
}
