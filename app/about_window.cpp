#include "app/about_window.h"

#include <QCoreApplication>

#include "app/download_app.h"
#include "app/help_key_filter.h"
#include "app/version_info.h"
#include "ui_about_window.h"

namespace quillon {

QtAboutWindow::QtAboutWindow(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AboutWindowTemplate>()) {
    m_ui->setupUi(this);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    m_ui->iconLabel->setPixmap(QtDownloadApp::LoadAppIcon().pixmap(m_ui->iconLabel->size()));
    HelpKeyFilter::Install(this);

    const QString program = QCoreApplication::applicationFilePath();
    VersionInfo version;
    // Without a resource the template's texts stay.
    if (!program.isEmpty() && version.Load(program)) {
        m_ui->versionLabel->setText(
            QStringLiteral("Quillon Version %1").arg(version.GetProductVersion()));
        m_ui->copyrightLabel->setText(version.GetLegalCopyright());
        m_ui->trademarksLabel->setText(version.GetLegalTrademarks());
        version.Release();
    }
    m_ui->IDOK->setFocus();
}

QtAboutWindow::~QtAboutWindow() = default;

}  // namespace quillon
