#include "sim/sim_monitor_file.h"

#include <algorithm>

#include "sim/sim_hex_image.h"

namespace quillon {

namespace {

constexpr int kHeaderLength = 172;

bool IsSignature(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kSignature[] = "monitor";
    for (std::size_t i = 0; i < 7; ++i) {
        std::uint8_t c = bytes[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<std::uint8_t>(c - 'A' + 'a');
        }
        if (c != static_cast<std::uint8_t>(kSignature[i])) {
            return false;
        }
    }
    return true;
}

int Word(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | (bytes[at + 1] << 8);
}

std::string Text(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size) {
    std::string text;
    for (std::size_t i = at; i < at + size && bytes[i] != 0; ++i) {
        text += static_cast<char>(bytes[i]);
    }
    return text;
}

Result<SimMonitorFile> ReadMonitorFile(const SimHexImage& image, const std::string& origin) {
    SimMonitorFile result;
    result.path = origin;
    SimMonitorFile* file = &result;
    for (int s = 0; s < SimHexImage::kSegmentCount; ++s) {
        if (!image.HasSegment(s)) {
            continue;
        }
        const std::vector<std::uint8_t> header = image.Bytes(s, 0, kHeaderLength);
        if (!IsSignature(header)) {
            continue;
        }
        file->headerSegment = s;
        file->specification = Word(header, 8);
        if (file->specification != 170 && file->specification != 172) {
            return Fail(ErrorKind::kInvalidData, origin + ": the header's specification " +
                                                     std::to_string(file->specification) +
                                                     " is neither 170 nor 172");
        }
        file->loaderSegment = Word(header, 10);
        file->monitorSegment = Word(header, 12);
        if (file->loaderSegment > 255 || file->monitorSegment > 255) {
            return Fail(ErrorKind::kInvalidData,
                        origin + ": the loader or monitor segment lies beyond segment 255");
        }
        file->syncByte = header[14];
        file->identByte = header[15];
        file->level0Length = Word(header, 16);
        file->loaderAck = header[18];
        const int typeCount = header[19];
        if (typeCount > 10) {
            return Fail(ErrorKind::kInvalidData, origin + ": more than 10 flash types");
        }
        file->flashTypes.clear();
        for (int k = 0; k < typeCount; ++k) {
            file->flashTypes.push_back(Text(header, 20 + 5 * static_cast<std::size_t>(k), 5));
        }
        file->targetName = Text(header, 70, 100);
        file->eraseAllSectorCount = file->specification == 172 ? Word(header, 170) : 0;

        const int loaderEnd = image.FillMark(file->loaderSegment) + 1;
        const int loaderLength = std::max(file->level0Length, loaderEnd);
        file->loader = image.Bytes(file->loaderSegment, 0, static_cast<std::size_t>(loaderLength));
        file->monitor =
            image.Bytes(file->monitorSegment, 0,
                        static_cast<std::size_t>(image.FillMark(file->monitorSegment)) + 1);
        return result;
    }
    return Fail(ErrorKind::kInvalidData, origin + ": no segment starts with the signature MONITOR");
}

}  // namespace

Result<SimMonitorFile> LoadSimMonitorFile(const std::string& path) {
    SimHexImage image;
    if (Status loaded = image.Load(path); !loaded) {
        return Fail(std::move(loaded).error());
    }
    return ReadMonitorFile(image, path);
}

Result<SimMonitorFile> ParseSimMonitorFile(const std::string& hexText, const std::string& origin) {
    SimHexImage image;
    if (Status parsed = image.Parse(hexText, origin); !parsed) {
        return Fail(std::move(parsed).error());
    }
    return ReadMonitorFile(image, origin);
}

}  // namespace quillon
