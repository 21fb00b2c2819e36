#include "link/serial_channel.h"

OpenedChannel OpenSerialChannel(const LineSettings& line) {
    OpenedChannel opened;
    auto channel = std::make_unique<SerialChannel>();
    if (!channel->device().Open(line.port)) {
        return opened;
    }
    opened.status = channel->device().Configure(line.baud)
                        ? OpenedChannel::Status::kOpened
                        : OpenedChannel::Status::kCannotConfigure;
    opened.channel = std::move(channel);
    return opened;
}
