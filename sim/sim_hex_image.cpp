#include "sim/sim_hex_image.h"

#include <fstream>
#include <sstream>

namespace quillon {

namespace {

constexpr std::uint32_t kAddressSpace = 0x1000000;
constexpr std::size_t kLargestFile = 64U * 1024U * 1024U;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Decodes the hexadecimal pairs after the colon; false on an odd count or a non-digit.
bool DecodeRecord(const std::string& line, std::vector<std::uint8_t>* bytes) {
    if ((line.size() - 1) % 2 != 0) {
        return false;
    }
    bytes->clear();
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
        const int high = HexDigit(line[i]);
        const int low = HexDigit(line[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes->push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

// Decodes the record `line` into `record`: what is wrong with it, or nothing.
const char* RecordFault(const std::string& line, std::vector<std::uint8_t>& record) {
    if (line[0] != ':') {
        return "a record must start with ':'";
    }
    if (!DecodeRecord(line, &record) || record.size() < 5) {
        return "not a record of hexadecimal digit pairs";
    }
    if (record.size() != static_cast<std::size_t>(record[0]) + 5) {
        return "the length byte does not match the record";
    }
    std::uint8_t sum = 0;
    for (const std::uint8_t b : record) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    return sum != 0 ? "wrong checksum" : nullptr;
}

}  // namespace

Status SimHexImage::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Fail(ErrorKind::kNotFound, path + ": cannot be read");
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().size() > kLargestFile) {
        return Fail(ErrorKind::kTooLarge, path + ": larger than 64 MB, not a monitor file");
    }
    return Parse(text.str(), path);
}

Status SimHexImage::Parse(const std::string& text, const std::string& origin) {
    m_segments.clear();
    std::uint32_t base = 0;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& what) -> Status {
        return Fail(ErrorKind::kInvalidData, origin + ":" + std::to_string(number) + ": " + what);
    };
    std::vector<std::uint8_t> record;
    while (std::getline(lines, line)) {
        ++number;
        while (!line.empty() &&
               (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        if (const char* fault = RecordFault(line, record)) {
            return fail(fault);
        }
        const std::size_t length = record[0];
        const std::uint32_t offset = static_cast<std::uint32_t>(record[1] << 8 | record[2]);
        const std::uint8_t* data = record.data() + 4;
        switch (record[3]) {
            case 0x00:
                for (std::size_t i = 0; i < length; ++i) {
                    const std::uint32_t address = base + offset + static_cast<std::uint32_t>(i);
                    if (address >= kAddressSpace) {
                        return fail("data beyond the 16 MB address space");
                    }
                    Store(address, data[i]);
                }
                break;
            case 0x01:
                return {};
            case 0x02:
            case 0x04:
                if (length != 2) {
                    return fail("an address record needs two data bytes");
                }
                base = static_cast<std::uint32_t>(data[0] << 8 | data[1]);
                base = record[3] == 0x02 ? base << 4 : base << 16;
                break;
            case 0x03:
            case 0x05:
                break;
            default:
                return fail("unknown record type");
        }
    }
    return {};
}

void SimHexImage::Store(std::uint32_t address, std::uint8_t value) {
    const int segment = static_cast<int>(address / kSegmentSize);
    const auto offset = static_cast<std::uint16_t>(address % kSegmentSize);
    auto& slot = m_segments[segment];
    if (!slot) {
        slot = std::make_unique<Segment>();
        slot->bytes.fill(0xFF);
    }
    slot->bytes[offset] = value;
    if (offset > slot->fillMark) {
        slot->fillMark = offset;
    }
}

std::uint8_t SimHexImage::Byte(int segment, std::uint32_t offset) const {
    const auto it = m_segments.find(segment);
    return it == m_segments.end() || offset >= kSegmentSize ? std::uint8_t{0xFF}
                                                            : it->second->bytes[offset];
}

std::uint16_t SimHexImage::FillMark(int segment) const {
    const auto it = m_segments.find(segment);
    return it == m_segments.end() ? std::uint16_t{0} : it->second->fillMark;
}

std::vector<std::uint8_t> SimHexImage::Bytes(int segment, std::uint32_t offset,
                                             std::size_t count) const {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t address =
            static_cast<std::uint64_t>(segment) * kSegmentSize + offset + i;
        bytes[i] = address >= kAddressSpace
                       ? std::uint8_t{0xFF}
                       : Byte(static_cast<int>(address / kSegmentSize),
                              static_cast<std::uint32_t>(address % kSegmentSize));
    }
    return bytes;
}

}  // namespace quillon
