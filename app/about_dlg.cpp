#include "app/about_dlg.h"

#include <QCoreApplication>

#include "app/download_app.h"
#include "app/help_key_filter.h"
#include "app/version_info.h"
#include "ui_about_dlg.h"

namespace quillon {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::CAboutDlg>()) {
    m_ui->setupUi(this);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    m_ui->iconLabel->setPixmap(CDownloadApp::LoadAppIcon().pixmap(m_ui->iconLabel->size()));
    CHelpKeyFilter::Install(this);

    const QString program = QCoreApplication::applicationFilePath();
    CVersionInfo version;
    if (!program.isEmpty() && version.Load(program)) {
        m_ui->versionLabel->setText(
            QStringLiteral("Quillon Version %1").arg(version.GetProductVersion()));
        m_ui->copyrightLabel->setText(version.GetLegalCopyright());
        m_ui->trademarksLabel->setText(version.GetLegalTrademarks());
        version.Release();
    }
    m_ui->IDOK->setFocus();
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace quillon
