#include "image/monitor_file_catalog.h"

#include <algorithm>
#include <filesystem>

#include "helpers/ascii_case.h"
#include "image/monitor_file.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

namespace fs = std::filesystem;

bool IsMonitorFileName(const std::string& name) {
    return name.size() >= 4 && EqualIgnoringCase(name.substr(name.size() - 4), ".h86");
}

}  // namespace

std::string TargetNameFromFileName(const std::string& path) {
    const std::string title = Utf8FromPath(PathFromUtf8(path).stem());
    const std::size_t underscore = title.find('_');
    return underscore == std::string::npos ? title : title.substr(underscore + 1);
}

std::string MonitorFileDisplayName(const std::string& path, const ReaderMessageSink& onMessage) {
    const MonitorFileRead monitor = LoadMonitorFile(path);
    if (onMessage) {
        for (const std::string& text : ReaderMessages(monitor.read)) {
            onMessage(path, text);
        }
    }
    return monitor.file ? DisplayNameOf(monitor.file->header) : TargetNameFromFileName(path);
}

std::vector<MonitorFileEntry> ListMonitorFiles(const std::string& folder,
                                               const ReaderMessageSink& onMessage) {
    std::vector<MonitorFileEntry> entries;
    std::error_code error;
    for (fs::directory_iterator it(PathFromUtf8(folder), error), end; !error && it != end;
         it.increment(error)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError) ||
            !IsMonitorFileName(Utf8FromPath(it->path().filename()))) {
            continue;
        }
        const std::string path = Utf8FromPath(it->path());
        entries.push_back({MonitorFileDisplayName(path, onMessage), path});
    }
    SortMonitorFiles(entries);
    return entries;
}

void SortMonitorFiles(std::vector<MonitorFileEntry>& entries) {
    std::sort(entries.begin(), entries.end(),
              [](const MonitorFileEntry& a, const MonitorFileEntry& b) {
                  const int byName = CompareIgnoringCase(a.displayName, b.displayName);
                  return byName != 0 ? byName < 0 : CompareIgnoringCase(a.path, b.path) < 0;
              });
}

}  // namespace quillon
