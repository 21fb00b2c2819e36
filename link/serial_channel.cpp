#include "link/serial_channel.h"

namespace quillon {

OpenedChannel OpenSerialChannel(const LineSettings& line, SystemEnv& env) {
    OpenedChannel opened;
    Result<std::unique_ptr<SerialDevice>> device = env.OpenSerialDevice(line.port);
    if (!device) {
        opened.reason = std::move(device).error().text;
        return opened;
    }
    if (Status configured = (*device)->Configure(line.baud); configured) {
        opened.status = OpenedChannel::Status::kOpened;
    } else {
        opened.status = OpenedChannel::Status::kCannotConfigure;
        opened.reason = std::move(configured).error().text;
    }
    opened.channel = std::make_unique<SerialChannel>(std::move(*device));
    return opened;
}

OpenedChannel OpenSerialChannel(const LineSettings& line) {
    return OpenSerialChannel(line, SystemEnv::Default());
}

}  // namespace quillon
