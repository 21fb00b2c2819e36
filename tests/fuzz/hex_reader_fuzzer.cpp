// Feeds arbitrary bytes to the HEX reader as a file, then runs the monitor header search and
// header reads over the image it read. Any crash, out-of-bounds
// access or undefined behaviour is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/hex_reader.h"
#include "image/monitor_header.h"

using namespace quillon;

namespace {

std::string FuzzFilePath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/quillon-fuzz-" +
           std::to_string(getpid()) + ".hex";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = FuzzFilePath();

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    const HexReadResult read = ReadHexFile(path);
    // A failed read always says why; a good one has the digest of what it read.
    if (read ? read->sha256.empty() : read.error().text.empty()) {
        std::abort();
    }
    const HexImage& image = read ? read->image : read.error().storedBefore;
    const MonitorHeaderSearch search = SearchMonitorHeader(image);
    if (search.status == MonitorHeaderStatus::kAccepted) {
        const MonitorHeader header = CopyMonitorHeader(search, image);
        const std::string name = TargetNameOf(header);
        if (name.size() > MonitorHeader::kTargetNameSize) {
            std::abort();
        }
        for (int k = 0; k < MonitorHeader::kFlashTypeSlots; ++k) {
            IsFlashTypeInHeader(header, FlashTypeNameOf(header, k));
        }
        // The loader and monitor stretches the jobs read must lie inside the image.
        volatile std::uint8_t sink =
            image.Byte(header.loaderSegment, image.FillMark(header.loaderSegment));
        sink = image.Byte(header.monitorSegment, image.FillMark(header.monitorSegment));
        (void)sink;
    }
    return 0;
}
