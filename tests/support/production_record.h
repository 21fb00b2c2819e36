#pragma once

// The record a production run leaves, read back and checked line by line.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

#include "platform/host_name.h"
#include "platform/utf8_path.h"
#include "production/board_record.h"

namespace quillon {

// Expects the record file `path` to hold one line per board of `rounds` rounds on each of
// `ports` and no other: every board "ok" but board `failedBoard` of station `failedStation`,
// "failed" with `failure`.
inline void ExpectRecordOfRounds(const std::string& path, const std::vector<std::string>& ports,
                                 int rounds, std::size_t failedStation, int failedBoard,
                                 const std::string& failure) {
    std::ifstream in(PathFromUtf8(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    EXPECT_EQ(lines.size(), ports.size() * static_cast<std::size_t>(rounds));
    for (std::size_t station = 0; station < ports.size(); ++station) {
        for (int board = 1; board <= rounds; ++board) {
            const bool fails = station == failedStation && board == failedBoard;
            const auto found = std::find_if(lines.begin(), lines.end(), [&](const auto& line) {
                return ReadRecordLine(line, HostName(), ports[station], board).has_value();
            });
            ASSERT_NE(found, lines.end()) << station << " " << board;
            const RecordedBoard recorded =
                *ReadRecordLine(*found, HostName(), ports[station], board);
            EXPECT_EQ(recorded.result, fails ? "failed" : "ok") << station << " " << board;
            EXPECT_EQ(recorded.failure, fails ? failure : "") << station << " " << board;
        }
    }
}

}  // namespace quillon
