// quillon-cli: Initialize and Start Download without a window, for scripts and production
// lines. See CliUsageText for the options and exit statuses.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_console.h"
#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "image/hex_reader.h"
#include "image/image_memory.h"
#include "image/monitor_file_catalog.h"
#include "link/download_job.h"
#include "link/messages.h"
#include "platform/executable_path.h"
#include "platform/message_box.h"
#include "platform/utf8_path.h"
#include "ports/com_port_error.h"
#include "ports/com_ports.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>
#define QUILLON_ISATTY _isatty
#define QUILLON_FILENO _fileno
#else
#include <unistd.h>
#define QUILLON_ISATTY isatty
#define QUILLON_FILENO fileno
#endif

namespace {

extern "C" void OnStopSignal(int signal) {
    if (signal == SIGINT && g_abortRequested.load() != 0) {
        std::_Exit(kExitAborted);  // the second Ctrl+C: at once
    }
    g_abortRequested = 1;
    g_bStopJob = 1;
    std::signal(signal, OnStopSignal);
}

int UsageError(const std::string& error) {
    std::fprintf(stderr, "quillon-cli: %s\nTry 'quillon-cli --help' for more information.\n",
                 error.c_str());
    return kExitUsage;
}

int ListPortCallback(std::uintptr_t, const ComPortInfo* info) {
    std::printf("%s\t%s\n", info->portName, info->friendlyName);
    return 1;
}

// The monitor file of the target named `name`: the one whose name equals it (letter case
// ignored), else the only one whose name begins with it.
bool ResolveTarget(const std::vector<MonitorFileEntry>& entries, const std::string& name,
                   std::string& path, std::string& error) {
    for (const MonitorFileEntry& entry : entries) {
        if (EqualIgnoringCase(entry.displayName, name)) {
            path = entry.path;
            return true;
        }
    }
    std::vector<const MonitorFileEntry*> candidates;
    for (const MonitorFileEntry& entry : entries) {
        if (StartsWithIgnoringCase(entry.displayName, name)) {
            candidates.push_back(&entry);
        }
    }
    if (candidates.size() == 1) {
        path = candidates.front()->path;
        return true;
    }
    error = (candidates.empty() ? "unknown target '" : "ambiguous target '") + name +
            "'; known targets:";
    if (entries.empty()) {
        error += " none";
    }
    for (const MonitorFileEntry& entry : entries) {
        error += "\n  " + entry.displayName;
    }
    return false;
}

// The arguments as UTF-8. On Windows `argv` is in the 8-bit code page, which cannot name
// every file, so the Unicode command line is taken instead.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        std::vector<std::string> arguments;
        for (int i = 1; i < count; ++i) {
            arguments.push_back(Utf8FromPath(std::filesystem::path(wide[i])));
        }
        ::LocalFree(wide);
        return arguments;
    }
#endif
    return std::vector<std::string>(argv + 1, argv + argc);
}

void EnableTerminalSequences() {
#ifdef _WIN32
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(err, &mode)) {
        ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    ::SetConsoleOutputCP(CP_UTF8);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(Arguments(argc, argv), options, error)) {
        return UsageError(error);
    }
    if (options.help) {
        std::fputs(CliUsageText().c_str(), stdout);
        return kExitSuccess;
    }
    if (options.targetsFolder.empty()) {
        options.targetsFolder = Utf8FromPath(PathFromUtf8(ExecutableDirectory()) / "Targets");
    }

    const bool errIsTerminal = QUILLON_ISATTY(QUILLON_FILENO(stderr)) != 0;
    const bool outIsTerminal = QUILLON_ISATTY(QUILLON_FILENO(stdout)) != 0;
    if (errIsTerminal) {
        EnableTerminalSequences();
    }
    CliConsole console(stdout, stderr, errIsTerminal, errIsTerminal && outIsTerminal);
    SetMessageBoxHandler([&console](const std::string& text) { console.Message(text); });

    if (!options.RunsJob()) {
        int status = kExitSuccess;
        if (options.listPorts && EnumerateComPorts(ListPortCallback, 0) == 0) {
            std::fprintf(stderr, "quillon-cli: the serial ports could not be listed (error %lu)\n",
                         static_cast<unsigned long>(GetLastComPortError()));
            status = kExitJobFailed;
        }
        if (options.listTargets) {
            for (const MonitorFileEntry& entry : ListMonitorFiles(options.targetsFolder)) {
                std::printf("%s\t%s\n", entry.displayName.c_str(), entry.path.c_str());
            }
        }
        std::fflush(stdout);
        return status;
    }

    std::string monitorFile = options.monitorFile;
    if (!options.target.empty() && !ResolveTarget(ListMonitorFiles(options.targetsFolder),
                                                  options.target, monitorFile, error)) {
        return UsageError(error);
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    if (!options.image.empty() && !options.initOnly) {
        // The image is read once before the target is touched: a file that is no image is
        // said at once, in the file reader's own words, instead of after the whole Initialize.
        // Start Download reads it again.
        const bool loaded = LoadHexFile(options.image, &g_abortRequested) != 0;
        if (g_abortRequested.load() != 0) {
            return kExitAborted;
        }
        if (!loaded) {
            return kExitJobFailed;
        }
        if (!g_imageMemory.HoldsAnyData() && !options.eraseAll) {
            console.Message(DownloadJob::kNoDataLine);
            return kExitJobFailed;
        }
    }
    return RunJobs(options, monitorFile, console);
}
