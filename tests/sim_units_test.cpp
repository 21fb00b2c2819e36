// The virtual target's building blocks: its CRC, digest, HEX reading, monitor file reading,
// flash rules and command line.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/hex_reader.h"
#include "image/monitor_file.h"
#include "image/monitor_header.h"
#include "sim/flash_model.h"
#include "sim/sim_command_line.h"
#include "sim/sim_crc16.h"
#include "sim/sim_hex_image.h"
#include "sim/sim_monitor_file.h"
#include "sim/sim_server.h"
#include "sim/target_uart.h"
#include "tests/support/hex_text.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

std::uint16_t Crc(const std::string& text) {
    return SimCrc16(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(SimCrcTest, CheckValueAndTheFramesThatTheHostSends) {
    EXPECT_EQ(Crc("123456789"), 0x2189);
    EXPECT_EQ(Crc(""), 0x0000);
    EXPECT_EQ("P200" + SimCrcText(Crc("P200")), "P2006121");
    EXPECT_EQ(SimCrcText(0x0A0F), "0A0F");  // leading zeros kept, upper case
    // Every byte value and its position matter.
    std::string block(137, '\0');
    const std::uint16_t zero = Crc(block);
    for (const std::size_t at : {std::size_t{0}, std::size_t{68}, std::size_t{136}}) {
        std::string flipped = block;
        flipped[at] = '\x01';
        EXPECT_NE(Crc(flipped), zero) << at;
    }
}

TEST(SimHexImageTest, ReadsAddressRecordsAndKeepsFillMarks) {
    using namespace hex_text;
    SimHexImage image;
    const std::string text = Linear(0x0003) + Data(0x0010, {1, 2, 3}) + Segment(0x2000) +
                             Data(0x0004, {9}) + Record(0x05, 0, {0, 0, 0, 0}) + "\r\n" + End() +
                             Data(0x0000, {7});
    const Status parsed = image.Parse(text, "t.hex");
    ASSERT_TRUE(parsed) << parsed.error().text;
    EXPECT_EQ(image.Byte(3, 0x10), 1);
    EXPECT_EQ(image.Byte(3, 0x12), 3);
    EXPECT_EQ(image.FillMark(3), 0x12);
    EXPECT_EQ(image.Byte(2, 0x0004), 9);  // segment base 0x2000 * 16
    EXPECT_EQ(image.Byte(3, 0x13), 0xFF);
    EXPECT_FALSE(image.HasSegment(0)) << "nothing is read after the end record";
    EXPECT_EQ(image.Bytes(3, 0xFFFF, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));
}

TEST(SimHexImageTest, RefusesBrokenRecordsNamingTheLine) {
    using namespace hex_text;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {Data(0, {1}) + RecordWithBadChecksum(0x00, 0, {1}) + "\n", "t.hex:2: wrong checksum"},
        {"garbage\n", "t.hex:1: a record must start with ':'"},
        {":0100000001\n", "t.hex:1: the length byte does not match the record"},
        {":0G00000000\n", "t.hex:1: not a record of hexadecimal digit pairs"},
        {Record(0x07, 0, {}) + "\n", "t.hex:1: unknown record type"},
        {Linear(0x00FF) + Data(0xFFFF, {1, 2}), "t.hex:2: data beyond the 16 MB address space"},
    };
    for (const auto& [text, message] : cases) {
        SimHexImage image;
        const Status parsed = image.Parse(text, "t.hex");
        ASSERT_FALSE(parsed) << message;
        EXPECT_EQ(parsed.error().text, message);
    }
}

// A monitor file as HEX text: header in segment 0, loader in segment 1, monitor in segment 2.
std::string MonitorHex(const char* signature, std::uint16_t specification, std::uint16_t level0,
                       std::size_t loaderLength, std::size_t monitorLength,
                       std::uint8_t typeCount = 2) {
    std::vector<std::uint8_t> header(specification, 0);
    std::memcpy(header.data(), signature, 7);
    auto put16 = [&](std::size_t at, unsigned v) {
        header[at] = static_cast<std::uint8_t>(v);
        header[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put16(8, specification);
    put16(10, 1);
    put16(12, 2);
    header[14] = 0x55;
    header[15] = 0xC3;
    put16(16, level0);
    header[18] = 0x7E;
    header[19] = typeCount;
    std::memcpy(header.data() + 20, "AB12\0XY", 7);
    std::memcpy(header.data() + 70, "Unit Target", 11);
    if (specification == 172) {
        put16(170, 5);
    }
    std::string text;
    auto place = [&](std::uint16_t segment, const std::vector<std::uint8_t>& bytes) {
        text += hex_text::Linear(segment);
        for (std::size_t at = 0; at < bytes.size(); at += 16) {
            const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
            text += hex_text::Data(
                static_cast<std::uint16_t>(at),
                std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(at),
                                          bytes.begin() + static_cast<long>(at + n)));
        }
    };
    place(0, header);
    place(1, hex_text::Pattern(loaderLength, 1));
    place(2, hex_text::Pattern(monitorLength, 2));
    return text + hex_text::End();
}

TEST(SimMonitorFileTest, ReadsTheHeaderAndTheStagesItSends) {
    Result<SimMonitorFile> parsed =
        ParseSimMonitorFile(MonitorHex("moNItor", 172, 4, 10, 300), "m.h86");
    ASSERT_TRUE(parsed) << parsed.error().text;
    SimMonitorFile file = *parsed;
    EXPECT_EQ(file.targetName, "Unit Target");
    EXPECT_EQ(file.syncByte, 0x55);
    EXPECT_EQ(file.identByte, 0xC3);
    EXPECT_EQ(file.loaderAck, 0x7E);
    EXPECT_EQ(file.flashTypes, (std::vector<std::string>{"AB12", "XY"}));
    EXPECT_EQ(file.eraseAllSectorCount, 5);
    EXPECT_EQ(file.loader, hex_text::Pattern(10, 1));
    EXPECT_EQ(file.level1Length(), 6U);
    EXPECT_EQ(file.monitor, hex_text::Pattern(300, 2));

    // The short form has no erase-all count; a Level 0 longer than the loader's data is sent
    // in full (0xFF beyond the data) and leaves no Level 1.
    parsed = ParseSimMonitorFile(MonitorHex("MONITOR", 170, 12, 10, 1), "m.h86");
    ASSERT_TRUE(parsed);
    file = *parsed;
    EXPECT_EQ(file.eraseAllSectorCount, 0);
    ASSERT_EQ(file.loader.size(), 12U);
    EXPECT_EQ(file.loader[10], 0xFF);
    EXPECT_EQ(file.level1Length(), 0U);
    EXPECT_EQ(file.monitor.size(), 1U);
}

TEST(SimMonitorFileTest, RefusesFilesTheHostWouldRefuse) {
    const auto error = [](const std::string& hexText) {
        const Result<SimMonitorFile> file = ParseSimMonitorFile(hexText, "m.h86");
        return file ? std::string("(read)") : file.error().text;
    };
    EXPECT_EQ(error(MonitorHex("MONITOX", 172, 4, 10, 3)),
              "m.h86: no segment starts with the signature MONITOR");
    EXPECT_EQ(error(MonitorHex("MONITOR", 171, 4, 10, 3)),
              "m.h86: the header's specification 171 is neither 170 nor 172");
    EXPECT_EQ(error(MonitorHex("MONITOR", 172, 4, 10, 3, 11)), "m.h86: more than 10 flash types");
}

// The shipped monitor file, read by the target's reader and by the host's: both must agree,
// and it must have the shape the virtual target promises.
TEST(SimShippedFilesTest, VirtualTargetMonitorFileAgreesWithTheHostsReading) {
    const std::string path = std::string(QUILLON_SOURCE_DIR) + "/Targets/virtual-target.h86";
    const Result<SimMonitorFile> loaded = LoadSimMonitorFile(path);
    ASSERT_TRUE(loaded) << loaded.error().text;
    const SimMonitorFile& file = *loaded;
    EXPECT_EQ(file.targetName, "Virtual Target");
    EXPECT_EQ(file.specification, 172);
    EXPECT_EQ(file.level0Length, 32);
    EXPECT_GE(file.level1Length(), 200U);
    EXPECT_GE(file.monitor.size(), 2048U);
    EXPECT_EQ(file.flashTypes.size(), 2U);
    EXPECT_EQ(file.eraseAllSectorCount, 8);
    std::vector<bool> seen(256, false);
    for (const std::uint8_t b : file.monitor) {
        seen[b] = true;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256) << "every byte value travels";

    const MonitorFileRead read = LoadMonitorFile(path);
    ASSERT_TRUE(read.file);
    const MonitorHeader& header = read.file->header;
    const HexImage& image = read.file->image;
    EXPECT_EQ(TargetNameOf(header), file.targetName);
    EXPECT_EQ(header.syncByte, file.syncByte);
    EXPECT_EQ(header.identByte, file.identByte);
    EXPECT_EQ(header.loaderAck, file.loaderAck);
    EXPECT_EQ(header.eraseAllSectorCount, file.eraseAllSectorCount);
    EXPECT_TRUE(IsFlashTypeInHeader(header, file.flashTypes[1]));
    const int ls = header.loaderSegment;
    const int ms = header.monitorSegment;
    EXPECT_EQ(image.FillMark(ls) + 1U, file.loader.size());
    EXPECT_TRUE(std::equal(file.monitor.begin(), file.monitor.end(), image.SegmentData(ms)));
    EXPECT_TRUE(std::equal(file.loader.begin(), file.loader.end(), image.SegmentData(ls)));
}

TEST(SimFlashModelTest, ProgrammingNeedsErasedBytes) {
    FlashModel flash(false);
    const std::vector<std::uint8_t> data(128, 0x42);
    FlashModel::ProgramResult result = flash.Program(0x20000, data.data(), data.size());
    EXPECT_FALSE(result.ok) << "old content is not erased";
    EXPECT_EQ(result.firstUnerased, 0x20000U);
    flash.Erase(2);
    EXPECT_EQ(flash.Sector(2)[0xFFFF], 0xFF);
    EXPECT_EQ(flash.Sector(3)[0], 0x00) << "only the one sector";
    EXPECT_TRUE(flash.Program(0x2FF80, data.data(), data.size()).ok);
    EXPECT_TRUE(flash.IsProgrammed(2));
    EXPECT_FALSE(flash.IsProgrammed(3));
    // Overlapping a programmed stretch by one byte refuses the whole block.
    result = flash.Program(0x2FF01, data.data(), data.size());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.firstUnerased, 0x2FF80U);
    EXPECT_EQ(flash.Sector(2)[0xFF01], 0xFF) << "a refused block writes nothing";
    FlashModel blank(true);
    EXPECT_TRUE(blank.Program(0, data.data(), data.size()).ok);
}

// The paced loop sleeps until shortly before an answer byte is due and looks without sleeping
// from there; other deadlines it sleeps to exactly.
TEST(SimWakeUpTest, SleepsToJustBeforeAnAnswerAndToOtherDeadlines) {
    using namespace std::chrono_literals;
    using Time = std::optional<SimClock::time_point>;
    const SimClock::time_point now = SimClock::time_point{} + 1h;
    struct Case {
        Time answer, other;
        SimClock::duration spinAhead;
        Time wake;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, 50us, std::nullopt},
        {now + 1ms, std::nullopt, 50us, now + 950us},
        {now + 30us, std::nullopt, 50us, now},
        {now - 5us, std::nullopt, 50us, now},
        {now + 1ms, now + 500us, 50us, now + 500us},
        {now + 1ms, now + 990us, 50us, now + 950us},
        {std::nullopt, now + 2ms, 50us, now + 2ms},
        {now + 1ms, std::nullopt, 0us, now + 1ms},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SimWakeUp(now, c.answer, c.other, c.spinAhead), c.wake)
            << (c.answer ? (*c.answer - now).count() : -1) << " "
            << (c.other ? (*c.other - now).count() : -1);
    }
}

// The rate the loader picks for the host's: the divider whose rate is nearest, clamped to the
// 16-bit register, and whether that is more than 3% off.
TEST(SimUartTest, MakesTheNearestRateItsDividerAllows) {
    const struct {
        std::uint32_t clockHz, prescale, hostRate, divider, rate;
        bool mismatched;
    } cases[] = {
        {24000000, 16, 460800, 2, 500000, true},  // 1.5 MHz / 3: 8.5% off
        {24000000, 16, 500000, 2, 500000, false},
        {24000000, 16, 115200, 12, 115385, false},  // 0.16% off
        {20000000, 16, 921600, 1, 625000, true},    // nearer than 1250000
        {20000000, 16, 1000000, 0, 1250000, true},
        {18432000, 16, 230400, 4, 230400, false},
        {25000000, 1, 300, 65535, 381, true},  // the divider's limit
        {40000000, 1, 1000000, 39, 1000000, false},
        {33000000, 1, 1020000, 31, 1031250, false},  // 32.35: 1.1% off
    };
    for (const auto& c : cases) {
        TargetUart uart(c.clockHz, c.prescale);
        uart.MeasureHost(c.hostRate);
        EXPECT_EQ(uart.divider(), c.divider) << c.hostRate;
        EXPECT_EQ(uart.rate(), c.rate) << c.hostRate;
        EXPECT_EQ(uart.Mismatched(), c.mismatched) << c.hostRate;
    }
}

// Within 3% every byte passes both ways; beyond it, each is read as its bits are sampled at
// the other rate: shifted bits, framing errors (dropped by the loader, 0x00 at the host). At
// 460800 against 500000 only bytes whose top four bits are ones survive both ways, at 921600
// against 625000 only 0xFF.
TEST(SimUartTest, GarblesBytesOnlyBeyondThreePercent) {
    const auto passing = [](const TargetUart& uart) {
        int same = 0;
        for (int byte = 0; byte < 256; ++byte) {
            const auto b = static_cast<std::uint8_t>(byte);
            same += uart.Receive(b) == b && uart.Transmit(b) == b ? 1 : 0;
        }
        return same;
    };
    const struct {
        std::uint32_t clockHz, prescale, hostRate;
        int passing;
    } cases[] = {
        {24000000, 16, 500000, 256}, {24000000, 16, 115200, 256}, {33000000, 1, 1020000, 256},
        {24000000, 16, 460800, 16},  {20000000, 16, 921600, 1},
    };
    for (const auto& c : cases) {
        TargetUart uart(c.clockHz, c.prescale);
        uart.MeasureHost(c.hostRate);
        EXPECT_EQ(passing(uart), c.passing) << c.hostRate;
    }
    // 460800 into a 500000 receiver: it samples a sender's bit twice and reads the stop bit in
    // the last data bit.
    TargetUart uart(24000000, 16);
    uart.MeasureHost(460800);
    EXPECT_EQ(uart.Receive(0x00), std::nullopt) << "the sync byte is a framing error";
    EXPECT_EQ(uart.Receive(0x80), std::optional<std::uint8_t>(0x00));
    EXPECT_EQ(uart.Receive(0xC0), std::optional<std::uint8_t>(0x80));
    // 500000 into a 460800 receiver: its last data bit falls on the stop bit.
    EXPECT_EQ(uart.Transmit(0x00), std::optional<std::uint8_t>(0x80));
    EXPECT_EQ(uart.Transmit(0xFF), std::optional<std::uint8_t>(0xFF));
    const SampledCharacter half = SampleCharacter(0x01, 19200, 9600);
    EXPECT_FALSE(half.started) << "at half the rate the start bit's middle is the first data bit";
}

TEST(SimCommandLineTest, ParsesOptionsAndFaults) {
    const Result<SimCommandLine> parsed = ParseSimCommandLine({"--monitor",
                                                               "m.h86",
                                                               "--link=none",
                                                               "--baud",
                                                               "115200",
                                                               "--flash-type",
                                                               "VF32",
                                                               "--accept-letter",
                                                               "K",
                                                               "--wrong-ident",
                                                               "0x12",
                                                               "--ram-fail",
                                                               "0x1234:0x55:0xAA",
                                                               "--busy",
                                                               "block@3:2",
                                                               "--drop-answer",
                                                               "block@7",
                                                               "--error-at",
                                                               "erase-done:X",
                                                               "--silent-from",
                                                               "monitor-data@100",
                                                               "--noise",
                                                               "5:before-ident",
                                                               "--late-answer",
                                                               "block@2:3500",
                                                               "--split-answer",
                                                               "ram-report:20:1",
                                                               "--split-answer",
                                                               "finalize:0x10",
                                                               "--fault-session",
                                                               "2",
                                                               "--blank-flash"});
    ASSERT_TRUE(parsed) << parsed.error().text;
    const SimCommandLine& line = *parsed;
    EXPECT_TRUE(line.linkGiven);
    EXPECT_EQ(line.server.linkPath, "");
    EXPECT_EQ(line.server.baud, 115200);
    const Result<SimCommandLine> uart = ParseSimCommandLine(
        {"--baud", "auto", "--uart-clock", "24000000", "--uart-prescale", "16"});
    ASSERT_TRUE(uart) << uart.error().text;
    EXPECT_TRUE(uart->server.baudFromHost);
    EXPECT_EQ(uart->server.uartClockHz, 24000000u);
    EXPECT_EQ(uart->server.uartPrescale, 16u);
    EXPECT_EQ(line.settings.acceptLetter, 'K');
    const FaultPlan& f = line.settings.faults;
    EXPECT_EQ(f.wrongIdent, 0x12);
    ASSERT_TRUE(f.ramFailure);
    EXPECT_EQ(f.ramFailure->address, 0x1234U);
    EXPECT_EQ(f.ramFailure->readBack, 0xAA);
    ASSERT_EQ(f.busy.size(), 1U);
    EXPECT_EQ(f.busy[0].at.Text(), "block@3");
    EXPECT_EQ(f.busy[0].count, 2);
    EXPECT_EQ(f.dropAnswer[0].count, 1);
    EXPECT_EQ(f.errorAt[0].code, 'X');
    EXPECT_EQ(f.silentFrom->Text(), "monitor-data@100");
    EXPECT_EQ(f.noiseWhen, FaultPlan::NoiseWhen::kBeforeIdent);
    EXPECT_EQ(f.session, 2);
    ASSERT_EQ(f.lateAnswer.size(), 1U);
    EXPECT_EQ(f.lateAnswer[0].at.Text(), "block@2");
    EXPECT_EQ(f.lateAnswer[0].ms, 3500);
    ASSERT_EQ(f.splitAnswer.size(), 2U);
    EXPECT_EQ(f.splitAnswer[0].firstBytes, 1U);
    EXPECT_EQ(f.splitAnswer[1].at.Text(), "finalize");
    EXPECT_EQ(f.splitAnswer[1].ms, 16);
    EXPECT_EQ(f.splitAnswer[1].firstBytes, 3U) << "default";
    EXPECT_TRUE(line.settings.blankFlash);

    const std::vector<std::vector<std::string>> refused = {
        {"--accept-letter", "E"},
        {"--accept-letter", "D"},
        {"--flash-type", "TOOLONG"},
        {"--wrong-ident", "256"},
        {"--busy", "erase:2"},
        {"--busy", "block@x:2"},
        {"--crc-error-at", "ident"},
        {"--silent-from", "nowhere"},
        {"--baud"},
        {"--unknown-option"},
        {"--blank-flash=1"},
        {"--noise", "3:later"},
        {"--late-answer", "block"},
        {"--late-answer", "block:0"},
        {"--split-answer", "ident:9"},
        {"--split-answer", "block:9:8"},
    };
    for (const auto& args : refused) {
        const Result<SimCommandLine> other = ParseSimCommandLine(args);
        ASSERT_FALSE(other) << args[0];
        EXPECT_FALSE(other.error().text.empty());
    }
}

}  // namespace
