#include "image/monitor_header.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "helpers/ascii_case.h"

namespace quillon {

namespace {

constexpr char kSignature[] = "MONITOR";
constexpr std::size_t kSignatureLength = sizeof kSignature - 1;

bool StartsWithSignature(const std::uint8_t* bytes) {
    return EqualIgnoringCase(
        std::string_view(reinterpret_cast<const char*>(bytes), kSignatureLength), kSignature);
}

std::uint16_t ReadLittleEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::string CutAtNul(const char* field, std::size_t size) {
    const auto* end = static_cast<const char*>(std::memchr(field, '\0', size));
    return std::string(field, end != nullptr ? static_cast<std::size_t>(end - field) : size);
}

}  // namespace

MonitorHeaderSearch SearchMonitorHeader(const HexImage& image) {
    MonitorHeaderSearch search;
    for (int s = 0; s < HexImage::kSegmentCount; ++s) {
        const std::uint8_t* segment = image.SegmentData(s);
        if (!StartsWithSignature(segment)) {
            continue;
        }
        search.segment = s;
        search.specification = ReadLittleEndian16(segment + offsetof(MonitorHeader, specification));
        const std::uint16_t loader =
            ReadLittleEndian16(segment + offsetof(MonitorHeader, loaderSegment));
        const std::uint16_t monitor =
            ReadLittleEndian16(segment + offsetof(MonitorHeader, monitorSegment));
        const bool knownForm = search.specification == MonitorHeader::kLongForm ||
                               search.specification == MonitorHeader::kShortForm;
        const bool segmentsInImage =
            loader < HexImage::kSegmentCount && monitor < HexImage::kSegmentCount;
        search.status = knownForm && segmentsInImage ? MonitorHeaderStatus::kAccepted
                                                     : MonitorHeaderStatus::kIncompatible;
        return search;
    }
    return search;
}

MonitorHeader CopyMonitorHeader(const MonitorHeaderSearch& search, const HexImage& image) {
    MonitorHeader header{};
    if (search.status != MonitorHeaderStatus::kAccepted) {
        return header;
    }
    const std::size_t length = search.specification == MonitorHeader::kLongForm
                                   ? MonitorHeader::kLongForm
                                   : MonitorHeader::kShortForm;
    std::memcpy(&header, image.SegmentData(search.segment), length);
    if (length == MonitorHeader::kShortForm) {
        header.eraseAllSectorCount = 0;
    }
    return header;
}

std::string TargetNameOf(const MonitorHeader& header) {
    return CutAtNul(header.targetName, sizeof header.targetName);
}

std::string FlashTypeNameOf(const MonitorHeader& header, int slot) {
    return CutAtNul(header.flashTypes[slot], MonitorHeader::kFlashTypeSlotSize);
}

bool IsFlashTypeInHeader(const MonitorHeader& header, const std::string& name) {
    const int slots = std::min<int>(header.flashTypeCount, MonitorHeader::kFlashTypeSlots);
    for (int k = 0; k < slots; ++k) {
        if (FlashTypeNameOf(header, k) == name) {
            return true;
        }
    }
    return false;
}

}  // namespace quillon
