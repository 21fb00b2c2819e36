// The about box and the version information it reads.
#include <gtest/gtest.h>

#include <tuple>

#include <QCoreApplication>
#include <QLabel>

#include "app/about_window.h"
#include "app/version_info.h"
#include "tests/support/process.h"
#include "window/window_command_line.h"

using namespace quillon;

namespace {

// Gives the program `resource` (nullptr: none) while it lives.
class ProgramResource {
public:
    explicit ProgramResource(const VersionResource* resource)
        : m_previous(SetProgramVersionResource(resource)) {}
    ~ProgramResource() { SetProgramVersionResource(m_previous); }

private:
    const VersionResource* m_previous;
};

QStringList AboutLines() {
    QtAboutWindow about;
    QStringList lines;
    for (const char* name : {"versionLabel", "copyrightLabel", "trademarksLabel"}) {
        lines << about.findChild<QLabel*>(name)->text();
    }
    return lines;
}

}  // namespace

TEST(VersionInfoTest, ReadsTheProgramsOwnResource) {
    VersionInfo version;
    EXPECT_EQ(version.GetProductVersion(), QString());  // nothing loaded yet
    ASSERT_TRUE(version.Load());
    EXPECT_EQ(version.Translation(), 0x040704b0u);
    EXPECT_EQ(version.GetProductVersion(), QStringLiteral("2.82.1"));
    EXPECT_EQ(version.GetString("ProductVersion", 0x040704b0), QStringLiteral("2.82.1"));
    EXPECT_EQ(version.GetString("ProductVersion", 0x040904b0), QString());
    EXPECT_EQ(version.GetString("Comments"), QString());
    EXPECT_FALSE(version.GetLegalCopyright().isEmpty());

    version.Release();
    EXPECT_EQ(version.Translation(), 0u);
    EXPECT_EQ(version.GetProductVersion(), QString());
    version.Release();
}

TEST(AboutWindowTest, ShowsTheThreeLinesOfTheResource) {
    const QStringList lines = AboutLines();
    VersionInfo version;
    ASSERT_TRUE(version.Load());
    EXPECT_EQ(lines, QStringList({"Quillon Version 2.82.1", version.GetLegalCopyright(),
                                  version.GetLegalTrademarks()}));
}

TEST(AboutWindowTest, MissingEntriesLeaveEmptyTexts) {
    VersionResource resource;
    resource.translations = {{0x0407, 0x04B0}};
    resource.strings["\\StringFileInfo\\040704b0\\LegalCopyright"] = "Copyright (C) Test";
    ProgramResource scope(&resource);
    EXPECT_EQ(AboutLines(), QStringList({"Quillon Version ", "Copyright (C) Test", ""}));
}

TEST(AboutWindowTest, WithoutResourceTheTemplateTextsStay) {
    ProgramResource scope(nullptr);
    EXPECT_EQ(AboutLines(),
              QStringList({"Quillon Version 1.0", "Copyright (C) Brenwick", "Brenwick"}));
}

// --help and --version answer on stdout without a display (one that would be touched fails
// the run); an unknown option is a usage error.
TEST(WindowProgramTest, AnswersHelpAndVersionWithoutADisplay) {
    ProcessOptions noDisplay;
    noDisplay.environment = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
    noDisplay.timeoutMs = 20000;
    const ProcessResult help = RunProcess({QUILLON_WINDOW_PROGRAM, "--help"}, noDisplay);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: quillon [OPTION] [IMAGE-FILE]\n", 0), 0u) << help.out;
    const ProcessResult version = RunProcess({QUILLON_WINDOW_PROGRAM, "--version"}, noDisplay);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "Quillon Version " QUILLON_VERSION "\n");
    const ProcessResult unknown = RunProcess({QUILLON_WINDOW_PROGRAM, "-x"}, noDisplay);
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err,
              "quillon: unknown option -x\nTry 'quillon --help' for more information.\n");
}

// Without a display the window program says so and points to quillon-cli; a target or rate
// that is not listed is a usage error before any window opens.
TEST(WindowProgramTest, NoDisplayAndSelectionsNotListedEndWithStatus2) {
    const std::string noDisplay = WindowNoDisplayText();
    const std::vector<std::string> unset = {"-u", "DISPLAY",        "-u", "WAYLAND_DISPLAY",
                                            "-u", "QT_QPA_PLATFORM"};
    const std::tuple<std::vector<std::string>, std::vector<std::string>, std::string> rows[] = {
        // env's arguments, the program's: the end of stderr
        {unset, {}, noDisplay},
        {{"QT_QPA_PLATFORM=xcb", "DISPLAY=:9876"}, {}, noDisplay},  // named but not there
        {unset,
         {"--baud=4800"},
         WindowUsageErrorText("baud rate '4800' is not one of 9600, 19200, 38400, 57600, 115200")},
        {{"QT_QPA_PLATFORM=offscreen"},
         {"--target", "No Such Board"},
         "Try 'quillon --help' for more information.\n"},
        // Files after "--" are no options of Qt's (-platform xcb would need a display).
        {{"-u", "DISPLAY", "QT_QPA_PLATFORM=offscreen"},
         {"--target", "No Such Board", "--", "-platform", "xcb"},
         "Try 'quillon --help' for more information.\n"},
    };
    for (const auto& [environment, options, errorEnd] : rows) {
        std::vector<std::string> command = {"/usr/bin/env"};
        command.insert(command.end(), environment.begin(), environment.end());
        command.push_back(QUILLON_WINDOW_PROGRAM);
        command.insert(command.end(), options.begin(), options.end());
        command.push_back("fw.hex");
        ProcessOptions run;
        run.timeoutMs = 20000;
        const ProcessResult result = RunProcess(command, run);
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_TRUE(
            result.err.size() >= errorEnd.size() &&
            result.err.compare(result.err.size() - errorEnd.size(), errorEnd.size(), errorEnd) == 0)
            << result.err;
        EXPECT_EQ(result.err.find("Reinstalling"), std::string::npos);
    }
}
