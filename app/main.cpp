#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/download_app.h"
#include "app/main_window.h"
#include "app/production_window.h"
#include "app/qt_settings_store.h"
#include "platform/standard_streams.h"
#include "window/window_command_line.h"
#include "window/window_settings.h"

using namespace quillon;

namespace {

// A path or a file URL as the absolute path of the file, in the platform's separators.
QString ImageFileArgument(const QString& argument) {
    const QString path =
        argument.startsWith(QStringLiteral("file:")) ? QUrl(argument).toLocalFile() : argument;
    return path.isEmpty() ? QString()
                          : QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// Whether the platform Qt is going to use has a display to open windows on: a named X or
// Wayland display, or a platform that needs none (offscreen). Qt itself would abort.
bool DisplayNamed() {
    const auto named = [](const char* variable) {
        const char* value = std::getenv(variable);
        return value != nullptr && value[0] != '\0';
    };
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform == nullptr || platform[0] == '\0') {
        return named("DISPLAY") || named("WAYLAND_DISPLAY");
    }
    if (std::strncmp(platform, "xcb", 3) == 0) {
        return named("DISPLAY");
    }
    if (std::strncmp(platform, "wayland", 7) == 0) {
        return named("WAYLAND_DISPLAY");
    }
    return true;
}

// While the application object is made: a display that is named but cannot be reached ends
// in Qt's fatal message, which names no way out; the program says so itself instead.
QtMessageHandler g_nextHandler = nullptr;

void NoDisplayHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        std::fputs(WindowNoDisplayText().c_str(), stderr);
        std::_Exit(2);
    }
    if (g_nextHandler != nullptr) {
        g_nextHandler(type, context, text);
    }
}

// The rates the Options dialog added to the baud rate list, as the settings keep them.
std::vector<BaudRate> StoredAddedBaudRates() {
    QtSettingsStore store;
    return LoadWindowSettings(store).addedBaudRates;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Before anything opens a file or a serial port, so none of them can become stdin, stdout
    // or stderr of a program started with one of those closed. Which were closed matters not
    // to the window: its log is in the window, never on stdout.
    static_cast<void>(EnsureStandardStreams());
    // Before the application object, which needs a display: --help and --version answer
    // without one.
    const Result<WindowCommandLine> commandLine =
        ParseWindowCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (!commandLine) {
        std::fputs(WindowUsageErrorText(commandLine.error().text).c_str(), stderr);
        return WindowExitStatus(commandLine.error());
    }
    if (commandLine->action != WindowCommandLine::Action::kOpen) {
        const std::string text = commandLine->action == WindowCommandLine::Action::kHelp
                                     ? WindowUsageText()
                                     : WindowVersionLine();
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    }
    // A rate of the command line is one of the list: an offered one, or one the Options dialog
    // added (the settings are read without a display).
    if (const Status listed = CheckListedBaudRate(commandLine->selection, StoredAddedBaudRates());
        !listed) {
        std::fputs(WindowUsageErrorText(listed.error().text).c_str(), stderr);
        return WindowExitStatus(listed.error());
    }
    if (!DisplayNamed()) {
        std::fputs(WindowNoDisplayText().c_str(), stderr);
        return 2;
    }
    g_nextHandler = qInstallMessageHandler(NoDisplayHandler);
    // Qt sees the program's name alone: the command line is read above, and a file named after
    // "--" (-platform, -reverse) is no option of Qt's.
    int qtArgumentCount = argc > 0 ? 1 : 0;
    QApplication application(qtArgumentCount, argv);
    qInstallMessageHandler(g_nextHandler);
    QApplication::setOrganizationName(QtDownloadApp::kCompanyKey);
    QApplication::setApplicationName(QtDownloadApp::kProfileName);
    QApplication::setWindowIcon(QtDownloadApp::LoadAppIcon());

    QtDownloadApp app;
    // A target of the command line is one of the list, checked before the window opens.
    StartSelection selection = commandLine->selection;
    if (const Status listed = TakeListedTarget(
            selection, FindTargetFolders(QCoreApplication::applicationDirPath().toStdString()));
        !listed) {
        std::fputs(WindowUsageErrorText(listed.error().text).c_str(), stderr);
        return WindowExitStatus(listed.error());
    }
    app.SetStart(std::move(selection));
    // A file named on the command line (the desktop's "open with") goes into the image field.
    const QString imageFile =
        ImageFileArgument(QString::fromLocal8Bit(commandLine->imageFile.c_str()));
    if (commandLine->production) {
        QtProductionWindow::RunModal(nullptr, imageFile.toStdString());
        return 0;
    }
    app.RunMainWindow([&imageFile](QtDownloadApp& owner) {
        auto window = std::make_unique<QtMainWindow>(owner);
        if (!imageFile.isEmpty()) {
            window->SetImageFile(imageFile);
        }
        return window;
    });
    return 0;
}
