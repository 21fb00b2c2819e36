#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// The virtual target's own reading of an Intel HEX file (record types 00, 01, 02 and 04; 03
// and 05 carry start addresses and are skipped). It keeps only the 64 KB segments that hold
// data, each with its fill mark: the offset of the highest byte stored (0 for a segment that
// holds nothing). Unwritten bytes read 0xFF.
class SimHexImage {
public:
    static constexpr std::uint32_t kSegmentSize = 0x10000;
    static constexpr int kSegmentCount = 256;

    // Reads `path`; an error's text names file and line.
    [[nodiscard]] Status Load(const std::string& path);
    // Reads HEX text; `origin` names it in errors.
    [[nodiscard]] Status Parse(const std::string& text, const std::string& origin);

    std::uint8_t Byte(int segment, std::uint32_t offset) const;
    std::uint16_t FillMark(int segment) const;
    bool HasSegment(int segment) const { return m_segments.count(segment) != 0; }
    // `count` bytes from `offset` of `segment`, 0xFF where nothing was stored. The stretch may
    // run past the segment's end into the next ones.
    std::vector<std::uint8_t> Bytes(int segment, std::uint32_t offset, std::size_t count) const;

private:
    struct Segment {
        std::array<std::uint8_t, kSegmentSize> bytes;
        std::uint16_t fillMark = 0;
    };
    void Store(std::uint32_t address, std::uint8_t value);

    std::map<int, std::unique_ptr<Segment>> m_segments;
};

}  // namespace quillon
