#include <windows.h>

#include <string>

#include "platform/child_process.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

constexpr DWORD kEndGraceMs = 2000;

// One argument as the C runtime of the started program splits its command line again:
// quoted when it holds a space, a tab or a quote (or is empty), with the backslashes before
// a quote and at the end doubled.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// The command line that the started program splits into `argv` again.
std::wstring CommandLine(const std::vector<std::string>& argv) {
    std::wstring commandLine;
    for (const std::string& argument : argv) {
        commandLine +=
            (commandLine.empty() ? L"" : L" ") + Quoted(PathFromUtf8(argument).wstring());
    }
    return commandLine;
}

std::string ErrorText(DWORD code) {
    return "error " + std::to_string(code);
}

// The program's input and output pipes; only the program's ends are inherited.
Status CreatePipes(HANDLE& inputRead, HANDLE& inputWrite, HANDLE& outputRead, HANDLE& outputWrite) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!::CreatePipe(&inputRead, &inputWrite, &inheritable, 0)) {
        return Fail(ErrorKind::kFailed, ErrorText(::GetLastError()));
    }
    if (!::CreatePipe(&outputRead, &outputWrite, &inheritable, 0)) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(inputRead);
        ::CloseHandle(inputWrite);
        return Fail(ErrorKind::kFailed, ErrorText(code));
    }
    // This program's ends stay here.
    ::SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
    return {};
}

}  // namespace

struct ChildProcess::Impl {
    HANDLE process = nullptr;
    HANDLE input = nullptr;
    HANDLE output = nullptr;
};

ChildProcess::ChildProcess() : m_impl(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    EndWithOwner();
}

bool ChildProcess::Running() const {
    return m_impl->process != nullptr;
}

std::intptr_t ChildProcess::WaitHandle() const {
    return reinterpret_cast<std::intptr_t>(m_impl->process);
}

void ChildProcess::CloseFds() {
    for (HANDLE* handle : {&m_impl->input, &m_impl->output}) {
        if (*handle != nullptr) {
            ::CloseHandle(*handle);
            *handle = nullptr;
        }
    }
}

Status ChildProcess::Start(const std::vector<std::string>& argv) {
    HANDLE inputRead = nullptr;
    HANDLE inputWrite = nullptr;
    HANDLE outputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (Status piped = CreatePipes(inputRead, inputWrite, outputRead, outputWrite); !piped) {
        return piped;
    }

    // Only the program's own two ends are inherited: another station's pipe held by this one
    // would keep that pipe open after its program has ended.
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    HANDLE inherited[2] = {inputRead, outputWrite};
    const bool listed =
        ::InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
        ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                    sizeof inherited, nullptr, nullptr);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = inputRead;
    startup.StartupInfo.hStdOutput = outputWrite;
    startup.StartupInfo.hStdError = outputWrite;
    startup.lpAttributeList = listed ? attributes : nullptr;

    std::wstring commandLine = CommandLine(argv);
    const std::wstring program = PathFromUtf8(argv[0]).wstring();
    PROCESS_INFORMATION info{};
    const BOOL started =
        ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                         CREATE_UNICODE_ENVIRONMENT | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0),
                         nullptr, nullptr, &startup.StartupInfo, &info);
    const DWORD startError = ::GetLastError();
    if (listed) {
        ::DeleteProcThreadAttributeList(attributes);
    }
    ::CloseHandle(inputRead);
    ::CloseHandle(outputWrite);
    if (!started) {
        ::CloseHandle(inputWrite);
        ::CloseHandle(outputRead);
        return Fail(startError == ERROR_FILE_NOT_FOUND ? ErrorKind::kNotFound : ErrorKind::kFailed,
                    ErrorText(startError));
    }
    ::CloseHandle(info.hThread);
    m_impl->process = info.hProcess;
    m_impl->input = inputWrite;
    m_impl->output = outputRead;
    m_partial.clear();
    return {};
}

bool ChildProcess::Read(std::vector<std::string>& lines) {
    if (m_impl->output == nullptr) {
        return false;
    }
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(m_impl->output, nullptr, 0, nullptr, &available, nullptr)) {
            break;  // the end: the program and everything it started have closed the pipe
        }
        if (available == 0) {
            return true;
        }
        char buffer[4096];
        DWORD got = 0;
        if (!::ReadFile(m_impl->output, buffer, std::min<DWORD>(available, sizeof buffer), &got,
                        nullptr) ||
            got == 0) {
            break;
        }
        TakeBytes(buffer, got, lines);
    }
    TakeRest(lines);
    ::CloseHandle(m_impl->output);
    m_impl->output = nullptr;
    return false;
}

void ChildProcess::RequestAbort() {
    if (m_impl->input != nullptr) {
        ::CloseHandle(m_impl->input);
        m_impl->input = nullptr;
    }
}

void ChildProcess::Kill() {
    if (Running()) {
        ::TerminateProcess(m_impl->process, 128 + 9);
    }
}

int ChildProcess::Wait() {
    if (!Running()) {
        return -1;
    }
    // A program whose output has ended is ending; one that closed its output and goes on gets
    // a moment and is then killed, so the run never waits where its abort cannot reach.
    if (::WaitForSingleObject(m_impl->process, kEndGraceMs) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_impl->process, 128 + 9);
    }
    DWORD code = 0;
    const bool known = ::WaitForSingleObject(m_impl->process, INFINITE) == WAIT_OBJECT_0 &&
                       ::GetExitCodeProcess(m_impl->process, &code);
    ::CloseHandle(m_impl->process);
    m_impl->process = nullptr;
    CloseFds();
    // Its status cannot be told: never taken for a success. A crash ends with an exception
    // code far above 255.
    return known ? static_cast<int>(code > 255 ? 255 : code) : -1;
}

}  // namespace quillon
