#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "image/hex_image.h"
#include "link/echo_window.h"
#include "link/line_settings.h"

namespace quillon {

// Initialize: open the line, read the monitor file, bring the target from its bootstrap
// loader to the running monitor. The file is read once the line is open, as part of the job.
struct InitializeRequest {
    InitializeRequest() = default;
    explicit InitializeRequest(std::string file, EchoWindow window = {})
        : monitorFile(std::move(file)), echoWindow(window) {}

    std::string monitorFile;
    EchoWindow echoWindow;
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
