#pragma once

#include <cstdint>
#include <string>

#include "link/job_events.h"
#include "platform/clock.h"

namespace quillon {

// The progress of a job's phase as quillon-cli's bar shows it, from the first block to the
// last in one form: the phase, a bar, the share done, the bytes, the rate and the time left.
// The rate is measured on `clock` from the phase's first progress to its latest.
class ProgressMeter {
public:
    explicit ProgressMeter(Clock& clock) : m_clock(clock) {}

    // A progress event; a new phase, or fewer bytes than before (the next job), starts the
    // measurement anew.
    void Update(ProgressPhase phase, std::uint32_t done, std::uint32_t total);
    // True while the phase has bytes left.
    bool InWork() const { return m_known && m_done < m_total; }

    // The bar in at most `width` columns: the whole form with a bar of at least kMinimumBar
    // cells; narrower, without the bar; narrower still, without the phase's name, and at the
    // narrowest without the share done. Empty when not even the bytes, the rate and the time
    // left fit.
    std::string Text(int width) const;
    // Whether the whole form, with its bar, fits in `width` columns.
    bool FitsWhole(int width) const;

    static constexpr int kMinimumBar = 10;

private:
    // The parts of the form after the bar: share done, bytes, rate, time left.
    struct Numbers {
        std::string percent, bytes, rate, left;
    };
    Numbers NumbersNow() const;

    Clock& m_clock;
    bool m_known = false;
    ProgressPhase m_phase = ProgressPhase::kMonitorUpload;
    std::uint32_t m_done = 0;
    std::uint32_t m_total = 0;
    std::uint32_t m_startDone = 0;  // the bytes done at the phase's first progress
    std::uint64_t m_startMs = 0;    // and its time on the clock
    std::uint64_t m_latestMs = 0;   // the latest progress's time
};

}  // namespace quillon
