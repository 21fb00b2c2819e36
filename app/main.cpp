#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>
#include <memory>

#include "app/download_app.h"
#include "app/download_dlg.h"
#include "platform/standard_streams.h"

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
    // or stderr of a program started with one of those closed.
    EnsureStandardStreams();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(CDownloadApp::kCompanyKey);
    QApplication::setApplicationName(CDownloadApp::kProfileName);
    QApplication::setWindowIcon(CDownloadApp::LoadAppIcon());

    CDownloadApp app;
    // A file named on the command line (the desktop's "open with") goes into the image field.
    const QStringList arguments = QApplication::arguments();
    const QString imageFile = arguments.size() > 1 ? ImageFileArgument(arguments.at(1)) : QString();
    app.InitInstance([&imageFile](CDownloadApp& owner) {
        auto window = std::make_unique<CDownloadDlg>(owner);
        if (!imageFile.isEmpty()) {
            window->SetImageFile(imageFile);
        }
        return window;
    });
    return 0;
}
