#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace quillon {

namespace {

std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (extra.count(name) == 0) {
            env.push_back(entry);
        }
    }
    for (const auto& [name, value] : extra) {
        env.push_back(name + "=" + value);
    }
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Descriptor `fd` of the child: the pipe end `pipeFd`, or as `to` says ("-" closed, a path).
void Redirect(posix_spawn_file_actions_t* actions, int fd, int pipeFd, const std::string& to) {
    if (to.empty()) {
        posix_spawn_file_actions_adddup2(actions, pipeFd, fd);
    } else if (to == "&1") {
        posix_spawn_file_actions_adddup2(actions, 1, fd);
    } else if (to == "-") {
        posix_spawn_file_actions_addclose(actions, fd);
    } else {
        posix_spawn_file_actions_addopen(actions, fd, to.c_str(), O_WRONLY, 0);
    }
}

int Spawn(const std::vector<std::string>& argv,
          const std::map<std::string, std::string>& environment, int outFd, int errFd, int closeFd1,
          int closeFd2, const std::string& outTo = {}, const std::string& errTo = {},
          const std::string& inFrom = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inFrom.empty() ? "/dev/null" : inFrom.c_str(),
                                     inFrom.empty() ? O_RDONLY : O_RDWR, 0);
    Redirect(&actions, 1, outFd, outTo);
    Redirect(&actions, 2, errFd, errTo);
    for (int fd : {closeFd1, closeFd2}) {
        if (fd >= 0) {
            posix_spawn_file_actions_addclose(&actions, fd);
        }
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> env = Environment(environment);
    auto argp = Pointers(args);
    auto envp = Pointers(env);
    // Each program in a process group of its own, tied to the session by this test. Sharing
    // the test's group, it would get SIGHUP and SIGCONT from the kernel when that group loses
    // its last tie to the session (the runner that started the tests goes away) while one of
    // its programs is stopped: that would wake a program a test stopped on purpose.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int failed =
        posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, argp.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
    }
    return pid;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    int errTarget = err[1];
    int terminal = -1;
    if (!options.stderrTerminal.empty()) {
        terminal = open(options.stderrTerminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        errTarget = terminal;
    }
    const int pid = Spawn(argv, options.environment, out[1], errTarget, -1, -1, options.stdoutTo,
                          options.stderrTo, options.stdinFrom);
    close(out[1]);
    close(err[1]);
    if (terminal >= 0) {
        close(terminal);
    }

    ProcessResult result;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    bool outOpen = true;
    bool errOpen = true;
    while (outOpen || errOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left)) <= 0) {
            continue;
        }
        char buffer[4096];
        if (fds[0].revents) {
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n > 0) {
                result.out.append(buffer, static_cast<std::size_t>(n));
                if (options.onOutput) {
                    options.onOutput(result.out, pid);
                }
                if (options.stdoutLines > 0 &&
                    std::count(result.out.begin(), result.out.end(), '\n') >= options.stdoutLines) {
                    close(out[0]);  // the reader goes away; the child's next write fails
                    out[0] = -1;
                    outOpen = false;
                }
            } else {
                outOpen = false;
            }
        }
        if (fds[1].revents) {
            const ssize_t n = read(err[0], buffer, sizeof buffer);
            if (n > 0) {
                result.err.append(buffer, static_cast<std::size_t>(n));
            } else {
                errOpen = false;
            }
        }
    }
    if (out[0] >= 0) {
        close(out[0]);
    }
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = ExitCodeOf(status);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::map<std::string, std::string>& environment) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    m_pid = Spawn(argv, environment, out[1], devNull, -1, -1);
    close(out[1]);
    close(devNull);
    m_out = out[0];
}

BackgroundProcess::~BackgroundProcess() {
    Stop();
    if (m_out >= 0) {
        close(m_out);
    }
}

std::string BackgroundProcess::ReadLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            const std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{m_out, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
            return std::string();
        }
        char buffer[1024];
        const ssize_t n = read(m_out, buffer, sizeof buffer);
        if (n <= 0) {
            return std::string();
        }
        m_buffer.append(buffer, static_cast<std::size_t>(n));
    }
}

int BackgroundProcess::Stop() {
    if (m_pid < 0) {
        return -1;
    }
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return ExitCodeOf(status);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        poll(nullptr, 0, 10);
    }
    return true;
}

}  // namespace quillon
