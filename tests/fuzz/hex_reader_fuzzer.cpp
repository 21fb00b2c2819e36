// Feeds arbitrary bytes to the HEX reader as a file, then runs the monitor header search and
// header reads over whatever the load left in the image memory. Any crash, out-of-bounds
// access or undefined behaviour is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/hex_reader.h"
#include "image/image_memory.h"
#include "image/monitor_header.h"
#include "platform/message_box.h"

namespace {

std::string FuzzFilePath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/quillon-fuzz-" +
           std::to_string(getpid()) + ".hex";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = FuzzFilePath();
    static const bool quiet = [] {
        SetMessageBoxHandler([](const std::string&) {});
        return true;
    }();
    (void)quiet;

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    const int result = LoadHexFile(path);
    if (result != 0 && result != 1) {
        std::abort();
    }
    const MonitorHeaderSearch search = SearchMonitorHeader();
    if (search.status == MonitorHeaderStatus::kAccepted) {
        const MonitorHeader header = CopyMonitorHeader(search);
        const std::string name = TargetNameOf(header);
        if (name.size() > MonitorHeader::kTargetNameSize) {
            std::abort();
        }
        for (int k = 0; k < MonitorHeader::kFlashTypeSlots; ++k) {
            IsFlashTypeInHeader(header, FlashTypeNameOf(header, k));
        }
        // The loader and monitor stretches the jobs read must lie inside the image.
        volatile std::uint8_t sink =
            g_imageMemory.Byte(header.loaderSegment, g_imageMemory.FillMark(header.loaderSegment));
        sink = g_imageMemory.Byte(header.monitorSegment,
                                  g_imageMemory.FillMark(header.monitorSegment));
        (void)sink;
    }
    return 0;
}
