#include <winsock2.h>  // before windows.h

#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/host_lookup.h"
#include "platform/utf16_text.h"

// In ws2_32 since Windows 8, but not declared by every SDK's headers.
extern "C" INT WSAAPI GetAddrInfoExCancel(LPHANDLE lpHandle);

// Names are looked up with the system's own asynchronous look-up (GetAddrInfoExW with a
// completion routine): the caller waits for its completion together with the stop request,
// and cancels whatever is still pending when the time is up or the stop comes.

namespace quillon {

namespace {

constexpr std::uint64_t kStopPollMs = 20;
constexpr const char* kTimedOut = "name look-up timed out";

// Winsock is started once for the process and left running until it ends; every network
// connection looks its host up first.
void StartWinsock() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
    });
}

// One look-up in flight. The system's completion and the caller each hold it, and whoever lets
// go last frees it: a look-up that the caller gave up on may complete later, into memory that
// is still there.
struct PendingLookup {
    WSAOVERLAPPED overlapped{};  // first: the completion finds the whole by its address
    HANDLE finished = nullptr;   // set once the system completed the look-up
    PADDRINFOEXW result = nullptr;
    HANDLE cancel = nullptr;
    DWORD error = 0;
    std::atomic<int> holders{2};
    std::wstring name;
};

void Release(PendingLookup* lookup) {
    if (lookup->holders.fetch_sub(1) == 1) {
        if (lookup->result != nullptr) {
            ::FreeAddrInfoExW(lookup->result);
        }
        if (lookup->finished != nullptr) {
            ::CloseHandle(lookup->finished);
        }
        delete lookup;
    }
}

void CALLBACK OnComplete(DWORD error, DWORD /*bytes*/, LPWSAOVERLAPPED overlapped) {
    auto* lookup = reinterpret_cast<PendingLookup*>(overlapped);
    lookup->error = error;
    ::SetEvent(lookup->finished);
    Release(lookup);
}

Error LookupError(DWORD error) {
    switch (error) {
        case WSAHOST_NOT_FOUND:
        case WSANO_DATA:
            return {ErrorKind::kNotFound, "host not found"};
        case WSAETIMEDOUT:
            return {ErrorKind::kTimeout, kTimedOut};
        default:
            return {ErrorKind::kFailed,
                    "name look-up failed (error " + std::to_string(error) + ")"};
    }
}

void TakeAddresses(const ADDRINFOEXW* found, HostLookupProgress& lookup) {
    // (Some headers declare ai_next as a pointer to a differently spelled struct.)
    for (const ADDRINFOEXW* node = found; node != nullptr;
         node = reinterpret_cast<const ADDRINFOEXW*>(node->ai_next)) {
        IpAddress ip;
        if (node->ai_family == AF_INET && node->ai_addr != nullptr) {
            std::memcpy(ip.bytes.data(),
                        &reinterpret_cast<const sockaddr_in*>(node->ai_addr)->sin_addr, 4);
        } else if (node->ai_family == AF_INET6 && node->ai_addr != nullptr) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(node->ai_addr);
            ip.v6 = true;
            std::memcpy(ip.bytes.data(), &v6->sin6_addr, 16);
            ip.scope = v6->sin6_scope_id;
        } else {
            continue;
        }
        if (std::find(lookup.addresses.begin(), lookup.addresses.end(), ip) ==
            lookup.addresses.end()) {
            lookup.addresses.push_back(ip);
        }
    }
    if (lookup.addresses.empty()) {
        lookup.error = Error{ErrorKind::kNotFound, "host not found"};
    }
}

// Starts the look-up of `host`; none when it cannot start (`result` then says why).
PendingLookup* StartLookup(const std::string& host, HostLookupProgress& result) {
    ADDRINFOEXW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    auto* lookup = new PendingLookup;
    lookup->name = Utf16FromUtf8(host);
    lookup->finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (lookup->finished == nullptr) {
        result.error = Error{ErrorKind::kFailed, "name look-up failed (error " +
                                                     std::to_string(::GetLastError()) + ")"};
        lookup->holders = 1;
        Release(lookup);
        return nullptr;
    }
    const INT started = ::GetAddrInfoExW(
        lookup->name.c_str(), nullptr, NS_ALL, nullptr, &hints, &lookup->result, nullptr,
        &lookup->overlapped, reinterpret_cast<LPLOOKUPSERVICE_COMPLETION_ROUTINE>(&OnComplete),
        &lookup->cancel);
    if (started != WSA_IO_PENDING) {
        // Done at once (an address, a name the system knew, or an error): no completion comes.
        lookup->holders = 1;
        lookup->error = static_cast<DWORD>(started);
        ::SetEvent(lookup->finished);
    }
    return lookup;
}

}  // namespace

std::vector<HostAddresses> LookUpHosts(const std::vector<std::string>& hosts,
                                       std::uint32_t timeoutMs, const std::function<bool()>& stop,
                                       Clock& clock) {
    StartWinsock();
    const std::uint64_t deadline = clock.NowMs() + timeoutMs;
    std::vector<HostLookupProgress> lookups(hosts.size());
    std::vector<PendingLookup*> pending(hosts.size(), nullptr);
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        pending[i] = StartLookup(hosts[i], lookups[i]);
    }
    Error cut{ErrorKind::kTimeout, kTimedOut};
    for (;;) {
        std::vector<HANDLE> waiting;
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            PendingLookup* lookup = pending[i];
            if (lookup == nullptr) {
                continue;
            }
            if (::WaitForSingleObject(lookup->finished, 0) != WAIT_OBJECT_0) {
                if (waiting.size() < MAXIMUM_WAIT_OBJECTS) {
                    waiting.push_back(lookup->finished);
                }
                continue;
            }
            if (lookup->error == 0) {
                TakeAddresses(lookup->result, lookups[i]);
            } else {
                lookups[i].error = LookupError(lookup->error);
            }
            Release(lookup);
            pending[i] = nullptr;
        }
        if (waiting.empty()) {
            break;
        }
        if (stop && stop()) {
            cut = {ErrorKind::kAborted, "aborted"};
            break;
        }
        const std::uint64_t now = clock.NowMs();
        const std::uint64_t left = deadline > now ? deadline - now : 0;
        if (left == 0) {
            break;
        }
        ::WaitForMultipleObjects(static_cast<DWORD>(waiting.size()), waiting.data(), FALSE,
                                 static_cast<DWORD>(std::min(left, kStopPollMs)));
    }
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        if (pending[i] != nullptr) {
            // Its completion still comes (cancelled, or with an answer nobody waits for) and
            // frees what is left.
            ::GetAddrInfoExCancel(&pending[i]->cancel);
            lookups[i].error = cut;
            Release(pending[i]);
        }
    }
    return HostLookupResults(std::move(lookups));
}

}  // namespace quillon
