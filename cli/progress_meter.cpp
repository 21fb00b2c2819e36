#include "cli/progress_meter.h"

#include <cstdio>

namespace quillon {

namespace {

const char* PhaseName(ProgressPhase phase) {
    return phase == ProgressPhase::kProgramming ? "Programming" : "Monitor upload";
}

// Kilobytes with one decimal; whole ones from 100 KB on, so that the bytes keep to a narrow
// terminal for any image.
std::string Kilobytes(std::uint32_t bytes, std::uint32_t total) {
    char text[32];
    if (total >= 100 * 1024) {
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(bytes / 1024));
    } else {
        std::snprintf(text, sizeof text, "%.1f", bytes / 1024.0);
    }
    return text;
}

int Columns(const std::string& text) {
    return static_cast<int>(text.size());  // the bar's texts are ASCII
}

}  // namespace

void ProgressMeter::Update(ProgressPhase phase, std::uint32_t done, std::uint32_t total) {
    const std::uint64_t now = m_clock.NowMs();
    if (!m_known || phase != m_phase || done < m_done) {
        m_known = true;
        m_phase = phase;
        m_startDone = done;
        m_startMs = now;
    }
    m_done = done;
    m_total = total;
    m_latestMs = now;
}

ProgressMeter::Numbers ProgressMeter::NumbersNow() const {
    Numbers numbers;
    const unsigned percent = m_total > 0 ? static_cast<unsigned>(100.0 * m_done / m_total) : 0;
    numbers.percent = std::to_string(percent) + "%";
    if (percent < 100) {
        numbers.percent.insert(0, percent < 10 ? "  " : " ");
    }
    numbers.bytes = Kilobytes(m_done, m_total) + "/" + Kilobytes(m_total, m_total) + " KB";
    const std::uint64_t elapsedMs = m_latestMs - m_startMs;
    if (elapsedMs == 0 || m_done <= m_startDone) {
        // One progress so far: no rate yet, but its place is kept.
        numbers.rate = "--.- KB/s";
        numbers.left = "-:-- left";
        return numbers;
    }
    const double bytesPerSecond = (m_done - m_startDone) * 1000.0 / elapsedMs;
    char text[48];
    std::snprintf(text, sizeof text, "%.1f KB/s", bytesPerSecond / 1024);
    numbers.rate = text;
    const auto left = static_cast<unsigned long>(
        (m_total > m_done ? m_total - m_done : 0) / bytesPerSecond + 0.5);
    std::snprintf(text, sizeof text, "%lu:%02lu left", left / 60, left % 60);
    numbers.left = text;
    return numbers;
}

bool ProgressMeter::FitsWhole(int width) const {
    return Text(width).find('[') != std::string::npos;
}

std::string ProgressMeter::Text(int width) const {
    const Numbers n = NumbersNow();
    const std::string name = PhaseName(m_phase);
    const std::string numbers = n.percent + "  " + n.bytes + "  " + n.rate + "  " + n.left;
    const int barWidth = width - Columns(name) - 4 - Columns(numbers);
    if (barWidth >= kMinimumBar) {
        const double fraction = m_total > 0 ? static_cast<double>(m_done) / m_total : 0.0;
        const auto filled = static_cast<std::size_t>(fraction * barWidth);
        return name + " [" + std::string(filled, '#') +
               std::string(static_cast<std::size_t>(barWidth) - filled, '-') + "] " + numbers;
    }
    // Narrower: the same parts in the same order, closer together and fewer.
    std::string percent = n.percent;
    percent.erase(0, percent.find_first_not_of(' '));
    for (const std::string& text :
         {name + " " + percent + " " + n.bytes + " " + n.rate + " " + n.left,
          percent + " " + n.bytes + " " + n.rate + " " + n.left,
          n.bytes + " " + n.rate + " " + n.left}) {
        if (Columns(text) <= width) {
            return text;
        }
    }
    return std::string();
}

}  // namespace quillon
