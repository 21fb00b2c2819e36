#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace quillon {

// The Telnet layer of an RFC 2217 serial port (Telnet's COM-PORT-OPTION), without any I/O: it
// makes the bytes to send and takes apart the bytes received, in pieces of any size. Data is
// binary both ways: a 0xFF data byte travels doubled. Commands inside the data stream are
// taken out and never reach the data; option requests are answered (binary mode and the COM
// port option accepted, suppress-go-ahead accepted from the server, anything else refused).
class TelnetCodec {
public:
    // The line settings a client asks the server for: 8 data bits, no parity, one stop bit and
    // no flow control always, DTR and RTS on.
    struct LineRequest {
        std::uint32_t baud = 0;
    };

    using Bytes = std::vector<std::uint8_t>;

    static constexpr std::uint8_t kIac = 255;
    static constexpr std::uint8_t kDont = 254;
    static constexpr std::uint8_t kDo = 253;
    static constexpr std::uint8_t kWont = 252;
    static constexpr std::uint8_t kWill = 251;
    static constexpr std::uint8_t kSb = 250;
    static constexpr std::uint8_t kSe = 240;
    static constexpr std::uint8_t kBinary = 0;
    static constexpr std::uint8_t kSuppressGoAhead = 3;
    static constexpr std::uint8_t kComPortOption = 44;

    // What opens the session: binary mode both ways and the COM port option offered.
    Bytes Start();
    // The commands that set the line (baud rate, data size, parity, stop size, no flow
    // control, DTR on, RTS on).
    Bytes SetLine(const LineRequest& request) const;
    // Asks the server to drop what it holds received from the device and not yet sent.
    Bytes PurgeReceived() const;
    // `count` data bytes as they go on the connection (every 0xFF doubled), appended to `out`.
    static void Encode(const std::uint8_t* data, std::size_t count, Bytes& out);

    // Takes `count` received bytes: data goes to `data`, answers to the server's option
    // requests to `replies`.
    void Decode(const std::uint8_t* bytes, std::size_t count, std::deque<std::uint8_t>& data,
                Bytes& replies);

    // True once the server refused binary mode in either direction (DONT to our WILL, WONT to
    // our DO): 0xFF and CR bytes of the data could not travel unchanged.
    bool BinaryRefused() const { return m_binaryRefused; }
    // The server's answer to the COM port option: accepted (DO), refused (DONT), or none yet.
    std::optional<bool> ComPortAccepted() const { return m_comPortAccepted; }
    // What the server confirmed of the line settings (its answers to SetLine).
    std::optional<std::uint32_t> ConfirmedBaud() const { return m_baud; }
    std::optional<std::uint8_t> ConfirmedDataSize() const { return m_dataSize; }
    std::optional<std::uint8_t> ConfirmedParity() const { return m_parity; }
    std::optional<std::uint8_t> ConfirmedStopSize() const { return m_stopSize; }

private:
    enum class State { kData, kIac, kOption, kSub, kSubIac };

    void Negotiate(std::uint8_t command, std::uint8_t option, Bytes& replies);
    // The server's DO (`asked`) or DONT for an option of ours.
    void NegotiateOurs(bool asked, std::uint8_t option, Bytes& replies);
    // The server's WILL (`offered`) or WONT for an option of its own.
    void NegotiateTheirs(bool offered, std::uint8_t option, Bytes& replies);
    void SubNegotiation();
    static void AppendSub(Bytes& out, std::uint8_t command, const Bytes& value);

    State m_state = State::kData;
    std::uint8_t m_command = 0;  // WILL/WONT/DO/DONT awaiting its option
    Bytes m_sub;                 // the subnegotiation being read (option byte first)
    // Which options are on: ours (we WILL) and the server's (it WILL), as last agreed.
    bool m_weBinary = false;
    bool m_weComPort = false;
    bool m_theyBinary = false;
    bool m_theySuppressGoAhead = false;
    bool m_binaryRefused = false;
    std::optional<bool> m_comPortAccepted;
    std::optional<std::uint32_t> m_baud;
    std::optional<std::uint8_t> m_dataSize;
    std::optional<std::uint8_t> m_parity;
    std::optional<std::uint8_t> m_stopSize;
};

}  // namespace quillon
