#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// The points at which the virtual target answers, in the order a session reaches them. They
// name the stages in the report and select where an injected fault strikes.
enum class SimStage {
    kIdent,           // answer to the sync byte
    kLoaderAck,       // after the last loader byte
    kRamReport,       // the 8-byte RAM test report
    kMonitorLoad,     // echoes of 0x02, 0x10, length low, length high, 0x03 (index 0..4)
    kMonitorData,     // echo of monitor byte k (index k)
    kMonitorStarted,  // 0x11 after the last monitor byte
    kErase,           // first answer to erase command k (with the flash type)
    kEraseDone,       // completion answer to erase command k
    kBlock,           // answer to block k (a repeated block keeps its number)
    kFinalize,        // answer to finalize command k
};
inline constexpr int kSimStageCount = 10;

const char* SimStageName(SimStage stage);
std::optional<SimStage> ParseSimStage(const std::string& name);

// A stage, and optionally which occurrence in a session (counted from 0); no index: every one.
struct StageSelector {
    SimStage stage = SimStage::kIdent;
    int index = -1;

    bool Matches(SimStage at, int atIndex) const {
        return stage == at && (index < 0 || index == atIndex);
    }
    std::string Text() const;
};

// Parses "STAGE" or "STAGE@K".
std::optional<StageSelector> ParseStageSelector(const std::string& text);

// Faults the target plays on purpose, so a host can be tested against each failure.
struct FaultPlan {
    int session = 0;  // 1-based session the faults apply to; 0: every session

    std::optional<std::uint8_t> wrongIdent;      // answer this instead of the ident byte
    std::optional<std::uint8_t> wrongLoaderAck;  // answer this instead of the loader ack
    std::optional<std::uint8_t> ramMarker;       // first byte of the RAM report instead of 0xAA
    struct RamFailure {
        std::uint32_t address = 0;
        std::uint8_t written = 0;   // "Set"
        std::uint8_t readBack = 0;  // "Act"
    };
    std::optional<RamFailure> ramFailure;
    std::optional<long> wrongEchoAt;  // echo monitor byte k inverted
    bool unknownFlashType = false;    // report a flash type the monitor file does not list

    struct Repeat {
        StageSelector at;
        int count = 0;
    };
    struct ErrorAnswer {
        StageSelector at;
        char code = 'F';
    };
    std::vector<StageSelector> crcErrorAt;  // answer "E" "C" there
    std::vector<ErrorAnswer> errorAt;       // answer "E" + code there
    std::vector<Repeat> dropAnswer;         // swallow the answer there `count` times
    std::vector<Repeat> busy;               // answer "D" `count` times before the real answer
    // Timing faults; each strikes the first answer that goes out at its stage in a session.
    struct Delay {
        StageSelector at;
        int ms = 0;
        std::size_t firstBytes = 3;  // split: how many bytes go out at once
    };
    // The target stops for `ms` where that answer is due: it and everything after it come
    // `ms` later, in their order.
    std::vector<Delay> lateAnswer;
    // The answer's first `firstBytes` bytes, the rest `ms` later (D answers are never split).
    std::vector<Delay> splitAnswer;
    std::optional<StageSelector> silentFrom;  // say nothing from there on
    std::optional<StageSelector> hangupAt;    // close the line there

    int noiseBytes = 0;
    enum class NoiseWhen { kIdle, kBeforeIdent };
    NoiseWhen noiseWhen = NoiseWhen::kIdle;
};

struct TargetSettings {
    std::string flashType;    // reported to erase commands; empty: the monitor file's first
    char acceptLetter = 'A';  // status letter of accepted answers; never 'E' or 'D'
    bool blankFlash = false;  // start erased instead of with old content
    int ramTestMs = 50;       // how long the RAM test runs before its report
    int eraseMs = 20;         // how long erasing one sector takes
    int programMs = 0;        // how long programming one block takes
    int busyIntervalMs = 20;  // gap between a "D" answer and the next answer
    int frameGapMs = 250;     // a frame that pauses longer is dropped as short
    int stallResetMs = 2000;  // an unfinished handshake that stalls this long starts over
    // The loader's receiver while it takes the monitor (its opening bytes and data): it holds
    // `rxFifo` bytes besides the one the loader works on, and the loader takes the next byte
    // `rxUs` microseconds after the last at the earliest. A byte that arrives while the
    // buffer is full is lost (an overrun). 0: the loader takes every byte as it comes.
    int rxFifo = 1;
    int rxUs = 0;
    FaultPlan faults;
};

}  // namespace quillon
