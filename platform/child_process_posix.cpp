#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace quillon {

namespace {

constexpr auto kEndGrace = std::chrono::seconds(2);

}  // namespace

struct ChildProcess::Impl {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
};

ChildProcess::ChildProcess() : m_impl(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    EndWithOwner();
}

bool ChildProcess::Running() const {
    return m_impl->pid > 0;
}

std::intptr_t ChildProcess::WaitHandle() const {
    return m_impl->output;
}

void ChildProcess::CloseFds() {
    for (int* fd : {&m_impl->input, &m_impl->output}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

Status ChildProcess::Start(const std::vector<std::string>& argv) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        return Fail(ErrorKind::kFailed, std::strerror(errno));
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(input[0]);
        ::close(input[1]);
        return Fail(ErrorKind::kFailed, reason);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    // No signal blocked in the program, whatever this one blocks.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int result =
        ::posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input[0]);
    ::close(output[1]);
    if (result != 0) {
        ::close(input[1]);
        ::close(output[0]);
        return Fail(result == ENOENT ? ErrorKind::kNotFound : ErrorKind::kFailed,
                    std::strerror(result));
    }
    m_impl->pid = pid;
    m_impl->input = input[1];
    m_impl->output = output[0];
    m_partial.clear();
    ::fcntl(output[0], F_SETFL, ::fcntl(output[0], F_GETFL) | O_NONBLOCK);
    return {};
}

bool ChildProcess::Read(std::vector<std::string>& lines) {
    if (m_impl->output < 0) {
        return false;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_impl->output, buffer, sizeof buffer);
        if (n > 0) {
            TakeBytes(buffer, static_cast<std::size_t>(n), lines);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            return true;
        }
        // The end (or a read error, which ends the output as well).
        TakeRest(lines);
        ::close(m_impl->output);
        m_impl->output = -1;
        return false;
    }
}

void ChildProcess::RequestAbort() {
    if (m_impl->input >= 0) {
        ::close(m_impl->input);
        m_impl->input = -1;
    }
}

void ChildProcess::Kill() {
    if (Running()) {
        ::kill(m_impl->pid, SIGKILL);
    }
}

int ChildProcess::Wait() {
    if (!Running()) {
        return -1;
    }
    // A program whose output has ended is ending; one that closed its output and goes on gets
    // a moment and is then killed, so the run never waits where its abort cannot reach.
    int status = 0;
    pid_t waited;
    const auto deadline = std::chrono::steady_clock::now() + kEndGrace;
    while ((waited = ::waitpid(m_impl->pid, &status, WNOHANG)) == 0 ||
           (waited < 0 && errno == EINTR)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(m_impl->pid, SIGKILL);
            while ((waited = ::waitpid(m_impl->pid, &status, 0)) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_impl->pid = -1;
    CloseFds();
    if (waited < 0) {
        return -1;  // its status cannot be told: never taken for a success
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace quillon
