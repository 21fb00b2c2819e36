#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/download_app.h"
#include "app/download_dlg.h"
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
    const WindowCommandLine commandLine =
        ParseWindowCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    switch (commandLine.action) {
        case WindowCommandLine::Action::kHelp:
        case WindowCommandLine::Action::kVersion: {
            const std::string text = commandLine.action == WindowCommandLine::Action::kHelp
                                         ? WindowUsageText()
                                         : WindowVersionLine();
            std::fputs(text.c_str(), stdout);
            return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
        }
        case WindowCommandLine::Action::kUsageError:
            std::fputs(WindowUsageErrorText(commandLine.error).c_str(), stderr);
            return kWindowExitUsage;
        case WindowCommandLine::Action::kOpen:
            break;
    }
    QApplication application(argc, argv);
    QApplication::setOrganizationName(CDownloadApp::kCompanyKey);
    QApplication::setApplicationName(CDownloadApp::kProfileName);
    QApplication::setWindowIcon(CDownloadApp::LoadAppIcon());

    CDownloadApp app;
    // A file named on the command line (the desktop's "open with") goes into the image field.
    const QString imageFile =
        ImageFileArgument(QString::fromLocal8Bit(commandLine.imageFile.c_str()));
    app.InitInstance([&imageFile](CDownloadApp& owner) {
        auto window = std::make_unique<CDownloadDlg>(owner);
        if (!imageFile.isEmpty()) {
            window->SetImageFile(imageFile);
        }
        return window;
    });
    return 0;
}
