#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/download_app.h"
#include "app/main_window.h"
#include "platform/standard_streams.h"
#include "window/window_command_line.h"

using namespace quillon;

namespace {

// A path or a file URL as the absolute path of the file, in the platform's separators.
QString ImageFileArgument(const QString& argument) {
    const QString path =
        argument.startsWith(QStringLiteral("file:")) ? QUrl(argument).toLocalFile() : argument;
    return path.isEmpty() ? QString()
                          : QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
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
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QtDownloadApp::kCompanyKey);
    QApplication::setApplicationName(QtDownloadApp::kProfileName);
    QApplication::setWindowIcon(QtDownloadApp::LoadAppIcon());

    QtDownloadApp app;
    // A file named on the command line (the desktop's "open with") goes into the image field.
    const QString imageFile =
        ImageFileArgument(QString::fromLocal8Bit(commandLine->imageFile.c_str()));
    app.RunMainWindow([&imageFile](QtDownloadApp& owner) {
        auto window = std::make_unique<QtMainWindow>(owner);
        if (!imageFile.isEmpty()) {
            window->SetImageFile(imageFile);
        }
        return window;
    });
    return 0;
}
