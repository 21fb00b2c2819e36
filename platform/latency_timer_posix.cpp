#include <filesystem>
#include <system_error>

#include "platform/latency_timer.h"

namespace quillon {

std::string LatencyTimerHowTo(const std::string& port) {
    // A name under /dev/serial/by-id and the like stands for the device it links to, whose
    // name the driver's files use.
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(port, error);
    const std::string tty = (error ? std::filesystem::path(port) : device).filename().string();
    return "set the driver's low-latency flag for " + port +
           ", or write 1 to /sys/bus/usb-serial/devices/" + tty +
           "/latency_timer (as root; a udev rule keeps it)";
}

}  // namespace quillon
