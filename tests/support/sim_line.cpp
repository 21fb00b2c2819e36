#include "tests/support/sim_line.h"

#include "sim/sim_command_line.h"

namespace quillon {

namespace {

SimClock::time_point At(std::uint64_t ms) {
    return SimClock::time_point{} + std::chrono::milliseconds(ms);
}

std::uint64_t Ms(SimClock::time_point at) {
    return static_cast<std::uint64_t>(
        std::chrono::ceil<std::chrono::milliseconds>(at.time_since_epoch()).count());
}

}  // namespace

SimLine::SimLine(VirtualClock& clock, const std::string& monitorHexText,
                 const std::vector<std::string>& options)
    : VirtualLine(clock) {
    const Result<SimCommandLine> command = ParseSimCommandLine(options);
    if (!command) {
        m_error = command.error().text;
        return;
    }
    Result<SimMonitorFile> file = ParseSimMonitorFile(monitorHexText, "monitor file");
    if (!file) {
        m_error = file.error().text;
        return;
    }
    m_model.emplace(std::move(*file), command->settings);
    m_model->Start(At(clock.NowMs()));
    Forward();
}

void SimLine::Receive(const Bytes& bytes, std::uint64_t nowMs) {
    for (const std::uint8_t byte : bytes) {
        m_model->Receive(byte, At(nowMs));
    }
    Forward();
}

void SimLine::Closed(std::uint64_t nowMs) {
    m_model->TakeEmissions();  // lost with the line
    m_model->LineClosed(At(nowMs));
    Forward();
}

void SimLine::HungUp(std::uint64_t atMs) {
    m_model->LineHungUp(At(atMs));
    Forward();
}

void SimLine::Forward() {
    for (SimEmission& emission : m_model->TakeEmissions()) {
        if (emission.hangup) {
            HangUpAt(Ms(emission.notBefore));
        } else {
            Send(Ms(emission.notBefore), std::move(emission.bytes));
        }
    }
}

}  // namespace quillon
