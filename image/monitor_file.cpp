#include "image/monitor_file.h"

#include "helpers/text_format.h"

namespace quillon {

MonitorFileRead LoadMonitorFile(const std::string& path, const StopCheck& stop) {
    MonitorFileRead result;
    result.read = ReadHexFile(path, stop);
    if (!result.read) {
        return result;
    }
    const MonitorHeaderSearch search = SearchMonitorHeader(result.read->image);
    result.status = search.status;
    if (search.status == MonitorHeaderStatus::kAccepted) {
        MonitorFile file;
        file.header = CopyMonitorHeader(search, result.read->image);
        file.image = std::move(result.read->image);
        result.file = std::move(file);
    }
    return result;
}

std::string DisplayNameOf(const MonitorHeader& header) {
    std::string name;
    for (const char c : TargetNameOf(header)) {
        name += Cp1252ToUtf8(static_cast<std::uint8_t>(c));
    }
    return name;
}

}  // namespace quillon
