#include "cli/production/station_event.h"

#include <cstdlib>

namespace quillon {

namespace {

std::string Escape(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

bool Unescape(const std::string& text, std::string& plain) {
    plain.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            plain += text[i];
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
            case '\\':
                plain += '\\';
                break;
            case 'n':
                plain += '\n';
                break;
            case 'r':
                plain += '\r';
                break;
            default:
                return false;
        }
    }
    return true;
}

// A decimal number of at most 10 digits, the whole field.
bool Number(const std::string& field, std::uint32_t& value) {
    if (field.empty() || field.size() > 10 || field.find_first_not_of("0123456789") != field.npos) {
        return false;
    }
    const unsigned long long parsed = std::strtoull(field.c_str(), nullptr, 10);
    if (parsed > 0xFFFFFFFFull) {
        return false;
    }
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

}  // namespace

std::string EncodeStationEvent(const StationEvent& event) {
    std::string line(1, static_cast<char>(event.kind));
    line += '\t';
    switch (event.kind) {
        case StationEventKind::kProgress:
            line += std::to_string(static_cast<unsigned>(event.phase)) + "\t" +
                    std::to_string(event.done) + "\t" + std::to_string(event.total);
            break;
        case StationEventKind::kResult:
            line += std::to_string(event.status) + "\t" + Escape(event.text);
            break;
        default:
            line += Escape(event.text);
            break;
    }
    return line + "\n";
}

bool DecodeStationEvent(const std::string& line, StationEvent& event) {
    if (line.size() < 2 || line[1] != '\t') {
        return false;
    }
    const std::string rest = line.substr(2);
    event = StationEvent{};
    event.kind = static_cast<StationEventKind>(line[0]);
    switch (event.kind) {
        case StationEventKind::kLine:
        case StationEventKind::kAppend:
        case StationEventKind::kMessage:
        case StationEventKind::kDebug:
        case StationEventKind::kFlashedDigest:
        case StationEventKind::kDownloadStart:
        case StationEventKind::kUnwrittenRecord:
        case StationEventKind::kAlive:
            return Unescape(rest, event.text);
        case StationEventKind::kProgress: {
            const std::size_t a = rest.find('\t');
            const std::size_t b = a == rest.npos ? rest.npos : rest.find('\t', a + 1);
            std::uint32_t phase = 0;
            if (b == rest.npos || !Number(rest.substr(0, a), phase) ||
                !Number(rest.substr(a + 1, b - a - 1), event.done) ||
                !Number(rest.substr(b + 1), event.total) ||
                (phase != static_cast<unsigned>(ProgressPhase::kMonitorUpload) &&
                 phase != static_cast<unsigned>(ProgressPhase::kProgramming))) {
                return false;
            }
            event.phase = static_cast<ProgressPhase>(phase);
            return true;
        }
        case StationEventKind::kResult: {
            const std::size_t tab = rest.find('\t');
            std::uint32_t status = 0;
            if (tab == rest.npos || !Number(rest.substr(0, tab), status) || status > 255) {
                return false;
            }
            event.status = static_cast<int>(status);
            return Unescape(rest.substr(tab + 1), event.text);
        }
    }
    return false;
}

}  // namespace quillon
