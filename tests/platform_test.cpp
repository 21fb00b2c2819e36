#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/debug_channel.h"
#include "platform/message_box.h"
#include "platform/text_format.h"
#include "tests/support/test_files.h"

namespace {

TEST(MessageBoxTest, HandlerSeesEveryTextInOrderFromAnyThread) {
    MessageRecorder recorder;
    ShowMessageBox("first");
    std::thread worker([] { ShowMessageBox("from the worker"); });
    worker.join();
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"first", "from the worker"}));
}

TEST(MessageBoxTest, DefaultPrintsToStderr) {
    const MessageBoxHandler previous = SetMessageBoxHandler({});
    ::testing::internal::CaptureStderr();
    ShowMessageBox("Datei beendet");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Datei beendet\n");
    SetMessageBoxHandler(previous);
}

TEST(DebugChannelTest, PassesTextOnUnchanged) {
    std::string seen;
    const DebugTextHandler previous =
        SetDebugTextHandler([&](const std::string& text) { seen += text; });
    OutputDebugText("WaitForResponse(): To few bytes");
    OutputDebugText(", 0A");
    EXPECT_EQ(seen, "WaitForResponse(): To few bytes, 0A");
    SetDebugTextHandler(previous);
}

TEST(TextFormatTest, FormatsShortAndLongTexts) {
    EXPECT_EQ(FormatText("Wrong answer (Set 0x%02X::Act 0x%02X)!", 0xC5u, 0x0Au),
              "Wrong answer (Set 0xC5::Act 0x0A)!");
    const std::string longName(1000, 'n');
    EXPECT_EQ(FormatText("%s initialized.", longName.c_str()), longName + " initialized.");
}

TEST(TextFormatTest, Cp1252BytesBecomeUtf8) {
    EXPECT_EQ(Cp1252ToUtf8('G'), "G");
    EXPECT_EQ(Cp1252ToUtf8(0xE4), "ä");
    EXPECT_EQ(Cp1252ToUtf8(0x80), "€");
    EXPECT_EQ(Cp1252ToUtf8(0x81), "\xEF\xBF\xBD");
    EXPECT_EQ(Cp1252ToUtf8(0x00), "");
}

}  // namespace
