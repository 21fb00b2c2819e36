#include "sim/sim_report.h"

#include <cstdio>
#include <sstream>

#include "platform/sha256.h"

namespace quillon {

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F) {
            // Non-ASCII bytes become escapes too, so the report stays valid UTF-8 whatever
            // a monitor file or frame held.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Address(std::uint32_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "\"0x%06X\"", address);
    return text;
}

template <typename T, typename F>
std::string List(const std::vector<T>& items, F&& format, const std::string& indent) {
    if (items.empty()) {
        return "[]";
    }
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i == 0 ? "\n" : ",\n") + indent + "  " + format(items[i]);
    }
    return out + "\n" + indent + "]";
}

std::string Event(const SimEvent& event) {
    return "{\"session\": " + std::to_string(event.session) +
           ", \"stage\": " + Quoted(event.stage) + ", \"kind\": " + Quoted(event.kind) +
           ", \"detail\": " + Quoted(event.detail) + "}";
}

std::string OptionalNumber(long value) {
    return value < 0 ? "null" : std::to_string(value);
}

std::string Session(const SessionRecord& s) {
    const std::string in = "      ";
    std::ostringstream out;
    out << "{\n"
        << in << "\"number\": " << s.number << ",\n"
        << in << "\"endedBy\": " << (s.endedBy.empty() ? "null" : Quoted(s.endedBy)) << ",\n"
        << in << "\"stagesReached\": [" <<
        [&] {
            std::string names;
            for (std::size_t i = 0; i < s.stagesReached.size(); ++i) {
                names += (i ? ", " : "") + Quoted(SimStageName(s.stagesReached[i]));
            }
            return names;
        }()
        << "],\n"
        << in << "\"loader\": {\"expectedBytes\": " << s.loaderExpected
        << ", \"receivedBytes\": " << s.loaderReceived << ", \"matches\": "
        << (s.loaderReceived == s.loaderExpected && s.loaderMismatchAt < 0 ? "true" : "false")
        << ", \"firstMismatch\": " << OptionalNumber(s.loaderMismatchAt) << "},\n"
        << in << "\"monitor\": {\"expectedBytes\": " << s.monitorExpected
        << ", \"announcedBytes\": " << OptionalNumber(s.monitorAnnounced)
        << ", \"receivedBytes\": " << s.monitorReceived << ", \"matches\": "
        << (s.monitorReceived == s.monitorExpected && s.monitorMismatchAt < 0 ? "true" : "false")
        << ", \"firstMismatch\": " << OptionalNumber(s.monitorMismatchAt)
        << ", \"started\": " << (s.monitorStarted ? "true" : "false")
        << ", \"overruns\": " << s.overruns << "},\n"
        << in << "\"eraseSequence\": [" <<
        [&] {
            std::string sectors;
            for (std::size_t i = 0; i < s.eraseSequence.size(); ++i) {
                sectors += (i ? ", " : "") + std::to_string(s.eraseSequence[i]);
            }
            return sectors;
        }()
        << "],\n"
        << in << "\"blocksProgrammed\": " << s.blocksProgrammed << ",\n"
        << in << "\"blockRepeats\": " << s.blockRepeats << ",\n"
        << in << "\"programmedBlocks\": "
        << List(
               s.blockRuns,
               [](const BlockRun& run) {
                   return "{\"from\": " + Address(run.from) + ", \"to\": " + Address(run.to) +
                          ", \"count\": " + std::to_string(run.count) + "}";
               },
               in)
        << ",\n"
        << in << "\"finalized\": " << s.finalizeCount << "\n"
        << "    }";
    return out.str();
}

// The UART's part of the line, after its other fields; nothing without one.
std::string Uart(const std::optional<SimLineInfo::Uart>& uart) {
    if (!uart) {
        return {};
    }
    return ", \"uart\": {\"hostBaud\": " + std::to_string(uart->hostBaud) +
           ", \"baud\": " + std::to_string(uart->baud) +
           ", \"divider\": " + std::to_string(uart->divider) +
           ", \"mismatched\": " + (uart->mismatched ? "true" : "false") + "}";
}

}  // namespace

std::string SimReportJson(const TargetModel& model, const SimLineInfo& line) {
    const SimRecord& record = model.record();
    const SimMonitorFile& file = model.monitorFile();
    std::vector<int> programmed;
    for (int s = 0; s < FlashModel::kSectorCount; ++s) {
        if (model.flash().IsProgrammed(s)) {
            programmed.push_back(s);
        }
    }
    std::ostringstream out;
    out << "{\n"
        << "  \"target\": {\"name\": " << Quoted(file.targetName)
        << ", \"monitorFile\": " << Quoted(file.path)
        << ", \"flashType\": " << Quoted(model.reportedFlashType())
        << ", \"acceptLetter\": " << Quoted(std::string(1, model.settings().acceptLetter)) << "},\n"
        << "  \"line\": {\"slave\": " << Quoted(line.slavePath)
        << ", \"link\": " << (line.link.empty() ? "null" : Quoted(line.link))
        << ", \"baud\": " << line.baud << Uart(line.uart) << "},\n"
        << "  \"sessions\": " << List(record.sessions, Session, "  ") << ",\n"
        << "  \"noiseIgnored\": " << record.noiseIgnored << ",\n"
        << "  \"overruns\": " << record.overruns << ",\n"
        << "  \"faultsSeen\": " << List(record.faultsSeen, Event, "  ") << ",\n"
        << "  \"faultsInjected\": " << List(record.faultsInjected, Event, "  ") << ",\n"
        << "  \"programmedSectors\": "
        << List(
               programmed,
               [&](int sector) {
                   return "{\"sector\": " + std::to_string(sector) + ", \"sha256\": \"" +
                          Sha256Hex(model.flash().Sector(sector), FlashModel::kSectorSize) + "\"}";
               },
               "  ")
        << "\n}\n";
    return out.str();
}

}  // namespace quillon
