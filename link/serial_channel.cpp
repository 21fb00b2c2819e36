#include "link/serial_channel.h"

namespace quillon {

OpenedChannel OpenSerialChannel(const LineSettings& line, Clock& clock) {
    OpenedChannel opened;
    auto channel = std::make_unique<SerialChannel>(clock);
    if (Status open = channel->device().Open(line.port); !open) {
        opened.reason = std::move(open).error().text;
        return opened;
    }
    if (Status configured = channel->device().Configure(line.baud); configured) {
        opened.status = OpenedChannel::Status::kOpened;
    } else {
        opened.status = OpenedChannel::Status::kCannotConfigure;
        opened.reason = std::move(configured).error().text;
    }
    opened.channel = std::move(channel);
    return opened;
}

}  // namespace quillon
