#include "link/serial_channel.h"

namespace quillon {

OpenedChannel OpenSerialChannel(const LineSettings& line) {
    OpenedChannel opened;
    auto channel = std::make_unique<SerialChannel>();
    if (!channel->device().Open(line.port)) {
        opened.reason = channel->device().ErrorText();
        return opened;
    }
    if (channel->device().Configure(line.baud)) {
        opened.status = OpenedChannel::Status::kOpened;
    } else {
        opened.status = OpenedChannel::Status::kCannotConfigure;
        opened.reason = channel->device().ErrorText();
    }
    opened.channel = std::move(channel);
    return opened;
}

}  // namespace quillon
