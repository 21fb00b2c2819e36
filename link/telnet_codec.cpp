#include "link/telnet_codec.h"

namespace quillon {

namespace {

// COM-PORT-OPTION commands (client to server; the server answers with 100 added).
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;

constexpr std::uint8_t kParityNone = 1;
constexpr std::uint8_t kStopSizeOne = 1;
constexpr std::uint8_t kNoFlowControl = 1;
constexpr std::uint8_t kDtrOn = 8;
constexpr std::uint8_t kRtsOn = 11;
constexpr std::uint8_t kPurgeReceiveBuffer = 1;

}  // namespace

TelnetCodec::Bytes TelnetCodec::Start() {
    m_weBinary = true;
    m_weComPort = true;
    return {kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPortOption};
}

void TelnetCodec::AppendSub(Bytes& out, std::uint8_t command, const Bytes& value) {
    out.insert(out.end(), {kIac, kSb, kComPortOption, command});
    Encode(value.data(), value.size(), out);
    out.insert(out.end(), {kIac, kSe});
}

TelnetCodec::Bytes TelnetCodec::SetLine(const LineRequest& request) const {
    Bytes out;
    const std::uint32_t baud = request.baud;
    AppendSub(out, kSetBaudRate,
              {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
               static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)});
    AppendSub(out, kSetDataSize, {8});
    AppendSub(out, kSetParity, {kParityNone});
    AppendSub(out, kSetStopSize, {kStopSizeOne});
    AppendSub(out, kSetControl, {kNoFlowControl});
    AppendSub(out, kSetControl, {kDtrOn});
    AppendSub(out, kSetControl, {kRtsOn});
    return out;
}

TelnetCodec::Bytes TelnetCodec::PurgeReceived() const {
    Bytes out;
    AppendSub(out, kPurgeData, {kPurgeReceiveBuffer});
    return out;
}

void TelnetCodec::Encode(const std::uint8_t* data, std::size_t count, Bytes& out) {
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) {
            out.push_back(kIac);
        }
    }
}

void TelnetCodec::Decode(const std::uint8_t* bytes, std::size_t count,
                         std::deque<std::uint8_t>& data, Bytes& replies) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        switch (m_state) {
            case State::kData:
                if (byte == kIac) {
                    m_state = State::kIac;
                } else {
                    data.push_back(byte);
                }
                break;
            case State::kIac:
                if (byte == kIac) {
                    data.push_back(kIac);
                    m_state = State::kData;
                } else if (byte >= kWill && byte <= kDont) {
                    m_command = byte;
                    m_state = State::kOption;
                } else if (byte == kSb) {
                    m_sub.clear();
                    m_state = State::kSub;
                } else {
                    m_state = State::kData;  // NOP, GA, a stray SE...: no data
                }
                break;
            case State::kOption:
                Negotiate(m_command, byte, replies);
                m_state = State::kData;
                break;
            case State::kSub:
                if (byte == kIac) {
                    m_state = State::kSubIac;
                } else if (m_sub.size() < 64) {  // nothing this side reads is longer
                    m_sub.push_back(byte);
                }
                break;
            case State::kSubIac:
                if (byte == kSe) {
                    SubNegotiation();
                    m_state = State::kData;
                } else {
                    // IAC IAC is a 0xFF of the subnegotiation; anything else ends it unread.
                    if (byte == kIac && m_sub.size() < 64) {
                        m_sub.push_back(kIac);
                    }
                    m_state = byte == kIac ? State::kSub : State::kData;
                }
                break;
        }
    }
}

void TelnetCodec::Negotiate(std::uint8_t command, std::uint8_t option, Bytes& replies) {
    if (command == kDo || command == kDont) {
        NegotiateOurs(command == kDo, option, replies);
    } else if (command == kWill || command == kWont) {
        NegotiateTheirs(command == kWill, option, replies);
    }
}

void TelnetCodec::NegotiateOurs(bool asked, std::uint8_t option, Bytes& replies) {
    const auto reply = [&replies, option](std::uint8_t answer) {
        replies.insert(replies.end(), {kIac, answer, option});
    };
    if (!asked && option == kBinary) {
        m_binaryRefused = true;
    }
    if (option != kBinary && option != kComPortOption) {
        if (asked) {
            reply(kWont);
        }
        return;
    }
    bool& on = option == kBinary ? m_weBinary : m_weComPort;
    if (on != asked) {
        on = asked;
        reply(asked ? kWill : kWont);
    }
    if (option == kComPortOption) {
        m_comPortAccepted = asked;
    }
}

void TelnetCodec::NegotiateTheirs(bool offered, std::uint8_t option, Bytes& replies) {
    const auto reply = [&replies, option](std::uint8_t answer) {
        replies.insert(replies.end(), {kIac, answer, option});
    };
    if (!offered && option == kBinary) {
        m_binaryRefused = true;
    }
    if (option != kBinary && option != kSuppressGoAhead) {
        if (offered) {
            reply(kDont);
        }
        return;
    }
    bool& on = option == kBinary ? m_theyBinary : m_theySuppressGoAhead;
    if (on == offered) {
        return;
    }
    on = offered;
    // Binary was asked for in Start(): its WILL is the answer, not a request.
    if (!offered || option != kBinary) {
        reply(offered ? kDo : kDont);
    }
}

void TelnetCodec::SubNegotiation() {
    if (m_sub.size() < 3 || m_sub[0] != kComPortOption) {
        return;  // another option's, or too short to mean anything
    }
    const std::uint8_t command = m_sub[1];
    if (command == kServerOffset + kSetBaudRate && m_sub.size() >= 6) {
        m_baud = (static_cast<std::uint32_t>(m_sub[2]) << 24) |
                 (static_cast<std::uint32_t>(m_sub[3]) << 16) |
                 (static_cast<std::uint32_t>(m_sub[4]) << 8) | m_sub[5];
    } else if (command == kServerOffset + kSetDataSize) {
        m_dataSize = m_sub[2];
    } else if (command == kServerOffset + kSetParity) {
        m_parity = m_sub[2];
    } else if (command == kServerOffset + kSetStopSize) {
        m_stopSize = m_sub[2];
    }
}

}  // namespace quillon
