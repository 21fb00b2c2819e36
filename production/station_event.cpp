#include "production/station_event.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "cli/exit_status.h"
#include "helpers/text_format.h"

namespace quillon {

namespace {

// The letter of each kind on the pipe.
constexpr struct {
    JobEvent::Kind kind;
    char letter;
} kLetters[] = {
    {JobEvent::Kind::kLine, 'L'},          {JobEvent::Kind::kAppend, 'A'},
    {JobEvent::Kind::kProgress, 'P'},      {JobEvent::Kind::kReaderMessage, 'H'},
    {JobEvent::Kind::kMessage, 'M'},       {JobEvent::Kind::kDebug, 'D'},
    {JobEvent::Kind::kDone, 'E'},          {JobEvent::Kind::kFlashedDigest, 'F'},
    {JobEvent::Kind::kDownloadStart, 'S'}, {JobEvent::Kind::kUnwrittenRecord, 'W'},
    {JobEvent::Kind::kAlive, 'K'},         {JobEvent::Kind::kBoardEnd, 'R'},
};

std::string Escape(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
                break;
        }
    }
    return escaped;
}

Result<std::string> Unescape(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            plain += text[i];
            continue;
        }
        const char escaped = ++i < text.size() ? text[i] : '\0';
        switch (escaped) {
            case '\\':
                plain += '\\';
                break;
            case 't':
                plain += '\t';
                break;
            case 'n':
                plain += '\n';
                break;
            case 'r':
                plain += '\r';
                break;
            default:
                return Fail(ErrorKind::kInvalidData, "a broken escape");
        }
    }
    return plain;
}

// The fields after the kind's letter, each unescaped.
Result<std::vector<std::string>> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 2;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        Result<std::string> field = Unescape(line.substr(start, tab - start));
        if (!field) {
            return Fail(std::move(field).error());
        }
        fields.push_back(std::move(*field));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

// A field that holds a number from 0 to `highest`.
Result<std::uint32_t> Number(const std::string& field, std::uint32_t highest) {
    const auto number = DecimalInRange(field, 0, highest);
    if (!number) {
        return Fail(ErrorKind::kInvalidData, "not a number from 0 to " + std::to_string(highest));
    }
    return static_cast<std::uint32_t>(*number);
}

std::string ResultFields(const JobResult& result) {
    return std::to_string(static_cast<unsigned>(result.outcome)) + "\t" +
           std::to_string(static_cast<unsigned>(result.reason)) + "\t" + Escape(result.text) +
           "\t" + Escape(result.detail);
}

Result<JobResult> ResultOf(const std::vector<std::string>& fields) {
    const auto outcome = Number(fields[0], static_cast<unsigned>(JobOutcome::kAborted));
    const auto reason = Number(fields[1], static_cast<unsigned>(FailureReason::kLineLost));
    if (!outcome || !reason) {
        return Fail(ErrorKind::kInvalidData, "not a result");
    }
    return JobResult(static_cast<JobOutcome>(*outcome), static_cast<FailureReason>(*reason),
                     fields[2], fields[3]);
}

Result<JobEvent> ProgressOf(const std::vector<std::string>& fields) {
    const auto phase = Number(fields[0], static_cast<unsigned>(ProgressPhase::kProgramming));
    const auto done = Number(fields[1], 0xFFFFFFFFu);
    const auto total = Number(fields[2], 0xFFFFFFFFu);
    if (!phase || !done || !total ||
        *phase < static_cast<unsigned>(ProgressPhase::kMonitorUpload)) {
        return Fail(ErrorKind::kInvalidData, "not a progress");
    }
    return JobEvent::Progress(static_cast<ProgressPhase>(*phase), *done, *total);
}

// How many fields an event of `kind` has on the pipe.
std::size_t FieldCount(JobEvent::Kind kind) {
    switch (kind) {
        case JobEvent::Kind::kProgress:
            return 3;
        case JobEvent::Kind::kReaderMessage:
            return 2;
        case JobEvent::Kind::kBoardEnd:
            return 2;
        case JobEvent::Kind::kDone:
            return 4;
        default:
            return 1;
    }
}

}  // namespace

std::string EncodeJobEvent(const JobEvent& event) {
    std::string line;
    for (const auto& entry : kLetters) {
        if (entry.kind == event.kind) {
            line = std::string(1, entry.letter) + "\t";
        }
    }
    switch (event.kind) {
        case JobEvent::Kind::kProgress:
            line += std::to_string(static_cast<unsigned>(event.phase)) + "\t" +
                    std::to_string(event.done) + "\t" + std::to_string(event.total);
            break;
        case JobEvent::Kind::kReaderMessage:
            line += Escape(event.file) + "\t" + Escape(event.text);
            break;
        case JobEvent::Kind::kDone:
            line += ResultFields(event.result);
            break;
        case JobEvent::Kind::kBoardEnd:
            // The board's result as the program's exit status tells it, and its failure.
            line += std::to_string(ExitStatusOf(event.result)) + "\t" + Escape(event.result.text);
            break;
        default:
            line += Escape(event.text);
            break;
    }
    return line + "\n";
}

Result<JobEvent> DecodeJobEvent(const std::string& line) {
    if (line.size() < 2 || line[1] != '\t') {
        return Fail(ErrorKind::kInvalidData, "not an event");
    }
    const auto* entry = std::find_if(std::begin(kLetters), std::end(kLetters),
                                     [&](const auto& e) { return e.letter == line[0]; });
    if (entry == std::end(kLetters)) {
        return Fail(ErrorKind::kInvalidData, "not an event");
    }
    Result<std::vector<std::string>> fields = Fields(line);
    if (!fields || fields->size() != FieldCount(entry->kind)) {
        return Fail(ErrorKind::kInvalidData, "not an event");
    }
    switch (entry->kind) {
        case JobEvent::Kind::kProgress:
            return ProgressOf(*fields);
        case JobEvent::Kind::kReaderMessage:
            return JobEvent::ReaderMessage((*fields)[0], (*fields)[1]);
        case JobEvent::Kind::kDone: {
            Result<JobResult> result = ResultOf(*fields);
            if (!result) {
                return Fail(std::move(result).error());
            }
            return JobEvent::Done(std::move(*result));
        }
        case JobEvent::Kind::kBoardEnd: {
            const auto status = Number((*fields)[0], 255);
            if (!status) {
                return Fail(status.error());
            }
            return JobEvent::BoardEnd(BoardResult(static_cast<int>(*status), (*fields)[1]));
        }
        default:
            return JobEvent::Of(entry->kind, std::move((*fields)[0]));
    }
}

}  // namespace quillon
