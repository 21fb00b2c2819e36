// The virtual target's behaviour: the model driven directly with a scripted host and a clock of
// the test's own, and the whole server over a real pseudo-terminal.
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "helpers/text_format.h"
#include "platform/virtual_ports.h"
#include "sim/sim_monitor_file.h"
#include "sim/sim_server.h"
#include "sim/target_model.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A small target: Level 0 of 4 and Level 1 of 6 bytes, a monitor of 300 bytes holding every
// byte value.
SimMonitorFile TestMonitor() {
    SimMonitorFile file;
    file.path = "test.h86";
    file.targetName = "Test Target";
    file.syncByte = 0x55;
    file.identByte = 0xC3;
    file.loaderAck = 0x7E;
    file.level0Length = 4;
    file.flashTypes = {"AB12", "XY"};
    file.loader = {0x10, 0x00, 0x11, 0x13, 0xFF, 0x0D, 0x0A, 0x55, 0x03, 0x7F};
    for (int i = 0; i < 300; ++i) {
        file.monitor.push_back(static_cast<std::uint8_t>(i * 7));
    }
    return file;
}

TargetSettings QuickSettings() {
    TargetSettings settings;
    settings.ramTestMs = 0;
    settings.eraseMs = 0;
    settings.busyIntervalMs = 5;
    return settings;
}

// The host's frames, with the CRC computed nibble by nibble as the host does it (the target
// computes it bit by bit).
std::string Crc(const std::string& covered) {
    unsigned crc = 0;
    for (const char c : covered) {
        const auto b = static_cast<unsigned char>(c);
        for (const unsigned nibble : {b & 0xFU, static_cast<unsigned>(b >> 4U)}) {
            crc = (crc >> 4) ^ (((crc ^ nibble) & 0xFU) * 0x1081U);
        }
    }
    return FormatText("%04X", crc & 0xFFFFU);
}
std::string EraseFrame(int sector) {
    const std::string frame = FormatText("P2%02X", sector);
    return frame + Crc(frame);
}
std::string BlockData(std::uint32_t address) {
    std::string data(128, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>((address >> 7) * 31 + i * 13);  // every value, also P, V, F
    }
    return data;
}
std::string BlockFrame(std::uint32_t address, const std::string& data = "") {
    const std::string frame =
        FormatText("V%06X80", address) + (data.empty() ? BlockData(address) : data);
    return frame + Crc(frame);
}
const std::string kFinalize = "F     0";

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
std::string Answer(char letter, const std::string& detail) {
    return std::string(1, letter) + (detail + "      ").substr(0, 6);
}

// Plays the host against the model: each step sends its bytes 10 µs apart and takes every
// emission, labelled with the step, into the transcript.
class ModelHost {
public:
    explicit ModelHost(TargetModel& model) : m_model(model) {
        m_model.Start(m_now);
        Take("start");
    }
    std::vector<std::string> Step(const std::string& label, const std::string& bytes) {
        for (const char c : bytes) {
            m_model.Receive(static_cast<std::uint8_t>(c), m_now);
            m_now += 10us;
        }
        return Take(label);
    }
    // The bytes the target sends in answer to `bytes`, whenever they are due.
    std::string Exchange(const std::string& bytes) {
        const std::size_t before = m_emissions.size();
        Step("x", bytes);
        std::string joined;
        for (std::size_t i = before; i < m_emissions.size(); ++i) {
            joined += Text(m_emissions[i].bytes);
        }
        return joined;
    }
    void Wait(SimClock::duration d) { m_now += d; }
    SimClock::time_point now() const { return m_now; }
    const std::vector<std::string>& transcript() const { return m_transcript; }
    const std::vector<SimEmission>& emissions() const { return m_emissions; }

    // Initialize as the host runs it; true when the monitor reported that it started.
    bool Initialize(const SimMonitorFile& file) {
        Step("sync", std::string(1, static_cast<char>(file.syncByte)));
        Step("loader", Text(file.loader));
        const std::size_t n = file.monitor.size();
        const Bytes control = {0x02, 0x10, static_cast<std::uint8_t>(n),
                               static_cast<std::uint8_t>(n >> 8), 0x03};
        for (std::size_t row = 0; row < control.size(); ++row) {
            Step("load" + std::to_string(row), std::string(1, static_cast<char>(control[row])));
        }
        std::vector<std::string> last;
        for (std::size_t k = 0; k < n; ++k) {
            last =
                Step("mon" + std::to_string(k), std::string(1, static_cast<char>(file.monitor[k])));
        }
        return !last.empty() && last.back() == "mon" + std::to_string(n - 1) + ":11";
    }
    // Download of sectors 1 (two blocks) and 2 (one block); a block without an answer is sent
    // again, at most five times in all, as the host does.
    void Download() {
        Step("erase1", EraseFrame(1));
        Step("erase2", EraseFrame(2));
        for (const std::uint32_t address : {0x10000U, 0x10080U, 0x20000U}) {
            for (int send = 0; send < 5; ++send) {
                ++m_blockSends;
                if (!Step(FormatText("block%06X", address), BlockFrame(address)).empty()) {
                    break;
                }
                Wait(3s);
            }
        }
        Step("finalize", kFinalize);
    }
    int blockSends() const { return m_blockSends; }

private:
    std::vector<std::string> Take(const std::string& label) {
        std::vector<std::string> entries;
        for (SimEmission& emission : m_model.TakeEmissions()) {
            std::string entry = label + ":";
            if (emission.hangup) {
                entry += "HANGUP";
            }
            for (const std::uint8_t b : emission.bytes) {
                entry += FormatText("%02X", b);
            }
            entries.push_back(entry);
            m_emissions.push_back(std::move(emission));
        }
        m_transcript.insert(m_transcript.end(), entries.begin(), entries.end());
        return entries;
    }

    TargetModel& m_model;
    SimClock::time_point m_now = SimClock::time_point{} + 1h;
    std::vector<std::string> m_transcript;
    std::vector<SimEmission> m_emissions;
    int m_blockSends = 0;
};

// Entries of `a` that `b` lacks, in order (multiset difference).
std::vector<std::string> Missing(const std::vector<std::string>& a, std::vector<std::string> b) {
    std::vector<std::string> missing;
    for (const std::string& entry : a) {
        const auto it = std::find(b.begin(), b.end(), entry);
        if (it == b.end()) {
            missing.push_back(entry);
        } else {
            b.erase(it);
        }
    }
    return missing;
}

// A whole session with the faults of `settings` (on a blank flash, so that a refused erase
// does not spoil the blocks after it).
struct FaultRun {
    std::vector<std::string> onlyBaseline;
    std::vector<std::string> onlyFault;
    SimRecord record;
    int blockSends = 0;
};
FaultRun RunAgainstBaseline(TargetSettings settings) {
    settings.blankFlash = true;
    TargetModel baselineModel(TestMonitor(), [&] {
        TargetSettings plain = settings;
        plain.faults = FaultPlan{};
        return plain;
    }());
    ModelHost baseline(baselineModel);
    baseline.Initialize(TestMonitor());
    baseline.Download();
    TargetModel model(TestMonitor(), settings);
    ModelHost host(model);
    host.Initialize(TestMonitor());
    host.Download();
    return {Missing(baseline.transcript(), host.transcript()),
            Missing(host.transcript(), baseline.transcript()), model.record(), host.blockSends()};
}

TEST(SimModelTest, WholeSessionAnswersEveryStepAndRecordsIt) {
    TargetModel model(TestMonitor(), QuickSettings());
    ModelHost host(model);
    ASSERT_TRUE(host.Initialize(TestMonitor()));
    const std::vector<std::string>& t = host.transcript();
    EXPECT_EQ(t[0], "sync:C3");
    EXPECT_EQ(t[1], "loader:7E");
    EXPECT_EQ(t[2], "loader:AAFFFFFFFFFFFF03");
    EXPECT_EQ(t[3], "load0:02");
    EXPECT_EQ(t[6], "load3:01") << "length 300 = 0x012C, high byte";
    EXPECT_EQ(t[8], "mon0:00");
    EXPECT_EQ(host.Exchange(EraseFrame(1)), Answer('A', "AB1201") + Answer('A', "    01"));
    EXPECT_EQ(host.Exchange(BlockFrame(0x10000)), Answer('A', "010000"));
    EXPECT_EQ(host.Exchange(kFinalize), Answer('A', "     0"));
    const SessionRecord& s = model.record().sessions.at(0);
    EXPECT_EQ(s.endedBy, "finalize");
    EXPECT_EQ(s.stagesReached.size(), static_cast<std::size_t>(kSimStageCount));
    EXPECT_EQ(s.loaderReceived, 10U);
    EXPECT_EQ(s.monitorAnnounced, 300);
    EXPECT_TRUE(s.monitorStarted);
    EXPECT_EQ(s.eraseSequence, std::vector<int>{1});
    EXPECT_EQ(s.blocksProgrammed, 1);
    EXPECT_TRUE(model.record().faultsSeen.empty());
    const std::string data = BlockData(0x10000);
    EXPECT_TRUE(
        std::equal(data.begin(), data.end(), model.flash().Sector(1),
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
    EXPECT_EQ(model.sessionsEnded(), 1);
    // The monitor still runs after the finalize: the next download's frames open a session of
    // their own, without a handshake.
    const std::string again = host.Exchange(EraseFrame(1));
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0], 'A');
    EXPECT_FALSE(model.waitingForSync());
    ASSERT_EQ(model.record().sessions.size(), 2U);
    EXPECT_TRUE(model.record().sessions[1].monitorStarted);
    EXPECT_EQ(model.record().sessions[1].eraseSequence, std::vector<int>{1});
}

TEST(SimModelTest, FramesWithWrongCrcsOrFieldsAreRefusedAndChangeNothing) {
    TargetModel model(TestMonitor(), QuickSettings());
    ModelHost host(model);
    ASSERT_TRUE(host.Initialize(TestMonitor()));
    std::string frame = EraseFrame(3);
    frame[7] = static_cast<char>(frame[7] == '0' ? '1' : '0');
    EXPECT_EQ(host.Exchange(frame), Answer('E', "C"));
    ASSERT_EQ(EraseFrame(1), "P20170A8");
    EXPECT_EQ(host.Exchange("P20170a8"), Answer('E', "C")) << "CRC digits are upper case";
    EXPECT_EQ(host.Exchange(EraseFrame(0x3).replace(1, 1, "3").substr(0, 4) + Crc("P303")),
              Answer('E', "A"));
    EXPECT_EQ(host.Exchange("P2G3" + Crc("P2G3")), Answer('E', "A"));
    std::string block = BlockFrame(0x30000);
    block[100] = static_cast<char>(block[100] ^ 0x01);
    EXPECT_EQ(host.Exchange(block), Answer('E', "C"));
    const std::string shortLength = "V0300007F" + BlockData(0x30000);
    EXPECT_EQ(host.Exchange(shortLength + Crc(shortLength)), Answer('E', "A"));
    const std::string beyond = "VFFFFC080" + BlockData(0);
    EXPECT_EQ(host.Exchange(beyond + Crc(beyond)), Answer('E', "A")) << "runs past 16 MB";
    EXPECT_EQ(host.Exchange("F     1"), Answer('E', "A"));
    const SessionRecord& s = model.record().sessions.at(0);
    EXPECT_TRUE(s.eraseSequence.empty());
    EXPECT_EQ(s.blocksProgrammed, 0);
    EXPECT_EQ(s.finalizeCount, 0);
    std::vector<std::string> kinds;
    for (const SimEvent& e : model.record().faultsSeen) {
        kinds.push_back(e.kind);
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"crc", "crc", "bad-frame", "bad-frame", "crc",
                                               "bad-frame", "bad-frame", "bad-frame"}));
}

TEST(SimModelTest, NoiseAndShortFramesAreDroppedAndTheNextFrameIsReadAfresh) {
    TargetModel model(TestMonitor(), QuickSettings());
    ModelHost host(model);
    ASSERT_TRUE(host.Initialize(TestMonitor()));
    // Bytes that start no frame are ignored.
    EXPECT_EQ(host.Exchange("xyz\r\n"), "");
    EXPECT_EQ(model.record().noiseIgnored, 5);
    EXPECT_EQ(host.Exchange(EraseFrame(1)), Answer('A', "AB1201") + Answer('A', "    01"));
    // A block cut short: no answer; after the pause the host's resend is taken whole.
    const std::string block = BlockFrame(0x10000);
    EXPECT_EQ(host.Exchange(block.substr(0, 60)), "");
    host.Wait(300ms);
    EXPECT_EQ(host.Exchange(block), Answer('A', "010000"));
    // A stray frame letter followed by a pause does not swallow the next frame.
    EXPECT_EQ(host.Exchange("V"), "");
    host.Wait(300ms);
    EXPECT_EQ(host.Exchange(BlockFrame(0x10080)), Answer('A', "010080"));
    // Within the pause, bytes still belong to the frame: block data may hold any value.
    const std::string again = BlockFrame(0x10080);
    EXPECT_EQ(host.Exchange(again.substr(0, 70)), "");
    host.Wait(100ms);
    EXPECT_EQ(host.Exchange(again.substr(70)), Answer('A', "010080"))
        << "the same block again right after its answer is taken as a repeat";
    const std::vector<SimEvent>& seen = model.record().faultsSeen;
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[0].kind, "short-frame");
    EXPECT_EQ(seen[0].detail, "a frame starting with 'V' stopped after 60 of 141 bytes; dropped");
    EXPECT_EQ(seen[1].detail, "a frame starting with 'V' stopped after 1 of 141 bytes; dropped");
    EXPECT_EQ(model.record().sessions.at(0).blockRepeats, 1);
}

TEST(SimModelTest, FlashRulesShowMissingErasesAndDoubleProgramming) {
    TargetModel model(TestMonitor(), QuickSettings());
    ModelHost host(model);
    ASSERT_TRUE(host.Initialize(TestMonitor()));
    EXPECT_EQ(host.Exchange(BlockFrame(0x40000)), Answer('E', "P")) << "sector 4 never erased";
    EXPECT_EQ(host.Exchange(EraseFrame(4)), Answer('A', "AB1204") + Answer('A', "    04"));
    EXPECT_EQ(host.Exchange(BlockFrame(0x40000)), Answer('A', "040000"));
    EXPECT_EQ(host.Exchange(BlockFrame(0x40080)), Answer('A', "040080"));
    // The first block again, no longer right after its own answer: programmed twice.
    EXPECT_EQ(host.Exchange(BlockFrame(0x40000)), Answer('E', "P"));
    EXPECT_EQ(host.Exchange(BlockFrame(0x40040)), Answer('E', "P")) << "overlaps both";
    const SessionRecord& s = model.record().sessions.at(0);
    EXPECT_EQ(s.blocksProgrammed, 2);
    ASSERT_EQ(s.blockRuns.size(), 1U);
    EXPECT_EQ(s.blockRuns[0].from, 0x40000U);
    EXPECT_EQ(s.blockRuns[0].to, 0x40080U);
    ASSERT_EQ(model.record().faultsSeen.size(), 3U);
    EXPECT_EQ(model.record().faultsSeen[0].detail,
              "block 0x040000 would program byte 0x040000, which is not erased");
    EXPECT_EQ(model.record().faultsSeen[2].detail,
              "block 0x040040 would program byte 0x040040, which is not erased");
}

TEST(SimModelTest, HandshakeChecksItsInputAndStartsOverWhenStalledOrReset) {
    const SimMonitorFile file = TestMonitor();
    TargetModel model(file, QuickSettings());
    ModelHost host(model);
    // Before the sync byte everything else is ignored.
    EXPECT_EQ(host.Exchange("\x01\x02"), "");
    EXPECT_EQ(host.Exchange("U"), "\xC3");
    // A corrupted loader does not run: no acknowledge, and nothing answers until the stall.
    std::string loader = Text(file.loader);
    loader[5] = static_cast<char>(loader[5] ^ 0x40);
    EXPECT_EQ(host.Exchange(loader), "");
    EXPECT_EQ(host.Exchange("U"), "");
    host.Wait(2500ms);
    EXPECT_EQ(host.Exchange("U"), "\xC3");
    EXPECT_EQ(model.record().sessions.at(0).endedBy, "stall");
    EXPECT_EQ(model.record().sessions.at(0).loaderMismatchAt, 5);
    // The host closing the line in the middle resets the handshake.
    EXPECT_EQ(host.Exchange(Text(file.loader).substr(0, 3)), "");
    model.LineClosed(host.now());
    EXPECT_EQ(model.record().sessions.at(1).endedBy, "line-closed");
    // A monitor announced with another length, or with a wrong byte, is not started.
    ASSERT_EQ(host.Exchange("U"), "\xC3");
    EXPECT_EQ(host.Exchange(Text(file.loader)).substr(0, 1), "\x7E");
    EXPECT_EQ(host.Exchange(std::string("\x02\x10\x02\x00\x03", 5)),
              std::string("\x02\x10\x02\x00\x03", 5));
    EXPECT_EQ(host.Exchange(std::string("\x00\x07", 2)), std::string("\x00\x07", 2))
        << "echoes but no 0x11";
    EXPECT_EQ(model.record().faultsSeen.back().kind, "monitor-mismatch");
    EXPECT_EQ(model.record().faultsSeen.at(model.record().faultsSeen.size() - 2).detail,
              "announced 2 bytes, the monitor has 300");
    // After a failed monitor load only the stall lets the next sync byte through.
    EXPECT_EQ(host.Exchange("U"), "");
    host.Wait(3s);
    EXPECT_EQ(host.Exchange("U"), "\xC3");
}

TEST(SimModelTest, SyncByteBetweenFramesStartsANewSession) {
    TargetModel model(TestMonitor(), QuickSettings());
    ModelHost host(model);
    ASSERT_TRUE(host.Initialize(TestMonitor()));
    model.LineClosed(host.now());
    EXPECT_EQ(host.Exchange(EraseFrame(1)).size(), 14U) << "the monitor still runs";
    EXPECT_EQ(host.Exchange("U"), "\xC3");
    ASSERT_EQ(model.record().sessions.size(), 2U);
    EXPECT_EQ(model.record().sessions[0].endedBy, "sync");
    EXPECT_EQ(model.record().sessions[1].stagesReached, std::vector<SimStage>{SimStage::kIdent});
}

TEST(SimModelTest, BusyAnswersAndCompletionsAreSpacedInTime) {
    TargetSettings settings = QuickSettings();
    settings.eraseMs = 40;
    settings.busyIntervalMs = 15;
    settings.faults.busy.push_back({{SimStage::kEraseDone, -1}, 2});
    TargetModel model(TestMonitor(), settings);
    ModelHost host(model);
    ASSERT_TRUE(host.Initialize(TestMonitor()));
    const std::size_t before = host.emissions().size();
    const SimClock::time_point sent = host.now();
    ASSERT_EQ(host.Exchange(EraseFrame(1)),
              Answer('A', "AB1201") + Answer('D', "") + Answer('D', "") + Answer('A', "    01"));
    const std::vector<SimEmission>& e = host.emissions();
    const auto at = [&](std::size_t i) { return e[before + i].notBefore - sent; };
    EXPECT_LT(at(0), 1ms);
    EXPECT_GE(at(1), 40ms);
    EXPECT_GE(at(2), 55ms);
    EXPECT_GE(at(3), 70ms);
}

// A paced line hands the bytes the model counts as silent over late and together: none of
// them may bring an answer, in any stage; a pause that drops a frame ends the count.
TEST(SimModelTest, BytesCountedSilentBringNoAnswer) {
    const SimMonitorFile file = TestMonitor();
    const std::size_t n = file.monitor.size();
    const std::string control = {'\x02', '\x10', static_cast<char>(n), static_cast<char>(n >> 8),
                                 '\x03'};
    const std::string stream = std::string(1, static_cast<char>(file.syncByte)) +
                               Text(file.loader) + control + Text(file.monitor) + EraseFrame(1) +
                               BlockFrame(0x10000) + kFinalize + BlockFrame(0x10080);
    const std::size_t block = stream.size() - 2 * 141 - kFinalize.size();  // the first 'V'
    const std::size_t paused = stream.size() - 141;                        // the second 'V'
    // 10 µs apart, but 300 ms before byte 50 of the last frame (its frame gap is 250 ms).
    const auto arrival = [&](std::size_t i) {
        return SimClock::time_point{} + 1h + i * 10us + (i >= paused + 50 ? 300ms : 0ms);
    };
    TargetModel model(file, QuickSettings());
    model.Start(arrival(0));
    model.TakeEmissions();
    std::vector<std::size_t> counted(stream.size());
    std::size_t silentUntil = 0;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        counted[i] = model.SilentBytesAhead(stream.size() - i,
                                            [&](std::size_t k) { return arrival(i + k); });
        silentUntil = std::max(silentUntil, i + counted[i]);
        model.Receive(static_cast<std::uint8_t>(stream[i]), arrival(i));
        const bool answered = !model.TakeEmissions().empty();
        EXPECT_FALSE(answered && i < silentUntil) << "byte " << i;
    }
    EXPECT_EQ(counted[1], file.loader.size() - 1) << "the loader but its last byte";
    EXPECT_EQ(counted[block + 1], 139U) << "a block frame but its letter and last byte";
    EXPECT_EQ(counted[paused + 1], 49U) << "up to the pause";
    EXPECT_EQ(counted[1 + file.loader.size()], 0U) << "each control byte is echoed";
}

TEST(SimFaultTest, EachFaultChangesExactlyWhatItSays) {
    struct Case {
        const char* name;
        std::function<void(FaultPlan&)> set;
        std::vector<std::string> onlyBaseline;
        std::vector<std::string> onlyFault;
    };
    const std::vector<Case> cases = {
        {"wrong ident", [](FaultPlan& f) { f.wrongIdent = 0x12; }, {"sync:C3"}, {"sync:12"}},
        {"wrong loader ack",
         [](FaultPlan& f) { f.wrongLoaderAck = 0x11; },
         {"loader:7E"},
         {"loader:11"}},
        {"RAM test failure",
         [](FaultPlan& f) {
             f.ramFailure = FaultPlan::RamFailure{0x00012345, 0x55, 0xAA};
         },
         {"loader:AAFFFFFFFFFFFF03"},
         {"loader:AA45230100AA5501"}},
        {"RAM report marker",
         [](FaultPlan& f) { f.ramMarker = 0x99; },
         {"loader:AAFFFFFFFFFFFF03"},
         {"loader:99FFFFFFFFFFFF03"}},
        {"wrong echo", [](FaultPlan& f) { f.wrongEchoAt = 7; }, {"mon7:31"}, {"mon7:CE"}},
        {"unknown flash type",
         [](FaultPlan& f) { f.unknownFlashType = true; },
         {"erase1:41414231323031", "erase2:41414231323032"},
         {"erase1:413F3F3F3F3031", "erase2:413F3F3F3F3032"}},
        {"CRC error at block 1",
         [](FaultPlan& f) {
             f.crcErrorAt.push_back({SimStage::kBlock, 1});
         },
         {"block010080:41303130303830"},
         {"block010080:45432020202020"}},
        {"error at erase 0 completion",
         [](FaultPlan& f) {
             f.errorAt.push_back({{SimStage::kEraseDone, 0}, 'X'});
         },
         {"erase1:41202020203031"},
         {"erase1:45582020202020"}},
        {"busy before block 2",
         [](FaultPlan& f) {
             f.busy.push_back({{SimStage::kBlock, 2}, 2});
         },
         {},
         {"block020000:44202020202020", "block020000:44202020202020"}},
        {"first erase answer dropped",
         [](FaultPlan& f) {
             f.dropAnswer.push_back({{SimStage::kErase, 0}, 1});
         },
         {"erase1:41414231323031"},
         {}},
        {"block 1 answer split after 3 bytes",
         [](FaultPlan& f) {
             f.splitAnswer.push_back({{SimStage::kBlock, 1}, 40, 3});
         },
         {"block010080:41303130303830"},
         {"block010080:413031", "block010080:30303830"}},
        {"RAM report split after 1 byte",
         [](FaultPlan& f) {
             f.splitAnswer.push_back({{SimStage::kRamReport, -1}, 40, 1});
         },
         {"loader:AAFFFFFFFFFFFF03"},
         {"loader:AA", "loader:FFFFFFFFFFFF03"}},
        {"noise while idle",
         [](FaultPlan& f) { f.noiseBytes = 3; },
         {},
         {"start:3F6489", "finalize:3F6489"}},
        {"noise before the ident byte",
         [](FaultPlan& f) {
             f.noiseBytes = 2;
             f.noiseWhen = FaultPlan::NoiseWhen::kBeforeIdent;
         },
         {"sync:C3"},
         {"sync:3F64C3"}},
    };
    for (const Case& c : cases) {
        TargetSettings settings = QuickSettings();
        c.set(settings.faults);
        const FaultRun run = RunAgainstBaseline(settings);
        EXPECT_EQ(run.onlyBaseline, c.onlyBaseline) << c.name;
        EXPECT_EQ(run.onlyFault, c.onlyFault) << c.name;
        EXPECT_FALSE(run.record.faultsInjected.empty()) << c.name;
    }
}

TEST(SimFaultTest, SilenceHangUpAndDroppedBlockAnswers) {
    TargetSettings silent = QuickSettings();
    silent.faults.silentFrom = StageSelector{SimStage::kMonitorData, 5};
    FaultRun run = RunAgainstBaseline(silent);
    EXPECT_TRUE(run.onlyFault.empty());
    ASSERT_FALSE(run.onlyBaseline.empty());
    EXPECT_EQ(run.onlyBaseline.front(), "mon5:23");
    EXPECT_EQ(run.onlyBaseline.back(), "finalize:41202020202030");

    // Erase answers interleave: silence from the second erase command leaves both answers
    // to the first one.
    TargetSettings silentErase = QuickSettings();
    silentErase.faults.silentFrom = StageSelector{SimStage::kErase, 1};
    run = RunAgainstBaseline(silentErase);
    ASSERT_FALSE(run.onlyBaseline.empty());
    EXPECT_EQ(run.onlyBaseline.front().substr(0, 7), "erase2:");

    TargetSettings hangup = QuickSettings();
    hangup.faults.hangupAt = StageSelector{SimStage::kBlock, 1};
    run = RunAgainstBaseline(hangup);
    EXPECT_EQ(run.onlyFault, std::vector<std::string>{"block010080:HANGUP"});
    EXPECT_EQ(run.onlyBaseline.front(), "block010080:41303130303830");

    // The answer to block 1 is lost twice: the host's third send is accepted as a repeat,
    // without programming the block again.
    TargetSettings drop = QuickSettings();
    drop.faults.dropAnswer.push_back({{SimStage::kBlock, 1}, 2});
    run = RunAgainstBaseline(drop);
    EXPECT_TRUE(run.onlyBaseline.empty());
    EXPECT_TRUE(run.onlyFault.empty());
    EXPECT_EQ(run.blockSends, 5);
    EXPECT_EQ(run.record.sessions.at(0).blockRepeats, 2);
    EXPECT_EQ(run.record.sessions.at(0).blocksProgrammed, 3);
    EXPECT_TRUE(run.record.faultsSeen.empty());
}

TEST(SimFaultTest, LateAndSplitAnswersKeepTheirOrderInTime) {
    TargetSettings settings = QuickSettings();
    settings.faults.busy.push_back({{SimStage::kEraseDone, 0}, 1});
    settings.faults.splitAnswer.push_back({{SimStage::kEraseDone, 0}, 40, 3});
    settings.faults.lateAnswer.push_back({{SimStage::kBlock, 0}, 3500});
    TargetModel model(TestMonitor(), settings);
    ModelHost host(model);
    ASSERT_TRUE(host.Initialize(TestMonitor()));
    const std::vector<SimEmission>& e = host.emissions();
    const std::size_t first = e.size();
    const SimClock::time_point start = host.now();
    // The busy answer stays whole; the completion after it goes out in two pieces.
    EXPECT_EQ(host.Exchange(EraseFrame(1)),
              Answer('A', "AB1201") + Answer('D', "") + Answer('A', "    01"));
    ASSERT_EQ(e.size(), first + 4);
    EXPECT_EQ(e[first + 2].bytes.size(), 3U);
    EXPECT_EQ(e[first + 2].notBefore - e[first + 1].notBefore, 5ms) << "busy interval";
    EXPECT_EQ(e[first + 3].notBefore - e[first + 2].notBefore, 40ms);

    // Block 0's answer comes 3.5 s late; its copy sent after 3 s, and the next block, are
    // answered behind it, and only the first answer at that stage is held back.
    const std::string block0 = host.Exchange(BlockFrame(0x10000));
    const SimClock::time_point late = e.back().notBefore;
    EXPECT_GE(late - start, 3500ms);
    host.Wait(3s);
    EXPECT_EQ(host.Exchange(BlockFrame(0x10000)), block0);
    EXPECT_EQ(e.back().notBefore, late);
    EXPECT_EQ(host.Exchange(BlockFrame(0x10080)), Answer('A', "010080"));
    EXPECT_EQ(e.back().notBefore, late);
    host.Wait(1s);
    EXPECT_EQ(host.Exchange(BlockFrame(0x10100)), Answer('A', "010100"));
    EXPECT_LT(e.back().notBefore - host.now(), 1ms) << "the stall is over";
    const SessionRecord& s = model.record().sessions.at(0);
    EXPECT_EQ(s.blockRepeats, 1);
    EXPECT_EQ(s.blocksProgrammed, 3);
    std::vector<std::string> kinds;
    for (const SimEvent& event : model.record().faultsInjected) {
        kinds.push_back(event.stage + " " + event.kind);
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"erase-done@0 busy", "erase-done@0 split-answer",
                                               "block@0 late-answer"}));
}

TEST(SimFaultTest, FaultSessionLimitsTheFaultsToOneSession) {
    TargetSettings settings = QuickSettings();
    settings.faults.wrongIdent = 0x12;
    settings.faults.session = 2;
    TargetModel model(TestMonitor(), settings);
    ModelHost host(model);
    EXPECT_EQ(host.Exchange("U"), "\xC3");
    model.LineClosed(host.now());
    EXPECT_EQ(host.Exchange("U"), "\x12");
    model.LineClosed(host.now());
    EXPECT_EQ(host.Exchange("U"), "\xC3");
}

// ---- The server over a pseudo-terminal, with a host that opens the slave as a port would.

class PtyHost {
public:
    explicit PtyHost(const std::string& path) {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios settings{};
            tcgetattr(m_fd, &settings);
            cfmakeraw(&settings);
            tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~PtyHost() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    int fd() const { return m_fd; }
    void Send(const std::string& bytes) {
        ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Up to `count` bytes, waiting at most `timeout` for them.
    std::string Receive(std::size_t count, std::chrono::milliseconds timeout = 2000ms) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
                (p.revents & POLLIN) == 0) {
                break;
            }
            char buffer[256];
            const ssize_t n = read(m_fd, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    std::string Exchange(const std::string& bytes, std::size_t count) {
        Send(bytes);
        return Receive(count);
    }
    bool Initialize(const SimMonitorFile& file) {
        if (Exchange(std::string(1, static_cast<char>(file.syncByte)), 1) !=
            std::string(1, static_cast<char>(file.identByte))) {
            return false;
        }
        Send(Text(file.loader));
        if (Receive(9) !=
            static_cast<char>(file.loaderAck) + std::string("\xAA\xFF\xFF\xFF\xFF\xFF\xFF\x03")) {
            return false;
        }
        const std::size_t n = file.monitor.size();
        const std::string control = {'\x02', '\x10', static_cast<char>(n),
                                     static_cast<char>(n >> 8), '\x03'};
        for (const char c : control) {
            if (Exchange(std::string(1, c), 1) != std::string(1, c)) {
                return false;
            }
        }
        for (const std::uint8_t b : file.monitor) {
            const std::string one(1, static_cast<char>(b));
            if (Exchange(one, 1) != one) {
                return false;
            }
        }
        return Receive(1) == "\x11";
    }

private:
    int m_fd = -1;
};

class RunningServer {
public:
    explicit RunningServer(TargetSettings settings = QuickSettings(), SimServerOptions options = {})
        : server(TestMonitor(), settings, options) {
        const Status opened = server.Open();
        EXPECT_TRUE(opened) << (opened ? "" : opened.error().text);
        server.onLineChanged = [this](const std::string& path) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_changed.push_back(path);
        };
        m_thread = std::thread([this] { server.Run(); });
    }
    ~RunningServer() {
        server.Stop();
        m_thread.join();
    }
    std::vector<std::string> changedLines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_changed;
    }
    SimServer server;

private:
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_changed;
};

TEST(SimServerTest, ServesSessionsOverThePtyAndReportsThem) {
    TempDir dir;
    SimServerOptions options;
    options.linkPath = (dir.path() / "port").string();
    std::string report;
    {
        RunningServer running(QuickSettings(), options);
        EXPECT_EQ(std::filesystem::read_symlink(options.linkPath).string(),
                  running.server.slavePath());
        PtyHost host(options.linkPath);
        ASSERT_GE(host.fd(), 0);
        ASSERT_TRUE(host.Initialize(TestMonitor()));
        EXPECT_EQ(host.Exchange(EraseFrame(1), 14), Answer('A', "AB1201") + Answer('A', "    01"));
        EXPECT_EQ(host.Exchange(BlockFrame(0x10000), 7), Answer('A', "010000"));
        EXPECT_EQ(host.Exchange(kFinalize, 7), Answer('A', "     0"));
        ASSERT_TRUE(host.Initialize(TestMonitor())) << "a second session on the same line";
        report = running.server.ReportJson();
        ASSERT_TRUE(running.server.WriteDump((dir.path() / "flash.bin").string()));
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(options.linkPath)))
        << "the link goes with the server";
    EXPECT_NE(report.find("\"endedBy\": \"finalize\""), std::string::npos);
    EXPECT_NE(report.find("\"eraseSequence\": [1]"), std::string::npos);
    EXPECT_NE(report.find("{\"from\": \"0x010000\", \"to\": \"0x010000\", \"count\": 1}"),
              std::string::npos);
    EXPECT_NE(report.find("\"sector\": 1, \"sha256\": \""), std::string::npos);
    EXPECT_NE(report.find("\"number\": 2"), std::string::npos);
    std::ifstream dump(dir.path() / "flash.bin", std::ios::binary);
    std::string flash((std::istreambuf_iterator<char>(dump)), std::istreambuf_iterator<char>());
    ASSERT_EQ(flash.size(), FlashModel::kSize);
    EXPECT_EQ(flash.substr(0x10000, 128), BlockData(0x10000));
    EXPECT_EQ(flash.substr(0x10080, 2), "\xFF\xFF");
    EXPECT_EQ(flash.substr(0x20000, 2), std::string(2, '\0')) << "old content";
}

// Whether `condition` holds within two seconds.
bool Eventually(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Opens `path` in a child process that lacks the capability to ignore exclusive use (as any
// host not run by root); returns the open's errno, or 0 when it opened.
int OpenErrnoWithoutPrivilege(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        syscall(SYS_capset, &header, data);
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : (errno & 0x7F));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SimServerTest, HostMayHoldTheLineExclusivelyAndReopenItBetweenJobs) {
    RunningServer running;
    const std::string path = running.server.slavePath();
    {
        PtyHost host(path);
        ASSERT_EQ(ioctl(host.fd(), TIOCEXCL), 0);
        EXPECT_EQ(OpenErrnoWithoutPrivilege(path), EBUSY);
        ASSERT_TRUE(host.Initialize(TestMonitor()));
    }
    // The close notice reaches the server a moment later.
    EXPECT_TRUE(Eventually([&] { return OpenErrnoWithoutPrivilege(path) == 0; }))
        << "exclusive use ends with the host";
    PtyHost again(path);
    ASSERT_EQ(ioctl(again.fd(), TIOCEXCL), 0);
    EXPECT_EQ(again.Exchange(EraseFrame(1), 14), Answer('A', "AB1201") + Answer('A', "    01"))
        << "the monitor kept running while the line was closed";
}

TEST(SimServerTest, IdleNoiseWaitsOnTheLineAndAnUnfinishedHandshakeResetsOnClose) {
    TargetSettings settings = QuickSettings();
    settings.faults.noiseBytes = 4;
    {
        // On the line once Open() returns, before the server runs: a host that opens the line
        // at once and drops what waits there never takes the noise for an answer.
        SimServer opened(TestMonitor(), settings, {});
        const Status open = opened.Open();
        ASSERT_TRUE(open) << open.error().text;
        EXPECT_EQ(PtyHost(opened.slavePath()).Receive(4, 100ms), "\x3F\x64\x89\xAE");
    }
    RunningServer running(settings);
    const std::string path = running.server.slavePath();
    {
        PtyHost host(path);
        EXPECT_EQ(host.Receive(4), "\x3F\x64\x89\xAE");
        EXPECT_EQ(host.Exchange("U", 1), "\xC3");
        host.Send(Text(TestMonitor().loader).substr(0, 4));
    }
    // The close ends the unfinished handshake's session, which puts the noise out again.
    ASSERT_TRUE(Eventually([&] { return running.server.sessionsEnded() == 1; }));
    PtyHost host(path);
    EXPECT_EQ(host.Receive(4), "\x3F\x64\x89\xAE") << "noise again for the next session";
    EXPECT_TRUE(host.Initialize(TestMonitor()));
}

TEST(SimServerTest, BaudPacingDelaysBytesByTheirWireTime) {
    SimServerOptions options;
    options.baud = 4800;  // 2.083 ms a character
    RunningServer running(QuickSettings(), options);
    PtyHost host(running.server.slavePath());
    ASSERT_TRUE(host.Initialize(TestMonitor()));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(host.Exchange(EraseFrame(1), 14), Answer('A', "AB1201") + Answer('A', "    01"));
    ASSERT_EQ(host.Exchange(BlockFrame(0x10000), 7), Answer('A', "010000"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // 8 + 14 + 141 + 7 characters of 10 bits cannot pass in less than their wire time.
    EXPECT_GE(elapsed, std::chrono::microseconds(170 * 10 * 1000000LL / 4800));
}

TEST(SimServerTest, HangUpClosesTheLineAndOpensANewOne) {
    TempDir dir;
    TargetSettings settings = QuickSettings();
    settings.faults.hangupAt = StageSelector{SimStage::kLoaderAck, -1};
    settings.faults.session = 1;
    SimServerOptions options;
    options.linkPath = (dir.path() / "port").string();
    RunningServer running(settings, options);
    const std::string first = running.server.slavePath();
    PtyHost host(first);
    EXPECT_EQ(host.Exchange("U", 1), "\xC3");
    host.Send(Text(TestMonitor().loader));
    pollfd p{host.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0) << "the host sees the line hang up";
    ASSERT_TRUE(Eventually([&] { return !running.changedLines().empty(); }));
    const std::vector<std::string> changed = running.changedLines();
    ASSERT_EQ(changed.size(), 1U);
    EXPECT_EQ(changed[0], running.server.slavePath());
    EXPECT_EQ(std::filesystem::read_symlink(options.linkPath).string(), changed[0]);
    PtyHost next(options.linkPath);
    EXPECT_TRUE(next.Initialize(TestMonitor())) << "faults were for session 1 only";
}

// A link the target cannot point at its new line (something else took its place) no longer
// announces the line as served: port lists must not offer the old line's device, which
// another program may have by now.
TEST(SimServerTest, ALinkThatCannotFollowAHangUpIsNoLongerAnnounced) {
    TempDir dir;
    TargetSettings settings = QuickSettings();
    settings.faults.hangupAt = StageSelector{SimStage::kLoaderAck, -1};
    SimServerOptions options;
    options.linkPath = (dir.path() / "port").string();
    RunningServer running(settings, options);
    ASSERT_TRUE(IsVirtualPortServed(options.linkPath));
    PtyHost host(options.linkPath);
    std::filesystem::remove(options.linkPath);
    std::ofstream(options.linkPath) << "not a link";
    EXPECT_EQ(host.Exchange("U", 1), "\xC3");
    host.Send(Text(TestMonitor().loader));
    ASSERT_TRUE(Eventually([&] { return !running.changedLines().empty(); }));
    EXPECT_FALSE(IsVirtualPortServed(options.linkPath));
}

TEST(SimServerTest, AHangUpWaitsUntilTheHostHasReadTheAnswersBeforeIt) {
    // The report is due with the acknowledge (no RAM test time); a host that looks late,
    // as a loaded machine does, still finds the acknowledge and then the closed line.
    TargetSettings settings = QuickSettings();
    settings.faults.hangupAt = StageSelector{SimStage::kRamReport, -1};
    RunningServer running(settings);
    PtyHost host(running.server.slavePath());
    EXPECT_EQ(host.Exchange("U", 1), "\xC3");
    host.Send(Text(TestMonitor().loader));
    // The host looks only once the acknowledge waits on its side; the hang-up due with it
    // waits for that look.
    ASSERT_TRUE(Eventually([&] {
        int unread = 0;
        return ioctl(host.fd(), FIONREAD, &unread) == 0 && unread > 0;
    }));
    EXPECT_TRUE(running.changedLines().empty()) << "no hang-up over an unread answer";
    EXPECT_EQ(host.Receive(1), std::string(1, static_cast<char>(TestMonitor().loaderAck)));
    pollfd p{host.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0) << "the line hangs up once the host has read";
    EXPECT_TRUE(Eventually([&] { return !running.changedLines().empty(); }));
}

TEST(SimProgramTest, PrintsItsLineServesUpToTheSessionLimitAndLeavesItsFiles) {
    TempDir dir;
    const std::string monitor = std::string(QUILLON_SOURCE_DIR) + "/Targets/virtual-target.h86";
    const std::string link = (dir.path() / "port").string();
    const std::string report = (dir.path() / "report.json").string();
    const std::string dump = (dir.path() / "flash.bin").string();
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execl(QUILLON_SIM_PROGRAM, "quillon-sim", "--monitor", monitor.c_str(), "--link",
              link.c_str(), "--sessions", "1", "--report", report.c_str(), "--dump", dump.c_str(),
              "--ram-test-ms=0", "--erase-ms=0", "--exit-after", "20", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string first;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        first += c;
    }
    close(out[0]);
    ASSERT_EQ(first.rfind("/dev/", 0), 0U) << first;
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), first);

    const Result<SimMonitorFile> loaded = LoadSimMonitorFile(monitor);
    ASSERT_TRUE(loaded) << loaded.error().text;
    const SimMonitorFile& file = *loaded;
    {
        PtyHost host(link);
        ASSERT_TRUE(host.Initialize(file));
        kill(child, SIGUSR1);
        EXPECT_TRUE(Eventually([&] { return std::filesystem::exists(report); }))
            << "SIGUSR1 writes the report at once";
        const std::string type = file.flashTypes.at(0);
        EXPECT_EQ(host.Exchange(EraseFrame(0), 14),
                  Answer('A', type + "00") + Answer('A', "    00"));
        EXPECT_EQ(host.Exchange(BlockFrame(0x80), 7), Answer('A', "000080"));
        EXPECT_EQ(host.Exchange(kFinalize, 7), Answer('A', "     0"));
    }
    int status = -1;
    EXPECT_TRUE(Eventually([&] { return waitpid(child, &status, WNOHANG) == child; }))
        << "the session limit ends the program";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::ifstream in(report);
    const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(json.find("\"name\": \"Virtual Target\""), std::string::npos);
    EXPECT_NE(json.find("\"endedBy\": \"finalize\""), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(dump), FlashModel::kSize);
}

}  // namespace
