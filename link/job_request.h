#pragma once

#include <memory>
#include <string>
#include <variant>

#include "image/hex_image.h"
#include "link/line_settings.h"

// Initialize: open the line, read the monitor file, bring the target from its bootstrap
// loader to the running monitor. The file is read once the line is open, as part of the job.
struct InitializeRequest {
    std::string monitorFile;
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
