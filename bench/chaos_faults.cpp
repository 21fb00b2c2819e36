#include "bench/chaos_faults.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>

#include "helpers/text_format.h"
#include "platform/sha256.h"
#include "sim/flash_model.h"

namespace quillon {

namespace bench {

namespace {

// A decimal number of up to 64 bits: its last digit apart, since the rest fits the signed
// 64 bits that DecimalInRange reads.
std::optional<std::uint64_t> Unsigned64(const std::string& text) {
    if (text.size() < 2) {
        return std::optional<std::uint64_t>(DecimalInRange(text, 0, 9));
    }
    const std::optional<std::int64_t> high = DecimalInRange(
        text.substr(0, text.size() - 1), 0, static_cast<std::int64_t>(UINT64_MAX / 10));
    const std::optional<std::int64_t> low = DecimalInRange(text.substr(text.size() - 1), 0, 9);
    if (!high || !low) {
        return std::nullopt;
    }
    const std::uint64_t tens = static_cast<std::uint64_t>(*high) * 10;
    if (tens > UINT64_MAX - static_cast<std::uint64_t>(*low)) {
        return std::nullopt;
    }
    return tens + static_cast<std::uint64_t>(*low);
}

constexpr std::uint8_t kIdentByte = 0x6B;  // bench::WriteMonitorFile's

// What only a hard fault leaves in the target's faultsInjected.
const std::set<std::string> kHardKinds = {"error", "crc-error", "ram-failure", "wrong-ident"};

std::string Section(const std::string& json, const std::string& from, const std::string& to) {
    const std::size_t begin = json.find("\"" + from + "\"");
    const std::size_t end = json.find("\"" + to + "\"", begin);
    return begin == std::string::npos ? std::string() : json.substr(begin, end - begin);
}

std::vector<std::smatch> Matches(const std::string& text, const std::regex& pattern) {
    return {std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()};
}

}  // namespace

std::uint64_t CycleSeed(std::uint64_t seed, unsigned cycle) {
    return Rng(seed ^ (0xD1B54A32D192ED03ULL * cycle)).Next();
}

std::string FaultMix::Text() const {
    std::string text;
    for (const std::string& arg : args) {
        text += (text.empty() ? "" : " ") + arg;
    }
    if (echoWindow > 1) {
        text += "; echo window ";
        text += std::to_string(echoWindow);
    }
    return text;
}

std::string At(const char* stage, int index) {
    return std::string(stage) + "@" + std::to_string(index);
}

FaultMix DrawFaults(Rng& rng, const SoakImage& image, int ramTestMs, bool eraseAll) {
    FaultMix mix;
    mix.eraseAll = eraseAll;
    std::set<int> erased = image.Sectors();
    for (int s = 0; mix.eraseAll && s < kChaosEraseAllSectors; ++s) {
        erased.insert(s);
    }
    const int erases = static_cast<int>(erased.size());
    const int blocks = image.BlockCount();
    auto add = [&](const std::string& option, const std::string& value) {
        mix.args.push_back(option);
        mix.args.push_back(value);
    };
    add("--ram-test-ms", std::to_string(ramTestMs));
    add("--erase-ms", std::to_string(rng.Between(0, 20)));

    // Soft faults.
    int lateBlock = -1;
    if (rng.Percent(35)) {
        lateBlock = rng.Below(blocks);
        add("--late-answer",
            At("block", lateBlock) + ":" + std::to_string(rng.Between(3200, 5000)));
    }
    if (rng.Percent(20)) {
        // A short stall, well inside the host's wait there.
        static const struct {
            const char* stage;
            int maxMs;
        } kStalls[] = {{"ram-report", 2000},
                       {"erase", 300},
                       {"erase-done", 2000},
                       {"block", 900},
                       {"finalize", 900}};
        const auto& stall = kStalls[rng.Below(5)];
        const int count = std::string(stall.stage) == "block"               ? blocks
                          : std::string(stall.stage).rfind("erase", 0) == 0 ? erases
                                                                            : 1;
        add("--late-answer", At(stall.stage, rng.Below(count)) + ":" +
                                 std::to_string(rng.Between(100, stall.maxMs)));
    }
    if (rng.Percent(25)) {
        // Not the late block: a block may go out five times in all, and a late answer takes
        // two of them.
        int block = rng.Below(blocks);
        if (block == lateBlock) {
            block = (block + 1) % blocks;
        }
        static const int kDrops[] = {1, 1, 1, 1, 2, 2, 3, 4};
        add("--drop-answer", At("block", block) + ":" + std::to_string(kDrops[rng.Below(8)]));
    }
    if (rng.Percent(40)) {
        const int where = rng.Below(3);
        const std::string at = where == 0   ? At("erase-done", rng.Below(erases))
                               : where == 1 ? At("block", rng.Below(blocks))
                                            : At("finalize", 0);
        add("--busy", at + ":" + std::to_string(rng.Between(1, 3)));
        // The answer after a "D" may follow at once; after a busy erase the completion may
        // then come cut in two: "D" and the completion's first bytes together, its rest later.
        add("--busy-interval-ms", std::to_string(rng.Percent(50) ? 0 : rng.Between(1, 40)));
        if (where == 0 && rng.Percent(50)) {
            add("--split-answer", at + ":" + std::to_string(rng.Between(5, 300)) + ":" +
                                      std::to_string(rng.Between(1, 6)));
        }
    }
    for (int splits = rng.Below(3); splits > 0; --splits) {
        const int where = rng.Below(5);
        const std::string at = where == 0   ? At("ram-report", 0)
                               : where == 1 ? At("erase", rng.Below(erases))
                               : where == 2 ? At("erase-done", rng.Below(erases))
                               : where == 3 ? At("block", rng.Below(blocks))
                                            : At("finalize", 0);
        add("--split-answer", at + ":" + std::to_string(rng.Between(5, 300)) + ":" +
                                  std::to_string(rng.Between(1, where == 0 ? 7 : 6)));
    }
    if (rng.Percent(30)) {
        add("--noise", std::to_string(rng.Between(1, 64)));
    }

    // At most one hard fault, in about one cycle in four.
    if (rng.Percent(25)) {
        static const char* const kCommandStages[] = {"erase", "erase-done", "block"};
        const int stage = rng.Below(3);
        const std::string at = At(kCommandStages[stage], rng.Below(stage == 2 ? blocks : erases));
        const std::string code(1, "FPWX"[rng.Below(4)]);
        switch (rng.Below(6)) {
            case 0:
            case 1:
                add("--error-at", "finalize:" + code);
                break;
            case 2:
                add("--error-at", at + ":" + code);
                break;
            case 3:
                add("--crc-error-at", at);
                break;
            case 4: {
                const int written = rng.Below(256);
                char value[64];
                std::snprintf(value, sizeof value, "0x%08X:0x%02X:0x%02X",
                              static_cast<unsigned>(rng.Next() & 0xFFFFF),
                              static_cast<unsigned>(written),
                              static_cast<unsigned>(written ^ (1 << rng.Below(8))));
                add("--ram-fail", value);
                break;
            }
            default: {
                const int ident = rng.Below(255);
                add("--wrong-ident", std::to_string(ident >= kIdentByte ? ident + 1 : ident));
                break;
            }
        }
        mix.hard = mix.args[mix.args.size() - 2] + " " + mix.args.back();
    }
    return mix;
}

void DrawEchoWindow(Rng& rng, FaultMix& mix) {
    if (rng.Percent(35)) {
        mix.args.insert(mix.args.end(), {"--rx-fifo", std::to_string(rng.Between(1, 4)), "--rx-us",
                                         std::to_string(rng.Between(50, 400))});
    }
    if (rng.Percent(50)) {
        mix.echoWindow = static_cast<std::uint32_t>(rng.Between(2, 64));
    }
}

Truth ReadTruth(const std::filesystem::path& report, const SoakImage& image) {
    Truth truth;
    std::ifstream in(report);
    if (!in) {
        return truth;
    }
    const std::string json(std::istreambuf_iterator<char>(in), {});
    truth.read = true;

    static const std::regex event(R"re(\{"session": \d+, "stage": "([^"]*)", "kind": "([^"]*)", )re"
                                  R"re("detail": "((?:[^"\\]|\\.)*)"\})re");
    // The matches point into these.
    const std::string injected = Section(json, "faultsInjected", "programmedSectors");
    const std::string seen = Section(json, "faultsSeen", "faultsInjected");
    for (const std::smatch& m : Matches(injected, event)) {
        truth.kindsPlayed.insert(m[2]);
        truth.hardPlayed = truth.hardPlayed || kHardKinds.count(m[2]) != 0;
        truth.injected.push_back(m[1].str() + " " + m[2].str() + ": " + m[3].str());
    }
    for (const std::smatch& m : Matches(seen, event)) {
        truth.seen.push_back(m[1].str() + " " + m[2].str() + ": " + m[3].str());
    }
    std::smatch overruns;
    const std::string counts = Section(json, "noiseIgnored", "faultsSeen");
    if (std::regex_search(counts, overruns, std::regex(R"("overruns": (\d+))"))) {
        truth.overruns = std::stol(overruns[1]);
    }
    if (truth.overruns > 0) {
        truth.kindsPlayed.insert("overrun");
        truth.hardPlayed = true;
        truth.injected.push_back("monitor-data overrun: " + std::to_string(truth.overruns) +
                                 " bytes lost");
    }
    // Each session from its "number" to the next one's.
    const std::string sessions = Section(json, "sessions", "noiseIgnored");
    static const std::regex ended(R"("endedBy": (null|"[a-z-]+"))");
    static const std::regex stages(R"("stagesReached": \[([^\]]*)\])");
    static const std::regex started(R"("started": true)");
    static const std::regex finalized(R"("finalized": (\d+))");
    for (std::size_t at = sessions.find("\"number\""); at != std::string::npos;) {
        const std::size_t next = sessions.find("\"number\"", at + 1);
        const std::string one = sessions.substr(at, next - at);
        at = next;
        std::smatch m;
        truth.monitorStarted = truth.monitorStarted || std::regex_search(one, started);
        const int count = std::regex_search(one, m, finalized)
                              ? static_cast<int>(DecimalInRange(m[1], 0, 1000000000).value_or(0))
                              : 0;
        truth.finalized += count;
        std::string text = std::regex_search(one, m, ended) ? m[1].str() : "?";
        text = "ended by " + text + ", finalized " + std::to_string(count);
        if (std::regex_search(one, m, stages)) {
            text += ", stages " + m[1].str();
        }
        truth.sessions.push_back(text);
    }

    std::vector<std::uint8_t> expected(FlashModel::kSize, 0xFF);
    image.ApplyTo(expected);
    const std::map<int, std::string> digests = SectorDigests(json);
    truth.flashHoldsImage = !digests.empty();
    for (const int s : image.Sectors()) {
        truth.flashHoldsImage = truth.flashHoldsImage && digests.count(s) != 0;
    }
    for (const auto& [s, digest] : digests) {
        truth.flashHoldsImage = truth.flashHoldsImage &&
                                digest == Sha256Hex(expected.data() + static_cast<std::size_t>(s) *
                                                                          FlashModel::kSectorSize,
                                                    FlashModel::kSectorSize);
    }
    return truth;
}

void Truth::Print(const char* indent) const {
    for (const std::string& s : sessions) {
        std::printf("%starget session: %s\n", indent, s.c_str());
    }
    for (const std::string& e : injected) {
        std::printf("%starget played: %s\n", indent, e.c_str());
    }
    for (const std::string& e : seen) {
        std::printf("%starget saw: %s\n", indent, e.c_str());
    }
}

bool ParseSoakOptions(const std::vector<std::string>& args, bool withCli, SoakOptions* options) {
    bool seedGiven = false;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        const std::string& name = args[i];
        if (withCli && name == "--cli") {
            options->cli = args[i + 1];
            continue;
        }
        // Decimal (a seed as printed: all of 64 bits), or hexadecimal after "0x".
        const std::string& value = args[i + 1];
        const bool hexadecimal = value.size() > 2 && value[0] == '0' && (value[1] | 0x20) == 'x';
        const std::optional<std::uint64_t> parsed =
            hexadecimal
                ? std::optional<std::uint64_t>(HexadecimalInRange(value.substr(2), 0, INT64_MAX))
                : Unsigned64(value);
        if (!parsed) {
            return false;
        }
        const auto number = static_cast<unsigned long long>(*parsed);
        if (name == "--cycles") {
            options->cycles = static_cast<unsigned>(number);
        } else if (name == "--first-cycle") {
            options->firstCycle = static_cast<unsigned>(number);
        } else if (name == "--seed") {
            options->seed = number;
            seedGiven = true;
        } else if (name == "--ram-test-ms") {
            options->ramTestMs = static_cast<int>(number);
        } else if (name == "--progress") {
            options->progress = static_cast<unsigned>(number);
        } else {
            return false;
        }
    }
    if (!seedGiven) {
        options->seed =
            (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return args.size() % 2 == 0 && options->cycles > 0 && options->firstCycle > 0 &&
           (!withCli || !options->cli.empty());
}

}  // namespace bench

}  // namespace quillon
