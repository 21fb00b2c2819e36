#include <QApplication>
#include <memory>

#include "app/download_app.h"
#include "app/download_dlg.h"
#include "app/gui_message_box.h"
#include "platform/standard_streams.h"

int main(int argc, char* argv[]) {
    // Before anything opens a file or a serial port, so none of them can become stdin, stdout
    // or stderr of a program started with one of those closed.
    EnsureStandardStreams();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(CDownloadApp::kCompanyKey);
    QApplication::setApplicationName(CDownloadApp::kProfileName);
    QApplication::setWindowIcon(CDownloadApp::LoadAppIcon());

    CDownloadApp app;
    InstallGuiMessageBoxHandler();
    app.InitInstance([](CDownloadApp& owner) { return std::make_unique<CDownloadDlg>(owner); });
    return 0;
}
