#include <ares.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/host_lookup.h"

// Names are looked up with c-ares: its queries go out on sockets that this thread waits for
// together with the stop request, so that neither a name server that never answers nor an
// abort can keep the caller waiting, and nothing runs on after the call.

namespace quillon {

namespace {

constexpr std::uint64_t kStopPollMs = 20;
constexpr const char* kTimedOut = "name look-up timed out";
constexpr const char* kAborted = "aborted";

bool ToIpAddress(const sockaddr* address, IpAddress& ip) {
    if (address == nullptr) {
        return false;
    }
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        std::memcpy(ip.bytes.data(), &v4->sin_addr, 4);
        return true;
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        ip.v6 = true;
        std::memcpy(ip.bytes.data(), &v6->sin6_addr, 16);
        ip.scope = v6->sin6_scope_id;
        return true;
    }
    return false;
}

void Add(HostLookupProgress& lookup, const sockaddr* address) {
    IpAddress ip;
    if (ToIpAddress(address, ip) &&
        std::find(lookup.addresses.begin(), lookup.addresses.end(), ip) == lookup.addresses.end()) {
        lookup.addresses.push_back(ip);
    }
}

// A host written as an address is read by the system without asking anybody ("127.1" and
// "fe80::1%eth0" included).
bool ReadAddress(const std::string& host, HostLookupProgress& lookup) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return false;
    }
    for (const addrinfo* node = found; node != nullptr; node = node->ai_next) {
        Add(lookup, node->ai_addr);
    }
    ::freeaddrinfo(found);
    return !lookup.addresses.empty();
}

Error ResolverError(int status) {
    switch (status) {
        case ARES_ENOTFOUND:
        case ARES_ENODATA:
        case ARES_ENONAME:
            return {ErrorKind::kNotFound, "host not found"};
        case ARES_ETIMEOUT:
            return {ErrorKind::kTimeout, kTimedOut};
        default:
            return {ErrorKind::kFailed,
                    std::string("name look-up failed (") + ::ares_strerror(status) + ")"};
    }
}

// One name's query and where its answer goes.
struct Query {
    HostLookupProgress* lookup = nullptr;
    bool done = false;
};

void OnAnswer(void* arg, int status, int /*timeouts*/, ares_addrinfo* result) {
    auto& query = *static_cast<Query*>(arg);
    if (status == ARES_ECANCELLED || status == ARES_EDESTRUCTION) {
        return;  // dropped by the caller, who says why
    }
    query.done = true;
    if (status == ARES_SUCCESS && result != nullptr) {
        for (const ares_addrinfo_node* node = result->nodes; node != nullptr;
             node = node->ai_next) {
            Add(*query.lookup, node->ai_addr);
        }
    }
    if (query.lookup->addresses.empty()) {
        query.lookup->error = status == ARES_SUCCESS ? Error{ErrorKind::kNotFound, "host not found"}
                                                     : ResolverError(status);
    }
    if (result != nullptr) {
        ::ares_freeaddrinfo(result);
    }
}

int StartResolverLibrary() {
    static std::once_flag started;
    static int status = ARES_SUCCESS;
    std::call_once(started, [] { status = ::ares_library_init(ARES_LIB_INIT_ALL); });
    return status;
}

// Waits for the channel's sockets, at most `waitMs`, and lets it take what came (answers, and
// its own time-outs and retries).
void WaitAndProcess(ares_channel channel, std::uint64_t waitMs) {
    ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
    const int bits = ::ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
    pollfd waiting[ARES_GETSOCK_MAXNUM];
    nfds_t count = 0;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
        short events = 0;
        if (ARES_GETSOCK_READABLE(bits, i)) {
            events |= POLLIN;
        }
        if (ARES_GETSOCK_WRITABLE(bits, i)) {
            events |= POLLOUT;
        }
        if (events != 0) {
            waiting[count++] = pollfd{sockets[i], events, 0};
        }
    }
    timeval most{static_cast<time_t>(waitMs / 1000),
                 static_cast<suseconds_t>(waitMs % 1000) * 1000};
    timeval next{};
    const timeval* due = ::ares_timeout(channel, &most, &next);
    const std::int64_t dueMs =
        due == nullptr ? waitMs : std::int64_t{due->tv_sec} * 1000 + (due->tv_usec + 999) / 1000;
    const int ready =
        ::poll(waiting, count, static_cast<int>(std::clamp<std::int64_t>(dueMs, 0, waitMs)));
    if (ready <= 0) {
        ::ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
        return;
    }
    for (nfds_t i = 0; i < count; ++i) {
        const short got = waiting[i].revents;
        if (got != 0) {
            ::ares_process_fd(
                channel,
                (got & (POLLIN | POLLERR | POLLHUP)) != 0 ? waiting[i].fd : ARES_SOCKET_BAD,
                (got & (POLLOUT | POLLERR | POLLHUP)) != 0 ? waiting[i].fd : ARES_SOCKET_BAD);
        }
    }
}

// Lets the resolver take its answers until every query has one, `deadlineMs` has passed on
// `clock` or `stop` says so; returns why the queries still pending are dropped.
Error WaitForAnswers(ares_channel channel, const std::vector<Query>& queries,
                     std::uint64_t deadlineMs, const std::function<bool()>& stop, Clock& clock) {
    const auto pending = [&queries] {
        return std::any_of(queries.begin(), queries.end(),
                           [](const Query& query) { return !query.done; });
    };
    while (pending()) {
        if (stop && stop()) {
            return {ErrorKind::kAborted, kAborted};
        }
        const std::uint64_t now = clock.NowMs();
        if (now >= deadlineMs) {
            break;
        }
        WaitAndProcess(channel, std::min(deadlineMs - now, kStopPollMs));
    }
    return {ErrorKind::kTimeout, kTimedOut};
}

}  // namespace

std::vector<HostAddresses> LookUpHosts(const std::vector<std::string>& hosts,
                                       std::uint32_t timeoutMs, const std::function<bool()>& stop,
                                       Clock& clock) {
    const std::uint64_t deadline = clock.NowMs() + timeoutMs;
    std::vector<HostLookupProgress> lookups(hosts.size());
    std::vector<Query> queries;
    queries.reserve(hosts.size());  // the resolver keeps pointers to them
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        if (!ReadAddress(hosts[i], lookups[i])) {
            queries.push_back(Query{&lookups[i]});
        }
    }
    if (queries.empty()) {
        return HostLookupResults(std::move(lookups));
    }
    ares_channel channel = nullptr;
    int status = StartResolverLibrary();
    if (status == ARES_SUCCESS) {
        status = ::ares_init(&channel);
    }
    if (status != ARES_SUCCESS) {
        for (Query& query : queries) {
            query.lookup->error =
                Error{ErrorKind::kFailed, std::string("the name resolver cannot start (") +
                                              ::ares_strerror(status) + ")"};
        }
        return HostLookupResults(std::move(lookups));
    }
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    for (std::size_t k = 0; k < queries.size(); ++k) {
        const auto index = static_cast<std::size_t>(queries[k].lookup - lookups.data());
        ::ares_getaddrinfo(channel, hosts[index].c_str(), nullptr, &hints, &OnAnswer, &queries[k]);
    }
    const Error cut = WaitForAnswers(channel, queries, deadline, stop, clock);
    // Dropping the channel drops its queries and closes its sockets; the queries still
    // pending learn nothing more.
    ::ares_destroy(channel);
    for (Query& query : queries) {
        if (!query.done) {
            query.lookup->addresses.clear();
            query.lookup->error = cut;
        }
    }
    return HostLookupResults(std::move(lookups));
}

}  // namespace quillon
