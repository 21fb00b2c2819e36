#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/target_model.h"
#include "tests/support/virtual_line.h"

namespace quillon {

// A virtual line whose far end is quillon-sim's target model: the target of the monitor file
// `monitorHexText`, set up as quillon-sim's command-line `options` set it up, so that every
// fault the program can play is at hand. Its answers arrive when the model makes them due; its
// hang-up fault closes the line, and the next opening meets the target on a new line.
class SimLine : public VirtualLine {
public:
    SimLine(VirtualClock& clock, const std::string& monitorHexText,
            const std::vector<std::string>& options);

    // False (with the reason in error()) when the options or the monitor file were refused.
    bool ok() const { return m_model.has_value(); }
    const std::string& error() const { return m_error; }
    const TargetModel& target() const { return *m_model; }

protected:
    void Receive(const Bytes& bytes, std::uint64_t nowMs) override;
    void Closed(std::uint64_t nowMs) override;
    void HungUp(std::uint64_t atMs) override;

private:
    // Puts what the model has to send on the line.
    void Forward();

    std::optional<TargetModel> m_model;
    std::string m_error;
};

}  // namespace quillon
