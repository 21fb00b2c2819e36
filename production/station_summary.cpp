#include "production/station_summary.h"

#include <algorithm>
#include <cstdio>

#include "helpers/text_format.h"

namespace quillon {

namespace {

// A table whose columns are as wide as their widest cell; the last column is not padded.
// Columns listed in `rightAligned` hold numbers.
std::string Table(const std::vector<std::vector<std::string>>& rows,
                  const std::vector<bool>& rightAligned) {
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], Utf8Columns(row[i]));
        }
    }
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string padding(widths[i] - Utf8Columns(row[i]), ' ');
            const bool last = i + 1 == row.size();
            line += rightAligned[i] ? padding + row[i] : row[i] + (last ? "" : padding);
            if (!last) {
                line += "  ";
            }
        }
        line.erase(line.find_last_not_of(' ') + 1);
        table += line + "\n";
    }
    return table;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

}  // namespace

std::string BoardCountLine(const StationTotals& totals) {
    std::string line = "board " + std::to_string(totals.boards) + ": " + totals.lastResult +
                       " \xE2\x80\x94 " + std::to_string(totals.ok) + " ok, " +
                       std::to_string(totals.failed) + " failed";
    if (totals.aborted > 0) {
        line += ", " + std::to_string(totals.aborted) + " aborted";
    }
    return line;
}

std::string SummaryTable(const std::vector<StationTotals>& stations, bool boardAfterBoard) {
    std::vector<std::vector<std::string>> rows;
    if (boardAfterBoard) {
        rows.push_back({"port", "boards", "ok", "failed", "aborted", "last failing line"});
        for (const StationTotals& s : stations) {
            rows.push_back({EscapeForTerminal(s.port, false), std::to_string(s.boards),
                            std::to_string(s.ok), std::to_string(s.failed),
                            std::to_string(s.aborted), EscapeForTerminal(s.lastFailure, false)});
        }
        return Table(rows, {false, true, true, true, true, false});
    }
    rows.push_back({"port", "result", "seconds", "failing line"});
    for (const StationTotals& s : stations) {
        rows.push_back({EscapeForTerminal(s.port, false),
                        s.lastResult.empty() ? "aborted" : s.lastResult, Seconds(s.lastSeconds),
                        s.lastResult == "ok" ? "" : EscapeForTerminal(s.lastFailure, false)});
    }
    return Table(rows, {false, false, true, false});
}

}  // namespace quillon
