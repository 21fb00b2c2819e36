#include <QApplication>
#include <memory>

#include "app/download_app.h"
#include "app/download_dlg.h"
#include "app/gui_message_box.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(CDownloadApp::kCompanyKey);
    QApplication::setApplicationName(CDownloadApp::kProfileName);
    QApplication::setWindowIcon(CDownloadApp::LoadAppIcon());

    CDownloadApp app;
    InstallGuiMessageBoxHandler();
    app.InitInstance([](CDownloadApp& owner) { return std::make_unique<CDownloadDlg>(owner); });
    return 0;
}
