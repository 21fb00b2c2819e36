#pragma once

#include <cstdint>
#include <optional>

namespace quillon {

// What a receiver makes of one 8N1 character sent at another rate.
struct SampledCharacter {
    bool started = false;       // the start bit was seen at its middle (else nothing is read)
    std::uint8_t byte = 0;      // the data bits as sampled
    bool framingError = false;  // the stop bit read low
};

// A character `byte` sent at `senderRate` and read by a receiver at `receiverRate` that starts
// at its falling edge and samples each of its ten bits (start, eight data bits LSB first,
// stop) in the middle of its own bit time; after the sender's stop bit the line idles high.
SampledCharacter SampleCharacter(std::uint8_t byte, std::uint32_t senderRate,
                                 std::uint32_t receiverRate);

// The target's UART: its rate is clock / (prescale x (divider + 1)) with a 16-bit divider,
// which the loader sets from the host's first byte to the nearest rate it can make. More than
// kMismatchLimit away from the host's rate the two garble each other's bytes: every byte is
// read as SampleCharacter reads it.
class TargetUart {
public:
    static constexpr double kMismatchLimit = 0.03;

    TargetUart(std::uint32_t clockHz, std::uint32_t prescale);

    // The loader measures the host sending at `hostRate` and picks its divider.
    void MeasureHost(std::uint32_t hostRate);

    std::uint32_t hostRate() const { return m_hostRate; }
    // The rate the UART makes with the divider it has.
    std::uint32_t rate() const;
    std::uint32_t divider() const { return m_divider; }
    // True when the rate made is more than kMismatchLimit from the host's.
    bool Mismatched() const;

    // A byte from the host as the loader reads it: none when its receiver saw no start bit or
    // a framing error (the loader drops such a byte).
    std::optional<std::uint8_t> Receive(std::uint8_t byte) const;
    // A byte from the target as the host reads it: none when no start bit was seen; a framing
    // error reads as 0x00, as a POSIX terminal hands it on.
    std::optional<std::uint8_t> Transmit(std::uint8_t byte) const;

private:
    std::uint32_t RateOf(std::uint32_t divider) const;

    std::uint32_t m_clockHz;
    std::uint32_t m_prescale;
    std::uint32_t m_divider = 0;
    std::uint32_t m_hostRate = 0;
};

}  // namespace quillon
