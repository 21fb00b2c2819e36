#include "production/board_record.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>

#include "helpers/text_format.h"

namespace quillon {

namespace {

std::string JsonStringOrNull(const std::optional<std::string>& text) {
    return text ? JsonString(*text) : "null";
}

// Seconds to the millisecond; the program never changes the C locale, so the point is a point.
std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds < 0 ? 0.0 : seconds);
    return text;
}

// Microseconds as milliseconds with three decimals, or null.
std::string MillisecondsOrNull(const std::optional<std::uint64_t>& us) {
    if (!us) {
        return "null";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03llu", static_cast<unsigned long long>(*us / 1000),
                  static_cast<unsigned long long>(*us % 1000));
    return text;
}

std::string NumberOrNull(const std::optional<std::uint64_t>& value) {
    return value ? std::to_string(*value) : std::string("null");
}

// The JSON string that begins at `text[at]` (at its opening quote), unescaped; false when
// there is none.
bool ReadJsonString(const std::string& text, std::size_t at, std::string& value) {
    if (at >= text.size() || text[at] != '"') {
        return false;
    }
    value.clear();
    for (++at; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            return true;
        }
        if (c != '\\') {
            value += c;
            continue;
        }
        if (++at == text.size()) {
            return false;
        }
        switch (text[at]) {
            case 'u': {
                // Only control characters are written as \u escapes.
                if (at + 4 >= text.size()) {
                    return false;
                }
                const std::optional<std::int64_t> code =
                    HexadecimalInRange(text.substr(at + 1, 4), 0, 0xFFFF);
                if (!code) {
                    return false;  // no line of ours
                }
                value += static_cast<char>(*code & 0x7F);
                at += 4;
                break;
            }
            case 'n':
                value += '\n';
                break;
            case 't':
                value += '\t';
                break;
            case 'r':
                value += '\r';
                break;
            default:
                value += text[at];
                break;
        }
    }
    return false;
}

}  // namespace

std::optional<RecordedBoard> ReadRecordLine(const std::string& line, const std::string& host,
                                            const std::string& port, int board) {
    // The fields stand in the order BoardRecord::Line writes them.
    const std::string key = "\"host\": " + JsonString(host) + ", \"port\": " + JsonString(port) +
                            ", \"board\": " + std::to_string(board) + ", ";
    const std::size_t result = line.find(", \"result\": ");
    const std::size_t failure = line.find(", \"failure\": ");
    if (line.find(key) == std::string::npos || result == std::string::npos ||
        failure == std::string::npos) {
        return std::nullopt;
    }
    RecordedBoard recorded;
    if (!ReadJsonString(line, result + 12, recorded.result)) {
        return std::nullopt;
    }
    if (line.compare(failure + 13, 4, "null") != 0 &&
        !ReadJsonString(line, failure + 13, recorded.failure)) {
        return std::nullopt;
    }
    return recorded;
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                json += '\\';
                json += static_cast<char>(c);
            } else if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
                json += escaped;
            } else {
                json += static_cast<char>(c);
            }
            ++at;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(text, at);
        if (length == 0) {
            json += "\xEF\xBF\xBD";  // U+FFFD for the one byte
            ++at;
        } else {
            json.append(text, at, length);
            at += length;
        }
    }
    return json + "\"";
}

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(time);
    const auto day = floor<days>(seconds);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::seconds> clock{seconds - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::string BoardRecord::Line() const {
    return "{\"time\": " + JsonString(UtcTimestamp(time)) + ", \"host\": " + JsonString(host) +
           ", \"port\": " + JsonString(port) + ", \"board\": " + std::to_string(board) +
           ", \"target\": " + JsonString(target) + ", \"monitorFile\": " + JsonString(monitorFile) +
           ", \"image\": " + JsonStringOrNull(image) +
           ", \"imageSha256\": " + JsonStringOrNull(imageSha256) +
           ", \"flashedSha256\": " + JsonStringOrNull(flashedSha256) +
           ", \"serialNumber\": " + JsonStringOrNull(serialNumber) +
           ", \"serialAt\": " + JsonStringOrNull(serialAt) +
           ", \"eraseAll\": " + (eraseAll ? "true" : "false") +
           ", \"result\": " + JsonString(result) +
           ", \"failure\": " + (failure.empty() ? std::string("null") : JsonString(failure)) +
           ", \"initSeconds\": " + Seconds(initSeconds) +
           ", \"downloadSeconds\": " + Seconds(downloadSeconds) +
           ", \"answerDelayMs\": " + MillisecondsOrNull(answerDelayUs) +
           ", \"downloadBytesPerSecond\": " + NumberOrNull(downloadBytesPerSecond) + "}\n";
}

}  // namespace quillon
