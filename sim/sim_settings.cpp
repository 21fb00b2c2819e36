#include "sim/sim_settings.h"
#include "helpers/text_format.h"

#include <array>
#include <cstdlib>

namespace quillon {

namespace {

constexpr std::array<const char*, kSimStageCount> kStageNames = {
    "ident",           "loader-ack", "ram-report", "monitor-load", "monitor-data",
    "monitor-started", "erase",      "erase-done", "block",        "finalize"};

}  // namespace

const char* SimStageName(SimStage stage) {
    return kStageNames[static_cast<std::size_t>(stage)];
}

std::optional<SimStage> ParseSimStage(const std::string& name) {
    for (std::size_t i = 0; i < kStageNames.size(); ++i) {
        if (name == kStageNames[i]) {
            return static_cast<SimStage>(i);
        }
    }
    return std::nullopt;
}

std::string StageSelector::Text() const {
    std::string text = SimStageName(stage);
    if (index >= 0) {
        text += '@';
        text += std::to_string(index);
    }
    return text;
}

std::optional<StageSelector> ParseStageSelector(const std::string& text) {
    const std::size_t at = text.find('@');
    const auto stage = ParseSimStage(text.substr(0, at));
    if (!stage) {
        return std::nullopt;
    }
    StageSelector selector{*stage, -1};
    if (at != std::string::npos) {
        const std::optional<std::int64_t> index =
            DecimalInRange(text.substr(at + 1), 0, 0x7FFFFFFF);
        if (!index) {
            return std::nullopt;
        }
        selector.index = static_cast<int>(*index);
    }
    return selector;
}

}  // namespace quillon
