#include "app/setup_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/about_dlg.h"
#include "app/download_app.h"
#include "app/help_key_filter.h"
#include "app/image_file_edit.h"
#include "app/target_list.h"

CSetupDlg::CSetupDlg(CDownloadApp& app, QWidget* parent)
    : QDialog(parent),
      m_app(app),
      m_cmbTarget(new QComboBox(this)),
      m_edtImageFile(new CImageFileEdit(this)),
      m_chkEraseAll(new QCheckBox(QStringLiteral("Erase all sectors"), this)) {
    setWindowTitle(QStringLiteral("Quillon"));
    setWindowIcon(CDownloadApp::LoadAppIcon());

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Target:"), m_cmbTarget);
    fields->addRow(QStringLiteral("Image File:"), m_edtImageFile);
    fields->addRow(m_chkEraseAll);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* about = buttons->addButton(QStringLiteral("About..."), QDialogButtonBox::HelpRole);
    QPushButton* close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::AcceptRole);
    close->setDefault(true);
    connect(about, &QPushButton::clicked, this, [this] { CAboutDlg(this).exec(); });
    connect(close, &QPushButton::clicked, this, &CSetupDlg::OnCloseButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(buttons);
    setMinimumWidth(420);

    m_edtImageFile->SetDialogTitle(QStringLiteral("Datei wählen"));
    m_edtImageFile->SetDefaultExtension(QStringLiteral(".HEX"));
    m_edtImageFile->SetFilter(QStringLiteral("Hex-Dateien (*.hex; *.h86)") +
                              QStringLiteral("|*.hex;*.h86|"));
    m_chkEraseAll->setChecked(m_app.m_bEraseAll != 0);
    CHelpKeyFilter::Install(this);

    FillTargetList(*m_cmbTarget, DefaultTargetsFolder(), m_app.m_strTarget);
}

void CSetupDlg::OnCloseButton() {
    GetSelectedTarget(*m_cmbTarget, m_app.m_strTarget);
    m_app.m_bEraseAll = m_chkEraseAll->isChecked() ? 1 : 0;
    accept();
}
