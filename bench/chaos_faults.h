#pragma once

// What the chaos soaks share: seeded draws that replay anywhere, the faults of one virtual
// target drawn from them, what the target's report says happened, and the soaks' options.
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace quillon {

namespace bench {

// The monitor file of the chaos soaks: "Erase all sectors" erases sectors 0 to 3.
constexpr std::uint16_t kChaosEraseAllSectors = 4;
constexpr std::size_t kChaosMonitorBytes = 512;

// splitmix64: small, and the same draws with every compiler and library, so a seed replays
// anywhere.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    int Between(int low, int high) { return low + Below(high - low + 1); }
    bool Percent(int p) { return Below(100) < p; }

private:
    std::uint64_t m_state;
};

// The generator's seed for one cycle of a run seeded with `seed`.
std::uint64_t CycleSeed(std::uint64_t seed, unsigned cycle);

// A target's faults as quillon-sim options.
struct FaultMix {
    std::vector<std::string> args;
    bool eraseAll = false;
    std::string hard;              // the hard fault's options; empty without one
    std::uint32_t echoWindow = 1;  // the host's, for the monitor upload

    std::string Text() const;
};

// "STAGE@K", as the target's fault options name an answer.
std::string At(const char* stage, int index);

// Soft faults (late, swallowed, busy and split answers, short stalls, idle noise) that must not
// keep the host from succeeding, and in about one draw in four one hard fault (an error or CRC
// answer, a refused finalize, a failing RAM test, a wrong ident) that must make it fail.
// `eraseAll`: the host erases sectors 0 to 3 as well.
FaultMix DrawFaults(Rng& rng, const SoakImage& image, int ramTestMs, bool eraseAll);

// The loader's receiver and the host's echo window: in about one draw in three a loader that
// takes a monitor byte every 50 to 400 µs into a buffer of 1 to 4 bytes, and in about half of
// the draws a window of 2 to 64 bytes. A window can then overrun the receiver, and the byte
// lost there must end Initialize in a failure. Drawn after DrawFaults, so that a seed's other
// faults stay as they were.
void DrawEchoWindow(Rng& rng, FaultMix& mix);

// The target's side, from its report.
struct Truth {
    bool read = false;
    bool monitorStarted = false;
    int finalized = 0;
    bool flashHoldsImage = false;
    bool hardPlayed = false;  // also when the target lost monitor bytes to overruns
    long overruns = 0;
    std::set<std::string> kindsPlayed;
    std::vector<std::string> injected;  // "stage kind: detail"
    std::vector<std::string> seen;
    std::vector<std::string> sessions;  // "ended by ...: stage, stage, ..."

    // The target accepted a finalize and its flash holds the image.
    bool Downloaded() const { return finalized >= 1 && flashHoldsImage; }
    // Its sessions, faults played and faults seen, a line each after `indent`.
    void Print(const char* indent) const;
};
Truth ReadTruth(const std::filesystem::path& report, const SoakImage& image);

struct SoakOptions {
    unsigned cycles = 20;
    unsigned firstCycle = 1;
    std::uint64_t seed = 0;  // a random one when not given
    int ramTestMs = 0;
    unsigned progress = 0;
    std::string cli;  // --cli, the production soak's quillon-cli
};
// The options after --chaos or --production (`withCli`: --cli PATH as well); false on a bad one.
bool ParseSoakOptions(const std::vector<std::string>& args, bool withCli, SoakOptions* options);

}  // namespace bench

}  // namespace quillon
