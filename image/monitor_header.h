#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/hex_image.h"

namespace quillon {

// The header of a monitor file's image: 170 or 172 bytes at offset 0 of one segment, found by
// its signature "MONITOR". Multi-byte fields are little-endian, as the data records place
// them; the layout below is that byte image.
struct MonitorHeader {
    static constexpr std::uint16_t kLongForm = 172;   // with eraseAllSectorCount
    static constexpr std::uint16_t kShortForm = 170;  // without it
    static constexpr int kFlashTypeSlots = 10;
    static constexpr int kFlashTypeSlotSize = 5;
    static constexpr int kTargetNameSize = 100;

    char signature[7];
    std::uint8_t reserved;
    std::uint16_t specification;
    std::uint16_t loaderSegment;
    std::uint16_t monitorSegment;
    std::uint8_t syncByte;
    std::uint8_t identByte;
    std::uint16_t level0Length;
    std::uint8_t loaderAck;
    std::uint8_t flashTypeCount;
    char flashTypes[kFlashTypeSlots][kFlashTypeSlotSize];
    char targetName[kTargetNameSize];
    std::uint16_t eraseAllSectorCount;
};

static_assert(std::endian::native == std::endian::little,
              "MonitorHeader is the header's little-endian byte image");
static_assert(sizeof(MonitorHeader) == MonitorHeader::kLongForm);
static_assert(offsetof(MonitorHeader, specification) == 8);
static_assert(offsetof(MonitorHeader, level0Length) == 16);
static_assert(offsetof(MonitorHeader, flashTypes) == 20);
static_assert(offsetof(MonitorHeader, targetName) == 70);
static_assert(offsetof(MonitorHeader, eraseAllSectorCount) == 170);

enum class MonitorHeaderStatus {
    kNoSignature,   // no segment starts with the signature
    kIncompatible,  // the first signature's header is not one this program can use
    kAccepted,
};

struct MonitorHeaderSearch {
    MonitorHeaderStatus status = MonitorHeaderStatus::kNoSignature;
    int segment = -1;                 // segment of the first signature, -1 when none
    std::uint16_t specification = 0;  // its specification word
};

// Scans segments 0..255 of `image` for the first one whose first 7 bytes read "MONITOR",
// letter case ignored; later segments are never looked at. That header is accepted when its
// specification word is 170 or 172 and both its loader and monitor segment numbers lie
// within the image (0..255); otherwise the file is incompatible. This is the one check every
// reader of a monitor file relies on, so no header field can lead outside the image.
MonitorHeaderSearch SearchMonitorHeader(const HexImage& image);

// The 172-byte working copy of an accepted header: the whole long form, or the short form
// followed by eraseAllSectorCount = 0 (the two bytes after a short header are not read).
MonitorHeader CopyMonitorHeader(const MonitorHeaderSearch& search, const HexImage& image);

// The target's display name, cut at its NUL or at the end of its 100-byte field.
std::string TargetNameOf(const MonitorHeader& header);

// The flash type name in slot `slot` (0..9), cut at its NUL or at the end of its 5 bytes.
std::string FlashTypeNameOf(const MonitorHeader& header, int slot);

// True when `name` equals, byte for byte and case-sensitive, one of the first flashTypeCount
// slots (at most 10 are looked at).
bool IsFlashTypeInHeader(const MonitorHeader& header, const std::string& name);

}  // namespace quillon
