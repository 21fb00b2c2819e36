#include "link/echo_window.h"

#include "helpers/text_format.h"

namespace quillon {

Result<EchoWindow> ParseEchoWindow(const std::string& text) {
    const auto bytes = DecimalInRange(text, EchoWindow::kLockStep, EchoWindow::kLargest);
    if (!bytes) {
        return Fail(ErrorKind::kUsage, "a number from " + std::to_string(EchoWindow::kLockStep) +
                                           " to " + std::to_string(EchoWindow::kLargest));
    }
    return EchoWindow{static_cast<std::uint32_t>(*bytes)};
}

}  // namespace quillon
