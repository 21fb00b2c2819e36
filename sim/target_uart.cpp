#include "sim/target_uart.h"

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {

constexpr std::uint32_t kDividerLimit = 0xFFFF;

// The line's level in the sender's bit `index` of the character `byte`: the start bit low,
// the data bits LSB first, the stop bit and the idle line after it high.
bool LineLevel(std::uint8_t byte, std::uint64_t index) {
    if (index == 0) {
        return false;
    }
    if (index <= 8) {
        return ((byte >> (index - 1)) & 1) != 0;
    }
    return true;
}

}  // namespace

SampledCharacter SampleCharacter(std::uint8_t byte, std::uint32_t senderRate,
                                 std::uint32_t receiverRate) {
    // The receiver's sample of its bit k falls (k + 1/2) of its bit times after the edge:
    // in the sender's bits, (2k + 1) x senderRate / (2 x receiverRate).
    const auto sampleAt = [&](std::uint64_t k) {
        return LineLevel(byte, (2 * k + 1) * senderRate / (2 * std::uint64_t{receiverRate}));
    };
    SampledCharacter read;
    read.started = !sampleAt(0);
    if (!read.started) {
        return read;
    }
    for (std::uint64_t bit = 0; bit < 8; ++bit) {
        read.byte |= static_cast<std::uint8_t>((sampleAt(bit + 1) ? 1u : 0u) << bit);
    }
    read.framingError = !sampleAt(9);
    return read;
}

TargetUart::TargetUart(std::uint32_t clockHz, std::uint32_t prescale)
    : m_clockHz(clockHz), m_prescale(std::max<std::uint32_t>(prescale, 1)) {}

std::uint32_t TargetUart::RateOf(std::uint32_t divider) const {
    return static_cast<std::uint32_t>(std::llround(
        static_cast<double>(m_clockHz) / (static_cast<double>(m_prescale) * (divider + 1.0))));
}

void TargetUart::MeasureHost(std::uint32_t hostRate) {
    m_hostRate = hostRate;
    if (hostRate == 0) {
        return;
    }
    // The two dividers around the exact one; the nearer rate wins.
    const double exact =
        static_cast<double>(m_clockHz) / (static_cast<double>(m_prescale) * hostRate) - 1.0;
    const auto clamp = [](double divider) {
        return static_cast<std::uint32_t>(std::clamp(divider, 0.0, double{kDividerLimit}));
    };
    const std::uint32_t below = clamp(std::floor(exact));
    const std::uint32_t above = clamp(std::ceil(exact));
    const auto distance = [&](std::uint32_t divider) {
        return std::fabs(static_cast<double>(RateOf(divider)) - hostRate);
    };
    m_divider = distance(above) < distance(below) ? above : below;
}

std::uint32_t TargetUart::rate() const {
    return RateOf(m_divider);
}

bool TargetUart::Mismatched() const {
    return m_hostRate != 0 &&
           std::fabs(static_cast<double>(rate()) - m_hostRate) > m_hostRate * kMismatchLimit;
}

std::optional<std::uint8_t> TargetUart::Receive(std::uint8_t byte) const {
    if (!Mismatched()) {
        return byte;
    }
    const SampledCharacter read = SampleCharacter(byte, m_hostRate, rate());
    if (!read.started || read.framingError) {
        return std::nullopt;
    }
    return read.byte;
}

std::optional<std::uint8_t> TargetUart::Transmit(std::uint8_t byte) const {
    if (!Mismatched()) {
        return byte;
    }
    const SampledCharacter read = SampleCharacter(byte, rate(), m_hostRate);
    if (!read.started) {
        return std::nullopt;
    }
    return read.framingError ? std::uint8_t{0} : read.byte;
}

}  // namespace quillon
