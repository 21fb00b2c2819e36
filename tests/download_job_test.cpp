#include "link/download_job.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "image/image_memory.h"
#include "link/crc.h"
#include "tests/support/hex_text.h"
#include "tests/support/job_harness.h"
#include "tests/support/monitor_file.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

const std::string kNoResponse = "No response from target (=> Activate BSL-Mode => Reset) !";

// The CRC computed bit by bit, as a second opinion on the nibble-wise one.
std::uint16_t BitwiseCrc(const Bytes& data) {
    std::uint16_t crc = 0;
    for (std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1);
        }
    }
    return crc;
}

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// One frame as the monitor saw it.
struct Frame {
    std::string text;  // the whole frame; block data as raw bytes
    char command() const { return text.empty() ? '\0' : text[0]; }
};

// The monitor's side: reads frame after frame and answers each with what `respond` returns
// (a list of 7-byte answers; none is silence; an empty one is a pause of 300 ms). Ends after
// the finalize answer or on Stop.
using Responder = std::function<std::vector<std::string>(const Frame& frame, int sameFrameCount)>;

void ServeMonitor(ScriptedPeer& p, std::vector<Frame>& frames, const Responder& respond) {
    std::map<std::string, int> seen;
    for (;;) {
        const Bytes letter = p.Expect(1, 60000);
        if (letter.empty()) {
            return;
        }
        const std::size_t rest = letter[0] == 'P'   ? 7
                                 : letter[0] == 'V' ? 140
                                 : letter[0] == 'F' ? 6
                                                    : 0;
        const Bytes body = p.Expect(rest);
        Frame frame{std::string(1, static_cast<char>(letter[0]))};
        frame.text.append(body.begin(), body.end());
        frames.push_back(frame);
        bool first = true;
        for (const std::string& answer : respond(frame, seen[frame.text]++)) {
            // Answers to one frame come apart in time, as from a real monitor: a wait that
            // reads everything waiting takes only one of them.
            if (!first) {
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
            }
            first = false;
            if (answer.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                continue;
            }
            p.Reply(answer);
        }
        if (frame.command() == 'F' && !p.Stopped()) {
            return;
        }
    }
}

// A monitor that accepts everything: erase with flash type "AM29".
std::vector<std::string> AcceptAll(const Frame& frame, int) {
    switch (frame.command()) {
        case 'P':
            return {"OAM29..", "O......"};
        case 'V':
            return {"O......"};
        case 'F':
            return {"O......"};
        default:
            return {};
    }
}

class DownloadJobTest : public ::testing::Test {
protected:
    DownloadJobTest() {
        // The state a successful Initialize leaves: port open, header copied.
        OpenPort();
        MonitorFileSpec spec;
        spec.eraseAllSectorCount = 4;
        const Bytes header = spec.HeaderBytes();
        std::memcpy(&harness.worker->m_header, header.data(), header.size());
    }

    // Opens the worker's port (it is idle, so this does not race with it); the log line goes
    // to a queue of its own.
    void OpenPort() {
        MessageQueue quiet;
        JobParams job;
        job.hWndOwner = &quiet;
        job.strPort = pty.slavePath();
        EXPECT_TRUE(harness.worker->m_link.OpenPort(job));
        while (auto message = quiet.TryTake()) {
            DiscardPostedMessage(*message);
        }
    }

    // An image holding `bytes` at each address.
    std::string Image(const std::vector<std::pair<std::uint32_t, Bytes>>& parts) {
        std::string text;
        for (const auto& [address, bytes] : parts) {
            text += HexTextAt(address, bytes);
        }
        return dir.Write("image.hex", text + hex_text::End());
    }

    JobResult Download(const std::string& image, const Responder& respond) {
        ScriptedPeer target(pty, [&](ScriptedPeer& p) { ServeMonitor(p, frames, respond); });
        JobResult result = harness.Download(image);
        target.Stop();
        target.Join();
        return result;
    }

    std::vector<char> Commands() const {
        std::vector<char> letters;
        for (const Frame& f : frames) {
            letters.push_back(f.command());
        }
        return letters;
    }

    PtyPair pty;
    TempDir dir;
    MessageRecorder boxes;
    JobHarness harness;
    std::vector<Frame> frames;
};

TEST(FrameTest, CrcAndFramesAreByteExact) {
    const Bytes check = ToBytes("123456789");
    EXPECT_EQ(CalcCrc(check.data(), 9), 0x2189);
    for (std::size_t n : {1u, 4u, 37u, 137u, 255u}) {
        const Bytes data = hex_text::Pattern(n, static_cast<unsigned>(n));
        EXPECT_EQ(CalcCrc(data.data(), static_cast<std::uint8_t>(n)), BitwiseCrc(data)) << n;
    }

    std::uint8_t frame[DownloadJob::kBlockFrameLength] = {};
    EXPECT_EQ(DownloadJob::BuildEraseFrame(frame, 0), 8u);
    EXPECT_EQ(std::string(frame, frame + 8), "P2006121");
    DownloadJob::BuildEraseFrame(frame, 0xAB);
    EXPECT_EQ(std::string(frame, frame + 4), "P2AB");

    g_imageMemory.Clear();
    const Bytes data = hex_text::Pattern(128, 3);
    ASSERT_TRUE(g_imageMemory.Store(0x12, 0x80, data.data(), data.size()));
    EXPECT_EQ(DownloadJob::BuildBlockFrame(frame, 0x12, 0x80), 141u);
    EXPECT_EQ(std::string(frame, frame + 9), "V12008080");
    EXPECT_EQ(Bytes(frame + 9, frame + 137), data);
    char crc[5];
    std::snprintf(crc, sizeof crc, "%04X", BitwiseCrc(Bytes(frame, frame + 137)));
    EXPECT_EQ(std::string(frame + 137, frame + 141), crc);
    DownloadJob::BuildBlockFrame(frame, 0, 0);
    EXPECT_EQ(std::string(frame, frame + 7), "V000000");

    EXPECT_EQ(DownloadJob::BuildFinalizeFrame(frame), 7u);
    EXPECT_EQ(std::string(frame, frame + 7), "F     0");
}

TEST(ProgressTest, CountsOfAFullImageSurviveThePacking) {
    for (const ProgressPhase phase : {ProgressPhase::kMonitorUpload, ProgressPhase::kProgramming}) {
        for (const std::uint32_t done : {0u, 0xFFFFFFu, ImageMemory::kSize}) {
            const WParam packed = MakeProgressWParam(phase, done);
            EXPECT_EQ(ProgressPhaseOf(packed), phase);
            EXPECT_EQ(ProgressDoneOf(packed), done);
        }
    }
}

TEST_F(DownloadJobTest, ImageInOneSectorErasesAndProgramsOnlyIt) {
    const Bytes data = hex_text::Pattern(300, 1);
    const JobResult result = Download(Image({{0x020000, data}}), AcceptAll);
    EXPECT_EQ(result.log, (Lines{"Erasing sector 2!", "Programming sector 2! *",
                                 "Finalizing download", "Download finished successfully!"}));
    EXPECT_EQ(result.doneMessages, 1);
    EXPECT_EQ(result.aborted, 0u);
    EXPECT_EQ(result.succeeded, 1);
    ASSERT_EQ(frames.size(), 1 + 3 + 1u);
    EXPECT_EQ(frames[0].text.substr(0, 4), "P202");
    EXPECT_EQ(frames[1].text.substr(0, 9), "V02000080");
    EXPECT_EQ(frames[2].text.substr(0, 9), "V02008080");
    EXPECT_EQ(frames[3].text.substr(0, 9), "V02010080");
    // The last block: 44 bytes of data, then erased bytes.
    Bytes last(frames[3].text.begin() + 9, frames[3].text.begin() + 137);
    EXPECT_EQ(Bytes(last.begin(), last.begin() + 44), Bytes(data.begin() + 256, data.end()));
    EXPECT_EQ(Bytes(last.begin() + 44, last.end()), Bytes(84, 0xFF));
    EXPECT_EQ(frames[4].text, "F     0");
    ASSERT_FALSE(result.progress.empty());
    EXPECT_EQ(ProgressPhaseOf(result.progress.back().wParam), ProgressPhase::kProgramming);
    EXPECT_EQ(ProgressDoneOf(result.progress.back().wParam), 384u);
    EXPECT_EQ(result.progress.back().lParam, 384);
}

TEST_F(DownloadJobTest, EraseAllAddsTheFixedSectorsButProgramsOnlyUsedOnes) {
    const std::string image = Image({{0x000000, Bytes{1, 2}}, {0x0A0000, Bytes{3, 4}}});
    harness.eraseAll = 1;
    JobResult result = Download(image, AcceptAll);
    EXPECT_EQ(result.log, (Lines{"Erasing sector 0!", "Erasing sector 1!", "Erasing sector 2!",
                                 "Erasing sector 3!", "Erasing sector 10!",
                                 "Programming sector 0! *", "Programming sector 10! *",
                                 "Finalizing download", "Download finished successfully!"}));
    EXPECT_EQ(Commands(), (std::vector<char>{'P', 'P', 'P', 'P', 'P', 'V', 'V', 'F'}));

    harness.eraseAll = 0;
    frames.clear();
    result = Download(image, AcceptAll);
    EXPECT_EQ(result.log, (Lines{"Erasing sector 0!", "Erasing sector 10!",
                                 "Programming sector 0! *", "Programming sector 10! *",
                                 "Finalizing download", "Download finished successfully!"}));
}

TEST_F(DownloadJobTest, BlocksRunUpToTheFillMarkWithAStarPer1280Bytes) {
    struct Case {
        std::uint32_t lastOffset;
        std::size_t blocks;
        std::string programmingLine;
    };
    const std::vector<Case> cases = {
        {255, 2, "Programming sector 5! *"},
        {256, 3, "Programming sector 5! *"},
        {1279, 10, "Programming sector 5! *"},
        {1280, 11, "Programming sector 5! **"},
        {0xFFFF, 512, "Programming sector 5! " + std::string(52, '*')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastOffset);
        frames.clear();
        const JobResult result =
            Download(Image({{0x050000 + c.lastOffset, Bytes{0x77}}}), AcceptAll);
        EXPECT_EQ(result.log[1], c.programmingLine);
        EXPECT_EQ(frames.size(), 1 + c.blocks + 1);
        EXPECT_EQ(result.succeeded, 1);
    }
}

TEST_F(DownloadJobTest, SingleByteAtOffsetZeroIsErasedAndProgrammed) {
    const JobResult result =
        Download(Image({{0x000000, Bytes{0x12}}, {0x010000, Bytes{0x34}}}), AcceptAll);
    EXPECT_EQ(result.log, (Lines{"Erasing sector 0!", "Erasing sector 1!",
                                 "Programming sector 0! *", "Programming sector 1! *",
                                 "Finalizing download", "Download finished successfully!"}));
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[2].text.substr(0, 10), "V00000080\x12");
    EXPECT_EQ(frames[3].text.substr(0, 10), "V01000080\x34");
    EXPECT_EQ(frames[3].text.substr(10, 127), std::string(127, '\xFF'));
}

TEST_F(DownloadJobTest, CompletionReadTogetherWithNotFinishedAnswersCounts) {
    // Both "not finished" answers and the completion arrive before the host reads.
    const JobResult result = Download(Image({{0x000000, Bytes{1}}}), [](const Frame& f, int n) {
        if (f.command() == 'P') {
            return std::vector<std::string>{"OAM29..", "D......D......O......"};
        }
        return AcceptAll(f, n);
    });
    EXPECT_EQ(result.log.back(), "Download finished successfully!");
    EXPECT_EQ(result.succeeded, 1);

    frames.clear();
    const JobResult failed = Download(Image({{0x000000, Bytes{1}}}), [](const Frame& f, int n) {
        if (f.command() == 'P') {
            return std::vector<std::string>{"OAM29..", "D......EQ.....O......"};
        }
        return AcceptAll(f, n);
    });
    EXPECT_EQ(failed.log.back(), "Error Q!");
    EXPECT_EQ(failed.succeeded, 0);
}

TEST_F(DownloadJobTest, AnswerLeftOverFromAnEarlierJobIsNotTaken) {
    pty.Send(std::string("AXY12..A......"));  // a late completion and more from before
    const JobResult result = Download(Image({{0x000000, Bytes{1}}}), AcceptAll);
    EXPECT_EQ(result.log.back(), "Download finished successfully!");
    EXPECT_EQ(result.succeeded, 1);
}

TEST_F(DownloadJobTest, ImageWithoutDataSendsNothingUnlessAllSectorsAreToBeErased) {
    const std::string empty = dir.Write("empty.hex", hex_text::End());
    const JobResult result = Download(empty, AcceptAll);
    EXPECT_EQ(result.log, Lines{DownloadJob::kNoDataLine});
    EXPECT_EQ(result.succeeded, 0);
    EXPECT_EQ(result.doneMessages, 1);
    EXPECT_TRUE(frames.empty());

    harness.eraseAll = 1;
    const JobResult erased = Download(empty, AcceptAll);
    EXPECT_EQ(erased.succeeded, 1);
    EXPECT_EQ(Commands(), (std::vector<char>{'P', 'P', 'P', 'P', 'F'}));
}

// The first copy of a block is answered only after the host gave up waiting and sent it again;
// then both copies are answered, as by a target that stalled for a moment. The extra answer
// must not pass for the answer to any later frame: the finalize is judged by its own.
TEST_F(DownloadJobTest, LateAnswersToARepeatedBlockShiftNothing) {
    for (const std::string finalize : {"EF.....", "O......"}) {
        SCOPED_TRACE(finalize);
        frames.clear();
        int blocks = 0;
        const JobResult result = Download(Image({{0x000000, Bytes(300, 0x42)}}), [&](const Frame& f,
                                                                                     int n) {
            if (f.command() == 'V') {
                // Programming takes the target 100 ms a block.
                std::this_thread::sleep_for(std::chrono::milliseconds(blocks++ == 1 ? 3300 : 100));
            }
            if (f.command() == 'F') {
                return std::vector<std::string>{finalize};
            }
            return AcceptAll(f, n);
        });
        EXPECT_EQ(Commands(), (std::vector<char>{'P', 'V', 'V', 'V', 'V', 'F'}));
        EXPECT_EQ(frames[2].text, frames[3].text);
        EXPECT_EQ(result.log.back(),
                  finalize[0] == 'E' ? "Error F!" : "Download finished successfully!");
        EXPECT_EQ(result.succeeded, finalize[0] == 'E' ? 0 : 1);
    }
}

TEST_F(DownloadJobTest, EraseAnswers) {
    struct Case {
        std::vector<std::string> answers;
        std::string line;  // empty: success
    };
    const std::vector<Case> cases = {
        {{}, kNoResponse},
        {{"EC....."}, "Wrong CRC!"},
        {{"E7....."}, "Error 7!"},
        {{"OXYZW.."}, "Wrong flash type XYZW!"},
        {{std::string("OF16\0..", 7), "O......"}, ""},  // a shorter name ends at its NUL
        {{"OAM29.."}, kNoResponse},
        {{"OAM29..", "EC....."}, "Error C!"},
        {{"OAM29..", "D......", "D......", "O......"}, ""},
        // A completion whose first bytes come with the "not finished" answer.
        {{"OAM29..", "D......O..", "...."}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        frames.clear();
        const JobResult result =
            Download(Image({{0x030000, Bytes{1}}}), [&](const Frame& f, int n) {
                return f.command() == 'P' ? c.answers : AcceptAll(f, n);
            });
        if (c.line.empty()) {
            EXPECT_EQ(result.log.back(), "Download finished successfully!");
            EXPECT_EQ(result.succeeded, 1);
        } else {
            EXPECT_EQ(result.log, (Lines{"Erasing sector 3!", c.line}));
            EXPECT_EQ(result.succeeded, 0);
            EXPECT_EQ(Commands(), std::vector<char>{'P'}) << "nothing after the failed erase";
        }
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_EQ(result.aborted, 0u);
    }
}

TEST_F(DownloadJobTest, BlockAndFinalizeAnswers) {
    struct Case {
        char command;
        std::string answer;
        std::string line;
        std::size_t frames;
    };
    const std::vector<Case> cases = {
        {'V', "EC.....", "Wrong CRC!", 2},  // never sent again after an error
        {'V', "Ex.....", "Error x!", 2},
        {'V', "E\n.....", "Error \\x0A!", 2},  // a control byte cannot split the line
        {'F', "EC.....", "Wrong CRC!", 4},
        {'F', "E\x84.....", "Error \xE2\x80\x9E!", 4},  // shown as Windows-1252 text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        frames.clear();
        const JobResult result =
            Download(Image({{0x000000, Bytes(200, 0x55)}}), [&](const Frame& f, int n) {
                if (f.command() == c.command) {
                    return std::vector<std::string>{c.answer};
                }
                return AcceptAll(f, n);
            });
        EXPECT_EQ(result.log.back(), c.line);
        EXPECT_EQ(result.succeeded, 0);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_EQ(frames.size(), c.frames);
    }
}

TEST_F(DownloadJobTest, NotFinishedAnswersNeitherResendNorCount) {
    const JobResult result =
        Download(Image({{0x000000, Bytes(130, 0x11)}}), [](const Frame& f, int n) {
            if (f.command() == 'V') {
                return std::vector<std::string>{"D......", "D......", "D......", "D......",
                                                "D......", "D......", "O......"};
            }
            if (f.command() == 'F') {
                return std::vector<std::string>{"D......", "O......"};
            }
            return AcceptAll(f, n);
        });
    EXPECT_EQ(result.succeeded, 1);
    EXPECT_EQ(Commands(), (std::vector<char>{'P', 'V', 'V', 'F'}));
}

TEST_F(DownloadJobTest, SilentBlockIsSentAgainAtMostFiveTimes) {
    {
        SCOPED_TRACE("answered on the third send");
        const JobResult result =
            Download(Image({{0x000000, Bytes{9}}}), [](const Frame& f, int sameFrame) {
                if (f.command() == 'V' && sameFrame < 2) {
                    return std::vector<std::string>{"O.."};  // a partial answer, then silence
                }
                return AcceptAll(f, sameFrame);
            });
        EXPECT_EQ(result.succeeded, 1);
        ASSERT_EQ(Commands(), (std::vector<char>{'P', 'V', 'V', 'V', 'F'}));
        EXPECT_EQ(frames[1].text, frames[3].text) << "the resent frame is built anew, unchanged";
    }
    {
        SCOPED_TRACE("never answered");
        frames.clear();
        const JobResult result = Download(Image({{0x000000, Bytes{9}}}), [](const Frame& f, int n) {
            return f.command() == 'V' ? std::vector<std::string>{} : AcceptAll(f, n);
        });
        EXPECT_EQ(result.log.back(), kNoResponse);
        EXPECT_EQ(result.succeeded, 0);
        EXPECT_EQ(Commands(), (std::vector<char>{'P', 'V', 'V', 'V', 'V', 'V'}));
    }
}

TEST_F(DownloadJobTest, AnswerCutByTheTimeOutIsNotJoinedToTheNextOne) {
    // A refusal that starts just before the host's 3 s wait ends and finishes after it: its
    // tail must not make the refusal of the copy sent again read as "accepted".
    const JobResult result = Download(Image({{0x000000, Bytes{9}}}), [](const Frame& f, int n) {
        if (f.command() == 'V' && n == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2900));
            return std::vector<std::string>{"EC.", "", "...."};
        }
        return f.command() == 'V' ? std::vector<std::string>{"EC....."} : AcceptAll(f, n);
    });
    EXPECT_EQ(result.log.back(), "Wrong CRC!");
    EXPECT_EQ(result.succeeded, 0);
    EXPECT_EQ(Commands(), (std::vector<char>{'P', 'V', 'V'}));
}

TEST_F(DownloadJobTest, NoPortMeansNoJob) {
    harness.worker->m_link.ClosePort();
    const JobResult result = harness.Download(Image({{0, Bytes{1}}}));
    EXPECT_TRUE(result.log.empty());
    EXPECT_EQ(result.doneMessages, 1);
    EXPECT_EQ(result.aborted, 0u);
    EXPECT_EQ(result.succeeded, 0);

    boxes.clear();
    OpenPort();
    const JobResult missing = Download(dir.path().string() + "/missing.hex", AcceptAll);
    EXPECT_TRUE(missing.log.empty());
    EXPECT_EQ(missing.succeeded, 0);
    EXPECT_EQ(boxes.messages(), Lines{"Datei nicht vorhanden!"});
}

TEST_F(DownloadJobTest, AbortEndsTheJobAtItsNextPollPoint) {
    const std::string image = Image({{0x000000, Bytes(1000, 1)}, {0x020000, Bytes(10, 2)}});
    {
        SCOPED_TRACE("before the worker picked the job up");
        const JobResult result = harness.DownloadAbortedBeforeStart(image);
        EXPECT_TRUE(result.log.empty());
        EXPECT_EQ(result.aborted, 1u);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_TRUE(pty.ReceiveAvailable().empty());
    }
    {
        SCOPED_TRACE("during the erase phase: before the next sector");
        frames.clear();
        const JobResult result = Download(image, [](const Frame& f, int n) {
            if (f.command() == 'P') {
                g_bStopJob = 1;
            }
            return AcceptAll(f, n);
        });
        EXPECT_EQ(result.log, Lines{"Erasing sector 0!"});
        EXPECT_EQ(result.aborted, 1u);
        EXPECT_EQ(result.succeeded, 0);
        EXPECT_EQ(Commands(), std::vector<char>{'P'});
    }
    {
        SCOPED_TRACE("during programming: before the next block, no finalize");
        frames.clear();
        int blocks = 0;
        const JobResult result = Download(image, [&](const Frame& f, int n) {
            if (f.command() == 'V' && ++blocks == 3) {
                g_bStopJob = 1;
            }
            return AcceptAll(f, n);
        });
        EXPECT_EQ(result.aborted, 1u);
        EXPECT_EQ(Commands(), (std::vector<char>{'P', 'P', 'V', 'V', 'V'}));
    }
    {
        SCOPED_TRACE("a silent block: before it is sent again");
        frames.clear();
        const JobResult result = Download(image, [&](const Frame& f, int n) {
            if (f.command() == 'V') {
                g_bStopJob = 1;
                return std::vector<std::string>{};
            }
            return AcceptAll(f, n);
        });
        EXPECT_EQ(result.aborted, 1u);
        EXPECT_EQ(Commands(), (std::vector<char>{'P', 'P', 'V'}));
    }
    {
        SCOPED_TRACE("a target that answers \"not finished\" forever");
        frames.clear();
        const JobResult result = Download(image, [&](const Frame& f, int n) {
            if (f.command() == 'V') {
                g_bStopJob = 1;
                return std::vector<std::string>(20, "D......");
            }
            return AcceptAll(f, n);
        });
        EXPECT_EQ(result.aborted, 1u);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_EQ(Commands(), (std::vector<char>{'P', 'P', 'V'}));
    }
}

}  // namespace
