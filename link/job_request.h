#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "image/hex_image.h"
#include "link/line_settings.h"

namespace quillon {

// Initialize: open the line, read the monitor file, bring the target from its bootstrap
// loader to the running monitor. The file is read once the line is open, as part of the job.
struct InitializeRequest {
    // The largest echo window: the line's buffer holds at most this many answers.
    static constexpr std::uint32_t kMaxEchoWindow = 1024;

    InitializeRequest() = default;
    explicit InitializeRequest(std::string file, std::uint32_t window = 1)
        : monitorFile(std::move(file)), echoWindow(window) {}

    std::string monitorFile;
    // How many monitor bytes may be on their way before the oldest one's echo is awaited:
    // 1 is lock step, each byte waiting for its echo. Larger windows need a target whose
    // loader takes bytes as fast as the wire brings them.
    std::uint32_t echoWindow = 1;
};

// Start Download: erase, program and finalize over the line Initialize opened, with the
// monitor header Initialize accepted.
struct DownloadRequest {
    // The image, read before the job by its owner; when none, the job reads `imageFile`.
    std::shared_ptr<const HexImage> image;
    std::string imageFile;
    // Also erase sectors 0 .. the header's erase-all count - 1.
    bool eraseAll = false;
};

struct JobRequest {
    std::variant<InitializeRequest, DownloadRequest> job;
    LineSettings line;
    Timeouts timeouts;
};

}  // namespace quillon
