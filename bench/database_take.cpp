// The factory database's serial numbers against a PostgreSQL server on this machine, over
// 127.0.0.1 (started here in a folder of its own, as the tests do, each commit flushed): the time
// to take one number (median and 90th percentile of single takes one after another), and the
// numbers taken per second with 16 stations taking at once, each over a connection of its own.
//   database_take [--takes N] [--stations S]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "database/factory_database.h"
#include "helpers/text_format.h"
#include "tests/support/postgres_server.h"

using namespace quillon;

namespace {

using SteadyClock = std::chrono::steady_clock;

double Milliseconds(SteadyClock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

int main(int argc, char** argv) {
    int takes = 500;
    int stations = 16;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::optional<std::int64_t> value = DecimalInRange(argv[i + 1], 1, 100000);
        if (!value ||
            (std::strcmp(argv[i], "--takes") != 0 && std::strcmp(argv[i], "--stations") != 0)) {
            std::fprintf(stderr, "usage: database_take [--takes N] [--stations S]\n");
            return 2;
        }
        (std::strcmp(argv[i], "--takes") == 0 ? takes : stations) = static_cast<int>(*value);
    }
    PostgresServer server(PostgresServer::Setup{true, true});
    if (!server.started()) {
        std::fprintf(stderr, "database_take: %s\n", server.failure().c_str());
        return 1;
    }
    FactoryDatabase database(server.ConnInfo());
    if (const Result<int> opened = database.Open(nullptr); !opened) {
        std::fprintf(stderr, "database_take: %s\n", opened.error().text.c_str());
        return 1;
    }
    const SerialClaim claim{"bench", "/dev/ttyUSB0", "run", 1};
    std::vector<double> ms;
    for (int i = 0; i < takes + 10; ++i) {
        const auto start = SteadyClock::now();
        const Result<std::uint64_t> taken = database.TakeNumber("single", 1, claim, nullptr);
        if (!taken) {
            std::fprintf(stderr, "database_take: %s\n", taken.error().text.c_str());
            return 1;
        }
        if (i >= 10) {  // the first takes warm the connection and the server's caches
            ms.push_back(Milliseconds(SteadyClock::now() - start));
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("one take: median %.3f ms, 90th percentile %.3f ms (%d takes)\n", ms[ms.size() / 2],
                ms[ms.size() * 9 / 10], takes);

    std::atomic<int> failures{0};
    std::vector<std::unique_ptr<FactoryDatabase>> connections;
    for (int s = 0; s < stations; ++s) {
        connections.push_back(std::make_unique<FactoryDatabase>(server.ConnInfo()));
        if (!connections.back()->Open(nullptr)) {
            ++failures;
        }
    }
    const auto start = SteadyClock::now();
    std::vector<std::thread> takers;
    for (int s = 0; s < stations; ++s) {
        takers.emplace_back([&, s] {
            const SerialClaim mine{"bench", "/dev/ttyUSB" + std::to_string(s), "run", 1};
            for (int i = 0; i < takes; ++i) {
                if (!connections[s]->TakeNumber("shared", 1, mine, nullptr)) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& taker : takers) {
        taker.join();
    }
    const double seconds = Milliseconds(SteadyClock::now() - start) / 1000;
    const std::optional<std::string> distinct = server.Sql(
        "SELECT count(DISTINCT number), count(*) FROM quillon_serial WHERE counter = "
        "'shared'");
    std::printf(
        "%d stations at once: %.0f numbers per second (%d numbers in %.2f s, "
        "distinct|claims %s), %d failed\n",
        stations, stations * takes / seconds, stations * takes, seconds,
        distinct ? distinct->substr(0, distinct->size() - 1).c_str() : "?", failures.load());
    return failures == 0 ? 0 : 1;
}
