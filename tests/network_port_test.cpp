// Network port names and the Telnet layer of RFC 2217 ports, in memory.
#include <gtest/gtest.h>

#include <deque>
#include <tuple>

#include "link/telnet_codec.h"
#include "ports/port_address.h"

using namespace quillon;

namespace {

using Bytes = TelnetCodec::Bytes;
using Kind = PortAddress::Kind;

TEST(PortAddress, NamesAndMistakes) {
    const std::tuple<std::string, Kind, std::string, int, bool> rows[] = {
        // name: kind, host, port, well formed
        {"/dev/ttyUSB0", Kind::kLocal, "", 0, true},
        {"COM3", Kind::kLocal, "", 0, true},
        {"rfc2217://10.0.0.5:7001", Kind::kRfc2217, "10.0.0.5", 7001, true},
        {"RFC2217://fixture-3.lan:1", Kind::kRfc2217, "fixture-3.lan", 1, true},
        {"socket://[::1]:65535", Kind::kRawTcp, "::1", 65535, true},
        {"socket://[fe80::1%eth0]:2000", Kind::kRawTcp, "fe80::1%eth0", 2000, true},
        {"telnet://host:23", Kind::kLocal, "", 0, false},  // unknown scheme
        {"rfc2217://host", Kind::kRfc2217, "", 0, false},  // no port
        {"rfc2217://:7001", Kind::kRfc2217, "", 0, false},
        {"rfc2217://host:0", Kind::kRfc2217, "", 0, false},
        {"rfc2217://host:65536", Kind::kRfc2217, "", 0, false},
        {"rfc2217://host:70x", Kind::kRfc2217, "", 0, false},
        {"rfc2217://host:7001/path", Kind::kRfc2217, "", 0, false},
        {"socket://::1:2000", Kind::kRawTcp, "", 0, false},  // IPv6 without brackets
        {"socket://[::1]2000", Kind::kRawTcp, "", 0, false},
        {"socket://user@host:2000", Kind::kRawTcp, "", 0, false},
    };
    for (const auto& [name, kind, host, port, ok] : rows) {
        SCOPED_TRACE(name);
        const Result<PortAddress> address = ParsePortAddress(name);
        EXPECT_EQ(address.has_value(), ok) << (address ? "" : address.error().text);
        if (ok && address) {
            EXPECT_EQ(std::tie(address->kind, address->host), std::tie(kind, host));
            EXPECT_EQ(address->port, port);
        } else if (!address) {
            EXPECT_NE(address.error().text.find(name), std::string::npos) << address.error().text;
        }
    }
    // Each mistake is named; the name shows its control characters escaped.
    const std::pair<std::string, std::string> reasons[] = {
        {"rfc2217://host:7001/x", "(a path after the port)"},
        {"rfc2217://host:007001", "(the port has a leading zero)"},
        {"rfc2217://host:70x", "(the port is not a number)"},
        {"rfc2217://host:99999", "(port out of range (1 to 65535))"},
        {"rfc2217://host/x:7001", "('/' in the host)"},
        {"rfc2217://a\x1b[31mb:7001",
         "'rfc2217://a\\x1B[31mb:7001' (a control character in the host)"},
    };
    for (const auto& [name, reason] : reasons) {
        const Result<PortAddress> address = ParsePortAddress(name);
        ASSERT_FALSE(address);
        EXPECT_NE(address.error().text.find(reason), std::string::npos) << address.error().text;
    }
    EXPECT_TRUE(ParsePortAddress("rfc2217://Box:7001")
                    ->SameNetworkPort(*ParsePortAddress("socket://box:7001")));
    EXPECT_FALSE(ParsePortAddress("rfc2217://box:7001")
                     ->SameNetworkPort(*ParsePortAddress("rfc2217://box:7002")));
}

// Decodes `received` in pieces of `piece` bytes: the data and the replies.
std::pair<Bytes, Bytes> Decode(TelnetCodec& codec, const Bytes& received, std::size_t piece) {
    std::deque<std::uint8_t> data;
    Bytes replies;
    for (std::size_t at = 0; at < received.size(); at += piece) {
        const std::size_t n = std::min(piece, received.size() - at);
        codec.Decode(received.data() + at, n, data, replies);
    }
    return {Bytes(data.begin(), data.end()), replies};
}

constexpr std::uint8_t IAC = TelnetCodec::kIac;
constexpr std::uint8_t SB = TelnetCodec::kSb;
constexpr std::uint8_t SE = TelnetCodec::kSe;
constexpr std::uint8_t WILL = TelnetCodec::kWill;
constexpr std::uint8_t WONT = TelnetCodec::kWont;
constexpr std::uint8_t DO = TelnetCodec::kDo;
constexpr std::uint8_t DONT = TelnetCodec::kDont;
constexpr std::uint8_t COM = TelnetCodec::kComPortOption;

TEST(TelnetCodec, DataCommandsAndRepliesInAnyPieces) {
    Bytes encoded;
    TelnetCodec::Encode(Bytes{0x01, 0xFF, 0xFF, 0x02}.data(), 4, encoded);
    EXPECT_EQ(encoded, (Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}));

    const std::tuple<const char*, Bytes, Bytes, Bytes> rows[] = {
        // received: data, replies
        {"doubled 0xFF", {0x10, IAC, IAC, 0x11}, {0x10, 0xFF, 0x11}, {}},
        {"NOP and GA vanish", {0x10, IAC, 241, 0x11, IAC, 249}, {0x10, 0x11}, {}},
        {"answers to our requests are not answered again",
         {IAC, DO, 0, IAC, WILL, 0, IAC, DO, COM},
         {},
         {}},
        {"suppress-go-ahead is accepted once", {IAC, WILL, 3, IAC, WILL, 3}, {}, {IAC, DO, 3}},
        {"other options are refused",
         {IAC, DO, 24, IAC, WILL, 1},
         {},
         {IAC, WONT, 24, IAC, DONT, 1}},
        {"a subnegotiation is no data",
         {0x41, IAC, SB, COM, 101, 0, 1, 0xC2, 0, IAC, SE, 0x42},
         {0x41, 0x42},
         {}},
        {"a 0xFF inside a subnegotiation", {IAC, SB, 5, IAC, IAC, 7, IAC, SE, 0x43}, {0x43}, {}},
        {"a subnegotiation cut by another command ends unread",
         {IAC, SB, COM, 101, IAC, 241, 0x44},
         {0x44},
         {}},
    };
    for (const auto& [name, received, data, replies] : rows) {
        SCOPED_TRACE(name);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, received.size()}) {
            TelnetCodec codec;
            codec.Start();
            EXPECT_EQ(Decode(codec, received, piece), std::make_pair(data, replies))
                << "in pieces of " << piece;
        }
    }
}

TEST(TelnetCodec, TheComPortOptionAndTheLineSettings) {
    TelnetCodec codec;
    EXPECT_EQ(codec.Start(), (Bytes{IAC, WILL, 0, IAC, DO, 0, IAC, WILL, COM}));
    EXPECT_FALSE(codec.ComPortAccepted().has_value());
    // 115200 = 00 01 C2 00; the baud rate, 8 data bits, no parity, one stop bit, no flow
    // control, DTR on, RTS on.
    EXPECT_EQ(codec.SetLine({115200}),
              (Bytes{IAC, SB,  COM, 1,   0x00, 0x01, 0xC2, 0x00, IAC, SE,  IAC, SB,  COM,
                     2,   8,   IAC, SE,  IAC,  SB,   COM,  3,    1,   IAC, SE,  IAC, SB,
                     COM, 4,   1,   IAC, SE,   IAC,  SB,   COM,  5,   1,   IAC, SE,  IAC,
                     SB,  COM, 5,   8,   IAC,  SE,   IAC,  SB,   COM, 5,   11,  IAC, SE}));
    // A baud rate whose bytes hold 0xFF travels doubled.
    EXPECT_EQ(codec.SetLine({0xFF}).size(), 53u);
    EXPECT_EQ(codec.PurgeReceived(), (Bytes{IAC, SB, COM, 12, 1, IAC, SE}));

    Decode(codec, {IAC, DO,  COM, IAC, SB,  COM, 101, 0x00, 0x01, 0xC2, 0x00, IAC, SE, IAC,
                   SB,  COM, 102, 8,   IAC, SE,  IAC, SB,   COM,  103,  1,    IAC, SE},
           3);
    EXPECT_EQ(codec.ComPortAccepted(), std::optional<bool>(true));
    EXPECT_EQ(codec.ConfirmedBaud(), std::optional<std::uint32_t>(115200));
    EXPECT_EQ(codec.ConfirmedDataSize(), std::optional<std::uint8_t>(8));
    EXPECT_EQ(codec.ConfirmedParity(), std::optional<std::uint8_t>(1));
    EXPECT_FALSE(codec.ConfirmedStopSize().has_value());

    // A server that refuses the option: our WONT follows once.
    TelnetCodec refused;
    refused.Start();
    EXPECT_EQ(Decode(refused, {IAC, DONT, COM, IAC, DONT, COM}, 1).second, (Bytes{IAC, WONT, COM}));
    EXPECT_EQ(refused.ComPortAccepted(), std::optional<bool>(false));

    // Binary mode refused in either direction is told; accepted, it is not.
    for (const auto& [answer, isRefusal] :
         {std::pair{Bytes{IAC, WILL, 0, IAC, DO, 0}, false}, std::pair{Bytes{IAC, DONT, 0}, true},
          std::pair{Bytes{IAC, WONT, 0}, true}}) {
        TelnetCodec binary;
        binary.Start();
        Decode(binary, answer, 1);
        EXPECT_EQ(binary.BinaryRefused(), isRefusal);
    }
}

}  // namespace
